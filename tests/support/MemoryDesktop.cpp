#include "MemoryDesktop.h"

#include "PlgBlt.h"

namespace ombrix {

MemoryDesktop::MemoryDesktop(int width, int height, TPoint origin)
    : picture_(width, height, pf32bit), origin_(origin) {
  monitors_.push_back({origin.X, origin.Y, origin.X + width, origin.Y + height});
}

bool MemoryDesktop::CursorPos(TPoint& position) {
  position = cursor_;
  return true;
}

TRect MemoryDesktop::VirtualScreen() {
  return {origin_.X, origin_.Y, origin_.X + picture_.Width(), origin_.Y + picture_.Height()};
}

TRect MemoryDesktop::NearestMonitor(const TRect& window) {
  return NearestMonitorOf(monitors_, window, VirtualScreen());
}

bool MemoryDesktop::CopyZone(const TRect& zone, const TPoint (&points)[3], TBitmap& capture) {
  if (!available_) return false;
  PlgBlt(capture, points, ViewOf(picture_), zone.Left - origin_.X, zone.Top - origin_.Y,
         zone.Width(), zone.Height());
  ++copies_;
  return true;
}

}  // namespace ombrix
