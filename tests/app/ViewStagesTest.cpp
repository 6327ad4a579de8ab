// The stages of the frame cycle as the window runs them: the half exchange and the halving
// boxes, the cross-line with its colour dialog, and the sharpen strength bar. The panel's
// controls are worked with real mouse events while the cursor rests over the window, as a user
// works them; the pixels checked are those of the view's bitmap.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QScrollBar>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <QToolButton>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ErrorReport.h"
#include "Errors.h"
#include "WindowTestSupport.h"
#include "iwProcess.h"

namespace ombrix::test {
namespace {

TColor Grey(int v) {
  return static_cast<TColor>(v * 0x010101);
}

class ViewStages : public ::testing::Test {
 protected:
  // A 361 x 432 client at (40, 40): the cursor at (1000, 600) captures 820..1179 x 384..815,
  // and at (100, 100) it rests over the window, which then shows its panel.
  void Open() {
    form = OpenWindow(desktop, 361, 432, QPoint(40, 40));
    form->ImageWork()->OnProcessBegin = [this](TImageWork*) { ++filterRuns; };
  }
  void ShowPanel() {
    RestCursor(desktop, *form, {100, 100});
    ASSERT_FALSE(form->Panel1->isHidden());
  }
  void Capture(TPoint cursor = {1000, 600}) {
    RestCursor(desktop, *form, cursor);
    ASSERT_EQ(view().Width(), 360);
  }
  void Click(QWidget* control) {
    QTest::mouseClick(control, Qt::LeftButton, Qt::NoModifier, QPoint(4, control->height() / 2));
  }
  const TBitmap& view() const { return form->Image1->Picture(); }
  // The unsharp mask's radius, or -1 when the filter has none.
  float Radius() const {
    const auto* gaussian = form->ImageWork()->FilterAs<TGaussianBaseFilter>();
    return gaussian != nullptr ? gaussian->Radius() : -1.0f;
  }
  // View pixels of colour c.
  int Count(TColor c) const {
    int n = 0;
    for (int y = 0; y < view().Height(); ++y)
      for (int x = 0; x < view().Width(); ++x) n += PixelOf(view(), x, y) == c;
    return n;
  }

  MemoryDesktop desktop{1600, 1000};
  std::unique_ptr<TForm1> form;
  int filterRuns = 0;
};

// The half exchange and the mirrored halves, by where each view column comes from in the
// 360-pixel zone.
struct ExchangeCase {
  const char* name;
  int operation;
  int position3D;
  int (*zoneColumn)(int viewColumn);
};

class HalfExchangeInView : public ViewStages, public ::testing::WithParamInterface<ExchangeCase> {};

TEST_P(HalfExchangeInView, MapsEveryViewPixelToItsZonePixel) {
  Paint(desktop.Picture(), Where);
  Open();
  form->TrackBarOperation->setValue(GetParam().operation);
  form->TrackBar3D->setValue(GetParam().position3D);
  Capture();
  int wrong = 0;
  for (int y = 0; y < 432; ++y)
    for (int x = 0; x < 360; ++x)
      wrong += PixelOf(view(), x, y) != Where(820 + GetParam().zoneColumn(x), 384 + y);
  EXPECT_EQ(wrong, 0);
}

INSTANTIATE_TEST_SUITE_P(
    TrackBar3D, HalfExchangeInView,
    ::testing::Values(
        // The right half of the zone on the left, the left half on the right.
        ExchangeCase{"X", 0, 1, [](int x) { return x < 180 ? x + 180 : x - 180; }},
        // After the horizontal mirror the halves are back in place, each mirrored.
        ExchangeCase{"XAfterHorizontalMirror", 2, 1,
                     [](int x) { return x < 180 ? 179 - x : 539 - x; }},
        // "Md" and "Mg" mirror one half in place.
        ExchangeCase{"Md", 0, 4, [](int x) { return x < 180 ? x : 539 - x; }},
        ExchangeCase{"Mg", 0, 5, [](int x) { return x < 180 ? 179 - x : x; }}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(ViewStages, HalvedWidthAtZoomOneShowsTheWholeZoneOnTheLeftAndBlackOnTheRight) {
  Paint(desktop.Picture(), [](int x, int) { return x < 1000 ? clRed : TColor{0xFF0000}; });
  Open();
  Capture();
  ASSERT_EQ(PixelOf(view(), 300, 200), 0xFF0000u);  // blue: the right half of the zone
  ShowPanel();
  Click(form->CheckBoxW);
  ASSERT_TRUE(form->CheckBoxW->isChecked());
  Capture();
  for (int y = 0; y < 432; y += 7) {
    // Red then blue at half width; a few columns blend across the edge at 90.
    for (int x = 0; x < 86; ++x) ASSERT_EQ(PixelOf(view(), x, y), clRed) << x << "," << y;
    for (int x = 94; x < 180; ++x) ASSERT_EQ(PixelOf(view(), x, y), 0xFF0000u) << x << "," << y;
  }
  EXPECT_EQ(Count(clBlack), 180 * 432);
}

TEST_F(ViewStages, EachBoxChangeClearsTheViewAndCheckingOneUnchecksTheOther) {
  Paint(desktop.Picture(), Where);
  Open();
  Capture();
  int clears = 0;
  const std::function<void()> shapeFollows = form->Image1->OnChange;
  form->Image1->OnChange = [&] {
    ++clears;
    shapeFollows();
  };
  ShowPanel();

  Click(form->CheckBoxH);
  EXPECT_TRUE(form->CheckBoxH->isChecked());
  EXPECT_EQ(clears, 1);
  EXPECT_EQ(Count(clBlack), 360 * 432);

  // Checking W/2 unchecks H/2, whose handler unchecks W/2 again.
  clears = 0;
  Click(form->CheckBoxW);
  EXPECT_FALSE(form->CheckBoxW->isChecked());
  EXPECT_FALSE(form->CheckBoxH->isChecked());
  EXPECT_EQ(clears, 3);

  clears = 0;
  Click(form->CheckBoxW);
  Click(form->CheckBoxW);
  EXPECT_FALSE(form->CheckBoxW->isChecked());
  EXPECT_EQ(clears, 2);
}

TEST_F(ViewStages, TogglingABoxWhileFrozenBlanksTheFrozenView) {
  Paint(desktop.Picture(), Where);
  Open();
  Capture();
  form->Timer1->SetInterval(0);
  // The frozen view is shown, not the panel: the box changes as a click on it would.
  form->CheckBoxH->click();
  EXPECT_EQ(Count(clBlack), 360 * 432);
  EXPECT_FALSE(form->Image1->isHidden());
}

TEST_F(ViewStages, CrossMarksTheCursorsPlaceInTheZoneWithSixFreePixels) {
  Paint(desktop.Picture(), [](int, int) { return Grey(128); });
  Open();
  ShowPanel();
  Click(form->cbSrediste);
  ASSERT_TRUE(form->cbSrediste->isChecked());

  // Centred: the gaps are 177..182 on row 216 and 213..218 on column 180.
  Capture();
  for (int x = 0; x < 360; ++x) {
    ASSERT_EQ(PixelOf(view(), x, 216), x <= 176 || x >= 183 ? clRed : Grey(128)) << x;
  }
  for (int y = 0; y < 432; ++y) {
    ASSERT_EQ(PixelOf(view(), 180, y), y <= 212 || y >= 219 ? clRed : Grey(128)) << y;
  }
  EXPECT_EQ(Count(clRed), 2 * 177 + 2 * 213);

  // 10 pixels from the desktop's left edge: the zone starts at the edge, the vertical arm
  // stands at column 10 and the horizontal one reaches 180 pixels to its right.
  Capture({10, 600});
  for (int y = 0; y < 432; ++y) {
    ASSERT_EQ(PixelOf(view(), 10, y), y <= 212 || y >= 219 ? clRed : Grey(128)) << y;
  }
  for (int x = 0; x < 360; ++x) {
    ASSERT_EQ(PixelOf(view(), x, 216), x <= 6 || (x >= 13 && x <= 189) ? clRed : Grey(128)) << x;
  }
  EXPECT_EQ(Count(clRed), 7 + 177 + 2 * 213);
}

TEST_F(ViewStages, ColourDialogOpensOnItsLastAnswerAndACancelKeepsTheColour) {
  Paint(desktop.Picture(), [](int, int) { return Grey(128); });
  Open();
  constexpr TColor kGreen = 0x00FF00;
  std::vector<std::optional<TColor>> answers = {std::nullopt, kGreen, std::nullopt};
  std::vector<TColor> openedOn;
  form->ColorDialog1->Runner = [&](TColor initial) {
    openedOn.push_back(initial);
    const std::optional<TColor> answer = answers.front();
    answers.erase(answers.begin());
    return answer;
  };
  ShowPanel();

  Click(form->SpeedButton1);
  EXPECT_EQ(form->CrossColor(), clRed);
  Click(form->SpeedButton1);
  EXPECT_EQ(form->CrossColor(), kGreen);
  Click(form->SpeedButton1);
  EXPECT_EQ(form->CrossColor(), kGreen);
  // Black the first time, not the cross's red; then the colour last confirmed.
  EXPECT_EQ(openedOn, (std::vector<TColor>{clBlack, clBlack, kGreen}));

  Click(form->cbSrediste);
  Capture();
  EXPECT_EQ(PixelOf(view(), 0, 216), kGreen);
  EXPECT_EQ(Count(kGreen), 2 * 177 + 2 * 213);
}

TEST_F(ViewStages, StrengthOneSharpensASingleBrightPixelToTheUnsharpMaskValues) {
  Paint(desktop.Picture(), [](int x, int y) { return Grey(x == 1000 && y == 600 ? 200 : 100); });
  Open();
  // A redraw of a snapshot takes the level it is given, not the bar's.
  TBitmap snapshot(40, 30);
  Paint(snapshot, [](int x, int y) { return Grey(x == 20 && y == 15 ? 200 : 100); });
  form->RenderToView(snapshot, {0, 0, 40, 30}, 1, 0.0f, 1, 40, 30);
  EXPECT_EQ(PixelOf(view(), 20, 15), Grey(255));
  EXPECT_EQ(PixelOf(view(), 20, 14), Grey(90));
  EXPECT_EQ(filterRuns, 1);

  ShowPanel();
  ClickPart(*form->ScrollBarLevel, QStyle::SC_ScrollBarAddLine);
  ASSERT_EQ(form->ScrollBarLevel->value(), 1);
  Capture();
  EXPECT_EQ(filterRuns, 2);
  // The bright pixel lands at (180, 216) of the view.
  int wrong = 0;
  for (int y = 0; y < 432; ++y)
    for (int x = 0; x < 360; ++x) {
      const int dx = std::abs(x - 180), dy = std::abs(y - 216);
      int expected = 100;
      if (dx == 0 && dy == 0) {
        expected = 255;
      } else if (dx + dy == 1) {
        expected = 90;
      } else if (dx == 1 && dy == 1) {
        expected = 93;
      } else if (dx + dy == 2 && (dx == 0 || dy == 0)) {
        expected = 97;
      } else if (dx <= 2 && dy <= 2) {
        continue;  // the other places of the 5 x 5 window have no figure of their own
      }
      wrong += PixelOf(view(), x, y) != Grey(expected);
    }
  EXPECT_EQ(wrong, 0);
}

// Strength 0 never runs the filter, whatever radius an earlier strength left.
TEST_F(ViewStages, ArrowsChangeTheStrengthButNotTheRadiusAndZeroSwitchesSharpeningOff) {
  Paint(desktop.Picture(), Where);
  Open();
  ShowPanel();
  ClickPart(*form->ScrollBarLevel, QStyle::SC_ScrollBarAddLine, 3);
  ASSERT_EQ(form->ScrollBarLevel->value(), 3);
  EXPECT_EQ(Radius(), 1.0f);
  Capture();  // the frame takes the strength itself
  EXPECT_EQ(Radius(), 3.0f);
  EXPECT_EQ(filterRuns, 1);
  EXPECT_NE(DifferencesFromDesktop(view(), desktop.Picture(), 820, 384), 0);

  ShowPanel();
  ClickPart(*form->ScrollBarLevel, QStyle::SC_ScrollBarSubLine, 3);
  ASSERT_EQ(form->ScrollBarLevel->value(), 0);
  Capture();
  EXPECT_EQ(Radius(), 3.0f);
  EXPECT_EQ(filterRuns, 1);
  EXPECT_EQ(DifferencesFromDesktop(view(), desktop.Picture(), 820, 384), 0);
}

TEST_F(ViewStages, ReleasedThumbSetsTheRadiusWhileFrozenAndLeavesTheFrozenView) {
  Paint(desktop.Picture(), Where);
  Open();
  Capture();
  ShowPanel();  // the view's bitmap keeps the picture while the panel is shown
  form->Timer1->SetInterval(0);

  DragThumb(*form->ScrollBarLevel, 4);
  ASSERT_EQ(form->ScrollBarLevel->value(), 4);
  EXPECT_EQ(Radius(), 4.0f);
  // A click on the track moves the thumb but leaves the radius.
  ClickPart(*form->ScrollBarLevel, QStyle::SC_ScrollBarAddPage);
  ASSERT_EQ(form->ScrollBarLevel->value(), 5);
  EXPECT_EQ(Radius(), 4.0f);
  // Released at 0, the thumb leaves the radius too.
  DragThumb(*form->ScrollBarLevel, 0);
  ASSERT_EQ(form->ScrollBarLevel->value(), 0);
  EXPECT_EQ(Radius(), 4.0f);

  EXPECT_EQ(filterRuns, 0);
  EXPECT_EQ(DifferencesFromDesktop(view(), desktop.Picture(), 820, 384), 0);
}

TEST_F(ViewStages, FilterErrorEndsTheCycleWithTheZoomsPictureAndReachesTheErrorReport) {
  std::vector<std::string> reports;
  const TErrorReporter previous =
      SetErrorReporter([&reports](const std::string& text) { reports.push_back(text); });
  Paint(desktop.Picture(), Where);
  Open();
  // Strength 1 is the radius the filter already has, so its broken divisor stays.
  form->ImageWork()->Filter()->SetScaleFactor(0);
  form->ScrollBarLevel->setValue(1);
  form->cbSrediste->setChecked(true);
  desktop.SetCursor({1000, 600});
  form->Timer1->SetInterval(5);  // the real timer, through the handler guard
  EXPECT_TRUE(WaitFor([&] { return !reports.empty(); }));
  form->Timer1->SetInterval(0);
  SetErrorReporter(previous);
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(reports.front(), EDivByZero().what());
  EXPECT_EQ(form->windowTitle(), QString("Ombrix 361 x 432"));  // no caption step
  // Neither sharpened nor crossed: the zoom's picture.
  EXPECT_EQ(DifferencesFromDesktop(view(), desktop.Picture(), 820, 384), 0);
}

}  // namespace
}  // namespace ombrix::test
