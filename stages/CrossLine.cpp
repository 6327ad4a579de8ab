#include "CrossLine.h"

namespace ombrix {

void DrawCrossLine(TCanvas& canvas, TPoint zonePoint, int zoneLeft, int zoneTop, int w, int h,
                   TColor crossColor, int& crossTiltX, int& crossTiltY) {
  const int cx = zonePoint.X - zoneLeft;
  const int cy = zonePoint.Y - zoneTop;
  const int halfW = w / 2;
  const int halfH = h / 2;

  canvas.Pen.Color = crossColor;
  if (crossTiltY > kMaxCrossTilt) crossTiltY = 0;
  if (crossTiltX > kMaxCrossTilt) crossTiltX = 0;

  // LineTo leaves out each segment's second point, so the gap is cx - 3 .. cx + 2 (and
  // cy - 3 .. cy + 2): one pixel wider before the centre than after it.
  canvas.MoveTo(cx - halfW, cy + crossTiltY);
  canvas.LineTo(cx - 3, cy);
  canvas.MoveTo(cx + 3, cy);
  canvas.LineTo(cx + halfW, cy - crossTiltY);
  canvas.MoveTo(cx + crossTiltX, cy - halfH);
  canvas.LineTo(cx, cy - 3);
  canvas.MoveTo(cx, cy + 3);
  canvas.LineTo(cx - crossTiltX, cy + halfH);
}

}  // namespace ombrix
