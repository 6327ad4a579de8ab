#pragma once
// The zoom stage: draws the capture bitmap into the view bitmap enlarged about the view's
// centre, with bicubic interpolation and gamma, optionally halving the drawn width or height.
// Runs on the GUI thread.

#include <array>
#include <cstdint>
#include <optional>

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

// Everything the frame cycle's zoom reads besides the two bitmaps and their size.
struct TZoomSettings {
  int SliderPosition = 0;
  bool HalveWidth = false;
  bool HalveHeight = false;
  // 0: no adjustment.
  float Gamma = 0;
  // The capture pixel that stays in place: pixel (X, Y) becomes the f x f block whose top-left
  // pixel is (X, Y) of the view (translation -(f - 1) * X, -(f - 1) * Y). Without one, the
  // view's middle (w / 2, h / 2) as real numbers, which is the same for even sizes.
  std::optional<TPoint> Centre;
  // Nearest-neighbour instead of bicubic: each capture pixel becomes a crisp f x f square,
  // placed exactly where the bicubic zoom centres that pixel.
  bool Nearest = false;
  // Applied to every colour byte after the gamma (brightness and contrast); null for none.
  const std::array<uint8_t, 256>* Colours = nullptr;
};

// The frame cycle's zoom with all its settings; the overload above is this one with no
// centre, bicubic and no colour table.
void ZoomStage(const TBitmap& capture, TBitmap& view, int w, int h, const TZoomSettings& settings);

// Where the zoom puts capture coordinates on one axis: view = Scale * capture + Offset.
struct TZoomAxis {
  double Scale = 1;
  double Offset = 0;
};
// The two axes ZoomStage draws with for these settings and size (for the overlays that follow
// the zoom's pixels, such as the pixel grid).
void ZoomAxes(int w, int h, const TZoomSettings& settings, TZoomAxis& x, TZoomAxis& y);

// The drawing part of RenderToView: `source` (32 bits, width x height) drawn with factor
// `factor` (0 or less counts as 1) about the centre onto `rectangle` of `view`, with gamma.
// Sets the view's size to width x height first; draws nothing when either is not positive.
// Reads the top-left width x height pixels of `source` with its own row stride; a source that
// is not 32-bit or smaller than that draws nothing. The sharpen step is the caller's.
// `colours`, when given, is applied to every colour byte after the gamma.
void RenderScaled(const TBitmap& source, TBitmap& view, const TRect& rectangle, int factor,
                  float gamma, int width, int height,
                  const std::array<uint8_t, 256>* colours = nullptr);

}  // namespace ombrix
