#pragma once
// The main window (unit uZoom): a small stay-on-top window whose client area shows either the
// processed zone around the cursor (the view, Image1) or, while the cursor rests over the
// window, a centred control panel (Panel1) floating in see-through window area. It owns the
// frame cycle (FrameCycle.h): on every tick of Timer1 it gathers the cycle's settings from its
// controls and the command window, runs the cycle and shows what the cycle returns.
//
// Every size and position the frame cycle works with is in device pixels of the virtual
// desktop, as the Desktop reports them: on a scaled display the view still shows one screen
// pixel per bitmap pixel at zoom 1. Qt's own geometry (layout, size limits) stays logical.
//
// Everything here runs on the GUI thread. Handlers that Qt calls enter through the error
// report guard (ErrorReport.h); the public operations below raise instead, for their caller's
// guard to report.

#include <QRegion>
#include <QWidget>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>

#include "Controls.h"
#include "Desktop.h"
#include "FrameCycle.h"
#include "Graphics.h"
#include "Ucmdprocess.h"

class QCheckBox;
class QDialog;
class QFrame;
class QGroupBox;
class QLabel;
class QPushButton;
class QScrollBar;
class QSlider;
class QSpinBox;
class QToolButton;

namespace ombrix {

class TForm2;
class TFormCmd;
class TImageWork;

// The frame timer's period at start, in milliseconds: also the speed bar's lowest position and
// its step.
inline constexpr int kStartTimerPeriod = 25;
// The largest client area, in pixels, that the sizing rule lets a single-monitor window reach.
inline constexpr int MaxClientArea = 786432;  // 1024 x 768

class TForm1 : public QWidget, public TCmdMainWindow {
 public:
  // `desktop` is the screen the frame cycle reads; it must outlive the window. The window is
  // created hidden, with the defaults of FormCreate and Timer1 running at TimerPeriod.
  explicit TForm1(Desktop& desktop);
  ~TForm1() override;

  // Controls, owned by the window.
  TImage* Image1;
  QFrame* Panel1;
  QGroupBox* GroupBoxZoom;
  QSlider* Slider;
  QGroupBox* GroupBoxSharpen;
  QScrollBar* ScrollBarLevel;
  QGroupBox* GroupBoxOperation;
  QSlider* TrackBarOperation;
  QGroupBox* GroupBox3D;
  QSlider* TrackBar3D;
  QCheckBox* CheckBoxW;
  QCheckBox* CheckBoxH;
  QSpinBox* UpDown1;  // with its number field Edit1
  QSpinBox* UpDown2;  // with its number field Edit2
  QPushButton* Button1;
  QCheckBox* cbSrediste;
  QToolButton* SpeedButton1;
  QScrollBar* ScrollBar1;
  QPushButton* BitBtn1;
  QPushButton* BitBtn2;
  QLabel* Label11;
  // The frame timer; the picture is frozen exactly while its interval is 0.
  std::unique_ptr<TTimer> Timer1;
  // The cross-line colour dialog of SpeedButton1.
  std::unique_ptr<TColorDialog> ColorDialog1;

  // The command window, whose gamma the zoom reads; null reads as gamma 0. Taking it makes
  // this window the one it works with (TCmdMainWindow).
  void SetFormCmd(TFormCmd* formCmd);
  TFormCmd* FormCmd() const { return formCmd_; }
  // The statistics window that a left click on the view fills; null: no statistics.
  void SetForm2(TForm2* form2) { form2_ = form2; }

  // Main window state.
  // The processing component that sharpens the view, owned by the frame cycle.
  TImageWork* ImageWork() const { return &cycle_->ImageWork(); }
  TBitmap& CaptureBitmap() { return cycle_->Capture(); }
  bool ZoneFixed() const { return ZoneFixed_; }
  void SetZoneFixed(bool fixed) { ZoneFixed_ = fixed; }
  TPoint ZonePoint() const { return cycle_->ZonePoint(); }
  TPoint PrevZonePoint() const { return cycle_->PrevZonePoint(); }
  bool NonClientActive() const { return NonClientActive_; }
  void SetNonClientActive(bool active) { NonClientActive_ = active; }
  bool ForceCapture() const { return ForceCapture_; }
  void SetForceCapture(bool force) { ForceCapture_ = force; }
  int TimerPeriod() const { return TimerPeriod_; }
  void SetTimerPeriod(int milliseconds) { TimerPeriod_ = milliseconds; }
  TColor CrossColor() const { return CrossColor_; }
  void SetCrossColor(TColor color) { CrossColor_ = color; }
  int CrossTiltX() const { return CrossTiltX_; }
  void SetCrossTiltX(int tilt) { CrossTiltX_ = tilt; }
  int CrossTiltY() const { return CrossTiltY_; }
  // The pixel inspector's keys N, G and I: nearest-neighbour zoom, the grid between the
  // enlarged pixels, inverted colours. All off at start.
  bool NearestZoom() const { return NearestZoom_; }
  bool PixelGrid() const { return PixelGrid_; }
  bool InvertedColours() const { return InvertedColours_; }
  void SetCrossTiltY(int tilt) { CrossTiltY_ = tilt; }
  // The background colour, shown as the one-pixel outline around the see-through middle.
  TColor Color() const { return Color_; }
  void SetColor(TColor color) {
    Color_ = color;
    update();
  }
  // True while Timer1 is stopped.
  bool Frozen() const override;

  // The sizing values, outer sizes in device pixels.
  int MinTrackWidth() const { return MinTrackWidth_; }
  int MinTrackHeight() const { return MinTrackHeight_; }
  int MaxTrackWidth() const { return MaxTrackWidth_; }
  int MaxTrackHeight() const { return MaxTrackHeight_; }
  int FrameExtraWidth() const { return FrameExtraWidth_; }
  int FrameExtraHeight() const { return FrameExtraHeight_; }

  // One frame cycle: called by Timer1 and directly (freeze, clipboard copy). Raises what a
  // stage raises (the sharpen stage's EOutOfMemory); the cycle then ends there, its objects
  // released.
  void Timer1Timer();
  // The screen's own connection has news (its descriptor became readable and was read): a
  // timer resting on a still view ticks now and runs at its period again.
  void ScreenNews();

  // Draws `bitmap` (32 bits per pixel, width x height) into the view: the view is set to
  // width x height, the bitmap's width x height pixels are drawn onto `rectangle` (right and
  // bottom exclusive) zoomed `factor` times about the centre (0 or less counts as 1) with
  // `gamma` (0: no adjustment), then sharpened with `level` 0..5 and shown. Does nothing when
  // width or height is not positive; a bitmap that is not 32-bit or holds fewer pixels is not
  // drawn (the view is still sized and shown). Raises what the sharpen stage raises.
  // `colours`, when given, is applied to every colour byte after the gamma (brightness and
  // contrast).
  void RenderToView(const TBitmap& bitmap, const TRect& rectangle, int factor, float gamma,
                    int level, int width, int height,
                    const std::array<uint8_t, 256>* colours = nullptr);

  // Handlers of the panel's controls, connected to them at creation; public so that other
  // windows may run them as the controls do.
  // A change of the box's state, by the user or by the program: the view turns black and the
  // other box is unchecked, which runs that box's handler in turn when it was checked. So
  // checking one box while the other is checked ends with neither checked.
  void CheckBoxWClick();
  void CheckBoxHClick();
  // Runs ColorDialog1; a confirmed colour becomes CrossColor, a cancel changes nothing.
  void SpeedButton1Click();
  // Scroll events of ScrollBarLevel: only a released thumb (scPosition) sets the unsharp mask's
  // radius to `position`, so that the kernel is ready before the next frame; 0 leaves it.
  void ScrollBarLevelScroll(TScrollCode scrollCode, int position);
  // "About" (BitBtn1) and "Help" (BitBtn2): the about box or the help window, created without
  // owner and shown modally while the window is out of the stay-on-top layer and the picture
  // pauses. Whatever happens, the timer then runs at TimerPeriod (also after a freeze), the
  // window is released and this one is stay-on-top again. Defined in uZoomModal.cpp.
  void BitBtn1Click();
  void BitBtn2Click();
  // Shows a modal window and returns when it has closed; empty (the default): its exec().
  // Tests put theirs here.
  std::function<void(QDialog&)> ModalRunner;

  // Keys and mouse buttons (Input.cpp), public so that the command window and tests run
  // them as the events do. Each raises for its caller's guard.
  // A key press with its Qt key code and modifiers: the cross-line tilts, F, Space, Ctrl+M,
  // Ctrl+C, and without Ctrl N (nearest-neighbour zoom), G (pixel grid) and I (inverted
  // colours; a frozen view is inverted at once). The main window and the command window call it
  // only while they themselves, not one of their controls, have the keyboard focus.
  void FormKeyDown(int key, Qt::KeyboardModifiers shift) override;
  // A press on the client area or the panel with `buttons` held: the right one toggles the
  // frame.
  void FormMouseDown(Qt::MouseButtons buttons);
  // A press on the view at (x, y) of the view bitmap: the right button toggles the frame, then
  // the left one measures the picture in the statistics window.
  void Image1MouseDown(Qt::MouseButtons buttons, int x, int y);
  // A release over the client area or the view.
  void FormMouseUp();
  // Scroll events of ScrollBar1: only a released thumb sets TimerPeriod and restarts Timer1.
  void ScrollBar1Scroll(TScrollCode scrollCode, int position);
  // "<>": the client takes the size of the two up-downs, within the size limits.
  void Button1Click();
  // Activates the main window and gives it, not one of its controls, the keyboard focus.
  void FocusMainWindow() override;
  // The command window's redraw: RenderToView of the whole `picture` at its own size, factor
  // 1, level 0, with the adjustments' gamma, brightness and contrast; inverted when I is on.
  void RedrawView(const TBitmap& picture, const TCmdAdjustments& adjustments) override;
  // The view bitmap.
  const TBitmap& CurrentView() override { return Image1->Picture(); }

  // The window's outer rectangle and its client area in device pixels of the virtual desktop.
  TRect WindowRect() const;
  TRect ClientRect() const;
  // The rectangle of `frame`, the window system's frame in logical pixels.
  TRect WindowRect(const QRect& frame) const;
  // The client size in device pixels: the view's size.
  QSize ClientDeviceSize() const;

 protected:
  // The sharpen stage of every drawn frame and of RenderToView: sharpens the view with
  // strength `level` (level 0 leaves it). Outside a frame cycle it also shows the view. Raises
  // what the filter raises, with the zoom's picture shown. A window that watches the frames
  // drawn puts its own in front and calls this one.
  virtual void SharpenStage(int level);

  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CreateControls();
  void ConnectHandlers();
  void FormCreate();
  void FormDestroy();
  void FormResize();
  void WMGetMinMaxInfo();
  // Input (Input.cpp): focus rules and the connections of ScrollBar1, Button1 and the view.
  void ConnectInput();
  void Freeze();
  void Unfreeze();
  void CopyToClipboard();
  // Between the sizeable frame and none, on the same X window: its shape, stacking and place
  // stay.
  void ToggleBorderStyle();

  // The timer's tick: follows the window frame's size and the user's work on it, then runs
  // one cycle.
  void Tick();
  // The window's outer rectangle and the view's top-left corner on the screen, in device
  // pixels, as a timer tick reads them once.
  struct TTickWindow {
    TRect rect;
    TPoint clientOrigin;
  };
  // What the frame cycle reads, from the controls, the command window and the window's state;
  // the window's place as the tick read it, when given.
  FrameSettings CycleSettings(bool fromTimer, const std::optional<TTickWindow>& tickWindow) const;
  // Shows the view or the panel as the cycle asks.
  void ShowCycleResult(FrameResult::Shows shows, bool viewDrawn);
  // Lets the events that waited during the cycle run.
  void PumpMessages();
  // Fills the view black over the whole client area and shows it.
  void ClearView();
  // The gamma the zoom uses: the command window's.
  float LiveGamma() const;
  void WriteCycleCaption();

  // Sets NonClientActive from where the pointer is while the user works on the window's frame,
  // which on X11 belongs to the window manager and sends us nothing. `frame` is the window
  // system's frame, `window` what the tick read of it.
  void TrackNonClientArea(const QRect& frame, const TTickWindow& window);
  // FrameExtraWidth, FrameExtraHeight from the current frame (or `frame`, the window
  // system's frame as just read); true when they changed.
  bool UpdateFrameExtra();
  bool UpdateFrameExtra(const QRect& frame);
  // The window's shape: everything but the see-through magenta middle of FormPaint, with the
  // panel and the view's picture where they are shown.
  void UpdateColourKey();
  // Applies outer device-pixel size limits as Qt's logical client size limits.
  void ApplyTrackSize(int minWidth, int minHeight, int maxWidth, int maxHeight);
  TPoint ToDevice(const QPoint& globalLogical) const;
  int ToDevice(int logical) const;

  Desktop& desktop_;
  TFormCmd* formCmd_ = nullptr;
  TForm2* form2_ = nullptr;

  std::unique_ptr<FrameCycle> cycle_;
  bool ZoneFixed_ = false;
  bool NonClientActive_ = false;
  bool ForceCapture_ = false;
  int TimerPeriod_ = kStartTimerPeriod;
  TColor CrossColor_ = clRed;
  int CrossTiltX_ = 0;
  int CrossTiltY_ = 0;
  bool NearestZoom_ = false;
  bool PixelGrid_ = false;
  bool InvertedColours_ = false;
  // The brightness and contrast table of the command window's redraws.
  TBrightnessContrast redrawColours_;
  TColor Color_ = clBlack;

  int MinTrackWidth_ = 0;
  int MinTrackHeight_ = 0;
  int MaxTrackWidth_ = 1024;
  int MaxTrackHeight_ = 768;
  int FrameExtraWidth_ = 0;
  int FrameExtraHeight_ = 0;

  // Set by Tick for the one cycle it starts: direct cycles never keep an old view.
  bool timerTick_ = false;
  // The cursor as Tick read it for the one cycle it starts; a direct cycle asks the screen.
  std::optional<TPoint> tickCursor_;
  // The window's place as Tick read it for that cycle; a direct cycle reads it afresh.
  std::optional<TTickWindow> tickWindow_;
  int cycleDepth_ = 0;
  // The last cycle was a timer tick that kept its still view.
  bool keptStill_ = false;
  // Wakes a resting Timer1 at the user's keys and buttons in any of our windows.
  std::unique_ptr<QObject> inputWake_;
  // True while the frame cycle runs its stages: the window shows their view once they end.
  bool runningStages_ = false;
  bool placed_ = false;
  QRect lastFrame_;
  QRegion shape_;
  // What the shape was last built from: the client size, the panel's and the picture's
  // rectangles (empty when hidden).
  struct TShapeInputs {
    QSize client;
    QRect panel;
    QRect picture;
    bool operator==(const TShapeInputs&) const = default;
  };
  TShapeInputs shapeInputs_;
  // The cycle's caption as last written, and what it was made of.
  struct TCaptionInputs {
    QSize client;
    TPoint zonePoint;
    bool operator==(const TCaptionInputs&) const = default;
  };
  TCaptionInputs captionInputs_;
  QString caption_;
};

}  // namespace ombrix
