#pragma once
// The frame cycle of the main window, without the window: what the zone around the cursor is,
// the capture of that zone through the graphic operation, the stages that turn it into the
// view, the still-cursor rule and the caption. The window gathers the settings from its
// controls, runs the cycle on every timer tick and shows what the cycle returns; nothing here
// knows a toolkit, so the cycle runs under test with an in-memory desktop and no display.
//
// Every size and position is in device pixels of the virtual desktop, as the Desktop reports
// them. One thread, the one that runs the window.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "BrightnessContrast.h"
#include "Desktop.h"
#include "Graphics.h"

namespace ombrix {

class TImageWork;

// The application's title, the first field of every caption.
inline constexpr char kApplicationTitle[] = "Ombrix";

// The window as the cycle needs to know it.
struct FrameWindow {
  // A minimised window only rewrites its caption.
  bool minimized = false;
  // The outer rectangle, frame included: a cursor inside it shows the panel.
  TRect rect;
  // The client area's top-left corner on the screen and its size: the view covers it, drawn
  // at the largest even size that fits.
  TPoint clientOrigin;
  int clientWidth = 0;
  int clientHeight = 0;
  // The user works on the window's frame: the panel shows wherever the cursor is.
  bool nonClientActive = false;
};

// What the drawn view is made of, besides the zone's pixels. A setting of a new stage belongs
// here: a still zone is then drawn again as soon as it changes.
struct FramePicture {
  // The graphic operation 0..5: copy, vertical mirror, horizontal mirror, quarter turn
  // clockwise, half turn, quarter turn counter-clockwise.
  int operation = 0;
  // The 3D operation 0..5 ("0", "X", "A", "I", "Md", "Mg"; see Stereo3D.h).
  int operation3D = 0;
  // W/2 and H/2: the zoom halves the drawn width or height.
  bool halfWidth = false;
  bool halfHeight = false;
  // The zoom slider's position 0..4 (factors 1, 2, 4, 6, 8).
  int zoom = 0;
  // 0: no adjustment.
  float gamma = 0.0f;
  // The command window's brightness and contrast, -100..100 each; both 0: no change.
  int brightness = 0;
  int contrast = 0;
  // The pixel inspector: nearest-neighbour zoom instead of bicubic, and the grey grid between
  // the enlarged pixels from factor 4 on.
  bool nearest = false;
  bool grid = false;
  // The unsharp mask's strength 0..5.
  int sharpenLevel = 0;
  // Inverted colours, after every stage but the cross-line.
  bool invert = false;
  // The cross-line over the view, its colour and its arms' tilts.
  bool crossLine = false;
  TColor crossColor = clRed;
  int crossTiltX = 0;
  int crossTiltY = 0;

  friend bool operator==(const FramePicture&, const FramePicture&) = default;
};

// Everything one run of the cycle reads.
struct FrameSettings {
  FrameWindow window;
  FramePicture picture;
  // The zone stays where it is, whatever the cursor does.
  bool zoneFixed = false;
  // Capture even with the cursor over the window: then the zone is the area under the view.
  bool forceCapture = false;
  // A timer tick, which may keep the view it drew last when nothing it was drawn from changed;
  // a direct run (a freeze, a copy) always draws.
  bool fromTimer = false;
  // Where the cursor is, when the window has just asked the screen for it this tick: the
  // cycle then need not ask again. Empty: the cycle asks.
  std::optional<TPoint> cursor;
};

// What the window shows after a run.
struct FrameResult {
  enum class Shows : uint8_t {
    Unchanged,  // whatever it showed before
    Panel,      // the control panel, the view hidden
    View,       // the view bitmap, the panel hidden
  };
  Shows shows = Shows::Unchanged;
  // The stages drew a new view: repaint it.
  bool viewDrawn = false;
  // The run went to its end: the window lets waiting events run (not after a timer tick that
  // kept its still view, which gave them no time to wait), then writes Caption().
  bool pumpEvents = false;
  bool writeCaption = false;
  // A timer tick kept its still view: nothing it was drawn from changed.
  bool keptStill = false;
  // The cross-line's tilts as the window keeps them from now on: the stage sets a tilt past
  // the largest it draws back to 0.
  int crossTiltX = 0;
  int crossTiltY = 0;
};

class FrameCycle {
 public:
  // `desktop` is the screen the cycle reads; it must outlive the cycle. Prepares the
  // processing component for the sharpen stage (raises EOutOfMemory as SetUpSharpen does).
  explicit FrameCycle(Desktop& desktop);
  ~FrameCycle();
  FrameCycle(const FrameCycle&) = delete;
  FrameCycle& operator=(const FrameCycle&) = delete;

  // One frame cycle. Raises what a stage raises (the sharpen stage's EOutOfMemory); the run
  // then ends there, the view showing the zoom's picture.
  FrameResult Run(const FrameSettings& settings);

  // The capture of the last drawn zone, unzoomed: what a freeze keeps and a copy hands out.
  TBitmap& Capture() { return *capture_; }
  // The picture the window shows; the window may draw into it too (a redraw, a blank view).
  TBitmap& View() { return view_; }
  // The processing component that sharpens the view.
  TImageWork& ImageWork() { return *imageWork_; }
  // The centre of the zone, and where it stood at the tick before.
  TPoint ZonePoint() const { return zonePoint_; }
  TPoint PrevZonePoint() const { return prevZonePoint_; }

  // The caption of a run that went to its end, for a client area of that size.
  std::string Caption(int clientWidth, int clientHeight) const;

  // The sharpen stage on the view with strength `level`.
  void SharpenView(int level);
  // Runs in place of the sharpen stage when set, and runs SharpenView itself: lets the window
  // watch every drawn frame. Empty: SharpenView.
  std::function<void(int level)> OnSharpenStage;

 private:
  // How the capture branch ended: the screen could not be read, the view stayed as it was (a
  // view too narrow to draw, or a timer tick's still view), or the stages drew a new one.
  enum class TBranchEnd : uint8_t { Unreadable, Kept, Still, Drawn };
  TBranchEnd CaptureBranch(const FrameSettings& settings, FrameResult& result);
  // Copies `zone` into the capture bitmap through `points`; a zone reaching past `desktop`
  // (a view larger than the desktop) gets black where there is no screen.
  bool CopyZone(const TRect& zone, const TRect& desktop, const TPoint (&points)[3], int w, int h);

  // Everything the drawing steps read, but the zone's pixels.
  struct TDrawnFrom {
    TRect zone;
    TPoint zonePoint;
    int w = 0;
    int h = 0;
    FramePicture picture;
    const void* filter = nullptr;
    float radius = 0.0f;
    friend bool operator==(const TDrawnFrom&, const TDrawnFrom&) = default;
  };
  TDrawnFrom DrawnFrom(const TRect& zone, int w, int h, const FramePicture& picture) const;

  Desktop& desktop_;
  std::unique_ptr<TImageWork> imageWork_;
  std::unique_ptr<TBitmap> capture_;
  TBitmap view_;
  TPoint zonePoint_;
  TPoint prevZonePoint_;
  TBrightnessContrast brightnessContrast_;
  std::optional<TDrawnFrom> lastDrawnFrom_;
  // The view's stamp when the cycle last drew it: while it holds, so does the view.
  uint64_t lastDrawnStamp_ = 0;
};

// The caption the window shows after a resize, for a client area of that size.
std::string SizeCaption(int clientWidth, int clientHeight);

// Shifts `zone` onto `desktop` without changing its size: left, top, right, bottom in this
// order, so that for a zone larger than the desktop the right and bottom edges win.
TRect KeepOnDesktop(TRect zone, const TRect& desktop);

}  // namespace ombrix
