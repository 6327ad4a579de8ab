// The command window's tabs and preview: the selected tab and the picture shown agree.

#include "Ucmdprocess.h"

#include <gtest/gtest.h>

#include <QTabBar>
#include <QTest>
#include <QToolButton>
#include <cstring>
#include <vector>

namespace ombrix {
namespace {

// A flat picture of one colour: each freeze and memo is told apart by its colour.
class Flat : public TBitmap {
 public:
  explicit Flat(TColor colour) : TBitmap(6, 4) {
    Canvas().Brush.Color = colour;
    Canvas().FillRect({0, 0, 6, 4});
  }
};

bool SamePicture(const TBitmap& a, const TBitmap& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height() || a.PixelFormat() != b.PixelFormat())
    return false;
  for (int y = 0; y < a.Height(); ++y) {
    if (std::memcmp(a.ScanLine(y), b.ScanLine(y), static_cast<std::size_t>(a.Width()) * 4) != 0)
      return false;
  }
  return true;
}

void ClickTab(TFormCmd& cmd, int index) {
  QTest::mouseClick(cmd.TabControl1, Qt::LeftButton, Qt::NoModifier,
                    cmd.TabControl1->tabRect(index).center());
}

// The selected tab and the preview agree at every step: a freeze selects tab "0", which always
// holds the latest freeze, whatever tab was selected before.
TEST(CommandWindow, NewFreezeSelectsTabZeroWithThePreviewOfTheNewPicture) {
  TFormCmd cmd;
  cmd.show();
  const Flat first(0x102030);
  const Flat second(0x405060);
  const Flat third(0x708090);
  cmd.TakeSnapshot(first);
  for (int i = 0; i < 3; ++i) QTest::mouseClick(cmd.SpeedButtonMemo, Qt::LeftButton);
  ASSERT_EQ(cmd.TabControl1->count(), 4);
  ClickTab(cmd, 1);
  ASSERT_EQ(cmd.TabControl1->currentIndex(), 1);

  cmd.TakeSnapshot(second);
  EXPECT_EQ(cmd.TabControl1->currentIndex(), 0);
  EXPECT_TRUE(SamePicture(cmd.Image1->Picture(), second));
  EXPECT_TRUE(SamePicture(cmd.Snapshot(), second));

  // The memos keep the picture of their making; tab "0" follows each freeze.
  ClickTab(cmd, 2);
  EXPECT_TRUE(SamePicture(cmd.Image1->Picture(), first));
  cmd.TakeSnapshot(third);
  EXPECT_EQ(cmd.TabControl1->currentIndex(), 0);
  EXPECT_TRUE(SamePicture(cmd.Image1->Picture(), third));
  ClickTab(cmd, 3);
  EXPECT_TRUE(SamePicture(cmd.Image1->Picture(), first));
  ClickTab(cmd, 0);
  EXPECT_TRUE(SamePicture(cmd.Image1->Picture(), third));
}

}  // namespace
}  // namespace ombrix
