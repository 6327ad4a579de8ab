#include "BrightnessContrast.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "../imaging/TestPictures.h"
#include "Zoom.h"

namespace ombrix {
namespace {

// Some entries of the table of one setting, worked out by hand from the formula. Several land
// exactly on a half and go to the even neighbour; 2.55 * 100 is just below 255 in double.
struct TableCase {
  const char* name;
  int brightness, contrast;
  std::vector<std::pair<int, int>> entries;  // v, v'
};

class BrightnessContrastEntries : public testing::TestWithParam<TableCase> {};

TEST_P(BrightnessContrastEntries, FollowTheFormula) {
  const TableCase& c = GetParam();
  const auto table = BrightnessContrastTable(c.brightness, c.contrast);
  for (const auto& [v, expected] : c.entries)
    EXPECT_EQ(table[static_cast<std::size_t>(v)], expected) << "v = " << v;
}

INSTANTIATE_TEST_SUITE_P(
    BrightnessContrast, BrightnessContrastEntries,
    testing::Values(
        // k = 0: everything becomes 127.5 - 255, 127.5 + 255 or 127.5 (even: 128).
        TableCase{"LowestBothBlack", -100, -100, {{0, 0}, {128, 0}, {255, 0}}},
        TableCase{"HighestBrightnessLowestContrastWhite", 100, -100, {{0, 255}, {255, 255}}},
        TableCase{"LowestContrastMidGrey", 0, -100, {{0, 128}, {100, 128}, {255, 128}}},
        // v - 254.99999999999997: 255 keeps a trace above 0 and still rounds to 0.
        TableCase{"LowestBrightnessBlack", -100, 0, {{0, 0}, {254, 0}, {255, 0}}},
        TableCase{"HighestBrightnessWhite", 100, 0, {{0, 255}, {1, 255}, {255, 255}}},
        // k = 4: (v - 127.5) * 4 + 127.5.
        TableCase{
            "HighestContrast",
            0,
            100,
            {{0, 0}, {95, 0}, {96, 2}, {97, 6}, {127, 126}, {128, 130}, {159, 254}, {160, 255}}},
        // k = 4 and + 255; 191 gives 126.5 plus the trace, so 127.
        TableCase{"HighestBoth", 100, 100, {{0, 0}, {63, 124}, {64, 128}, {65, 132}, {255, 255}}},
        TableCase{"LowestBrightnessHighestContrast",
                  -100,
                  100,
                  {{0, 0}, {190, 123}, {191, 127}, {192, 131}, {255, 255}}},
        // k = 0.25.
        TableCase{"HalfContrast", 0, -50, {{0, 96}, {2, 96}, {126, 127}, {129, 128}, {255, 159}}},
        // + 25.5 exactly: every entry is a half.
        TableCase{"TenBrightnessHalvesToEven",
                  10,
                  0,
                  {{0, 26}, {1, 26}, {2, 28}, {127, 152}, {128, 154}, {229, 254}, {230, 255}}},
        // Outside the bars' range the nearer end counts.
        TableCase{"BeyondTheRangeIsTheEnd", 300, -400, {{0, 255}, {255, 255}}}),
    [](const testing::TestParamInfo<TableCase>& p) { return std::string(p.param.name); });

TEST(BrightnessContrast, ZeroIsTheIdentityAndTheOnlyOne) {
  const auto table = BrightnessContrastTable(0, 0);
  for (int v = 0; v < 256; ++v) ASSERT_EQ(table[static_cast<std::size_t>(v)], v);
  EXPECT_TRUE(BrightnessContrastIsIdentity(0, 0));
  EXPECT_FALSE(BrightnessContrastIsIdentity(1, 0));
  EXPECT_FALSE(BrightnessContrastIsIdentity(0, -1));
}

TEST(BrightnessContrast, TableFollowsEveryChangeOfTheBars) {
  TBrightnessContrast bars;
  EXPECT_EQ(bars.Table(0, 0), nullptr);
  const auto* table = bars.Table(10, 0);
  ASSERT_NE(table, nullptr);
  EXPECT_EQ((*table)[0], 26);
  EXPECT_EQ(bars.Table(0, 0), nullptr);
  EXPECT_EQ((*bars.Table(0, 100))[96], 2);
  EXPECT_EQ((*bars.Table(10, 0))[0], 26);
}

// The zoom applies the table after its gamma, to blue, green and red, and leaves no fourth
// byte of its own: at factor 1 the view is the table of the gamma of the capture.
TEST(BrightnessContrast, ZoomAppliesTheTableAfterTheGamma) {
  TBitmap capture(4, 2);
  test::Fill(capture, 0x00FF8000);  // red 0, green 128, blue 255
  const auto table = BrightnessContrastTable(10, 0);
  TZoomSettings settings;
  settings.Colours = &table;
  TBitmap view(4, 2);
  ZoomStage(capture, view, 4, 2, settings);
  EXPECT_EQ(view.Canvas().Pixel(3, 1), 0x00FF9A1Au);  // 26, 154, 255

  // Gamma 2 makes 128 into 64 (64.25), then + 25.5 gives 89.5: 90. The other way round
  // (154 through the gamma) it would be 93.
  settings.Gamma = 2.0f;
  ZoomStage(capture, view, 4, 2, settings);
  EXPECT_EQ(view.Canvas().Pixel(0, 0), 0x00FF5A1Au);  // 26, 90, 255
}

TEST(BrightnessContrast, FrozenRedrawAppliesTheTableToo) {
  TBitmap snapshot(6, 4);
  test::Fill(snapshot, test::Grey(100));
  const auto table = BrightnessContrastTable(0, 100);  // 100 -> 17.5 -> 18
  TBitmap view;
  RenderScaled(snapshot, view, {0, 0, 6, 4}, 1, 0.0f, 6, 4, &table);
  EXPECT_EQ(view.Canvas().Pixel(5, 3), test::Grey(18));
}

}  // namespace
}  // namespace ombrix
