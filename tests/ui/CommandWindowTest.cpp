// The command window against a main window of the test's own, through the one interface the
// two share.

#include <gtest/gtest.h>

#include <QScrollBar>
#include <vector>

#include "Ucmdprocess.h"

namespace ombrix {
namespace {

class TRecordingMainWindow : public TCmdMainWindow {
 public:
  struct TRedraw {
    int width, height;
    float gamma;
    int brightness, contrast;
  };
  std::vector<TRedraw> redraws;
  std::vector<int> keys;
  int focused = 0;
  bool frozen = false;
  TBitmap view;

  void RedrawView(const TBitmap& picture, const TCmdAdjustments& adjustments) override {
    redraws.push_back({picture.Width(), picture.Height(), adjustments.gamma, adjustments.brightness,
                       adjustments.contrast});
  }
  const TBitmap& CurrentView() override { return view; }
  bool Frozen() const override { return frozen; }
  void FormKeyDown(int key, Qt::KeyboardModifiers) override { keys.push_back(key); }
  void FocusMainWindow() override { ++focused; }
};

TEST(CommandWindow, PublishesItsBarsAndAsksForRedrawsOfTheSelectedSnapshot) {
  TFormCmd cmd;
  TRecordingMainWindow main;
  cmd.SetMainWindow(&main);
  cmd.ScrollBarGamma->setValue(150);
  cmd.ScrollBarBrightness->setValue(-30);
  cmd.ScrollBar2->setValue(40);
  const TCmdAdjustments adjustments = cmd.Adjustments();
  EXPECT_EQ(adjustments.gamma, 1.5f);
  EXPECT_EQ(adjustments.brightness, -30);
  EXPECT_EQ(adjustments.contrast, 40);

  TBitmap capture(40, 30);
  cmd.TakeSnapshot(capture);
  cmd.ScrollBarGammaScroll(scPosition, 250);
  ASSERT_EQ(main.redraws.size(), 1u);
  EXPECT_EQ(main.redraws[0].width, 40);
  EXPECT_EQ(main.redraws[0].height, 30);
  EXPECT_EQ(main.redraws[0].gamma, 2.5f);
  EXPECT_EQ(main.focused, 1);

  // A tab chosen while the main window runs only changes the preview; while frozen it redraws
  // with the bar's gamma.
  cmd.SpeedButtonMemoClick();
  cmd.TabControl1Change(0);
  EXPECT_EQ(main.redraws.size(), 1u);
  main.frozen = true;
  cmd.TabControl1Change(1);
  ASSERT_EQ(main.redraws.size(), 2u);
  EXPECT_EQ(main.redraws[1].gamma, 1.5f);

  // The brightness and contrast bars ask for the same redraw, with the position their event
  // reports for the bar moved and the others as they stand.
  cmd.ScrollBarBrightnessScroll(scLineDown, -29);
  cmd.ScrollBar2Scroll(scTrack, -100);
  ASSERT_EQ(main.redraws.size(), 4u);
  EXPECT_EQ(main.redraws[2].gamma, 1.5f);
  EXPECT_EQ(main.redraws[2].brightness, -29);
  EXPECT_EQ(main.redraws[2].contrast, 40);
  EXPECT_EQ(main.redraws[3].brightness, -30);
  EXPECT_EQ(main.redraws[3].contrast, -100);
  EXPECT_EQ(main.focused, 4);

  // Detached, the window asks nothing.
  cmd.SetMainWindow(nullptr);
  cmd.ScrollBarGammaScroll(scPosition, 100);
  EXPECT_EQ(main.redraws.size(), 4u);
}

}  // namespace
}  // namespace ombrix
