#pragma once
// The root of every object that can be copied with Assign, and the small geometric types the
// picture classes and the screen share.

#include <cstdint>

namespace ombrix {

// 0x00BBGGRR: red in the low byte.
using TColor = uint32_t;
inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clWhite = 0xFFFFFF;
inline constexpr TColor clRed = 0x0000FF;
// What reading a pixel outside a picture returns.
inline constexpr TColor clInvalid = 0xFFFFFFFF;

struct TPoint {
  int32_t X = 0;
  int32_t Y = 0;
  friend bool operator==(const TPoint&, const TPoint&) = default;
};

// Right and bottom are exclusive.
struct TRect {
  int32_t Left = 0;
  int32_t Top = 0;
  int32_t Right = 0;
  int32_t Bottom = 0;
  int32_t Width() const { return Right - Left; }
  int32_t Height() const { return Bottom - Top; }
  bool Contains(TPoint p) const { return p.X >= Left && p.X < Right && p.Y >= Top && p.Y < Bottom; }
  friend bool operator==(const TRect&, const TRect&) = default;
};

// Copying between objects goes through Assign: the target asks the source to copy itself into
// it when the target does not know the source's class. A pair that neither side knows raises
// EConvertError with both class names.
class TPersistent {
 public:
  virtual ~TPersistent() = default;
  TPersistent() = default;
  TPersistent(const TPersistent&) = delete;
  TPersistent& operator=(const TPersistent&) = delete;

  // The class name as the error texts show it ("TBitmap", "TUnsharpMaskFilter").
  virtual const char* ClassName() const { return "TPersistent"; }

  // Copies source into this object. The default hands the work to source->AssignTo(this);
  // a null source raises EConvertError("nil", ClassName()).
  virtual void Assign(const TPersistent* source);

  // Copies this object into dest when this class knows dest's class; the default raises
  // EConvertError(ClassName(), dest->ClassName()).
  virtual void AssignTo(TPersistent* dest) const;
};

}  // namespace ombrix
