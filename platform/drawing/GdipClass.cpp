#include "GdipClass.h"

#include <cmath>
#include <cstdlib>
#include <new>

#include "Resample.h"

namespace ombrix {

GpStatus TGdiplusBase::SetStatus(GpStatus status) {
  if (status != Ok) lastStatus_ = status;
  return status;
}

TGPBitmap::TGPBitmap(int32_t width, int32_t height, int32_t stride, PixelFormat format,
                     const uint8_t* scan0) {
  if (format != PixelFormat32bppRGB || width <= 0 || height <= 0 || !scan0 ||
      std::llabs(int64_t{stride}) < int64_t{width} * 4) {
    SetStatus(InvalidParameter);
    return;
  }
  pixels_.top = scan0;
  pixels_.stride = stride;
  pixels_.width = width;
  pixels_.height = height;
}

GpStatus TGPImageAttributes::SetGamma(float gamma, ColorAdjustType type) {
  if (type < ColorAdjustTypeDefault || type >= ColorAdjustTypeCount || !std::isfinite(gamma) ||
      gamma <= 0)
    return SetStatus(InvalidParameter);
  gamma_[type] = gamma;
  return Ok;
}

GpStatus TGPImageAttributes::ClearGamma(ColorAdjustType type) {
  if (type < ColorAdjustTypeDefault || type >= ColorAdjustTypeCount)
    return SetStatus(InvalidParameter);
  gamma_[type] = 0;
  return Ok;
}

float TGPImageAttributes::PictureGamma() const {
  return gamma_[ColorAdjustTypeBitmap] > 0 ? gamma_[ColorAdjustTypeBitmap]
                                           : gamma_[ColorAdjustTypeDefault];
}

GpStatus TGPImageAttributes::SetColorTable(const std::array<uint8_t, 256>& table,
                                           ColorAdjustType type) {
  if (type < ColorAdjustTypeDefault || type >= ColorAdjustTypeCount)
    return SetStatus(InvalidParameter);
  table_[type] = table;
  return Ok;
}

GpStatus TGPImageAttributes::ClearColorTable(ColorAdjustType type) {
  if (type < ColorAdjustTypeDefault || type >= ColorAdjustTypeCount)
    return SetStatus(InvalidParameter);
  table_[type].reset();
  return Ok;
}

const std::array<uint8_t, 256>* TGPImageAttributes::PictureColorTable() const {
  if (table_[ColorAdjustTypeBitmap]) return &*table_[ColorAdjustTypeBitmap];
  if (table_[ColorAdjustTypeDefault]) return &*table_[ColorAdjustTypeDefault];
  return nullptr;
}

GpStatus TGPGraphics::ResetTransform() {
  transform_ = TWorldTransform{};
  return Ok;
}

GpStatus TGPGraphics::TranslateTransform(float dx, float dy, MatrixOrder order) {
  if (!std::isfinite(dx) || !std::isfinite(dy)) return SetStatus(InvalidParameter);
  switch (order) {
    case MatrixOrderPrepend:  // p -> T(p + d)
      transform_.OffsetX += transform_.ScaleX * dx;
      transform_.OffsetY += transform_.ScaleY * dy;
      return Ok;
    case MatrixOrderAppend:  // p -> T(p) + d
      transform_.OffsetX += dx;
      transform_.OffsetY += dy;
      return Ok;
  }
  return SetStatus(InvalidParameter);
}

GpStatus TGPGraphics::ScaleTransform(float sx, float sy, MatrixOrder order) {
  if (!std::isfinite(sx) || !std::isfinite(sy)) return SetStatus(InvalidParameter);
  switch (order) {
    case MatrixOrderPrepend:  // p -> T(s p)
      transform_.ScaleX *= sx;
      transform_.ScaleY *= sy;
      return Ok;
    case MatrixOrderAppend:  // p -> s T(p)
      transform_.ScaleX *= sx;
      transform_.ScaleY *= sy;
      transform_.OffsetX *= sx;
      transform_.OffsetY *= sy;
      return Ok;
  }
  return SetStatus(InvalidParameter);
}

GpStatus TGPGraphics::SetSmoothingMode(SmoothingMode mode) {
  if (mode < SmoothingModeDefault || mode > SmoothingModeAntiAlias)
    return SetStatus(InvalidParameter);
  smoothing_ = mode;
  return Ok;
}

GpStatus TGPGraphics::SetInterpolationMode(InterpolationMode mode) {
  if (mode < InterpolationModeDefault || mode > InterpolationModeHighQualityBicubic)
    return SetStatus(InvalidParameter);
  interpolation_ = mode;
  return Ok;
}

namespace {

TResampleOptions OptionsFor(InterpolationMode mode) {
  TResampleOptions options;
  switch (mode) {
    case InterpolationModeNearestNeighbor:
      options.Kernel = rkNearest;
      options.Prefilter = false;
      break;
    case InterpolationModeBicubic:
      options.Kernel = rkCubic;
      options.Prefilter = false;
      break;
    case InterpolationModeHighQualityBilinear:
      options.Kernel = rkLinear;
      options.Prefilter = true;
      break;
    case InterpolationModeHighQuality:
    case InterpolationModeHighQualityBicubic:
      options.Kernel = rkCubic;
      options.Prefilter = true;
      break;
    default:
      options.Kernel = rkLinear;
      options.Prefilter = false;
      break;
  }
  return options;
}

}  // namespace

GpStatus TGPGraphics::DrawImage(const TGPImage* image, const TGPRect& dest, int32_t srcX,
                                int32_t srcY, int32_t srcWidth, int32_t srcHeight, GpUnit srcUnit,
                                const TGPImageAttributes* attributes) {
  if (!image || !image->Valid()) return SetStatus(InvalidParameter);
  if (srcUnit != UnitPixel) return SetStatus(NotImplemented);
  if (srcWidth <= 0 || srcHeight <= 0 || srcX < 0 || srcY < 0 ||
      int64_t{srcX} + srcWidth > image->Width() || int64_t{srcY} + srcHeight > image->Height())
    return SetStatus(InvalidParameter);
  if (dest.Width == 0 || dest.Height == 0 || target_.Empty()) return Ok;

  const TPixelView& all = image->Pixels();
  TPixelView part = all;
  part.top = all.top + srcY * all.stride + static_cast<std::ptrdiff_t>(srcX) * 4;
  part.width = srcWidth;
  part.height = srcHeight;
  // Source pixel coordinates -> destination rectangle -> world transform.
  const TAxisMap x{transform_.ScaleX * dest.Width / srcWidth,
                   transform_.ScaleX * dest.X + transform_.OffsetX};
  const TAxisMap y{transform_.ScaleY * dest.Height / srcHeight,
                   transform_.ScaleY * dest.Y + transform_.OffsetY};
  TResampleOptions options = OptionsFor(interpolation_);
  std::array<uint8_t, 256> colors{};
  const float gamma = attributes ? attributes->PictureGamma() : 0.0f;
  if (gamma > 0 && gamma != 1.0f) {
    colors = GammaTable(gamma);
    options.Colors = colors.data();
  }
  if (const auto* table = attributes ? attributes->PictureColorTable() : nullptr) {
    // One table for both: the gamma's (or none) first, then this one.
    for (std::size_t c = 0; c < colors.size(); ++c)
      colors[c] = (*table)[options.Colors ? colors[c] : c];
    options.Colors = colors.data();
  }
  try {
    Resample(part, target_, TRect{0, 0, target_.Width(), target_.Height()}, x, y, options);
  } catch (const std::bad_alloc&) {
    return SetStatus(OutOfMemory);
  }
  return Ok;
}

}  // namespace ombrix
