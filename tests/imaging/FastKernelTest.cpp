#include "FastKernel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <span>
#include <string>
#include <tuple>
#include <vector>

#include "Errors.h"
#include "FastKernelBands.h"
#include "FastKernelPlan.h"
#include "FastPassChecks.h"
#include "iwFilters.h"

namespace ombrix {
namespace {

using TBlock = std::vector<uint8_t>;

TBlock RandomBlock(int32_t width, int32_t height, uint32_t seed) {
  std::mt19937 random(seed);
  TBlock block(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
  for (uint8_t& byte : block) byte = static_cast<uint8_t>(random() & 0xFF);
  return block;
}

// The reference result of the filter over src, written over a copy of `target`.
TBlock Reference(const TImageBaseFilter& filter, const TBlock& src, const TBlock& target,
                 int32_t width, int32_t height) {
  TBlock out = target;
  if (filter.KernelCount() > 1) {
    filter.ReferenceKernelsPass(out.data(), src.data(), width, height);
  } else {
    filter.ReferenceKernelPass(out.data(), src.data(), width, height);
  }
  return out;
}

using test::FirstDifference;
using test::SupportedIsas;

// Runs the fast pass of the filter over a random source (or the given one) on every supported
// path with 1 and 2 threads (and, when asked, narrow strips), by both sweeps of kernels
// mirrored both ways, and expects the reference's bytes each time, byte 3 included.
void ExpectSameAsReference(const TImageBaseFilter& filter, int32_t width, int32_t height,
                           uint32_t seed, bool narrowStrips = false,
                           const TBlock* given = nullptr) {
  const TBlock src = given != nullptr ? *given : RandomBlock(width, height, seed);
  const TBlock target = RandomBlock(width, height, seed + 1);
  const TBlock expected = Reference(filter, src, target, width, height);
  const TKernelPass pass = filter.KernelPass();
  ASSERT_TRUE(FastKernelEligible(pass));
  for (const TKernelIsa isa : SupportedIsas()) {
    for (const int threads : {1, 2}) {
      for (const int strip : narrowStrips ? std::vector<int>{0, 1, 40} : std::vector<int>{0}) {
        for (const bool spread : {true, false}) {
          TFastKernelOptions options;
          options.Isa = isa;
          options.Threads = threads;
          options.StripWidth = strip;
          options.SpreadRows = spread;
          TBlock actual = target;
          ASSERT_TRUE(FastKernelPass(pass, actual.data(), src.data(), width, height, options));
          const std::string difference = FirstDifference(expected, actual, width);
          ASSERT_TRUE(difference.empty())
              << KernelIsaName(isa) << ", " << threads << " thread(s), strip " << strip
              << (spread ? ", spread" : ", folded") << ", " << width << " x " << height << ": "
              << difference;
        }
      }
    }
  }
}

// ---------------------------------------------------------------------------------------------
// The live view's unsharp mask and the Gaussian blur

struct PictureSize {
  int32_t width;
  int32_t height;
};

class GaussianFastPass : public ::testing::TestWithParam<PictureSize> {};

TEST_P(GaussianFastPass, UnsharpMaskOfEveryStrengthEqualsTheReference) {
  const PictureSize size = GetParam();
  TUnsharpMaskFilter filter(nullptr);
  for (const float radius : {0.5f, 1.0f, 2.0f, 3.0f, 4.0f, 5.0f}) {
    SCOPED_TRACE("radius " + std::to_string(radius));
    filter.SetRadius(radius);
    ExpectSameAsReference(filter, size.width, size.height, 7u + static_cast<uint32_t>(radius));
  }
}

class BlurFastPass : public ::testing::TestWithParam<PictureSize> {};

TEST_P(BlurFastPass, GaussianBlurEqualsTheReference) {
  const PictureSize size = GetParam();
  TGaussianBlurFilter filter(nullptr);
  for (const float radius : {0.5f, 1.0f, 2.5f, 5.0f}) {
    SCOPED_TRACE("radius " + std::to_string(radius));
    filter.SetRadius(radius);
    ExpectSameAsReference(filter, size.width, size.height, 11u, true);
  }
}

std::string SizeName(const ::testing::TestParamInfo<PictureSize>& param) {
  return std::to_string(param.param.width) + "x" + std::to_string(param.param.height);
}

// 55 and 57 end the strongest sharpening's second strip (48 pixels on AVX2) with one lane
// vector and with two, 70 rows end inside a chunk of steps.
INSTANTIATE_TEST_SUITE_P(Sizes, GaussianFastPass,
                         ::testing::Values(PictureSize{1, 1}, PictureSize{2, 3},
                                           PictureSize{55, 70}, PictureSize{57, 70},
                                           PictureSize{67, 45}, PictureSize{333, 97},
                                           PictureSize{1024, 768}),
                         SizeName);
INSTANTIATE_TEST_SUITE_P(Sizes, BlurFastPass,
                         ::testing::Values(PictureSize{1, 1}, PictureSize{2, 3},
                                           PictureSize{67, 45}, PictureSize{333, 97}),
                         SizeName);

// ---------------------------------------------------------------------------------------------
// Random kernels

enum TSymmetry { syNone, syLeftRight, syTopBottom, syBoth };

// Kernel values in array order: `count` kernels of width x height, weights in [-limit, limit],
// mirrored as asked.
std::vector<int32_t> RandomKernels(std::mt19937& random, int count, int width, int height,
                                   int32_t limit, TSymmetry symmetry) {
  std::uniform_int_distribution<int32_t> value(-limit, limit);
  std::vector<int32_t> values(static_cast<std::size_t>(count * width * height));
  for (int k = 0; k < count; ++k) {
    for (int r = 0; r < height; ++r) {
      for (int c = 0; c < width; ++c) {
        int sr = r;
        int sc = c;
        if ((symmetry == syTopBottom || symmetry == syBoth) && r > height - 1 - r) {
          sr = height - 1 - r;
        }
        if ((symmetry == syLeftRight || symmetry == syBoth) && c > width - 1 - c) {
          sc = width - 1 - c;
        }
        const std::size_t at = static_cast<std::size_t>((k * height + r) * width + c);
        values[at] = sr == r && sc == c
                         ? value(random)
                         : values[static_cast<std::size_t>((k * height + sr) * width + sc)];
      }
    }
  }
  return values;
}

TEST(FastKernelPass, RandomKernelsOfEveryShapeAndSymmetryEqualTheReference) {
  std::mt19937 random(2024);
  const std::vector<std::pair<int, int>> shapes = {{1, 1}, {3, 3},   {5, 5},   {1, 7},
                                                   {7, 1}, {4, 4},   {2, 5},   {6, 3},
                                                   {9, 9}, {23, 23}, {13, 25}, {25, 13}};
  for (const auto& [kw, kh] : shapes) {
    for (const TSymmetry symmetry : {syNone, syLeftRight, syTopBottom, syBoth}) {
      TCustomFilter filter(nullptr);
      const int32_t limit = kw * kh > 100 ? 300 : 3000;
      filter.DefineKernel(1, static_cast<uint16_t>(kw), static_cast<uint16_t>(kh),
                          RandomKernels(random, 1, kw, kh, limit, symmetry));
      // A large centre weight, as the unsharp mask has.
      if (kw % 2 == 1 && kh % 2 == 1) {
        filter.SetKernelValue(1, static_cast<uint16_t>(kh / 2 + 1),
                              static_cast<uint16_t>(kw / 2 + 1), 40000);
      }
      filter.SetScaleFactor(std::uniform_int_distribution<int32_t>(-5000, 5000)(random) | 1);
      filter.SetBias(std::uniform_int_distribution<int32_t>(-200, 400)(random));
      SCOPED_TRACE(std::to_string(kw) + " x " + std::to_string(kh) + ", symmetry " +
                   std::to_string(symmetry) + ", scale " + std::to_string(filter.ScaleFactor()) +
                   ", bias " + std::to_string(filter.Bias()));
      ExpectSameAsReference(filter, 67, 45, static_cast<uint32_t>(random()), true);
      ExpectSameAsReference(filter, 2, 3, static_cast<uint32_t>(random()));
    }
  }
}

// Each height of a kernel mirrored both ways has its own compiled folded sweep, with its own
// use of registers (rows held or sliding, sums kept in registers): every one of them, on a
// picture larger and on one smaller than the kernel.
class FoldedHeightFastPass : public ::testing::TestWithParam<int> {};

TEST_P(FoldedHeightFastPass, EqualsTheReference) {
  const int half = GetParam();
  const int kh = 2 * half + 1;
  std::mt19937 random(static_cast<uint32_t>(100 + half));
  TCustomFilter filter(nullptr);
  filter.DefineKernel(1, 9, static_cast<uint16_t>(kh),
                      RandomKernels(random, 1, 9, kh, 300, syBoth));
  filter.SetKernelValue(1, static_cast<uint16_t>(half + 1), 5, 40000);
  filter.SetScaleFactor(19010);
  ExpectSameAsReference(filter, 37, 29, static_cast<uint32_t>(random()), true);
  ExpectSameAsReference(filter, 5, 7, static_cast<uint32_t>(random()));
}

INSTANTIATE_TEST_SUITE_P(Heights, FoldedHeightFastPass, ::testing::Range(1, kMaxFoldedHalf + 1),
                         [](const ::testing::TestParamInfo<int>& param) {
                           return "Half" + std::to_string(param.param);
                         });

// The spread sweep holds a lane vector's pair planes in registers, a copy of its code for each
// count of planes (1 to 6; more go to the fold per target), two lane vectors at a time where
// the strip has them and one where it ends: a kernel of each width, mirrored both ways, on
// pictures that end in either, on one narrower and lower than the kernel, and on one whose
// bands (two threads) and strips (a single lane vector wide) are shorter than the kernel.
class SpreadWidthFastPass : public ::testing::TestWithParam<int> {};

TEST_P(SpreadWidthFastPass, EqualsTheReference) {
  const int kw = GetParam();
  std::mt19937 random(static_cast<uint32_t>(200 + kw));
  TCustomFilter filter(nullptr);
  filter.DefineKernel(1, static_cast<uint16_t>(kw), 9,
                      RandomKernels(random, 1, kw, 9, 300, syBoth));
  filter.SetKernelValue(1, 5, static_cast<uint16_t>(kw / 2 + 1), 40000);
  filter.SetScaleFactor(26021);
  filter.SetBias(-60);
  for (const PictureSize size : {PictureSize{41, 23}, PictureSize{47, 9}, PictureSize{6, 5}}) {
    ExpectSameAsReference(filter, size.width, size.height, static_cast<uint32_t>(random()), true);
  }
}

INSTANTIATE_TEST_SUITE_P(Widths, SpreadWidthFastPass,
                         ::testing::Values(1, 3, 5, 7, 9, 13, 17, 21, 23, 25),
                         [](const ::testing::TestParamInfo<int>& param) {
                           return "Width" + std::to_string(param.param);
                         });

// A centre weight beyond 16 bits stays in the sums up to twice the 16-bit range: an even one is
// halved against a doubled centre sample where the rows are spread and folded left to right,
// otherwise split over two multiply-adds; beyond that every target adds it through C. Both
// sides of each limit, even and odd, in one
// kernel folded both ways, folded top to bottom only, not folded, and in two merged kernels of
// which only one needs the split (or only one is too large for it).
struct CentreCase {
  const char* name;
  int32_t centre;
  int32_t otherCentre;  // the second kernel's, 0: one kernel
};

class CentreWeightFastPass : public ::testing::TestWithParam<CentreCase> {};

TEST_P(CentreWeightFastPass, EqualsTheReferenceOnEveryShape) {
  const CentreCase param = GetParam();
  std::mt19937 random(static_cast<uint32_t>(param.centre));
  const int count = param.otherCentre == 0 ? 1 : 2;
  for (const auto& [kw, kh, symmetry] : std::vector<std::tuple<int, int, TSymmetry>>{
           {7, 7, syBoth}, {5, 9, syTopBottom}, {3, 5, syNone}, {23, 23, syBoth}}) {
    TCustomFilter filter(nullptr);
    filter.DefineKernel(static_cast<uint16_t>(count), static_cast<uint16_t>(kw),
                        static_cast<uint16_t>(kh),
                        RandomKernels(random, count, kw, kh, 300, symmetry));
    const auto row = static_cast<uint16_t>(kh / 2 + 1);
    const auto column = static_cast<uint16_t>(kw / 2 + 1);
    filter.SetKernelValue(1, row, column, param.centre);
    if (count == 2) {
      filter.SetKernelValue(2, row, column, param.otherCentre);
      filter.SetKernelMergeOp(opABS);
    }
    // About twice the centre sample, offset into the byte range, so that the centre's every
    // unit can show.
    filter.SetScaleFactor((std::abs(param.centre) / 2) | 1);
    filter.SetBias(param.centre > 0 ? -128 : 400);
    SCOPED_TRACE(std::to_string(kw) + " x " + std::to_string(kh));
    ExpectSameAsReference(filter, 61, 37, static_cast<uint32_t>(random()), true);
    ExpectSameAsReference(filter, 4, 3, static_cast<uint32_t>(random()));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Limits, CentreWeightFastPass,
    ::testing::Values(CentreCase{"Fits", 32767, 0}, CentreCase{"SplitLeast", 32768, 0},
                      CentreCase{"SplitNegative", -32769, 0}, CentreCase{"SplitMost", 65534, 0},
                      CentreCase{"SplitMostOdd", 65533, 0},
                      CentreCase{"SplitMostNegativeOdd", -65535, 0},
                      CentreCase{"SplitMostNegative", -65536, 0}, CentreCase{"TooLarge", 65535, 0},
                      CentreCase{"TooNegative", -65537, 0}, CentreCase{"OneOfTwoSplit", 40000, 12},
                      CentreCase{"OneOfTwoTooLarge", 40000, 70000}),
    [](const ::testing::TestParamInfo<CentreCase>& param) { return param.param.name; });

TEST(FastKernelPass, SeveralKernelsEqualTheReferenceUnderEveryMergeRule) {
  std::mt19937 random(77);
  for (const TKernelMergeOp op : {opSUM, opABS, opDIF, opRMS}) {
    for (const int count : {2, 3, 5}) {
      for (const auto& [kw, kh] : std::vector<std::pair<int, int>>{{3, 3}, {5, 4}, {7, 7}}) {
        TCustomFilter filter(nullptr);
        // Root of squares needs small sums: their squares must stay in 32 bits.
        const int32_t limit = op == opRMS ? (kw * kh > 20 ? 1 : 3) : 60;
        filter.DefineKernel(
            static_cast<uint16_t>(count), static_cast<uint16_t>(kw), static_cast<uint16_t>(kh),
            RandomKernels(random, count, kw, kh, limit, count == 3 ? syBoth : syNone));
        filter.SetKernelMergeOp(op);
        filter.SetScaleFactor(op == opRMS ? 1 : 3);
        filter.SetBias(op == opDIF ? -40 : 0);
        SCOPED_TRACE("merge " + std::to_string(op) + ", " + std::to_string(count) + " kernels of " +
                     std::to_string(kw) + " x " + std::to_string(kh));
        ExpectSameAsReference(filter, 67, 45, static_cast<uint32_t>(random()), true);
        ExpectSameAsReference(filter, 1, 1, static_cast<uint32_t>(random()));
      }
    }
  }
}

// The root of a sum of squares is truncated exactly, also where it is whole, just below a
// whole number (where a float root rounds up: 4 and 20 at channel 255 give 5201^2 - 1), and
// where the total approaches 2^31. Each one-pixel picture is flat, and the bias brings its root
// to the middle of the byte range, so that the root's last unit shows in the output.
TEST(FastKernelPass, RootsOfSquaresAreExactAtAndJustBelowWholeRoots) {
  for (const std::vector<int32_t>& weights : std::vector<std::vector<int32_t>>{
           {108, 144}, {4, 20}, {15, -17}, {1, 6, 20}, {8, 8, 16}, {1, 181}, {128, 128}}) {
    TCustomFilter filter(nullptr);
    filter.DefineKernel(static_cast<uint16_t>(weights.size()), 1, 1, weights);
    filter.SetKernelMergeOp(opRMS);
    int64_t squares = 0;
    for (const int32_t w : weights) squares += int64_t{w} * w;
    for (int q = 0; q < 256; ++q) {
      const double root = std::sqrt(static_cast<double>(squares * q * q));
      filter.SetBias(128 - static_cast<int32_t>(root));
      const TBlock src = {static_cast<uint8_t>(q), static_cast<uint8_t>(q), static_cast<uint8_t>(q),
                          0};
      const TBlock expected = Reference(filter, src, TBlock(4, 0), 1, 1);
      for (const TKernelIsa isa : SupportedIsas()) {
        TFastKernelOptions options;
        options.Isa = isa;
        TBlock actual(4, 0);
        ASSERT_TRUE(FastKernelPass(filter.KernelPass(), actual.data(), src.data(), 1, 1, options));
        ASSERT_EQ(actual, expected) << KernelIsaName(isa) << ", " << weights.size()
                                    << " kernels from " << weights[0] << ", channel " << q;
      }
    }
  }
}

TEST(FastKernelPass, ScaleFactorsAndBiasesPastBothClampsEqualTheReference) {
  std::mt19937 random(5);
  // Powers of two take the shift, 1 none, the others a division; negative factors mirror.
  for (const int32_t scale : {1, -1, 2, 16, 1024, -16, 3, 7, 331, -19010, 1 << 24, 16777217,
                              2147483647, -2147483647 - 1}) {
    for (const int32_t bias : {-300, -1, 0, 127, 300}) {
      TCustomFilter filter(nullptr);
      filter.DefineKernel(1, 5, 5, RandomKernels(random, 1, 5, 5, 20000, syBoth));
      filter.SetScaleFactor(scale);
      filter.SetBias(bias);
      SCOPED_TRACE("scale " + std::to_string(scale) + ", bias " + std::to_string(bias));
      ExpectSameAsReference(filter, 40, 9, static_cast<uint32_t>(random()));
    }
  }
}

// Quotients a hair below a whole number, with sums up to the largest that the float
// reciprocal serves (kernel 1, 65792: every sum below 2^24) and beyond: the target's left
// neighbour takes every value 0..255 while the target itself is 255, and the bias keeps the
// quotients inside the byte range, so that any quotient off by one shows.
TEST(FastKernelPass, QuotientsJustBelowWholeNumbersAreTruncatedExactly) {
  TBlock src(512 * 4);
  for (std::size_t x = 0; x < 512; ++x) {
    for (std::size_t ch = 0; ch < 4; ++ch) {
      src[4 * x + ch] = x % 2 == 0 ? 255 : static_cast<uint8_t>((x / 2 + 85 * ch) % 256);
    }
  }
  for (const int32_t right : {65792, 65793, 8421000}) {
    for (const int32_t scale : {3, 7, 11, 13, 15, 25, 29, 105, -3, 65537}) {
      TCustomFilter filter(nullptr);
      filter.DefineKernel(1, 2, 1, std::vector<int32_t>{1, right});
      filter.SetScaleFactor(scale);
      filter.SetBias(100 - right / scale * 255);
      SCOPED_TRACE("right weight " + std::to_string(right) + ", scale " + std::to_string(scale));
      ExpectSameAsReference(filter, 512, 1, 0, false, &src);
    }
  }
}

// The division of a channel's merged value, plus the bias and clamped to a byte, for every sum
// from two scale factors below the sums that give 0 and 255 to two above them, and for the
// largest sums of either sign, against integer division. The way chosen is part of each row:
// the clamped float way up to its largest scale factor, doubles beyond it.
struct DivisionCase {
  const char* name;
  int64_t scale;
  int32_t bias;
  int64_t bound;
  TKernelDivision kind;
};

class KernelDivision : public ::testing::TestWithParam<DivisionCase> {};

TEST_P(KernelDivision, EverySumNearTheByteRangeGivesTheTruncatedQuotient) {
  struct PlainLanes : IsaBase<4, 4> {};
  using I = PlainLanes::I;
  const DivisionCase c = GetParam();
  TKernelPlan plan;
  plan.Bias = c.bias;
  ChooseKernelDivision(plan, c.bound, c.scale);
  ASSERT_EQ(plan.Division, c.kind);
  const int64_t zero = -int64_t{c.bias} * c.scale;
  const int64_t top = (255 - int64_t{c.bias}) * c.scale;
  const int64_t margin = 2 * std::abs(c.scale);
  const int64_t from = std::max(-c.bound, std::min(zero, top) - margin);
  const int64_t to = std::min(c.bound, std::max(zero, top) + margin);
  const auto check = [&](int64_t first) {
    I sums;
    for (int i = 0; i < 4; ++i) sums[i] = static_cast<int32_t>(std::min(first + i, c.bound));
    const I bytes = PlainLanes::Compose(ChannelValue<PlainLanes>(plan, sums), I{}, I{});
    for (int i = 0; i < 4; ++i) {
      const int64_t expected = std::clamp<int64_t>(sums[i] / c.scale + c.bias, 0, 255);
      if (bytes[i] != expected) {
        ADD_FAILURE() << "sum " << sums[i] << ": " << bytes[i] << " instead of " << expected;
        return false;
      }
    }
    return true;
  };
  ASSERT_TRUE(check(-c.bound));
  ASSERT_TRUE(check(c.bound - 3));
  for (int64_t first = from; first <= to; first += 4) ASSERT_TRUE(check(first));
}

INSTANTIATE_TEST_SUITE_P(
    Scales, KernelDivision,
    ::testing::Values(
        // The live view's strongest sharpening.
        DivisionCase{"Strength5", 19010, 0, int64_t{1} << 30, kdClampedFloat},
        DivisionCase{"LargestClamped", 21902, 0, int64_t{1} << 30, kdClampedFloat},
        DivisionCase{"BeyondClamped", 21903, 0, int64_t{1} << 30, kdDouble},
        DivisionCase{"Negative", -19010, 255, int64_t{2147483647}, kdClampedFloat},
        DivisionCase{"BiasUp", 12345, 100, int64_t{1} << 28, kdClampedFloat},
        DivisionCase{"BiasDown", 5003, -100, int64_t{1} << 28, kdClampedFloat},
        DivisionCase{"BiasTooFarDown", 5003, -1000, int64_t{1} << 28, kdDouble},
        DivisionCase{"SmallSums", 19010, 0, 5000000, kdFloat},
        // The byte range's sums would be near 2^62: no overflow on the way to doubles.
        DivisionCase{"ExtremeBiasAndScale", 2147483647, -2147483647, 1000, kdDouble}),
    [](const ::testing::TestParamInfo<DivisionCase>& param) { return param.param.name; });

// ---------------------------------------------------------------------------------------------
// What the fast pass refuses, and its failures

TEST(FastKernelEligibility, TheLiveViewsKernelsAreAllTakenAndUnsafeOnesLeftToTheReference) {
  TUnsharpMaskFilter unsharp(nullptr);
  for (const float radius : {1.0f, 2.0f, 3.0f, 4.0f, 5.0f}) {
    unsharp.SetRadius(radius);
    EXPECT_TRUE(FastKernelEligible(unsharp.KernelPass())) << "radius " << radius;
  }

  TCustomFilter custom(nullptr);
  custom.DefineKernel(1, 3, 3, std::vector<int32_t>{0, 0, 0, 0, 1, 0, 0, 40000, 0});
  EXPECT_FALSE(FastKernelEligible(custom.KernelPass())) << "a side weight beyond 16 bits";
  custom.DefineKernel(1, 3, 3, std::vector<int32_t>{0, 0, 0, 0, 8421505, 0, 0, 1, 0});
  EXPECT_FALSE(FastKernelEligible(custom.KernelPass())) << "a channel sum beyond 32 bits";
  custom.DefineKernel(1, 3, 3, std::vector<int32_t>{0, 0, 0, 0, 8421504, 0, 0, 0, 0});
  EXPECT_TRUE(FastKernelEligible(custom.KernelPass()));
  custom.SetBias(2147483647);
  EXPECT_FALSE(FastKernelEligible(custom.KernelPass())) << "quotient plus bias beyond 32 bits";

  custom.DefineKernel(2, 3, 3, std::vector<int32_t>(18, 1));
  custom.SetBias(0);
  custom.SetKernelMergeOp(static_cast<TKernelMergeOp>(7));
  EXPECT_FALSE(FastKernelEligible(custom.KernelPass())) << "an unknown merge rule";
  custom.SetKernelMergeOp(opRMS);
  EXPECT_TRUE(FastKernelEligible(custom.KernelPass()));
  custom.DefineKernel(2, 3, 3, std::vector<int32_t>(18, 20));
  EXPECT_FALSE(FastKernelEligible(custom.KernelPass())) << "squares beyond 32 bits";

  // Refused passes touch nothing.
  const TBlock src = RandomBlock(5, 4, 1);
  TBlock dst = RandomBlock(5, 4, 2);
  const TBlock before = dst;
  EXPECT_FALSE(FastKernelPass(custom.KernelPass(), dst.data(), src.data(), 5, 4));
  EXPECT_EQ(dst, before);
}

TEST(FastKernelPass, ScaleFactorZeroRaisesTheReferencesErrorBeforeWritingAnything) {
  TCustomFilter filter(nullptr);
  filter.DefineKernel(1, 3, 3, std::vector<int32_t>(9, 1));
  filter.SetScaleFactor(0);
  const TBlock src = RandomBlock(9, 7, 3);
  const TBlock target = RandomBlock(9, 7, 4);
  TBlock reference = target;
  EXPECT_THROW(filter.ReferenceKernelPass(reference.data(), src.data(), 9, 7), EDivByZero);
  for (const TKernelIsa isa : SupportedIsas()) {
    TFastKernelOptions options;
    options.Isa = isa;
    TBlock actual = target;
    EXPECT_THROW(FastKernelPass(filter.KernelPass(), actual.data(), src.data(), 9, 7, options),
                 EDivByZero)
        << KernelIsaName(isa);
    EXPECT_EQ(actual, reference) << KernelIsaName(isa);
  }
  // No pixels, no division.
  EXPECT_TRUE(FastKernelPass(filter.KernelPass(), nullptr, nullptr, 0, 7));
}

TEST(FastKernelPass, OverlappingBlocksAreLeftToTheReference) {
  TUnsharpMaskFilter filter(nullptr);
  TBlock block = RandomBlock(16, 16, 9);
  const TBlock before = block;
  EXPECT_FALSE(FastKernelPass(filter.KernelPass(), block.data(), block.data(), 16, 16));
  EXPECT_FALSE(FastKernelPass(filter.KernelPass(), block.data() + 64, block.data(), 16, 15));
  EXPECT_EQ(block, before);
}

// ---------------------------------------------------------------------------------------------
// The engine's choice of pass

// The block of a 32-bit bitmap as a vector, bottom row first.
TBlock BlockOf(const TBitmap& bitmap) {
  const uint8_t* bits = bitmap.Bits();
  return TBlock(bits, bits + static_cast<std::size_t>(bitmap.Width() * bitmap.Height() * 4));
}

void FillRandom(TBitmap& bitmap, uint32_t seed) {
  const TBlock block = RandomBlock(bitmap.Width(), bitmap.Height(), seed);
  std::memcpy(bitmap.Bits(), block.data(), block.size());
}

// Apply into a fresh bitmap equals the reference pass over the source's block.
void ExpectApplyEqualsReference(TImageBaseFilter& filter) {
  TBitmap source(67, 45, pf32bit);
  FillRandom(source, 21);
  TBitmap target;
  ASSERT_TRUE(filter.Apply(&target, &source));
  const TBlock expected =
      Reference(filter, BlockOf(source), TBlock(BlockOf(source).size(), 0), 67, 45);
  EXPECT_EQ(FirstDifference(expected, BlockOf(target), 67), "") << filter.ClassName();
}

TEST(FastKernelDispatch, EngineFiltersTakeTheFastPassThroughApply) {
  TUnsharpMaskFilter unsharp(nullptr);
  unsharp.SetRadius(3.0f);
  TSobelEdgeFilter sobel(nullptr);
  TSmoothPyramidalFilter pyramid(nullptr);
  for (TImageBaseFilter* filter : std::vector<TImageBaseFilter*>{&unsharp, &sobel, &pyramid}) {
    EXPECT_TRUE(filter->TakesFastPass()) << filter->ClassName();
    ExpectApplyEqualsReference(*filter);
  }
  // Kernel-less filters and filters that extend the engine's pass keep their own.
  EXPECT_FALSE(TMedianFilter(nullptr).TakesFastPass());
  EXPECT_FALSE(TEmbossFilter(nullptr).TakesFastPass());
}

// A custom filter whose class replaces one of the engine's operations.
template <int kWhich>
class ReplacingFilter : public TCustomFilter {
 public:
  ReplacingFilter() : TCustomFilter(nullptr) {
    DefineKernel(2, 3, 3, std::vector<int32_t>(18, 1));
    SetScaleFactor(9);
  }
  void ApplyKernel(uint8_t* dst, uint8_t* src, int32_t width, int32_t height) override {
    if (kWhich != 0) return TCustomFilter::ApplyKernel(dst, src, width, height);
    std::memset(dst, 0x11, static_cast<std::size_t>(width * height * 4));
  }
  void ApplyKernels(uint8_t* dst, uint8_t* src, int32_t width, int32_t height) override {
    if (kWhich != 1) return TCustomFilter::ApplyKernels(dst, src, width, height);
    std::memset(dst, 0x22, static_cast<std::size_t>(width * height * 4));
  }
  void MergeKernels(std::span<const TKernelSums> sums, TKernelSums& result) const override {
    if (kWhich != 2) return TCustomFilter::MergeKernels(sums, result);
    result = TKernelSums{63, 63, 63};
  }
};

TEST(FastKernelDispatch, AClassThatReplacesAPassOrTheMergeKeepsItsOwn) {
  ReplacingFilter<0> ownPass;
  ownPass.SetKernelCount(1);
  ReplacingFilter<1> ownPasses;
  ReplacingFilter<2> ownMerge;
  for (const TImageBaseFilter* filter :
       std::vector<const TImageBaseFilter*>{&ownPass, &ownPasses, &ownMerge}) {
    EXPECT_TRUE(FastKernelEligible(filter->KernelPass()));
    EXPECT_FALSE(filter->TakesFastPass());
  }
  TBitmap source(5, 4, pf32bit);
  FillRandom(source, 3);
  TBitmap target;
  ASSERT_TRUE(ownPass.Apply(&target, &source));
  EXPECT_EQ(target.Canvas().Pixel(2, 2), 0x111111u);
  ASSERT_TRUE(ownPasses.Apply(&target, &source));
  EXPECT_EQ(target.Canvas().Pixel(2, 2), 0x222222u);
  ASSERT_TRUE(ownMerge.Apply(&target, &source));
  EXPECT_EQ(target.Canvas().Pixel(2, 2), 0x070707u);
}

}  // namespace
}  // namespace ombrix
