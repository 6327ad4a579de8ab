#include "PixelStatistics.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

namespace ombrix {
namespace {

// A picture of w x h in `colour`, with the pixels that `marked` picks in `mark`.
struct Picture {
  int w, h;
  TColor colour;
  TPixelFormat format = pf32bit;
  std::function<bool(int, int)> marked = nullptr;
  TColor mark = clWhite;
};

std::unique_ptr<TBitmap> Build(const Picture& p) {
  auto bitmap = std::make_unique<TBitmap>(p.w, p.h, p.format);
  for (int y = 0; y < p.h; ++y) {
    for (int x = 0; x < p.w; ++x) {
      bitmap->Canvas().SetPixel(x, y, p.marked && p.marked(x, y) ? p.mark : p.colour);
    }
  }
  return bitmap;
}

// Line 1 and the background of one pixel. The half-way cases land exactly on .5 in extended
// precision and go to the even neighbour, up as well as down. Double precision would round two
// of them otherwise: 49.5 falls just below the half there (49), and 13.5 - 2^-60, just below
// the half in extended precision, is exactly 13.5 there (14).
struct PixelCase {
  const char* name;
  TColor colour;
  const char* line;
};

class PixelLine : public testing::TestWithParam<PixelCase> {};

TEST_P(PixelLine, ReadsLuminanceAndColourOfTheClickedPixel) {
  const PixelCase& c = GetParam();
  const TPixelStatistics s = PixelStatistics(*Build({3, 3, c.colour}), 1, 1);
  EXPECT_EQ(s.Lines[0], c.line);
  EXPECT_EQ(s.Color, c.colour);
}

constexpr TColor Rgb(unsigned r, unsigned g, unsigned b) {
  return r | g << 8 | b << 16;
}

INSTANTIATE_TEST_SUITE_P(
    PixelStatistics, PixelLine,
    testing::Values(PixelCase{"White", Rgb(255, 255, 255), "L250 R255 G255 B255"},
                    PixelCase{"Red", Rgb(255, 0, 0), "L074 R255 G000 B000"},
                    PixelCase{"Green", Rgb(0, 255, 0), "L148 R000 G255 B000"},
                    PixelCase{"Blue", Rgb(0, 0, 255), "L028 R000 G000 B255"},
                    PixelCase{"Half_5_5_UpToEven", Rgb(0, 0, 50), "L006 R000 G000 B050"},
                    PixelCase{"Half_16_5_DownToEven", Rgb(0, 0, 150), "L016 R000 G000 B150"},
                    PixelCase{"Half_49_5_UpToEven", Rgb(0, 66, 102), "L050 R000 G066 B102"},
                    PixelCase{"JustBelowHalf_13_5_Down", Rgb(0, 21, 12), "L013 R000 G021 B012"}),
    [](const testing::TestParamInfo<PixelCase>& p) { return std::string(p.param.name); });

// All three lines and the background of a click.
struct ClickCase {
  const char* name;
  Picture picture;
  int x, y;
  const char* lines[3];
  TColor background;
};

class Click : public testing::TestWithParam<ClickCase> {};

TEST_P(Click, GivesTheThreeLinesAndTheBackground) {
  const ClickCase& c = GetParam();
  const TPixelStatistics s = PixelStatistics(*Build(c.picture), c.x, c.y);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(s.Lines[static_cast<std::size_t>(i)], c.lines[i]) << i;
  EXPECT_EQ(s.Color, c.background);
}

INSTANTIATE_TEST_SUITE_P(
    PixelStatistics, Click,
    testing::Values(
        // 16 of the 25 points lie outside and count as white.
        ClickCase{"BlackTopLeft",
                  {10, 10, clBlack},
                  0,
                  0,
                  {"L000 R000 G000 B000", "L159 R163 G163 B163", "Lmin000 LMax000 Lavr000"},
                  clBlack},
        // Sum 250, 250 div 100 div 100 = 0.
        ClickCase{"OneWhitePixelIn100x100",
                  {100, 100, clBlack, pf32bit, [](int x, int y) { return x == 50 && y == 50; }},
                  50,
                  50,
                  {"L250 R255 G255 B255", "L010 R010 G010 B010", "Lmin000 LMax250 Lavr000"},
                  clWhite},
        // The sums' luminance: 0.98 x 50 = 49, so 1, though each pixel alone has 2.
        ClickCase{"TwentyFiveTwos",
                  {5, 5, Rgb(2, 2, 2)},
                  2,
                  2,
                  {"L002 R002 G002 B002", "L001 R002 G002 B002", "Lmin002 LMax002 Lavr002"},
                  Rgb(2, 2, 2)},
        // 0.98 x 25 = 24.5 exactly: to even 24, so 0 and not 1.
        ClickCase{"TwentyFiveOnesRoundTheSumsHalfToEven",
                  {5, 5, Rgb(1, 1, 1)},
                  2,
                  2,
                  {"L001 R001 G001 B001", "L000 R001 G001 B001", "Lmin001 LMax001 Lavr001"},
                  Rgb(1, 1, 1)},
        // 24-bit rows with padding; a corner click sees 9 pixels, one of them white:
        // sums 17 x 255 = 4335, luminance 4248; mean 250 div 7 div 3 = 11.
        ClickCase{"TwentyFourBitCorner",
                  {7, 3, clBlack, pf24bit, [](int x, int y) { return x == 6 && y == 2; }},
                  6,
                  2,
                  {"L250 R255 G255 B255", "L169 R173 G173 B173", "Lmin000 LMax250 Lavr011"},
                  clWhite},
        // Every point outside: white, 25 x 255 = 6375, luminance 6247.5 to 6248.
        ClickCase{"PointOutside",
                  {4, 4, clBlack},
                  -3,
                  9,
                  {"L250 R255 G255 B255", "L249 R255 G255 B255", "Lmin000 LMax000 Lavr000"},
                  clWhite},
        ClickCase{"EmptyPicture",
                  {0, 0, clBlack},
                  0,
                  0,
                  {"L250 R255 G255 B255", "L249 R255 G255 B255", "Lmin--- LMax--- Lavr---"},
                  clWhite}),
    [](const testing::TestParamInfo<ClickCase>& p) { return std::string(p.param.name); });

TEST(PixelStatistics, HalfWayLuminanceOfWhiteSumsGoesToEven) {
  // 25 white points: 0.98 x 6375 = 6247.5 exactly in extended precision.
  EXPECT_EQ(Luminance(6375, 6375, 6375), 6248);
}

// The lines below the three: the clicked colour, and its contrast against the one before.
struct ContrastCase {
  const char* name;
  TColor colour, previous;
  const char* hex;
  const char* contrast;
};

class ContrastLines : public testing::TestWithParam<ContrastCase> {};

TEST_P(ContrastLines, GiveTheColourAndTheWcagRatio) {
  const ContrastCase& c = GetParam();
  EXPECT_EQ(HexColour(c.colour), c.hex);
  EXPECT_EQ(ContrastLine(c.colour, c.previous), c.contrast);
  // The ratio does not depend on which of the two was clicked first.
  EXPECT_EQ(ContrastRatioHundredths(c.colour, c.previous),
            ContrastRatioHundredths(c.previous, c.colour));
}

INSTANTIATE_TEST_SUITE_P(
    PixelStatistics, ContrastLines,
    testing::Values(ContrastCase{"BlackAgainstWhite", clBlack, clWhite, "#000000",
                                 "21.00:1 AAA against #FFFFFF"},
                    // 4.542...
                    ContrastCase{"WhiteAgainst767676", clWhite, Rgb(0x76, 0x76, 0x76), "#FFFFFF",
                                 "4.54:1 AA against #767676"},
                    // 4.478...: below AA.
                    ContrastCase{"777777AgainstWhite", Rgb(0x77, 0x77, 0x77), clWhite, "#777777",
                                 "4.47:1 against #FFFFFF"},
                    // 7.0047... and 6.8969...: the AAA threshold.
                    ContrastCase{"595959AgainstWhite", Rgb(0x59, 0x59, 0x59), clWhite, "#595959",
                                 "7.00:1 AAA against #FFFFFF"},
                    ContrastCase{"5A5A5AAgainstWhite", Rgb(0x5A, 0x5A, 0x5A), clWhite, "#5A5A5A",
                                 "6.89:1 AA against #FFFFFF"},
                    // 3.9985: shown as 3.99, never rounded up to a figure it does not reach.
                    ContrastCase{"RedAgainstWhite", clRed, clWhite, "#FF0000",
                                 "3.99:1 against #FFFFFF"},
                    ContrastCase{"BlueAgainstWhiteByteOrder", Rgb(0x12, 0x34, 0xFF), clWhite,
                                 "#1234FF", "7.09:1 AAA against #FFFFFF"},
                    ContrastCase{"SameColour", Rgb(0x80, 0x80, 0x80), Rgb(0x80, 0x80, 0x80),
                                 "#808080", "1.00:1 against #808080"}),
    [](const testing::TestParamInfo<ContrastCase>& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace ombrix
