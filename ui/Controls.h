#pragma once
// The two controls of the window toolkit that Qt has no direct counterpart for: an image
// control that shows a TBitmap, and a timer whose interval 0 means stopped. Both live on the GUI
// thread and are owned by their parent QObject.

#include <QWidget>
#include <functional>
#include <memory>

#include "Graphics.h"

class QTimer;

namespace ombrix {

// Shows its picture, a 32-bit TBitmap, at the top-left corner one bitmap pixel per device
// pixel, or stretched to the control's size when Stretch is set. Where the picture does not
// reach, the control draws nothing and its parent shows through.
class TImage : public QWidget {
 public:
  explicit TImage(QWidget* parent);

  // The picture's pixels. Whoever changes them calls Changed() so that they are shown.
  TBitmap& Picture() { return picture_; }
  const TBitmap& Picture() const { return picture_; }

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

 private:
  TBitmap picture_;
  bool stretch_ = false;
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

  std::function<void()> OnTimer;

 private:
  std::unique_ptr<QTimer> timer_;
  int interval_ = 0;
};

}  // namespace ombrix
