#pragma once
// The screen as a desktop's screen cast delivers it: one stream of frames per monitor, each in
// the monitor's physical pixels, with the cursor as metadata beside the picture. This part
// knows nothing of D-Bus or PipeWire: the stream reader hands its frames and cursor reports to
// a CastFrames board, and CastScreen turns them into the Desktop the frame cycle reads, in the
// logical coordinates of the virtual desktop (those of the X11 side under Xwayland).
//
// The cast shows the program's own windows too, and nothing can leave them out of it. So the
// screen keeps a picture of the whole virtual desktop in which every point holds what was last
// seen there while none of our windows covered it; CopyZone copies the zone from that picture.
// What changes behind one of our windows therefore shows as it was when the window last moved.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Desktop.h"

namespace ombrix {

// One monitor of the cast: where it lies on the virtual desktop and how large it is there, in
// logical pixels, as the portal's answer gives each stream's position and size.
struct CastMonitor {
  TRect logical;
};

// Maps a point of a monitor's stream (physical pixels of a frame physicalWidth x
// physicalHeight) to the virtual desktop: scaled by logical / physical and rounded down, so
// that on a monitor at 1.25 the stream's 640,400 is 512,320 from the monitor's corner. The
// result is clamped to the monitor. Preconditions: both physical sizes are positive.
TPoint StreamToDesktop(const CastMonitor& monitor, int physicalWidth, int physicalHeight,
                       TPoint streamPoint);

// The stream column (or row) that a logical column (row) `logical` of a monitor `logicalSize`
// wide samples in a frame `physicalSize` wide: the first physical pixel that StreamToDesktop
// maps to that logical one (when the stream has at least as many pixels).
// 0 <= logical < logicalSize; the result lies in 0 .. physicalSize - 1.
int DesktopToStream(int logical, int logicalSize, int physicalSize);

// A frame of one stream: 32-bit pixels, bytes blue, green, red and one unused, rows top-down
// without padding, and when the compositor made it.
struct CastFrame {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;
  std::chrono::steady_clock::time_point made{};
};

// Where the stream readers (on their own thread) leave the newest frame and cursor report of
// every monitor, and where the screen (on the GUI thread) takes them. Every call is
// thread-safe.
class CastFrames {
 public:
  explicit CastFrames(std::size_t streams);
  ~CastFrames();
  CastFrames(const CastFrames&) = delete;
  CastFrames& operator=(const CastFrames&) = delete;

  std::size_t Streams() const { return slots_.size(); }

  // Keeps a copy of a frame of stream `stream` as its newest, replacing one not yet taken.
  // `rows` points at the first byte of the top row, `stride` is the bytes between rows.
  // `redFirst`: the bytes are red, green, blue (RGBx) rather than blue, green, red. `made`:
  // when the compositor made the frame (its time stamp, else when it arrived).
  // Preconditions: width, height > 0; stride >= 4 * width.
  void PutImage(std::size_t stream, const uint8_t* rows, int width, int height,
                std::ptrdiff_t stride, bool redFirst,
                std::chrono::steady_clock::time_point made = std::chrono::steady_clock::now());
  // Records the stream's cursor report: `onMonitor` false when the cursor is not on this
  // stream's monitor (the compositor sends an invalid cursor then), else its position in the
  // stream's pixels of a frame physicalWidth x physicalHeight.
  void PutCursor(std::size_t stream, bool onMonitor, TPoint position, int physicalWidth,
                 int physicalHeight);
  // Records that the cast cannot go on (the stream or the connection was lost); the first
  // reason given is kept.
  void PutFailure(const std::string& reason);

  // Whether stream `stream` has ever delivered a frame.
  bool Delivered(std::size_t stream) const;
  // Whether stream `stream` has a frame that TakeImage has not taken yet.
  bool HasNewImage(std::size_t stream) const;
  // Moves the stream's newest frame into `frame` when there is one not yet taken; the frame's
  // previous storage is recycled for the stream's next frame. False, `frame` untouched, else.
  bool TakeImage(std::size_t stream, CastFrame& frame);

  struct CursorReport {
    bool known = false;  // some stream has reported the cursor on its monitor
    std::size_t stream = 0;
    TPoint position;  // in that stream's pixels
    int physicalWidth = 0;
    int physicalHeight = 0;
  };
  // The cursor as last reported on a monitor: the newest report that placed it on one.
  CursorReport Cursor() const;

  // The reason given to PutFailure, empty while the cast goes on.
  std::string Failure() const;
  // A descriptor that becomes readable once a failure is put: the GUI thread can watch it
  // instead of asking. -1 when the system gave none.
  int FailureDescriptor() const { return failureEvent_; }

  // How many pictures and cursor reports have arrived, over all streams.
  struct Counts {
    uint64_t images = 0;
    uint64_t cursorReports = 0;
  };
  Counts Arrived() const;

  // Waits until every stream has delivered at least one frame, a failure was reported, or
  // `timeout` has passed; true in the first case only.
  bool WaitForEveryStream(std::chrono::milliseconds timeout) const;

 private:
  struct Slot {
    CastFrame newest;
    bool fresh = false;
    bool everDelivered = false;
    bool cursorOnMonitor = false;
    TPoint cursor;
    int cursorPhysicalWidth = 0;
    int cursorPhysicalHeight = 0;
    uint64_t cursorSerial = 0;
  };
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<Slot> slots_;
  uint64_t serial_ = 0;
  uint64_t images_ = 0;
  std::string failure_;
  int failureEvent_ = -1;
};

// The rectangles of the program's own windows on the virtual desktop, frames included. Asked
// afresh on every copy that has a new frame to take in.
using OwnRectsProvider = std::function<std::vector<TRect>()>;

struct CastScreenOptions {
  // How long after one of our windows left a place frames may still show it there: the
  // compositor may have begun them before it saw the move. Frames made within that time leave
  // the place as it was; a place left while the screen then stays still keeps what it showed
  // before the window came, until the next frame.
  std::chrono::milliseconds windowTrail{150};
  // The clock that tells when our windows moved, on the frames' time line (tests pass their
  // own).
  std::function<std::chrono::steady_clock::time_point()> clock = std::chrono::steady_clock::now;
};

class CastScreen : public Desktop {
 public:
  // One stream per monitor, in the order of `monitors`. Precondition: at least one monitor,
  // each of positive size.
  explicit CastScreen(std::vector<CastMonitor> monitors, CastScreenOptions options = {});

  // Where the stream readers leave frames and cursor reports for this screen.
  CastFrames& Frames() { return *frames_; }
  const CastFrames& Frames() const { return *frames_; }

  // Where our own windows are; without a provider nothing is left out.
  void SetOwnRectsProvider(OwnRectsProvider provider) { ownRects_ = std::move(provider); }

  bool CursorPos(TPoint& position) override;
  TRect VirtualScreen() override { return virtualScreen_; }
  int MonitorCount() override { return static_cast<int>(monitors_.size()); }
  TRect NearestMonitor(const TRect& window) override;
  // Takes in the newest frames, then copies the zone from the picture of what lies below our
  // windows. Fails until every monitor has delivered a frame, and once the cast has failed.
  bool CopyZone(const TRect& zone, const TPoint (&points)[3], TBitmap& capture) override;
  // False when the zone is the one copied last and no frame has arrived since (a still screen
  // sends no frames, so it costs nothing), or when the frames that arrived leave its pixels as
  // they were: a frame comes for any change of the screen, our own view's repaint among them,
  // which would otherwise draw the view again, and so on, for ever.
  bool ZoneMayHaveChanged(const TRect& zone) override;

  // The picture (top-down, 32 bits per pixel, the virtual desktop's size) as of the last copy.
  const std::vector<uint8_t>& Picture() const { return picture_; }

  // Takes every stream's newest frame into the picture, outside our windows. Every copy does;
  // the start does once before our windows show, so that the picture below them is complete.
  // False when no frame had arrived.
  bool TakeInNewFrames();

 private:
  void TakeIn(std::size_t monitor, const CastFrame& frame, const std::vector<TRect>& covered);
  // Asks where our windows are now; the places they left start a trail.
  void FollowOwnWindows();
  // What a frame made at `made` may show of our windows: where they are and the places they
  // left too shortly before.
  std::vector<TRect> CoveredRects(std::chrono::steady_clock::time_point made) const;

  std::vector<CastMonitor> monitors_;
  std::vector<TRect> monitorRects_;
  std::unique_ptr<CastFrames> frames_;
  CastScreenOptions options_;
  TRect virtualScreen_;
  OwnRectsProvider ownRects_;
  std::vector<uint8_t> picture_;
  std::vector<bool> seen_;  // per monitor: a frame has been taken in
  CastFrame taken_;         // storage recycled between frames
  // Where our windows were, and until when that keeps the place out of the picture.
  struct Trail {
    TRect rect;
    std::chrono::steady_clock::time_point left;  // when the window was no longer seen there
  };
  std::vector<TRect> lastRects_;
  std::vector<Trail> trails_;
  TRect lastZone_{0, 0, -1, -1};
  // The pixels of the picture that the last copy read: lastZone_ on the virtual desktop.
  std::vector<uint8_t> lastZonePixels_;
  // The part of `zone` on the virtual desktop, relative to the picture's top-left corner.
  TRect OnPicture(const TRect& zone) const;
  // Whether the picture holds lastZonePixels_ at lastZone_.
  bool SameAsLastCopy() const;
};

}  // namespace ombrix
