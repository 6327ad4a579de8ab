#include "Ucmdprocess.h"

#include <QFrame>
#include <QLabel>
#include <QScrollBar>

#include "FormFonts.h"

namespace ombrix {

TFormCmd::TFormCmd() : QWidget(nullptr, Qt::Window | Qt::WindowStaysOnTopHint) {
  setWindowTitle(QStringLiteral("Cmd"));
  SetFormFont(*this);
  move(730, 27);
  resize(278, 517);  // 294 x 553 with a frame of 16 x 36

  Panel1 = new QFrame(this);
  Panel1->setGeometry(8, 48, 249, 273);
  Label1 = new QLabel(QStringLiteral("Gamma :"), Panel1);
  Label1->move(8, 8);
  ScrollBarGamma = new QScrollBar(Qt::Horizontal, Panel1);
  ScrollBarGamma->setGeometry(72, 10, 169, 9);
  ScrollBarGamma->setRange(0, 500);
  ScrollBarGamma->setSingleStep(1);
  ScrollBarGamma->setPageStep(10);
  ScrollBarGamma->setValue(0);
}

}  // namespace ombrix
