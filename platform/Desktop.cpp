#include "Desktop.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "MemoryDesktop.h"
#include "X11Desktop.h"

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

std::unique_ptr<Desktop> CreateDesktop() {
  if (std::unique_ptr<X11Desktop> x11 = X11Desktop::Open()) return x11;
  std::fputs("Ombrix: no X11 display; the magnifier shows an empty desktop\n", stderr);
  return std::make_unique<MemoryDesktop>(1024, 768);
}

}  // namespace ombrix
