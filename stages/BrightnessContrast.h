#pragma once
// Brightness and contrast of the view, set with the command window's two bars: one 256-entry
// table per setting, which the zoom applies to every colour byte right after its gamma, in the
// same pass. Pure computation; any thread.

#include <array>
#include <cstdint>

namespace ombrix {

// The bars' range, both ends included; 0 is neutral.
inline constexpr int kBrightnessContrastLimit = 100;

// Table of v' = clamp(round((v - 127.5) * k + 127.5 + 2.55 * brightness), 0, 255) with
// k = ((100 + contrast) / 100)^2, computed in double and rounded half to even (whatever the
// thread's rounding mode). Values outside -100..100 are taken as the nearer end.
// (0, 0) gives the identity; see BrightnessContrastIsIdentity.
std::array<uint8_t, 256> BrightnessContrastTable(int brightness, int contrast);

// True when the setting changes no byte, so that no table need be applied: only (0, 0).
bool BrightnessContrastIsIdentity(int brightness, int contrast);

// The table of the bars' current setting, made again only when the setting changes.
class TBrightnessContrast {
 public:
  // The table for (brightness, contrast), or null at (0, 0), where nothing is to be applied.
  // The table stays valid until the next call with another setting.
  const std::array<uint8_t, 256>* Table(int brightness, int contrast);

 private:
  std::array<uint8_t, 256> table_{};
  int brightness_ = 0;
  int contrast_ = 0;
  bool made_ = false;
};

}  // namespace ombrix
