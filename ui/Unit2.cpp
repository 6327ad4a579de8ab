#include "Unit2.h"

#include <QPlainTextEdit>

#include "Controls.h"
#include "FormFonts.h"
#include "PixelStatistics.h"

namespace ombrix {

TForm2::TForm2() : QWidget(nullptr, Qt::Window | Qt::WindowStaysOnTopHint) {
  setWindowTitle(QStringLiteral("FormMouse"));
  SetFormFont(*this);
  move(571, 225);
  resize(199, 206);  // 215 x 242 with a frame of 16 x 36
  setAutoFillBackground(true);

  Memo1 = new QPlainTextEdit(QStringLiteral("Memo1"), this);
  Memo1->setGeometry(8, 16, 185, 185);
}

void TForm2::ShowPixelStatistics(const TBitmap& view, int x, int y, bool frozen) {
  if (frozen && isHidden()) show();
  const TPixelStatistics statistics = PixelStatistics(view, x, y);
  SetBackgroundColor(*this, ToQColor(statistics.Color));
  Memo1->clear();
  for (const std::string& line : statistics.Lines) {
    Memo1->appendPlainText(QString::fromStdString(line));
  }
}

}  // namespace ombrix
