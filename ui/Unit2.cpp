#include "Unit2.h"

#include "FormFonts.h"

namespace ombrix {

TForm2::TForm2() : QWidget(nullptr, Qt::Window | Qt::WindowStaysOnTopHint) {
  setWindowTitle(QStringLiteral("FormMouse"));
  SetFormFont(*this);
  move(571, 225);
  resize(199, 206);  // 215 x 242 with a frame of 16 x 36
}

void TForm2::ShowPixelStatistics(const TBitmap& view, int x, int y, bool frozen) {
  (void)view;
  (void)x;
  (void)y;
  (void)frozen;
}

}  // namespace ombrix
