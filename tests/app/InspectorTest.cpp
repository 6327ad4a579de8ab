// The controls that came alive and the pixel inspector's tools, as a user works them: the N,
// G and I keys, the command window's brightness and contrast bars (live and on a frozen
// picture), the 3D positions' hints and the statistics window's new lines and place. Real key
// and mouse events over the in-memory desktop; the pixels checked are the view's.

#include <gtest/gtest.h>

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSlider>
#include <QTest>
#include <QWindow>
#include <string>
#include <vector>

#include "BrightnessContrast.h"
#include "PixelStatistics.h"
#include "Stereo3D.h"
#include "Ucmdprocess.h"
#include "Unit2.h"
#include "WindowTestSupport.h"

namespace ombrix::test {
namespace {

// The cursor at (1000, 600) captures 820..1179 x 384..815 into a 360 x 432 view.
constexpr TPoint kAway{1000, 600};
constexpr int kZoneLeft = 820;
constexpr int kZoneTop = 384;
constexpr TColor kGridGrey = 0x808080;

class Inspector : public ::testing::Test {
 protected:
  Inspector() { Paint(desktop.Picture(), Where); }
  ~Inspector() override {
    if (form) {
      form->SetFormCmd(nullptr);
      form->SetForm2(nullptr);
    }
  }
  void Open() {
    form = OpenWindow(desktop, 361, 432, QPoint(40, 40));
    form->SetFormCmd(&cmd);
    form->SetForm2(&stats);
  }
  static void Type(QWidget& window, Qt::Key key, Qt::KeyboardModifiers shift = Qt::NoModifier) {
    QTest::keyClick(window.windowHandle(), key, shift);
  }
  const TBitmap& view() const { return form->Image1->Picture(); }
  std::vector<TColor> Pixels() const {
    std::vector<TColor> pixels;
    for (int y = 0; y < view().Height(); ++y)
      for (int x = 0; x < view().Width(); ++x) pixels.push_back(PixelOf(view(), x, y));
    return pixels;
  }
  // The view pixels that differ from expected(x, y).
  int Differences(const std::function<TColor(int, int)>& expected) const {
    int n = 0;
    for (int y = 0; y < view().Height(); ++y)
      for (int x = 0; x < view().Width(); ++x) n += PixelOf(view(), x, y) != expected(x, y);
    return n;
  }

  MemoryDesktop desktop{1600, 1000};
  TFormCmd cmd;
  TForm2 stats;
  std::unique_ptr<TForm1> form;
};

// At 4 x the view's pixel (x, y) shows the zone's pixel ((x + 540) div 4, (y + 648) div 4)
// with nearest neighbours; the grid takes the last column and row of every 4 x 4 square.
TColor Nearest4(int x, int y) {
  return Where(kZoneLeft + (x + 540) / 4, kZoneTop + (y + 648) / 4);
}
bool OnGrid4(int x, int y) {
  return (x + 540) % 4 == 3 || (y + 648) % 4 == 3;
}

TEST_F(Inspector, KeysNGAndISwitchTheirViewsAndBackBitForBit) {
  Open();
  form->Slider->setValue(2);  // 4 x
  RestCursor(desktop, *form, kAway);
  const std::vector<TColor> bicubic = Pixels();
  ASSERT_NE(Differences(Nearest4), 0);

  Type(*form, Qt::Key_N);
  RestCursor(desktop, *form, kAway);
  EXPECT_EQ(Differences(Nearest4), 0);

  Type(*form, Qt::Key_G);
  RestCursor(desktop, *form, kAway);
  EXPECT_EQ(Differences([](int x, int y) { return OnGrid4(x, y) ? kGridGrey : Nearest4(x, y); }),
            0);

  Type(*form, Qt::Key_I);
  RestCursor(desktop, *form, kAway);
  EXPECT_EQ(Differences([](int x, int y) {
              return (OnGrid4(x, y) ? kGridGrey : Nearest4(x, y)) ^ 0xFFFFFFu;
            }),
            0);

  // With Ctrl held the three keys do nothing.
  for (Qt::Key key : {Qt::Key_N, Qt::Key_G, Qt::Key_I}) Type(*form, key, Qt::ControlModifier);
  RestCursor(desktop, *form, kAway);
  EXPECT_EQ(Differences([](int x, int y) {
              return (OnGrid4(x, y) ? kGridGrey : Nearest4(x, y)) ^ 0xFFFFFFu;
            }),
            0);

  for (Qt::Key key : {Qt::Key_N, Qt::Key_G, Qt::Key_I}) Type(*form, key);
  RestCursor(desktop, *form, kAway);
  EXPECT_EQ(Pixels(), bicubic);
}

// Inverting a frozen picture needs no new frame: I turns the view itself over, and back.
TEST_F(Inspector, InvertWorksOnAFrozenPictureToo) {
  Open();
  RestCursor(desktop, *form, kAway);
  Type(*form, Qt::Key_Space);
  ASSERT_TRUE(form->Frozen());
  Type(*form, Qt::Key_I);
  EXPECT_EQ(
      Differences([](int x, int y) { return Where(kZoneLeft + x, kZoneTop + y) ^ 0xFFFFFFu; }), 0);
  Type(*form, Qt::Key_I);
  EXPECT_EQ(Differences([](int x, int y) { return Where(kZoneLeft + x, kZoneTop + y); }), 0);
}

TEST_F(Inspector, BrightnessAndContrastBarsActOnTheLiveView) {
  Open();
  cmd.ScrollBarBrightness->setValue(100);
  RestCursor(desktop, *form, kAway);
  EXPECT_EQ(Differences([](int, int) { return clWhite; }), 0);
  cmd.ScrollBarBrightness->setValue(0);
  cmd.ScrollBar2->setValue(-100);
  RestCursor(desktop, *form, kAway);
  EXPECT_EQ(Differences([](int, int) { return TColor{0x808080}; }), 0);
  cmd.ScrollBar2->setValue(0);
  RestCursor(desktop, *form, kAway);
  EXPECT_EQ(Differences([](int x, int y) { return Where(kZoneLeft + x, kZoneTop + y); }), 0);
}

TEST_F(Inspector, BrightnessAndContrastBarsRedrawAFrozenPicture) {
  Open();
  RestCursor(desktop, *form, kAway);
  Type(*form, Qt::Key_Space);
  ASSERT_TRUE(form->Frozen());
  cmd.show();
  ClickPart(*cmd.ScrollBar2, QStyle::SC_ScrollBarAddLine);
  ASSERT_EQ(cmd.ScrollBar2->value(), 1);
  const auto table = BrightnessContrastTable(0, 1);
  const auto through = [&table](TColor c) {
    return static_cast<TColor>(table[c & 0xFF] | table[c >> 8 & 0xFF] << 8 |
                               table[c >> 16 & 0xFF] << 16);
  };
  EXPECT_EQ(Differences([&](int x, int y) { return through(Where(kZoneLeft + x, kZoneTop + y)); }),
            0);
  ClickPart(*cmd.ScrollBar2, QStyle::SC_ScrollBarSubLine);
  EXPECT_EQ(Differences([](int x, int y) { return Where(kZoneLeft + x, kZoneTop + y); }), 0);
  // The bar's far left, as its Home key takes it there.
  cmd.ScrollBarBrightness->triggerAction(QAbstractSlider::SliderToMinimum);
  EXPECT_EQ(Differences([](int, int) { return clBlack; }), 0);
  // With inverted colours on, the redraw is inverted too.
  Type(*form, Qt::Key_I);
  cmd.ScrollBarBrightness->triggerAction(QAbstractSlider::SliderToMinimum);
  EXPECT_EQ(Differences([](int, int) { return clWhite; }), 0);
}

TEST_F(Inspector, MirrorRightHalfRunsInTheFrameAndEveryPositionHasItsHint) {
  Open();
  form->TrackBar3D->setValue(o3MirrorRight);
  RestCursor(desktop, *form, kAway);
  EXPECT_EQ(Differences([](int x, int y) {
              return Where(kZoneLeft + (x < 180 ? x : 180 + 359 - x), kZoneTop + y);
            }),
            0);
  const QStringList texts{"0", "X", "A", "I", "Md", "Mg"};
  int hinted = 0;
  for (const QLabel* label : form->GroupBox3D->findChildren<QLabel*>()) {
    const auto at = texts.indexOf(label->text());
    if (at < 0) continue;
    EXPECT_EQ(label->toolTip().toStdString(), k3DHints[at]);
    ++hinted;
  }
  EXPECT_EQ(hinted, 6);
}

TEST_F(Inspector, StatisticsOpenBesideTheClickAndCompareWithTheClickBefore) {
  Open();
  RestCursor(desktop, *form, kAway);
  Type(*form, Qt::Key_Space);
  ASSERT_TRUE(form->Frozen());
  QTest::mouseClick(form->Image1, Qt::LeftButton, Qt::NoModifier, QPoint(10, 20));
  ASSERT_TRUE(stats.isVisible());
  const QPoint clicked = form->Image1->mapToGlobal(QPoint(10, 20));
  EXPECT_FALSE(stats.frameGeometry().contains(clicked));
  QTest::mouseClick(form->Image1, Qt::LeftButton, Qt::NoModifier, QPoint(30, 20));
  const QStringList lines = stats.Memo1->toPlainText().split('\n');
  ASSERT_EQ(lines.size(), 5);
  const TColor second = Where(kZoneLeft + 30, kZoneTop + 20);
  EXPECT_EQ(lines[3].toStdString(), HexColour(second));
  EXPECT_EQ(lines[4].toStdString(), ContrastLine(second, Where(kZoneLeft + 10, kZoneTop + 20)));
}

}  // namespace
}  // namespace ombrix::test
