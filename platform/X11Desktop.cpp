#include "X11Desktop.h"

#include <xcb/composite.h>
#include <xcb/damage.h>
#include <xcb/randr.h>
#include <xcb/render.h>
#include <xcb/shape.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>
#include <xcb/xcb_renderutil.h>
#include <xcb/xfixes.h>
#include <xcb/xinerama.h>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "PlgBlt.h"
#include "X11Owners.h"

namespace ombrix {

namespace {

using x11::Picture;
using x11::Pixmap;
using x11::Reply;
using x11::SharedSegment;

// Grabs ask for the 24 colour planes only: the server then returns the fourth byte as 0, on a
// depth-32 root as well.
constexpr uint32_t kColourPlanes = 0x00FFFFFF;
// Shared memory grows in steps, so that resizing the window does not re-create it every time.
constexpr std::size_t kSegmentStep = std::size_t{1} << 20;
// A reparenting window manager nests a client a few levels deep; more means a broken tree.
constexpr int kMaxNesting = 16;
// X requests carry 16-bit coordinates and sizes.
constexpr int kMaxExtent = std::numeric_limits<int16_t>::max();

struct ConnectionCloser {
  void operator()(xcb_connection_t* connection) const noexcept { xcb_disconnect(connection); }
};

bool Present(xcb_connection_t* c, xcb_extension_t* extension) {
  const xcb_query_extension_reply_t* data = xcb_get_extension_data(c, extension);
  return data != nullptr && data->present != 0;
}

// Pixels must arrive as the capture bitmap holds them: 32 bits, blue in the low byte.
bool IsBgrx(const xcb_setup_t* setup, const xcb_screen_t* screen) {
  if (setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST) return false;
  if (screen->root_depth != 24 && screen->root_depth != 32) return false;
  bool bpp32 = false;
  for (auto it = xcb_setup_pixmap_formats_iterator(setup); it.rem; xcb_format_next(&it)) {
    if (it.data->depth == screen->root_depth) bpp32 = it.data->bits_per_pixel == 32;
  }
  if (!bpp32) return false;
  for (auto d = xcb_screen_allowed_depths_iterator(screen); d.rem; xcb_depth_next(&d)) {
    for (auto v = xcb_depth_visuals_iterator(d.data); v.rem; xcb_visualtype_next(&v)) {
      if (v.data->visual_id != screen->root_visual) continue;
      return (v.data->_class == XCB_VISUAL_CLASS_TRUE_COLOR ||
              v.data->_class == XCB_VISUAL_CLASS_DIRECT_COLOR) &&
             v.data->red_mask == 0xFF0000 && v.data->green_mask == 0x00FF00 &&
             v.data->blue_mask == 0x0000FF;
    }
  }
  return false;
}

// A window's rectangle on its parent, border included: the origin of its composite pixmap.
TRect OuterRect(const xcb_get_geometry_reply_t& g) {
  return {g.x, g.y, g.x + g.width + 2 * g.border_width, g.y + g.height + 2 * g.border_width};
}

bool Intersect(const TRect& a, const TRect& b, TRect& out) {
  out = {std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right),
         std::min(a.Bottom, b.Bottom)};
  return out.Left < out.Right && out.Top < out.Bottom;
}

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

struct X11Desktop::Impl {
  std::unique_ptr<xcb_connection_t, ConnectionCloser> ownConnection;
  xcb_connection_t* c = nullptr;
  int screenNumber = 0;
  xcb_screen_t* screen = nullptr;

  bool hasRandrMonitors = false;
  bool hasXinerama = false;
  bool useShm = false;
  bool compose = false;
  bool clipShapes = false;
  bool redirected = false;
  bool xwayland = false;

  Reply<xcb_render_query_pict_formats_reply_t> formats;
  xcb_render_pictformat_t rootFormat = 0;
  std::unordered_map<xcb_visualid_t, xcb_render_pictformat_t> visualFormats;
  std::unordered_set<xcb_render_pictformat_t> alphaFormats;
  xcb_atom_t wallpaperAtom = XCB_ATOM_NONE;
  xcb_atom_t managerAtom = XCB_ATOM_NONE;

  Picture rootPicture;
  Pixmap zonePixmap;
  Picture zonePicture;
  int zoneWidth = 0;
  int zoneHeight = 0;
  std::unique_ptr<SharedSegment> segment;
  Reply<xcb_get_image_reply_t> image;
  // Ids of last frame's freed resources, reused so that the id range never runs out.
  std::vector<uint32_t> spareIds;

  OwnWindowsProvider ownWindows;

  // Change tracking: damage on the root (what the screen shows) and on every window that the
  // last composed copy took from its own pixmap (also where ours hid it on screen).
  bool tracksChanges = false;
  xcb_damage_damage_t rootDamage = 0;
  xcb_xfixes_region_t damageRegion = 0;
  struct WatchedWindow {
    xcb_damage_damage_t damage;
    TPoint origin;  // of its pixmap's inside, on the root
  };
  std::unordered_map<xcb_window_t, WatchedWindow> watched;
  // Our own windows' rectangles in the last copy, whose changes on screen do not count.
  std::vector<TRect> ownRects;
  // A window was mapped, moved, restacked, ... or the wallpaper changed since the last copy.
  bool sceneChanged = true;
  bool lastCopyValid = false;
  TRect lastZone;

  ~Impl() { Stop(); }

  bool Start(const X11Options& options);
  void Stop();
  void Quietly(xcb_void_cookie_t cookie) { xcb_discard_reply(c, cookie.sequence); }
  void DrainEvents();
  bool DetectXwayland(bool randr);
  void StartTracking();
  void ForgetWatched(bool all, const std::unordered_set<xcb_window_t>& keep = {});
  bool ChangedSinceLastCopy(const TRect& zone);
  TRect RootRect();
  std::vector<TRect> Monitors();
  xcb_render_pictformat_t FormatOf(xcb_visualid_t visual);
  bool EnsureZonePicture(int width, int height);
  std::vector<xcb_window_t> TopLevelsOf(const std::vector<uint32_t>& windows,
                                        std::vector<xcb_query_tree_cookie_t> cookies);
  const uint8_t* Read(xcb_drawable_t drawable, int x, int y, int width, int height);
  const uint8_t* ComposeZone(const TRect& zone);
};

bool X11Desktop::Impl::Start(const X11Options& options) {
  if (c == nullptr || xcb_connection_has_error(c)) return false;
  const xcb_setup_t* setup = xcb_get_setup(c);
  auto screens = xcb_setup_roots_iterator(setup);
  for (int i = 0; i < screenNumber && screens.rem; ++i) xcb_screen_next(&screens);
  if (!screens.rem) return false;
  screen = screens.data;
  if (!IsBgrx(setup, screen)) {
    std::fprintf(stderr, "Ombrix: the X display's pixel format (depth %d) is not supported\n",
                 screen->root_depth);
    return false;
  }

  // Ask about every extension at once, then read the answers.
  xcb_extension_t* const extensions[] = {&xcb_shm_id,    &xcb_composite_id, &xcb_render_id,
                                         &xcb_xfixes_id, &xcb_randr_id,     &xcb_xinerama_id,
                                         &xcb_shape_id};
  for (xcb_extension_t* e : extensions) xcb_prefetch_extension_data(c, e);
  const bool shm = Present(c, &xcb_shm_id);
  const bool composite = Present(c, &xcb_composite_id);
  const bool render = Present(c, &xcb_render_id);
  const bool xfixes = Present(c, &xcb_xfixes_id);
  const bool randr = Present(c, &xcb_randr_id);
  hasXinerama = Present(c, &xcb_xinerama_id);
  const bool shape = Present(c, &xcb_shape_id);

  xcb_shm_query_version_cookie_t shmCookie{};
  xcb_composite_query_version_cookie_t compositeCookie{};
  xcb_render_query_version_cookie_t renderCookie{};
  xcb_render_query_pict_formats_cookie_t formatsCookie{};
  xcb_xfixes_query_version_cookie_t xfixesCookie{};
  xcb_randr_query_version_cookie_t randrCookie{};
  if (shm) shmCookie = xcb_shm_query_version(c);
  if (composite) compositeCookie = xcb_composite_query_version(c, 0, 4);
  if (render) {
    renderCookie = xcb_render_query_version(c, 0, 11);
    formatsCookie = xcb_render_query_pict_formats(c);
  }
  if (xfixes) xfixesCookie = xcb_xfixes_query_version(c, 5, 0);
  if (randr) randrCookie = xcb_randr_query_version(c, 1, 5);
  const std::string managerName = "_NET_WM_CM_S" + std::to_string(screenNumber);
  const auto wallpaperCookie = xcb_intern_atom(c, 0, 13, "_XROOTPMAP_ID");
  const auto managerCookie =
      xcb_intern_atom(c, 0, static_cast<uint16_t>(managerName.size()), managerName.c_str());

  bool compositeOk = false;
  bool renderOk = false;
  bool xfixesRegions = false;
  if (shm)
    useShm = Reply<xcb_shm_query_version_reply_t>(
                 xcb_shm_query_version_reply(c, shmCookie, nullptr)) != nullptr;
  if (composite) {
    // Naming a window's pixmap came with version 0.2.
    const Reply<xcb_composite_query_version_reply_t> r(
        xcb_composite_query_version_reply(c, compositeCookie, nullptr));
    compositeOk = r && (r->major_version > 0 || r->minor_version >= 2);
  }
  if (render) {
    renderOk = Reply<xcb_render_query_version_reply_t>(
                   xcb_render_query_version_reply(c, renderCookie, nullptr)) != nullptr;
    formats.reset(xcb_render_query_pict_formats_reply(c, formatsCookie, nullptr));
  }
  if (xfixes) {
    // Regions came with version 2; the query also tells the server which version we speak.
    const Reply<xcb_xfixes_query_version_reply_t> r(
        xcb_xfixes_query_version_reply(c, xfixesCookie, nullptr));
    xfixesRegions = r && r->major_version >= 2;
  }
  if (randr) {
    // Monitors came with version 1.5.
    const Reply<xcb_randr_query_version_reply_t> r(
        xcb_randr_query_version_reply(c, randrCookie, nullptr));
    hasRandrMonitors = r && (r->major_version > 1 || r->minor_version >= 5);
  }
  if (const Reply<xcb_intern_atom_reply_t> r{xcb_intern_atom_reply(c, wallpaperCookie, nullptr)})
    wallpaperAtom = r->atom;
  if (const Reply<xcb_intern_atom_reply_t> r{xcb_intern_atom_reply(c, managerCookie, nullptr)})
    managerAtom = r->atom;
  useShm = useShm && options.useShm;

  if (formats) {
    rootFormat = FormatOf(screen->root_visual);
    for (auto it = xcb_render_query_pict_formats_formats_iterator(formats.get()); it.rem;
         xcb_render_pictforminfo_next(&it)) {
      if (it.data->type == XCB_RENDER_PICT_TYPE_DIRECT && it.data->direct.alpha_mask != 0)
        alphaFormats.insert(it.data->id);
    }
  }
  xwayland = DetectXwayland(hasRandrMonitors || randr);
  if (!options.leaveOutOwnWindows) return true;

  const bool canCompose = compositeOk && renderOk && rootFormat != 0;
  if (canCompose) {
    // Every top-level window now keeps its own pixmap; the server still draws the screen.
    const Reply<xcb_generic_error_t> error(
        xcb_request_check(c, xcb_composite_redirect_subwindows_checked(
                                 c, screen->root, XCB_COMPOSITE_REDIRECT_AUTOMATIC)));
    redirected = error == nullptr;
  }
  if (!redirected) {
    std::fputs(
        "Ombrix: the X server offers no Composite and Render extensions; the capture shows "
        "Ombrix's own window where the zone meets it\n",
        stderr);
    return true;
  }
  // The screen as it is, the background where no wallpaper pixmap is published.
  rootPicture = Picture(c, xcb_generate_id(c));
  const uint32_t includeInferiors = XCB_SUBWINDOW_MODE_INCLUDE_INFERIORS;
  xcb_render_create_picture(c, rootPicture.Id(), screen->root, rootFormat,
                            XCB_RENDER_CP_SUBWINDOW_MODE, &includeInferiors);
  compose = true;
  // Without Shape every window is a rectangle; without XFixes regions shapes are not honoured.
  clipShapes = shape && xfixesRegions;
  return true;
}

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
  rootDamage = xcb_generate_id(c);
  xcb_damage_create(c, rootDamage, screen->root, XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
  damageRegion = xcb_generate_id(c);
  xcb_xfixes_create_region(c, damageRegion, 0, nullptr);
  // Only notifications: other clients' selections on the root are untouched.
  const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE;
  xcb_change_window_attributes(c, screen->root, XCB_CW_EVENT_MASK, &mask);
  tracksChanges = true;
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
  DrainEvents();
  if (sceneChanged || xcb_connection_has_error(c)) return true;
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

void X11Desktop::Impl::Stop() {
  if (c == nullptr) return;
  compose = false;
  if (tracksChanges) {
    ForgetWatched(true);
    Quietly(xcb_damage_destroy_checked(c, rootDamage));
    Quietly(xcb_xfixes_destroy_region_checked(c, damageRegion));
    tracksChanges = false;
  }
  lastCopyValid = false;
  image.reset();
  zonePicture.Reset();
  zonePixmap.Reset();
  zoneWidth = zoneHeight = 0;
  rootPicture.Reset();
  segment.reset();
  if (redirected) {
    Quietly(xcb_composite_unredirect_subwindows_checked(c, screen->root,
                                                        XCB_COMPOSITE_REDIRECT_AUTOMATIC));
    redirected = false;
  }
  formats.reset();
  xcb_flush(c);
  ownConnection.reset();
  c = nullptr;
  screen = nullptr;
}

bool X11Desktop::Impl::DetectXwayland(bool randr) {
  static const char kName[] = "XWAYLAND";
  const auto extensionCookie = xcb_query_extension(c, sizeof kName - 1, kName);
  xcb_randr_get_screen_resources_current_cookie_t resourcesCookie{};
  if (randr) resourcesCookie = xcb_randr_get_screen_resources_current(c, screen->root);
  const Reply<xcb_query_extension_reply_t> extension(
      xcb_query_extension_reply(c, extensionCookie, nullptr));
  if (!randr) return extension && extension->present;
  const Reply<xcb_randr_get_screen_resources_current_reply_t> resources(
      xcb_randr_get_screen_resources_current_reply(c, resourcesCookie, nullptr));
  if (extension && extension->present) return true;
  if (!resources) return false;
  // Before the extension came (Xwayland 23.1), the outputs' names were the sign.
  const xcb_randr_output_t* outputs =
      xcb_randr_get_screen_resources_current_outputs(resources.get());
  const int count = xcb_randr_get_screen_resources_current_outputs_length(resources.get());
  std::vector<xcb_randr_get_output_info_cookie_t> cookies;
  for (int i = 0; i < count; ++i)
    cookies.push_back(xcb_randr_get_output_info(c, outputs[i], resources->config_timestamp));
  bool named = false;
  for (const auto& cookie : cookies) {
    const Reply<xcb_randr_get_output_info_reply_t> info(
        xcb_randr_get_output_info_reply(c, cookie, nullptr));
    if (!info) continue;
    const std::string name(
        reinterpret_cast<const char*>(xcb_randr_get_output_info_name(info.get())),
        static_cast<std::size_t>(xcb_randr_get_output_info_name_length(info.get())));
    named = named || name.rfind(kName, 0) == 0;
  }
  return named;
}

void X11Desktop::Impl::DrainEvents() {
  // Errors of requests that nobody checked are dropped; damage notices only say what the
  // damage objects hold; a change of the windows' layout or of the wallpaper changes the scene.
  if (!ownConnection) return;
  while (const Reply<xcb_generic_event_t> event{xcb_poll_for_event(c)}) {
    switch (event->response_type & 0x7F) {
      case XCB_CONFIGURE_NOTIFY:
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
      default:
        break;
    }
  }
}

TRect X11Desktop::Impl::RootRect() {
  // The root grows and shrinks with RandR: ask each time rather than trust the setup.
  const Reply<xcb_get_geometry_reply_t> g(
      xcb_get_geometry_reply(c, xcb_get_geometry(c, screen->root), nullptr));
  if (g) return {0, 0, g->width, g->height};
  return {0, 0, screen->width_in_pixels, screen->height_in_pixels};
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

xcb_render_pictformat_t X11Desktop::Impl::FormatOf(xcb_visualid_t visual) {
  const auto known = visualFormats.find(visual);
  if (known != visualFormats.end()) return known->second;
  const xcb_render_pictvisual_t* v = xcb_render_util_find_visual_format(formats.get(), visual);
  const xcb_render_pictformat_t format = v != nullptr ? v->format : 0;
  visualFormats.emplace(visual, format);
  return format;
}

bool X11Desktop::Impl::EnsureZonePicture(int width, int height) {
  if (zonePicture && width == zoneWidth && height == zoneHeight) return true;
  zonePicture.Reset();
  zonePixmap.Reset();
  zoneWidth = zoneHeight = 0;
  Pixmap pixmap(c, xcb_generate_id(c));
  const auto pixmapCookie =
      xcb_create_pixmap_checked(c, screen->root_depth, pixmap.Id(), screen->root,
                                static_cast<uint16_t>(width), static_cast<uint16_t>(height));
  Picture picture(c, xcb_generate_id(c));
  const auto pictureCookie =
      xcb_render_create_picture_checked(c, picture.Id(), pixmap.Id(), rootFormat, 0, nullptr);
  const Reply<xcb_generic_error_t> pixmapError(xcb_request_check(c, pixmapCookie));
  const Reply<xcb_generic_error_t> pictureError(xcb_request_check(c, pictureCookie));
  if (pixmapError || pictureError) return false;
  zonePixmap = std::move(pixmap);
  zonePicture = std::move(picture);
  zoneWidth = width;
  zoneHeight = height;
  return true;
}

std::vector<xcb_window_t> X11Desktop::Impl::TopLevelsOf(
    const std::vector<uint32_t>& windows, std::vector<xcb_query_tree_cookie_t> cookies) {
  // Walk up from each window to the root's child that holds it: the window itself when it is
  // unmanaged, else the window manager's frame.
  std::vector<xcb_window_t> tops;
  std::vector<xcb_window_t> current(windows.begin(), windows.end());
  for (int level = 0; !cookies.empty(); ++level) {
    std::vector<xcb_window_t> parents;
    std::vector<xcb_query_tree_cookie_t> next;
    for (std::size_t i = 0; i < cookies.size(); ++i) {
      const Reply<xcb_query_tree_reply_t> r(xcb_query_tree_reply(c, cookies[i], nullptr));
      // A window that vanished, or one on another screen, covers nothing here.
      if (!r || r->root != screen->root) continue;
      if (r->parent == screen->root) {
        tops.push_back(current[i]);
      } else if (r->parent != XCB_NONE && level < kMaxNesting) {
        parents.push_back(r->parent);
        next.push_back(xcb_query_tree(c, r->parent));
      }
    }
    current = std::move(parents);
    cookies = std::move(next);
  }
  return tops;
}

const uint8_t* X11Desktop::Impl::Read(xcb_drawable_t drawable, int x, int y, int width,
                                      int height) {
  const std::size_t bytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4;
  if (useShm && (!segment || segment->Size() < bytes)) {
    segment.reset();
    segment = SharedSegment::Create(c, (bytes + kSegmentStep - 1) / kSegmentStep * kSegmentStep);
    // A server that cannot share memory with us (a remote one) will not later either.
    useShm = segment != nullptr;
  }
  const auto x16 = static_cast<int16_t>(x);
  const auto y16 = static_cast<int16_t>(y);
  const auto w16 = static_cast<uint16_t>(width);
  const auto h16 = static_cast<uint16_t>(height);
  if (useShm) {
    const Reply<xcb_shm_get_image_reply_t> r(
        xcb_shm_get_image_reply(c,
                                xcb_shm_get_image(c, drawable, x16, y16, w16, h16, kColourPlanes,
                                                  XCB_IMAGE_FORMAT_Z_PIXMAP, segment->Id(), 0),
                                nullptr));
    return r && r->size >= bytes ? segment->Data() : nullptr;
  }
  image.reset(xcb_get_image_reply(
      c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, drawable, x16, y16, w16, h16, kColourPlanes),
      nullptr));
  if (!image || static_cast<std::size_t>(xcb_get_image_data_length(image.get())) < bytes)
    return nullptr;
  return xcb_get_image_data(image.get());
}

const uint8_t* X11Desktop::Impl::ComposeZone(const TRect& zone) {
  const xcb_window_t root = screen->root;
  std::vector<uint32_t> own = ownWindows ? ownWindows() : std::vector<uint32_t>{};
  own.erase(std::remove(own.begin(), own.end(), 0u), own.end());

  // First round: the stacking order, the root's size, the wallpaper, whether a compositing
  // manager runs, and the first step up from each of our windows.
  const auto treeCookie = xcb_query_tree(c, root);
  const auto rootCookie = xcb_get_geometry(c, root);
  const auto wallpaperCookie = xcb_get_property(c, 0, root, wallpaperAtom, XCB_ATOM_PIXMAP, 0, 1);
  const auto managerCookie = xcb_get_selection_owner(c, managerAtom);
  std::vector<xcb_query_tree_cookie_t> upCookies;
  upCookies.reserve(own.size());
  for (const uint32_t id : own) upCookies.push_back(xcb_query_tree(c, id));

  const Reply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, treeCookie, nullptr));
  const Reply<xcb_get_geometry_reply_t> rootGeometry(
      xcb_get_geometry_reply(c, rootCookie, nullptr));
  const Reply<xcb_get_property_reply_t> wallpaper(
      xcb_get_property_reply(c, wallpaperCookie, nullptr));
  const Reply<xcb_get_selection_owner_reply_t> manager(
      xcb_get_selection_owner_reply(c, managerCookie, nullptr));

  // Second round, sent before the walk from our windows reads its replies: every child of
  // the root, and the wallpaper pixmap, which may be stale.
  const xcb_window_t* children = tree ? xcb_query_tree_children(tree.get()) : nullptr;
  const auto count =
      static_cast<std::size_t>(tree ? xcb_query_tree_children_length(tree.get()) : 0);
  std::vector<xcb_get_window_attributes_cookie_t> attributeCookies(count);
  std::vector<xcb_get_geometry_cookie_t> geometryCookies(count);
  for (std::size_t i = 0; i < count; ++i) {
    attributeCookies[i] = xcb_get_window_attributes(c, children[i]);
    geometryCookies[i] = xcb_get_geometry(c, children[i]);
  }
  xcb_pixmap_t wallpaperPixmap = XCB_NONE;
  if (wallpaper && wallpaper->type == XCB_ATOM_PIXMAP && wallpaper->format == 32 &&
      xcb_get_property_value_length(wallpaper.get()) >= 4) {
    wallpaperPixmap = *static_cast<const xcb_pixmap_t*>(xcb_get_property_value(wallpaper.get()));
  }
  xcb_get_geometry_cookie_t wallpaperGeometryCookie{};
  if (wallpaperPixmap != XCB_NONE) wallpaperGeometryCookie = xcb_get_geometry(c, wallpaperPixmap);

  const std::vector<xcb_window_t> ownTops = TopLevelsOf(own, std::move(upCookies));

  std::vector<Reply<xcb_get_window_attributes_reply_t>> attributes(count);
  std::vector<Reply<xcb_get_geometry_reply_t>> geometries(count);
  for (std::size_t i = 0; i < count; ++i) {
    attributes[i].reset(xcb_get_window_attributes_reply(c, attributeCookies[i], nullptr));
    geometries[i].reset(xcb_get_geometry_reply(c, geometryCookies[i], nullptr));
  }
  bool wallpaperUsable = false;
  if (wallpaperPixmap != XCB_NONE) {
    const Reply<xcb_get_geometry_reply_t> g(
        xcb_get_geometry_reply(c, wallpaperGeometryCookie, nullptr));
    wallpaperUsable = g && g->depth == screen->root_depth;
  }

  if (!tree || !rootGeometry) return nullptr;
  const TRect rootRect{0, 0, rootGeometry->width, rootGeometry->height};
  TRect inside;
  if (!Intersect(zone, rootRect, inside) || !(inside == zone)) return nullptr;
  const int width = zone.Width();
  const int height = zone.Height();

  // Where none of our windows meets the zone the screen shows exactly what composing would
  // give: grab it as it is, which costs the server far less.
  const auto ours = [&](std::size_t i) {
    return std::find(ownTops.begin(), ownTops.end(), children[i]) != ownTops.end();
  };
  const auto shown = [&](std::size_t i) {
    const xcb_get_window_attributes_reply_t* a = attributes[i].get();
    return a != nullptr && geometries[i] != nullptr && a->map_state == XCB_MAP_STATE_VIEWABLE &&
           a->_class == XCB_WINDOW_CLASS_INPUT_OUTPUT;
  };
  bool oursInZone = false;
  ownRects.clear();
  for (std::size_t i = 0; i < count; ++i) {
    TRect part;
    if (ours(i) && shown(i) && Intersect(OuterRect(*geometries[i]), zone, part)) {
      oursInZone = true;
      ownRects.push_back(OuterRect(*geometries[i]));
    }
  }
  if (!oursInZone && !xwayland) {
    // The screen's own damage tells everything about a zone that it shows as it is.
    if (tracksChanges) ForgetWatched(true);
    return Read(root, zone.Left, zone.Top, width, height);
  }
  if (!EnsureZonePicture(width, height)) return nullptr;

  // Last round: compose on the server, free what the frame made, read the result back. Every
  // request that names a window of another client may fail because that window vanished
  // meanwhile; its error is dropped and the window is simply missing from this frame.
  std::vector<std::pair<xcb_void_cookie_t (*)(xcb_connection_t*, uint32_t), uint32_t>> made;
  const auto newId = [this]() {
    if (spareIds.empty()) return xcb_generate_id(c);
    const uint32_t id = spareIds.back();
    spareIds.pop_back();
    return id;
  };
  const auto w16 = static_cast<uint16_t>(width);
  const auto h16 = static_cast<uint16_t>(height);

  xcb_render_picture_t background = rootPicture.Id();
  if (xwayland) {
    // Nothing but X11 windows can be seen: black beneath them.
    const xcb_render_color_t black{0, 0, 0, 0xFFFF};
    const xcb_rectangle_t all{0, 0, w16, h16};
    Quietly(xcb_render_fill_rectangles_checked(c, XCB_RENDER_PICT_OP_SRC, zonePicture.Id(), black,
                                               1, &all));
  } else if (wallpaperUsable) {
    background = newId();
    const uint32_t repeat = XCB_RENDER_REPEAT_NORMAL;
    Quietly(xcb_render_create_picture_checked(c, background, wallpaperPixmap, rootFormat,
                                              XCB_RENDER_CP_REPEAT, &repeat));
    made.emplace_back(xcb_render_free_picture_checked, background);
  }
  if (!xwayland)
    Quietly(xcb_render_composite_checked(c, XCB_RENDER_PICT_OP_SRC, background, XCB_NONE,
                                         zonePicture.Id(), static_cast<int16_t>(zone.Left),
                                         static_cast<int16_t>(zone.Top), 0, 0, 0, 0, w16, h16));
  if (!wallpaperUsable && !xwayland) {
    // The screen itself shows our windows, and with no wallpaper published nothing tells what
    // the bare desktop holds beneath them: black there, rather than the window looking at
    // itself. Other windows below ours are composed back over it from their own pixmaps.
    const xcb_render_color_t black{0, 0, 0, 0xFFFF};
    for (std::size_t i = 0; i < count; ++i) {
      if (!ours(i) || !shown(i)) continue;
      TRect part;
      if (!Intersect(OuterRect(*geometries[i]), zone, part)) continue;
      const xcb_rectangle_t r{
          static_cast<int16_t>(part.Left - zone.Left), static_cast<int16_t>(part.Top - zone.Top),
          static_cast<uint16_t>(part.Width()), static_cast<uint16_t>(part.Height())};
      Quietly(xcb_render_fill_rectangles_checked(c, XCB_RENDER_PICT_OP_SRC, zonePicture.Id(), black,
                                                 1, &r));
    }
  }

  const bool managed =
      manager && manager->owner != XCB_NONE;  // a compositing manager blends alpha windows
  bool clipped = false;
  std::unordered_set<xcb_window_t> composed;
  for (std::size_t i = 0; i < count; ++i) {
    if (!shown(i) || ours(i)) continue;
    const xcb_get_window_attributes_reply_t* a = attributes[i].get();
    const xcb_get_geometry_reply_t* g = geometries[i].get();
    const TRect outer = OuterRect(*g);
    TRect part;
    if (!Intersect(outer, zone, part)) continue;
    const xcb_render_pictformat_t format = FormatOf(a->visual);
    if (format == 0) continue;
    if (tracksChanges) {
      // Watched from before its pixmap is read: a change after this shows as damage.
      composed.insert(children[i]);
      if (watched.count(children[i]) == 0) {
        const xcb_damage_damage_t damage = xcb_generate_id(c);
        Quietly(
            xcb_damage_create_checked(c, damage, children[i], XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY));
        // A new damage object starts with the window's whole visible area: not a change.
        Quietly(xcb_damage_subtract_checked(c, damage, XCB_NONE, XCB_NONE));
        watched.emplace(children[i],
                        WatchedWindow{damage, {g->x + g->border_width, g->y + g->border_width}});
      }
    }

    const uint32_t pixmap = newId();
    Quietly(xcb_composite_name_window_pixmap_checked(c, children[i], pixmap));
    made.emplace_back(xcb_free_pixmap_checked, pixmap);
    const uint32_t picture = newId();
    Quietly(xcb_render_create_picture_checked(c, picture, pixmap, format, 0, nullptr));
    made.emplace_back(xcb_render_free_picture_checked, picture);
    if (clipShapes) {
      // The bounding region is relative to the window's inner origin, inside the border.
      const uint32_t region = newId();
      Quietly(xcb_xfixes_create_region_from_window_checked(c, region, children[i],
                                                           XCB_SHAPE_SK_BOUNDING));
      made.emplace_back(xcb_xfixes_destroy_region_checked, region);
      Quietly(xcb_xfixes_set_picture_clip_region_checked(
          c, zonePicture.Id(), region, static_cast<int16_t>(g->x + g->border_width - zone.Left),
          static_cast<int16_t>(g->y + g->border_width - zone.Top)));
      clipped = true;
    }
    const uint8_t op = managed && alphaFormats.count(format) != 0 ? XCB_RENDER_PICT_OP_OVER
                                                                  : XCB_RENDER_PICT_OP_SRC;
    Quietly(xcb_render_composite_checked(
        c, op, picture, XCB_NONE, zonePicture.Id(), static_cast<int16_t>(part.Left - outer.Left),
        static_cast<int16_t>(part.Top - outer.Top), 0, 0,
        static_cast<int16_t>(part.Left - zone.Left), static_cast<int16_t>(part.Top - zone.Top),
        static_cast<uint16_t>(part.Width()), static_cast<uint16_t>(part.Height())));
  }
  if (clipped)
    Quietly(xcb_xfixes_set_picture_clip_region_checked(c, zonePicture.Id(), XCB_NONE, 0, 0));
  if (tracksChanges) ForgetWatched(false, composed);
  // The server frees in order, after the composites that used them; the ids are then free
  // for the next frame.
  for (const auto& [release, id] : made) {
    Quietly(release(c, id));
    spareIds.push_back(id);
  }
  return Read(zonePixmap.Id(), 0, 0, width, height);
}

X11Desktop::X11Desktop(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

X11Desktop::~X11Desktop() = default;

std::unique_ptr<X11Desktop> X11Desktop::Open(const char* displayName, X11Options options) {
  auto impl = std::make_unique<Impl>();
  impl->ownConnection.reset(xcb_connect(displayName, &impl->screenNumber));
  impl->c = impl->ownConnection.get();
  if (!impl->Start(options)) return nullptr;
  if (options.trackChanges) impl->StartTracking();
  return std::unique_ptr<X11Desktop>(new X11Desktop(std::move(impl)));
}

std::unique_ptr<X11Desktop> X11Desktop::Attach(xcb_connection_t* connection, int screen,
                                               X11Options options) {
  auto impl = std::make_unique<Impl>();
  impl->c = connection;
  impl->screenNumber = screen;
  if (!impl->Start(options)) return nullptr;
  return std::unique_ptr<X11Desktop>(new X11Desktop(std::move(impl)));
}

void X11Desktop::Stop() {
  impl_->Stop();
}

bool X11Desktop::UsesShm() const {
  return impl_->c != nullptr && impl_->useShm;
}

bool X11Desktop::LeavesOutOwnWindows() const {
  return impl_->c != nullptr && impl_->compose;
}

bool X11Desktop::IsXwayland() const {
  return impl_->c != nullptr && impl_->xwayland;
}

int X11Desktop::FileDescriptor() const {
  if (!impl_->ownConnection) return -1;
  return xcb_get_file_descriptor(impl_->c);
}

bool X11Desktop::ConnectionLost() {
  Impl& d = *impl_;
  if (d.c == nullptr) return false;
  d.DrainEvents();
  return xcb_connection_has_error(d.c) != 0;
}

void X11Desktop::SetOwnWindowsProvider(OwnWindowsProvider provider) {
  impl_->ownWindows = std::move(provider);
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

bool X11Desktop::TracksChanges() const {
  return impl_->c != nullptr && impl_->tracksChanges;
}

bool X11Desktop::ZoneMayHaveChanged(const TRect& zone) {
  if (impl_->c == nullptr) return true;
  return impl_->ChangedSinceLastCopy(zone);
}

bool X11Desktop::CopyZone(const TRect& zone, const TPoint (&points)[3], TBitmap& capture) {
  Impl& d = *impl_;
  if (d.c == nullptr || xcb_connection_has_error(d.c)) return false;
  const int width = zone.Width();
  const int height = zone.Height();
  if (width <= 0 || height <= 0 || width > kMaxExtent || height > kMaxExtent || zone.Left < 0 ||
      zone.Top < 0 || zone.Right > kMaxExtent || zone.Bottom > kMaxExtent ||
      capture.PixelFormat() != pf32bit)
    return false;
  if (d.tracksChanges) {
    // Whatever changes from here on counts against this copy.
    d.DrainEvents();
    d.sceneChanged = false;
    xcb_damage_subtract(d.c, d.rootDamage, XCB_NONE, XCB_NONE);
    for (const auto& [window, w] : d.watched)
      xcb_damage_subtract(d.c, w.damage, XCB_NONE, XCB_NONE);
    if (!d.compose) d.ownRects.clear();
  }
  const uint8_t* pixels =
      d.compose ? d.ComposeZone(zone) : d.Read(d.screen->root, zone.Left, zone.Top, width, height);
  d.DrainEvents();
  d.lastCopyValid = pixels != nullptr;
  d.lastZone = zone;
  if (pixels == nullptr) return false;
  TPixelView view;
  view.top = pixels;
  view.stride = static_cast<std::ptrdiff_t>(width) * 4;
  view.width = width;
  view.height = height;
  PlgBlt(capture, points, view, 0, 0, width, height);
  d.image.reset();
  return true;
}

}  // namespace ombrix
