#include "Resample.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <thread>
#include <utility>

namespace ombrix {
namespace {

void Random(TBitmap& b, unsigned seed) {
  std::mt19937 rng(seed);
  for (int y = 0; y < b.Height(); ++y) {
    uint8_t* row = b.ScanLine(y);
    for (std::size_t i = 0; i < b.RowBytes(); ++i) row[i] = static_cast<uint8_t>(rng());
  }
}

void Fill(TBitmap& b, TColor color) {
  b.Canvas().Brush.Color = color;
  b.Canvas().FillRect(TRect{0, 0, b.Width(), b.Height()});
}

TRect All(const TBitmap& b) {
  return TRect{0, 0, b.Width(), b.Height()};
}

// ---------------------------------------------------------------------------------------------
// The fast row kernels against the plain ones, bit for bit.

struct Mapping {
  const char* name;
  int sourceWidth, sourceHeight, targetWidth, targetHeight;
  TAxisMap x, y;
  TResampleKernel kernel;
  bool gamma;
};

void PrintTo(const Mapping& m, std::ostream* os) {
  *os << m.name;
}

class FastKernels : public testing::TestWithParam<std::tuple<TResampleKernels, Mapping>> {};

TEST_P(FastKernels, MatchThePlainKernelsBitForBit) {
  const auto& [kernels, m] = GetParam();
  if (!KernelsAvailable(kernels)) GTEST_SKIP() << "not available on this processor";
  TBitmap source(m.sourceWidth, m.sourceHeight);
  Random(source, 11);
  const auto table = GammaTable(1.7f);
  TResampleOptions options;
  options.Kernel = m.kernel;
  options.Colors = m.gamma ? table.data() : nullptr;
  TBitmap plain(m.targetWidth, m.targetHeight), fast(m.targetWidth, m.targetHeight);
  Random(plain, 5);
  Random(fast, 5);
  Resample(ViewOf(source), plain, All(plain), m.x, m.y, options, rsPlain);
  Resample(ViewOf(source), fast, All(fast), m.x, m.y, options, kernels);
  for (int y = 0; y < m.targetHeight; ++y)
    for (int i = 0; i < m.targetWidth * 4; ++i)
      ASSERT_EQ(fast.ScanLine(y)[i], plain.ScanLine(y)[i])
          << "pixel " << i / 4 << "," << y << " channel " << i % 4;
}

INSTANTIATE_TEST_SUITE_P(
    Resample, FastKernels,
    testing::Combine(
        testing::Values(rsSse2, rsAvx2, rsAvx512),
        testing::Values(
            Mapping{"Enlarge2", 37, 29, 61, 47, {2, -13}, {2, -9}, rkCubic, false},
            Mapping{"Enlarge8Gamma", 41, 33, 101, 77, {8, -140}, {8, -100}, rkCubic, true},
            Mapping{"EnlargeOddScale", 23, 19, 59, 43, {2.37, 0.3}, {3.1, -1.7}, rkCubic, true},
            Mapping{"Halve", 83, 61, 53, 41, {0.5, 0}, {0.5, 1.25}, rkCubic, false},
            Mapping{"ShrinkHard", 211, 97, 29, 23, {0.11, 1}, {0.21, 0}, rkCubic, true},
            // Wider than the fast kernels' fixed tap counts.
            Mapping{"ShrinkPastManyTaps", 997, 201, 13, 9, {0.013, 0}, {0.04, 0}, rkCubic, false},
            Mapping{"Mirrored", 31, 27, 45, 39, {-1.4, 44}, {1.3, 0}, rkCubic, false},
            Mapping{"Linear", 31, 27, 57, 39, {1.8, -3}, {0.7, 2}, rkLinear, true},
            Mapping{"Nearest", 31, 27, 57, 39, {1.8, -3}, {1.3, 2}, rkNearest, false},
            Mapping{"TinySource", 1, 3, 17, 15, {9, 2}, {4, 0}, rkCubic, true},
            Mapping{"UnscaledGamma", 35, 21, 35, 21, {1, 3}, {1, -2}, rkCubic, true},
            Mapping{"Unscaled", 35, 21, 35, 21, {1, -5}, {1, 2}, rkCubic, false},
            Mapping{"UnscaledAcross", 37, 41, 37, 23, {1, 0}, {0.5, 1}, rkCubic, true})),
    [](const auto& p) {
      const TResampleKernels k = std::get<0>(p.param);
      return std::string(k == rsSse2   ? "Sse2_"
                         : k == rsAvx2 ? "Avx2_"
                                       : "Avx512_") +
             std::get<1>(p.param).name;
    });

// ---------------------------------------------------------------------------------------------
// A thread keeps the weights of the axes it drew last: a draw that differs from the one before
// in any single input must still equal the same draw on a new thread, which has none kept.

struct Draw {
  int sourceWidth = 37, sourceHeight = 29, targetWidth = 61, targetHeight = 47;
  TRect clip{0, 0, 61, 47};
  TAxisMap x{2, -13}, y{2, -9};
  TResampleOptions options;
};

void RunDraw(const Draw& d, TBitmap& target) {
  TBitmap source(d.sourceWidth, d.sourceHeight);
  Random(source, 3);
  target.SetSize(d.targetWidth, d.targetHeight);
  Random(target, 4);
  Resample(ViewOf(source), target, d.clip, d.x, d.y, d.options);
}

bool SamePixels(const TBitmap& a, const TBitmap& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
  for (int y = 0; y < a.Height(); ++y)
    if (!std::equal(a.ScanLine(y), a.ScanLine(y) + a.RowBytes(), b.ScanLine(y))) return false;
  return true;
}

struct KeptWeightsCase {
  const char* name;
  void (*prepare)(Draw&);  // both draws
  void (*vary)(Draw&);     // the second draw only
};

void PrintTo(const KeptWeightsCase& c, std::ostream* os) {
  *os << c.name;
}

class KeptWeights : public testing::TestWithParam<KeptWeightsCase> {};

TEST_P(KeptWeights, NeverServeADrawThatDiffersInOneInput) {
  Draw first;
  GetParam().prepare(first);
  Draw second = first;
  GetParam().vary(second);
  for (const Draw& d : {first, second, first}) {
    TBitmap kept, fresh;
    RunDraw(d, kept);
    std::thread([&] { RunDraw(d, fresh); }).join();
    ASSERT_TRUE(SamePixels(kept, fresh));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Resample, KeptWeights,
    testing::Values(
        KeptWeightsCase{"Scale", [](Draw&) {},
                        [](Draw& d) { d.x.Scale = std::nextafter(2.0, 3.0); }},
        KeptWeightsCase{"Offset", [](Draw&) {}, [](Draw& d) { d.y.Offset = -9.5; }},
        KeptWeightsCase{"SourceLength", [](Draw&) {}, [](Draw& d) { d.sourceWidth = 38; }},
        KeptWeightsCase{"Range", [](Draw&) {},
                        [](Draw& d) {
                          d.clip = {3, 5, 50, 40};
                        }},
        KeptWeightsCase{"Kernel", [](Draw&) {}, [](Draw& d) { d.options.Kernel = rkLinear; }},
        KeptWeightsCase{"TapGroups", [](Draw&) {}, [](Draw& d) { d.options.Kernel = rkNearest; }},
        KeptWeightsCase{"Prefilter",
                        [](Draw& d) {
                          d.x = {0.4, 1};
                          d.y = {0.3, 0};
                        },
                        [](Draw& d) { d.options.Prefilter = false; }},
        KeptWeightsCase{"SwappedAxes", [](Draw& d) { d.sourceHeight = d.sourceWidth; },
                        [](Draw& d) { std::swap(d.x, d.y); }}),
    [](const testing::TestParamInfo<KeptWeightsCase>& row) { return std::string(row.param.name); });

// ---------------------------------------------------------------------------------------------
// The fixed-point result against cubic convolution in double precision.

double Cubic(double x) {
  x = std::fabs(x);
  if (x < 1) return (1.5 * x - 2.5) * x * x + 1;
  if (x < 2) return ((-0.5 * x + 2.5) * x - 4) * x + 2;
  return 0;
}

// Weights of source pixels for target index i, border pixels repeated, normalised.
std::vector<double> ReferenceWeights(const TAxisMap& map, int length, int i) {
  const double stretch = std::max(1.0, 1 / std::fabs(map.Scale));
  const double t = (i + 0.5 - map.Offset) / map.Scale - 0.5;
  std::vector<double> w(static_cast<std::size_t>(length), 0.0);
  double sum = 0;
  for (int k = static_cast<int>(std::floor(t - 2 * stretch)) - 1;
       k <= static_cast<int>(std::ceil(t + 2 * stretch)) + 1; ++k) {
    const double v = Cubic((k - t) / stretch);
    w[static_cast<std::size_t>(std::clamp(k, 0, length - 1))] += v;
    sum += v;
  }
  for (double& v : w) v /= sum;
  return w;
}

TEST(Resample, AgreesWithDoublePrecisionCubicWithinOneLevel) {
  for (const auto& [x, y] : {std::pair{TAxisMap{2.5, -7.3}, TAxisMap{4, -30}},
                             std::pair{TAxisMap{0.5, 0}, TAxisMap{0.37, 0.5}},
                             std::pair{TAxisMap{1, 3}, TAxisMap{1.5, -2}}}) {
    TBitmap source(29, 31);
    Random(source, 3);
    TBitmap target(40, 30);
    Resample(ViewOf(source), target, All(target), x, y, TResampleOptions{});
    const TIndexRange cols = DrawnRange(x, 29, 40), rows = DrawnRange(y, 31, 30);
    ASSERT_LT(cols.begin, cols.end);
    ASSERT_LT(rows.begin, rows.end);
    for (int j = rows.begin; j < rows.end; ++j) {
      const auto wy = ReferenceWeights(y, 31, j);
      for (int i = cols.begin; i < cols.end; ++i) {
        const auto wx = ReferenceWeights(x, 29, i);
        for (int c = 0; c < 3; ++c) {
          double v = 0;
          for (int sy = 0; sy < 31; ++sy)
            for (int sx = 0; sx < 29; ++sx)
              v += wy[static_cast<std::size_t>(sy)] * wx[static_cast<std::size_t>(sx)] *
                   source.ScanLine(sy)[sx * 4 + c];
          const double expected = std::clamp(std::round(v), 0.0, 255.0);
          ASSERT_NEAR(target.ScanLine(j)[i * 4 + c], expected, 1.0)
              << i << "," << j << " channel " << c << " scale " << x.Scale;
        }
      }
    }
  }
}

// ---------------------------------------------------------------------------------------------

TEST(Resample, FlatPictureStaysExactlyFlatAtAnyScale) {
  TBitmap source(21, 17);
  Fill(source, 0x7F10E3);
  for (double s : {0.3, 0.5, 1.0, 1.5, 2.0, 6.0, 8.0}) {
    TBitmap target(64, 48);
    Resample(ViewOf(source), target, All(target), TAxisMap{s, 0.25}, TAxisMap{s, -0.5},
             TResampleOptions{});
    const TIndexRange cols = DrawnRange(TAxisMap{s, 0.25}, 21, 64);
    const TIndexRange rows = DrawnRange(TAxisMap{s, -0.5}, 17, 48);
    for (int y = rows.begin; y < rows.end; ++y)
      for (int x = cols.begin; x < cols.end; ++x)
        ASSERT_EQ(target.Canvas().Pixel(x, y), 0x7F10E3u) << "scale " << s << " " << x << "," << y;
  }
}

TEST(Resample, ShrinkingToAPixelAveragesTheWholeSource) {
  // Far narrower than its kernel: the one target pixel is the mean of the source.
  TBitmap source(64, 1);
  for (int x = 0; x < 64; ++x) source.Canvas().SetPixel(x, 0, x < 32 ? 0x000000u : 0xC8C8C8u);
  TBitmap target(1, 1);
  Resample(ViewOf(source), target, All(target), TAxisMap{1e-6, 0.5 - 32e-6}, TAxisMap{1, 0},
           TResampleOptions{});
  EXPECT_NEAR(target.ScanLine(0)[0], 100, 2);
  EXPECT_NEAR(target.ScanLine(0)[2], 100, 2);
}

TEST(Resample, UnscaledWholeOffsetCopiesColoursAndClearsTheFourthByte) {
  TBitmap source(13, 9);
  Random(source, 8);
  for (TPixelFormat format : {pf32bit, pf24bit}) {
    TBitmap target(16, 12, format);
    Fill(target, 0x00FF00FF);
    Resample(ViewOf(source), target, All(target), TAxisMap{1, 2}, TAxisMap{1, 3},
             TResampleOptions{});
    for (int y = 0; y < 12; ++y)
      for (int x = 0; x < 16; ++x) {
        const bool drawn = x >= 2 && x < 15 && y >= 3 && y < 12;
        EXPECT_EQ(target.Canvas().Pixel(x, y),
                  drawn ? source.Canvas().Pixel(x - 2, y - 3) : 0x00FF00FFu)
            << x << "," << y;
        if (drawn && format == pf32bit) {
          EXPECT_EQ(target.ScanLine(y)[x * 4 + 3], 0);
        }
      }
  }
}

}  // namespace
}  // namespace ombrix
