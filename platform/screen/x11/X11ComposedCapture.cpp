// The composed capture: the zone rebuilt on the server from the background and the windows
// that are not ours, bottom to top, each from its own composite pixmap.

#include <xcb/composite.h>
#include <xcb/shape.h>
#include <xcb/xcb_renderutil.h>

#include <utility>

#include "X11DesktopImpl.h"

namespace ombrix {

using namespace x11;

namespace {

// A window's rectangle on its parent, border included: the origin of its composite pixmap.
TRect OuterRect(const xcb_get_geometry_reply_t& g) {
  return {g.x, g.y, g.x + g.width + 2 * g.border_width, g.y + g.height + 2 * g.border_width};
}

}  // namespace

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

}  // namespace ombrix
