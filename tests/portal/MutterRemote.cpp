#include "MutterRemote.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "CastStreams.h"

namespace ombrix::test {
namespace {

constexpr const char* kMutterScreenCast = "org.gnome.Mutter.ScreenCast";
constexpr const char* kMutterRemoteDesktop = "org.gnome.Mutter.RemoteDesktop";
constexpr int kLeftButton = 0x110;  // BTN_LEFT

// A connection to the PipeWire daemon of the session, for mutter's own streams.
int ConnectPipeWire() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (!runtime) return -1;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof(address.sun_path), "%s/pipewire-0", runtime);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

struct MutterRemote::Impl {
  sd_bus* bus = nullptr;
  std::string remoteSession;
  std::string stream;
  uint32_t node = 0;
  bool nodeArrived = false;
  CastFrames frames{1};
  std::unique_ptr<CastStreams> reader;
  CastFrame newest;
  bool haveFrame = false;

  ~Impl() {
    reader.reset();
    if (bus && !remoteSession.empty()) {
      sd_bus_call_method(bus, kMutterRemoteDesktop, remoteSession.c_str(),
                         "org.gnome.Mutter.RemoteDesktop.Session", "Stop", nullptr, nullptr, "");
    }
    if (bus) sd_bus_flush_close_unref(bus);
  }

  static int OnStreamAdded(sd_bus_message* m, void* userdata, sd_bus_error*) {
    auto* self = static_cast<Impl*>(userdata);
    if (sd_bus_message_read_basic(m, 'u', &self->node) >= 0) self->nodeArrived = true;
    return 0;
  }

  bool Call(const char* member, const char* types, double x, double y) {
    return sd_bus_call_method(bus, kMutterRemoteDesktop, remoteSession.c_str(),
                              "org.gnome.Mutter.RemoteDesktop.Session", member, nullptr, nullptr,
                              types, stream.c_str(), x, y) >= 0;
  }
};

MutterRemote::MutterRemote(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
MutterRemote::~MutterRemote() = default;

std::unique_ptr<MutterRemote> MutterRemote::Open(std::string& error, const std::string& connector) {
  auto impl = std::make_unique<Impl>();
  if (sd_bus_open_user(&impl->bus) < 0) {
    error = "no session bus";
    return nullptr;
  }
  sd_bus_error e = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  const char* path = nullptr;
  const auto fail = [&](const char* what) {
    error = std::string(what) + ": " + (e.message ? e.message : "failed");
    sd_bus_error_free(&e);
    sd_bus_message_unref(reply);
    return nullptr;
  };
  if (sd_bus_call_method(impl->bus, kMutterRemoteDesktop, "/org/gnome/Mutter/RemoteDesktop",
                         kMutterRemoteDesktop, "CreateSession", &e, &reply, "") < 0 ||
      sd_bus_message_read_basic(reply, 'o', &path) < 0)
    return fail("RemoteDesktop.CreateSession");
  impl->remoteSession = path;
  reply = sd_bus_message_unref(reply);
  char* sessionId = nullptr;
  if (sd_bus_get_property_string(impl->bus, kMutterRemoteDesktop, impl->remoteSession.c_str(),
                                 "org.gnome.Mutter.RemoteDesktop.Session", "SessionId", &e,
                                 &sessionId) < 0)
    return fail("RemoteDesktop.SessionId");
  const std::string id = sessionId;
  std::free(sessionId);
  if (sd_bus_call_method(impl->bus, kMutterScreenCast, "/org/gnome/Mutter/ScreenCast",
                         kMutterScreenCast, "CreateSession", &e, &reply, "a{sv}", 1,
                         "remote-desktop-session-id", "s", id.c_str()) < 0 ||
      sd_bus_message_read_basic(reply, 'o', &path) < 0)
    return fail("ScreenCast.CreateSession");
  const std::string castSession = path;
  reply = sd_bus_message_unref(reply);
  // The monitor without the cursor in the picture.
  if (sd_bus_call_method(impl->bus, kMutterScreenCast, castSession.c_str(),
                         "org.gnome.Mutter.ScreenCast.Session", "RecordMonitor", &e, &reply,
                         "sa{sv}", connector.c_str(), 1, "cursor-mode", "u", 0u) < 0 ||
      sd_bus_message_read_basic(reply, 'o', &path) < 0)
    return fail("ScreenCast.RecordMonitor");
  impl->stream = path;
  reply = sd_bus_message_unref(reply);
  sd_bus_slot* slot = nullptr;
  sd_bus_match_signal(impl->bus, &slot, nullptr, impl->stream.c_str(),
                      "org.gnome.Mutter.ScreenCast.Stream", "PipeWireStreamAdded",
                      &Impl::OnStreamAdded, impl.get());
  if (sd_bus_call_method(impl->bus, kMutterRemoteDesktop, impl->remoteSession.c_str(),
                         "org.gnome.Mutter.RemoteDesktop.Session", "Start", &e, nullptr, "") < 0) {
    sd_bus_slot_unref(slot);
    return fail("RemoteDesktop.Start");
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!impl->nodeArrived && std::chrono::steady_clock::now() < deadline) {
    if (sd_bus_process(impl->bus, nullptr) > 0) continue;
    sd_bus_wait(impl->bus, 100000);
  }
  sd_bus_slot_unref(slot);
  if (!impl->nodeArrived) {
    error = "mutter's stream did not start";
    return nullptr;
  }
  const int fd = ConnectPipeWire();
  if (fd < 0) {
    error = "cannot reach PipeWire";
    return nullptr;
  }
  impl->reader = CastStreams::Open(fd, {impl->node}, impl->frames, 60, error);
  if (!impl->reader) return nullptr;
  return std::unique_ptr<MutterRemote>(new MutterRemote(std::move(impl)));
}

uint64_t MutterRemote::ImagesArrived() const {
  return impl_->frames.Arrived().images;
}

bool MutterRemote::MovePointer(double x, double y) {
  return impl_->Call("NotifyPointerMotionAbsolute", "sdd", x, y);
}

bool MutterRemote::Click() {
  for (const int pressed : {1, 0}) {
    sd_bus_error e = SD_BUS_ERROR_NULL;
    const int r =
        sd_bus_call_method(impl_->bus, kMutterRemoteDesktop, impl_->remoteSession.c_str(),
                           "org.gnome.Mutter.RemoteDesktop.Session", "NotifyPointerButton", &e,
                           nullptr, "ib", kLeftButton, pressed);
    if (r < 0) std::fprintf(stderr, "NotifyPointerButton: %s\n", e.message ? e.message : "?");
    sd_bus_error_free(&e);
    if (r < 0) return false;
    // A press and its release at the same instant may be taken for no click at all.
    if (pressed) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

bool MutterRemote::Key(uint32_t keysym) {
  for (const int pressed : {1, 0}) {
    if (sd_bus_call_method(impl_->bus, kMutterRemoteDesktop, impl_->remoteSession.c_str(),
                           "org.gnome.Mutter.RemoteDesktop.Session", "NotifyKeyboardKeysym",
                           nullptr, nullptr, "ub", keysym, pressed) < 0)
      return false;
  }
  return true;
}

bool MutterRemote::NextFrame(CastFrame& frame, std::chrono::milliseconds timeout) {
  Impl& i = *impl_;
  if (i.frames.TakeImage(0, i.newest)) i.haveFrame = true;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!i.frames.TakeImage(0, i.newest)) {
    if (std::chrono::steady_clock::now() >= deadline || !i.frames.Failure().empty()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  i.haveFrame = true;
  frame = i.newest;
  return true;
}

bool MutterRemote::NewestFrame(CastFrame& frame, std::chrono::milliseconds timeout) {
  Impl& i = *impl_;
  if (i.frames.TakeImage(0, i.newest)) i.haveFrame = true;
  if (!i.haveFrame) return NextFrame(frame, timeout);
  frame = i.newest;
  return true;
}

bool SavePpm(const CastFrame& frame, const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  std::fprintf(f, "P6\n%d %d\n255\n", frame.width, frame.height);
  for (std::size_t i = 0; i + 3 < frame.pixels.size(); i += 4) {
    const unsigned char rgb[3] = {frame.pixels[i + 2], frame.pixels[i + 1], frame.pixels[i]};
    std::fwrite(rgb, 1, 3, f);
  }
  return std::fclose(f) == 0;
}

namespace {

uint32_t ColourAt(MutterRemote& remote, TPoint p) {
  CastFrame frame;
  remote.NextFrame(frame, std::chrono::milliseconds(100));
  if (!remote.NewestFrame(frame, std::chrono::seconds(1)) || p.X >= frame.width ||
      p.Y >= frame.height)
    return 0xFF000000u;
  const uint8_t* q = &frame.pixels[static_cast<std::size_t>(p.Y * frame.width + p.X) * 4];
  return uint32_t{q[2]} << 16 | uint32_t{q[1]} << 8 | q[0];
}

template <typename Condition>
bool WaitUpTo(std::chrono::seconds timeout, Condition condition) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

}  // namespace

bool AnswerConsentDialog(MutterRemote& remote, int monitors, uint32_t underneath,
                         std::string& error, const std::string& shot) {
  const auto press = [&remote](TPoint p) { return remote.MovePointer(p.X, p.Y) && remote.Click(); };
  const auto fail = [&](const char* what) {
    error = what;
    CastFrame frame;
    if (!shot.empty() && remote.NewestFrame(frame, std::chrono::seconds(1))) {
      SavePpm(frame, shot);
      error += " (see " + shot + ")";
    }
    return false;
  };
  if (!WaitUpTo(std::chrono::seconds(60),
                [&] { return ColourAt(remote, ConsentDialog::kBody) != underneath; }))
    return fail("the consent dialog did not show");
  // The first click into the dialog only gives it the focus.
  if (!press(ConsentDialog::kBody)) return fail("mutter took no click");
  if (monitors == 0) return press(ConsentDialog::kCancel) || fail("mutter took no click");
  const uint32_t disabled = ColourAt(remote, ConsentDialog::kShare);
  for (int i = 0; i < monitors; ++i) {
    if (!press({ConsentDialog::kFirstRow.X,
                ConsentDialog::kFirstRow.Y + i * ConsentDialog::kRowHeight}))
      return fail("mutter took no click");
  }
  if (!WaitUpTo(std::chrono::seconds(30),
                [&] { return ColourAt(remote, ConsentDialog::kShare) != disabled; }))
    return fail("choosing the monitors did not enable Share");
  return press(ConsentDialog::kShare) || fail("mutter took no click");
}

}  // namespace ombrix::test
