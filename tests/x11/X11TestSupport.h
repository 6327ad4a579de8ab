#pragma once
// What the X11 tests share: a connection of the test's own that puts windows and pictures on
// the display, a known pattern, polling with a deadline, and a private X server.

#include <xcb/xcb.h>

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "Classes.h"
#include "Graphics.h"

namespace ombrix::test {

// The display that test.sh starts for the x11 tests; null when none is running.
const char* TestDisplayName();

// The pattern's X pixel value (0x00RRGGBB, which is also the capture's blue-green-red-0 layout)
// at screen position (x, y): no two neighbours alike, so a shift or a mirror shows.
uint32_t Pattern(int x, int y);

// The capture's pixel at (x, y) as one 32-bit value.
uint32_t PixelAt(const TBitmap& bitmap, int x, int y);

// How many pixels of `bitmap` differ from expected(x, y).
template <typename Expected>
int Differences(const TBitmap& bitmap, Expected expected) {
  int count = 0;
  for (int y = 0; y < bitmap.Height(); ++y)
    for (int x = 0; x < bitmap.Width(); ++x) count += PixelAt(bitmap, x, y) != expected(x, y);
  return count;
}

// Polls `done` until it holds or `limit` has passed; returns its last answer.
template <typename Predicate>
bool WaitUntil(Predicate done, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return done();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// The test's own client. Whatever it creates disappears with it.
class TestClient {
 public:
  explicit TestClient(const char* displayName);
  ~TestClient();
  TestClient(const TestClient&) = delete;
  TestClient& operator=(const TestClient&) = delete;

  bool Ok() const;
  xcb_connection_t* Connection() const { return c_; }
  xcb_window_t Root() const { return screen_->root; }
  TRect RootRect() const;

  // An unmapped window whose outer corner (border included) is at outer.Left, outer.Top.
  // Unmanaged windows sit exactly there, above everything mapped before them; managed ones get
  // a frame from the window manager.
  xcb_window_t CreateWindow(const TRect& outer, uint16_t border, bool managed);
  void SetColours(xcb_window_t window, uint32_t background, uint32_t border);
  // Makes the pattern the window's background, as the screen positions that its inside covers
  // (inside's top-left at `origin`). The pixels go up with 0xFF in their fourth byte, which a
  // grab must not pass on.
  void SetPatternBackground(xcb_window_t window, TPoint origin, int width, int height);
  // A pixmap of the root's depth holding the pattern of the rectangle `area`.
  xcb_pixmap_t PatternPixmap(const TRect& area);
  void Map(xcb_window_t window);
  // The window's parent and its outer rectangle on the root; false when it does not exist.
  bool Parent(xcb_window_t window, xcb_window_t& parent);
  bool OuterRect(xcb_window_t window, TRect& outer);
  xcb_atom_t Atom(const char* name);
  // Defines a RandR monitor covering `area`; `withOutput` gives it the screen's first output.
  bool SetMonitor(const char* name, const TRect& area, bool withOutput);
  // Resizes the screen through RandR, as a user changing the resolution does; every CRTC is
  // switched off first, as none may reach past a smaller screen. True when the server agreed.
  bool ResizeRoot(int width, int height);
  // Waits until the server has handled every request sent so far.
  void Sync();
  // Waits until the window manager has handled every event that reached it before: it answers
  // a request for a never-mapped window's frame extents in turn. True at once when none runs.
  bool SyncWithWindowManager();

 private:
  xcb_connection_t* c_;
  xcb_screen_t* screen_ = nullptr;
  // The managed windows made here. A window manager still unmanaging one after it is gone
  // would move and reparent whatever window next gets its id, which the next client of the
  // server (the next test) is handed: they are destroyed, and the manager waited for, first.
  std::vector<xcb_window_t> managed_;
  xcb_window_t probe_ = XCB_NONE;
};

// An Xvfb of the test's own, started with extra arguments (screens, +xinerama) on a display
// that it picks itself; stopped when this goes.
class PrivateXServer {
 public:
  explicit PrivateXServer(const std::vector<std::string>& arguments);
  ~PrivateXServer();
  PrivateXServer(const PrivateXServer&) = delete;
  PrivateXServer& operator=(const PrivateXServer&) = delete;

  // ":N", or empty when the server could not start (no Xvfb installed).
  const std::string& Name() const { return name_; }
  // Kills the server at once, as a crash would end it.
  void Kill();

 private:
  pid_t pid_ = -1;
  std::string name_;
};

// openbox on the display `displayName` (a private server's), started here and stopped when this
// goes: stacking layers, focus and frames as users have them.
class PrivateWindowManager {
 public:
  explicit PrivateWindowManager(const std::string& displayName);
  ~PrivateWindowManager();
  PrivateWindowManager(const PrivateWindowManager&) = delete;
  PrivateWindowManager& operator=(const PrivateWindowManager&) = delete;

  // True once the window manager has claimed the screen (_NET_SUPPORTING_WM_CHECK on the root).
  bool Running() const { return running_; }

 private:
  pid_t pid_ = -1;
  bool running_ = false;
};

}  // namespace ombrix::test
