// The direct copy: pixels read from a drawable (the root as it is on screen, or the composed
// zone) through shared memory or a plain reply, then turned into the capture bitmap.

#include <xcb/shm.h>

#include "PlgBlt.h"

#include "X11DesktopImpl.h"

namespace ombrix {

using namespace x11;

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
    // Notices drained after these subtractions may be older than them: they only cost a
    // round trip that finds nothing.
    d.damageNoticed = false;
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
