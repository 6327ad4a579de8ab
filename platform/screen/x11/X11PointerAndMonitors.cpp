// The pointer and the monitors: the cursor position, the root's size, and the monitors from
// RandR, else Xinerama, else the root as one.

#include <xcb/randr.h>
#include <xcb/xinerama.h>

#include "X11DesktopImpl.h"

namespace ombrix {

using namespace x11;

TRect X11Desktop::Impl::RootRect() {
  // The root grows and shrinks with RandR: the setup's size may be stale. Asked once, then
  // again only after a notice of a change, as the frame cycle asks on every tick.
  if (followsRoot) {
    DrainEvents();
    if (rootKnown) return knownRoot;
  }
  const Reply<xcb_get_geometry_reply_t> g(
      xcb_get_geometry_reply(c, xcb_get_geometry(c, screen->root), nullptr));
  if (!g) return {0, 0, screen->width_in_pixels, screen->height_in_pixels};
  knownRoot = {0, 0, g->width, g->height};
  // A notice that came with the reply is older than it.
  DrainEvents();
  rootKnown = followsRoot;
  return knownRoot;
}

std::vector<TRect> X11Desktop::Impl::Monitors() {
  std::vector<TRect> monitors;
  xcb_randr_get_monitors_cookie_t randrCookie{};
  xcb_xinerama_is_active_cookie_t activeCookie{};
  xcb_xinerama_query_screens_cookie_t screensCookie{};
  if (hasRandrMonitors) randrCookie = xcb_randr_get_monitors(c, screen->root, 1);
  if (hasXinerama) {
    activeCookie = xcb_xinerama_is_active(c);
    screensCookie = xcb_xinerama_query_screens(c);
  }
  if (hasRandrMonitors) {
    const Reply<xcb_randr_get_monitors_reply_t> r(
        xcb_randr_get_monitors_reply(c, randrCookie, nullptr));
    if (r) {
      for (auto it = xcb_randr_get_monitors_monitors_iterator(r.get()); it.rem;
           xcb_randr_monitor_info_next(&it)) {
        const xcb_randr_monitor_info_t& m = *it.data;
        if (m.width > 0 && m.height > 0)
          monitors.push_back({m.x, m.y, m.x + m.width, m.y + m.height});
      }
    }
  }
  if (hasXinerama) {
    const Reply<xcb_xinerama_is_active_reply_t> active(
        xcb_xinerama_is_active_reply(c, activeCookie, nullptr));
    const Reply<xcb_xinerama_query_screens_reply_t> screens(
        xcb_xinerama_query_screens_reply(c, screensCookie, nullptr));
    if (monitors.empty() && active && active->state != 0 && screens) {
      for (auto it = xcb_xinerama_query_screens_screen_info_iterator(screens.get()); it.rem;
           xcb_xinerama_screen_info_next(&it)) {
        const xcb_xinerama_screen_info_t& s = *it.data;
        if (s.width > 0 && s.height > 0)
          monitors.push_back({s.x_org, s.y_org, s.x_org + s.width, s.y_org + s.height});
      }
    }
  }
  if (monitors.empty()) monitors.push_back(RootRect());
  return monitors;
}

bool X11Desktop::CursorPos(TPoint& position) {
  Impl& d = *impl_;
  if (d.c == nullptr) return false;
  const Reply<xcb_query_pointer_reply_t> r(
      xcb_query_pointer_reply(d.c, xcb_query_pointer(d.c, d.screen->root), nullptr));
  // On another screen of the display the position would be that screen's.
  if (!r || !r->same_screen) return false;
  position = {r->root_x, r->root_y};
  return true;
}

TRect X11Desktop::VirtualScreen() {
  if (impl_->c == nullptr) return {};
  return impl_->RootRect();
}

int X11Desktop::MonitorCount() {
  if (impl_->c == nullptr) return 1;
  return static_cast<int>(impl_->Monitors().size());
}

TRect X11Desktop::NearestMonitor(const TRect& window) {
  if (impl_->c == nullptr) return {};
  return NearestMonitorOf(impl_->Monitors(), window, {});
}

}  // namespace ombrix
