#include "MemoryDesktop.h"

#include <algorithm>
#include <cstdint>
#include <limits>

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
  if (monitors_.empty()) return VirtualScreen();
  const TRect* best = &monitors_.front();
  int64_t bestArea = -1;
  int64_t bestDistance = std::numeric_limits<int64_t>::max();
  for (const TRect& m : monitors_) {
    const int64_t w = std::min(m.Right, window.Right) - std::max(m.Left, window.Left);
    const int64_t h = std::min(m.Bottom, window.Bottom) - std::max(m.Top, window.Top);
    const int64_t area = w > 0 && h > 0 ? w * h : 0;
    const int64_t dx = std::max<int64_t>({0, m.Left - window.Right, window.Left - m.Right});
    const int64_t dy = std::max<int64_t>({0, m.Top - window.Bottom, window.Top - m.Bottom});
    const int64_t distance = dx * dx + dy * dy;
    if (area > bestArea || (area == 0 && bestArea == 0 && distance < bestDistance)) {
      best = &m;
      bestArea = area;
      bestDistance = distance;
    }
  }
  return *best;
}

bool MemoryDesktop::CopyZone(const TRect& zone, const TPoint (&points)[3], TBitmap& capture) {
  if (!available_) return false;
  PlgBlt(capture, points, ViewOf(picture_), zone.Left - origin_.X, zone.Top - origin_.Y,
         zone.Width(), zone.Height());
  ++copies_;
  return true;
}

}  // namespace ombrix
