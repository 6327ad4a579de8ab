#pragma once
// What the tests of the fast passes share: the instruction-set paths to try and a readable
// first difference between two working-image blocks.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FastKernel.h"

namespace ombrix::test {

// Every path this build has and this processor runs.
inline std::vector<TKernelIsa> SupportedIsas() {
  std::vector<TKernelIsa> isas;
  for (const TKernelIsa isa : {kiPlain, kiAvx2, kiAvx512, kiAvx512Vnni}) {
    if (KernelIsaSupported(isa)) isas.push_back(isa);
  }
  return isas;
}

// The first differing pixel as text, or empty when the blocks are equal.
inline std::string FirstDifference(const std::vector<uint8_t>& expected,
                                   const std::vector<uint8_t>& actual, int32_t width) {
  for (std::size_t i = 0; i < expected.size(); ++i) {
    if (expected[i] != actual[i]) {
      const std::size_t pixel = i / 4;
      return "stored row " + std::to_string(pixel / static_cast<std::size_t>(width)) +
             ", column " + std::to_string(pixel % static_cast<std::size_t>(width)) + ", byte " +
             std::to_string(i % 4) + ": expected " + std::to_string(expected[i]) + ", got " +
             std::to_string(actual[i]);
    }
  }
  return {};
}

}  // namespace ombrix::test
