#include "Desktop.h"

#include <algorithm>
#include <limits>

namespace ombrix {

TRect NearestMonitorOf(const std::vector<TRect>& monitors, const TRect& window,
                       const TRect& fallback) {
  if (monitors.empty()) return fallback;
  const TRect* best = &monitors.front();
  int64_t bestArea = -1;
  int64_t bestDistance = std::numeric_limits<int64_t>::max();
  for (const TRect& m : monitors) {
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

}  // namespace ombrix
