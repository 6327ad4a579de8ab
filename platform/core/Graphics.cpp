#include "Graphics.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "Errors.h"

namespace ombrix {

namespace {

std::size_t StoredRowBytes(int width, TPixelFormat format) {
  const std::size_t raw = static_cast<std::size_t>(width) * static_cast<std::size_t>(BytesPerPixel(format));
  return (raw + 3) & ~static_cast<std::size_t>(3);
}

void PutColor(uint8_t* pixel, TColor color) {
  pixel[0] = static_cast<uint8_t>(color >> 16);
  pixel[1] = static_cast<uint8_t>(color >> 8);
  pixel[2] = static_cast<uint8_t>(color);
}

}  // namespace

int BytesPerPixel(TPixelFormat format) { return format == pf24bit ? 3 : 4; }

// ---------------------------------------------------------------------------------------------
// TBitmap

TBitmap::TBitmap() : canvas_(std::make_unique<TCanvas>(*this)) {}

TBitmap::TBitmap(int width, int height, TPixelFormat format) : TBitmap() {
  format_ = format;
  Reallocate(width, height, format);
}

TBitmap::~TBitmap() = default;

void TBitmap::Reallocate(int width, int height, TPixelFormat format) {
  if (width < 0) throw EListError(width);
  if (height < 0) throw EListError(height);
  const std::size_t rowBytes = StoredRowBytes(width, format);
  std::vector<uint8_t> pixels;
  try {
    pixels.assign(rowBytes * static_cast<std::size_t>(height), 0);
  } catch (const std::bad_alloc&) {
    throw EOutOfMemory();
  } catch (const std::length_error&) {
    throw EOutOfMemory();
  }
  // Keep the top-left part both sizes share; rows are bottom-up, so picture row r of a
  // bitmap of height h is stored row h - 1 - r.
  const int keepRows = std::min(height, height_);
  const int keepCols = std::min(width, width_);
  if (format == format_ && keepRows > 0 && keepCols > 0) {
    const std::size_t bytes = static_cast<std::size_t>(keepCols) * static_cast<std::size_t>(BytesPerPixel(format));
    for (int r = 0; r < keepRows; ++r) {
      const uint8_t* from = pixels_.data() + static_cast<std::size_t>(height_ - 1 - r) * rowBytes_;
      uint8_t* to = pixels.data() + static_cast<std::size_t>(height - 1 - r) * rowBytes;
      std::memcpy(to, from, bytes);
    }
  }
  Touch();
  pixels_.swap(pixels);
  width_ = width;
  height_ = height;
  format_ = format;
  rowBytes_ = rowBytes;
}

void TBitmap::SetWidth(int width) { SetSize(width, height_); }

void TBitmap::SetHeight(int height) { SetSize(width_, height); }

void TBitmap::SetSize(int width, int height) {
  if (width == width_ && height == height_) return;
  Reallocate(width, height, format_);
}

void TBitmap::SetPixelFormat(TPixelFormat format) {
  if (format == format_) return;
  TBitmap converted(width_, height_, format);
  const int from = BytesPerPixel(format_);
  const int to = BytesPerPixel(format);
  for (int r = 0; r < height_; ++r) {
    const uint8_t* s = ScanLine(r);
    uint8_t* d = converted.ScanLine(r);
    for (int x = 0; x < width_; ++x, s += from, d += to) {
      d[0] = s[0];
      d[1] = s[1];
      d[2] = s[2];
      if (to == 4) d[3] = 0;
    }
  }
  Touch();
  pixels_.swap(converted.pixels_);
  rowBytes_ = converted.rowBytes_;
  format_ = format;
}

uint8_t* TBitmap::ScanLine(int row) {
  if (row < 0 || row >= height_) throw EListError(row);
  Touch();
  return pixels_.data() + static_cast<std::size_t>(height_ - 1 - row) * rowBytes_;
}

const uint8_t* TBitmap::ScanLine(int row) const {
  if (row < 0 || row >= height_) throw EListError(row);
  return pixels_.data() + static_cast<std::size_t>(height_ - 1 - row) * rowBytes_;
}

uint64_t TBitmap::Stamp() const {
  // A mark set since the last call makes a new number.
  if (touched_.exchange(false, std::memory_order_relaxed))
    stamp_.fetch_add(1, std::memory_order_relaxed);
  return stamp_.load(std::memory_order_relaxed);
}

void TBitmap::Assign(const TPersistent* source) {
  if (source == nullptr) {
    Reallocate(0, 0, format_);
    return;
  }
  if (const auto* other = dynamic_cast<const TBitmap*>(source)) {
    if (other == this) return;
    // Into the block it already has when that is large enough (a frame copied over the last
    // one of its size): no allocation, and no fresh pages to fault in. A larger copy is
    // allocated before the old block goes, so a failure leaves the bitmap as it was.
    try {
      pixels_.assign(other->pixels_.begin(), other->pixels_.end());
    } catch (const std::bad_alloc&) {
      throw EOutOfMemory();
    } catch (const std::length_error&) {
      throw EOutOfMemory();
    }
    Touch();
    width_ = other->width_;
    height_ = other->height_;
    format_ = other->format_;
    rowBytes_ = other->rowBytes_;
    return;
  }
  TPersistent::Assign(source);
}

void TBitmap::Exchange(TBitmap& other) noexcept {
  if (&other == this) return;
  Touch();
  other.Touch();
  pixels_.swap(other.pixels_);
  std::swap(width_, other.width_);
  std::swap(height_, other.height_);
  std::swap(format_, other.format_);
  std::swap(rowBytes_, other.rowBytes_);
}

void TBitmap::AssignTo(TPersistent* dest) const {
  if (auto* bitmap = dynamic_cast<TBitmap*>(dest)) {
    bitmap->Assign(this);
    return;
  }
  TPersistent::AssignTo(dest);
}

void TBitmap::Draw(TCanvas& canvas, int x, int y) const {
  const int bpp = BytesPerPixel(format_);
  for (int r = 0; r < height_; ++r) {
    const uint8_t* s = ScanLine(r);
    for (int c = 0; c < width_; ++c, s += bpp) {
      canvas.SetPixel(x + c, y + r,
                      static_cast<TColor>(s[2]) | static_cast<TColor>(s[1]) << 8 |
                          static_cast<TColor>(s[0]) << 16);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// TPixmap

TPixmap::TPixmap(int width, int height) { SetSize(width, height); }

void TPixmap::SetSize(int width, int height) {
  if (width < 0) throw EListError(width);
  if (height < 0) throw EListError(height);
  try {
    pixels_.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4, 0);
  } catch (const std::bad_alloc&) {
    throw EOutOfMemory();
  }
  width_ = width;
  height_ = height;
}

void TPixmap::Draw(TCanvas& canvas, int x, int y) const {
  for (int r = 0; r < height_; ++r) {
    const uint8_t* s = Row(r);
    for (int c = 0; c < width_; ++c, s += 4) {
      canvas.SetPixel(x + c, y + r,
                      static_cast<TColor>(s[2]) | static_cast<TColor>(s[1]) << 8 |
                          static_cast<TColor>(s[0]) << 16);
    }
  }
}

void TPixmap::AssignTo(TPersistent* dest) const {
  auto* bitmap = dynamic_cast<TBitmap*>(dest);
  if (bitmap == nullptr) {
    TPersistent::AssignTo(dest);
    return;
  }
  TBitmap copy(width_, height_, pf32bit);
  for (int r = 0; r < height_; ++r) {
    uint8_t* d = copy.ScanLine(r);
    std::memcpy(d, Row(r), RowBytes());
    for (int c = 0; c < width_; ++c) d[c * 4 + 3] = 0;
  }
  bitmap->Assign(&copy);
}

// ---------------------------------------------------------------------------------------------
// TCanvas

void TCanvas::FillRect(const TRect& rect) {
  const int left = std::max(rect.Left, 0);
  const int top = std::max(rect.Top, 0);
  const int right = std::min(rect.Right, bitmap_.Width());
  const int bottom = std::min(rect.Bottom, bitmap_.Height());
  const int bpp = BytesPerPixel(bitmap_.PixelFormat());
  for (int y = top; y < bottom; ++y) {
    uint8_t* p = bitmap_.ScanLine(y) + static_cast<std::ptrdiff_t>(left) * bpp;
    for (int x = left; x < right; ++x, p += bpp) PutColor(p, Brush.Color);
  }
}

void TCanvas::MoveTo(int x, int y) { penPos_ = {x, y}; }

void TCanvas::LineTo(int x, int y) {
  // Bresenham; the end point is left out, so that consecutive segments join without a
  // doubled pixel.
  int x0 = penPos_.X;
  int y0 = penPos_.Y;
  const int dx = std::abs(x - x0);
  const int dy = -std::abs(y - y0);
  const int sx = x0 < x ? 1 : -1;
  const int sy = y0 < y ? 1 : -1;
  int err = dx + dy;
  while (x0 != x || y0 != y) {
    SetPixel(x0, y0, Pen.Color);
    const int e2 = 2 * err;
    if (e2 >= dy) {
      err += dy;
      x0 += sx;
    }
    if (e2 <= dx) {
      err += dx;
      y0 += sy;
    }
  }
  penPos_ = {x, y};
}

TColor TCanvas::Pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= bitmap_.Width() || y >= bitmap_.Height()) return clInvalid;
  const uint8_t* p = bitmap_.ScanLine(y) + static_cast<std::ptrdiff_t>(x) * BytesPerPixel(bitmap_.PixelFormat());
  return static_cast<TColor>(p[2]) | static_cast<TColor>(p[1]) << 8 | static_cast<TColor>(p[0]) << 16;
}

void TCanvas::SetPixel(int x, int y, TColor color) {
  if (x < 0 || y < 0 || x >= bitmap_.Width() || y >= bitmap_.Height()) return;
  PutColor(bitmap_.ScanLine(y) + static_cast<std::ptrdiff_t>(x) * BytesPerPixel(bitmap_.PixelFormat()), color);
}

void TCanvas::Draw(int x, int y, const TGraphic& graphic) { graphic.Draw(*this, x, y); }

// ---------------------------------------------------------------------------------------------

int GetDIBits32(const TBitmap& bitmap, uint8_t* block) {
  if (bitmap.Empty() || block == nullptr) return 0;
  const int width = bitmap.Width();
  const int height = bitmap.Height();
  const int bpp = BytesPerPixel(bitmap.PixelFormat());
  // Stored row m of the block is picture row height - 1 - m, as in the bitmap itself.
  for (int m = 0; m < height; ++m) {
    const uint8_t* s = bitmap.ScanLine(height - 1 - m);
    uint8_t* d = block + static_cast<std::size_t>(m) * static_cast<std::size_t>(width) * 4;
    for (int x = 0; x < width; ++x, s += bpp, d += 4) {
      d[0] = s[0];
      d[1] = s[1];
      d[2] = s[2];
      d[3] = 0;
    }
  }
  return height;
}

}  // namespace ombrix
