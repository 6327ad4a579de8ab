#include <gtest/gtest.h>

#include <QFrame>
#include <QLabel>
#include <QSlider>
#include <QSpinBox>
#include <algorithm>
#include <string>

#include "Ombrix.h"
#include "WindowTestSupport.h"

namespace ombrix::test {
namespace {

// The largest outer sizes: the area rule's quotient plus the frame, or a fixed cap.
struct SizeCase {
  const char* name;
  int clientWidth;
  int clientHeight;
  int maxWidth;
  bool maxWidthAddsFrame;
  int maxHeight;
  bool maxHeightAddsFrame;
};

class SizeLimits : public ::testing::TestWithParam<SizeCase> {
 protected:
  MemoryDesktop desktop{1600, 1000};
};

TEST_P(SizeLimits, AreaRuleBoundsEachSideByTheOther) {
  const SizeCase& c = GetParam();
  auto form = OpenWindow(desktop, c.clientWidth, c.clientHeight, QPoint(10, 10));
  // The limits are outer sizes: Qt's client limits leave out the frame.
  const int frameWidth = form->frameGeometry().width() - form->width();
  const int frameHeight = form->frameGeometry().height() - form->height();
  ASSERT_EQ(form->FrameExtraWidth(), frameWidth);
  ASSERT_EQ(form->FrameExtraHeight(), frameHeight);
  const int maxWidth = c.maxWidth + (c.maxWidthAddsFrame ? frameWidth : 0);
  const int maxHeight = c.maxHeight + (c.maxHeightAddsFrame ? frameHeight : 0);
  EXPECT_EQ(form->MaxTrackWidth(), maxWidth);
  EXPECT_EQ(form->MaxTrackHeight(), maxHeight);
  EXPECT_EQ(form->maximumSize(), QSize(maxWidth - frameWidth, maxHeight - frameHeight));
  EXPECT_EQ(form->minimumSize(), QSize(162 - frameWidth, 399 - frameHeight));
  EXPECT_EQ(form->UpDown1->maximum(), maxWidth);
  EXPECT_EQ(form->UpDown2->maximum(), maxHeight);
  EXPECT_EQ(form->UpDown1->minimum(), 162);
  EXPECT_EQ(form->UpDown2->minimum(), 399);
  EXPECT_FALSE(form->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
}

INSTANTIATE_TEST_SUITE_P(SingleMonitor, SizeLimits,
                         ::testing::Values(
                             // 786432 div 361 = 2178, 786432 div 432 = 1820.
                             SizeCase{"Design", 361, 432, 1820, true, 2178, true},
                             // Wider than 1024: the outer height is capped at 768.
                             SizeCase{"Wide", 1100, 700, 786432 / 700, true, 768, false},
                             // Taller than 768: the outer width is capped at 1024.
                             SizeCase{"Tall", 500, 800, 1024, false, 786432 / 500, true}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(SizeLimitsTwoMonitors, NearestMonitorLessOnePixelAndAMaximiseButton) {
  MemoryDesktop desktop(2560, 1024);
  desktop.SetMonitors({{0, 0, 1280, 1024}, {1280, 0, 2560, 1024}});
  auto form = OpenWindow(desktop, 361, 432, QPoint(10, 10));
  EXPECT_TRUE(form->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
  const QSize frame = form->frameGeometry().size() - form->size();
  EXPECT_EQ(form->maximumSize(), QSize(1279, 1023) - frame);
  EXPECT_EQ(form->minimumSize(), QSize(162, 399) - frame);
}

TEST(MainWindow, ResizingARunningWindowEmptiesTheViewAndAFrozenOneKeepsIt) {
  MemoryDesktop desktop(1600, 1000);
  Paint(desktop.Picture(), Where);
  auto form = OpenWindow(desktop, 361, 432, QPoint(10, 10));
  RestCursor(desktop, *form, {1000, 600});
  ASSERT_EQ(form->Image1->Picture().Width(), 360);

  form->resize(401, 500);
  ASSERT_TRUE(WaitFor([&] { return form->width() == 401; }));
  EXPECT_TRUE(form->Image1->Picture().Empty());
  EXPECT_EQ(form->windowTitle(), QString("Ombrix 401 x 500"));
  EXPECT_EQ(form->Panel1->pos(), QPoint(401 / 2 - 154 / 2, 500 / 2 - 369 / 2));
  EXPECT_EQ(form->UpDown1->value(), 401);
  EXPECT_EQ(form->UpDown2->value(), 500);
  form->Timer1Timer();
  EXPECT_EQ(form->Image1->Picture().Width(), 400);

  form->Timer1->SetInterval(0);  // frozen
  form->resize(361, 432);
  ASSERT_TRUE(WaitFor([&] { return form->width() == 361; }));
  ASSERT_EQ(form->Image1->Picture().Width(), 400);
  EXPECT_EQ(DifferencesFromDesktop(form->Image1->Picture(), desktop.Picture(), 800, 350), 0);
  EXPECT_EQ(form->windowTitle(), QString("Ombrix 361 x 432"));
}

TEST(MainWindow, MagentaMiddleIsLeftOutOfTheWindowShape) {
  MemoryDesktop desktop(1600, 1000);
  auto form = OpenWindow(desktop, 361, 432, QPoint(10, 10));
  const QPoint middle(5, 5);  // inside the outline, beside the panel
  const QPoint panel = form->Panel1->geometry().center();
  EXPECT_TRUE(form->mask().contains(QPoint(0, 0)));
  EXPECT_TRUE(form->mask().contains(QPoint(360, 431)));
  EXPECT_TRUE(form->mask().contains(panel));
  EXPECT_FALSE(form->mask().contains(middle));
  // FormPaint fills that middle with the key colour inside a black outline.
  const QImage painted = form->grab().toImage();
  EXPECT_EQ(painted.pixel(0, 0) & 0xFFFFFF, 0u);
  EXPECT_EQ(painted.pixel(middle) & 0xFFFFFF, 0xFF00FFu);
  // The outline takes the window's colour, red kept red (0x00BBGGRR as Qt's 0xRRGGBB).
  form->SetColor(0x204080);
  EXPECT_EQ(form->grab().toImage().pixel(0, 0) & 0xFFFFFF, 0x804020u);
  form->SetColor(clBlack);

  // The view's picture is part of the shape while it is shown.
  RestCursor(desktop, *form, {1000, 600});
  EXPECT_TRUE(form->mask().contains(middle));
  EXPECT_TRUE(form->mask().contains(QPoint(359, 431)));
  // Emptied by a resize, the view leaves the middle see-through until the next frame.
  form->resize(401, 432);
  ASSERT_TRUE(WaitFor([&] { return form->width() == 401; }));
  EXPECT_FALSE(form->mask().contains(middle));
}

// The position labels under a track bar: no two touch, and all stay inside the bar's group,
// whatever face the toolkit finds for the window's font.
TEST(MainWindow, TrackBarLabelsNeitherRunIntoEachOtherNorLeaveTheirGroup) {
  MemoryDesktop desktop(1600, 1000);
  TForm1 form(desktop);
  for (const QSlider* bar : {form.Slider, form.TrackBarOperation, form.TrackBar3D}) {
    const QWidget* group = bar->parentWidget();
    QList<QLabel*> labels = group->findChildren<QLabel*>(Qt::FindDirectChildrenOnly);
    ASSERT_EQ(labels.size(), bar->maximum() + 1) << group->objectName().toStdString();
    std::sort(labels.begin(), labels.end(),
              [](const QLabel* a, const QLabel* b) { return a->x() < b->x(); });
    for (qsizetype i = 0; i < labels.size(); ++i) {
      const QRect text = labels[i]->geometry();
      const std::string name = labels[i]->text().toStdString();
      EXPECT_GE(text.width(), labels[i]->sizeHint().width()) << name;
      EXPECT_TRUE(group->rect().contains(text)) << name;
      EXPECT_GE(text.top(), bar->geometry().bottom()) << name;
      if (i + 1 < labels.size()) {
        EXPECT_FALSE(text.intersects(labels[i + 1]->geometry()))
            << name << " runs into " << labels[i + 1]->text().toStdString();
      }
    }
  }
}

TEST(StartUp, CreatesTheThreeWindowsHiddenWithTheApplicationTitle) {
  MemoryDesktop desktop(1600, 1000);
  TApplicationWindows windows = CreateApplicationWindows(desktop);
  EXPECT_EQ(QCoreApplication::applicationName(), QString("Ombrix"));
  EXPECT_FALSE(windows.Form1->isVisible());
  EXPECT_FALSE(windows.FormCmd->isVisible());
  EXPECT_FALSE(windows.Form2->isVisible());
  EXPECT_EQ(windows.Form1->FormCmd(), windows.FormCmd.get());
  EXPECT_EQ(windows.Form1->Timer1->Interval(), 25);
  EXPECT_EQ(windows.Form1->size(), QSize(361, 432));
  // Only the main window's closing ends the program.
  EXPECT_TRUE(windows.Form1->testAttribute(Qt::WA_QuitOnClose));
  EXPECT_FALSE(windows.FormCmd->testAttribute(Qt::WA_QuitOnClose));
  EXPECT_FALSE(windows.Form2->testAttribute(Qt::WA_QuitOnClose));
}

}  // namespace
}  // namespace ombrix::test
