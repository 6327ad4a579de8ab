// The main window's keys and mouse buttons with the command window beside it, driven by real
// key and mouse events through the windows, over the in-memory desktop.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QFrame>
#include <QImage>
#include <QKeyEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QSlider>
#include <QSpinBox>
#include <QTabBar>
#include <QTest>
#include <QToolButton>
#include <QWindow>
#include <string>
#include <vector>

#include "ErrorReport.h"
#include "Errors.h"
#include "Ucmdprocess.h"
#include "WindowTestSupport.h"
#include "iwProcess.h"

namespace ombrix::test {
namespace {

// The cursor at (1000, 600) captures 820..1179 x 384..815 into a 360 x 432 view.
constexpr TPoint kAway{1000, 600};
constexpr int kZoneLeft = 820;
constexpr int kZoneTop = 384;

TColor Inverted(int x, int y) {
  return Where(x, y) ^ 0xFFFFFFu;
}

class Input : public ::testing::Test {
 protected:
  Input() { Paint(desktop.Picture(), Where); }
  ~Input() override {
    if (form) form->SetFormCmd(nullptr);
  }

  // A 361 x 432 client at (40, 40), with the command window attached.
  void Open() {
    form = OpenWindow(desktop, 361, 432, QPoint(40, 40));
    form->SetFormCmd(&cmd);
  }
  // A key typed into `window`: it goes to whatever has the focus there, as typed keys do.
  static void Type(QWidget& window, Qt::Key key, Qt::KeyboardModifiers shift = Qt::NoModifier) {
    QTest::keyClick(window.windowHandle(), key, shift);
  }
  void Freeze() {
    Type(*form, Qt::Key_Space);
    ASSERT_TRUE(form->Frozen());
  }
  const TBitmap& view() const { return form->Image1->Picture(); }

  MemoryDesktop desktop{1600, 1000};
  TFormCmd cmd;
  std::unique_ptr<TForm1> form;
};

struct TiltCase {
  const char* name;
  Qt::Key key;
  int start;
  int presses;
  int expected;
};

class CrossTilt : public Input, public ::testing::WithParamInterface<TiltCase> {};

TEST_P(CrossTilt, StepsAsTabled) {
  const TiltCase& c = GetParam();
  Open();
  const bool horizontal = c.key == Qt::Key_Left || c.key == Qt::Key_Right;
  if (horizontal) {
    form->SetCrossTiltX(c.start);
  } else {
    form->SetCrossTiltY(c.start);
  }
  for (int i = 0; i < c.presses; ++i) Type(*form, c.key);
  EXPECT_EQ(horizontal ? form->CrossTiltX() : form->CrossTiltY(), c.expected);
  EXPECT_EQ(horizontal ? form->CrossTiltY() : form->CrossTiltX(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, CrossTilt,
    ::testing::Values(TiltCase{"Up199TimesFromZero", Qt::Key_Up, 0, 199, 199},
                      TiltCase{"Up200TimesFromZeroJumpsPast200", Qt::Key_Up, 0, 200, 202},
                      TiltCase{"UpInTheUpperRangeStepsTwo", Qt::Key_Up, 500, 1, 502},
                      TiltCase{"UpStopsFrom2000", Qt::Key_Up, 2000, 1, 2000},
                      TiltCase{"DownFrom199StepsOne", Qt::Key_Down, 199, 1, 198},
                      TiltCase{"DownFrom200StepsTwo", Qt::Key_Down, 200, 1, 198},
                      TiltCase{"Down1000TimesFromZeroHasNoLowerBound", Qt::Key_Down, 0, 1000,
                               -1000},
                      TiltCase{"DownWrapsAt32Bits", Qt::Key_Down, INT32_MIN, 1, INT32_MAX},
                      TiltCase{"RightFrom199", Qt::Key_Right, 199, 1, 203},
                      TiltCase{"RightFromZero", Qt::Key_Right, 0, 1, 2},
                      TiltCase{"RightFrom2000StepsOne", Qt::Key_Right, 2000, 1, 2001},
                      TiltCase{"LeftInTheUpperRangeStepsThree", Qt::Key_Left, 300, 1, 297},
                      TiltCase{"LeftFromZero", Qt::Key_Left, 0, 3, -6}),
    [](const ::testing::TestParamInfo<TiltCase>& tilt) { return std::string(tilt.param.name); });

TEST_F(Input, FTogglesTheHeldZoneWithOrWithoutCtrlAndCtrlSpaceDoesNothing) {
  Open();
  Type(*form, Qt::Key_F);
  EXPECT_TRUE(form->ZoneFixed());
  Type(*form, Qt::Key_F, Qt::ControlModifier);
  EXPECT_FALSE(form->ZoneFixed());
  Type(*form, Qt::Key_F, Qt::ShiftModifier);
  EXPECT_TRUE(form->ZoneFixed());

  RestCursor(desktop, *form, kAway);
  const int copies = desktop.CopyCount();
  Type(*form, Qt::Key_Space, Qt::ControlModifier);
  EXPECT_FALSE(form->Frozen());
  EXPECT_EQ(desktop.CopyCount(), copies);
}

TEST_F(Input, FreezeAwayFromTheWindowTakesTheZoneWithoutCrossLineAndKeepsTheSnapshot) {
  Open();
  form->cbSrediste->setChecked(true);
  RestCursor(desktop, *form, kAway);
  Type(*form, Qt::Key_M, Qt::ControlModifier);
  ASSERT_TRUE(cmd.isVisible());
  Paint(desktop.Picture(), Inverted);  // what the freeze's own frame takes
  Freeze();

  EXPECT_EQ(desktop.CopyCount(), 2);
  EXPECT_TRUE(form->cbSrediste->isChecked());
  EXPECT_FALSE(form->ForceCapture());
  // No cross-line in the frozen view, though "+" is ticked.
  EXPECT_EQ(DifferencesFromDesktop(view(), desktop.Picture(), kZoneLeft, kZoneTop), 0);
  ASSERT_EQ(cmd.Snapshot().Width(), 360);
  ASSERT_EQ(cmd.Snapshot().Height(), 432);
  EXPECT_EQ(DifferencesFromDesktop(cmd.Snapshot(), desktop.Picture(), kZoneLeft, kZoneTop), 0);
  EXPECT_EQ(DifferencesFromDesktop(cmd.Image1->Picture(), desktop.Picture(), kZoneLeft, kZoneTop),
            0);
  EXPECT_TRUE(WaitFor([&] { return QApplication::focusWidget() == form.get(); }));

  // Frozen, the resting cursor changes nothing; Space runs the picture again and hides "Cmd".
  Paint(desktop.Picture(), Where);
  EXPECT_EQ(DifferencesFromDesktop(view(), desktop.Picture(), kZoneLeft, kZoneTop), 360 * 432);
  Type(*form, Qt::Key_Space);
  EXPECT_EQ(form->Timer1->Interval(), form->TimerPeriod());
  EXPECT_FALSE(cmd.isVisible());
  EXPECT_EQ(cmd.Snapshot().Width(), 360);  // kept until the next freeze
}

TEST_F(Input, FreezeWithTheCursorOverTheWindowTakesTheAreaUnderTheView) {
  Open();
  RestCursor(desktop, *form, {100, 100});
  ASSERT_FALSE(form->Panel1->isHidden());
  Freeze();
  const QPoint client = form->geometry().topLeft();
  EXPECT_EQ(form->ZonePoint(), (TPoint{client.x(), client.y()}));
  EXPECT_EQ(DifferencesFromDesktop(cmd.Snapshot(), desktop.Picture(), client.x(), client.y()), 0);
  EXPECT_TRUE(form->Panel1->isHidden());
}

TEST_F(Input, CtrlCOnAFrozenPicturePutsAFreshCaptureOnTheClipboardAndRunsAgain) {
  Open();
  form->cbSrediste->setChecked(true);
  RestCursor(desktop, *form, kAway);
  Freeze();
  Paint(desktop.Picture(), Inverted);
  Type(*form, Qt::Key_C, Qt::ControlModifier);

  EXPECT_EQ(form->Timer1->Interval(), 25);
  EXPECT_TRUE(form->cbSrediste->isChecked());
  EXPECT_FALSE(form->ForceCapture());
  const QImage copied = QGuiApplication::clipboard()->image();
  ASSERT_EQ(copied.size(), QSize(360, 432));
  int differences = 0;
  for (int y = 0; y < 432; ++y)
    for (int x = 0; x < 360; ++x)
      differences +=
          (copied.pixel(x, y) & 0xFFFFFF) != ToRgb(Inverted(kZoneLeft + x, kZoneTop + y));
  EXPECT_EQ(differences, 0);
}

TEST_F(Input, FailedCopyStillEndsRunningWithTheCrossLineRestored) {
  std::vector<std::string> reports;
  const TErrorReporter previous =
      SetErrorReporter([&reports](const std::string& text) { reports.push_back(text); });
  Open();
  RestCursor(desktop, *form, kAway);
  form->ImageWork()->Filter()->SetScaleFactor(0);  // the sharpen stage divides by zero
  form->ScrollBarLevel->setValue(1);
  form->cbSrediste->setChecked(true);
  form->Timer1->SetInterval(0);
  Type(*form, Qt::Key_C, Qt::ControlModifier);
  SetErrorReporter(previous);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports.front(), EDivByZero().what());
  EXPECT_EQ(form->Timer1->Interval(), 25);
  EXPECT_TRUE(form->cbSrediste->isChecked());
  EXPECT_FALSE(form->ForceCapture());
  form->Timer1->SetInterval(0);
}

TEST_F(Input, KeysReachTheWindowOnlyWhileNoPanelControlHasTheFocus) {
  Open();
  form->activateWindow();
  ASSERT_TRUE(WaitFor([&] { return form->isActiveWindow(); }));
  // Activation hands the focus to no control.
  EXPECT_EQ(QApplication::focusWidget(), form.get());
  RestCursor(desktop, *form, {100, 100});
  QTest::mouseClick(form->Slider, Qt::LeftButton, Qt::NoModifier, QPoint(5, 8));
  ASSERT_EQ(QApplication::focusWidget(), form->Slider);
  Type(*form, Qt::Key_Space);  // the slider ignores it; it must not freeze
  Type(*form, Qt::Key_F);
  EXPECT_FALSE(form->Frozen());
  EXPECT_FALSE(form->ZoneFixed());
  // A click on the panel's background gives the window its keys back.
  QTest::mouseClick(form->Panel1, Qt::LeftButton, Qt::NoModifier, QPoint(3, 95));
  EXPECT_EQ(QApplication::focusWidget(), form.get());
  Type(*form, Qt::Key_F);
  EXPECT_TRUE(form->ZoneFixed());
}

TEST_F(Input, TimerBarArrowsMoveItAndOnlyAReleasedThumbSetsThePeriod) {
  Open();
  RestCursor(desktop, *form, {100, 100});
  ClickPart(*form->ScrollBar1, QStyle::SC_ScrollBarAddLine);
  ClickPart(*form->ScrollBar1, QStyle::SC_ScrollBarAddPage);
  ClickPart(*form->ScrollBar1, QStyle::SC_ScrollBarSubLine);
  ASSERT_EQ(form->ScrollBar1->value(), 50);
  EXPECT_EQ(form->TimerPeriod(), 25);
  EXPECT_EQ(form->Timer1->Interval(), kRunningButIdle);

  form->Timer1->SetInterval(0);  // frozen: a released thumb runs the picture again
  DragThumb(*form->ScrollBar1, 100);
  ASSERT_EQ(form->ScrollBar1->value(), 100);
  DragThumb(*form->ScrollBar1, 50);
  EXPECT_EQ(form->TimerPeriod(), 50);
  EXPECT_EQ(form->Timer1->Interval(), 50);
  form->Timer1->SetInterval(0);
}

TEST_F(Input, RightClicksOnViewAndPanelToggleTheFrameAndReleasesEndFrameWork) {
  Open();
  RestCursor(desktop, *form, kAway);
  auto frameless = [&] {
    return form->windowFlags().testFlag(Qt::FramelessWindowHint) &&
           form->windowHandle()->flags().testFlag(Qt::FramelessWindowHint);
  };
  const QWindow* window = form->windowHandle();
  form->SetNonClientActive(true);
  QTest::mouseClick(form->Image1, Qt::RightButton, Qt::NoModifier, QPoint(10, 10));
  EXPECT_TRUE(frameless());
  EXPECT_FALSE(form->NonClientActive());
  EXPECT_TRUE(form->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_EQ(form->windowHandle(), window);  // the same window, not a new one

  RestCursor(desktop, *form, {100, 100});
  QTest::mouseClick(form->Panel1, Qt::RightButton, Qt::NoModifier, QPoint(3, 95));
  EXPECT_FALSE(frameless());
  EXPECT_TRUE(form->windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
  // A left click on the panel, and any click on one of its controls, leave the frame alone.
  QTest::mouseClick(form->Panel1, Qt::LeftButton, Qt::NoModifier, QPoint(3, 95));
  QTest::mouseClick(form->ScrollBar1, Qt::RightButton, Qt::NoModifier, QPoint(30, 3));
  EXPECT_FALSE(frameless());
}

TEST_F(Input, ApplyButtonGivesTheTypedClientSize) {
  Open();
  RestCursor(desktop, *form, {100, 100});
  auto apply = [&](const char* width, const char* height) {
    for (auto [field, text] : {std::pair{form->UpDown1, width}, std::pair{form->UpDown2, height}}) {
      field->selectAll();
      QTest::keyClicks(field, text);
    }
    QTest::mouseClick(form->Button1, Qt::LeftButton);
  };
  apply("400", "500");
  EXPECT_TRUE(WaitFor([&] { return form->size() == QSize(400, 500); })) << form->width();
  EXPECT_EQ(form->windowTitle(), QString("Ombrix 400 x 500"));
  apply("401", "500");
  ASSERT_TRUE(WaitFor([&] { return form->width() == 401; }));
  RestCursor(desktop, *form, kAway);
  EXPECT_EQ(view().Width(), 400);
  EXPECT_EQ(view().Height(), 500);
}

TEST_F(Input, GammaRedrawShowsTheUnzoomedSnapshotAndAtZeroItsOwnColours) {
  Open();
  form->Slider->setValue(2);  // 4 x
  RestCursor(desktop, *form, kAway);
  Freeze();
  ASSERT_NE(DifferencesFromDesktop(view(), desktop.Picture(), kZoneLeft, kZoneTop), 0);
  Type(*form, Qt::Key_M, Qt::ControlModifier);
  ClickPart(*cmd.ScrollBarGamma, QStyle::SC_ScrollBarAddLine);
  ClickPart(*cmd.ScrollBarGamma, QStyle::SC_ScrollBarSubLine);
  ASSERT_EQ(cmd.ScrollBarGamma->value(), 0);
  EXPECT_EQ(DifferencesFromDesktop(view(), desktop.Picture(), kZoneLeft, kZoneTop), 0);
  EXPECT_TRUE(WaitFor([&] { return QApplication::focusWidget() == form.get(); }));
}

// The redraw's gamma is the live view's (position / 100 as a real), not its whole part.
TEST_F(Input, GammaRedrawAt150MatchesTheLiveViewAt150) {
  Open();
  cmd.ScrollBarGamma->setValue(150);
  RestCursor(desktop, *form, kAway);
  Freeze();
  const std::vector<TColor> live = [&] {
    std::vector<TColor> pixels;
    for (int y = 0; y < 432; ++y)
      for (int x = 0; x < 360; ++x) pixels.push_back(PixelOf(view(), x, y));
    return pixels;
  }();
  ASSERT_NE(DifferencesFromDesktop(view(), desktop.Picture(), kZoneLeft, kZoneTop), 0);
  cmd.show();
  ClickPart(*cmd.ScrollBarGamma, QStyle::SC_ScrollBarSubLine);
  ClickPart(*cmd.ScrollBarGamma, QStyle::SC_ScrollBarAddLine);
  ASSERT_EQ(cmd.ScrollBarGamma->value(), 150);
  int differences = 0;
  for (int y = 0; y < 432; ++y)
    for (int x = 0; x < 360; ++x)
      differences += PixelOf(view(), x, y) != live[static_cast<std::size_t>(y * 360 + x)];
  EXPECT_EQ(differences, 0);
}

TEST_F(Input, GammaMoveBeforeAnyFreezeDrawsNothing) {
  Open();
  RestCursor(desktop, *form, kAway);
  form->Timer1->SetInterval(0);
  cmd.show();
  ClickPart(*cmd.ScrollBarGamma, QStyle::SC_ScrollBarAddPage);
  EXPECT_EQ(DifferencesFromDesktop(view(), desktop.Picture(), kZoneLeft, kZoneTop), 0);
}

TEST_F(Input, MemoTabsKeepTheirSnapshotsAndSurviveClosingTheWindow) {
  Open();
  RestCursor(desktop, *form, kAway);
  Freeze();
  Type(*form, Qt::Key_M, Qt::ControlModifier);
  for (int i = 0; i < 3; ++i) QTest::mouseClick(cmd.SpeedButtonMemo, Qt::LeftButton);
  ASSERT_EQ(cmd.TabControl1->count(), 4);
  EXPECT_EQ(cmd.TabControl1->tabText(0), QString("0"));
  EXPECT_EQ(cmd.TabControl1->tabText(1), QString(" 1 "));
  EXPECT_EQ(cmd.TabControl1->tabText(2), QString(" 2 "));
  EXPECT_EQ(cmd.TabControl1->tabText(3), QString(" 3 "));
  EXPECT_EQ(cmd.TabControl1->currentIndex(), 3);

  cmd.activateWindow();
  ASSERT_TRUE(WaitFor([&] { return cmd.isActiveWindow(); }));
  cmd.close();
  EXPECT_FALSE(cmd.isVisible());
  EXPECT_TRUE(WaitFor([&] { return QApplication::focusWidget() == form.get(); }));
  Type(*form, Qt::Key_M, Qt::ControlModifier);
  EXPECT_TRUE(cmd.isVisible());
  EXPECT_EQ(cmd.TabControl1->count(), 4);
  EXPECT_EQ(DifferencesFromDesktop(cmd.Snapshot(), desktop.Picture(), kZoneLeft, kZoneTop), 0);

  // A later freeze of another picture; tab 1 still brings back the first one, into the view.
  Type(*form, Qt::Key_Space);
  Paint(desktop.Picture(), Inverted);
  RestCursor(desktop, *form, kAway);
  Freeze();
  Type(*form, Qt::Key_M, Qt::ControlModifier);
  QTest::mouseClick(cmd.TabControl1, Qt::LeftButton, Qt::NoModifier,
                    cmd.TabControl1->tabRect(1).center());
  ASSERT_EQ(cmd.TabControl1->currentIndex(), 1);
  Paint(desktop.Picture(), Where);
  EXPECT_EQ(DifferencesFromDesktop(cmd.Image1->Picture(), desktop.Picture(), kZoneLeft, kZoneTop),
            0);
  EXPECT_EQ(DifferencesFromDesktop(view(), desktop.Picture(), kZoneLeft, kZoneTop), 0);
  // Tab "0" is the latest freeze.
  QTest::mouseClick(cmd.TabControl1, Qt::LeftButton, Qt::NoModifier,
                    cmd.TabControl1->tabRect(0).center());
  Paint(desktop.Picture(), Inverted);
  EXPECT_EQ(DifferencesFromDesktop(view(), desktop.Picture(), kZoneLeft, kZoneTop), 0);
}

// Space handled in the message pump of a running cycle: the freeze's cycle runs inside it,
// and the outer one still writes its caption afterwards.
TEST_F(Input, FreezeFromInsideARunningCycleNestsItsOwnCycle) {
  Open();
  RestCursor(desktop, *form, kAway);
  const int copies = desktop.CopyCount();
  QCoreApplication::postEvent(form.get(),
                              new QKeyEvent(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, " "));
  form->Timer1Timer();
  EXPECT_TRUE(form->Frozen());
  EXPECT_EQ(desktop.CopyCount(), copies + 2);  // the outer cycle's and the nested one's
  EXPECT_EQ(DifferencesFromDesktop(cmd.Snapshot(), desktop.Picture(), kZoneLeft, kZoneTop), 0);
  EXPECT_EQ(form->windowTitle(), QString("Ombrix [361 x 432] - [X=1000 Y=600]"));
}

TEST_F(Input, SpaceTypedIntoTheCommandWindowFreezesAndUnfreezes) {
  Open();
  RestCursor(desktop, *form, kAway);
  cmd.show();
  for (const bool frozen : {true, false}) {
    cmd.activateWindow();
    ASSERT_TRUE(WaitFor([&] { return cmd.isActiveWindow(); }));
    Type(cmd, Qt::Key_Space);
    EXPECT_EQ(form->Frozen(), frozen);
  }
}

}  // namespace
}  // namespace ombrix::test
