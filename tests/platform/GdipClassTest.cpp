#include "GdipClass.h"

#include <gtest/gtest.h>

#include <cmath>

namespace ombrix {
namespace {

void Fill(TBitmap& b, TColor color) {
  b.Canvas().Brush.Color = color;
  b.Canvas().FillRect(TRect{0, 0, b.Width(), b.Height()});
}

TGPBitmap Wrap(const TBitmap& b) {
  return TGPBitmap(b.Width(), b.Height(), -static_cast<int32_t>(b.RowBytes()), PixelFormat32bppRGB,
                   b.ScanLine(0));
}

TEST(GdipBitmap, RefusesWhatItCannotReadSafely) {
  const uint8_t pixels[64] = {};
  struct {
    int32_t w, h, stride;
    PixelFormat format;
    const uint8_t* scan0;
  } cases[] = {{4, 4, 16, 0x21808, pixels},  // 24 bits per pixel
               {0, 4, 16, PixelFormat32bppRGB, pixels},
               {4, -1, 16, PixelFormat32bppRGB, pixels},
               {4, 4, 16, PixelFormat32bppRGB, nullptr},
               {4, 4, -12, PixelFormat32bppRGB, pixels}};  // rows would overlap
  for (const auto& c : cases) {
    const TGPBitmap b(c.w, c.h, c.stride, c.format, c.scan0);
    EXPECT_FALSE(b.Valid());
    EXPECT_EQ(b.LastStatus(), InvalidParameter);
  }
  const TGPBitmap good(4, 4, -16, PixelFormat32bppRGB, pixels + 48);
  EXPECT_TRUE(good.Valid());
  EXPECT_EQ(good.LastStatus(), Ok);
}

TEST(GdipImageAttributes, GammaForPicturesPrefersTheBitmapKind) {
  TGPImageAttributes a;
  EXPECT_EQ(a.PictureGamma(), 0.0f);
  EXPECT_EQ(a.SetGamma(2.2f), Ok);
  EXPECT_EQ(a.PictureGamma(), 2.2f);
  EXPECT_EQ(a.SetGamma(1.5f, ColorAdjustTypeBitmap), Ok);
  EXPECT_EQ(a.PictureGamma(), 1.5f);
  EXPECT_EQ(a.ClearGamma(ColorAdjustTypeBitmap), Ok);
  EXPECT_EQ(a.PictureGamma(), 2.2f);
  EXPECT_EQ(a.LastStatus(), Ok);
}

TEST(GdipImageAttributes, RefusedGammaChangesNothingAndIsRemembered) {
  TGPImageAttributes a;
  EXPECT_EQ(a.SetGamma(0.0f, ColorAdjustTypeBitmap), InvalidParameter);
  EXPECT_EQ(a.PictureGamma(), 0.0f);
  EXPECT_EQ(a.SetGamma(2.0f, ColorAdjustTypeBitmap), Ok);
  EXPECT_EQ(a.SetGamma(-1.0f, ColorAdjustTypeBitmap), InvalidParameter);
  EXPECT_EQ(a.SetGamma(NAN, ColorAdjustTypeBitmap), InvalidParameter);
  EXPECT_EQ(a.PictureGamma(), 2.0f);
  // A later success does not clear the failure.
  EXPECT_EQ(a.SetGamma(3.0f), Ok);
  EXPECT_EQ(a.LastStatus(), InvalidParameter);
}

TEST(GdipGraphics, PrependedTranslateThenScaleMapsScaleFirst) {
  TBitmap target(4, 4);
  TGPGraphics g(target);
  g.TranslateTransform(-180, -216);
  g.ScaleTransform(2, 2);
  // (x, y) -> (2x - 180, 2y - 216)
  EXPECT_EQ(g.Transform().ScaleX, 2);
  EXPECT_EQ(g.Transform().ScaleY, 2);
  EXPECT_EQ(g.Transform().OffsetX, -180);
  EXPECT_EQ(g.Transform().OffsetY, -216);
  // A prepended translation after the scale moves by scaled amounts: 2 (x + 1) - 180.
  g.TranslateTransform(1, 1);
  EXPECT_EQ(g.Transform().OffsetX, -178);
  // Appended steps act on the result: 3 (2x - 178) + 5.
  g.ScaleTransform(3, 1, MatrixOrderAppend);
  g.TranslateTransform(5, 0, MatrixOrderAppend);
  EXPECT_EQ(g.Transform().ScaleX, 6);
  EXPECT_EQ(g.Transform().OffsetX, -529);
  g.ResetTransform();
  EXPECT_EQ(g.Transform().ScaleX, 1);
  EXPECT_EQ(g.Transform().OffsetX, 0);
}

TEST(GdipGraphics, RefusedSettingsKeepTheOldOnesAndTheSequenceGoesOn) {
  TBitmap source(2, 2), target(2, 2);
  Fill(source, clWhite);
  TGPGraphics g(target);
  EXPECT_EQ(g.SetInterpolationMode(InterpolationModeInvalid), InvalidParameter);
  EXPECT_EQ(g.SetSmoothingMode(static_cast<SmoothingMode>(9)), InvalidParameter);
  EXPECT_EQ(g.ScaleTransform(INFINITY, 1), InvalidParameter);
  EXPECT_EQ(g.TranslateTransform(0, NAN), InvalidParameter);
  EXPECT_EQ(g.GetInterpolationMode(), InterpolationModeBilinear);
  EXPECT_EQ(g.Transform().ScaleX, 1);
  const TGPBitmap image = Wrap(source);
  EXPECT_EQ(g.DrawImage(&image, TGPRect{0, 0, 2, 2}, 0, 0, 2, 2, UnitPixel), Ok);
  EXPECT_EQ(target.Canvas().Pixel(1, 1), clWhite);
  EXPECT_EQ(g.LastStatus(), InvalidParameter);
}

TEST(GdipGraphics, FailedDrawsLeaveTheTargetAlone) {
  TBitmap source(4, 4), target(4, 4);
  Fill(source, clWhite);
  Fill(target, clRed);
  const TGPBitmap image = Wrap(source);
  const TGPBitmap invalid(4, 4, 16, PixelFormat32bppRGB, nullptr);
  TGPGraphics g(target);
  EXPECT_EQ(g.DrawImage(nullptr, TGPRect{0, 0, 4, 4}, 0, 0, 4, 4, UnitPixel), InvalidParameter);
  EXPECT_EQ(g.DrawImage(&invalid, TGPRect{0, 0, 4, 4}, 0, 0, 4, 4, UnitPixel), InvalidParameter);
  EXPECT_EQ(g.DrawImage(&image, TGPRect{0, 0, 4, 4}, 0, 0, 4, 4, UnitInch), NotImplemented);
  EXPECT_EQ(g.DrawImage(&image, TGPRect{0, 0, 4, 4}, 1, 0, 4, 4, UnitPixel), InvalidParameter);
  EXPECT_EQ(g.DrawImage(&image, TGPRect{0, 0, 4, 4}, 0, 0, 0, 4, UnitPixel), InvalidParameter);
  EXPECT_EQ(g.DrawImage(&image, TGPRect{0, 0, 0, 4}, 0, 0, 4, 4, UnitPixel), Ok);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(target.Canvas().Pixel(x, y), clRed);
  EXPECT_EQ(g.LastStatus(), InvalidParameter);
}

TEST(GdipGraphics, DrawsASourceRectangleOntoTheDestinationThroughTheTransform) {
  TBitmap source(8, 8), target(12, 12);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) source.Canvas().SetPixel(x, y, static_cast<TColor>(x + 16 * y));
  Fill(target, clWhite);
  const TGPBitmap image = Wrap(source);
  TGPImageAttributes gamma;
  gamma.SetGamma(1.0f, ColorAdjustTypeBitmap);
  TGPGraphics g(target);
  g.SetInterpolationMode(InterpolationModeHighQualityBicubic);
  g.TranslateTransform(3, 1);
  // Source (2, 3, 4 x 2) onto destination (1, 2, 4 x 2), moved by (3, 1): unscaled, so exact.
  EXPECT_EQ(g.DrawImage(&image, TGPRect{1, 2, 4, 2}, 2, 3, 4, 2, UnitPixel, &gamma), Ok);
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 12; ++x) {
      const bool drawn = x >= 4 && x < 8 && y >= 3 && y < 5;
      EXPECT_EQ(target.Canvas().Pixel(x, y),
                drawn ? static_cast<TColor>((x - 4 + 2) + 16 * (y - 3 + 3)) : clWhite)
          << x << "," << y;
    }
}

TEST(GdipGraphics, NearestNeighbourRepeatsPixels) {
  TBitmap source(2, 1), target(6, 1);
  source.Canvas().SetPixel(0, 0, clRed);
  source.Canvas().SetPixel(1, 0, clWhite);
  const TGPBitmap image = Wrap(source);
  TGPGraphics g(target);
  g.SetInterpolationMode(InterpolationModeNearestNeighbor);
  g.DrawImage(&image, TGPRect{0, 0, 6, 1}, 0, 0, 2, 1, UnitPixel);
  for (int x = 0; x < 6; ++x) EXPECT_EQ(target.Canvas().Pixel(x, 0), x < 3 ? clRed : clWhite);
}

}  // namespace
}  // namespace ombrix
