#include <gtest/gtest.h>

#include <QBackingStore>
#include <QCheckBox>
#include <QFrame>
#include <QImage>
#include <QMetaObject>
#include <QPixmap>
#include <QScrollBar>
#include <QSlider>
#include <QTest>

#include "Ucmdprocess.h"
#include "WindowTestSupport.h"

namespace ombrix::test {
namespace {

class FrameCycle : public ::testing::Test {
 protected:
  FrameCycle() { Paint(desktop.Picture(), Where); }

  // A 361 x 432 client in a window at (40, 40), well away from x 600 and beyond.
  void Open() { form = OpenWindow(desktop, 361, 432, QPoint(40, 40)); }

  MemoryDesktop desktop{1600, 1000};
  std::unique_ptr<TForm1> form;
};

TEST_F(FrameCycle, OddClientGivesEvenZoneViewAndCaptionWithTheClientSize) {
  Open();
  RestCursor(desktop, *form, {1000, 600});
  EXPECT_EQ(form->windowTitle(), QString("Ombrix [361 x 432] - [X=1000 Y=600]"));
  const TBitmap& capture = form->CaptureBitmap();
  const TBitmap& view = form->Image1->Picture();
  ASSERT_EQ(capture.Width(), 360);
  ASSERT_EQ(capture.Height(), 432);
  ASSERT_EQ(view.Width(), 360);
  ASSERT_EQ(view.Height(), 432);
  // The zone is centred on the cursor: 820..1179 x 384..815.
  EXPECT_EQ(DifferencesFromDesktop(capture, desktop.Picture(), 820, 384), 0);
  // At zoom 1 and gamma 0 the view is the capture.
  EXPECT_EQ(DifferencesFromDesktop(view, desktop.Picture(), 820, 384), 0);
  EXPECT_FALSE(form->Image1->isHidden());
  EXPECT_TRUE(form->Panel1->isHidden());

  // The view is shown unstretched from the top-left corner, rows the right way up.
  const QImage shown = form->Image1->grab().toImage();
  for (const QPoint p : {QPoint(0, 0), QPoint(359, 0), QPoint(0, 431), QPoint(123, 321)}) {
    const TColor c = PixelOf(view, p.x(), p.y());
    EXPECT_EQ(shown.pixel(p) & 0xFFFFFF, ToRgb(c)) << p.x() << ", " << p.y();
  }
  // The window's backing store, which the control writes the view into: every pixel, opaque.
  QPaintDevice* store = form->backingStore()->paintDevice();
  ASSERT_EQ(store->devType(), QInternal::Image);
  const QImage& stored = *static_cast<QImage*>(store);
  const QPoint at = form->Image1->mapTo(form.get(), QPoint(0, 0));
  int differences = 0;
  for (int y = 0; y < view.Height(); ++y)
    for (int x = 0; x < view.Width(); ++x)
      differences +=
          stored.pixel(at.x() + x, at.y() + y) != (0xFF000000u | ToRgb(PixelOf(view, x, y)));
  EXPECT_EQ(differences, 0);
}

TEST_F(FrameCycle, MovingCursorNeverRefreshesTheView) {
  Open();
  for (int x = 600; x < 610; ++x) {
    desktop.SetCursor({x, 600});
    form->Timer1Timer();
  }
  EXPECT_EQ(desktop.CopyCount(), 0);
  EXPECT_TRUE(form->Image1->isHidden());
  EXPECT_EQ(form->windowTitle(), QString("Ombrix 361 x 432"));  // the resize's caption stays
  form->Timer1Timer();                                          // the first still tick draws
  EXPECT_EQ(desktop.CopyCount(), 1);
  EXPECT_EQ(form->windowTitle(), QString("Ombrix [361 x 432] - [X=609 Y=600]"));
}

// The cycle's caption is not formatted again while its inputs stay, but a caption written in
// between (a resize's) is still replaced, even when the size came back to the same.
TEST_F(FrameCycle, ResizeCaptionIsReplacedByTheNextCycleEvenAtTheSameSizeAndPoint) {
  Open();
  RestCursor(desktop, *form, {1000, 600});
  const QString cycleCaption("Ombrix [361 x 432] - [X=1000 Y=600]");
  EXPECT_EQ(form->windowTitle(), cycleCaption);
  form->resize(400, 500);
  form->resize(361, 432);
  EXPECT_EQ(form->windowTitle(), QString("Ombrix 361 x 432"));
  form->Timer1Timer();
  EXPECT_EQ(form->windowTitle(), cycleCaption);
  desktop.SetCursor({1001, 600});
  form->Timer1Timer();  // a moved cursor: no caption step
  EXPECT_EQ(form->windowTitle(), cycleCaption);
  form->Timer1Timer();
  EXPECT_EQ(form->windowTitle(), QString("Ombrix [361 x 432] - [X=1001 Y=600]"));
}

TEST_F(FrameCycle, CursorOverTheWindowShowsThePanelAndForceCaptureTakesTheAreaUnderTheView) {
  Open();
  RestCursor(desktop, *form, {100, 100});
  EXPECT_FALSE(form->Panel1->isHidden());
  EXPECT_TRUE(form->Image1->isHidden());
  EXPECT_EQ(desktop.CopyCount(), 0);
  EXPECT_EQ(form->windowTitle(), QString("Ombrix [361 x 432] - [X=100 Y=100]"));

  form->SetForceCapture(true);
  form->Timer1Timer();
  form->SetForceCapture(false);
  EXPECT_EQ(desktop.CopyCount(), 1);
  EXPECT_TRUE(form->Panel1->isHidden());
  // The view's top-left corner on the screen, inside the window's frame.
  const QPoint view = form->geometry().topLeft();
  ASSERT_NE(view, QPoint(40, 40));
  EXPECT_EQ(form->ZonePoint(), (TPoint{view.x(), view.y()}));
  EXPECT_EQ(form->windowTitle(),
            QString::asprintf("Ombrix [361 x 432] - [X=%d Y=%d]", view.x(), view.y()));
  EXPECT_EQ(DifferencesFromDesktop(form->CaptureBitmap(), desktop.Picture(), view.x(), view.y()),
            0);
}

TEST_F(FrameCycle, ButtonHeldOnTheFrameShowsThePanelUntilReleased) {
  Open();
  desktop.SetCursor({1000, 600});
  form->Timer1->SetInterval(5);
  ASSERT_TRUE(WaitFor([&] { return desktop.CopyCount() > 0; }));
  // The pointer on the frame, just outside the client area, with the button down.
  const QRect client = form->geometry();
  ASSERT_GT(client.top(), form->frameGeometry().top());
  desktop.SetCursor({client.left() + 10, client.top() - 1});
  QTest::mousePress(form.get(), Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
  EXPECT_TRUE(WaitFor([&] { return form->NonClientActive(); }));
  QTest::mouseRelease(form.get(), Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
  EXPECT_TRUE(WaitFor([&] { return !form->NonClientActive(); }));
  form->Timer1->SetInterval(kRunningButIdle);
}

// A cycle that, like a key handler run inside its message pump, starts a further cycle.
class NestingForm : public TForm1 {
 public:
  using TForm1::TForm1;
  int cycles = 0;

 protected:
  void SharpenStage(int level) override {
    ++cycles;
    QMetaObject::invokeMethod(
        this, [this] { Timer1Timer(); }, Qt::QueuedConnection);
    TForm1::SharpenStage(level);
  }
};

TEST_F(FrameCycle, CyclesStartedFromThePumpNestOnlyAFewDeep) {
  auto nesting = OpenWindow<NestingForm>(desktop, 361, 432, QPoint(40, 40));
  desktop.SetCursor({1000, 600});
  nesting->Timer1Timer();
  // Every cycle asks for another from inside its pump; the deepest ones no longer pump, so
  // the chain ends and the outermost cycle writes its caption.
  nesting->Timer1Timer();
  EXPECT_GE(nesting->cycles, 2);
  EXPECT_LE(nesting->cycles, 3);
  EXPECT_EQ(nesting->windowTitle(), QString("Ombrix [361 x 432] - [X=1000 Y=600]"));
}

TEST_F(FrameCycle, MinimisedWindowOnlyRewritesItsCaption) {
  Open();
  RestCursor(desktop, *form, {1000, 600});
  form->showMinimized();
  form->setWindowTitle("something else");
  desktop.SetCursor({1200, 700});
  form->Timer1Timer();
  form->Timer1Timer();
  EXPECT_EQ(desktop.CopyCount(), 1);
  EXPECT_EQ(form->windowTitle(), QString("Ombrix [361 x 432] - [X=1000 Y=600]"));
}

TEST_F(FrameCycle, UnreadableScreenEndsTheCycleSilently) {
  Open();
  desktop.SetAvailable(false);
  RestCursor(desktop, *form, {1000, 600});
  EXPECT_EQ(form->windowTitle(), QString("Ombrix 361 x 432"));
  desktop.SetAvailable(true);
  form->Timer1Timer();
  EXPECT_EQ(DifferencesFromDesktop(form->CaptureBitmap(), desktop.Picture(), 820, 384), 0);
}

TEST_F(FrameCycle, LiveGammaIsTheGammaBarPositionOverOneHundred) {
  Paint(desktop.Picture(), [](int, int) { return TColor{0x808080}; });
  Open();
  TFormCmd formCmd;
  formCmd.ScrollBarGamma->setValue(150);
  form->SetFormCmd(&formCmd);
  RestCursor(desktop, *form, {1000, 600});
  // 255 * (128 / 255) ^ 1.5 = 90.7; a gamma cut to 1 would leave 128.
  const TColor live = PixelOf(form->Image1->Picture(), 180, 216);
  EXPECT_NEAR(static_cast<int>(live & 0xFF), 91, 1);

  // RenderToView takes the same real gamma.
  TBitmap snapshot(40, 30);
  Paint(snapshot, [](int, int) { return TColor{0x808080}; });
  form->RenderToView(snapshot, {0, 0, 40, 30}, 1, 1.5f, 0, 40, 30);
  ASSERT_EQ(form->Image1->Picture().Width(), 40);
  EXPECT_NEAR(static_cast<int>(PixelOf(form->Image1->Picture(), 20, 15) & 0xFF), 91, 1);
  form->SetFormCmd(nullptr);
}

}  // namespace
}  // namespace ombrix::test
