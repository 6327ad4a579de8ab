#include "Unit2.h"

#include <gtest/gtest.h>

#include <QPlainTextEdit>

namespace ombrix {
namespace {

TEST(StatisticsWindow, CreatedHiddenOnTopWithItsDesignMemo) {
  TForm2 form;
  EXPECT_TRUE(form.isHidden());
  EXPECT_EQ(form.windowTitle(), "FormMouse");
  EXPECT_TRUE(form.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_EQ(form.Memo1->geometry(), QRect(8, 16, 185, 185));
  EXPECT_EQ(form.Memo1->toPlainText(), "Memo1");
}

TEST(StatisticsWindow, FillsInEitherStateAndShowsOnlyWhenFrozen) {
  TForm2 form;
  TBitmap view(10, 10);
  view.Canvas().Brush.Color = clBlack;
  view.Canvas().FillRect({0, 0, 10, 10});
  view.Canvas().SetPixel(3, 4, 0x204060);  // red 0x60, green 0x40, blue 0x20

  // Running: the text and colour are replaced, the window stays hidden.
  form.ShowPixelStatistics(view, 3, 4, false);
  EXPECT_TRUE(form.isHidden());
  EXPECT_EQ(form.palette().color(QPalette::Window), QColor(0x60, 0x40, 0x20));
  const QString running = form.Memo1->toPlainText();
  EXPECT_TRUE(running.startsWith("L068 R096 G064 B032\nL002 R003 G002 B001\nLmin000 LMax068 "))
      << running.toStdString();

  form.ShowPixelStatistics(view, 0, 0, true);
  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(form.palette().color(QPalette::Window), QColor(Qt::black));
  EXPECT_EQ(form.Memo1->toPlainText(),
            "L000 R000 G000 B000\nL159 R163 G163 B163\nLmin000 LMax068 Lavr000");

  // A shown window stays shown when the picture runs again; a point outside is white.
  form.ShowPixelStatistics(view, 10, 0, false);
  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(form.palette().color(QPalette::Window), QColor(Qt::white));
  EXPECT_EQ(form.Memo1->blockCount(), 3);
}

}  // namespace
}  // namespace ombrix
