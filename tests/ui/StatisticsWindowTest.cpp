#include "Unit2.h"

#include <gtest/gtest.h>

#include <QPlainTextEdit>
#include <string>

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
            "L000 R000 G000 B000\nL159 R163 G163 B163\nLmin000 LMax068 Lavr000\n#000000\n"
            "2.25:1 against #604020");

  // A shown window stays shown when the picture runs again; a point outside is white.
  form.ShowPixelStatistics(view, 10, 0, false);
  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(form.palette().color(QPalette::Window), QColor(Qt::white));
  EXPECT_EQ(form.Memo1->blockCount(), 5);
  EXPECT_EQ(form.Memo1->toPlainText().section('\n', 3), "#FFFFFF\n21.00:1 AAA against #000000");
}

// The first press has nothing to compare with: the colour alone follows the three lines.
TEST(StatisticsWindow, FirstPressAddsTheColourOnly) {
  TForm2 form;
  TBitmap view(4, 4);
  view.Canvas().Brush.Color = 0x767676;
  view.Canvas().FillRect({0, 0, 4, 4});
  form.ShowPixelStatistics(view, 1, 1, false);
  EXPECT_EQ(form.Memo1->blockCount(), 4);
  EXPECT_EQ(form.Memo1->toPlainText().section('\n', 3), "#767676");
}

// Beside the pressed point, never over it: right of it where there is room, else left; then
// below or above; moved into the area along the other side.
struct PlaceCase {
  const char* name;
  TPoint point;
  int width, height;
  TPoint expected;
};

class StatisticsPlacement : public testing::TestWithParam<PlaceCase> {};

TEST_P(StatisticsPlacement, OpensBesideThePoint) {
  const PlaceCase& c = GetParam();
  const TRect area{0, 0, 1000, 700};
  const TPoint at = StatisticsPlace(c.point, c.width, c.height, area);
  EXPECT_EQ(at.X, c.expected.X);
  EXPECT_EQ(at.Y, c.expected.Y);
  const TRect window{at.X, at.Y, at.X + c.width, at.Y + c.height};
  EXPECT_FALSE(window.Contains(c.point));
}

INSTANTIATE_TEST_SUITE_P(
    StatisticsWindow, StatisticsPlacement,
    testing::Values(PlaceCase{"RightAndBelow", {100, 100}, 215, 242, {116, 116}},
                    PlaceCase{"LeftNearTheRightEdge", {900, 100}, 215, 242, {669, 116}},
                    PlaceCase{"RaisedNearTheBottom", {100, 650}, 215, 242, {116, 458}},
                    PlaceCase{"LeftAndRaisedInTheCorner", {990, 690}, 215, 242, {759, 458}},
                    // Too wide for either side: below, then above, moved into the area.
                    PlaceCase{"BelowWhenTooWide", {500, 100}, 700, 242, {300, 116}},
                    PlaceCase{"AboveWhenTooWideNearTheBottom", {500, 600}, 700, 242, {300, 342}},
                    PlaceCase{"RightAndBelowWhenNothingFits", {500, 400}, 990, 690, {516, 416}}),
    [](const testing::TestParamInfo<PlaceCase>& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace ombrix
