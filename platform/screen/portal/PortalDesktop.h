#pragma once
// The screen of a Wayland session, read from the desktop's screen cast: the portal session
// (PortalSession), one PipeWire stream per monitor (CastStreams) and the screen that the frame
// cycle reads (CastScreen). The program's own windows stay X11 windows under Xwayland; their
// rectangles come from the X server and are left out of every copy.

#include <chrono>
#include <memory>
#include <string>

#include "CastScreen.h"
#include "PortalSession.h"

struct xcb_connection_t;

namespace ombrix {

class CastStreams;

struct PortalDesktopOptions {
  TPortalOptions portal;
  // The most frames a second the compositor is asked for: no more than the frame cycle's timer
  // can use at its fastest (25 ms).
  int maxFramesPerSecond = 40;
  // How long to wait for the first frame of every monitor.
  std::chrono::milliseconds firstFrameTimeout{std::chrono::seconds(10)};
  CastScreenOptions screen;
};

class PortalDesktop : public CastScreen {
 public:
  // Starts the portal session (the desktop may ask the user first), connects the streams,
  // waits for one frame of every monitor, so that the first copy is complete, and for the
  // screen to settle (the consent dialog closing). Null with `failure` filled when any step
  // fails. Blocks; call it before the windows show.
  static std::unique_ptr<PortalDesktop> Open(const PortalDesktopOptions& options,
                                             TPortalFailure& failure);
  ~PortalDesktop() override;

  // Why the cast ended (the stream or PipeWire was lost); empty while it goes on.
  std::string Failure() { return Frames().Failure(); }
  // Readable once the cast has ended; ConnectionLost then says so.
  int FileDescriptor() const override;
  bool ConnectionLost() override { return !Failure().empty(); }

  // Our windows are X11 windows: their ids are turned into rectangles, frames included and
  // with room around for the shadow the compositor draws, through a connection of our own to
  // $DISPLAY (the session's Xwayland). Without it nothing can be left out, and that is said
  // once on stderr.
  void SetOwnWindowsProvider(OwnWindowsProvider provider) override;

 private:
  PortalDesktop(std::vector<CastMonitor> monitors, const CastScreenOptions& options);
  std::unique_ptr<PortalSession> session_;
  std::unique_ptr<CastStreams> streams_;
  xcb_connection_t* x11_ = nullptr;
};

// The rectangles on the root window of the mapped top-level windows that hold the windows
// `ids` (the window manager's frame when there is one), borders included. Windows that are gone
// or unmapped give none.
std::vector<TRect> TopLevelRectsOf(xcb_connection_t* connection, const std::vector<uint32_t>& ids);

// The one line for stderr that says why the screen cast cannot be used, and the longer text for
// the message box: what is missing and what to do.
std::string PortalProblemLine(const TPortalFailure& failure);
std::string PortalProblemAdvice(const TPortalFailure& failure);

}  // namespace ombrix
