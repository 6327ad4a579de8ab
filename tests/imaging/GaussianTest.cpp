#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestPictures.h"
#include "iwFilters.h"

namespace ombrix {
namespace {

using test::ChangeCounter;
using test::Fill;

TColor Grey(uint8_t v) {
  return static_cast<TColor>(v) * 0x010101u;
}

struct RadiusRow {
  float radius;
  int n;
  int32_t centreWeight;
  int32_t total;
  int32_t unsharpCentre;
};

class GaussianKernel : public ::testing::TestWithParam<RadiusRow> {};

TEST_P(GaussianKernel, BlurAndUnsharpKernelsMatchTheRadiusTable) {
  const RadiusRow row = GetParam();
  const auto size = static_cast<uint16_t>(2 * row.n + 1);
  const auto mid = static_cast<uint16_t>(row.n + 1);

  TGaussianBlurFilter blur(nullptr);
  blur.SetRadius(row.radius);
  EXPECT_EQ(blur.KernelCount(), 1);
  EXPECT_EQ(blur.GetSquareSize(), size);
  EXPECT_EQ(blur.GetKernelValue(1, mid, mid), row.centreWeight);
  EXPECT_EQ(blur.ScaleFactor(), row.total);
  EXPECT_EQ(blur.Bias(), 0);
  EXPECT_EQ(blur.GetKernelValue(1, 1, 1), 1);
  EXPECT_EQ(blur.GetKernelValue(1, size, size), 1);
  int32_t sum = 0;
  for (const int32_t w : blur.Kernel()) sum += w;
  EXPECT_EQ(sum, row.total);

  TUnsharpMaskFilter unsharp(nullptr);
  unsharp.SetRadius(row.radius);
  EXPECT_EQ(unsharp.GetSquareSize(), size);
  EXPECT_EQ(unsharp.GetKernelValue(1, mid, mid), row.unsharpCentre);
  EXPECT_EQ(unsharp.ScaleFactor(), row.total);
  EXPECT_EQ(unsharp.GetKernelValue(1, 1, size), -1);
  EXPECT_EQ(unsharp.GetKernelValue(1, mid, 1), -blur.GetKernelValue(1, mid, 1));
}

INSTANTIATE_TEST_SUITE_P(
    Radii, GaussianKernel,
    ::testing::Values(RadiusRow{0.5f, 1, 55, 87, 119}, RadiusRow{1.0f, 2, 55, 331, 607},
                      RadiusRow{2.0f, 5, 518, 12874, 25230}, RadiusRow{3.0f, 7, 231, 12763, 25295},
                      RadiusRow{4.0f, 9, 158, 15350, 30542},
                      RadiusRow{5.0f, 11, 126, 19010, 37894}),
    [](const ::testing::TestParamInfo<RadiusRow>& row) {
      const int tenths = static_cast<int>(row.param.radius * 10.0f + 0.5f);
      return "Radius" + std::to_string(tenths / 10) + "_" + std::to_string(tenths % 10);
    });

TEST(GaussianBlur, RadiusOneWeightsAreTheFiveByFiveTable) {
  TGaussianBlurFilter blur(nullptr);
  std::vector<int32_t> weights;
  for (uint16_t r = 1; r <= 5; ++r) {
    for (uint16_t c = 1; c <= 5; ++c) weights.push_back(blur.GetKernelValue(1, r, c));
  }
  EXPECT_EQ(weights, (std::vector<int32_t>{1,  4, 7, 4,  1,  4,  20, 33, 20, 4, 7, 33, 55,
                                           33, 7, 4, 20, 33, 20, 4,  1,  4,  7, 4, 1}));
}

TEST(GaussianBlur, RadiusHalfIsThreeByThree) {
  TGaussianBlurFilter blur(nullptr);
  blur.SetRadius(0.5f);
  ASSERT_EQ(blur.GetSquareSize(), 3);
  EXPECT_EQ(blur.GetKernelValue(1, 1, 2), 7);
  EXPECT_EQ(blur.GetKernelValue(1, 2, 1), 7);
  EXPECT_EQ(blur.GetKernelValue(1, 3, 3), 1);
}

TEST(UnsharpMask, NewFilterIsReadyWithTheRadiusOneKernel) {
  TUnsharpMaskFilter unsharp(nullptr);
  EXPECT_EQ(unsharp.Radius(), 1.0f);
  EXPECT_FALSE(unsharp.RadiusStored());
  EXPECT_EQ(unsharp.GetSquareSize(), 5);
  EXPECT_EQ(unsharp.GetKernelValue(1, 3, 3), 607);
  EXPECT_EQ(unsharp.GetKernelValue(1, 1, 1), -1);
  EXPECT_EQ(unsharp.GetKernelValue(1, 2, 3), -33);
  EXPECT_EQ(unsharp.ScaleFactor(), 331);
  EXPECT_EQ(std::string(unsharp.ClassName()), "TUnsharpMaskFilter");
}

// One pixel of 200 on a flat 100, radius 1: 255 (283 before clamping), 90 beside, 93 on the
// diagonals, 97 two steps away in line, 100 everywhere else.
TEST(UnsharpMask, BrightPixelOnFlatGround) {
  TBitmap source(11, 11, pf32bit);
  Fill(source, Grey(100));
  source.Canvas().SetPixel(5, 5, Grey(200));
  TUnsharpMaskFilter unsharp(nullptr);
  TBitmap target;
  ASSERT_TRUE(unsharp.Apply(&target, &source));
  for (int y = 0; y < 11; ++y) {
    for (int x = 0; x < 11; ++x) {
      const int dx = std::abs(x - 5);
      const int dy = std::abs(y - 5);
      uint8_t expected = 100;
      if (dx == 0 && dy == 0)
        expected = 255;
      else if (dx + dy == 1)
        expected = 90;
      else if (dx == 1 && dy == 1)
        expected = 93;
      else if ((dx == 2 && dy == 0) || (dx == 0 && dy == 2))
        expected = 97;
      else if (dx <= 2 && dy <= 2)
        continue;  // the Part gives no figure for these
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
    SCOPED_TRACE(radius);
    blur.SetRadius(radius);
    unsharp.SetRadius(radius);
    for (TImageBaseFilter* f :
         {static_cast<TImageBaseFilter*>(&blur), static_cast<TImageBaseFilter*>(&unsharp)}) {
      TBitmap target;
      ASSERT_TRUE(f->Apply(&target, &source));
      for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 7; ++x) ASSERT_EQ(target.Canvas().Pixel(x, y), 0x3C80C8u);
      }
    }
  }
}

TEST(GaussianFilters, RadiusChangesRebuildWithOneChangeAndBadRadiiAreIgnored) {
  TUnsharpMaskFilter unsharp(nullptr);
  const std::vector<int32_t> radiusOne(unsharp.Kernel().begin(), unsharp.Kernel().end());
  ChangeCounter changes(unsharp);
  unsharp.SetRadius(2.0f);
  EXPECT_EQ(changes.count, 1);
  EXPECT_TRUE(unsharp.RadiusStored());
  unsharp.SetRadius(2.0f);
  EXPECT_EQ(changes.count, 1);
  unsharp.SetRadius(1.0f);
  EXPECT_EQ(changes.count, 2);
  EXPECT_EQ(std::vector<int32_t>(unsharp.Kernel().begin(), unsharp.Kernel().end()), radiusOne);
  EXPECT_EQ(unsharp.ScaleFactor(), 331);

  // Below 0.27 the weights or the channel sums would leave the 32-bit range.
  for (const float bad : {-1.0f, 0.0f, 0.1f, 0.2699f}) {
    unsharp.SetRadius(bad);
    EXPECT_EQ(unsharp.Radius(), 1.0f);
  }
  EXPECT_EQ(changes.count, 2);
  EXPECT_EQ(unsharp.GetKernelValue(1, 3, 3), 607);

  unsharp.SetRadius(0.27f);
  EXPECT_EQ(unsharp.GetSquareSize(), 3);
  EXPECT_EQ(changes.count, 3);
}

TEST(GaussianFilters, SmallestRadiusStillFiltersWithoutOverflow) {
  // A black and white checkerboard drives the unsharp sums furthest from zero.
  TBitmap source(4, 4, pf32bit);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 4; ++x) source.Canvas().SetPixel(x, y, (x + y) % 2 ? clWhite : clBlack);
  }
  TUnsharpMaskFilter unsharp(nullptr);
  unsharp.SetRadius(TGaussianBaseFilter::kMinRadius);
  TBitmap target;
  ASSERT_TRUE(unsharp.Apply(&target, &source));
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 4; ++x) {
      EXPECT_EQ(target.Canvas().Pixel(x, y), (x + y) % 2 ? clWhite : clBlack);
    }
  }
}

TEST(GaussianFilters, AssigningABlurGivesTheUnsharpMaskItsRadiusAndKernel) {
  TGaussianBlurFilter blur(nullptr);
  blur.SetRadius(3.0f);
  TUnsharpMaskFilter unsharp(nullptr);
  ChangeCounter changes(unsharp);
  unsharp.Assign(&blur);
  EXPECT_EQ(unsharp.Radius(), 3.0f);
  EXPECT_EQ(unsharp.GetSquareSize(), 15);
  EXPECT_EQ(unsharp.GetKernelValue(1, 8, 8), 25295);
  EXPECT_EQ(unsharp.ScaleFactor(), 12763);
  EXPECT_EQ(changes.count, 1);

  TCustomFilter custom(nullptr);
  unsharp.Assign(&custom);  // not Gaussian: nothing to copy
  EXPECT_EQ(unsharp.Radius(), 3.0f);
  EXPECT_EQ(changes.count, 1);
}

}  // namespace
}  // namespace ombrix
