#pragma once
// The centre cross-line drawn over the view: it marks where the cursor lies in the captured
// zone and leaves a small gap so that the marked pixel itself stays visible. Runs on the GUI
// thread.

#include "Graphics.h"

namespace ombrix {

// Tilts above this value are taken for stray input and reset to 0 before drawing.
inline constexpr int kMaxCrossTilt = 1000;

// Draws the cross-line on `canvas` with a one-pixel pen of colour `crossColor`.
// The centre is `zonePoint` minus (`zoneLeft`, `zoneTop`), the cursor's place in the unzoomed
// zone of w x h pixels (w and h the even view size). The horizontal arm runs from w div 2 left
// of the centre, `crossTiltY` pixels lower, to w div 2 right of it, `crossTiltY` pixels higher;
// the vertical arm from h div 2 above, `crossTiltX` to the right, to h div 2 below,
// `crossTiltX` to the left. The pixels from 3 before to 2 after the centre stay free on both
// arms, and no arm includes its far end point.
// `crossTiltX` and `crossTiltY` are the window's state: a value above kMaxCrossTilt is set to
// 0 there before drawing; smaller values, negative ones included, are kept.
// Leaves the canvas's pen colour at `crossColor` and its pen position at the last end point.
void DrawCrossLine(TCanvas& canvas, TPoint zonePoint, int zoneLeft, int zoneTop, int w, int h,
                   TColor crossColor, int& crossTiltX, int& crossTiltY);

}  // namespace ombrix
