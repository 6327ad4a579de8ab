// The pointer and the monitors: the cursor position, the root's size, and the monitors from
// RandR, else Xinerama, else the root as one.

#include <xcb/randr.h>
#include <xcb/xinerama.h>
#include <xcb/xinput.h>

#include "X11DesktopImpl.h"

namespace ombrix {

using namespace x11;

TRect X11Desktop::Impl::RootRect() {
  // The root grows and shrinks with RandR: the setup's size may be stale. Asked once, then
  // again only after a notice of a change, as the frame cycle asks on every tick.
  if (followsRoot) {
    DrainFreshEvents();
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

bool X11Desktop::Impl::AskPointer(TPoint& position) {
  // Whatever moved before this question is in its answer; a raw event read after it counts as
  // a move even when it came before the answer, which costs at most one more question.
  motionSeen = false;
  const bool confirms = rawSelected;
  const Reply<xcb_query_pointer_reply_t> r(
      xcb_query_pointer_reply(c, xcb_query_pointer(c, screen->root), nullptr));
  // On another screen of the display the position would be that screen's.
  if (!r || !r->same_screen) {
    pointerKnown = false;
    return false;
  }
  position = {r->root_x, r->root_y};
  pollsSinceAsk = 0;
  rawConfirmed = confirms;
  // Resting since the last answer: listen for the next move instead of asking.
  if (xinputOpcode != 0 && !rawSelected && pointerKnown && position == lastPointer)
    SelectRawMotion(true);
  lastPointer = position;
  pointerKnown = true;
  return true;
}

void X11Desktop::Impl::StartRawMotion() {
  if (!ownConnection || xwayland) return;
  xcb_prefetch_extension_data(c, &xcb_input_id);
  if (!Present(c, &xcb_input_id)) return;
  // Raw events came with version 2.0, raw touches with 2.2; the query also tells the server
  // which version we speak, without which it refuses the selection.
  const Reply<xcb_input_xi_query_version_reply_t> version(
      xcb_input_xi_query_version_reply(c, xcb_input_xi_query_version(c, 2, 2), nullptr));
  if (!version || version->major_version < 2) return;
  rawTouch = version->major_version > 2 || version->minor_version >= 2;
  xinputOpcode = xcb_get_extension_data(c, &xcb_input_id)->major_opcode;
}

void X11Desktop::Impl::SelectRawMotion(bool on) {
  struct {
    xcb_input_event_mask_t head;
    uint32_t mask;
  } select{};
  // Every device: before version 2.1 only the physical ones send raw events.
  select.head.deviceid = XCB_INPUT_DEVICE_ALL;
  select.head.mask_len = 1;
  if (on) {
    select.mask = XCB_INPUT_XI_EVENT_MASK_RAW_MOTION;
    if (rawTouch)
      select.mask |= XCB_INPUT_XI_EVENT_MASK_RAW_TOUCH_BEGIN |
                     XCB_INPUT_XI_EVENT_MASK_RAW_TOUCH_UPDATE |
                     XCB_INPUT_XI_EVENT_MASK_RAW_TOUCH_END;
  }
  xcb_input_xi_select_events(c, screen->root, 1, &select.head);
  // The next question sends a selection; an end of it must reach the server at once.
  if (!on) xcb_flush(c);
  rawSelected = on;
  rawConfirmed = false;
}

bool X11Desktop::CursorPos(TPoint& position) {
  Impl& d = *impl_;
  if (d.c == nullptr) return false;
  return d.AskPointer(position);
}

bool X11Desktop::PolledCursorPos(TPoint& position) {
  Impl& d = *impl_;
  if (d.c == nullptr) return false;
  if (d.xinputOpcode != 0) {
    d.DrainEvents();
    d.pollRead = std::chrono::steady_clock::now();
    if (d.rawConfirmed && !d.motionSeen && d.pointerKnown && d.pollsSinceAsk + 1 < kPollsPerAsk &&
        !xcb_connection_has_error(d.c)) {
      ++d.pollsSinceAsk;
      position = d.lastPointer;
      return true;
    }
  }
  return d.AskPointer(position);
}

int X11Desktop::RestTicks() {
  Impl& d = *impl_;
  if (d.c == nullptr || !d.ownConnection || d.xwayland || !d.tracksChanges || !d.followsRoot)
    return 0;
  // What the tick's replies brought along is handled now, and what it asked is sent: from here
  // on, every news makes the socket readable.
  d.DrainEvents();
  xcb_flush(d.c);
  if (!d.rawConfirmed || d.motionSeen || !d.pointerKnown || d.sceneChanged || d.damageNoticed ||
      !d.rootKnown || !d.lastCopyValid || xcb_connection_has_error(d.c) != 0)
    return 0;
  // A warp sends no raw event: the first poll after the rest asks.
  d.pollsSinceAsk = kPollsPerAsk;
  return kPollsPerAsk;
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
