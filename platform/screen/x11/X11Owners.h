#pragma once
// Owners for what the X11 screen borrows: libxcb's replies and errors, server-side resources
// and the shared-memory segment that pixels travel through. Private to the X11 backend; all of
// it is used on the GUI thread only.

#include <xcb/render.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <utility>

namespace ombrix::x11 {

struct FreeWithLibc {
  void operator()(void* p) const noexcept { std::free(p); }
};

// A reply or an error from libxcb, which allocates both with malloc. Null when the request
// failed: every use checks.
template <typename T>
using Reply = std::unique_ptr<T, FreeWithLibc>;

// A server-side resource (pixmap, picture) that is freed with the request `Release` when its
// owner goes. The id is released unchecked: if the server already dropped it, the error is
// harmless and our own connection drains it.
template <xcb_void_cookie_t (*Release)(xcb_connection_t*, uint32_t)>
class ServerId {
 public:
  ServerId() = default;
  ServerId(xcb_connection_t* connection, uint32_t id) : connection_(connection), id_(id) {}
  ServerId(const ServerId&) = delete;
  ServerId& operator=(const ServerId&) = delete;
  ServerId(ServerId&& other) noexcept
      : connection_(other.connection_), id_(std::exchange(other.id_, 0)) {}
  ServerId& operator=(ServerId&& other) noexcept {
    if (this != &other) {
      Reset();
      connection_ = other.connection_;
      id_ = std::exchange(other.id_, 0);
    }
    return *this;
  }
  ~ServerId() { Reset(); }

  uint32_t Id() const { return id_; }
  explicit operator bool() const { return id_ != 0; }
  void Reset() {
    if (id_ != 0) Release(connection_, id_);
    id_ = 0;
  }

 private:
  xcb_connection_t* connection_ = nullptr;
  uint32_t id_ = 0;
};

using Pixmap = ServerId<xcb_free_pixmap>;
using Picture = ServerId<xcb_render_free_picture>;

// A System V shared-memory segment that the server writes grabbed pixels into. It is created
// with mode 0600 (no other user can read the screen through it) and marked for removal as soon
// as the server has attached it, so it disappears with the last detach even when we crash.
class SharedSegment {
 public:
  // Null when the segment cannot be made or the server refuses it (a remote display): the
  // caller then reads pixels through plain replies. Blocks for one round trip.
  static std::unique_ptr<SharedSegment> Create(xcb_connection_t* connection, std::size_t bytes);
  SharedSegment(const SharedSegment&) = delete;
  SharedSegment& operator=(const SharedSegment&) = delete;
  ~SharedSegment();

  xcb_shm_seg_t Id() const { return id_; }
  const uint8_t* Data() const { return data_; }
  std::size_t Size() const { return size_; }

 private:
  SharedSegment(xcb_connection_t* connection, xcb_shm_seg_t id, const uint8_t* data,
                std::size_t size)
      : connection_(connection), id_(id), data_(data), size_(size) {}

  xcb_connection_t* connection_;
  xcb_shm_seg_t id_;
  const uint8_t* data_;
  std::size_t size_;
};

}  // namespace ombrix::x11
