#include "X11Owners.h"

#include <sys/ipc.h>
#include <sys/shm.h>

namespace ombrix::x11 {

std::unique_ptr<SharedSegment> SharedSegment::Create(xcb_connection_t* connection,
                                                     std::size_t bytes) {
  const int shmId = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
  if (shmId < 0) return nullptr;
  // We only read what the server writes.
  void* address = shmat(shmId, nullptr, SHM_RDONLY);
  if (address == reinterpret_cast<void*>(-1)) {
    shmctl(shmId, IPC_RMID, nullptr);
    return nullptr;
  }
  const xcb_shm_seg_t id = xcb_generate_id(connection);
  const Reply<xcb_generic_error_t> error(xcb_request_check(
      connection, xcb_shm_attach_checked(connection, id, static_cast<uint32_t>(shmId), 0)));
  // From here on the segment lives exactly as long as its attachments.
  shmctl(shmId, IPC_RMID, nullptr);
  if (error || xcb_connection_has_error(connection)) {
    shmdt(address);
    return nullptr;
  }
  return std::unique_ptr<SharedSegment>(
      new SharedSegment(connection, id, static_cast<const uint8_t*>(address), bytes));
}

SharedSegment::~SharedSegment() {
  xcb_shm_detach(connection_, id_);
  shmdt(data_);
}

}  // namespace ombrix::x11
