#include "iwFiltersCatalogue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "TestPictures.h"

namespace ombrix {
namespace {

using test::ChangeCounter;
using test::Fill;
using test::PixelAt;

using TPixel = std::array<uint8_t, 4>;  // blue, green, red, byte 3

TColor Rgb(int r, int g, int b) {
  return static_cast<TColor>(r) | static_cast<TColor>(g) << 8 | static_cast<TColor>(b) << 16;
}
TColor ColorAt(TBitmap& bitmap, int x, int y) {
  return bitmap.Canvas().Pixel(x, y);
}
TPixel PixelOf(TBitmap& bitmap, int x, int y) {
  const uint8_t* p = PixelAt(bitmap, x, y);
  return {p[0], p[1], p[2], p[3]};
}

// ---------------------------------------------------------------------------------------------
// Fixed kernels on a uniform picture: smoothing keeps it, edge detectors blacken it, Emboss
// greys it at 127. The picture has an odd size so that every border case occurs.

struct UniformCase {
  std::string name;
  TFilterFactory make;
  TColor expected;  // for the uniform colour red 120, green 60, blue 200
};

constexpr TColor kUniform = 0xC83C78;  // red 120, green 60, blue 200

class FixedKernelOnUniform : public testing::TestWithParam<UniformCase> {};

TEST_P(FixedKernelOnUniform, GivesTheExpectedColourEverywhere) {
  TBitmap source(7, 5);
  Fill(source, kUniform);
  TBitmap target;
  auto filter = GetParam().make(nullptr);
  ASSERT_TRUE(filter->Apply(&target, &source));
  ASSERT_EQ(target.Width(), 7);
  ASSERT_EQ(target.Height(), 5);
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 7; ++x)
      ASSERT_EQ(ColorAt(target, x, y), GetParam().expected) << x << "," << y;
  }
  EXPECT_EQ(ColorAt(source, 3, 2), kUniform);
}

constexpr TColor kBlack = 0;

INSTANTIATE_TEST_SUITE_P(
    Catalogue, FixedKernelOnUniform,
    testing::Values(UniformCase{"Average", MakeFilter<TAverageFilter>, kUniform},
                    UniformCase{"AverageMore", MakeFilter<TAverageMoreFilter>, kUniform},
                    UniformCase{"Blur", MakeFilter<TBlurFilter>, kUniform},
                    UniformCase{"BlurMore", MakeFilter<TBlurMoreFilter>, kUniform},
                    UniformCase{"LowPass", MakeFilter<TLowPassFilter>, kUniform},
                    // Weights 11 over 12: 120 -> 110, 60 -> 55, 200 -> 183.
                    UniformCase{"Smooth", MakeFilter<TSmoothFilter>, Rgb(110, 55, 183)},
                    UniformCase{"SmoothCircle", MakeFilter<TSmoothCircleFilter>, kUniform},
                    UniformCase{"SmoothCone", MakeFilter<TSmoothConeFilter>, kUniform},
                    UniformCase{"SmoothPyramidal", MakeFilter<TSmoothPyramidalFilter>, kUniform},
                    UniformCase{"Sharpen", MakeFilter<TSharpenFilter>, kUniform},
                    UniformCase{"SharpenMore", MakeFilter<TSharpenMoreFilter>, kUniform},
                    UniformCase{"EmbossColor", MakeFilter<TEmbossColorFilter>, kUniform},
                    UniformCase{"HighPass", MakeFilter<THighPassFilter>, kBlack},
                    UniformCase{"Laplacian", MakeFilter<TLaplacianFilter>, kBlack},
                    UniformCase{"Edge", MakeFilter<TEdgeFilter>, kBlack},
                    UniformCase{"PrewittNorthSouth", MakeFilter<TPrewittNorthSouthFilter>, kBlack},
                    UniformCase{"PrewittSouthNorth", MakeFilter<TPrewittSouthNorthFilter>, kBlack},
                    UniformCase{"PrewittEastWest", MakeFilter<TPrewittEastWestFilter>, kBlack},
                    UniformCase{"PrewittWestEast", MakeFilter<TPrewittWestEastFilter>, kBlack},
                    UniformCase{"PrewittEdge", MakeFilter<TPrewittEdgeFilter>, kBlack},
                    UniformCase{"SobelNorthSouth", MakeFilter<TSobelNorthSouthFilter>, kBlack},
                    UniformCase{"SobelSouthNorth", MakeFilter<TSobelSouthNorthFilter>, kBlack},
                    UniformCase{"SobelEastWest", MakeFilter<TSobelEastWestFilter>, kBlack},
                    UniformCase{"SobelWestEast", MakeFilter<TSobelWestEastFilter>, kBlack},
                    UniformCase{"SobelEdge", MakeFilter<TSobelEdgeFilter>, kBlack},
                    UniformCase{"LineMaskVertical", MakeFilter<TLineMaskVerticalFilter>, kBlack},
                    UniformCase{"LineMaskHorizontal", MakeFilter<TLineMaskHorizontalFilter>,
                                kBlack},
                    UniformCase{"LineMask", MakeFilter<TLineMaskFilter>, kBlack},
                    UniformCase{"Emboss", MakeFilter<TEmbossFilter>, Rgb(127, 127, 127)}),
    [](const testing::TestParamInfo<UniformCase>& row) { return row.param.name; });

// ---------------------------------------------------------------------------------------------
// Direction of the edge detectors: a step of 10 between a brighter top (or left) half and a
// darker bottom (or right) half.

struct StepCase {
  std::string name;
  TFilterFactory make;
  bool vertical;       // the step runs between columns (left bright) instead of rows (top bright)
  int edgeValue;       // at the last bright row / column, beside the step
  int otherEdgeValue;  // at the first dark row / column
};

class EdgeDetectorOnStep : public testing::TestWithParam<StepCase> {};

TEST_P(EdgeDetectorOnStep, LightsTheEdgeOnItsSideOnly) {
  const StepCase& c = GetParam();
  TBitmap source(6, 6);
  Fill(source, Rgb(20, 20, 20));
  if (c.vertical) {
    source.Canvas().Brush.Color = Rgb(10, 10, 10);
    source.Canvas().FillRect({3, 0, 6, 6});
  } else {
    source.Canvas().Brush.Color = Rgb(10, 10, 10);
    source.Canvas().FillRect({0, 3, 6, 6});
  }
  TBitmap target;
  auto filter = c.make(nullptr);
  ASSERT_TRUE(filter->Apply(&target, &source));
  for (int i = 0; i < 6; ++i) {
    const int x2 = c.vertical ? 2 : i, y2 = c.vertical ? i : 2;
    const int x3 = c.vertical ? 3 : i, y3 = c.vertical ? i : 3;
    const int x0 = c.vertical ? 0 : i, y0 = c.vertical ? i : 0;
    EXPECT_EQ(ColorAt(target, x0, y0), kBlack) << i;
    // Where the edge meets the border, the missing samples take the centre's value instead.
    if (i == 0 || i == 5) continue;
    EXPECT_EQ(ColorAt(target, x2, y2), Rgb(c.edgeValue, c.edgeValue, c.edgeValue)) << i;
    EXPECT_EQ(ColorAt(target, x3, y3), Rgb(c.otherEdgeValue, c.otherEdgeValue, c.otherEdgeValue))
        << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Catalogue, EdgeDetectorOnStep,
    testing::Values(
        // Light where the row above is brighter than the row below.
        StepCase{"PrewittNorthSouth", MakeFilter<TPrewittNorthSouthFilter>, false, 30, 30},
        StepCase{"PrewittSouthNorth", MakeFilter<TPrewittSouthNorthFilter>, false, 0, 0},
        StepCase{"PrewittEastWest", MakeFilter<TPrewittEastWestFilter>, true, 30, 30},
        StepCase{"PrewittWestEast", MakeFilter<TPrewittWestEastFilter>, true, 0, 0},
        StepCase{"SobelNorthSouth", MakeFilter<TSobelNorthSouthFilter>, false, 40, 40},
        StepCase{"SobelSouthNorth", MakeFilter<TSobelSouthNorthFilter>, false, 0, 0},
        StepCase{"SobelEastWest", MakeFilter<TSobelEastWestFilter>, true, 40, 40},
        StepCase{"SobelWestEast", MakeFilter<TSobelWestEastFilter>, true, 0, 0},
        // Two kernels merged as the root of the sum of squares: the step's sign is lost.
        StepCase{"PrewittEdgeRows", MakeFilter<TPrewittEdgeFilter>, false, 30, 30},
        StepCase{"PrewittEdgeColumns", MakeFilter<TPrewittEdgeFilter>, true, 30, 30},
        StepCase{"SobelEdgeRows", MakeFilter<TSobelEdgeFilter>, false, 40, 40},
        StepCase{"SobelEdgeColumns", MakeFilter<TSobelEdgeFilter>, true, 40, 40},
        // Line masks see a step as half a line: -1 x 10 per row of three, on the bright side.
        StepCase{"LineMaskHorizontal", MakeFilter<TLineMaskHorizontalFilter>, false, 30, 0},
        StepCase{"LineMaskVertical", MakeFilter<TLineMaskVerticalFilter>, true, 30, 0},
        StepCase{"LineMaskRows", MakeFilter<TLineMaskFilter>, false, 30, 30},
        StepCase{"LineMaskColumns", MakeFilter<TLineMaskFilter>, true, 30, 30}),
    [](const testing::TestParamInfo<StepCase>& row) { return row.param.name; });

TEST(Emboss, ResultIsGreyOfTheDiagonalDifferencePlus127) {
  // Up-left neighbour minus down-right neighbour, plus 127, per channel; then grey.
  TBitmap source(3, 3);
  Fill(source, Rgb(0, 0, 0));
  PixelAt(source, 0, 0)[2] = 100;  // red 100 up-left of the centre
  PixelAt(source, 2, 2)[1] = 60;   // green 60 down-right of it
  TBitmap target;
  TEmbossFilter emboss(nullptr);
  ASSERT_TRUE(emboss.Apply(&target, &source));
  // Channels red 227, green 67, blue 127: (30 x 227 + 59 x 67 + 11 x 127) div 100 = 121.
  EXPECT_EQ(ColorAt(target, 1, 1), Rgb(121, 121, 121));
}

// ---------------------------------------------------------------------------------------------
// Kernel-less filters against a plain picture-coordinate reference on random pictures

// A picture as rows from the top, 4 bytes a pixel.
struct Picture {
  int w = 0;
  int h = 0;
  std::vector<TPixel> p;
  TPixel& at(int x, int y) { return p[static_cast<std::size_t>(y * w + x)]; }
  const TPixel& at(int x, int y) const { return p[static_cast<std::size_t>(y * w + x)]; }
  bool inside(int x, int y) const { return x >= 0 && x < w && y >= 0 && y < h; }
};

Picture Read(TBitmap& b) {
  Picture pic{b.Width(), b.Height(), {}};
  for (int y = 0; y < pic.h; ++y) {
    for (int x = 0; x < pic.w; ++x) pic.p.push_back(PixelOf(b, x, y));
  }
  return pic;
}

int Lum(const TPixel& p) {
  return (30 * p[2] + 59 * p[1] + 11 * p[0]) / 100;
}

struct Pos {
  int x, y;
  bool operator==(const Pos&) const = default;
};

// Window of (x, y) for box s, in window order: s div 2 columns left, (s - 1) div 2 right,
// (s - 1) div 2 rows above, s div 2 below; rows from the top, each from the left.
std::vector<Pos> WindowOf(int x, int y, int s) {
  std::vector<Pos> positions;
  for (int yy = y - (s - 1) / 2; yy <= y + s / 2; ++yy) {
    for (int xx = x - s / 2; xx <= x + (s - 1) / 2; ++xx) positions.push_back({xx, yy});
  }
  return positions;
}

void SetColour(TPixel& dst, int r, int g, int b) {
  dst[2] = static_cast<uint8_t>(r);
  dst[1] = static_cast<uint8_t>(g);
  dst[0] = static_cast<uint8_t>(b);
}

// The average with positions outside counting as `stand`, stored into dst's colour bytes.
void Average(const Picture& src, const std::vector<Pos>& window, Pos stand, TPixel& dst) {
  int r = 0, g = 0, b = 0;
  for (Pos q : window) {
    const TPixel& s = src.inside(q.x, q.y) ? src.at(q.x, q.y) : src.at(stand.x, stand.y);
    r += s[2];
    g += s[1];
    b += s[0];
  }
  const int n = static_cast<int>(window.size());
  SetColour(dst, r / n, g / n, b / n);
}

// A reference is given the source as the pass sees it (luminance in byte 3 where the filter
// stores it; the reference computes luminance itself) and the destination's previous content.
struct Params {
  int s;
  int hysteresis;
};
using Reference = std::function<void(const Picture& src, Picture& dst, Params)>;

void RefMosaic(const Picture& src, Picture& dst, Params k) {
  for (int y = 0; y < src.h; ++y) {
    for (int x = 0; x < src.w; ++x) {
      const int stored = src.h - 1 - y;
      if (x % k.s != 0 || stored % k.s != 0) continue;
      const auto window = WindowOf(x, y, k.s);
      TPixel tile = dst.at(x, y);
      Average(src, window, {x, y}, tile);
      for (Pos q : window) {
        if (dst.inside(q.x, q.y)) dst.at(q.x, q.y) = tile;
      }
    }
  }
}

template <bool kMinimum>
void RefExtreme(const Picture& src, Picture& dst, Params k) {
  for (int y = 0; y < src.h; ++y) {
    for (int x = 0; x < src.w; ++x) {
      TPixel best = src.at(x, y);
      for (Pos q : WindowOf(x, y, k.s)) {
        if (!src.inside(q.x, q.y)) continue;
        const int l = Lum(src.at(q.x, q.y));
        if (kMinimum ? l < Lum(best) : l > Lum(best)) best = src.at(q.x, q.y);
      }
      dst.at(x, y) = best;
    }
  }
}

template <bool kNearer>
void RefBoundary(const Picture& src, Picture& dst, Params k) {
  for (int y = 0; y < src.h; ++y) {
    for (int x = 0; x < src.w; ++x) {
      const TPixel centre = src.at(x, y);
      TPixel dark = centre, bright = centre;
      const auto window = WindowOf(x, y, k.s);
      for (Pos q : window) {
        if (!src.inside(q.x, q.y)) continue;
        if (Lum(src.at(q.x, q.y)) < Lum(dark)) dark = src.at(q.x, q.y);
        if (Lum(src.at(q.x, q.y)) > Lum(bright)) bright = src.at(q.x, q.y);
      }
      const int ld = Lum(dark), lb = Lum(bright), lc = Lum(centre);
      if (lb - ld > k.hysteresis) {
        const bool takeDark = kNearer ? lc - ld < lb - lc : lc - ld > lb - lc;
        dst.at(x, y) = takeDark ? dark : bright;
      } else {
        Average(src, window, {x, y}, dst.at(x, y));
      }
    }
  }
}

void RefMedian(const Picture& src, Picture& dst, Params k) {
  for (int y = 0; y < src.h; ++y) {
    for (int x = 0; x < src.w; ++x) {
      std::vector<TPixel> list;
      for (Pos q : WindowOf(x, y, k.s)) {
        list.push_back(src.inside(q.x, q.y) ? src.at(q.x, q.y) : src.at(x, y));
      }
      std::stable_sort(list.begin(), list.end(),
                       [](const TPixel& a, const TPixel& b) { return Lum(a) > Lum(b); });
      dst.at(x, y) = list[list.size() / 2];
    }
  }
}

// Arm extremes as positions; every arm starts at the centre.
struct Arms {
  std::array<Pos, 4> darkest;
  std::array<Pos, 4> brightest;
};

Arms ScanArms(const Picture& src, int x, int y, int s) {
  std::array<std::vector<Pos>, 4> arms;
  for (int yy = y - (s - 1) / 2; yy < y; ++yy) arms[0].push_back({x, yy});       // up
  for (int yy = y + 1; yy <= y + s / 2; ++yy) arms[1].push_back({x, yy});        // down
  for (int xx = x - s / 2; xx < x; ++xx) arms[2].push_back({xx, y});             // left
  for (int xx = x + 1; xx <= x + (s - 1) / 2; ++xx) arms[3].push_back({xx, y});  // right
  Arms result;
  for (std::size_t a = 0; a < 4; ++a) {
    Pos lo{x, y}, hi{x, y};
    for (Pos q : arms[a]) {
      if (!src.inside(q.x, q.y)) continue;
      const int l = Lum(src.at(q.x, q.y));
      if (l < Lum(src.at(lo.x, lo.y))) lo = q;
      if (l > Lum(src.at(hi.x, hi.y))) hi = q;
    }
    result.darkest[a] = lo;
    result.brightest[a] = hi;
  }
  return result;
}

Pos RefBrightChoice(const Picture& src, const Arms& arms) {
  auto l = [&](Pos q) { return Lum(src.at(q.x, q.y)); };
  Pos r = arms.darkest[0];
  if (l(arms.darkest[1]) > l(r)) r = arms.darkest[1];
  if (l(arms.darkest[2]) > l(r)) r = arms.darkest[2];
  if (l(arms.darkest[3]) >= l(r)) r = arms.darkest[3];
  return r;
}

Pos RefDarkChoice(const Picture& src, const Arms& arms) {
  auto l = [&](Pos q) { return Lum(src.at(q.x, q.y)); };
  Pos r = arms.brightest[0];
  if (l(arms.brightest[1]) < l(r)) r = arms.brightest[1];
  if (l(arms.brightest[2]) < l(r)) r = arms.brightest[2];
  if (l(arms.brightest[3]) <= l(r)) r = arms.brightest[3];
  return r;
}

template <int kKind>  // 0 bright, 1 dark, 2 both
void RefDegrain(const Picture& src, Picture& dst, Params k) {
  for (int y = 0; y < src.h; ++y) {
    for (int x = 0; x < src.w; ++x) {
      const Arms arms = ScanArms(src, x, y, k.s);
      Pos chosen = kKind == 0 ? RefBrightChoice(src, arms) : RefDarkChoice(src, arms);
      if (kKind == 2 && chosen == Pos{x, y}) chosen = RefBrightChoice(src, arms);
      dst.at(x, y) = src.at(chosen.x, chosen.y);
    }
  }
}

struct KernelLessCase {
  std::string name;
  TFilterFactory make;
  Reference reference;
  bool storesLuminance;
};

void Configure(TImageBaseFilter& filter, Params k) {
  dynamic_cast<TWithoutKernelBaseFilter&>(filter).SetSamplingBox(static_cast<uint16_t>(k.s));
  if (auto* boundary = dynamic_cast<TBoundaryBaseFilter*>(&filter)) {
    boundary->SetHysteresis(static_cast<uint8_t>(k.hysteresis));
  }
}

// Colours of five luminances, several colours to each, so that samples of equal luminance
// but different colour are frequent and every tie rule shows in the result.
void FillTies(TBitmap& bitmap, std::mt19937& random) {
  static constexpr TColor kPalette[] = {0x000000, 0x1E1E1E, 0x000064, 0x093200,
                                        0x001933,  // luminance 0, then 30 (four)
                                        0x646464, 0x0028FF, 0x33A000,             // 100
                                        0xC8C8C8, 0x00D2FF, 0x2AFF96, 0xFFFFFF};  // 200, then 255
  std::uniform_int_distribution<std::size_t> pick(0, std::size(kPalette) - 1);
  std::uniform_int_distribution<int> any(0, 255);
  for (int y = 0; y < bitmap.Height(); ++y) {
    for (int x = 0; x < bitmap.Width(); ++x) {
      bitmap.Canvas().SetPixel(x, y, kPalette[pick(random)]);
      PixelAt(bitmap, x, y)[3] = static_cast<uint8_t>(any(random));
    }
  }
}

class KernelLessFilter : public testing::TestWithParam<KernelLessCase> {};

TEST_P(KernelLessFilter, MatchesThePlainReferenceOnRandomPictures) {
  const KernelLessCase& c = GetParam();
  std::mt19937 random(1234);
  std::uniform_int_distribution<int> hysteresis(0, 60);
  const std::array<std::array<int, 2>, 6> sizes{{{1, 1}, {2, 3}, {7, 5}, {9, 4}, {1, 6}, {5, 1}}};
  for (const auto& size : sizes) {
    for (int s = 1; s <= 6; ++s) {
      const Params k{s, hysteresis(random)};
      TBitmap source(size[0], size[1]);
      FillTies(source, random);
      TBitmap target(size[0], size[1]);
      FillTies(target, random);  // byte 3 of the target shows which pixels were written
      Picture src = Read(source);
      if (c.storesLuminance) {
        for (TPixel& p : src.p) p[3] = static_cast<uint8_t>(Lum(p));
      }
      Picture expected = Read(target);
      c.reference(src, expected, k);
      auto filter = c.make(nullptr);
      Configure(*filter, k);
      ASSERT_TRUE(filter->Apply(&target, &source));
      SCOPED_TRACE(testing::Message() << size[0] << " x " << size[1] << ", box " << s
                                      << ", hysteresis " << k.hysteresis);
      const Picture out = Read(target);
      const Picture in = Read(source);
      for (int y = 0; y < out.h; ++y) {
        for (int x = 0; x < out.w; ++x) {
          ASSERT_EQ(out.at(x, y), expected.at(x, y)) << "target at " << x << "," << y;
          ASSERT_EQ(in.at(x, y), src.at(x, y)) << "source at " << x << "," << y;
        }
      }
    }
  }
}

TEST_P(KernelLessFilter, BoxOfZeroRefusesAndLeavesBothPicturesAlone) {
  TBitmap source(4, 3);
  test::FillRandom(source, 7);
  TBitmap target(2, 2);
  Fill(target, Rgb(1, 2, 3));
  const Picture before = Read(source);
  auto filter = GetParam().make(nullptr);
  Configure(*filter, {0, 3});
  EXPECT_FALSE(filter->Apply(&target, &source));
  EXPECT_EQ(target.Width(), 2);
  EXPECT_EQ(ColorAt(target, 1, 1), Rgb(1, 2, 3));
  EXPECT_EQ(Read(source).p, before.p);
  // Called directly, the pass writes nothing either.
  TBitmap same(4, 3);
  Fill(same, Rgb(9, 9, 9));
  filter->ApplyKernel(same.Bits(), source.Bits(), 4, 3);
  EXPECT_EQ(ColorAt(same, 2, 1), Rgb(9, 9, 9));
}

INSTANTIATE_TEST_SUITE_P(
    Catalogue, KernelLessFilter,
    testing::Values(
        KernelLessCase{"Mosaic", MakeFilter<TMosaicFilter>, RefMosaic, false},
        KernelLessCase{"Minimum", MakeFilter<TMinimumFilter>, RefExtreme<true>, true},
        KernelLessCase{"Maximum", MakeFilter<TMaximumFilter>, RefExtreme<false>, true},
        KernelLessCase{"MaxMin", MakeFilter<TMaxMinFilter>, RefBoundary<true>, true},
        KernelLessCase{"MinMax", MakeFilter<TMinMaxFilter>, RefBoundary<false>, true},
        KernelLessCase{"Median", MakeFilter<TMedianFilter>, RefMedian, true},
        KernelLessCase{"DegrainBright", MakeFilter<TDegrainBrightFilter>, RefDegrain<0>, true},
        KernelLessCase{"DegrainDark", MakeFilter<TDegrainDarkFilter>, RefDegrain<1>, true},
        KernelLessCase{"Degrain", MakeFilter<TDegrainFilter>, RefDegrain<2>, true}),
    [](const testing::TestParamInfo<KernelLessCase>& row) { return row.param.name; });

// ---------------------------------------------------------------------------------------------
// Kernel-less rules by example

// Three different colours of luminance 30, and a 3 x 3 picture of `ground` with them placed.
constexpr TColor kRed30 = 0x000064;    // red 100
constexpr TColor kGreen30 = 0x093200;  // green 50, blue 9
constexpr TColor kBrown30 = 0x001933;  // red 51, green 25

TColor CentreAfter(TImageBaseFilter& filter, TColor ground,
                   std::initializer_list<std::pair<int, TColor>> placed) {
  TBitmap source(3, 3);
  Fill(source, ground);
  for (const auto& [index, colour] : placed) source.Canvas().SetPixel(index % 3, index / 3, colour);
  TBitmap target;
  EXPECT_TRUE(filter.Apply(&target, &source));
  return ColorAt(target, 1, 1);
}

TEST(MinimumAndMaximum, TiesGoToTheCentreThenToTheFirstInWindowOrder) {
  TMinimumFilter minimum(nullptr);
  // Window order is row by row from the top: index 4 is the centre.
  EXPECT_EQ(CentreAfter(minimum, clWhite, {{0, kGreen30}, {4, kRed30}, {8, kBrown30}}), kRed30);
  EXPECT_EQ(CentreAfter(minimum, clWhite, {{2, kBrown30}, {6, kGreen30}}), kBrown30);
  EXPECT_EQ(CentreAfter(minimum, clWhite, {{6, kGreen30}, {7, kBrown30}}), kGreen30);
  TMaximumFilter maximum(nullptr);
  EXPECT_EQ(CentreAfter(maximum, clBlack, {{0, kGreen30}, {4, kRed30}, {8, kBrown30}}), kRed30);
  EXPECT_EQ(CentreAfter(maximum, clBlack, {{2, kBrown30}, {6, kGreen30}}), kBrown30);
  EXPECT_EQ(CentreAfter(maximum, clBlack, {{3, kRed30}, {5, kGreen30}}), kRed30);
}

TEST(BoundaryFilters, HysteresisOf255AlwaysStoresTheBoxAverage) {
  TBitmap source(6, 5);
  test::FillRandom(source, 99);
  const Picture src = Read(source);
  for (TFilterFactory make : {MakeFilter<TMaxMinFilter>, MakeFilter<TMinMaxFilter>}) {
    auto filter = make(nullptr);
    dynamic_cast<TBoundaryBaseFilter&>(*filter).SetHysteresis(255);
    TBitmap target;
    ASSERT_TRUE(filter->Apply(&target, &source));
    for (int y = 0; y < 5; ++y) {
      for (int x = 0; x < 6; ++x) {
        TPixel expected{};
        Average(src, WindowOf(x, y, 3), {x, y}, expected);
        const TPixel got = PixelOf(target, x, y);
        ASSERT_TRUE(std::equal(got.begin(), got.begin() + 3, expected.begin()))
            << filter->ClassName() << " at " << x << "," << y;
      }
    }
    EXPECT_EQ(filter->ScaleFactor(), 9);
  }
}

TEST(BoundaryFilters, PickTheNearerOrTheFartherExtremeAboveTheHysteresis) {
  // Centre grey 100 between a darkest 40 and a brightest 200: the dark one is nearer.
  const TColor grey100 = Rgb(100, 100, 100), dark = Rgb(40, 40, 40), bright = Rgb(200, 200, 200);
  TMaxMinFilter maxMin(nullptr);
  TMinMaxFilter minMax(nullptr);
  EXPECT_EQ(CentreAfter(maxMin, grey100, {{0, dark}, {8, bright}}), dark);
  EXPECT_EQ(CentreAfter(minMax, grey100, {{0, dark}, {8, bright}}), bright);
  // Equally far: both take the bright one.
  const TColor bright160 = Rgb(160, 160, 160);
  EXPECT_EQ(CentreAfter(maxMin, grey100, {{0, dark}, {8, bright160}}), bright160);
  EXPECT_EQ(CentreAfter(minMax, grey100, {{0, dark}, {8, bright160}}), bright160);
  // A spread of exactly Hysteresis is not above it: the average of 7 x 100 + 97 + 103 is 100.
  maxMin.SetHysteresis(6);
  EXPECT_EQ(CentreAfter(maxMin, grey100, {{0, Rgb(97, 97, 97)}, {8, Rgb(103, 103, 103)}}), grey100);
}

TEST(BoundaryFilters, HysteresisIsAnnouncedAndCopiedWithTheBox) {
  TMaxMinFilter source(nullptr);
  EXPECT_EQ(source.Hysteresis(), 3);
  ChangeCounter sourceChanges(source);
  source.SetHysteresis(3);
  EXPECT_EQ(sourceChanges.count, 0);
  source.SetHysteresis(20);
  source.SetSamplingBox(5);
  EXPECT_EQ(sourceChanges.count, 2);

  TMinMaxFilter target(nullptr);
  ChangeCounter targetChanges(target);
  target.Assign(&source);
  EXPECT_EQ(target.Hysteresis(), 20);
  EXPECT_EQ(target.SamplingBox(), 5);
  EXPECT_EQ(targetChanges.count, 1);
  target.Assign(&source);
  EXPECT_EQ(targetChanges.count, 1);
}

TEST(Mosaic, TilesAreCutAtTheLeftAndBottomEdges) {
  // 5 x 5, box 3: anchors at columns 0 and 3 and stored rows 0 and 3 (picture rows 4 and 1).
  TBitmap source(5, 5);
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 5; ++x) source.Canvas().SetPixel(x, y, Rgb(10 * x + 2 * y, 0, 0));
  }
  TMosaicFilter mosaic(nullptr);
  ChangeCounter changes(mosaic);
  TBitmap target;
  ASSERT_TRUE(mosaic.Apply(&target, &source));
  auto red = [&](int x, int y) { return static_cast<int>(PixelAt(target, x, y)[2]); };
  // Bottom-left tile: columns 0-1, rows 3-4; five positions outside count as the anchor (0, 4).
  const int bottomLeft = (6 + 16 + 8 + 18 + 5 * 8) / 9;
  // Top-right tile: columns 2-4, rows 0-2, wholly inside.
  const int topRight = (3 * (20 + 30 + 40) + 3 * (0 + 2 + 4)) / 9;
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 5; ++x) {
      if (x <= 1 && y >= 3) {
        EXPECT_EQ(red(x, y), bottomLeft) << x << "," << y;
      } else if (x >= 2 && y <= 2) {
        EXPECT_EQ(red(x, y), topRight) << x << "," << y;
      }
    }
  }
  EXPECT_NE(red(1, 2), red(1, 3));
  EXPECT_NE(red(1, 0), red(2, 0));
  EXPECT_EQ(mosaic.ScaleFactor(), 9);
  EXPECT_EQ(changes.count, 0);
}

TEST(DegrainFamily, BoxesOf1And2LeaveThePictureUnchanged) {
  for (int s : {1, 2}) {
    for (TFilterFactory make : {MakeFilter<TDegrainBrightFilter>, MakeFilter<TDegrainDarkFilter>,
                                MakeFilter<TDegrainFilter>}) {
      TBitmap source(7, 6);
      test::FillRandom(source, static_cast<uint32_t>(s));
      auto filter = make(nullptr);
      Configure(*filter, {s, 0});
      TBitmap target;
      ASSERT_TRUE(filter->Apply(&target, &source));
      for (int y = 0; y < 6; ++y) {
        for (int x = 0; x < 7; ++x) {
          ASSERT_EQ(ColorAt(target, x, y), ColorAt(source, x, y))
              << filter->ClassName() << " box " << s << " at " << x << "," << y;
        }
      }
    }
  }
}

// Whether filter turns a 7 x 7 ground with one speck in the middle into plain ground.
bool RemovesSpeck(TFilterFactory make, TColor ground, TColor speck) {
  TBitmap source(7, 7);
  Fill(source, ground);
  source.Canvas().SetPixel(3, 3, speck);
  auto filter = make(nullptr);
  TBitmap target;
  EXPECT_TRUE(filter->Apply(&target, &source));
  for (int y = 0; y < 7; ++y) {
    for (int x = 0; x < 7; ++x) {
      if (ColorAt(target, x, y) != ground) return false;
    }
  }
  return true;
}

TEST(Specks, BrightOnesFallUnderMedianDegrainBrightAndDegrain) {
  const TColor ground = Rgb(20, 30, 40), speck = Rgb(240, 230, 220);
  EXPECT_TRUE(RemovesSpeck(MakeFilter<TMedianFilter>, ground, speck));
  EXPECT_TRUE(RemovesSpeck(MakeFilter<TDegrainBrightFilter>, ground, speck));
  EXPECT_TRUE(RemovesSpeck(MakeFilter<TDegrainFilter>, ground, speck));
  EXPECT_FALSE(RemovesSpeck(MakeFilter<TDegrainDarkFilter>, ground, speck));
}

TEST(Specks, DarkOnesRiseUnderDegrainDarkAndDegrain) {
  const TColor ground = Rgb(200, 190, 180), speck = Rgb(5, 0, 10);
  EXPECT_TRUE(RemovesSpeck(MakeFilter<TDegrainDarkFilter>, ground, speck));
  EXPECT_TRUE(RemovesSpeck(MakeFilter<TDegrainFilter>, ground, speck));
  EXPECT_FALSE(RemovesSpeck(MakeFilter<TDegrainBrightFilter>, ground, speck));
}

}  // namespace
}  // namespace ombrix
