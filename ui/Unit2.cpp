#include "Unit2.h"

#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QScreen>
#include <algorithm>

#include "Controls.h"
#include "FormFonts.h"
#include "PixelStatistics.h"

namespace ombrix {

TPoint StatisticsPlace(TPoint point, int width, int height, const TRect& area) {
  const int right = point.X + kStatisticsGap;
  const int left = point.X - kStatisticsGap - width;
  const int below = point.Y + kStatisticsGap;
  const int above = point.Y - kStatisticsGap - height;
  // Moved into the area on the other axis; a window larger than the area keeps its top-left.
  const auto into = [](int at, int size, int from, int to) {
    return std::max(from, std::min(at, to - size));
  };
  if (right + width <= area.Right) return {right, into(below, height, area.Top, area.Bottom)};
  if (left >= area.Left) return {left, into(below, height, area.Top, area.Bottom)};
  if (below + height <= area.Bottom) return {into(right, width, area.Left, area.Right), below};
  if (above >= area.Top) return {into(right, width, area.Left, area.Right), above};
  return {right, below};
}

TForm2::TForm2() : QWidget(nullptr, Qt::Window | Qt::WindowStaysOnTopHint) {
  setWindowTitle(QStringLiteral("FormMouse"));
  SetFormFont(*this);
  move(571, 225);
  resize(199, 206);  // 215 x 242 with a frame of 16 x 36
  setAutoFillBackground(true);

  Memo1 = new QPlainTextEdit(QStringLiteral("Memo1"), this);
  Memo1->setGeometry(8, 16, 185, 185);
}

void TForm2::ShowPixelStatistics(const TBitmap& view, int x, int y, bool frozen,
                                 std::optional<QPoint> screenPoint) {
  if (frozen && isHidden()) {
    if (screenPoint) {
      const QScreen* on = QGuiApplication::screenAt(*screenPoint);
      if (on == nullptr) on = screen();
      const QRect a = on != nullptr ? on->availableGeometry() : QRect(*screenPoint, QSize(1, 1));
      // Before it was first shown the window manager's frame is not known: allow for one.
      QSize outer = frameGeometry().size();
      if (outer == size()) outer += QSize(16, 36);
      const TPoint at =
          StatisticsPlace({screenPoint->x(), screenPoint->y()}, outer.width(), outer.height(),
                          {a.left(), a.top(), a.right() + 1, a.bottom() + 1});
      move(at.X, at.Y);
    }
    show();
  }
  const TPixelStatistics statistics = PixelStatistics(view, x, y);
  SetBackgroundColor(*this, ToQColor(statistics.Color));
  Memo1->clear();
  for (const std::string& line : statistics.Lines) {
    Memo1->appendPlainText(QString::fromStdString(line));
  }
  Memo1->appendPlainText(QString::fromStdString(HexColour(statistics.Color)));
  if (previous_)
    Memo1->appendPlainText(QString::fromStdString(ContrastLine(statistics.Color, *previous_)));
  previous_ = statistics.Color;
}

}  // namespace ombrix
