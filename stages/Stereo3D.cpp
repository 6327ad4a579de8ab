#include "Stereo3D.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "HalfExchange.h"

namespace ombrix {
namespace {

uint32_t Load(const uint8_t* row, int x) {
  uint32_t pixel;
  std::memcpy(&pixel, row + static_cast<std::ptrdiff_t>(x) * 4, 4);
  return pixel;
}

void Store(uint8_t* row, int x, uint32_t pixel) {
  std::memcpy(row + static_cast<std::ptrdiff_t>(x) * 4, &pixel, 4);
}

// Rewrites every pixel (x, y) with spread(x, y, own, left, right): `own` is the pixel's old
// value, `left` and `right` read the row's old left and right half by the half's own column.
template <typename Spread>
void SpreadHalves(TBitmap& capture, Spread spread) {
  const int w = capture.Width();
  const int m = w / 2;
  if (m <= 0 || capture.Height() <= 0) return;
  std::vector<uint8_t> copy(static_cast<std::size_t>(w) * 4);
  for (int y = 0; y < capture.Height(); ++y) {
    uint8_t* row = capture.ScanLine(y);
    std::memcpy(copy.data(), row, copy.size());
    // An odd width gives the right half one column more: the left half's last one stands in.
    const auto left = [&](int x) { return Load(copy.data(), std::min(x, m - 1)); };
    const auto right = [&](int x) { return Load(copy.data(), m + x); };
    for (int x = 0; x < w; ++x) Store(row, x, spread(x, y, Load(copy.data(), x), left, right));
  }
}

void ReverseColumns(TBitmap& capture, int from, int to) {
  for (int y = 0; y < capture.Height(); ++y) {
    uint8_t* row = capture.ScanLine(y);
    for (int a = from, b = to - 1; a < b; ++a, --b) {
      const uint32_t pixel = Load(row, a);
      Store(row, a, Load(row, b));
      Store(row, b, pixel);
    }
  }
}

}  // namespace

void Compose3D(TBitmap& capture, int position) {
  switch (position) {
    case o3Exchange:
      HalfExchange(capture);
      break;
    case o3Anaglyph:
      Anaglyph(capture);
      break;
    case o3Interlaced:
      Interlace(capture);
      break;
    case o3MirrorRight:
      MirrorRightHalf(capture);
      break;
    case o3MirrorLeft:
      MirrorLeftHalf(capture);
      break;
    default:
      break;
  }
}

void Anaglyph(TBitmap& capture) {
  // Bytes blue, green, red, fourth: red from the left view, the rest from the right one.
  constexpr uint32_t kRed = 0x00FF0000u;
  constexpr uint32_t kGreenBlue = 0x0000FFFFu;
  SpreadHalves(capture, [](int x, int, uint32_t own, auto left, auto right) {
    return (left(x / 2) & kRed) | (right(x / 2) & kGreenBlue) | (own & ~(kRed | kGreenBlue));
  });
}

void Interlace(TBitmap& capture) {
  SpreadHalves(capture, [](int x, int y, uint32_t, auto left, auto right) {
    return y % 2 == 0 ? left(x / 2) : right(x / 2);
  });
}

void MirrorRightHalf(TBitmap& capture) {
  ReverseColumns(capture, capture.Width() / 2, capture.Width());
}

void MirrorLeftHalf(TBitmap& capture) {
  ReverseColumns(capture, 0, capture.Width() / 2);
}

}  // namespace ombrix
