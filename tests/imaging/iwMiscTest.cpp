#include "iwMisc.h"

#include <gtest/gtest.h>

#include <string>

#include "Errors.h"
#include "TestPictures.h"

namespace ombrix {
namespace {

using test::ChangeCounter;
using test::Fill;

// A picture that can only draw itself: assigning it to a bitmap fails.
class DrawOnlyGraphic : public TGraphic {
 public:
  DrawOnlyGraphic(int width, int height) : width_(width), height_(height) {}
  int Width() const override { return width_; }
  int Height() const override { return height_; }
  void SetWidth(int width) override { width_ = width; }
  void SetHeight(int height) override { height_ = height; }
  bool Empty() const override { return width_ == 0 || height_ == 0; }
  void Draw(TCanvas& canvas, int x, int y) const override { canvas.SetPixel(x, y, clRed); }

 private:
  int width_;
  int height_;
};

// Colour of stored pixel i (0 = bottom left) of a view, as 0x00BBGGRR.
TColor StoredColor(const TGraphicRGB& view, int i) {
  const uint8_t* p = view.Bits() + 4 * i;
  return static_cast<TColor>(p[2] | p[1] << 8 | p[0] << 16);
}

TEST(WorkingImage, ThirtyTwoBitsAreViewedInPlaceOtherBitmapsAreConverted) {
  TBitmap b32(3, 2, pf32bit);
  TGraphicRGB inPlace(&b32);
  EXPECT_EQ(inPlace.Bits(), b32.ScanLine(1));
  EXPECT_FALSE(inPlace.OwnsBits());
  EXPECT_EQ(inPlace.TempBitmap(), nullptr);

  TBitmap b24(3, 2, pf24bit);
  Fill(b24, 0x102030);
  b24.Canvas().SetPixel(2, 0, 0x0A0B0C);
  TGraphicRGB converted(&b24);
  ASSERT_TRUE(converted.Valid());
  EXPECT_TRUE(converted.OwnsBits());
  EXPECT_EQ(StoredColor(converted, 5), 0x0A0B0Cu);  // top right is stored last
  EXPECT_EQ(StoredColor(converted, 0), 0x102030u);
}

TEST(WorkingImage, OtherPicturesAreAssignedOrDrawnIntoATemporaryBitmap) {
  TPixmap pixmap(2, 2);
  pixmap.Row(0)[2] = 99;  // red of the top-left pixel
  TGraphicRGB assigned(&pixmap);
  ASSERT_NE(assigned.TempBitmap(), nullptr);
  EXPECT_EQ(assigned.Bits(), assigned.TempBitmap()->ScanLine(1));
  EXPECT_EQ(StoredColor(assigned, 2), 99u);

  DrawOnlyGraphic drawing(3, 2);
  TGraphicRGB drawn(&drawing);
  ASSERT_TRUE(drawn.Valid());
  EXPECT_EQ(drawn.TempBitmap()->PixelFormat(), pf32bit);
  EXPECT_EQ(StoredColor(drawn, 3), clRed);
  EXPECT_EQ(StoredColor(drawn, 0), clBlack);
}

TEST(WorkingImage, PicturesWithoutPixelsGiveAnInvalidView) {
  TBitmap empty32;
  TBitmap empty24(0, 4, pf24bit);
  DrawOnlyGraphic emptyDrawing(5, 0);
  for (TGraphic* g : {static_cast<TGraphic*>(nullptr), static_cast<TGraphic*>(&empty32),
                      static_cast<TGraphic*>(&empty24), static_cast<TGraphic*>(&emptyDrawing)}) {
    TGraphicRGB view(g);
    EXPECT_FALSE(view.Valid());
    EXPECT_EQ(view.Bits(), nullptr);
  }
}

TEST(StageBase, NestedBracketsAnnounceOnceAtTheOutermostEndAndOnlyAfterAChange) {
  TImageBaseProcess stage(nullptr);
  ChangeCounter changes(stage);
  stage.BeginUpdate();
  stage.BeginUpdate();
  stage.Changed();
  stage.Changed();
  stage.EndUpdate();
  EXPECT_EQ(changes.count, 0);
  stage.EndUpdate();
  EXPECT_EQ(changes.count, 1);
  stage.BeginUpdate();
  stage.EndUpdate();
  EXPECT_EQ(changes.count, 1);
  stage.Changed();
  EXPECT_EQ(changes.count, 2);
  EXPECT_EQ(changes.wrongSender, 0);
}

TEST(StageBase, BracketClosesAndAnnouncesWhenItsBodyThrows) {
  TImageBaseProcess stage(nullptr);
  ChangeCounter changes(stage);
  EXPECT_THROW(stage.WithUpdate([&] {
    stage.Changed();
    throw EReadError();
  }),
               EReadError);
  EXPECT_EQ(changes.count, 1);
  stage.Changed();
  EXPECT_EQ(changes.count, 2);
}

TEST(StageBase, AssignAcceptsStagesOnly) {
  TImageBaseProcess stage(nullptr);
  TImageBaseProcess other(nullptr);
  EXPECT_NO_THROW(stage.Assign(&other));
  TBitmap bitmap;
  try {
    stage.Assign(&bitmap);
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(std::string(e.what()), "Impossible d'affecter TBitmap à TImageBaseProcess");
  }
  EXPECT_THROW(stage.Assign(nullptr), EConvertError);
}

}  // namespace
}  // namespace ombrix
