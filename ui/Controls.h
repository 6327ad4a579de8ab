#pragma once
// The pieces of the window toolkit that Qt has no direct counterpart for: an image control that
// shows a TBitmap, a timer whose interval 0 means stopped, scroll bar events with their scroll
// codes, and a colour dialog that remembers its colour. All live on the GUI thread.

#include <QImage>
#include <QStringList>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "Graphics.h"

class QColor;
class QGroupBox;
class QImage;
class QLabel;
class QScrollBar;
class QSlider;
class QTimer;
class QToolButton;

namespace ombrix {

// Shows its picture, a 32-bit TBitmap, at the top-left corner one bitmap pixel per device
// pixel, or stretched to the control's size when Stretch is set. Where the picture does not
// reach, the control draws nothing and its parent shows through.
class TImage : public QWidget {
 public:
  explicit TImage(QWidget* parent);

  // The picture's pixels. Whoever changes them calls Changed() so that they are shown.
  TBitmap& Picture() { return *picture_; }
  const TBitmap& Picture() const { return *picture_; }
  // Shows `picture`, which its owner keeps for as long as the control, in place of the
  // control's own picture.
  void ShowPicture(TBitmap& picture) {
    picture_ = &picture;
    shownFrom_ = nullptr;
  }

  bool Stretch() const { return stretch_; }
  void SetStretch(bool stretch);

  // Announces a change of the picture's pixels or size: runs OnChange, then repaints at once.
  void Changed();
  // Runs after every Changed(), before the repaint.
  std::function<void()> OnChange;

  // The part of the control that the picture covers, in the control's own (logical)
  // coordinates: empty for an empty picture, the whole control when stretched.
  QRect PictureRect() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  // Opaque while the picture covers the whole control.
  void UpdateOpaque();
  // Writes the picture's part of `region` straight into the window's backing store when the
  // paint goes there unscaled; false (nothing written) when the painter must do it.
  bool PaintIntoBackingStore(const QRegion& region);

  TBitmap own_;
  TBitmap* picture_ = &own_;
  bool stretch_ = false;
  // The picture as last drawn, in Qt's form, and which picture at which stamp it shows.
  QImage shown_;
  const TBitmap* shownFrom_ = nullptr;
  uint64_t shownStamp_ = 0;
};

// A timer that calls OnTimer every Interval milliseconds on the GUI thread. Interval 0, the
// start value, stops it. OnTimer runs through the application's error report guard. Create and
// destroy it on the GUI thread; destroying it stops it.
class TTimer {
 public:
  TTimer();
  ~TTimer();
  TTimer(const TTimer&) = delete;
  TTimer& operator=(const TTimer&) = delete;

  int Interval() const { return interval_; }
  // Setting a different interval restarts the count; a negative one counts as 0.
  void SetInterval(int milliseconds);
  // A running timer's next tick comes `periods` intervals from now, unless Wake comes first;
  // after that tick it runs at its interval again. A stopped timer stays stopped.
  void Rest(int periods);
  // Ends a rest: the timer runs at its interval from now. True when it was resting.
  bool Wake();
  bool Resting() const { return resting_; }

  std::function<void()> OnTimer;

 private:
  std::unique_ptr<QTimer> timer_;
  int interval_ = 0;
  bool resting_ = false;
};

// What a scroll event of a scroll bar reports.
enum TScrollCode : uint8_t {
  scLineUp,    // an arrow button towards the minimum
  scLineDown,  // an arrow button towards the maximum
  scPageUp,    // a click on the track before the thumb
  scPageDown,  // a click on the track after the thumb
  scPosition,  // a dragged thumb was released: its final position
  scTrack,     // the thumb is being dragged
  scTop,       // moved to the minimum
  scBottom,    // moved to the maximum
};

// Calls handler(code, position) for every scroll event of `bar`, through the error report
// guard. `position` is where the thumb stands after the event; the bar's value follows it.
// A thumb released without a drag also reports scPosition. The connection lives as long as
// `bar`.
void ConnectScrollEvents(QScrollBar* bar, std::function<void(TScrollCode, int)> handler);

// The colour dialog: Execute opens it on Color and, when the user confirms a colour, makes it
// the new Color and returns true; a cancel returns false and changes nothing. Color starts
// black, so the dialog always opens on the colour it last returned.
class TColorDialog {
 public:
  // The modal dialogs get `parent` as their parent widget; it must outlive this dialog.
  explicit TColorDialog(QWidget* parent) : parent_(parent) {}

  TColor Color() const { return color_; }
  void SetColor(TColor color) { color_ = color; }

  bool Execute();

  // Shows the dialog on the colour given and returns the one chosen, or nothing when the user
  // cancels. Empty (the default): the toolkit's modal colour dialog. Tests put theirs here.
  std::function<std::optional<TColor>(TColor initial)> Runner;

 private:
  QWidget* parent_;
  TColor color_ = clBlack;
};

// The picture as Qt draws it: rows top-down, opaque; a null image when it cannot be made.
QImage ToImage(const TBitmap& bitmap);
// The same into `image`, which keeps its memory when it has the bitmap's size already.
void CopyToImage(const TBitmap& bitmap, QImage& image);

// True while `window` itself, and not one of its controls, has the keyboard focus: keys that a
// control ignores travel up to its window, and these must not act as the window's own.
bool HasOwnFocus(const QWidget& window);

// A horizontal track bar at (x, 16) of `group`, `width` x 17, positions 0..maximum starting at
// 0, one tick per position and a thumb of 10 pixels along the groove.
QSlider* NewTrackBar(QWidget* group, int x, int width, int maximum);

// Labels centred under the positions of `bar`, in its parent, each with its hint when one is
// given. Where neighbours would run into each other, the labels get a smaller face.
void AddPositionLabels(QSlider* bar, const QStringList& texts, const QStringList& hints = {});

// Fills the background of `widget` with `colour` (a window's colour, not a style's).
void SetBackgroundColor(QWidget& widget, const QColor& colour);

// A horizontal scroll bar at `place` of `parent`, minimum..maximum starting at the minimum, one
// position per arrow or track click.
QScrollBar* NewScrollBar(QWidget* parent, const QRect& place, int minimum, int maximum);

// A label of `text` at (x, y) of `parent`, sized to its text.
QLabel* NewLabel(QWidget* parent, const QString& text, int x, int y);

// A speed button: a tool button showing `caption` at `place` of `parent`, flat when asked.
QToolButton* NewSpeedButton(QWidget* parent, const QString& caption, const QRect& place,
                            bool flat = false);

// The zoom factor and sharpen strength boxes that the main window's panel and the command
// window both show: " Zoom factor " (137 x 49) with its track bar 0..4 labelled 1x to 8 x,
// at `zoomAt` of `parent`, and "Sharpen" (137 x 33) with its strength bar 0..5, at `sharpenAt`.
struct TZoomSharpenBoxes {
  QGroupBox* zoomBox;
  QSlider* zoom;
  QGroupBox* sharpenBox;
  QScrollBar* level;
};
TZoomSharpenBoxes NewZoomSharpenBoxes(QWidget* parent, QPoint zoomAt, QPoint sharpenAt);

// A colour of the picture classes (0x00BBGGRR) as Qt's, and back.
QColor ToQColor(TColor colour);
TColor FromQColor(const QColor& colour);

}  // namespace ombrix
