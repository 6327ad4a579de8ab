#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "TestPictures.h"
#include "iwFilters.h"

namespace ombrix {
namespace {

using test::ChangeCounter;
using test::Fill;
using test::Grey;

std::vector<int32_t> Values(const TImageBaseFilter& f) {
  return {f.Kernel().begin(), f.Kernel().end()};
}

struct RadiusRow {
  float radius;
  uint16_t n;
  int32_t centreWeight;
  int32_t total;
  int32_t unsharpCentre;
};

class GaussianKernel : public ::testing::TestWithParam<RadiusRow> {};

TEST_P(GaussianKernel, MatchesTheRadiusTable) {
  const RadiusRow row = GetParam();
  const auto mid = static_cast<uint16_t>(row.n + 1);
  TGaussianBlurFilter blur(nullptr);
  TUnsharpMaskFilter unsharp(nullptr);
  blur.SetRadius(row.radius);
  unsharp.SetRadius(row.radius);
  for (const TImageBaseFilter* f :
       {static_cast<TImageBaseFilter*>(&blur), static_cast<TImageBaseFilter*>(&unsharp)}) {
    EXPECT_EQ(f->KernelCount(), 1);
    EXPECT_EQ(f->GetSquareSize(), 2 * row.n + 1);
    EXPECT_EQ(f->ScaleFactor(), row.total);
  }
  EXPECT_EQ(blur.GetKernelValue(1, mid, mid), row.centreWeight);
  EXPECT_EQ(blur.GetKernelValue(1, 1, 1), 1);
  EXPECT_EQ(unsharp.GetKernelValue(1, mid, mid), row.unsharpCentre);
  EXPECT_EQ(unsharp.GetKernelValue(1, 1, mid), -blur.GetKernelValue(1, 1, mid));
}

INSTANTIATE_TEST_SUITE_P(
    Radii, GaussianKernel,
    ::testing::Values(RadiusRow{0.5f, 1, 55, 87, 119}, RadiusRow{1.0f, 2, 55, 331, 607},
                      RadiusRow{2.0f, 5, 518, 12874, 25230}, RadiusRow{3.0f, 7, 231, 12763, 25295},
                      RadiusRow{4.0f, 9, 158, 15350, 30542},
                      RadiusRow{5.0f, 11, 126, 19010, 37894}),
    [](const ::testing::TestParamInfo<RadiusRow>& row) {
      // Radius 0.5 reads "Radius0_5", not the 5 that tenths would make of it.
      const int tenths = static_cast<int>(row.param.radius * 10);
      return "Radius" + std::to_string(tenths / 10) + "_" + std::to_string(tenths % 10);
    });

TEST(GaussianBlur, RadiusOneAndRadiusHalfWeights) {
  TGaussianBlurFilter blur(nullptr);
  EXPECT_EQ(Values(blur), (std::vector<int32_t>{1,  4, 7, 4,  1,  4,  20, 33, 20, 4, 7, 33, 55,
                                                33, 7, 4, 20, 33, 20, 4,  1,  4,  7, 4, 1}));
  blur.SetRadius(0.5f);
  EXPECT_EQ(Values(blur), (std::vector<int32_t>{1, 7, 1, 7, 55, 7, 1, 7, 1}));
}

// One pixel of 200 on a flat 100 at radius 1: 255 (283 before clamping), 90 beside it, 93 on
// the diagonals, 97 two steps away in line, 100 more than two steps away.
TEST(UnsharpMask, BrightPixelOnFlatGround) {
  TBitmap source(11, 11, pf32bit);
  Fill(source, Grey(100));
  source.Canvas().SetPixel(5, 5, Grey(200));
  TUnsharpMaskFilter unsharp(nullptr);
  EXPECT_EQ(unsharp.Radius(), 1.0f);
  TBitmap target;
  ASSERT_TRUE(unsharp.Apply(&target, &source));
  for (int y = 0; y < 11; ++y) {
    for (int x = 0; x < 11; ++x) {
      const int dx = std::abs(x - 5);
      const int dy = std::abs(y - 5);
      if (dx <= 2 && dy <= 2 && dx + dy >= 3) continue;  // no figure given for these
      uint8_t expected = 100;
      if (dx + dy == 0)
        expected = 255;
      else if (dx + dy == 1)
        expected = 90;
      else if (dx == 1 && dy == 1)
        expected = 93;
      else if (dx + dy == 2)
        expected = 97;
      EXPECT_EQ(target.Canvas().Pixel(x, y), Grey(expected)) << "at " << x << ", " << y;
    }
  }
}

TEST(GaussianFilters, FlatPictureIsUnchangedAtEveryRadius) {
  TBitmap source(7, 5, pf32bit);
  Fill(source, 0x3C80C8);
  TGaussianBlurFilter blur(nullptr);
  TUnsharpMaskFilter unsharp(nullptr);
  for (const float radius : {0.5f, 1.0f, 2.0f, 3.0f, 4.0f, 5.0f}) {
    blur.SetRadius(radius);
    unsharp.SetRadius(radius);
    for (TImageBaseFilter* f :
         {static_cast<TImageBaseFilter*>(&blur), static_cast<TImageBaseFilter*>(&unsharp)}) {
      TBitmap target;
      ASSERT_TRUE(f->Apply(&target, &source));
      for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 7; ++x) {
          ASSERT_EQ(target.Canvas().Pixel(x, y), 0x3C80C8u) << f->ClassName() << " " << radius;
        }
      }
    }
  }
}

TEST(GaussianFilters, RadiusChangesRebuildWithOneChangeAndTooSmallRadiiAreIgnored) {
  TUnsharpMaskFilter unsharp(nullptr);
  const std::vector<int32_t> radiusOne = Values(unsharp);
  ChangeCounter changes(unsharp);
  unsharp.SetRadius(2.0f);
  unsharp.SetRadius(2.0f);
  EXPECT_EQ(changes.count, 1);
  unsharp.SetRadius(1.0f);
  EXPECT_EQ(changes.count, 2);
  EXPECT_EQ(Values(unsharp), radiusOne);
  // Below 0.27 the weights or the channel sums would leave the 32-bit range.
  for (const float bad : {-1.0f, 0.0f, 0.2f, 0.2699f}) unsharp.SetRadius(bad);
  EXPECT_EQ(unsharp.Radius(), 1.0f);
  EXPECT_EQ(Values(unsharp), radiusOne);
  EXPECT_EQ(changes.count, 2);
  unsharp.SetRadius(0.27f);
  EXPECT_EQ(unsharp.GetSquareSize(), 3);
}

TEST(GaussianFilters, AssigningABlurGivesTheUnsharpMaskItsRadiusAndKernel) {
  TGaussianBlurFilter blur(nullptr);
  blur.SetRadius(3.0f);
  TUnsharpMaskFilter unsharp(nullptr);
  ChangeCounter changes(unsharp);
  unsharp.Assign(&blur);
  EXPECT_EQ(unsharp.Radius(), 3.0f);
  EXPECT_EQ(unsharp.GetKernelValue(1, 8, 8), 25295);
  EXPECT_EQ(changes.count, 1);
}

}  // namespace
}  // namespace ombrix
