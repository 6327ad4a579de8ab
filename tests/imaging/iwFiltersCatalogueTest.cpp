#include "iwFiltersCatalogue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "TestPictures.h"
#include "iwProcess.h"

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
// Fixed kernels

// The colour every pixel of a uniform 7 x 5 picture of red 120, green 60, blue 200 takes
// (an odd size, so that every border case occurs), and a message naming the filter.
void ExpectUniformResult(TFilterFactory make, TColor expected) {
  TBitmap source(7, 5);
  Fill(source, Rgb(120, 60, 200));
  TBitmap target;
  auto filter = make(nullptr);
  ASSERT_TRUE(filter->Apply(&target, &source));
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 7; ++x) {
      ASSERT_EQ(ColorAt(target, x, y), expected) << filter->ClassName() << " at " << x << "," << y;
    }
  }
}

// The published definition of every ready-made filter as a new instance has it: the kernels as
// rows from the top separated by "/", several kernels separated by "then" (array order), the
// scale factor and the bias. Several kernels merge by root of squares, one by sum. The
// kernel-less filters have no values and a 3 x 3 box.
struct CatalogueRow {
  const char* name;  // the registered name, also the row's test name without spaces
  const char* className;
  const char* kernels;
  int32_t scaleFactor;
  int32_t bias;
};

// clang-format off
const CatalogueRow kCatalogue[] = {
    {"Average", "TAverageFilter", "1 1 1 / 1 1 1 / 1 1 1", 9, 0},
    {"Average More", "TAverageMoreFilter",
     "1 1 1 1 1 / 1 1 1 1 1 / 1 1 1 1 1 / 1 1 1 1 1 / 1 1 1 1 1", 25, 0},
    {"Blur", "TBlurFilter", "1 2 1 / 2 2 2 / 1 2 1", 14, 0},
    {"Blur More", "TBlurMoreFilter",
     "0 1 1 1 0 / 1 2 2 2 1 / 1 2 4 2 1 / 1 2 2 2 1 / 0 1 1 1 0", 32, 0},
    {"Low Pass", "TLowPassFilter", "1 2 1 / 2 4 2 / 1 2 1", 16, 0},
    {"Smooth", "TSmoothFilter", "1 1 1 / 1 3 1 / 1 1 1", 12, 0},
    {"Smooth Circle", "TSmoothCircleFilter",
     "0 1 1 1 0 / 1 1 1 1 1 / 1 1 1 1 1 / 1 1 1 1 1 / 0 1 1 1 0", 21, 0},
    {"Smooth Cone", "TSmoothConeFilter",
     "0 0 1 0 0 / 0 2 2 2 0 / 1 2 5 2 1 / 0 2 2 2 0 / 0 0 1 0 0", 25, 0},
    {"Smooth Pyramidal", "TSmoothPyramidalFilter",
     "1 2 3 2 1 / 2 4 6 4 2 / 3 6 9 6 3 / 2 4 6 4 2 / 1 2 3 2 1", 81, 0},
    {"Sharpen", "TSharpenFilter", "0 -1 0 / -1 5 -1 / 0 -1 0", 1, 0},
    {"Sharpen More", "TSharpenMoreFilter", "-1 -1 -1 / -1 9 -1 / -1 -1 -1", 1, 0},
    {"High Pass", "THighPassFilter", "-1 -1 -1 / -1 8 -1 / -1 -1 -1", 1, 0},
    {"Laplacian", "TLaplacianFilter", "0 1 0 / 1 -4 1 / 0 1 0", 1, 0},
    {"Edge", "TEdgeFilter", "-1 -2 -1 / -2 12 -2 / -1 -2 -1", 1, 0},
    {"Prewitt North South", "TPrewittNorthSouthFilter", "1 1 1 / 0 0 0 / -1 -1 -1", 1, 0},
    {"Prewitt South North", "TPrewittSouthNorthFilter", "-1 -1 -1 / 0 0 0 / 1 1 1", 1, 0},
    {"Prewitt East West", "TPrewittEastWestFilter", "1 0 -1 / 1 0 -1 / 1 0 -1", 1, 0},
    {"Prewitt West East", "TPrewittWestEastFilter", "-1 0 1 / -1 0 1 / -1 0 1", 1, 0},
    {"Prewitt Edge", "TPrewittEdgeFilter",
     "1 1 1 / 0 0 0 / -1 -1 -1 then 1 0 -1 / 1 0 -1 / 1 0 -1", 1, 0},
    {"Sobel North South", "TSobelNorthSouthFilter", "1 2 1 / 0 0 0 / -1 -2 -1", 1, 0},
    {"Sobel South North", "TSobelSouthNorthFilter", "-1 -2 -1 / 0 0 0 / 1 2 1", 1, 0},
    {"Sobel East West", "TSobelEastWestFilter", "1 0 -1 / 2 0 -2 / 1 0 -1", 1, 0},
    {"Sobel West East", "TSobelWestEastFilter", "-1 0 1 / -2 0 2 / -1 0 1", 1, 0},
    {"Sobel Edge", "TSobelEdgeFilter",
     "1 2 1 / 0 0 0 / -1 -2 -1 then -1 0 1 / -2 0 2 / -1 0 1", 1, 0},
    {"Line Mask Vertical", "TLineMaskVerticalFilter", "-1 2 -1 / -1 2 -1 / -1 2 -1", 1, 0},
    {"Line Mask Horizontal", "TLineMaskHorizontalFilter", "-1 -1 -1 / 2 2 2 / -1 -1 -1", 1, 0},
    {"Line Mask", "TLineMaskFilter",
     "-1 2 -1 / -1 2 -1 / -1 2 -1 then -1 -1 -1 / 2 2 2 / -1 -1 -1", 1, 0},
    {"Emboss", "TEmbossFilter", "1 0 0 / 0 0 0 / 0 0 -1", 1, 127},
    {"Emboss Color", "TEmbossColorFilter", "2 0 0 / 0 1 0 / 0 0 -2", 1, 0},
    {"Mosaic", "TMosaicFilter", "", 0, 0},
    {"Minimum", "TMinimumFilter", "", 0, 0},
    {"Maximum", "TMaximumFilter", "", 0, 0},
    {"Max Min", "TMaxMinFilter", "", 0, 0},
    {"Min Max", "TMinMaxFilter", "", 0, 0},
    {"Median", "TMedianFilter", "", 0, 0},
    {"Degrain Bright", "TDegrainBrightFilter", "", 0, 0},
    {"Degrain Dark", "TDegrainDarkFilter", "", 0, 0},
    {"Degrain", "TDegrainFilter", "", 0, 0},
};
// clang-format on

// The kernels of a row as kernels of rows of values.
std::vector<std::vector<std::vector<int32_t>>> ParseKernels(const std::string& text) {
  std::vector<std::vector<std::vector<int32_t>>> kernels;
  std::istringstream words(text);
  std::string word;
  if (!text.empty()) kernels.push_back({{}});
  while (words >> word) {
    if (word == "then") {
      kernels.push_back({{}});
    } else if (word == "/") {
      kernels.back().push_back({});
    } else {
      kernels.back().back().push_back(std::stoi(word));
    }
  }
  return kernels;
}

class Catalogue : public testing::TestWithParam<CatalogueRow> {};

TEST_P(Catalogue, ANewFilterChosenByNameHoldsItsPublishedDefinition) {
  const CatalogueRow& row = GetParam();
  TImageWork work;
  work.SetFilterName(row.name);
  const TImageBaseFilter& f = *work.Filter();
  EXPECT_STREQ(f.ClassName(), row.className);
  EXPECT_EQ(f.ScaleFactor(), row.scaleFactor);
  EXPECT_EQ(f.Bias(), row.bias);

  const auto kernels = ParseKernels(row.kernels);
  if (kernels.empty()) {
    EXPECT_EQ(f.KernelCount(), 0);
    EXPECT_EQ(f.KernelWidth(), 3);
    EXPECT_EQ(f.KernelHeight(), 3);
    EXPECT_EQ(f.KernelMergeOp(), opSUM);
    if (const auto* boundary = dynamic_cast<const TBoundaryBaseFilter*>(&f)) {
      EXPECT_EQ(boundary->Hysteresis(), 3);
    }
    return;
  }
  ASSERT_EQ(f.KernelCount(), kernels.size());
  ASSERT_EQ(f.KernelHeight(), kernels[0].size());
  ASSERT_EQ(f.KernelWidth(), kernels[0][0].size());
  EXPECT_EQ(f.KernelMergeOp(), kernels.size() > 1 ? opRMS : opSUM);
  for (std::size_t k = 0; k < kernels.size(); ++k) {
    ASSERT_EQ(kernels[k].size(), f.KernelHeight()) << "kernel " << k + 1;
    for (std::size_t r = 0; r < kernels[k].size(); ++r) {
      ASSERT_EQ(kernels[k][r].size(), f.KernelWidth()) << "kernel " << k + 1 << " row " << r + 1;
      for (std::size_t c = 0; c < kernels[k][r].size(); ++c) {
        EXPECT_EQ(f.GetKernelValue(static_cast<uint16_t>(k + 1), static_cast<uint16_t>(r + 1),
                                   static_cast<uint16_t>(c + 1)),
                  kernels[k][r][c])
            << "kernel " << k + 1 << " row " << r + 1 << " column " << c + 1;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Definitions, Catalogue, testing::ValuesIn(kCatalogue),
                         [](const testing::TestParamInfo<CatalogueRow>& row) {
                           std::string name = row.param.name;
                           std::erase(name, ' ');
                           return name;
                         });

TEST(FixedKernels, UniformPictureIsKeptBySmoothingAndBlackenedByEdgeDetectors) {
  for (TFilterFactory make :
       {MakeFilter<TAverageFilter>, MakeFilter<TAverageMoreFilter>, MakeFilter<TBlurFilter>,
        MakeFilter<TBlurMoreFilter>, MakeFilter<TLowPassFilter>, MakeFilter<TSmoothCircleFilter>,
        MakeFilter<TSmoothConeFilter>, MakeFilter<TSmoothPyramidalFilter>,
        MakeFilter<TSharpenFilter>, MakeFilter<TSharpenMoreFilter>,
        MakeFilter<TEmbossColorFilter>}) {
    ExpectUniformResult(make, Rgb(120, 60, 200));
  }
  for (TFilterFactory make :
       {MakeFilter<THighPassFilter>, MakeFilter<TLaplacianFilter>, MakeFilter<TEdgeFilter>,
        MakeFilter<TPrewittNorthSouthFilter>, MakeFilter<TPrewittSouthNorthFilter>,
        MakeFilter<TPrewittEastWestFilter>, MakeFilter<TPrewittWestEastFilter>,
        MakeFilter<TPrewittEdgeFilter>, MakeFilter<TSobelNorthSouthFilter>,
        MakeFilter<TSobelSouthNorthFilter>, MakeFilter<TSobelEastWestFilter>,
        MakeFilter<TSobelWestEastFilter>, MakeFilter<TSobelEdgeFilter>,
        MakeFilter<TLineMaskVerticalFilter>, MakeFilter<TLineMaskHorizontalFilter>,
        MakeFilter<TLineMaskFilter>}) {
    ExpectUniformResult(make, 0);
  }
  // Smooth's weights sum to 11 over a scale of 12: 120 -> 110, 60 -> 55, 200 -> 183.
  ExpectUniformResult(MakeFilter<TSmoothFilter>, Rgb(110, 55, 183));
  ExpectUniformResult(MakeFilter<TEmbossFilter>, Rgb(127, 127, 127));
}

TEST(FixedKernels, EdgeDetectorsLightTheirOwnSideOfAStep) {
  // Rows 0-2 grey 20 over rows 3-5 grey 10; columns 1-4 avoid the border's centre rule.
  TBitmap source(6, 6);
  Fill(source, Rgb(20, 20, 20));
  source.Canvas().Brush.Color = Rgb(10, 10, 10);
  source.Canvas().FillRect({0, 3, 6, 6});
  auto rowAfter = [&](TFilterFactory make, int y) {
    TBitmap target;
    make(nullptr)->Apply(&target, &source);
    return static_cast<int>(PixelAt(target, 2, y)[1]);
  };
  // Light where the row above is brighter than the row below, black otherwise.
  EXPECT_EQ(rowAfter(MakeFilter<TPrewittNorthSouthFilter>, 2), 30);
  EXPECT_EQ(rowAfter(MakeFilter<TPrewittNorthSouthFilter>, 0), 0);
  EXPECT_EQ(rowAfter(MakeFilter<TPrewittSouthNorthFilter>, 2), 0);
  EXPECT_EQ(rowAfter(MakeFilter<TSobelNorthSouthFilter>, 3), 40);
  EXPECT_EQ(rowAfter(MakeFilter<TSobelEastWestFilter>, 3), 0);
  // Two masks merged by the root of the sum of squares keep a negative response: the line
  // masks give -30 on the dark side of the step, which alone clamps to 0.
  EXPECT_EQ(rowAfter(MakeFilter<TSobelEdgeFilter>, 3), 40);
  EXPECT_EQ(rowAfter(MakeFilter<TLineMaskHorizontalFilter>, 3), 0);
  EXPECT_EQ(rowAfter(MakeFilter<TLineMaskFilter>, 3), 30);
}

TEST(FixedKernels, EmbossIsTheGreyOfTheDiagonalDifferencePlus127) {
  TBitmap source(3, 3);
  Fill(source, 0);
  PixelAt(source, 0, 0)[2] = 100;  // red 100 up-left of the centre
  PixelAt(source, 2, 2)[1] = 60;   // green 60 down-right of it
  TBitmap target;
  ASSERT_TRUE(TEmbossFilter(nullptr).Apply(&target, &source));
  // Red 227, green 67, blue 127: (30 x 227 + 59 x 67 + 11 x 127) div 100 = 121.
  EXPECT_EQ(ColorAt(target, 1, 1), Rgb(121, 121, 121));
}

// ---------------------------------------------------------------------------------------------
// Kernel-less filters against a plain picture-coordinate reference on random pictures

struct Pos {
  int x, y;
  bool operator==(const Pos&) const = default;
};

// A picture as rows from the top, 4 bytes a pixel.
struct Picture {
  int w = 0, h = 0;
  std::vector<TPixel> p;
  bool inside(Pos q) const { return q.x >= 0 && q.x < w && q.y >= 0 && q.y < h; }
  TPixel& at(Pos q) { return p[static_cast<std::size_t>(q.y * w + q.x)]; }
  const TPixel& at(Pos q) const { return p[static_cast<std::size_t>(q.y * w + q.x)]; }
  // The pixel at q, or at `stand` when q lies outside.
  const TPixel& at(Pos q, Pos stand) const { return at(inside(q) ? q : stand); }
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

// The window of box s in window order: s div 2 columns left, (s - 1) div 2 right,
// (s - 1) div 2 rows above, s div 2 below; rows from the top, each from the left.
std::vector<Pos> WindowOf(Pos c, int s) {
  std::vector<Pos> window;
  for (int y = c.y - (s - 1) / 2; y <= c.y + s / 2; ++y) {
    for (int x = c.x - s / 2; x <= c.x + (s - 1) / 2; ++x) window.push_back({x, y});
  }
  return window;
}

// The colour bytes of dst become the window's average, positions outside counting as stand.
void Average(const Picture& src, Pos stand, int s, TPixel& dst) {
  std::array<int, 3> sum{};
  for (Pos q : WindowOf(stand, s)) {
    for (std::size_t c = 0; c < 3; ++c) sum[c] += src.at(q, stand)[c];
  }
  for (std::size_t c = 0; c < 3; ++c) dst[c] = static_cast<uint8_t>(sum[c] / (s * s));
}

// Fills dst (which holds the destination's previous content) from src, which holds the
// luminance in byte 3 where the filter stores it; the reference computes luminance itself.
using Reference = std::function<void(const Picture& src, Picture& dst, int s, int hysteresis)>;

// Anchors every s columns and every s stored rows (counted from the bottom), continued past
// the picture's top and right edges for as long as their tiles still reach into it. A tile whose
// anchor lies inside averages its window with positions outside counting as the anchor; one
// whose anchor lies outside averages its pixels inside, and its written pixel is the anchor
// moved into the picture.
void RefMosaic(const Picture& src, Picture& dst, int s, int) {
  for (int m = 0; m - s / 2 < src.h; m += s) {
    for (int x = 0; x - s / 2 < src.w; x += s) {
      const Pos anchor{x, src.h - 1 - m};
      const Pos kept{std::min(x, src.w - 1), std::max(anchor.y, 0)};
      TPixel tile = dst.at(kept);
      if (src.inside(anchor)) {
        Average(src, anchor, s, tile);
      } else {
        std::array<int, 4> sum{};
        for (Pos q : WindowOf(anchor, s)) {
          if (!src.inside(q)) continue;
          for (std::size_t c = 0; c < 3; ++c) sum[c] += src.at(q)[c];
          ++sum[3];
        }
        for (std::size_t c = 0; c < 3; ++c) tile[c] = static_cast<uint8_t>(sum[c] / sum[3]);
      }
      for (Pos q : WindowOf(anchor, s)) {
        if (dst.inside(q)) dst.at(q) = tile;
      }
    }
  }
}

// The darkest (sign 1) or brightest (sign -1) in-range pixel, the centre first.
Pos Extreme(const Picture& src, Pos c, int s, int sign) {
  Pos best = c;
  for (Pos q : WindowOf(c, s)) {
    if (src.inside(q) && sign * Lum(src.at(q)) < sign * Lum(src.at(best))) best = q;
  }
  return best;
}

template <int kSign>
void RefExtreme(const Picture& src, Picture& dst, int s, int) {
  for (int y = 0; y < src.h; ++y) {
    for (int x = 0; x < src.w; ++x) dst.at({x, y}) = src.at(Extreme(src, {x, y}, s, kSign));
  }
}

template <bool kNearer>
void RefBoundary(const Picture& src, Picture& dst, int s, int hysteresis) {
  for (int y = 0; y < src.h; ++y) {
    for (int x = 0; x < src.w; ++x) {
      const int lc = Lum(src.at({x, y}));
      const Pos dark = Extreme(src, {x, y}, s, 1), bright = Extreme(src, {x, y}, s, -1);
      const int ld = Lum(src.at(dark)), lb = Lum(src.at(bright));
      if (lb - ld > hysteresis) {
        const bool takeDark = kNearer ? lc - ld < lb - lc : lc - ld > lb - lc;
        dst.at({x, y}) = src.at(takeDark ? dark : bright);
      } else {
        Average(src, {x, y}, s, dst.at({x, y}));
      }
    }
  }
}

void RefMedian(const Picture& src, Picture& dst, int s, int) {
  for (int y = 0; y < src.h; ++y) {
    for (int x = 0; x < src.w; ++x) {
      std::vector<TPixel> list;
      for (Pos q : WindowOf({x, y}, s)) list.push_back(src.at(q, {x, y}));
      std::stable_sort(list.begin(), list.end(),
                       [](const TPixel& a, const TPixel& b) { return Lum(a) > Lum(b); });
      dst.at({x, y}) = list[list.size() / 2];
    }
  }
}

// The degrain choice at c: arms up, down, left, right, each scanned in its own order; an arm's
// minimum (maximum) starts at c. Bright takes the brightest minimum, dark the darkest maximum,
// each letting the right arm win ties.
Pos DegrainChoice(const Picture& src, Pos c, int s, bool bright) {
  std::array<std::vector<Pos>, 4> arms;
  for (int y = c.y - (s - 1) / 2; y < c.y; ++y) arms[0].push_back({c.x, y});
  for (int y = c.y + 1; y <= c.y + s / 2; ++y) arms[1].push_back({c.x, y});
  for (int x = c.x - s / 2; x < c.x; ++x) arms[2].push_back({x, c.y});
  for (int x = c.x + 1; x <= c.x + (s - 1) / 2; ++x) arms[3].push_back({x, c.y});
  const int sign = bright ? 1 : -1;  // compares luminance, negated for the dark rule
  auto l = [&](Pos q) { return sign * Lum(src.at(q)); };
  Pos result = c;
  for (std::size_t a = 0; a < 4; ++a) {
    Pos extreme = c;
    for (Pos q : arms[a]) {
      if (src.inside(q) && l(q) < l(extreme)) extreme = q;
    }
    if (a == 0 || l(extreme) > l(result) || (a == 3 && l(extreme) == l(result))) result = extreme;
  }
  return result;
}

template <int kKind>  // 0 bright, 1 dark, 2 both
void RefDegrain(const Picture& src, Picture& dst, int s, int) {
  for (int y = 0; y < src.h; ++y) {
    for (int x = 0; x < src.w; ++x) {
      Pos chosen = DegrainChoice(src, {x, y}, s, kKind == 0);
      if (kKind == 2 && chosen == Pos{x, y}) chosen = DegrainChoice(src, {x, y}, s, true);
      dst.at({x, y}) = src.at(chosen);
    }
  }
}

void Configure(TImageBaseFilter& filter, int s, int hysteresis) {
  dynamic_cast<TWithoutKernelBaseFilter&>(filter).SetSamplingBox(static_cast<uint16_t>(s));
  if (auto* boundary = dynamic_cast<TBoundaryBaseFilter*>(&filter)) {
    boundary->SetHysteresis(static_cast<uint8_t>(hysteresis));
  }
}

// Colours of five luminances, several colours to each, so that samples of equal luminance but
// different colour are frequent and every tie rule shows in the result.
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

struct KernelLessCase {
  std::string name;
  TFilterFactory make;
  Reference reference;
  bool storesLuminance;
  bool scalesByArea;
};

class KernelLessFilter : public testing::TestWithParam<KernelLessCase> {};

TEST_P(KernelLessFilter, MatchesThePlainReferenceOnRandomPictures) {
  const KernelLessCase& c = GetParam();
  std::mt19937 random(1234);
  std::uniform_int_distribution<int> hysteresisOf(0, 60);
  for (const auto& [w, h] : {std::pair{1, 1}, {2, 3}, {7, 5}, {9, 4}, {1, 6}, {5, 1}}) {
    for (int s = 1; s <= 6; ++s) {
      const int hysteresis = hysteresisOf(random);
      SCOPED_TRACE(testing::Message()
                   << w << " x " << h << ", box " << s << ", hysteresis " << hysteresis);
      TBitmap source(w, h);
      FillTies(source, random);
      TBitmap target(w, h);
      FillTies(target, random);  // its byte 3 shows which pixels were written
      Picture src = Read(source);
      if (c.storesLuminance) {
        for (TPixel& p : src.p) p[3] = static_cast<uint8_t>(Lum(p));
      }
      Picture expected = Read(target);
      c.reference(src, expected, s, hysteresis);

      auto filter = c.make(nullptr);
      Configure(*filter, s, hysteresis);
      ChangeCounter changes(*filter);
      ASSERT_TRUE(filter->Apply(&target, &source));
      ASSERT_EQ(Read(target).p, expected.p);
      ASSERT_EQ(Read(source).p, src.p);
      // Written by the pass itself, unannounced.
      if (c.scalesByArea) {
        EXPECT_EQ(filter->ScaleFactor(), s * s);
      }
      EXPECT_EQ(changes.count, 0);
    }
  }
}

TEST_P(KernelLessFilter, BoxOfZeroRefusesAndLeavesBothPicturesAlone) {
  TBitmap source(4, 3);
  test::FillRandom(source, 7);
  const Picture before = Read(source);
  TBitmap target(2, 2);
  Fill(target, Rgb(1, 2, 3));
  auto filter = GetParam().make(nullptr);
  Configure(*filter, 0, 3);
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
        KernelLessCase{"Mosaic", MakeFilter<TMosaicFilter>, RefMosaic, false, true},
        KernelLessCase{"Minimum", MakeFilter<TMinimumFilter>, RefExtreme<1>, true, false},
        KernelLessCase{"Maximum", MakeFilter<TMaximumFilter>, RefExtreme<-1>, true, false},
        KernelLessCase{"MaxMin", MakeFilter<TMaxMinFilter>, RefBoundary<true>, true, true},
        KernelLessCase{"MinMax", MakeFilter<TMinMaxFilter>, RefBoundary<false>, true, true},
        KernelLessCase{"Median", MakeFilter<TMedianFilter>, RefMedian, true, false},
        KernelLessCase{"DegrainBright", MakeFilter<TDegrainBrightFilter>, RefDegrain<0>, true,
                       false},
        KernelLessCase{"DegrainDark", MakeFilter<TDegrainDarkFilter>, RefDegrain<1>, true, false},
        KernelLessCase{"Degrain", MakeFilter<TDegrainFilter>, RefDegrain<2>, true, false}),
    [](const testing::TestParamInfo<KernelLessCase>& row) { return row.param.name; });

// ---------------------------------------------------------------------------------------------
// Kernel-less rules by example

// The centre of a 3 x 3 picture of `ground` with colours placed at window indices (row by row
// from the top; 4 is the centre) after filter.
TColor CentreAfter(TImageBaseFilter&& filter, TColor ground,
                   std::initializer_list<std::pair<int, TColor>> placed) {
  TBitmap source(3, 3);
  Fill(source, ground);
  for (const auto& [index, colour] : placed) source.Canvas().SetPixel(index % 3, index / 3, colour);
  TBitmap target;
  EXPECT_TRUE(filter.Apply(&target, &source));
  return ColorAt(target, 1, 1);
}

TEST(MinimumAndMaximum, TiesGoToTheCentreThenToTheFirstInWindowOrder) {
  // Three colours of luminance 30.
  const TColor red = 0x000064, green = 0x093200, brown = 0x001933;
  EXPECT_EQ(CentreAfter(TMinimumFilter(nullptr), clWhite, {{0, green}, {4, red}, {8, brown}}), red);
  EXPECT_EQ(CentreAfter(TMinimumFilter(nullptr), clWhite, {{2, brown}, {6, green}}), brown);
  EXPECT_EQ(CentreAfter(TMaximumFilter(nullptr), 0, {{0, green}, {4, red}, {8, brown}}), red);
  EXPECT_EQ(CentreAfter(TMaximumFilter(nullptr), 0, {{3, red}, {5, green}}), red);
}

TEST(BoundaryFilters, HysteresisOf255AlwaysStoresTheBoxAverage) {
  TBitmap source(6, 5);
  test::FillRandom(source, 99);
  const Picture src = Read(source);
  for (TFilterFactory make : {MakeFilter<TMaxMinFilter>, MakeFilter<TMinMaxFilter>}) {
    auto filter = make(nullptr);
    Configure(*filter, 3, 255);
    TBitmap target;
    ASSERT_TRUE(filter->Apply(&target, &source));
    for (int y = 0; y < 5; ++y) {
      for (int x = 0; x < 6; ++x) {
        TPixel expected = PixelOf(target, x, y);
        Average(src, {x, y}, 3, expected);
        ASSERT_EQ(PixelOf(target, x, y), expected) << filter->ClassName() << " " << x << "," << y;
      }
    }
  }
}

TEST(BoundaryFilters, AssignCopiesHysteresisAndBoxWithOneChange) {
  TMaxMinFilter source(nullptr);
  EXPECT_EQ(source.Hysteresis(), 3);
  source.SetHysteresis(20);
  source.SetSamplingBox(5);
  TMinMaxFilter target(nullptr);
  ChangeCounter changes(target);
  target.Assign(&source);
  target.Assign(&source);
  EXPECT_EQ(target.Hysteresis(), 20);
  EXPECT_EQ(target.SamplingBox(), 5);
  EXPECT_EQ(changes.count, 1);
}

struct MosaicCase {
  int w;
  int h;
  int s;
};

class MosaicTiles : public testing::TestWithParam<MosaicCase> {};

// Sizes that are and are not multiples of the box leave bands along the top and the right that
// the anchors inside the picture do not reach; they get tiles of their own.
TEST_P(MosaicTiles, CoverThePictureUpToItsTopAndRightEdges) {
  const MosaicCase& c = GetParam();
  std::mt19937 random(static_cast<uint32_t>(c.w * 1000 + c.h * 10 + c.s));
  TBitmap source(c.w, c.h);
  test::FillRandom(source, static_cast<uint32_t>(random()));
  TBitmap target(c.w, c.h);
  test::FillRandom(target, static_cast<uint32_t>(random()));
  Picture expected = Read(target);
  RefMosaic(Read(source), expected, c.s, 0);
  TMosaicFilter filter(nullptr);
  filter.SetSamplingBox(static_cast<uint16_t>(c.s));
  ASSERT_TRUE(filter.Apply(&target, &source));
  EXPECT_EQ(Read(target).p, expected.p);
}

INSTANTIATE_TEST_SUITE_P(Sizes, MosaicTiles,
                         testing::Values(MosaicCase{3, 3, 1}, MosaicCase{5, 4, 1},
                                         MosaicCase{6, 4, 2}, MosaicCase{7, 5, 2},
                                         MosaicCase{9, 6, 3}, MosaicCase{10, 8, 3},
                                         MosaicCase{64, 48, 16}, MosaicCase{70, 41, 16},
                                         MosaicCase{62, 93, 31}, MosaicCase{100, 45, 31},
                                         MosaicCase{10, 7, 64}, MosaicCase{1, 1, 5},
                                         MosaicCase{2, 9, 17}),
                         [](const testing::TestParamInfo<MosaicCase>& row) {
                           return std::to_string(row.param.w) + "x" + std::to_string(row.param.h) +
                                  "Box" + std::to_string(row.param.s);
                         });

TEST(DegrainFamily, BoxesOf1And2LeaveThePictureUnchanged) {
  for (int s : {1, 2}) {
    for (TFilterFactory make : {MakeFilter<TDegrainBrightFilter>, MakeFilter<TDegrainDarkFilter>,
                                MakeFilter<TDegrainFilter>}) {
      TBitmap source(7, 6);
      test::FillRandom(source, static_cast<uint32_t>(s));
      auto filter = make(nullptr);
      Configure(*filter, s, 0);
      TBitmap target;
      ASSERT_TRUE(filter->Apply(&target, &source));
      for (int i = 0; i < 42; ++i) {
        ASSERT_EQ(ColorAt(target, i % 7, i / 7), ColorAt(source, i % 7, i / 7))
            << filter->ClassName() << " box " << s << " at pixel " << i;
      }
    }
  }
}

// Whether the filter turns a 7 x 7 ground with one speck in the middle into plain ground.
bool RemovesSpeck(TFilterFactory make, TColor ground, TColor speck) {
  TBitmap source(7, 7);
  Fill(source, ground);
  source.Canvas().SetPixel(3, 3, speck);
  TBitmap target;
  EXPECT_TRUE(make(nullptr)->Apply(&target, &source));
  for (int i = 0; i < 49; ++i) {
    if (ColorAt(target, i % 7, i / 7) != ground) return false;
  }
  return true;
}

TEST(Specks, BrightOnesFallAndDarkOnesRiseUnderTheirFilters) {
  const TColor dark = Rgb(20, 30, 40), bright = Rgb(240, 230, 220);
  EXPECT_TRUE(RemovesSpeck(MakeFilter<TMedianFilter>, dark, bright));
  EXPECT_TRUE(RemovesSpeck(MakeFilter<TDegrainBrightFilter>, dark, bright));
  EXPECT_TRUE(RemovesSpeck(MakeFilter<TDegrainFilter>, dark, bright));
  EXPECT_FALSE(RemovesSpeck(MakeFilter<TDegrainDarkFilter>, dark, bright));
  EXPECT_TRUE(RemovesSpeck(MakeFilter<TDegrainDarkFilter>, bright, dark));
  EXPECT_TRUE(RemovesSpeck(MakeFilter<TDegrainFilter>, bright, dark));
  EXPECT_FALSE(RemovesSpeck(MakeFilter<TDegrainBrightFilter>, bright, dark));
}

}  // namespace
}  // namespace ombrix
