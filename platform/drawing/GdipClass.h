#pragma once
// The drawing wrappers through which the zoom draws: a bitmap over existing pixels, image
// attributes with a gamma, and a drawing surface on a TBitmap with a world transform and
// interpolation. Each wrapper keeps the last non-zero status one of its calls returned; a
// failing call changes nothing else, so a sequence of calls simply goes on. Nothing is cached
// between draws. No toolkit; any thread, one thread per object at a time.

#include <array>
#include <cstdint>
#include <optional>

#include "GdipApi.h"
#include "Graphics.h"
#include "PlgBlt.h"

namespace ombrix {

class TGdiplusBase {
 public:
  virtual ~TGdiplusBase() = default;
  TGdiplusBase() = default;
  TGdiplusBase(const TGdiplusBase&) = delete;
  TGdiplusBase& operator=(const TGdiplusBase&) = delete;

  // The last status other than Ok that a call on this object returned; Ok when none failed.
  GpStatus LastStatus() const { return lastStatus_; }

 protected:
  // Records `status` when it is a failure and returns it.
  GpStatus SetStatus(GpStatus status);

 private:
  GpStatus lastStatus_ = Ok;
};

// A picture that can be drawn: 32-bit pixels read in place.
class TGPImage : public TGdiplusBase {
 public:
  // False when construction failed; drawing such an image fails with InvalidParameter.
  bool Valid() const { return pixels_.top != nullptr; }
  int32_t Width() const { return pixels_.width; }
  int32_t Height() const { return pixels_.height; }
  // The pixels, row 0 at the top.
  const TPixelView& Pixels() const { return pixels_; }

 protected:
  TPixelView pixels_;
};

class TGPBitmap : public TGPImage {
 public:
  // Wraps width x height pixels without copying them: row 0 starts at scan0 and each next row
  // `stride` bytes further (negative for a bottom-up bitmap, whose row 0 is highest in memory).
  // The pixels must stay in place while the wrapper lives. A format other than
  // PixelFormat32bppRGB, a size that is not positive, a null scan0 or a stride shorter than a
  // row leaves the wrapper invalid with status InvalidParameter.
  TGPBitmap(int32_t width, int32_t height, int32_t stride, PixelFormat format,
            const uint8_t* scan0);
};

class TGPImageAttributes : public TGdiplusBase {
 public:
  // Sets the gamma for one kind of drawing: colours become 255 * (c / 255)^gamma. A gamma that
  // is not positive and finite, or a type past ColorAdjustTypeText, is refused with
  // InvalidParameter and changes nothing.
  GpStatus SetGamma(float gamma, ColorAdjustType type = ColorAdjustTypeDefault);
  // Removes the gamma of one kind of drawing.
  GpStatus ClearGamma(ColorAdjustType type = ColorAdjustTypeDefault);
  // The gamma drawn pictures get: the Bitmap one when set, else the Default one; 0 for none.
  float PictureGamma() const;

  // Our own addition to the attributes: a table through which the blue, green and red bytes
  // pass after the gamma (256 entries, indexed by the gamma-adjusted byte), for one kind of
  // drawing. Brightness and contrast ride on the colour pass the gamma already makes. A type
  // past ColorAdjustTypeText is refused with InvalidParameter.
  GpStatus SetColorTable(const std::array<uint8_t, 256>& table,
                         ColorAdjustType type = ColorAdjustTypeDefault);
  GpStatus ClearColorTable(ColorAdjustType type = ColorAdjustTypeDefault);
  // The table drawn pictures get: the Bitmap one when set, else the Default one; null for none.
  const std::array<uint8_t, 256>* PictureColorTable() const;

 private:
  float gamma_[ColorAdjustTypeCount] = {};
  std::optional<std::array<uint8_t, 256>> table_[ColorAdjustTypeCount];
};

// A world transform made only of translations and scalings: a world point (x, y) lands on the
// target at (ScaleX * x + OffsetX, ScaleY * y + OffsetY).
struct TWorldTransform {
  double ScaleX = 1;
  double ScaleY = 1;
  double OffsetX = 0;
  double OffsetY = 0;
};

class TGPGraphics : public TGdiplusBase {
 public:
  // A drawing surface on `target`, which must outlive it. Starts with the identity transform,
  // default smoothing and bilinear interpolation.
  explicit TGPGraphics(TBitmap& target) : target_(target) {}

  GpStatus ResetTransform();
  // Prepend applies the step to points before the current transform, Append after it.
  // Values that are not finite, or an order that is neither, are refused (InvalidParameter).
  GpStatus TranslateTransform(float dx, float dy, MatrixOrder order = MatrixOrderPrepend);
  GpStatus ScaleTransform(float sx, float sy, MatrixOrder order = MatrixOrderPrepend);
  const TWorldTransform& Transform() const { return transform_; }

  // Stored for the surface; pictures are not affected by it.
  GpStatus SetSmoothingMode(SmoothingMode mode);
  SmoothingMode GetSmoothingMode() const { return smoothing_; }
  GpStatus SetInterpolationMode(InterpolationMode mode);
  InterpolationMode GetInterpolationMode() const { return interpolation_; }

  // Draws the source rectangle (srcX, srcY, srcWidth x srcHeight) of `image` onto `dest`
  // through the world transform, resampled by the interpolation mode and colour-adjusted by
  // `attributes` (may be null). Target pixels whose centres the drawn area does not cover keep
  // their values; drawn ones get a fourth byte of 0. Returns InvalidParameter for a missing or
  // invalid image or a source rectangle that is empty or not inside the image,
  // NotImplemented for a unit other than UnitPixel, OutOfMemory when buffers cannot be had.
  // An empty destination draws nothing and returns Ok. Runs the rows on the shared pool.
  GpStatus DrawImage(const TGPImage* image, const TGPRect& dest, int32_t srcX, int32_t srcY,
                     int32_t srcWidth, int32_t srcHeight, GpUnit srcUnit,
                     const TGPImageAttributes* attributes = nullptr);

 private:
  TBitmap& target_;
  TWorldTransform transform_;
  SmoothingMode smoothing_ = SmoothingModeDefault;
  InterpolationMode interpolation_ = InterpolationModeBilinear;
};

}  // namespace ombrix
