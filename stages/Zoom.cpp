#include "Zoom.h"

#include "GdipClass.h"

namespace ombrix {
namespace {

// Wraps a 32-bit bitmap's top-left width x height pixels in place, row 0 first, reading
// upwards through the bottom-up block. A bitmap that is not 32-bit or smaller than asked gives
// an invalid wrapper, so the draw that follows fails instead of reading outside the pixels.
TGPBitmap Wrap(const TBitmap& bitmap, int width, int height) {
  const bool fits = bitmap.PixelFormat() == pf32bit && width > 0 && height > 0 &&
                    bitmap.Width() >= width && bitmap.Height() >= height;
  return TGPBitmap(width, height, fits ? -static_cast<int32_t>(bitmap.RowBytes()) : 0,
                   PixelFormat32bppRGB, fits ? bitmap.ScanLine(0) : nullptr);
}

// The draw both entries share: source (width x height) onto `dest` of `view`, moved by
// (dx, dy) and scaled by (sx, sy), both prepended, with gamma (0: none) and then `colours`.
void Draw(const TBitmap& source, TBitmap& view, const TGPRect& dest, int width, int height,
          float dx, float dy, float sx, float sy, float gamma,
          const std::array<uint8_t, 256>* colours, bool nearest) {
  const TGPBitmap image = Wrap(source, width, height);
  TGPImageAttributes attributes;
  // A gamma of 0 is refused by the attributes and so leaves the colours unchanged.
  attributes.SetGamma(gamma, ColorAdjustTypeBitmap);
  if (colours != nullptr) attributes.SetColorTable(*colours, ColorAdjustTypeBitmap);
  TGPGraphics graphics(view);
  graphics.ResetTransform();
  graphics.SetSmoothingMode(SmoothingModeHighQuality);
  graphics.SetInterpolationMode(nearest ? InterpolationModeNearestNeighbor
                                        : InterpolationModeHighQualityBicubic);
  graphics.TranslateTransform(dx, dy, MatrixOrderPrepend);
  graphics.ScaleTransform(sx, sy, MatrixOrderPrepend);
  graphics.DrawImage(&image, dest, 0, 0, width, height, UnitPixel, &attributes);
}

}  // namespace

int ZoomFactor(int sliderPosition) {
  return sliderPosition <= 0 ? 1 : 2 * sliderPosition;
}

namespace {

// The translation and scale of the frame cycle's zoom, as the drawing surface takes them.
struct TZoomTransform {
  float dx, dy, sx, sy;
};

TZoomTransform ZoomTransform(int w, int h, const TZoomSettings& settings) {
  const float f = static_cast<float>(ZoomFactor(settings.SliderPosition));
  const float kx = settings.HalveWidth ? 1.0f : 0.0f;
  const float ky = settings.HalveHeight ? 1.0f : 0.0f;
  // The centre's pixel keeps its top-left corner: without a centre that is the view's middle.
  const float cx =
      settings.Centre ? static_cast<float>(settings.Centre->X) : static_cast<float>(w) / 2;
  const float cy =
      settings.Centre ? static_cast<float>(settings.Centre->Y) : static_cast<float>(h) / 2;
  return {-(f - 1) * cx, -(f - 1) * cy, f * (1 - kx / 2), f * (1 - ky / 2)};
}

}  // namespace

void ZoomStage(const TBitmap& capture, TBitmap& view, int w, int h, int sliderPosition,
               bool halveWidth, bool halveHeight, float gamma) {
  TZoomSettings settings;
  settings.SliderPosition = sliderPosition;
  settings.HalveWidth = halveWidth;
  settings.HalveHeight = halveHeight;
  settings.Gamma = gamma;
  ZoomStage(capture, view, w, h, settings);
}

void ZoomStage(const TBitmap& capture, TBitmap& view, int w, int h, const TZoomSettings& settings) {
  const TZoomTransform t = ZoomTransform(w, h, settings);
  Draw(capture, view, TGPRect{0, 0, w, h}, w, h, t.dx, t.dy, t.sx, t.sy, settings.Gamma,
       settings.Colours, settings.Nearest);
}

void ZoomAxes(int w, int h, const TZoomSettings& settings, TZoomAxis& x, TZoomAxis& y) {
  // As the drawing surface composes them: the scale, then the translation, in float.
  const TZoomTransform t = ZoomTransform(w, h, settings);
  x = {t.sx, t.dx};
  y = {t.sy, t.dy};
}

void RenderScaled(const TBitmap& source, TBitmap& view, const TRect& rectangle, int factor,
                  float gamma, int width, int height, const std::array<uint8_t, 256>* colours) {
  if (factor <= 0) factor = 1;
  if (width <= 0 || height <= 0) return;
  view.SetSize(width, height);
  const float f = static_cast<float>(factor);
  Draw(source, view, TGPRect{rectangle.Left, rectangle.Top, rectangle.Width(), rectangle.Height()},
       width, height, -(f - 1) * static_cast<float>(width) / 2,
       -(f - 1) * static_cast<float>(height) / 2, f, f, gamma, colours, false);
}

}  // namespace ombrix
