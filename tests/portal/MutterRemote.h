#pragma once
// Test support for the headless GNOME stack (scripts/gnome-session.sh): drives the pointer and
// the keyboard through mutter's own RemoteDesktop API and reads the screen through mutter's own
// ScreenCast API (no consent dialog, no cursor in the picture), as a reference to compare
// Ombrix's screen with and to find the portal's consent dialog.

#include <chrono>
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

 private:
  struct Impl;
  explicit MutterRemote(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

// Writes a frame as a binary PPM, for a look at what a failing test saw.
bool SavePpm(const CastFrame& frame, const std::string& path);

}  // namespace ombrix::test
