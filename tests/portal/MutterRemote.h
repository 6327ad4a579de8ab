#pragma once
// Test support for the headless GNOME stack (scripts/gnome-session.sh): drives the pointer and
// the keyboard through mutter's own RemoteDesktop API and reads the screen through mutter's own
// ScreenCast API (no consent dialog, no cursor in the picture), as a reference to compare
// Ombrix's screen with and to find the portal's consent dialog.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "CastScreen.h"

namespace ombrix::test {

class MutterRemote {
 public:
  // Opens a remote-desktop session with a screen cast of the monitor `connector` (empty: the
  // primary one) on the session bus. Null, with the reason in `error`, when mutter does not
  // answer.
  static std::unique_ptr<MutterRemote> Open(std::string& error, const std::string& connector = "");
  ~MutterRemote();
  MutterRemote(const MutterRemote&) = delete;
  MutterRemote& operator=(const MutterRemote&) = delete;

  // Moves the pointer to (x, y) of the monitor, in the pixels of its stream.
  bool MovePointer(double x, double y);
  // Presses and releases the left button where the pointer is.
  bool Click();
  // Presses and releases the key of X keysym `keysym`.
  bool Key(uint32_t keysym);

  // The newest frame of the monitor that arrived after this call, waiting up to `timeout`;
  // false when none came.
  bool NextFrame(CastFrame& frame, std::chrono::milliseconds timeout);
  // The newest frame seen so far (waiting up to `timeout` for a first one).
  bool NewestFrame(CastFrame& frame, std::chrono::milliseconds timeout);
  // How many pictures of the monitor arrived so far: one for each change of the screen.
  uint64_t ImagesArrived() const;

 private:
  struct Impl;
  explicit MutterRemote(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

// Writes a frame as a binary PPM, for a look at what a failing test saw.
bool SavePpm(const CastFrame& frame, const std::string& path);

// The portal's consent dialog as xdg-desktop-portal-gnome 43 draws it, centred on a 1280 x 800
// primary monitor: its monitor rows one below the other, its buttons in the title bar.
struct ConsentDialog {
  static constexpr TPoint kBody{400, 500};
  static constexpr TPoint kFirstRow{640, 426};
  static constexpr int kRowHeight = 55;
  static constexpr TPoint kShare{852, 272};
  static constexpr TPoint kCancel{430, 272};
};

// Waits for the consent dialog on the primary monitor of `remote` (it shows when the colour
// at ConsentDialog::kBody is no longer `underneath`, the screen's colour there), then chooses
// `monitors` rows and Share, or Cancel when `monitors` is 0. False, with what went wrong in
// `error` (and the screen in `shot` when it is not empty), when the dialog did not show or did
// not answer.
bool AnswerConsentDialog(MutterRemote& remote, int monitors, uint32_t underneath,
                         std::string& error, const std::string& shot = {});

// The known picture that pattern_window.py shows, at (x, y), as 0xRRGGBB: every place of a
// 4096 x 4096 screen has a colour of its own.
inline uint32_t PatternAt(int x, int y) {
  return uint32_t(x % 256) << 16 | uint32_t(y % 256) << 8 |
         uint32_t((x / 256) % 16 + 16 * ((y / 256) % 16));
}

// The colour of square (i, j) of pattern_window.py's picture of flat 32 x 32 squares, as
// 0xRRGGBB.
inline uint32_t BlockAt(int i, int j) {
  return uint32_t(8 * i % 256) << 16 | uint32_t(8 * j % 256) << 8 | 0x80;
}

}  // namespace ombrix::test
