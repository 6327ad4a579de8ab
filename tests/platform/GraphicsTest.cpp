#include "Graphics.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "Errors.h"

namespace ombrix {
namespace {

TEST(Bitmap, RowsAreStoredBottomUpAndPaddedToFourBytes) {
  TBitmap b(3, 2, pf24bit);
  EXPECT_EQ(b.RowBytes(), 12u);  // 9 bytes rounded up
  EXPECT_EQ(b.ScanLine(1), b.Bits());
  EXPECT_EQ(b.ScanLine(0), b.Bits() + 12);
  TBitmap c(3, 2, pf32bit);
  EXPECT_EQ(c.RowBytes(), 12u);
  EXPECT_THROW(c.ScanLine(2), EListError);
  EXPECT_THROW(c.ScanLine(-1), EListError);
}

TEST(Bitmap, ResizeKeepsTheSharedTopLeftPartAndSameSizeKeepsEverything) {
  TBitmap b(2, 2);
  b.Canvas().SetPixel(0, 0, 0x112233);
  b.Canvas().SetPixel(1, 1, 0x445566);
  const uint8_t* before = b.Bits();
  b.SetWidth(2);
  EXPECT_EQ(b.Bits(), before);
  b.SetSize(3, 3);
  EXPECT_EQ(b.Canvas().Pixel(0, 0), 0x112233u);
  EXPECT_EQ(b.Canvas().Pixel(1, 1), 0x445566u);
  EXPECT_EQ(b.Canvas().Pixel(2, 2), 0u);
  b.SetSize(1, 1);
  EXPECT_EQ(b.Canvas().Pixel(0, 0), 0x112233u);
}

TEST(Bitmap, PixelFormatChangeConvertsColours) {
  TBitmap b(5, 3, pf32bit);
  b.Canvas().SetPixel(4, 2, 0xA0B0C0);
  b.SetPixelFormat(pf24bit);
  EXPECT_EQ(b.RowBytes(), 16u);
  EXPECT_EQ(b.Canvas().Pixel(4, 2), 0xA0B0C0u);
  b.SetPixelFormat(pf32bit);
  EXPECT_EQ(b.Canvas().Pixel(4, 2), 0xA0B0C0u);
  EXPECT_EQ(b.ScanLine(2)[4 * 4 + 3], 0);
}

TEST(Bitmap, AssignCopiesAndRejectsUnknownClasses) {
  TBitmap a(4, 3, pf24bit);
  a.Canvas().SetPixel(3, 0, 0x010203);
  TBitmap b;
  b.Assign(&a);
  EXPECT_EQ(b.Width(), 4);
  EXPECT_EQ(b.PixelFormat(), pf24bit);
  EXPECT_EQ(b.Canvas().Pixel(3, 0), 0x010203u);
  // Onto a larger bitmap of another format, whose block is reused, and back: each time exactly
  // the source, nothing of what the target held before.
  TBitmap large(9, 7, pf32bit);
  large.Canvas().SetPixel(0, 6, 0x0A0B0C);
  for (const TBitmap* source : {&a, &large, &a}) {
    b.Assign(source);
    ASSERT_EQ(b.Width(), source->Width());
    ASSERT_EQ(b.Height(), source->Height());
    EXPECT_EQ(b.PixelFormat(), source->PixelFormat());
    for (int y = 0; y < source->Height(); ++y)
      EXPECT_EQ(std::memcmp(b.ScanLine(y), source->ScanLine(y),
                            static_cast<std::size_t>(b.Width() * BytesPerPixel(b.PixelFormat()))),
                0)
          << "row " << y;
  }
  TPersistent other;
  try {
    b.Assign(&other);
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "Impossible d'affecter TPersistent à TBitmap");
  }
}

TEST(Bitmap, ExchangeTradesPicturesAndKeepsEachCanvasOnItsOwnBitmap) {
  TBitmap a(4, 3, pf24bit);
  a.Canvas().SetPixel(3, 0, 0x010203);
  TBitmap b(2, 5, pf32bit);
  b.Canvas().SetPixel(1, 4, 0x0A0B0C);
  const uint64_t stampA = a.Stamp();
  const uint64_t stampB = b.Stamp();

  a.Exchange(b);

  EXPECT_NE(a.Stamp(), stampA);
  EXPECT_NE(b.Stamp(), stampB);
  ASSERT_EQ(a.Width(), 2);
  ASSERT_EQ(a.Height(), 5);
  EXPECT_EQ(a.PixelFormat(), pf32bit);
  EXPECT_EQ(a.RowBytes(), 8u);
  EXPECT_EQ(a.Canvas().Pixel(1, 4), 0x0A0B0Cu);
  ASSERT_EQ(b.Width(), 4);
  ASSERT_EQ(b.Height(), 3);
  EXPECT_EQ(b.PixelFormat(), pf24bit);
  EXPECT_EQ(b.RowBytes(), 12u);
  EXPECT_EQ(b.Canvas().Pixel(3, 0), 0x010203u);
  // Each canvas draws on its own bitmap, whatever block that now holds.
  a.Canvas().SetPixel(0, 0, 0x111111);
  EXPECT_EQ(a.Canvas().Pixel(0, 0), 0x111111u);
  EXPECT_EQ(b.Canvas().Pixel(0, 0), 0u);
  // With itself: nothing changes.
  a.Exchange(a);
  EXPECT_EQ(a.Width(), 2);
  EXPECT_EQ(a.Canvas().Pixel(0, 0), 0x111111u);
}

// The stamp moves with every writable access and every change of size, format or content, and
// stays put through reads and through changes that change nothing.
struct StampCase {
  const char* name;
  void (*act)(TBitmap&);
  bool changes;
};

class BitmapStamp : public testing::TestWithParam<StampCase> {};

TEST_P(BitmapStamp, MovesExactlyWithPossibleChanges) {
  TBitmap bitmap(4, 3, pf32bit);
  const uint64_t before = bitmap.Stamp();
  EXPECT_EQ(bitmap.Stamp(), before);
  GetParam().act(bitmap);
  const uint64_t after = bitmap.Stamp();
  EXPECT_EQ(after != before, GetParam().changes);
  EXPECT_EQ(bitmap.Stamp(), after);  // asking again is not a change
}

const TBitmap& AsConst(TBitmap& bitmap) {
  return bitmap;
}

INSTANTIATE_TEST_SUITE_P(
    Accesses, BitmapStamp,
    testing::Values(StampCase{"ConstScanLine", [](TBitmap& b) { (void)AsConst(b).ScanLine(1); },
                              false},
                    StampCase{"ConstBits", [](TBitmap& b) { (void)AsConst(b).Bits(); }, false},
                    StampCase{"SameSize", [](TBitmap& b) { b.SetSize(4, 3); }, false},
                    StampCase{"SameFormat", [](TBitmap& b) { b.SetPixelFormat(pf32bit); }, false},
                    StampCase{"ScanLine", [](TBitmap& b) { b.ScanLine(2)[0] = 1; }, true},
                    StampCase{"Bits",
                              [](TBitmap& b) {
                                if (uint8_t* bits = b.Bits()) bits[0] = 1;
                              },
                              true},
                    StampCase{"Canvas", [](TBitmap& b) { b.Canvas().SetPixel(0, 0, clRed); }, true},
                    StampCase{"Resize", [](TBitmap& b) { b.SetSize(0, 0); }, true},
                    StampCase{"Format", [](TBitmap& b) { b.SetPixelFormat(pf24bit); }, true},
                    StampCase{"Assign",
                              [](TBitmap& b) {
                                const TBitmap other(4, 3, pf32bit);
                                b.Assign(&other);
                              },
                              true}),
    [](const testing::TestParamInfo<StampCase>& row) { return std::string(row.param.name); });

TEST(Pixmap, AssignsToABitmapTopDownAndDraws) {
  TPixmap p(2, 2);
  p.Row(0)[0] = 9;  // blue of the top-left pixel
  TBitmap b;
  b.Assign(&p);
  EXPECT_EQ(b.PixelFormat(), pf32bit);
  EXPECT_EQ(b.Canvas().Pixel(0, 0), 0x090000u);
  TBitmap c(3, 3);
  c.Canvas().Draw(1, 1, p);
  EXPECT_EQ(c.Canvas().Pixel(1, 1), 0x090000u);
}

TEST(Canvas, PixelOutsideReadsAllBitsSet) {
  TBitmap b(2, 2);
  EXPECT_EQ(b.Canvas().Pixel(2, 0), clInvalid);
  EXPECT_EQ(b.Canvas().Pixel(0, -1), clInvalid);
  b.Canvas().SetPixel(5, 5, clRed);  // ignored
}

TEST(Canvas, FillRectExcludesRightAndBottomAndClips) {
  TBitmap b(4, 4);
  b.Canvas().Brush.Color = 0xFF00FF;
  b.Canvas().FillRect({1, 1, 3, 3});
  EXPECT_EQ(b.Canvas().Pixel(1, 1), 0xFF00FFu);
  EXPECT_EQ(b.Canvas().Pixel(2, 2), 0xFF00FFu);
  EXPECT_EQ(b.Canvas().Pixel(3, 3), 0u);
  EXPECT_EQ(b.Canvas().Pixel(0, 0), 0u);
  b.Canvas().FillRect({-5, -5, 50, 50});
  EXPECT_EQ(b.Canvas().Pixel(3, 3), 0xFF00FFu);
}

TEST(Canvas, LineToLeavesOutItsEndPoint) {
  TBitmap b(10, 10);
  auto& c = b.Canvas();
  c.Pen.Color = clRed;
  c.MoveTo(1, 5);
  c.LineTo(6, 5);
  for (int x = 1; x < 6; ++x) EXPECT_EQ(c.Pixel(x, 5), clRed) << x;
  EXPECT_EQ(c.Pixel(6, 5), 0u);
  EXPECT_EQ(c.PenPos(), (TPoint{6, 5}));
  c.MoveTo(0, 9);
  c.LineTo(9, 0);  // a diagonal visits one pixel per column
  for (int x = 0; x < 9; ++x) EXPECT_EQ(c.Pixel(x, 9 - x), clRed) << x;
  EXPECT_EQ(c.Pixel(9, 0), 0u);
}

TEST(GetDIBits32, ConvertsAnyFormatToBottomUp32BitRows) {
  TBitmap b(3, 2, pf24bit);
  b.Canvas().SetPixel(0, 0, 0x0000FF);  // top-left red
  uint8_t block[3 * 2 * 4];
  std::memset(block, 0xEE, sizeof block);
  EXPECT_EQ(GetDIBits32(b, block), 2);
  // Top row is stored second.
  EXPECT_EQ(block[12 + 2], 0xFF);
  EXPECT_EQ(block[12 + 3], 0);
  EXPECT_EQ(block[0 + 2], 0);
  TBitmap empty;
  EXPECT_EQ(GetDIBits32(empty, block), 0);
}

TEST(Errors, TextsAreTheUsersOwn) {
  EXPECT_STREQ(EOutOfMemory().what(), "Mémoire insuffisante");
  EXPECT_STREQ(EDivByZero().what(), "Division par zéro");
  EXPECT_STREQ(EReadError().what(), "Erreur de lecture du flux");
  EXPECT_STREQ(EFCreateError("a.bmp").what(), "Impossible de créer le fichier a.bmp");
  EXPECT_STREQ(EListError(-1).what(), "Indice de liste hors limites (-1)");
  EXPECT_STREQ(EConvertError("nil", "TBitmap").what(), "Impossible d'affecter nil à TBitmap");
  EXPECT_STREQ(EFOpenError("a.png").what(), "Impossible d'ouvrir le fichier a.png");
  EXPECT_STREQ(EWriteError().what(), "Erreur d'écriture du flux");
  EXPECT_STREQ(EJPEG(42).what(), "JPEG error #42");
  EXPECT_STREQ(EPrinter().what(), "Aucune imprimante par défaut sélectionnée");
}

}  // namespace
}  // namespace ombrix
