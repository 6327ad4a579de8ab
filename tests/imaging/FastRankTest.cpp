#include "FastRank.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "FastPassChecks.h"
#include "iwFilters.h"

namespace ombrix {
namespace {

using TBlock = std::vector<uint8_t>;

struct FilterRow {
  const char* name;
  TFilterFactory make;
};

const FilterRow kFilters[] = {
    {"Mosaic", MakeFilter<TMosaicFilter>},
    {"Minimum", MakeFilter<TMinimumFilter>},
    {"Maximum", MakeFilter<TMaximumFilter>},
    {"MaxMin", MakeFilter<TMaxMinFilter>},
    {"MinMax", MakeFilter<TMinMaxFilter>},
    {"Median", MakeFilter<TMedianFilter>},
    {"DegrainBright", MakeFilter<TDegrainBrightFilter>},
    {"DegrainDark", MakeFilter<TDegrainDarkFilter>},
    {"Degrain", MakeFilter<TDegrainFilter>},
};

// Pixels as 0x00RRGGBB words with a random byte 3 (which the passes must overwrite with the
// luminance, or copy, or leave alone, exactly as the plain passes do).
using TPainter = std::function<uint32_t(int32_t x, int32_t m, std::mt19937& random)>;

// Pairs of colours (0xRRGGBB) of equal luminance, so that ties between different pixels are
// everywhere: 30, 100 and 200, then 15, 16 and 17 (either side of a coarse histogram level).
constexpr uint32_t kTied[][2] = {
    {0x1E1E1E, 0x003300}, {0x646464, 0xFF2800}, {0xC8C8C8, 0x96FF2A},
    {0x0F0F0F, 0x320000}, {0x101010, 0x360000}, {0x111111, 0x390000},
};

uint32_t Tied(int level, std::mt19937& random) {
  return kTied[level][random() & 1];
}

struct PictureRow {
  std::string name;
  int32_t width;
  int32_t height;
  TPainter paint;
};

const PictureRow kPictures[] = {
    {"Random1x1", 1, 1, [](int32_t, int32_t, std::mt19937& r) { return uint32_t(r()); }},
    {"Random1x37", 1, 37, [](int32_t, int32_t, std::mt19937& r) { return uint32_t(r()); }},
    {"Random41x1", 41, 1, [](int32_t, int32_t, std::mt19937& r) { return uint32_t(r()); }},
    {"Random2x3", 2, 3, [](int32_t, int32_t, std::mt19937& r) { return uint32_t(r()); }},
    {"Random67x45", 67, 45, [](int32_t, int32_t, std::mt19937& r) { return uint32_t(r()); }},
    {"Random333x97", 333, 97, [](int32_t, int32_t, std::mt19937& r) { return uint32_t(r()); }},
    {"TwoLevels", 37, 29, [](int32_t, int32_t, std::mt19937& r) { return Tied(int(r() % 2), r); }},
    {"ThreeLevels", 40, 31,
     [](int32_t, int32_t, std::mt19937& r) { return Tied(int(r() % 3), r); }},
    {"Stripes", 35, 26,
     [](int32_t x, int32_t, std::mt19937& r) { return Tied((x / 2) % 2 * 2, r); }},
    {"RowStripes", 29, 34,
     [](int32_t, int32_t m, std::mt19937& r) { return Tied(m % 3 == 0 ? 0 : 1, r); }},
    {"Checkerboard", 33, 27,
     [](int32_t x, int32_t m, std::mt19937& r) { return Tied((x + m) % 2, r); }},
    // Tall enough for two bands of rows at boxes 15 and 31, so the seams between them count.
    {"TallThreeLevels", 24, 250,
     [](int32_t, int32_t, std::mt19937& r) { return Tied(int(r() % 3), r); }},
    // Larger than boxes 15 and 31, so that most windows lie inside the picture.
    {"TiedLevels63x47", 63, 47,
     [](int32_t, int32_t, std::mt19937& r) { return Tied(int(r() % 3), r); }},
    {"CoarseSeam61x45", 61, 45,
     [](int32_t, int32_t, std::mt19937& r) { return Tied(3 + int(r() % 3), r); }},
    // Nearly flat: at box 31 the median's rank among its equals passes 255.
    {"NearlyFlat63x47", 63, 47,
     [](int32_t, int32_t, std::mt19937& r) { return Tied(r() % 8 == 0 ? 0 : 1, r); }},
    // The darkest and brightest levels, 0 and 255, in equal-luminance pairs: the extremes' keys
    // reach their top values (a level of 255, or 255 less 0, above the last window row and
    // column of box 16).
    {"BlackAndWhite41x37", 41, 37,
     [](int32_t, int32_t, std::mt19937& r) {
       constexpr uint32_t kEnds[] = {0x000000, 0x030000, 0xFFFFFF};
       return kEnds[r() % 3];
     }},
    {"FlatWithSpeck", 30, 23,
     [](int32_t x, int32_t m, std::mt19937& r) {
       return x == 11 && m == 7 ? 0xFFFFFFu : Tied(1, r);
     }},
};

TBlock Paint(const PictureRow& picture, uint32_t seed) {
  std::mt19937 random(seed);
  TBlock block(static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height) *
               4);
  for (int32_t m = 0; m < picture.height; ++m) {
    for (int32_t x = 0; x < picture.width; ++x) {
      const uint32_t word =
          (picture.paint(x, m, random) & 0xFFFFFFu) | static_cast<uint32_t>(random() & 0xFFu) << 24;
      const auto at = static_cast<std::size_t>((m * picture.width + x) * 4);
      for (std::size_t b = 0; b < 4; ++b) block[at + b] = static_cast<uint8_t>(word >> (8 * b));
    }
  }
  return block;
}

using test::FirstDifference;
using test::SupportedIsas;

struct RankCase {
  FilterRow filter;
  PictureRow picture;
};

class FastRankPass_ : public testing::TestWithParam<RankCase> {};

// Every box from 1 to 9, then 15, 16, 17, 31, 32, 64, 128, 255, 300 and one larger than the
// picture, each on every instruction-set path with 2 and 1 threads and in strips of 1 to 3 rows
// whose places restart; the Median's bands go down in strips of 1, 7, 13 or 19 columns in the
// last two runs; the boundary filters cycle through Hysteresis 0, 1, 128 and 255. The plain
// passes cost up to the square of the box per pixel (the Median's its fourth power), so a box is
// left out where that reference would run for more than a fraction of a second.
TEST_P(FastRankPass_, EqualsThePlainPassInEveryByte) {
  const RankCase& c = GetParam();
  const int32_t width = c.picture.width;
  const int32_t height = c.picture.height;
  // 16: the largest box of the extremes' 16-bit column keys (4 bits of window row and column);
  // 128: the longest row window of 16-bit keys in the extremes; 300: a window too large for
  // 16-bit histogram counts.
  // 255: the largest window of 16-bit Median counts; 32: the widest Median window whose rows
  // are searched as one mask, even (one column more left of the centre than right).
  std::vector<int32_t> boxes = {1, 2, 3, 4, 5, 6, 7, 8, 9, 15, 16, 17, 31, 32, 64, 128, 255, 300};
  boxes.push_back(std::max(width, height) + 3);
  const bool median = std::string(c.filter.name) == "Median";
  const uint8_t hystereses[] = {0, 1, 128, 255};
  for (std::size_t i = 0; i < boxes.size(); ++i) {
    const int64_t box = boxes[i];
    // Rough costs of the plain passes: about 1 ns a window position inside the picture; the
    // Median orders all box x box positions, each insertion moving up to all of them, or only
    // those inside the picture when the rest stand for the centre: 0.06 ns a move.
    const int64_t pixels = int64_t{width} * height;
    const int64_t inside = std::min<int64_t>(box, width) * std::min<int64_t>(box, height);
    const int64_t cost = median ? pixels * box * box * std::min<int64_t>(box * box, 2 * pixels) / 16
                                : pixels * inside;
    if (cost > 200'000'000) continue;
    auto filter = c.filter.make(nullptr);
    auto& kernelLess = dynamic_cast<TWithoutKernelBaseFilter&>(*filter);
    kernelLess.SetSamplingBox(static_cast<uint16_t>(box));
    const uint8_t hysteresis = hystereses[i % 4];
    if (auto* boundary = dynamic_cast<TBoundaryBaseFilter*>(filter.get())) {
      boundary->SetHysteresis(hysteresis);
    }
    const auto seed = static_cast<uint32_t>(box * 7919 + width);
    const TBlock source = Paint(c.picture, seed);
    const TBlock target = Paint(kPictures[5], seed + 1);  // any bytes, cut to size below
    TBlock expectedSource = source;
    TBlock expected(target.begin(), target.begin() + static_cast<std::ptrdiff_t>(source.size()));
    const TBlock before = expected;
    filter->ApplyKernel(expected.data(), expectedSource.data(), width, height);
    const std::optional<TRankPass> pass = filter->RankPass();
    ASSERT_TRUE(pass.has_value());
    for (const TKernelIsa isa : SupportedIsas()) {
      // Two threads, then one, then strips of a few rows whose places restart; the last two
      // in strips of columns narrower and wider than the box.
      for (const int run : {0, 1, 2}) {
        const int threads = run == 1 ? 1 : 2;
        TFastRankOptions options;
        options.Isa = isa;
        options.Threads = threads;
        if (run == 2) options.StripRows = 1 + static_cast<int32_t>(i % 3);
        if (run > 0)
          options.StripColumns =
              1 + 6 * static_cast<int32_t>((i + static_cast<std::size_t>(run)) % 4);
        TBlock actualSource = source;
        TBlock actual = before;
        ASSERT_TRUE(
            FastRankPass(*pass, actual.data(), actualSource.data(), width, height, options));
        const std::string where = std::string(KernelIsaName(isa)) + ", " + std::to_string(threads) +
                                  " thread(s), strips of " + std::to_string(options.StripRows) +
                                  " rows and " + std::to_string(options.StripColumns) +
                                  " columns, box " + std::to_string(box) + ", hysteresis " +
                                  std::to_string(hysteresis) + ": ";
        ASSERT_EQ(FirstDifference(expected, actual, width), "") << where << "target";
        ASSERT_EQ(FirstDifference(expectedSource, actualSource, width), "") << where << "source";
      }
    }
  }
}

// Three luminance levels in equal-luminance pairs at the widths around the vectors of the 3 x 3
// passes (16 keys, 32 bytes of luminance, 8 pixels, and the 3 x 3 extremes' rows of 8 pixels
// inside the edge columns, from a width of 10) and the heights below the window's; at a few
// widths also 4 and 5 rows, so that the extremes' pairs of target rows end even and odd; then
// the heights around the Median's groups of three target rows, narrower and wider than boxes 15
// and 31.
std::vector<PictureRow> SmallPictures() {
  std::vector<PictureRow> pictures;
  const auto add = [&](int32_t width, int32_t height) {
    pictures.push_back({"Levels" + std::to_string(width) + "x" + std::to_string(height), width,
                        height,
                        [](int32_t, int32_t, std::mt19937& r) { return Tied(int(r() % 3), r); }});
  };
  for (const int32_t width : {1, 2, 3, 7, 8, 9, 10, 11, 15, 16, 17, 18, 31, 32, 33, 47}) {
    const int32_t heights = width == 10 || width == 17 || width == 33 ? 5 : 3;
    for (int32_t height = 1; height <= heights; ++height) add(width, height);
  }
  for (const int32_t width : {9, 40}) {
    for (int32_t height = 4; height <= 8; ++height) add(width, height);
  }
  // Two bands of 33 rows at the widths around the 3 x 3 Median's scalar and vector paths, so
  // that the seams between bands meet both.
  for (const int32_t width : {17, 18, 33}) add(width, 66);
  return pictures;
}

std::vector<RankCase> AllCases() {
  std::vector<RankCase> cases;
  for (const FilterRow& filter : kFilters) {
    for (const PictureRow& picture : kPictures) cases.push_back({filter, picture});
    for (const PictureRow& picture : SmallPictures()) cases.push_back({filter, picture});
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(KernelLess, FastRankPass_, testing::ValuesIn(AllCases()),
                         [](const testing::TestParamInfo<RankCase>& row) {
                           return std::string(row.param.filter.name) + "On" +
                                  row.param.picture.name;
                         });

// 4097 x 2049: the last position needs 13 bits of column and 12 of row, past the 24 bits of
// one key, so the extremes run in two strips whose places restart at stored row 2045. Three
// luminance levels in equal-luminance pairs make the order among equals decide nearly every
// pixel. The plain pass would take seconds over the whole picture, so it runs over two bands
// of rows instead: the bottom one and one holding the seam and the top; a row is compared where
// its window lies inside its band or meets the picture's own edge (band starts are multiples of
// the box, so the Mosaic's tiles fall alike).
class LargeRankPass_ : public testing::TestWithParam<FilterRow> {};

TEST_P(LargeRankPass_, EqualsThePlainPassPastOneKeysPlaces) {
  constexpr int32_t kBox = 4;
  const PictureRow picture = {
      "Large", 4097, 2049, [](int32_t, int32_t, std::mt19937& r) { return Tied(int(r() % 3), r); }};
  auto filter = GetParam().make(nullptr);
  dynamic_cast<TWithoutKernelBaseFilter&>(*filter).SetSamplingBox(kBox);
  static const TBlock source = Paint(picture, 5);
  TBlock actualSource = source;
  TBlock actual(source.size(), 0x5A);
  ASSERT_TRUE(FastRankPass(*filter->RankPass(), actual.data(), actualSource.data(), picture.width,
                           picture.height));
  const auto rowBytes = static_cast<std::ptrdiff_t>(picture.width) * 4;
  const auto rows = [&](const TBlock& block, int32_t first, int32_t end) {
    return TBlock(block.begin() + first * rowBytes, block.begin() + end * rowBytes);
  };
  for (const auto& band : {std::pair{0, 32}, std::pair{2016, 2049}}) {
    const int32_t first = band.first;
    const int32_t end = band.second;
    TBlock expectedSource = rows(source, first, end);
    TBlock expected(expectedSource.size(), 0x5A);
    filter->ApplyKernel(expected.data(), expectedSource.data(), picture.width, end - first);
    const int32_t low = first == 0 ? 0 : first + kBox;
    const int32_t high = end == picture.height ? end : end - kBox;
    const std::string where = "stored rows " + std::to_string(low) + " to " + std::to_string(high);
    const auto inside = [&](const TBlock& block) { return rows(block, low - first, high - first); };
    EXPECT_EQ(FirstDifference(inside(expected), rows(actual, low, high), picture.width), "")
        << where;
    EXPECT_EQ(FirstDifference(inside(expectedSource), rows(actualSource, low, high), picture.width),
              "")
        << where;
  }
}

INSTANTIATE_TEST_SUITE_P(KernelLess, LargeRankPass_, testing::ValuesIn(kFilters),
                         [](const testing::TestParamInfo<FilterRow>& row) {
                           return std::string(row.param.name);
                         });

// The 3 x 3 extremes and Median make the luminance themselves, in place in the rows of a band
// that no other band reads and into scratch rows for the others: rows 1 and 2 of this picture
// hold one colour of each weighted sum 30 r + 59 g + 11 b that a colour has, every row one of
// each other sum; each pass must write every luminance as the plain pass does, into the source
// and the pixels it copies, and the Median must order the pixels by it.
TEST(FastRankPass, Box3PassesMakeTheLuminanceOfEveryColourSum) {
  std::vector<uint32_t> bySum(100 * 255 + 1, 0xFFFFFFFFu);
  for (uint32_t red = 0; red < 256; ++red) {
    for (uint32_t green = 0; green < 256; ++green) {
      for (uint32_t blue = 0; blue < 256; ++blue) {
        uint32_t& colour = bySum[30 * red + 59 * green + 11 * blue];
        if (colour == 0xFFFFFFFFu) colour = red << 16 | green << 8 | blue;
      }
    }
  }
  std::vector<uint32_t> colours;
  for (const uint32_t colour : bySum) {
    if (colour != 0xFFFFFFFFu) colours.push_back(colour);
  }
  ASSERT_EQ(colours.size(), 25321u);
  const auto width = static_cast<int32_t>((colours.size() + 1) / 2);
  const PictureRow picture = {"EverySum", width, 4, [&](int32_t x, int32_t m, std::mt19937&) {
                                const auto i = static_cast<std::size_t>(m % 2 * width + x);
                                return colours[i % colours.size()];
                              }};
  for (const FilterRow& filter : {kFilters[1], kFilters[2], kFilters[5]}) {
    auto made = filter.make(nullptr);
    dynamic_cast<TWithoutKernelBaseFilter&>(*made).SetSamplingBox(3);
    const TBlock source = Paint(picture, 1);
    TBlock expectedSource = source;
    TBlock expected(source.size(), 0);
    made->ApplyKernel(expected.data(), expectedSource.data(), width, picture.height);
    for (const TKernelIsa isa : SupportedIsas()) {
      TFastRankOptions options;
      options.Isa = isa;
      options.Threads = 1;
      TBlock actualSource = source;
      TBlock actual(source.size(), 0);
      ASSERT_TRUE(FastRankPass(*made->RankPass(), actual.data(), actualSource.data(), width,
                               picture.height, options));
      const std::string where = std::string(filter.name) + ", " + KernelIsaName(isa) + ": ";
      EXPECT_EQ(FirstDifference(expected, actual, width), "") << where << "target";
      EXPECT_EQ(FirstDifference(expectedSource, actualSource, width), "") << where << "source";
    }
  }
}

TEST(FastRankPass, DeclinesWhatItCannotTake) {
  TBlock source(16, 0);
  TBlock target(16, 0);
  EXPECT_FALSE(FastRankPass({rkMedian, 0, 3}, target.data(), source.data(), 2, 2));
  // Filtering a block into itself is left to the caller, which works from a copy.
  EXPECT_FALSE(FastRankPass({rkMedian, 3, 3}, source.data(), source.data(), 2, 2));
}

}  // namespace
}  // namespace ombrix
