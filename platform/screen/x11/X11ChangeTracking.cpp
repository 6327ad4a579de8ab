// Change tracking with Damage: what changed on the screen and in the windows the last
// composed copy took, so that a still zone can be told from a changed one; and the notices of
// the root's own size.

#include <xcb/xinput.h>

#include <iterator>
#include <utility>

#include "X11DesktopImpl.h"

namespace ombrix {

using namespace x11;

namespace {

// Whether `covers` together hold every pixel of `area`: what one of them leaves over, split into
// up to four bands, must be held by the others.
bool Covered(const TRect& area, const std::vector<TRect>& covers, std::size_t first = 0) {
  if (area.Left >= area.Right || area.Top >= area.Bottom) return true;
  for (std::size_t i = first; i < covers.size(); ++i) {
    TRect common;
    if (!Intersect(area, covers[i], common)) continue;
    const TRect bands[] = {{area.Left, area.Top, area.Right, common.Top},
                           {area.Left, common.Bottom, area.Right, area.Bottom},
                           {area.Left, common.Top, common.Left, common.Bottom},
                           {common.Right, common.Top, area.Right, common.Bottom}};
    return std::all_of(std::begin(bands), std::end(bands),
                       [&](const TRect& band) { return Covered(band, covers, i + 1); });
  }
  return false;
}

}  // namespace

void X11Desktop::Impl::StartTracking() {
  // Events would pile up unread on a connection that is not ours to read.
  if (!ownConnection || xwayland) return;
  xcb_prefetch_extension_data(c, &xcb_damage_id);
  if (!Present(c, &xcb_damage_id)) return;
  const Reply<xcb_damage_query_version_reply_t> damage(
      xcb_damage_query_version_reply(c, xcb_damage_query_version(c, 1, 1), nullptr));
  // The damage is read through an XFixes region.
  const Reply<xcb_xfixes_query_version_reply_t> xfixes(
      xcb_xfixes_query_version_reply(c, xcb_xfixes_query_version(c, 5, 0), nullptr));
  if (!damage || !xfixes || xfixes->major_version < 2) return;
  damageNotifyEvent = static_cast<uint8_t>(xcb_get_extension_data(c, &xcb_damage_id)->first_event +
                                           XCB_DAMAGE_NOTIFY);
  damageNoticed = true;
  rootDamage = xcb_generate_id(c);
  xcb_damage_create(c, rootDamage, screen->root, XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
  damageRegion = xcb_generate_id(c);
  xcb_xfixes_create_region(c, damageRegion, 0, nullptr);
  tracksChanges = true;
}

void X11Desktop::Impl::SelectRootEvents() {
  if (!ownConnection) return;
  // Only notifications: other clients' selections on the root are untouched.
  uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
  if (tracksChanges) mask |= XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE;
  xcb_change_window_attributes(c, screen->root, XCB_CW_EVENT_MASK, &mask);
  followsRoot = true;
}

void X11Desktop::Impl::ForgetWatched(bool all, const std::unordered_set<xcb_window_t>& keep) {
  for (auto it = watched.begin(); it != watched.end();) {
    if (all || keep.count(it->first) == 0) {
      // The damage went with its window if that was destroyed: the error is dropped.
      Quietly(xcb_damage_destroy_checked(c, it->second.damage));
      it = watched.erase(it);
    } else {
      ++it;
    }
  }
}

bool X11Desktop::Impl::ChangedSinceLastCopy(const TRect& zone) {
  if (!tracksChanges || !lastCopyValid || !(zone == lastZone)) return true;
  DrainFreshEvents();
  if (sceneChanged || xcb_connection_has_error(c)) return true;
  // Every damage object reports when it stops being empty; the notice arrives before the reply
  // of any later request, so a missing notice is as good as an empty region a round trip away.
  if (!damageNoticed) return false;
  damageNoticed = false;
  // Take each damage in turn through the one region; the server answers in order.
  std::vector<std::pair<xcb_xfixes_fetch_region_cookie_t, TPoint>> cookies;
  const auto take = [&](xcb_damage_damage_t damage, TPoint origin) {
    xcb_damage_subtract(c, damage, XCB_NONE, damageRegion);
    cookies.emplace_back(xcb_xfixes_fetch_region(c, damageRegion), origin);
  };
  take(rootDamage, {0, 0});
  for (const auto& [window, w] : watched) take(w.damage, w.origin);
  bool changed = false;
  for (std::size_t i = 0; i < cookies.size(); ++i) {
    const Reply<xcb_xfixes_fetch_region_reply_t> r(
        xcb_xfixes_fetch_region_reply(c, cookies[i].first, nullptr));
    if (!r) {
      changed = true;
      continue;
    }
    const xcb_rectangle_t* rects = xcb_xfixes_fetch_region_rectangles(r.get());
    const int count = xcb_xfixes_fetch_region_rectangles_length(r.get());
    for (int k = 0; k < count && !changed; ++k) {
      const TPoint at = cookies[i].second;
      const TRect damaged{at.X + rects[k].x, at.Y + rects[k].y, at.X + rects[k].x + rects[k].width,
                          at.Y + rects[k].y + rects[k].height};
      TRect part;
      if (!Intersect(damaged, zone, part)) continue;
      // On screen our own windows repaint all the time; beneath them the windows' own damage
      // tells.
      changed = i > 0 || !Covered(part, ownRects);
    }
  }
  DrainEvents();
  return changed || sceneChanged;
}

void X11Desktop::Impl::DrainFreshEvents() {
  constexpr auto kFresh = std::chrono::milliseconds(1);
  DrainEvents(std::chrono::steady_clock::now() - pollRead >= kFresh);
}

void X11Desktop::Impl::DrainEvents(bool read) {
  // Errors of requests that nobody checked are dropped; damage notices only say what the
  // damage objects hold; a change of the windows' layout or of the wallpaper changes the scene.
  if (!ownConnection) return;
  while (const Reply<xcb_generic_event_t> event{read ? xcb_poll_for_event(c)
                                                     : xcb_poll_for_queued_event(c)}) {
    switch (event->response_type & 0x7F) {
      case XCB_CONFIGURE_NOTIFY:
        // The root's own configure: RandR resized the screen.
        if (reinterpret_cast<const xcb_configure_notify_event_t*>(event.get())->window ==
            screen->root) {
          // A smaller screen moves the pointer onto it.
          rootKnown = false;
          motionSeen = true;
        }
        sceneChanged = true;
        break;
      case XCB_MAP_NOTIFY:
      case XCB_UNMAP_NOTIFY:
      case XCB_DESTROY_NOTIFY:
      case XCB_REPARENT_NOTIFY:
      case XCB_CIRCULATE_NOTIFY:
      case XCB_GRAVITY_NOTIFY:
        sceneChanged = true;
        break;
      case XCB_PROPERTY_NOTIFY: {
        const auto* property = reinterpret_cast<const xcb_property_notify_event_t*>(event.get());
        if (property->atom == wallpaperAtom) sceneChanged = true;
        break;
      }
      case XCB_GE_GENERIC:
        // Only raw events are asked for: the pointer moved. Until it rests again the server
        // is asked on every poll, and the events would only flood the connection.
        if (xinputOpcode != 0 &&
            reinterpret_cast<const xcb_ge_generic_event_t*>(event.get())->extension ==
                xinputOpcode) {
          motionSeen = true;
          if (rawSelected) SelectRawMotion(false);
        }
        break;
      default:
        if ((event->response_type & 0x7F) == damageNotifyEvent) damageNoticed = true;
        if (screenChangeEvent != 0 && (event->response_type & 0x7F) == screenChangeEvent) {
          // A smaller screen moves the pointer onto it.
          rootKnown = false;
          sceneChanged = motionSeen = true;
        }
        break;
    }
  }
}

bool X11Desktop::TracksChanges() const {
  return impl_->c != nullptr && impl_->tracksChanges;
}

bool X11Desktop::ZoneMayHaveChanged(const TRect& zone) {
  if (impl_->c == nullptr) return true;
  return impl_->ChangedSinceLastCopy(zone);
}

}  // namespace ombrix
