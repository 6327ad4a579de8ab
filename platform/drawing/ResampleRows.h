#pragma once
// The row kernels of the renderer (private to Resample.cpp and its tests). They only compute:
// the engine in Resample.cpp owns the borders (the weight tables never reach outside the
// source), the buffers and the choice of kernels.
//
// Fixed point: weights carry 14 fractional bits. The horizontal pass keeps 6 fractional bits in
// 16-bit intermediates, (sum + 128) >> 8; the vertical pass rounds back to bytes,
// (sum + 2^19) >> 20, clamped to 0 .. 255. Every variant computes exactly these numbers.

#include <cstdint>

namespace ombrix::resample {

inline constexpr int kHorizontalShift = 8;
inline constexpr int kVerticalShift = 20;
// A weight of one.
inline constexpr int kWeightOne = 1 << 14;

// One row of the horizontal pass: for each of `count` target pixels i, the four channels
// sum over t < taps of weights[i * taps + t] * src[(first[i] + t) * 4 + c], scaled to 6
// fractional bits, into out[i * 4 + c]. Reads only the source pixels the weights name.
using HorizontalRow = void (*)(const uint8_t* src, int count, int taps, const int32_t* first,
                               const int16_t* weights, int16_t* out);

// One row of the vertical pass: for each of `count` pixels, the channels blue, green and red
// sum over t < taps of weights[t] * rows[t][i * 4 + c], rounded to a byte into out[i * 4 + c];
// out[i * 4 + 3] becomes 0.
using VerticalRow = void (*)(const int16_t* const* rows, const int16_t* weights, int taps,
                             int count, uint8_t* out);

// Copies `count` pixels, blue, green and red through `colors` (256 entries, or nullptr for
// none), fourth byte 0.
using CopyRow = void (*)(const uint8_t* src, int count, const uint8_t* colors, uint8_t* out);

struct RowKernels {
  HorizontalRow horizontal;
  VerticalRow vertical;
  CopyRow copy;
};

const RowKernels& PlainKernels();
// nullptr when the build or the processor cannot run them.
const RowKernels* Sse2Kernels();
const RowKernels* Avx2Kernels();
// Needs AVX-512 F, BW, VBMI and VNNI besides AVX2.
const RowKernels* Avx512Kernels();

}  // namespace ombrix::resample
