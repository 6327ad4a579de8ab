#include "iwMisc.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "Errors.h"
#include "TestPictures.h"

namespace ombrix {
namespace {

using test::ChangeCounter;
using test::Fill;

// A picture that knows only how to draw itself: assigning it to a bitmap fails.
class DrawOnlyGraphic : public TGraphic {
 public:
  DrawOnlyGraphic(int width, int height, TColor color)
      : width_(width), height_(height), color_(color) {}
  int Width() const override { return width_; }
  int Height() const override { return height_; }
  void SetWidth(int width) override { width_ = width; }
  void SetHeight(int height) override { height_ = height; }
  bool Empty() const override { return width_ == 0 || height_ == 0; }
  void Draw(TCanvas& canvas, int x, int y) const override {
    canvas.Brush.Color = color_;
    canvas.FillRect({x, y, x + width_, y + height_});
    canvas.SetPixel(x, y, clRed);
  }

 private:
  int width_;
  int height_;
  TColor color_;
};

// Blue, green, red of stored pixel i of a view.
TColor ViewColor(const TGraphicRGB& view, int i) {
  const uint8_t* p = view.Bits() + 4 * i;
  return static_cast<TColor>(p[2]) | static_cast<TColor>(p[1]) << 8 |
         static_cast<TColor>(p[0]) << 16;
}

TEST(WorkingImage, ThirtyTwoBitBitmapIsViewedInPlace) {
  TBitmap bitmap(3, 2, pf32bit);
  TGraphicRGB view(&bitmap);
  EXPECT_TRUE(view.Valid());
  EXPECT_FALSE(view.OwnsBits());
  EXPECT_EQ(view.TempBitmap(), nullptr);
  EXPECT_EQ(view.Bits(), bitmap.ScanLine(1));
  EXPECT_EQ(view.Width(), 3);
  EXPECT_EQ(view.Height(), 2);
}

TEST(WorkingImage, TwentyFourBitBitmapIsConvertedBottomUp) {
  TBitmap bitmap(3, 2, pf24bit);
  Fill(bitmap, 0x102030);
  bitmap.Canvas().SetPixel(2, 0, 0x0A0B0C);  // top right
  bitmap.Canvas().SetPixel(0, 1, 0x010203);  // bottom left
  TGraphicRGB view(&bitmap);
  ASSERT_TRUE(view.Valid());
  EXPECT_TRUE(view.OwnsBits());
  EXPECT_EQ(ViewColor(view, 0), 0x010203u);
  EXPECT_EQ(ViewColor(view, 5), 0x0A0B0Cu);
  EXPECT_EQ(ViewColor(view, 1), 0x102030u);
  EXPECT_EQ(bitmap.PixelFormat(), pf24bit);
}

TEST(WorkingImage, AssignablePictureGoesThroughATemporaryBitmap) {
  TPixmap pixmap(2, 2);
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 2; ++x) {
      uint8_t* p = pixmap.Row(y) + 4 * x;
      p[0] = static_cast<uint8_t>(10 * x);  // blue
      p[1] = static_cast<uint8_t>(10 * y);  // green
      p[2] = 99;
      p[3] = 255;
    }
  }
  TGraphicRGB view(&pixmap);
  ASSERT_TRUE(view.Valid());
  ASSERT_NE(view.TempBitmap(), nullptr);
  EXPECT_FALSE(view.OwnsBits());
  EXPECT_EQ(view.TempBitmap()->PixelFormat(), pf32bit);
  EXPECT_EQ(view.Bits(), view.TempBitmap()->ScanLine(1));
  // Stored pixel 0 is the bottom-left one: green 10, blue 0.
  EXPECT_EQ(ViewColor(view, 0), 0x000A63u);
  EXPECT_EQ(ViewColor(view, 3), 0x0A0063u);
}

TEST(WorkingImage, PictureThatCannotBeAssignedIsDrawn) {
  DrawOnlyGraphic graphic(3, 2, 0x445566);
  TGraphicRGB view(&graphic);
  ASSERT_TRUE(view.Valid());
  ASSERT_NE(view.TempBitmap(), nullptr);
  EXPECT_EQ(view.Width(), 3);
  EXPECT_EQ(view.TempBitmap()->Width(), 3);
  EXPECT_EQ(view.TempBitmap()->Height(), 2);
  EXPECT_EQ(ViewColor(view, 3), clRed);  // top left
  EXPECT_EQ(ViewColor(view, 0), 0x445566u);
}

TEST(WorkingImage, PicturesWithoutPixelsGiveAnInvalidView) {
  TGraphicRGB none(nullptr);
  EXPECT_FALSE(none.Valid());
  EXPECT_EQ(none.Width(), 0);
  EXPECT_EQ(none.Height(), 0);

  TBitmap empty32;
  TBitmap empty24(0, 4, pf24bit);
  TPixmap emptyPixmap(5, 0);
  DrawOnlyGraphic emptyDrawing(0, 3, clWhite);
  for (TGraphic* g :
       std::initializer_list<TGraphic*>{&empty32, &empty24, &emptyPixmap, &emptyDrawing}) {
    SCOPED_TRACE(g->ClassName());
    TGraphicRGB view(g);
    EXPECT_FALSE(view.Valid());
    EXPECT_EQ(view.Bits(), nullptr);
  }
}

TEST(StageBase, ChangesInsideNestedBracketsAreAnnouncedOnceAtTheOutermostEnd) {
  TImageBaseProcess stage(nullptr);
  ChangeCounter changes(stage);
  stage.Changed();
  EXPECT_EQ(changes.count, 1);

  stage.BeginUpdate();
  stage.BeginUpdate();
  stage.Changed();
  stage.Changed();
  stage.EndUpdate();
  EXPECT_EQ(changes.count, 1);
  stage.Changed();
  stage.EndUpdate();
  EXPECT_EQ(changes.count, 2);
  EXPECT_EQ(changes.wrongSender, 0);

  stage.BeginUpdate();
  stage.BeginUpdate();
  stage.EndUpdate();
  stage.EndUpdate();
  EXPECT_EQ(changes.count, 2);  // nothing changed inside
}

TEST(StageBase, BracketClosesAndAnnouncesWhenTheBodyThrows) {
  TImageBaseProcess stage(nullptr);
  ChangeCounter changes(stage);
  EXPECT_THROW(stage.WithUpdate([&] {
    stage.Changed();
    throw EReadError();
  }),
               EReadError);
  EXPECT_EQ(changes.count, 1);
  stage.Changed();  // the bracket is closed: immediate again
  EXPECT_EQ(changes.count, 2);
}

TEST(StageBase, BodyErrorWinsOverAListenerErrorAtTheClosingEnd) {
  TImageBaseProcess stage(nullptr);
  stage.OnChange = [](TImageBaseProcess*) { throw std::runtime_error("listener"); };
  EXPECT_THROW(stage.WithUpdate([&] {
    stage.Changed();
    throw EReadError();
  }),
               EReadError);
}

TEST(StageBase, AssignAcceptsStagesOnlyAndNamesBothClasses) {
  TImageBaseProcess stage(nullptr);
  TImageBaseProcess other(nullptr);
  ChangeCounter changes(stage);
  EXPECT_NO_THROW(stage.Assign(&other));
  EXPECT_EQ(changes.count, 0);

  TBitmap bitmap;
  try {
    stage.Assign(&bitmap);
    FAIL() << "assigning a bitmap to a stage must fail";
  } catch (const EConvertError& e) {
    EXPECT_EQ(std::string(e.what()), "Impossible d'affecter TBitmap à TImageBaseProcess");
  }
  try {
    stage.Assign(nullptr);
    FAIL() << "assigning nothing to a stage must fail";
  } catch (const EConvertError& e) {
    EXPECT_EQ(std::string(e.what()), "Impossible d'affecter nil à TImageBaseProcess");
  }
}

}  // namespace
}  // namespace ombrix
