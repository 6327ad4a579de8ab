#pragma once
// The picture classes: TGraphic (any picture), TBitmap (pixels in memory, rows bottom-up) and
// TCanvas (drawing on a bitmap). Plain C++, no toolkit: every pixel the program shows, saves or
// filters lives in a TBitmap. All of it is used from one thread at a time.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "Classes.h"

namespace ombrix {

class TCanvas;
class TBitmap;

enum TPixelFormat : uint8_t { pf24bit, pf32bit };

// Bytes one pixel of the format takes: 3 or 4.
int BytesPerPixel(TPixelFormat format);

// Any picture that has a size and can draw itself on a canvas.
class TGraphic : public TPersistent {
 public:
  const char* ClassName() const override { return "TGraphic"; }
  virtual int Width() const = 0;
  virtual int Height() const = 0;
  virtual void SetWidth(int width) = 0;
  virtual void SetHeight(int height) = 0;
  // True when the picture has no pixels.
  virtual bool Empty() const = 0;
  // Draws the picture unscaled with its top-left corner at (x, y) of the canvas, clipped to it.
  virtual void Draw(TCanvas& canvas, int x, int y) const = 0;
};

// Drawing on a bitmap: brush fills, one-pixel pen lines, single pixels, pictures.
// Coordinates are picture coordinates (row 0 at the top); everything is clipped to the bitmap.
class TCanvas {
 public:
  struct TBrush {
    TColor Color = clWhite;
  };
  struct TPen {
    TColor Color = clBlack;
  };

  explicit TCanvas(TBitmap& bitmap) : bitmap_(bitmap) {}
  TCanvas(const TCanvas&) = delete;
  TCanvas& operator=(const TCanvas&) = delete;

  TBrush Brush;
  TPen Pen;

  // Fills rect (right and bottom excluded) with Brush.Color.
  void FillRect(const TRect& rect);
  // Current pen position, set by MoveTo and LineTo.
  TPoint PenPos() const { return penPos_; }
  void MoveTo(int x, int y);
  // Draws from the pen position to (x, y) with Pen.Color, leaving out (x, y) itself, then
  // moves the pen there.
  void LineTo(int x, int y);
  // 0x00BBGGRR of the pixel, or clInvalid (all bits set) outside the bitmap.
  TColor Pixel(int x, int y) const;
  // Sets the pixel's colour bytes; outside the bitmap nothing happens.
  void SetPixel(int x, int y, TColor color);
  // Draws graphic unscaled with its top-left corner at (x, y).
  void Draw(int x, int y, const TGraphic& graphic);

 private:
  TBitmap& bitmap_;
  TPoint penPos_;
};

// A picture in memory, 24 or 32 bits per pixel, bytes blue, green, red (and a fourth byte with
// no colour). Rows are stored bottom-up in one block: the first stored row is the picture's
// bottom row. Each stored row is Width x BytesPerPixel rounded up to 4 bytes, so 32-bit rows
// have no padding and the block of a 32-bit bitmap is the working-image layout.
class TBitmap : public TGraphic {
 public:
  TBitmap();
  TBitmap(int width, int height, TPixelFormat format = pf32bit);
  ~TBitmap() override;

  const char* ClassName() const override { return "TBitmap"; }

  int Width() const override { return width_; }
  int Height() const override { return height_; }
  // Changing a size keeps the pixels of the part that both sizes share (top-left aligned) and
  // fills the rest with black; setting the same size again changes nothing.
  // Raises EOutOfMemory when the block cannot be had, EListError for a negative size.
  void SetWidth(int width) override;
  void SetHeight(int height) override;
  void SetSize(int width, int height);
  bool Empty() const override { return width_ == 0 || height_ == 0; }

  TPixelFormat PixelFormat() const { return format_; }
  // Converts the pixels to the new format (a fourth byte gained is 0).
  void SetPixelFormat(TPixelFormat format);

  // Bytes of one stored row, padding included.
  std::size_t RowBytes() const { return rowBytes_; }
  // First byte of picture row `row` (0 = top). Raises EListError outside 0 .. Height - 1.
  uint8_t* ScanLine(int row);
  const uint8_t* ScanLine(int row) const;
  // First byte of the block (the bottom row), or nullptr when empty.
  uint8_t* Bits() {
    Touch();
    return pixels_.empty() ? nullptr : pixels_.data();
  }
  const uint8_t* Bits() const { return pixels_.empty() ? nullptr : pixels_.data(); }

  TCanvas& Canvas() {
    Touch();
    return *canvas_;
  }

  // A number that stays the same for as long as the picture certainly does: every writable
  // access to the pixels (ScanLine, Bits, Canvas) and every change of size, format or content
  // gives the next call another number. Whoever keeps a picture tells from it alone, without
  // comparing pixels, that the picture is still the one it kept. Read it while nobody writes.
  uint64_t Stamp() const;

  // From a TBitmap: an exact copy (size, format, pixels). Other sources are asked to copy
  // themselves (TPersistent::Assign); a null source empties the bitmap.
  void Assign(const TPersistent* source) override;
  void AssignTo(TPersistent* dest) const override;
  void Draw(TCanvas& canvas, int x, int y) const override;
  // Trades pictures with `other` (size, format, pixels) without copying a pixel: a stage that
  // hands its result on in place of a copy. Both stamps move; each keeps its own canvas.
  void Exchange(TBitmap& other) noexcept;

 private:
  void Reallocate(int width, int height, TPixelFormat format);
  // Marks the picture as possibly changed. Cheap enough for every row a pass takes, from any
  // thread: the mark is written only while it is clear, so the rows of a pass share it without
  // writing it again.
  void Touch() {
    if (!touched_.load(std::memory_order_relaxed)) touched_.store(true, std::memory_order_relaxed);
  }

  int width_ = 0;
  int height_ = 0;
  TPixelFormat format_ = pf32bit;
  std::size_t rowBytes_ = 0;
  std::vector<uint8_t> pixels_;
  std::unique_ptr<TCanvas> canvas_;
  mutable std::atomic<bool> touched_{false};
  mutable std::atomic<uint64_t> stamp_{0};
};

// A picture that is not a bitmap: 32-bit pixels held top-down (blue, green, red, alpha), as a
// decoder produces them. It draws itself (alpha ignored) and can be assigned to a TBitmap.
class TPixmap : public TGraphic {
 public:
  TPixmap() = default;
  TPixmap(int width, int height);
  const char* ClassName() const override { return "TPixmap"; }
  int Width() const override { return width_; }
  int Height() const override { return height_; }
  void SetWidth(int width) override { SetSize(width, height_); }
  void SetHeight(int height) override { SetSize(width_, height); }
  void SetSize(int width, int height);
  bool Empty() const override { return width_ == 0 || height_ == 0; }
  // Row `row` (0 = top), Width x 4 bytes.
  uint8_t* Row(int row) { return pixels_.data() + static_cast<std::size_t>(row) * RowBytes(); }
  const uint8_t* Row(int row) const {
    return pixels_.data() + static_cast<std::size_t>(row) * RowBytes();
  }
  std::size_t RowBytes() const { return static_cast<std::size_t>(width_) * 4; }
  void Draw(TCanvas& canvas, int x, int y) const override;
  // Into a TBitmap: size and pixels, 32 bits per pixel; anything else: EConvertError.
  void AssignTo(TPersistent* dest) const override;

 private:
  int width_ = 0;
  int height_ = 0;
  std::vector<uint8_t> pixels_;
};

// What the platform's GetDIBits does for the working image: writes the bitmap's pixels, of any
// format, into block as Width x Height 32-bit pixels, bottom-up, rows without padding, fourth
// byte 0. Returns the number of rows written: Height, or 0 when the bitmap is empty or block is
// null (block is then untouched).
int GetDIBits32(const TBitmap& bitmap, uint8_t* block);

}  // namespace ombrix
