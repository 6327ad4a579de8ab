#pragma once
// The statistics window (unit Unit2): created hidden at start; the pixel statistics of a left
// click into the main window's view fill it. It has no handlers of its own. GUI thread only.

#include <QWidget>

#include "Graphics.h"

class QPlainTextEdit;

namespace ombrix {

class TForm2 : public QWidget {
 public:
  // Stay-on-top, caption "FormMouse", hidden.
  TForm2();

  // Three lines of text: the clicked pixel, its 5 x 5 surroundings, the whole picture.
  QPlainTextEdit* Memo1;

  // The left-button part of a press on the main window's view at (x, y) of `view`: shows the
  // window when `frozen` and hidden, then, in either state, gives it the clicked pixel's colour
  // as background (white for a point outside the picture) and replaces the memo's text with
  // the three lines of PixelStatistics.
  void ShowPixelStatistics(const TBitmap& view, int x, int y, bool frozen);
};

}  // namespace ombrix
