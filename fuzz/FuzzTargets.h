#pragma once
// The fuzz targets: each takes one input, runs it through a part of Ombrix and checks that
// part's contract, not only that nothing crashed. A broken contract prints what broke and
// aborts, so libFuzzer keeps the input and the regression test fails on it.
//
// The same functions run under libFuzzer (fuzz/, built with clang) and over the kept inputs
// of fuzz/regressions/ in the unit tests. Any thread, one input at a time per call.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace ombrix::fuzz {

// A decoder: an input is either refused with one of our errors, or gives a picture of a
// size the readers accept that the same format's writer and reader reproduce.
void FuzzBmp(const uint8_t* data, std::size_t size);
void FuzzPng(const uint8_t* data, std::size_t size);
void FuzzJpeg(const uint8_t* data, std::size_t size);
// A custom filter's stream: all or nothing. A refused stream leaves the filter as it was,
// silently; an accepted one announces exactly one change and saves back to the bytes it
// read. The filter loaded then runs over a small picture.
void FuzzKernelStream(const uint8_t* data, std::size_t size);
// What ombrix-filter does with a small picture: the first bytes pick a filter and its
// setting, the rest is the picture file; the result is written into memory in a format also
// picked by the first bytes, and must read back at the picture's size.
void FuzzFilterTool(const uint8_t* data, std::size_t size);

// The fast pass of a kernel-less filter against its plain pass: the first bytes pick the
// filter, its box and Hysteresis, a small picture's size, the strips and colours, the
// rest are its pixels. On every instruction-set path the processor runs, every byte of the
// target and the source must come out as the plain pass leaves it.
void FuzzRankPasses(const uint8_t* data, std::size_t size);

// The target of that name ("bmp", "png", "jpeg", "kernel", "filter", "rank"), or null.
using Target = void (*)(const uint8_t*, std::size_t);
Target TargetNamed(std::string_view name);

}  // namespace ombrix::fuzz
