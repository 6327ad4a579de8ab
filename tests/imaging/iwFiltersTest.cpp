#include "iwFilters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "Errors.h"
#include "TestPictures.h"

namespace ombrix {
namespace {

using test::ChangeCounter;
using test::Fill;
using test::Grey;
using test::PixelAt;

// A kernel-less filter that counts its passes instead of computing one.
class CountingFilter : public TWithoutKernelBaseFilter {
 public:
  using TWithoutKernelBaseFilter::TWithoutKernelBaseFilter;
  void ApplyKernel(uint8_t*, uint8_t*, int32_t, int32_t) override { ++passes; }
  int passes = 0;
};

TEST(KernelFilter, BadIndicesAndShortArraysRaiseListErrorAndChangeNothing) {
  TCustomFilter f(nullptr);
  f.DefineKernel(2, 3, 2);
  ChangeCounter changes(f);
  EXPECT_THROW(f.GetKernelValue(0, 1, 1), EListError);
  EXPECT_THROW(f.GetKernelValue(3, 1, 1), EListError);
  EXPECT_THROW(f.SetKernelValue(1, 3, 1, 9), EListError);  // only 2 rows
  try {
    f.SetKernelValue(1, 1, 65535, 9);
    FAIL();
  } catch (const EListError& e) {
    EXPECT_EQ(std::string(e.what()), "Indice de liste hors limites (65535)");
  }
  const std::vector<int32_t> eleven(11, 9);
  EXPECT_THROW(f.LoadKernel(eleven), EListError);
  EXPECT_THROW(f.DefineKernel(1, 4, 3, eleven), EListError);
  std::vector<int32_t> out(11, -1);
  EXPECT_THROW(f.GetKernel(out), EListError);
  EXPECT_EQ(out, std::vector<int32_t>(11, -1));
  EXPECT_EQ(f.KernelWidth(), 3);
  EXPECT_TRUE(std::all_of(f.Kernel().begin(), f.Kernel().end(), [](int32_t v) { return !v; }));
  EXPECT_EQ(changes.count, 0);
}

TEST(KernelFilter, KernelTooLargeForMemoryRaisesOutOfMemoryAndKeepsTheFilter) {
  TCustomFilter f(nullptr);
  f.SetKernelValue(1, 2, 2, 7);
  ChangeCounter changes(f);
  EXPECT_THROW(f.SetKernelDimensions(65535, 65535, 65535), EOutOfMemory);
  EXPECT_THROW(f.DefineKernel(40000, 200, 200), EOutOfMemory);
  EXPECT_EQ(f.GetSquareSize(), 3);
  EXPECT_EQ(f.GetKernelValue(1, 2, 2), 7);
  EXPECT_EQ(changes.count, 0);
}

TEST(KernelFilter, ChangesAreAnnouncedOnceAndOnlyWhenTheyMatter) {
  TCustomFilter f(nullptr);
  ChangeCounter changes(f);
  f.SetKernelMergeOp(opRMS);  // one kernel: no effect, no announcement
  f.SetBias(0);
  EXPECT_EQ(changes.count, 0);
  f.LoadKernel(std::vector<int32_t>{1, 2, 3, 4, 5, 6, 7, 8, 9});
  f.LoadKernel(std::vector<int32_t>{1, 2, 3, 4, 5, 6, 7, 8, 9});
  EXPECT_EQ(changes.count, 1);
  f.DefineKernel(2, 1, 1, std::vector<int32_t>{4, 5});
  f.DefineKernel(2, 1, 1);
  EXPECT_EQ(changes.count, 2);
  f.SetKernelMergeOp(opABS);
  EXPECT_EQ(changes.count, 3);
  f.SetSquareSize(3);  // resizing clears the values
  EXPECT_EQ(f.GetKernelValue(2, 2, 2), 0);
  EXPECT_EQ(changes.count, 4);
}

TEST(KernelFilter, MergeOperationsOfThirtyAndMinusForty) {
  TCustomFilter f(nullptr);
  const std::vector<TKernelSums> sums = {{30, 30, 30}, {-40, -40, 30}};
  for (const auto& [op, expected] : std::vector<std::pair<int, int32_t>>{
           {opSUM, -10}, {opABS, 70}, {opDIF, 70}, {opRMS, 50}, {7, 0}}) {
    f.SetKernelMergeOp(static_cast<TKernelMergeOp>(op));
    TKernelSums result{1, 1, 1};
    f.MergeKernels(sums, result);
    EXPECT_EQ(result.Blue, expected) << "op " << op;
    EXPECT_EQ(result.Green, expected) << "op " << op;
  }
}

class KernelPass : public ::testing::Test {
 protected:
  // 4 x 3 picture: pixel (x, y) is blue 10x + y, green 50 + y, red 200 - 10x, byte 3 77.
  void SetUp() override {
    for (int y = 0; y < 3; ++y) {
      for (int x = 0; x < 4; ++x) {
        uint8_t* p = PixelAt(source, x, y);
        p[0] = static_cast<uint8_t>(10 * x + y);
        p[1] = static_cast<uint8_t>(50 + y);
        p[2] = static_cast<uint8_t>(200 - 10 * x);
        p[3] = 77;
      }
    }
  }
  void Define3x3(std::vector<int32_t> values, int32_t scale, int32_t bias) {
    filter.DefineKernel(1, 3, 3, values);
    filter.SetScaleFactor(scale);
    filter.SetBias(bias);
  }
  TColor In(int x, int y) { return source.Canvas().Pixel(x, y); }
  TColor Out(int x, int y) { return target.Canvas().Pixel(x, y); }

  TBitmap source{4, 3, pf32bit};
  TBitmap target;
  TCustomFilter filter{nullptr};
};

TEST_F(KernelPass, CentreOneCopiesTheColoursAndLeavesByteThree) {
  Define3x3({0, 0, 0, 0, 1, 0, 0, 0, 0}, 1, 0);
  target.SetSize(4, 3);
  ASSERT_TRUE(filter.Apply(&target, &source));
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 4; ++x) EXPECT_EQ(Out(x, y), In(x, y));
  }
  EXPECT_EQ(PixelAt(target, 1, 1)[3], 0);
}

TEST_F(KernelPass, TopMiddleOneMovesThePictureDownAndTheTopRowKeepsItself) {
  Define3x3({0, 1, 0, 0, 0, 0, 0, 0, 0}, 1, 0);
  ASSERT_TRUE(filter.Apply(&target, &source));
  for (int x = 0; x < 4; ++x) {
    EXPECT_EQ(Out(x, 0), In(x, 0));
    EXPECT_EQ(Out(x, 1), In(x, 0));
    EXPECT_EQ(Out(x, 2), In(x, 1));
  }
}

TEST_F(KernelPass, BoxOfNineCountsTheCornerPixelForItsMissingNeighbours) {
  Define3x3({1, 1, 1, 1, 1, 1, 1, 1, 1}, 9, 0);
  ASSERT_TRUE(filter.Apply(&target, &source));
  for (int ch = 0; ch < 3; ++ch) {
    const int sum = PixelAt(source, 1, 0)[ch] + PixelAt(source, 0, 1)[ch] +
                    PixelAt(source, 1, 1)[ch] + 6 * PixelAt(source, 0, 0)[ch];
    EXPECT_EQ(PixelAt(target, 0, 0)[ch], sum / 9) << "channel " << ch;
  }
}

TEST_F(KernelPass, SumsTruncateTowardZeroThenClamp) {
  Fill(source, Grey(1));
  Define3x3({0, 0, 0, 0, -7, 0, 0, 0, 0}, 2, 10);  // -7 div 2 = -3, not -4
  ASSERT_TRUE(filter.Apply(&target, &source));
  EXPECT_EQ(Out(0, 0), Grey(7));
  Define3x3({0, 0, 0, 0, -7, 0, 0, 0, 0}, 1, 0);
  ASSERT_TRUE(filter.Apply(&target, &source));
  EXPECT_EQ(Out(1, 1), Grey(0));
  Define3x3({0, 0, 0, 0, 600, 0, 0, 0, 0}, 2, 0);
  ASSERT_TRUE(filter.Apply(&target, &source));
  EXPECT_EQ(Out(3, 2), Grey(255));
}

TEST_F(KernelPass, ScaleFactorZeroRaisesBeforeAnyPixelIsWritten) {
  for (const uint16_t count : {uint16_t{1}, uint16_t{2}}) {
    Define3x3({0, 0, 0, 0, 1, 0, 0, 0, 0}, 0, 0);
    filter.SetKernelCount(count);
    target.SetSize(4, 3);
    Fill(target, 0x123456);
    EXPECT_THROW(filter.Apply(&target, &source), EDivByZero);
    for (int y = 0; y < 3; ++y) {
      for (int x = 0; x < 4; ++x) EXPECT_EQ(Out(x, y), 0x123456u);
    }
  }
}

TEST_F(KernelPass, NothingToComputeReturnsFalseAndLeavesTheTarget) {
  target.SetSize(2, 2);
  Fill(target, 0x010203);
  TBitmap empty(0, 5, pf32bit);
  EXPECT_FALSE(filter.Apply(&target, &empty));
  EXPECT_FALSE(filter.Apply(&target, nullptr));
  for (const auto& [count, width, height] :
       std::vector<std::array<uint16_t, 3>>{{0, 3, 3}, {1, 0, 3}, {2, 3, 0}}) {
    filter.DefineKernel(count, width, height);
    EXPECT_FALSE(filter.Apply(&target, &source));
  }
  EXPECT_EQ(target.Width(), 2);
  EXPECT_EQ(Out(1, 1), 0x010203u);

  CountingFilter kernelless(nullptr);  // no values by design, yet it runs
  EXPECT_TRUE(kernelless.Apply(&target, &source));
  EXPECT_EQ(kernelless.passes, 1);
}

TEST_F(KernelPass, FilteringABitmapIntoItselfReadsTheOriginalPixels) {
  Define3x3({0, 1, 0, 0, 0, 0, 0, 0, 0}, 1, 0);
  ASSERT_TRUE(filter.Apply(&target, &source));
  ASSERT_TRUE(filter.Apply(&source, &source));
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 4; ++x) EXPECT_EQ(In(x, y), Out(x, y));
  }
}

// Cell (r, c) weighs the pixel at column X + XMin + c - 1, picture row Y - YMax + r - 1, or
// (X, Y) itself when that lies outside; sums in 64 bits, merged as the rules say.
TColor PlainConvolution(const TCustomFilter& f, TBitmap& src, int X, int Y) {
  TColor color = 0;
  for (int ch = 0; ch < 3; ++ch) {
    int64_t merged = 0;
    for (uint16_t k = 1; k <= f.KernelCount(); ++k) {
      int64_t s = 0;
      for (uint16_t r = 1; r <= f.KernelHeight(); ++r) {
        for (uint16_t c = 1; c <= f.KernelWidth(); ++c) {
          int sx = X + f.XMin() + c - 1;
          int sy = Y - f.YMax() + r - 1;
          if (sx < 0 || sx >= src.Width() || sy < 0 || sy >= src.Height()) {
            sx = X;
            sy = Y;
          }
          s += int64_t{f.GetKernelValue(k, r, c)} * PixelAt(src, sx, sy)[ch];
        }
      }
      const TKernelMergeOp op = f.KernelCount() == 1 ? opSUM : f.KernelMergeOp();
      merged = op == opSUM   ? merged + s
               : op == opABS ? merged + std::abs(s)
               : op == opDIF ? (k == 1 ? s : std::abs(merged - s))
                             : merged + s * s;
    }
    if (f.KernelCount() > 1 && f.KernelMergeOp() == opRMS) {
      merged = static_cast<int64_t>(std::sqrt(static_cast<double>(merged)));
    }
    const int64_t v = std::clamp<int64_t>(merged / f.ScaleFactor() + f.Bias(), 0, 255);
    color |= static_cast<TColor>(v) << (8 * (2 - ch));
  }
  return color;
}

TEST(KernelPassReference, MatchesAPlainConvolutionOnRandomPicturesAndKernels) {
  std::mt19937 random(20240607);
  std::uniform_int_distribution<int> weight(-5, 5);
  for (int trial = 0; trial < 60; ++trial) {
    const auto count = static_cast<uint16_t>(1 + trial % 3);
    const auto kw = static_cast<uint16_t>(1 + trial % 5);
    const auto kh = static_cast<uint16_t>(1 + (trial / 5) % 4);
    TCustomFilter f(nullptr);
    std::vector<int32_t> values(static_cast<std::size_t>(count * kw * kh));
    for (int32_t& v : values) v = weight(random);
    f.DefineKernel(count, kw, kh, values);
    f.SetKernelMergeOp(static_cast<TKernelMergeOp>(trial % 4));
    f.SetScaleFactor(trial % 2 == 0 ? 1 + trial % 9 : -(1 + trial % 5));
    f.SetBias(trial % 3 == 0 ? 0 : 60);
    TBitmap src(1 + trial % 7, 1 + trial % 6, pf32bit);
    test::FillRandom(src, static_cast<uint32_t>(trial));
    TBitmap dst;
    ASSERT_TRUE(f.Apply(&dst, &src));
    for (int y = 0; y < src.Height(); ++y) {
      for (int x = 0; x < src.Width(); ++x) {
        ASSERT_EQ(dst.Canvas().Pixel(x, y), PlainConvolution(f, src, x, y))
            << "trial " << trial << " (" << count << " x " << kw << " x " << kh << ") at " << x
            << ", " << y;
      }
    }
  }
}

std::string Bytes(std::initializer_list<int> bytes) {
  std::string s;
  for (const int b : bytes) s.push_back(static_cast<char>(b));
  return s;
}

// Two kernels of 1 row x 2 columns, 1 2 and 3 -1, stored per cell as 1 3 2 -1.
const std::string kStreamExample =
    Bytes({0xFE, 0xFF, 0xFF, 0xFF, 0x04, 0x03, 0x02, 0x01, 3, 2, 0, 2, 0, 1, 0}) +
    Bytes({1, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF});

TEST(CustomFilterStream, SavesTheLittleEndianLayoutAndLoadsItBackWithOneChange) {
  TCustomFilter f(nullptr);
  f.SetBias(-2);
  f.SetScaleFactor(0x01020304);
  f.DefineKernel(2, 2, 1, std::vector<int32_t>{1, 2, 3, -1});
  f.SetKernelMergeOp(opRMS);
  std::stringstream stream(std::ios::in | std::ios::out | std::ios::binary);
  f.SaveToStream(stream);
  EXPECT_EQ(stream.str(), kStreamExample);
  std::ostringstream kernel(std::ios::binary);
  f.WriteKernel(kernel);
  EXPECT_EQ(kernel.str(), kStreamExample.substr(15));

  TCustomFilter g(nullptr);
  ChangeCounter changes(g);
  g.LoadFromStream(stream);
  EXPECT_EQ(changes.count, 1);
  EXPECT_EQ(g.Bias(), -2);
  EXPECT_EQ(g.ScaleFactor(), 0x01020304);
  EXPECT_EQ(g.KernelMergeOp(), opRMS);
  EXPECT_EQ(g.KernelBytes(), 16);
  EXPECT_EQ(g.GetKernelValue(2, 1, 2), -1);
  EXPECT_TRUE(std::equal(g.Kernel().begin(), g.Kernel().end(), f.Kernel().begin()));

  // The "Kernel" property: the values alone, written only when one is not zero.
  EXPECT_TRUE(g.KernelStored());
  g.SetKernelCount(1);
  EXPECT_FALSE(g.KernelStored());
  g.SetKernelCount(2);
  std::istringstream values(kStreamExample.substr(15), std::ios::binary);
  g.ReadKernel(values);
  EXPECT_EQ(g.GetKernelValue(2, 1, 2), -1);
  EXPECT_EQ(changes.count, 3);  // the two resizes; reading values announces nothing
}

TEST(CustomFilterStream, ShortOrBadStreamsRaiseReadErrorAndLeaveTheFilterAsItWas) {
  const std::string claimsMuch = Bytes({0, 0, 0, 0, 1, 0, 0, 0, 0, 100, 0, 100, 0, 100, 0, 1});
  std::string badMergeOp = kStreamExample;
  badMergeOp[8] = static_cast<char>(200);
  for (const std::string& bytes : {std::string(), kStreamExample.substr(0, 14),
                                   kStreamExample.substr(0, 30), claimsMuch, badMergeOp}) {
    TCustomFilter f(nullptr);
    f.SetKernelValue(1, 1, 1, 5);
    ChangeCounter changes(f);
    std::istringstream in(bytes, std::ios::binary);
    EXPECT_THROW(f.LoadFromStream(in), EReadError) << bytes.size() << " bytes";
    EXPECT_EQ(f.Bias(), 0);
    EXPECT_EQ(f.KernelMergeOp(), opSUM);
    EXPECT_EQ(f.KernelCount(), 1);
    EXPECT_EQ(f.GetKernelValue(1, 1, 1), 5);
    EXPECT_EQ(changes.count, 0);
    in.clear();
    in.str(bytes.substr(0, 7));
    EXPECT_THROW(f.ReadKernel(in), EReadError);
    EXPECT_EQ(f.GetKernelValue(1, 1, 1), 5);
  }
  TCustomFilter f(nullptr);
  std::istringstream huge(Bytes({0, 0, 0, 0, 1, 0, 0, 0, 0, 255, 255, 255, 255, 255, 255}));
  EXPECT_THROW(f.LoadFromStream(huge), EOutOfMemory);
}

TEST(CustomFilter, AssignCopiesAnyFilterWithOneChange) {
  TUnsharpMaskFilter unsharp(nullptr);
  TCustomFilter f(nullptr);
  ChangeCounter changes(f);
  f.Assign(&unsharp);
  f.Assign(&unsharp);
  EXPECT_EQ(changes.count, 1);
  EXPECT_EQ(f.GetSquareSize(), 5);
  EXPECT_EQ(f.ScaleFactor(), 331);
  EXPECT_TRUE(std::equal(f.Kernel().begin(), f.Kernel().end(), unsharp.Kernel().begin()));
  TImageBaseProcess stage(nullptr);
  f.Assign(&stage);  // a stage that is not a filter: nothing to copy
  EXPECT_EQ(changes.count, 1);
}

}  // namespace
}  // namespace ombrix
