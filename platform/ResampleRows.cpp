#include "ResampleRows.h"

namespace ombrix::resample {
namespace {

void HorizontalPlain(const uint8_t* src, int count, int taps, const int32_t* first,
                     const int16_t* weights, int16_t* out) {
  for (int i = 0; i < count; ++i, weights += taps, out += 4) {
    const uint8_t* p = src + static_cast<std::ptrdiff_t>(first[i]) * 4;
    int32_t sum[4] = {0, 0, 0, 0};
    for (int t = 0; t < taps; ++t, p += 4)
      for (int c = 0; c < 4; ++c) sum[c] += weights[t] * p[c];
    for (int c = 0; c < 4; ++c)
      out[c] = static_cast<int16_t>((sum[c] + (1 << (kHorizontalShift - 1))) >> kHorizontalShift);
  }
}

void VerticalPlain(const int16_t* const* rows, const int16_t* weights, int taps, int count,
                   uint8_t* out) {
  for (int i = 0; i < count; ++i, out += 4) {
    for (int c = 0; c < 3; ++c) {
      int32_t sum = 1 << (kVerticalShift - 1);
      for (int t = 0; t < taps; ++t) sum += weights[t] * rows[t][i * 4 + c];
      sum >>= kVerticalShift;
      out[c] = static_cast<uint8_t>(sum < 0 ? 0 : sum > 255 ? 255 : sum);
    }
    out[3] = 0;
  }
}

void CopyPlain(const uint8_t* src, int count, const uint8_t* colors, uint8_t* out) {
  for (int i = 0; i < count; ++i, src += 4, out += 4) {
    if (colors) {
      out[0] = colors[src[0]];
      out[1] = colors[src[1]];
      out[2] = colors[src[2]];
    } else {
      out[0] = src[0];
      out[1] = src[1];
      out[2] = src[2];
    }
    out[3] = 0;
  }
}

}  // namespace

const RowKernels& PlainKernels() {
  static const RowKernels kernels{HorizontalPlain, VerticalPlain, CopyPlain};
  return kernels;
}

const RowKernels* Sse2Kernels() { return nullptr; }
const RowKernels* Avx2Kernels() { return nullptr; }

}  // namespace ombrix::resample
