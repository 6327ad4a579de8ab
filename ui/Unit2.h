#pragma once
// The statistics window (unit Unit2): created hidden at start; the pixel statistics fill it.
// GUI thread only.

#include <QWidget>

#include "Graphics.h"

namespace ombrix {

class TForm2 : public QWidget {
 public:
  TForm2();

  // The left-button part of a press on the main window's view at (x, y) of `view`: fills the
  // window with the pixel statistics and shows it when `frozen` and hidden.
  void ShowPixelStatistics(const TBitmap& view, int x, int y, bool frozen);
};

}  // namespace ombrix
