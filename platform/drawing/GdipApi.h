#pragma once
// The values of the drawing interface through which the zoom draws: call statuses, the modes a
// drawing surface accepts and the one pixel format a wrapped bitmap may have. The numbers are
// the ones the drawing interface has always used, so that a value read in a log or a debugger
// means the same thing everywhere.

#include <cstdint>

namespace ombrix {

// What a drawing call returns. Ok is 0; a wrapper keeps the last non-zero one.
enum GpStatus : int32_t {
  Ok = 0,
  GenericError = 1,
  InvalidParameter = 2,
  OutOfMemory = 3,
  ObjectBusy = 4,
  InsufficientBuffer = 5,
  NotImplemented = 6,
  Win32Error = 7,
  WrongState = 8,
  Aborted = 9,
};

// Pixel formats of a wrapped bitmap. Only 32 bits per pixel with the fourth byte ignored
// (blue, green, red, unused) is drawn; every other value is refused.
using PixelFormat = int32_t;
inline constexpr PixelFormat PixelFormat32bppRGB = 0x22009;

enum SmoothingMode : int32_t {
  SmoothingModeInvalid = -1,
  SmoothingModeDefault = 0,
  SmoothingModeHighSpeed = 1,
  SmoothingModeHighQuality = 2,
  SmoothingModeNone = 3,
  SmoothingModeAntiAlias = 4,
};

// How a drawn picture is resampled. The high-quality modes widen the kernel when a picture is
// shrunk, so that shrinking averages instead of skipping pixels.
enum InterpolationMode : int32_t {
  InterpolationModeInvalid = -1,
  InterpolationModeDefault = 0,
  InterpolationModeLowQuality = 1,
  InterpolationModeHighQuality = 2,
  InterpolationModeBilinear = 3,
  InterpolationModeBicubic = 4,
  InterpolationModeNearestNeighbor = 5,
  InterpolationModeHighQualityBilinear = 6,
  InterpolationModeHighQualityBicubic = 7,
};

// Whether a new transform step is applied before (Prepend) or after (Append) the current one.
enum MatrixOrder : int32_t {
  MatrixOrderPrepend = 0,
  MatrixOrderAppend = 1,
};

// Units of a source rectangle; only pixels are drawn.
enum GpUnit : int32_t {
  UnitWorld = 0,
  UnitDisplay = 1,
  UnitPixel = 2,
  UnitPoint = 3,
  UnitInch = 4,
  UnitDocument = 5,
  UnitMillimeter = 6,
};

// Which kind of drawing a colour adjustment applies to. Pictures use the Bitmap adjustment when
// one is set, otherwise the Default one.
enum ColorAdjustType : int32_t {
  ColorAdjustTypeDefault = 0,
  ColorAdjustTypeBitmap = 1,
  ColorAdjustTypeBrush = 2,
  ColorAdjustTypePen = 3,
  ColorAdjustTypeText = 4,
  ColorAdjustTypeCount = 5,
};

// A rectangle as the drawing calls take it: corner and size.
struct TGPRect {
  int32_t X = 0;
  int32_t Y = 0;
  int32_t Width = 0;
  int32_t Height = 0;
  friend bool operator==(const TGPRect&, const TGPRect&) = default;
};

}  // namespace ombrix
