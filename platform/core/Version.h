#pragma once
// The program's version, set once in the build (the project version) and compiled in: four
// 16-bit numbers, most significant first.

#include <array>
#include <cstdint>

namespace ombrix {

inline constexpr std::array<uint16_t, 4> kProgramVersion = {
    OMBRIX_VERSION_MAJOR, OMBRIX_VERSION_MINOR, OMBRIX_VERSION_PATCH, OMBRIX_VERSION_TWEAK};

}  // namespace ombrix
