#pragma once
// The zoom stage: draws the capture bitmap into the view bitmap enlarged about the view's
// centre, with bicubic interpolation and gamma, optionally halving the drawn width or height.
// Runs on the GUI thread.

#include "Graphics.h"

namespace ombrix {

// Zoom factor of a slider position 0..4: 1, 2, 4, 6, 8.
int ZoomFactor(int sliderPosition);

// The frame cycle's zoom: `capture` (32 bits, w x h) drawn into `view` (w x h) with factor
// ZoomFactor(sliderPosition), scale halved horizontally when halveWidth and vertically when
// halveHeight, translation -(f - 1) * w / 2, -(f - 1) * h / 2, and gamma (0: no adjustment).
// View pixels the drawing does not cover keep their values; drawn ones get a fourth byte of 0.
// A capture that is not 32-bit or smaller than w x h is not read, and nothing is drawn.
// Draws through the drawing wrappers (GdipClass.h); failures are not reported.
void ZoomStage(const TBitmap& capture, TBitmap& view, int w, int h, int sliderPosition,
               bool halveWidth, bool halveHeight, float gamma);

// The drawing part of RenderToView: `source` (32 bits, width x height) drawn with factor
// `factor` (0 or less counts as 1) about the centre onto `rectangle` of `view`, with gamma.
// Sets the view's size to width x height first; draws nothing when either is not positive.
// Reads the top-left width x height pixels of `source` with its own row stride; a source that
// is not 32-bit or smaller than that draws nothing. The sharpen step is the caller's.
void RenderScaled(const TBitmap& source, TBitmap& view, const TRect& rectangle, int factor,
                  float gamma, int width, int height);

}  // namespace ombrix
