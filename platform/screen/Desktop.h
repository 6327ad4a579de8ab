#pragma once
// The screen as the frame cycle sees it: the cursor, the virtual desktop and its monitors, and
// the copy of a zone into the capture bitmap. Each backend lives in a folder of its own (x11/);
// DesktopLoader picks one for the session, and the tests have a picture in memory
// (MemoryDesktop). All calls come from the GUI thread. Every coordinate is in device pixels of
// the virtual desktop.

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "Classes.h"
#include "Graphics.h"

namespace ombrix {

// The native ids of the program's own top-level windows. Asked afresh on every copy: the
// toolkit may re-create a window under a new id.
using OwnWindowsProvider = std::function<std::vector<uint32_t>()>;

class Desktop {
 public:
  virtual ~Desktop() = default;

  // The cursor position; false when it cannot be read (the caller keeps its last one).
  virtual bool CursorPos(TPoint& position) = 0;

  // The cursor position for a caller that asks on every tick of a timer. A screen that hears
  // of the pointer's moves may answer from the position it read last while none came, and ask
  // again only now and then for the moves it does not hear of (see the backend); the default
  // asks as CursorPos does.
  virtual bool PolledCursorPos(TPoint& position) { return CursorPos(position); }

  // How many timer periods a caller of PolledCursorPos, whose tick found its view unchanged,
  // may wait before its next tick, counting on FileDescriptor() to become readable (then
  // ConnectionLost reads it) at every change that could change that view: a move of any
  // pointing device, a change of the screen under the zone, of the windows' layout or of the
  // screen's size. (Keys and buttons in the program's own windows are the caller's to hear.)
  // The screen then asks its server again at the next poll (a warp tells nothing). 0 (the
  // default): the screen cannot hear of every change, or one is waiting; keep ticking.
  virtual int RestTicks() { return 0; }

  // The virtual desktop: the rectangle that holds every monitor.
  virtual TRect VirtualScreen() = 0;

  // How many monitors there are (1 when the platform cannot tell).
  virtual int MonitorCount() = 0;

  // The bounds of the monitor nearest to `window` (the one it overlaps most, else the closest).
  virtual TRect NearestMonitor(const TRect& window) = 0;

  // Copies the zone's pixels (zone.Width() x zone.Height() from zone.Left, zone.Top) into
  // `capture` through the parallelogram `points` (see PlgBlt). `capture` is 32 bits per pixel
  // and already sized by the caller. The program's own windows are never part of the copy:
  // where the zone meets them, what lies below is copied. Returns false, leaving `capture`
  // untouched, when the screen cannot be read now (the caller tries again next tick).
  // Precondition: the zone lies inside VirtualScreen().
  virtual bool CopyZone(const TRect& zone, const TPoint (&points)[3], TBitmap& capture) = 0;

  // Whether the pixels of `zone` may differ from what the last successful CopyZone of exactly
  // this zone gave, the program's own windows left out. True whenever the screen cannot tell
  // (the default): only a screen that tracks every change may answer false.
  virtual bool ZoneMayHaveChanged(const TRect& zone) {
    static_cast<void>(zone);
    return true;
  }

  // Tells the screen how to find the program's own windows, which CopyZone leaves out. The
  // default ignores it: a desktop without windows has nothing to leave out.
  virtual void SetOwnWindowsProvider(OwnWindowsProvider provider) { static_cast<void>(provider); }

  // A descriptor that becomes readable when the screen's own connection has news, to watch for
  // the screen going away: then ask ConnectionLost. -1 (the default) when there is none.
  virtual int FileDescriptor() const { return -1; }
  // Reads what has arrived on the screen's own connection and tells whether the screen has
  // gone for good (its server ended). The default has no connection to lose.
  virtual bool ConnectionLost() { return false; }
  // Whether the X server is Xwayland, inside a Wayland session: only the windows of X11
  // programs can be seen then. False for every screen that is not an X server.
  virtual bool IsXwayland() const { return false; }
};

// The monitor in `monitors` nearest to `window`: the one it overlaps most, else the closest;
// `fallback` when the list is empty.
TRect NearestMonitorOf(const std::vector<TRect>& monitors, const TRect& window,
                       const TRect& fallback);

}  // namespace ombrix
