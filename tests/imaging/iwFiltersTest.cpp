#include "iwFilters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <limits>
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
using test::FillRandom;
using test::PixelAt;

// The colour bytes of pixel (x, y), y from the top, as 0x00BBGGRR.
TColor ColorAt(TBitmap& bitmap, int x, int y) {
  return bitmap.Canvas().Pixel(x, y);
}

TColor Grey(uint8_t v) {
  return static_cast<TColor>(v) * 0x010101u;
}

// A kernel-less filter that records its pass instead of computing one.
class RecordingFilter : public TWithoutKernelBaseFilter {
 public:
  using TWithoutKernelBaseFilter::TWithoutKernelBaseFilter;
  void ApplyKernel(uint8_t* dst, uint8_t*, int32_t width, int32_t height) override {
    ++passes;
    dst[0] = static_cast<uint8_t>(width + height);
  }
  int passes = 0;
};

// One 3 x 3 kernel (array order), ScaleFactor and Bias.
void SetKernel3x3(TCustomFilter& f, std::vector<int32_t> values, int32_t scale, int32_t bias) {
  f.DefineKernel(1, 3, 3, values);
  f.SetScaleFactor(scale);
  f.SetBias(bias);
}

// ---------------------------------------------------------------------------------------------
// Settings and the kernel buffer

TEST(KernelFilter, ConstructorsSetTheirDefaults) {
  TImageBaseFilter base(nullptr);
  EXPECT_EQ(base.Bias(), 0);
  EXPECT_EQ(base.ScaleFactor(), 1);
  EXPECT_EQ(base.KernelMergeOp(), opSUM);
  EXPECT_EQ(base.KernelCount(), 0);
  EXPECT_EQ(base.KernelBytes(), 0);
  EXPECT_TRUE(base.Kernel().empty());

  TCustomFilter custom(nullptr);
  EXPECT_EQ(custom.KernelCount(), 1);
  EXPECT_EQ(custom.GetSquareSize(), 3);
  EXPECT_EQ(custom.KernelBytes(), 36);
  EXPECT_EQ(custom.ScaleFactor(), 1);
  EXPECT_FALSE(custom.KernelStored());

  RecordingFilter kernelless(nullptr);
  EXPECT_EQ(kernelless.KernelCount(), 0);
  EXPECT_EQ(kernelless.SamplingBox(), 3);
  EXPECT_EQ(kernelless.ScaleFactor(), 0);
  EXPECT_EQ(kernelless.Bias(), 0);
  EXPECT_EQ(kernelless.XMin(), -1);
  EXPECT_EQ(kernelless.YMax(), 1);
  EXPECT_EQ(kernelless.KernelBytes(), 0);
}

TEST(KernelFilter, WindowOffsetsTruncateTowardZero) {
  struct Row {
    uint16_t size;
    int32_t low;
    int32_t high;
  };
  TCustomFilter f(nullptr);
  for (const Row row : {Row{0, 0, 0}, Row{1, 0, 0}, Row{3, -1, 1}, Row{4, -2, 1}, Row{5, -2, 2}}) {
    SCOPED_TRACE(row.size);
    f.DefineKernel(1, row.size, row.size);
    EXPECT_EQ(f.XMin(), row.low);
    EXPECT_EQ(f.XMax(), row.high);
    EXPECT_EQ(f.YMin(), row.low);
    EXPECT_EQ(f.YMax(), row.high);
  }
  f.DefineKernel(1, 4, 1);
  EXPECT_EQ(f.XMin(), -2);
  EXPECT_EQ(f.YMin(), 0);
}

TEST(KernelFilter, ValuesAreInterleavedPerCellInStorage) {
  TCustomFilter f(nullptr);
  f.DefineKernel(2, 3, 2);  // two kernels of 2 rows x 3 columns
  f.SetKernelValue(1, 1, 2, 11);
  f.SetKernelValue(2, 1, 2, 21);
  f.SetKernelValue(2, 2, 3, 23);
  const std::span<const int32_t> raw = f.Kernel();
  ASSERT_EQ(raw.size(), 12u);
  EXPECT_EQ(f.KernelBytes(), 48);
  EXPECT_EQ(raw[2], 11);   // cell (1, 2), kernel 1
  EXPECT_EQ(raw[3], 21);   // cell (1, 2), kernel 2
  EXPECT_EQ(raw[11], 23);  // cell (2, 3), kernel 2
  EXPECT_EQ(f.GetKernelValue(2, 2, 3), 23);

  std::vector<int32_t> arrayOrder(12, -1);
  f.GetKernel(arrayOrder);
  EXPECT_EQ(arrayOrder, (std::vector<int32_t>{0, 11, 0, 0, 0, 0, 0, 21, 0, 0, 0, 23}));
}

TEST(KernelFilter, ResizingClearsTheValuesAndAnnouncesOnce) {
  TCustomFilter f(nullptr);
  f.SetKernelValue(1, 2, 2, 5);
  ChangeCounter changes(f);
  f.SetKernelWidth(3);  // same
  f.SetSquareSize(3);   // same
  EXPECT_EQ(changes.count, 0);
  EXPECT_EQ(f.GetKernelValue(1, 2, 2), 5);
  f.SetKernelWidth(5);
  EXPECT_EQ(changes.count, 1);
  EXPECT_EQ(f.GetSquareSize(), 0);  // 5 x 3 is not square
  f.SetSquareSize(3);
  EXPECT_EQ(changes.count, 2);
  EXPECT_EQ(f.GetKernelValue(1, 2, 2), 0);
  EXPECT_FALSE(f.SetKernelDimensions(1, 3, 3));
}

TEST(KernelFilter, SettersAnnounceOnlyRealChanges) {
  TCustomFilter f(nullptr);
  ChangeCounter changes(f);
  f.SetBias(0);
  f.SetScaleFactor(1);
  f.SetKernelValue(1, 1, 1, 0);
  EXPECT_EQ(changes.count, 0);
  f.SetBias(-4);
  f.SetScaleFactor(0);  // accepted: the pass refuses it
  f.SetKernelValue(1, 1, 1, 3);
  EXPECT_EQ(changes.count, 3);
  EXPECT_EQ(f.ScaleFactor(), 0);
  EXPECT_EQ(changes.wrongSender, 0);
}

TEST(KernelFilter, MergeRuleAnnouncesOnlyWithSeveralKernels) {
  TCustomFilter f(nullptr);
  ChangeCounter changes(f);
  f.SetKernelMergeOp(opRMS);
  EXPECT_EQ(f.KernelMergeOp(), opRMS);
  EXPECT_EQ(changes.count, 0);
  f.SetKernelCount(2);
  EXPECT_EQ(changes.count, 1);
  f.SetKernelMergeOp(opABS);
  EXPECT_EQ(changes.count, 2);
  f.SetKernelMergeOp(opABS);
  EXPECT_EQ(changes.count, 2);
}

TEST(KernelFilter, IndicesOutsideTheKernelRaiseListErrorAndChangeNothing) {
  TCustomFilter f(nullptr);
  f.DefineKernel(2, 3, 2);
  ChangeCounter changes(f);
  EXPECT_THROW(f.GetKernelValue(0, 1, 1), EListError);
  EXPECT_THROW(f.GetKernelValue(3, 1, 1), EListError);
  EXPECT_THROW(f.GetKernelValue(1, 3, 1), EListError);  // only 2 rows
  EXPECT_THROW(f.GetKernelValue(1, 1, 4), EListError);
  EXPECT_THROW(f.SetKernelValue(1, 0, 1, 9), EListError);
  EXPECT_THROW(f.SetKernelValue(2, 2, 4, 9), EListError);
  try {
    f.SetKernelValue(1, 1, 65535, 9);
    FAIL();
  } catch (const EListError& e) {
    EXPECT_EQ(std::string(e.what()), "Indice de liste hors limites (65535)");
  }
  EXPECT_EQ(changes.count, 0);
  for (const int32_t v : f.Kernel()) EXPECT_EQ(v, 0);
}

TEST(KernelFilter, ShortArraysRaiseListErrorAndChangeNothing) {
  TCustomFilter f(nullptr);
  f.DefineKernel(1, 2, 2, std::vector<int32_t>{1, 2, 3, 4});
  ChangeCounter changes(f);
  const std::vector<int32_t> three = {9, 9, 9};
  EXPECT_THROW(f.LoadKernel(three), EListError);
  EXPECT_THROW(f.DefineKernel(1, 3, 3, three), EListError);
  EXPECT_EQ(f.GetSquareSize(), 2);
  std::vector<int32_t> out(3, -1);
  EXPECT_THROW(f.GetKernel(out), EListError);
  EXPECT_EQ(out, (std::vector<int32_t>{-1, -1, -1}));
  EXPECT_EQ(changes.count, 0);
  EXPECT_EQ(f.GetKernelValue(1, 2, 2), 4);
}

TEST(KernelFilter, LoadKernelAndDefineKernelAnnounceOneChangeAtMost) {
  TCustomFilter f(nullptr);
  ChangeCounter changes(f);
  f.LoadKernel(std::vector<int32_t>{1, 2, 3, 4, 5, 6, 7, 8, 9});
  EXPECT_EQ(changes.count, 1);
  EXPECT_EQ(f.GetKernelValue(1, 3, 1), 7);
  f.LoadKernel(std::vector<int32_t>{1, 2, 3, 4, 5, 6, 7, 8, 9});
  EXPECT_EQ(changes.count, 1);
  f.DefineKernel(2, 1, 1, std::vector<int32_t>{4, 5});
  EXPECT_EQ(changes.count, 2);
  f.DefineKernel(2, 1, 1, std::vector<int32_t>{4, 5});
  EXPECT_EQ(changes.count, 2);
  f.DefineKernel(2, 1, 1);  // sizes only: the values stay
  EXPECT_EQ(changes.count, 2);
  EXPECT_EQ(f.GetKernelValue(2, 1, 1), 5);
}

TEST(KernelFilter, KernelTooLargeForMemoryRaisesOutOfMemoryAndKeepsTheFilter) {
  TCustomFilter f(nullptr);
  f.SetKernelValue(1, 2, 2, 7);
  ChangeCounter changes(f);
  try {
    f.SetKernelDimensions(65535, 65535, 65535);
    FAIL();
  } catch (const EOutOfMemory& e) {
    EXPECT_EQ(std::string(e.what()), "Mémoire insuffisante");
  }
  EXPECT_THROW(f.DefineKernel(40000, 200, 200), EOutOfMemory);
  EXPECT_EQ(changes.count, 0);
  EXPECT_EQ(f.KernelCount(), 1);
  EXPECT_EQ(f.GetSquareSize(), 3);
  EXPECT_EQ(f.GetKernelValue(1, 2, 2), 7);
}

TEST(KernelFilter, MergeOperationsOfThirtyAndMinusForty) {
  TCustomFilter f(nullptr);
  f.SetKernelCount(2);
  const std::vector<TKernelSums> sums = {{30, 30, 30}, {-40, -40, -40}};
  struct Row {
    TKernelMergeOp op;
    int32_t expected;
  };
  for (const Row row : {Row{opSUM, -10}, Row{opABS, 70}, Row{opDIF, 70}, Row{opRMS, 50},
                        Row{static_cast<TKernelMergeOp>(4), 0}}) {
    SCOPED_TRACE(static_cast<int>(row.op));
    f.SetKernelMergeOp(row.op);
    TKernelSums result{1, 1, 1};
    f.MergeKernels(sums, result);
    EXPECT_EQ(result.Blue, row.expected);
    EXPECT_EQ(result.Green, row.expected);
    EXPECT_EQ(result.Red, row.expected);
  }
}

TEST(KernelFilter, DifferenceMergeFoldsKernelsInOrderPerChannel) {
  TCustomFilter f(nullptr);
  f.SetKernelCount(3);
  f.SetKernelMergeOp(opDIF);
  TKernelSums result;
  f.MergeKernels(std::vector<TKernelSums>{{5, 1, 0}, {20, 1, 0}, {4, -3, 0}}, result);
  EXPECT_EQ(result.Blue, 11);  // ||5 - 20| - 4|
  EXPECT_EQ(result.Green, 3);  // ||1 - 1| + 3|
  EXPECT_EQ(result.Red, 0);
}

// ---------------------------------------------------------------------------------------------
// The passes

class KernelPass : public ::testing::Test {
 protected:
  // 4 x 3 picture of distinct colours: pixel (x, y) is blue 10x + y, green 50 + y, red 200 - 10x.
  void SetUp() override {
    for (int y = 0; y < source.Height(); ++y) {
      for (int x = 0; x < source.Width(); ++x) {
        uint8_t* p = PixelAt(source, x, y);
        p[0] = static_cast<uint8_t>(10 * x + y);
        p[1] = static_cast<uint8_t>(50 + y);
        p[2] = static_cast<uint8_t>(200 - 10 * x);
        p[3] = 77;
      }
    }
  }
  TBitmap source{4, 3, pf32bit};
  TBitmap target;
  TCustomFilter filter{nullptr};
};

TEST_F(KernelPass, CentreOneReproducesTheColourBytesAndLeavesByteThree) {
  SetKernel3x3(filter, {0, 0, 0, 0, 1, 0, 0, 0, 0}, 1, 0);
  target.SetSize(4, 3);
  Fill(target, clWhite);
  PixelAt(target, 1, 1)[3] = 42;
  ASSERT_TRUE(filter.Apply(&target, &source));
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 4; ++x) EXPECT_EQ(ColorAt(target, x, y), ColorAt(source, x, y));
  }
  EXPECT_EQ(PixelAt(target, 1, 1)[3], 42);
  EXPECT_EQ(PixelAt(source, 1, 1)[3], 77);
}

TEST_F(KernelPass, OneInTheTopMiddleCellMovesThePictureDown) {
  SetKernel3x3(filter, {0, 1, 0, 0, 0, 0, 0, 0, 0}, 1, 0);
  ASSERT_TRUE(filter.Apply(&target, &source));
  for (int x = 0; x < 4; ++x) {
    EXPECT_EQ(ColorAt(target, x, 0), ColorAt(source, x, 0));  // above lies outside
    EXPECT_EQ(ColorAt(target, x, 1), ColorAt(source, x, 0));
    EXPECT_EQ(ColorAt(target, x, 2), ColorAt(source, x, 1));
  }
}

TEST_F(KernelPass, EvenKernelPutsThePixelUnderTheUpperRightMiddleCell) {
  // 2 x 2: the pixel lies under row 1, column 2; cell (2, 1) is the pixel below and to the left.
  filter.DefineKernel(1, 2, 2, std::vector<int32_t>{0, 0, 1, 0});
  ASSERT_TRUE(filter.Apply(&target, &source));
  EXPECT_EQ(ColorAt(target, 2, 0), ColorAt(source, 1, 1));
  EXPECT_EQ(ColorAt(target, 3, 1), ColorAt(source, 2, 2));
  EXPECT_EQ(ColorAt(target, 0, 0), ColorAt(source, 0, 0));  // left column: outside
  EXPECT_EQ(ColorAt(target, 2, 2), ColorAt(source, 2, 2));  // bottom row: outside

  filter.DefineKernel(1, 2, 2, std::vector<int32_t>{1, 0, 0, 0});
  ASSERT_TRUE(filter.Apply(&target, &source));
  EXPECT_EQ(ColorAt(target, 3, 2), ColorAt(source, 2, 2));  // cell (1, 1): the left neighbour
}

TEST_F(KernelPass, BoxOfNinePutsTheCentreInPlaceOfMissingSamples) {
  SetKernel3x3(filter, {1, 1, 1, 1, 1, 1, 1, 1, 1}, 9, 0);
  ASSERT_TRUE(filter.Apply(&target, &source));
  // Top-left corner: (its four inside pixels + 5 x itself) div 9, per channel.
  const uint8_t* a = PixelAt(source, 0, 0);
  const uint8_t* b = PixelAt(source, 1, 0);
  const uint8_t* c = PixelAt(source, 0, 1);
  const uint8_t* d = PixelAt(source, 1, 1);
  const uint8_t* out = PixelAt(target, 0, 0);
  for (int ch = 0; ch < 3; ++ch) {
    EXPECT_EQ(out[ch], (a[ch] + b[ch] + c[ch] + d[ch] + 5 * a[ch]) / 9) << "channel " << ch;
  }
}

TEST_F(KernelPass, ScaledSumsTruncateTowardZeroThenClamp) {
  Fill(source, Grey(1));
  // -7 div 2 = -3 (not -4), + 10 = 7.
  SetKernel3x3(filter, {0, 0, 0, 0, -7, 0, 0, 0, 0}, 2, 10);
  ASSERT_TRUE(filter.Apply(&target, &source));
  EXPECT_EQ(ColorAt(target, 0, 0), Grey(7));
  filter.SetBias(0);
  ASSERT_TRUE(filter.Apply(&target, &source));
  EXPECT_EQ(ColorAt(target, 2, 1), Grey(0));
  SetKernel3x3(filter, {0, 0, 0, 0, 600, 0, 0, 0, 0}, 2, 0);
  ASSERT_TRUE(filter.Apply(&target, &source));
  EXPECT_EQ(ColorAt(target, 3, 2), Grey(255));
  filter.SetScaleFactor(-2);  // 600 div -2 + 400
  filter.SetBias(400);
  ASSERT_TRUE(filter.Apply(&target, &source));
  EXPECT_EQ(ColorAt(target, 3, 2), Grey(100));
}

// Two 1 x 1 kernels, 30 and -40, on a pixel of value 1, with Bias 100.
TEST_F(KernelPass, SeveralKernelsAreMergedByTheMergeRule) {
  Fill(source, Grey(1));
  filter.DefineKernel(2, 1, 1, std::vector<int32_t>{30, -40});
  filter.SetBias(100);
  struct Row {
    TKernelMergeOp op;
    uint8_t expected;
  };
  for (const Row row : {Row{opSUM, 90}, Row{opABS, 170}, Row{opDIF, 170}, Row{opRMS, 150},
                        Row{static_cast<TKernelMergeOp>(9), 100}}) {
    SCOPED_TRACE(static_cast<int>(row.op));
    filter.SetKernelMergeOp(row.op);
    ASSERT_TRUE(filter.Apply(&target, &source));
    EXPECT_EQ(ColorAt(target, 1, 2), Grey(row.expected));
  }
}

TEST_F(KernelPass, ScaleFactorZeroRaisesBeforeAnyPixelIsWritten) {
  SetKernel3x3(filter, {0, 0, 0, 0, 1, 0, 0, 0, 0}, 0, 0);
  filter.SetKernelCount(1);
  target.SetSize(4, 3);
  Fill(target, 0x123456);
  try {
    filter.Apply(&target, &source);
    FAIL() << "a scale factor of 0 must raise";
  } catch (const EDivByZero& e) {
    EXPECT_EQ(std::string(e.what()), "Division par zéro");
  }
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 4; ++x) EXPECT_EQ(ColorAt(target, x, y), 0x123456u);
  }
  filter.SetKernelCount(2);
  EXPECT_THROW(filter.Apply(&target, &source), EDivByZero);
  EXPECT_EQ(ColorAt(target, 0, 0), 0x123456u);
}

TEST_F(KernelPass, ApplyResizesTheTargetToThirtyTwoBitsOfTheSourceSize) {
  SetKernel3x3(filter, {0, 0, 0, 0, 1, 0, 0, 0, 0}, 1, 0);
  target.SetSize(9, 9);
  target.SetPixelFormat(pf24bit);
  TBitmap source24(4, 3, pf24bit);
  source24.Assign(&source);
  source24.SetPixelFormat(pf24bit);
  ASSERT_TRUE(filter.Apply(&target, &source24));
  EXPECT_EQ(target.Width(), 4);
  EXPECT_EQ(target.Height(), 3);
  EXPECT_EQ(target.PixelFormat(), pf32bit);
  EXPECT_EQ(ColorAt(target, 3, 2), ColorAt(source, 3, 2));
}

TEST_F(KernelPass, FilteringABitmapIntoItselfReadsTheOriginalPixels) {
  SetKernel3x3(filter, {0, 1, 0, 0, 0, 0, 0, 0, 0}, 1, 0);
  TBitmap copy;
  copy.Assign(&source);
  ASSERT_TRUE(filter.Apply(&source, &source));
  for (int x = 0; x < 4; ++x) {
    EXPECT_EQ(ColorAt(source, x, 2), ColorAt(copy, x, 1));
    EXPECT_EQ(ColorAt(source, x, 1), ColorAt(copy, x, 0));
  }
}

TEST_F(KernelPass, SourceWithoutPixelsReturnsFalseAndLeavesTheTarget) {
  target.SetSize(2, 2);
  Fill(target, 0x010203);
  TBitmap empty(0, 5, pf32bit);
  EXPECT_FALSE(filter.Apply(&target, &empty));
  EXPECT_FALSE(filter.Apply(&target, nullptr));
  EXPECT_FALSE(filter.Apply(nullptr, &source));
  EXPECT_EQ(target.Width(), 2);
  EXPECT_EQ(ColorAt(target, 1, 1), 0x010203u);
}

TEST_F(KernelPass, KernelFilterWithoutValuesReturnsFalseAndLeavesTheTarget) {
  target.SetSize(2, 2);
  Fill(target, 0x010203);
  for (const auto& dims : {std::array<uint16_t, 3>{0, 3, 3}, std::array<uint16_t, 3>{1, 0, 3},
                           std::array<uint16_t, 3>{2, 3, 0}}) {
    filter.DefineKernel(dims[0], dims[1], dims[2]);
    EXPECT_FALSE(filter.Apply(&target, &source));
    EXPECT_EQ(target.Width(), 2);
    EXPECT_EQ(ColorAt(target, 0, 0), 0x010203u);
  }
}

TEST_F(KernelPass, KernelLessFilterRunsItsOwnPassWithoutValues) {
  RecordingFilter kernelless(nullptr);
  ASSERT_TRUE(kernelless.Apply(&target, &source));
  EXPECT_EQ(kernelless.passes, 1);
  EXPECT_EQ(PixelAt(target, 0, 2)[0], 7);  // dst points at the bottom row
}

// ---------------------------------------------------------------------------------------------
// Against a plain picture-coordinate convolution on random pictures and kernels

// Cell (r, c) weighs the pixel at column X + XMin + c - 1 and picture row Y - YMax + r - 1.
TColor NaiveConvolve(const TCustomFilter& f, TBitmap& src, int X, int Y) {
  const int count = f.KernelCount();
  std::vector<std::array<int64_t, 3>> sums(static_cast<std::size_t>(count), {0, 0, 0});
  for (int r = 1; r <= f.KernelHeight(); ++r) {
    for (int c = 1; c <= f.KernelWidth(); ++c) {
      int sx = X + f.XMin() + c - 1;
      int sy = Y - f.YMax() + r - 1;
      if (sx < 0 || sx >= src.Width() || sy < 0 || sy >= src.Height()) {
        sx = X;
        sy = Y;
      }
      const uint8_t* p = PixelAt(src, sx, sy);
      for (int k = 1; k <= count; ++k) {
        const int64_t w = f.GetKernelValue(static_cast<uint16_t>(k), static_cast<uint16_t>(r),
                                           static_cast<uint16_t>(c));
        for (std::size_t ch = 0; ch < 3; ++ch)
          sums[static_cast<std::size_t>(k - 1)][ch] += w * p[ch];
      }
    }
  }
  std::array<int64_t, 3> merged{};
  for (std::size_t ch = 0; ch < 3; ++ch) {
    int64_t m = 0;
    for (int k = 0; k < count; ++k) {
      const int64_t s = sums[static_cast<std::size_t>(k)][ch];
      if (count == 1 || f.KernelMergeOp() == opSUM)
        m += s;
      else if (f.KernelMergeOp() == opABS)
        m += std::llabs(s);
      else if (f.KernelMergeOp() == opDIF)
        m = k == 0 ? s : std::llabs(m - s);
      else
        m += s * s;
    }
    if (count > 1 && f.KernelMergeOp() == opRMS) {
      m = static_cast<int64_t>(std::sqrt(static_cast<double>(m)));
    }
    merged[ch] = m;
  }
  TColor color = 0;
  for (int ch = 0; ch < 3; ++ch) {
    const int64_t v = merged[static_cast<std::size_t>(ch)] / f.ScaleFactor() + f.Bias();
    color |= static_cast<TColor>(std::clamp<int64_t>(v, 0, 255)) << (8 * (2 - ch));
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
    const int w = 1 + trial % 7;
    const int h = 1 + trial % 6;
    SCOPED_TRACE(testing::Message() << "trial " << trial << ": " << count << " x " << kw << " x "
                                    << kh << " on " << w << " x " << h);
    TCustomFilter f(nullptr);
    std::vector<int32_t> values(static_cast<std::size_t>(count * kw * kh));
    for (int32_t& v : values) v = weight(random);
    f.DefineKernel(count, kw, kh, values);
    f.SetKernelMergeOp(static_cast<TKernelMergeOp>(trial % 4));
    f.SetScaleFactor(trial % 2 == 0 ? 1 + trial % 9 : -(1 + trial % 5));
    f.SetBias(trial % 3 == 0 ? 0 : 60);
    TBitmap src(w, h, pf32bit);
    FillRandom(src, static_cast<uint32_t>(trial));
    TBitmap dst;
    ASSERT_TRUE(f.Apply(&dst, &src));
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        ASSERT_EQ(ColorAt(dst, x, y), NaiveConvolve(f, src, x, y)) << "at " << x << ", " << y;
      }
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Copies and persistence

TEST(CustomFilter, AssignCopiesAnyFilterWithOneChange) {
  TUnsharpMaskFilter unsharp(nullptr);
  TCustomFilter f(nullptr);
  ChangeCounter changes(f);
  f.Assign(&unsharp);
  EXPECT_EQ(changes.count, 1);
  EXPECT_EQ(f.KernelCount(), 1);
  EXPECT_EQ(f.GetSquareSize(), 5);
  EXPECT_EQ(f.ScaleFactor(), 331);
  EXPECT_EQ(f.GetKernelValue(1, 3, 3), 607);
  EXPECT_TRUE(std::equal(f.Kernel().begin(), f.Kernel().end(), unsharp.Kernel().begin()));
  f.Assign(&unsharp);
  EXPECT_EQ(changes.count, 1);

  TCustomFilter other(nullptr);
  other.Assign(&f);
  other.SetKernelValue(1, 5, 5, 2);
  f.Assign(&other);  // same size, one value differs
  EXPECT_EQ(changes.count, 2);
  EXPECT_EQ(f.GetKernelValue(1, 5, 5), 2);
}

TEST(CustomFilter, AssignFromAStageThatIsNotAFilterCopiesNothing) {
  TCustomFilter f(nullptr);
  f.SetBias(3);
  TImageBaseProcess stage(nullptr);
  ChangeCounter changes(f);
  EXPECT_NO_THROW(f.Assign(&stage));
  EXPECT_EQ(f.Bias(), 3);
  EXPECT_EQ(changes.count, 0);
  TBitmap bitmap;
  try {
    f.Assign(&bitmap);
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(std::string(e.what()), "Impossible d'affecter TBitmap à TCustomFilter");
  }
}

TEST(KernelLessFilter, AssignTakesTheSquareSizeOfAnyFilter) {
  RecordingFilter f(nullptr);
  TGaussianBlurFilter blur(nullptr);  // 5 x 5
  ChangeCounter changes(f);
  f.Assign(&blur);
  EXPECT_EQ(f.SamplingBox(), 5);
  EXPECT_EQ(f.KernelCount(), 0);
  EXPECT_EQ(f.ScaleFactor(), 0);
  EXPECT_EQ(changes.count, 1);
  f.SetSamplingBox(4);
  EXPECT_EQ(f.XMin(), -2);
  EXPECT_EQ(changes.count, 2);
}

std::string Bytes(std::initializer_list<int> bytes) {
  std::string s;
  for (const int b : bytes) s.push_back(static_cast<char>(b));
  return s;
}

// Two kernels of 1 row x 2 columns: kernel 1 is 1 2, kernel 2 is 3 -1.
void DefineStreamExample(TCustomFilter& f) {
  f.SetBias(-2);
  f.SetScaleFactor(0x01020304);
  f.DefineKernel(2, 2, 1, std::vector<int32_t>{1, 2, 3, -1});
  f.SetKernelMergeOp(opRMS);
}

TEST(CustomFilterStream, LayoutIsLittleEndianWithInterleavedValues) {
  TCustomFilter f(nullptr);
  DefineStreamExample(f);
  std::ostringstream out(std::ios::binary);
  f.SaveToStream(out);
  const std::string expected = Bytes({0xFE, 0xFF, 0xFF, 0xFF, 0x04, 0x03, 0x02, 0x01, 0x03, 0x02,
                                      0x00, 0x02, 0x00, 0x01, 0x00}) +
                               Bytes({1, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF});
  EXPECT_EQ(out.str(), expected);

  std::ostringstream kernel(std::ios::binary);
  f.WriteKernel(kernel);
  EXPECT_EQ(kernel.str(), expected.substr(15));
}

TEST(CustomFilterStream, RoundTripRestoresAnEqualFilterWithOneChange) {
  TCustomFilter f(nullptr);
  DefineStreamExample(f);
  std::stringstream stream(std::ios::in | std::ios::out | std::ios::binary);
  f.SaveToStream(stream);

  TCustomFilter g(nullptr);
  ChangeCounter changes(g);
  g.LoadFromStream(stream);
  EXPECT_EQ(changes.count, 1);
  EXPECT_EQ(g.Bias(), -2);
  EXPECT_EQ(g.ScaleFactor(), 0x01020304);
  EXPECT_EQ(g.KernelMergeOp(), opRMS);
  EXPECT_EQ(g.KernelCount(), 2);
  EXPECT_EQ(g.KernelWidth(), 2);
  EXPECT_EQ(g.KernelHeight(), 1);
  EXPECT_EQ(g.KernelBytes(), 16);
  EXPECT_EQ(g.GetKernelValue(2, 1, 2), -1);
  EXPECT_TRUE(std::equal(g.Kernel().begin(), g.Kernel().end(), f.Kernel().begin()));

  stream.clear();
  stream.seekg(0);
  g.LoadFromStream(stream);  // same content again: still one announcement
  EXPECT_EQ(changes.count, 2);
}

TEST(CustomFilterStream, ShortOrOversizedStreamsLeaveTheFilterAsItWas) {
  TCustomFilter source(nullptr);
  DefineStreamExample(source);
  std::ostringstream out(std::ios::binary);
  source.SaveToStream(out);
  const std::string full = out.str();
  // A header that claims a 100 x 100 x 100 kernel and then ends.
  const std::string claimsMuch =
      Bytes({0, 0, 0, 0, 1, 0, 0, 0, 0, 100, 0, 100, 0, 100, 0, 1, 2, 3});

  struct Row {
    const char* name;
    std::string bytes;
  };
  for (const Row& row :
       {Row{"empty", ""}, Row{"short header", full.substr(0, 14)},
        Row{"header only", full.substr(0, 15)},
        Row{"one value short", full.substr(0, full.size() - 1)}, Row{"claims much", claimsMuch}}) {
    SCOPED_TRACE(row.name);
    TCustomFilter f(nullptr);
    f.SetKernelValue(1, 1, 1, 5);
    ChangeCounter changes(f);
    std::istringstream in(row.bytes, std::ios::binary);
    try {
      f.LoadFromStream(in);
      FAIL() << "a short stream must raise";
    } catch (const EReadError& e) {
      EXPECT_EQ(std::string(e.what()), "Erreur de lecture du flux");
    }
    EXPECT_EQ(changes.count, 0);
    EXPECT_EQ(f.Bias(), 0);
    EXPECT_EQ(f.ScaleFactor(), 1);
    EXPECT_EQ(f.KernelCount(), 1);
    EXPECT_EQ(f.GetSquareSize(), 3);
    EXPECT_EQ(f.GetKernelValue(1, 1, 1), 5);
  }

  TCustomFilter f(nullptr);
  std::istringstream huge(Bytes({0, 0, 0, 0, 1, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}),
                          std::ios::binary);
  EXPECT_THROW(f.LoadFromStream(huge), EOutOfMemory);
  EXPECT_EQ(f.GetSquareSize(), 3);
}

TEST(CustomFilterStream, KernelPropertyHoldsTheValuesAloneAndOnlyWhenNonZero) {
  TCustomFilter f(nullptr);
  f.DefineKernel(1, 2, 1);
  EXPECT_FALSE(f.KernelStored());
  f.SetKernelValue(1, 1, 2, -3);
  EXPECT_TRUE(f.KernelStored());
  f.SetKernelCount(0);
  EXPECT_FALSE(f.KernelStored());

  TCustomFilter g(nullptr);
  g.DefineKernel(1, 2, 1);
  ChangeCounter changes(g);
  std::istringstream values(Bytes({7, 0, 0, 0, 0xFD, 0xFF, 0xFF, 0xFF}), std::ios::binary);
  g.ReadKernel(values);
  EXPECT_EQ(g.GetKernelValue(1, 1, 1), 7);
  EXPECT_EQ(g.GetKernelValue(1, 1, 2), -3);
  EXPECT_EQ(changes.count, 0);

  std::istringstream shortValues(Bytes({1, 0, 0, 0, 2, 0, 0}), std::ios::binary);
  EXPECT_THROW(g.ReadKernel(shortValues), EReadError);
  EXPECT_EQ(g.GetKernelValue(1, 1, 1), 7);
}

TEST(CustomFilterStream, FailingOutputStreamRaises) {
  TCustomFilter f(nullptr);
  std::ostringstream out(std::ios::binary);
  out.setstate(std::ios::badbit);
  EXPECT_THROW(f.SaveToStream(out), EOmbrixError);
  EXPECT_THROW(f.WriteKernel(out), EOmbrixError);
}

}  // namespace
}  // namespace ombrix
