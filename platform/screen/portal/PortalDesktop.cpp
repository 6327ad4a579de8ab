#include "PortalDesktop.h"

#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <thread>

#include "CastStreams.h"

namespace ombrix {
namespace {

struct FreeReply {
  void operator()(void* p) const noexcept { std::free(p); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeReply>;

// The compositor draws a shadow around each window, outside the window's own rectangle (mutter:
// a few pixels up and to the sides, about 15 below): it is ours too and stays out of the view.
constexpr int kShadowMargin = 24;

// How long to wait for a stream's first frame before asking for it again.
constexpr std::chrono::seconds kRestartSilentStreamsAfter{2};
// The screen is still when no frame came for kStillFor; the start waits at most kSettleAtMost
// for that.
constexpr std::chrono::milliseconds kStillFor{300};
constexpr std::chrono::seconds kSettleAtMost{3};

}  // namespace

std::vector<TRect> TopLevelRectsOf(xcb_connection_t* connection, const std::vector<uint32_t>& ids) {
  std::vector<TRect> rects;
  std::vector<xcb_window_t> tops;
  for (uint32_t id : ids) {
    // Up to the root's child: the window manager's frame, or the window itself.
    xcb_window_t window = id;
    for (int depth = 0; depth < 16; ++depth) {
      Reply<xcb_query_tree_reply_t> tree(
          xcb_query_tree_reply(connection, xcb_query_tree(connection, window), nullptr));
      if (!tree) {
        window = XCB_WINDOW_NONE;
        break;
      }
      if (tree->parent == tree->root || tree->parent == XCB_WINDOW_NONE) break;
      window = tree->parent;
    }
    if (window != XCB_WINDOW_NONE) tops.push_back(window);
  }
  // Every request first, then the replies.
  std::vector<xcb_get_geometry_cookie_t> geometry;
  std::vector<xcb_get_window_attributes_cookie_t> attributes;
  for (xcb_window_t w : tops) {
    geometry.push_back(xcb_get_geometry(connection, w));
    attributes.push_back(xcb_get_window_attributes(connection, w));
  }
  for (std::size_t i = 0; i < tops.size(); ++i) {
    Reply<xcb_get_geometry_reply_t> g(xcb_get_geometry_reply(connection, geometry[i], nullptr));
    Reply<xcb_get_window_attributes_reply_t> a(
        xcb_get_window_attributes_reply(connection, attributes[i], nullptr));
    if (!g || !a || a->map_state != XCB_MAP_STATE_VIEWABLE) continue;
    const int border = 2 * g->border_width;
    rects.push_back({g->x, g->y, g->x + g->width + border, g->y + g->height + border});
  }
  return rects;
}

PortalDesktop::PortalDesktop(std::vector<CastMonitor> monitors, const CastScreenOptions& options)
    : CastScreen(std::move(monitors), options) {}

PortalDesktop::~PortalDesktop() {
  // The streams write into the board of the base: they stop first.
  streams_.reset();
  session_.reset();
  if (x11_) xcb_disconnect(x11_);
}

std::unique_ptr<PortalDesktop> PortalDesktop::Open(const PortalDesktopOptions& options,
                                                   TPortalFailure& failure) {
  std::unique_ptr<PortalSession> session = PortalSession::Start(options.portal, failure);
  if (!session) return nullptr;
  std::vector<CastMonitor> monitors;
  std::vector<uint32_t> nodes;
  for (const TPortalStream& s : session->Streams()) {
    if (s.logical.Width() <= 0 || s.logical.Height() <= 0) {
      failure = {ppFailed, "the portal did not say where the monitors lie"};
      return nullptr;
    }
    monitors.push_back({s.logical});
    nodes.push_back(s.node);
  }
  const int fd = session->OpenPipeWireRemote(failure);
  if (fd < 0) return nullptr;
  std::unique_ptr<PortalDesktop> desktop(new PortalDesktop(std::move(monitors), options.screen));
  desktop->session_ = std::move(session);
  std::string error;
  desktop->streams_ =
      CastStreams::Open(fd, nodes, desktop->Frames(), options.maxFramesPerSecond, error);
  if (!desktop->streams_) {
    failure = {ppFailed, error};
    return nullptr;
  }
  // A stream whose first frame the compositor made too early gets another one on a restart.
  const auto deadline = std::chrono::steady_clock::now() + options.firstFrameTimeout;
  while (!desktop->Frames().WaitForEveryStream(kRestartSilentStreamsAfter)) {
    const std::string lost = desktop->Failure();
    if (!lost.empty() || std::chrono::steady_clock::now() >= deadline) {
      failure = {ppFailed, lost.empty() ? "no picture came from the screen cast" : lost};
      return nullptr;
    }
    for (std::size_t i = 0; i < nodes.size(); ++i) {
      if (!desktop->Frames().Delivered(i)) desktop->streams_->Restart(i);
    }
  }
  // The consent dialog may still be closing: what it covers now would stay, as last seen,
  // under our window that opens next. A still screen sends nothing, so the screen has
  // settled once no frame comes for a moment.
  const auto settleBy = std::chrono::steady_clock::now() + kSettleAtMost;
  for (uint64_t seen = desktop->Frames().Arrived().images;
       std::chrono::steady_clock::now() < settleBy;) {
    std::this_thread::sleep_for(kStillFor);
    const uint64_t now = desktop->Frames().Arrived().images;
    if (now == seen) break;
    seen = now;
  }
  desktop->TakeInNewFrames();
  return desktop;
}

int PortalDesktop::FileDescriptor() const {
  return Frames().FailureDescriptor();
}

void PortalDesktop::SetOwnWindowsProvider(OwnWindowsProvider provider) {
  if (!x11_) {
    x11_ = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(x11_)) {
      xcb_disconnect(x11_);
      x11_ = nullptr;
      std::fputs("ombrix: cannot reach the X server: the view may show Ombrix's own windows\n",
                 stderr);
    }
  }
  if (!x11_ || !provider) {
    SetOwnRectsProvider(nullptr);
    return;
  }
  SetOwnRectsProvider([connection = x11_, provider = std::move(provider)] {
    std::vector<TRect> rects = TopLevelRectsOf(connection, provider());
    for (TRect& r : rects) {
      r = {r.Left - kShadowMargin, r.Top - kShadowMargin, r.Right + kShadowMargin,
           r.Bottom + kShadowMargin};
    }
    return rects;
  });
}

std::string PortalProblemLine(const TPortalFailure& failure) {
  std::string line = "ombrix: cannot read the screen of this Wayland session: ";
  switch (failure.problem) {
    case ppNoSessionBus:
      line += "there is no D-Bus session bus";
      break;
    case ppNoPortal:
      line += "the desktop portal (xdg-desktop-portal) does not answer";
      break;
    case ppNoScreenCast:
      line += "the desktop portal offers no screen cast";
      break;
    case ppNoCursorMetadata:
      line += "this desktop gives no cursor position with its screen cast";
      break;
    case ppRefused:
      line += "sharing the screen was not allowed";
      break;
    case ppNoAnswer:
      line += "the request to share the screen was not answered";
      break;
    case ppNone:
    case ppFailed:
      line += "the screen cast failed";
      break;
  }
  if (!failure.detail.empty()) line += " (" + failure.detail + ")";
  return line + "\n";
}

std::string PortalProblemAdvice(const TPortalFailure& failure) {
  switch (failure.problem) {
    case ppNoSessionBus:
    case ppNoPortal:
    case ppNoScreenCast:
      return "Ombrix reads the screen of a Wayland session through the desktop portal's screen "
             "cast, which is missing here.\n\nInstall xdg-desktop-portal and your desktop's "
             "portal backend (xdg-desktop-portal-gnome on GNOME, xdg-desktop-portal-kde on KDE), "
             "log in again, then start Ombrix again.";
    case ppNoCursorMetadata:
      return "This desktop's screen cast does not tell where the mouse cursor is, so Ombrix "
             "cannot follow it here.\n\nOmbrix works on GNOME and KDE Wayland sessions and on "
             "X11 sessions.";
    case ppRefused:
    case ppNoAnswer:
      return "Ombrix needs permission to see the screen, and it was not given.\n\nStart Ombrix "
             "again to be asked again, and allow sharing the screen.";
    case ppNone:
    case ppFailed:
      break;
  }
  return "The desktop's screen cast, which Ombrix reads the screen from, failed or ended.\n\n"
         "Start Ombrix again; if this happens again, check that xdg-desktop-portal and your "
         "desktop's portal backend are installed.";
}

}  // namespace ombrix
