#pragma once
// The screen of an X11 display, read through XCB: the pointer, the monitors (RandR monitors,
// else Xinerama screens, else the root window as one monitor) and the copy of a zone.
//
// The copy leaves out the program's own windows without touching them (hiding or reshaping
// them for a grab flickers): with Composite, every top-level window keeps its own off-screen
// pixmap, and each copy rebuilds the zone on the server from the background and the windows
// that are not ours, bottom to top, then reads it back once. Without Composite (or Render)
// the zone is grabbed from the root as it is on screen, our windows included; this is said
// once on stderr when the desktop opens.
//
// Under Xwayland (the X server of a Wayland session) only X11 programs' windows exist for us,
// and the root window does not show them reliably: every copy is then composed from those
// windows' own pixmaps over black.
//
// With XInput 2 (on a connection of our own, not under Xwayland) the desktop hears of every
// move of the pointing devices while the pointer rests, so that a timer need not ask the
// server where the pointer is on every tick.
//
// With the Damage extension (on a connection of our own, not under Xwayland) the desktop
// follows what changes on the screen and in the windows it composed, so that the frame cycle can
// tell a still zone from a changed one; changes of our own windows do not count.
//
// X coordinates are device pixels; the virtual desktop is the root window, origin (0, 0).
// All calls come from the GUI thread.

#include <cstdint>
#include <memory>

#include "Desktop.h"

struct xcb_connection_t;

namespace ombrix {

struct X11Options {
  // Read pixels through a shared-memory segment when the server allows it (a local display).
  bool useShm = true;
  // Rebuild the zone without the program's own windows when the server can; false grabs the
  // root as it is on screen.
  bool leaveOutOwnWindows = true;
  // Follow changes on the screen (Damage) so that ZoneMayHaveChanged can answer false.
  bool trackChanges = true;
};

class X11Desktop : public Desktop {
 public:
  // Opens `displayName` (null: $DISPLAY) on a connection of its own, checks the extensions and
  // starts. Null, with the reason on stderr, when the display cannot be opened or its pixel
  // format is not 32-bit true colour.
  static std::unique_ptr<X11Desktop> Open(const char* displayName = nullptr,
                                          X11Options options = {});
  // Starts on a connection that the caller keeps (for example the toolkit's): it is never
  // closed here and its event queue is never read. `screen` is the screen number.
  static std::unique_ptr<X11Desktop> Attach(xcb_connection_t* connection, int screen,
                                            X11Options options = {});
  ~X11Desktop() override;
  X11Desktop(const X11Desktop&) = delete;
  X11Desktop& operator=(const X11Desktop&) = delete;

  // Gives back everything that the start took (server resources, the redirection of the
  // windows, the shared memory, our own connection). Safe to call twice; afterwards every
  // query fails as a screen that cannot be read.
  void Stop();

  // Whether pixels currently travel through shared memory, and whether copies leave out our
  // windows: what the server offered, within the options.
  bool UsesShm() const;
  bool LeavesOutOwnWindows() const;
  // Whether the server is Xwayland, as the server itself tells: its XWAYLAND extension, or
  // RandR outputs named XWAYLAND0, XWAYLAND1, ...
  bool IsXwayland() const override;

  // The socket of our own connection (-1 after Stop or on a borrowed connection), to watch for
  // the server going away: when it becomes readable, ask ConnectionLost.
  int FileDescriptor() const override;
  // Reads what has arrived on our own connection and tells whether the server has gone.
  bool ConnectionLost() override;

  // `provider` returns the ids of our top-level X windows; it is called once per CopyZone.
  // The window manager's frame around each (the root's child that holds it) is left out too.
  void SetOwnWindowsProvider(OwnWindowsProvider provider) override;

  // Always asks the server.
  bool CursorPos(TPoint& position) override;
  // Asks the server only when a raw event told of a move since its last answer, or at the
  // latest on every kPollsPerAsk-th call (a warp sends no raw event); with no XInput 2, on a
  // borrowed connection and under Xwayland, on every call.
  bool PolledCursorPos(TPoint& position) override;
  static constexpr int kPollsPerAsk = 4;
  // kPollsPerAsk while the pointer rests with its raw events heard and every change of the
  // zone, the windows and the root is tracked on our own connection, with none unread; else 0.
  int RestTicks() override;
  TRect VirtualScreen() override;
  int MonitorCount() override;
  TRect NearestMonitor(const TRect& window) override;
  // Whether changes are tracked (Damage), so that ZoneMayHaveChanged can answer false.
  bool TracksChanges() const;
  bool ZoneMayHaveChanged(const TRect& zone) override;
  // Also fails when the zone reaches past the root window.
  bool CopyZone(const TRect& zone, const TPoint (&points)[3], TBitmap& capture) override;

 private:
  struct Impl;
  explicit X11Desktop(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace ombrix
