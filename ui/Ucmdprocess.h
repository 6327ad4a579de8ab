#pragma once
// The command window (unit Ucmdprocess): created hidden at start, beside the main window. It
// holds the gamma bar that the live view reads on every frame. GUI thread only.

#include <QWidget>

class QFrame;
class QLabel;
class QScrollBar;

namespace ombrix {

class TFormCmd : public QWidget {
 public:
  TFormCmd();

  QFrame* Panel1;
  QLabel* Label1;
  // 0..500, start 0: the live view's gamma is its position / 100.
  QScrollBar* ScrollBarGamma;
};

}  // namespace ombrix
