#pragma once
// The statistics window (unit Unit2): created hidden at start; the pixel statistics of a left
// click into the main window's view fill it. It has no handlers of its own. GUI thread only.

#include <QPoint>
#include <QWidget>
#include <optional>

#include "Graphics.h"

class QPlainTextEdit;

namespace ombrix {

// The room left between a clicked point and the statistics window that opens beside it.
inline constexpr int kStatisticsGap = 16;

// Where the statistics window's outer top-left corner goes when it opens for a click at
// `point`, for an outer size of width x height, within `area` (the available area of the
// point's screen; all in the same coordinates). To the right of the point when it fits there,
// else to its left, at the point's height moved into the area; when neither side has room,
// below the point, else above it, moved sideways into the area; when no side has room, to the
// right and below. The window never covers the point, with at least kStatisticsGap between.
TPoint StatisticsPlace(TPoint point, int width, int height, const TRect& area);

class TForm2 : public QWidget {
 public:
  // Stay-on-top, caption "FormMouse", hidden.
  TForm2();

  // Three lines of text: the clicked pixel, its 5 x 5 surroundings, the whole picture.
  QPlainTextEdit* Memo1;

  // The left-button part of a press on the main window's view at (x, y) of `view`: shows the
  // window when `frozen` and hidden, beside `screenPoint` (the pressed point in global
  // coordinates; see StatisticsPlace) when one is given; then, in either state, gives it the
  // clicked pixel's colour as background (white for a point outside the picture) and replaces
  // the memo's text with the three lines of PixelStatistics, the colour as "#RRGGBB" and, from
  // the second press on, its contrast against the colour pressed before (ContrastLine).
  void ShowPixelStatistics(const TBitmap& view, int x, int y, bool frozen,
                           std::optional<QPoint> screenPoint = std::nullopt);

 private:
  std::optional<TColor> previous_;
};

}  // namespace ombrix
