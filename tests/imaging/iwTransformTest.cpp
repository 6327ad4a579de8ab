#include "iwTransform.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "Errors.h"
#include "iwFilters.h"

namespace ombrix {
namespace {

// A list that counts the changes it hears of, with or without an owning stage.
class CountingList : public TTransformations {
 public:
  using TTransformations::TTransformations;
  int updates = 0;

 protected:
  void Update(TTransformation* item) override {
    ++updates;
    TTransformations::Update(item);
  }
};

// A transform stage whose announcements are counted.
struct Stage {
  TImageTransform transform{nullptr};
  int changes = 0;
  Stage() {
    transform.OnChange = [this](TImageBaseProcess* sender) {
      EXPECT_EQ(sender, &transform);
      ++changes;
    };
  }
  TTransformation* Add(TTransformationKind kind, float x, float y, float angle = 0) {
    TTransformation* item = transform.Transformations().Add();
    item->SetKind(kind);
    item->SetX(x);
    item->SetY(y);
    item->SetAngle(angle);
    return item;
  }
};

bool SameBytes(const TAffineMatrix& a, const TAffineMatrix& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

void ExpectMatrix(const TAffineMatrix& m, float m11, float m12, float m21, float m22, float dx,
                  float dy) {
  EXPECT_FLOAT_EQ(m.M11, m11);
  EXPECT_FLOAT_EQ(m.M12, m12);
  EXPECT_FLOAT_EQ(m.M21, m21);
  EXPECT_FLOAT_EQ(m.M22, m22);
  EXPECT_FLOAT_EQ(m.Dx, dx);
  EXPECT_FLOAT_EQ(m.Dy, dy);
}

TEST(Transformation, KindChangesResetTheNumbers) {
  TTransformation item;
  item.SetAngle(30);
  item.SetKind(tkScale);
  EXPECT_EQ(item.X(), 100);
  EXPECT_EQ(item.Y(), 100);
  EXPECT_EQ(item.Angle(), 0);
  item.SetAngle(45);  // set while the kind is scale: survives the change back
  item.SetKind(tkRotate);
  EXPECT_EQ(item.X(), 0);
  EXPECT_EQ(item.Y(), 0);
  EXPECT_EQ(item.Angle(), 45);
  item.SetKind(tkOffset);
  EXPECT_EQ(item.Angle(), 0);
  item.SetX(7);
  item.SetKind(tkOffset);  // unchanged kind: nothing is reset
  EXPECT_EQ(item.X(), 7);
}

TEST(Transformation, SkewRefusesOddMultiplesOfNinetyDegreesSilently) {
  CountingList list(nullptr);
  TTransformation* item = list.Add();
  item->SetKind(tkSkew);
  item->SetX(10);
  list.updates = 0;
  for (float refused : {90.0f, -90.0f, 270.0f, -270.0f, 450.0f}) {
    item->SetX(refused);
    item->SetY(refused);
    EXPECT_EQ(item->X(), 10) << refused;
    EXPECT_EQ(item->Y(), 0) << refused;
  }
  EXPECT_EQ(list.updates, 0);
  for (float accepted : {180.0f, 360.0f, -180.0f, 89.5f, 0.0f}) {
    item->SetX(accepted);
    EXPECT_EQ(item->X(), accepted);
  }
  // Other kinds take any value.
  item->SetKind(tkOffset);
  item->SetX(90);
  EXPECT_EQ(item->X(), 90);
}

TEST(Transformation, EachRealChangeIsAnnouncedOnceAndEqualValuesNever) {
  CountingList list(nullptr);
  TTransformation* item = list.Add();
  EXPECT_EQ(list.updates, 1);  // the addition
  list.updates = 0;
  item->SetAngle(0);
  item->SetAngle(-0.0f);  // equal as 32-bit values
  item->SetAngle(std::numeric_limits<float>::quiet_NaN());
  item->SetKind(tkRotate);
  EXPECT_EQ(list.updates, 0);
  EXPECT_EQ(item->Angle(), 0);
  item->SetAngle(12);
  item->SetX(3);           // X of a rotation: stored, announced, though it shapes no matrix
  item->SetKind(tkScale);  // one announcement for the three numbers it resets
  EXPECT_EQ(list.updates, 3);
}

TEST(Transformation, DisplayNamesUseTheGeneralNumberFormat) {
  TTransformation item;
  item.SetAngle(0.1f);
  EXPECT_EQ(item.GetDisplayName(), "Rotate (0.100000001490116°)");
  item.SetAngle(-30);
  EXPECT_EQ(item.GetDisplayName(), "Rotate (-30°)");
  item.SetKind(tkScale);
  item.SetX(50);
  item.SetY(50);
  EXPECT_EQ(item.GetDisplayName(), "Scale (50%, 50%)");
  item.SetKind(tkOffset);
  item.SetX(-2.5f);
  item.SetY(123456);
  EXPECT_EQ(item.GetDisplayName(), "Offset (-2.5 pixels, 123456 pixels)");
  item.SetKind(tkSkew);
  item.SetX(10);
  EXPECT_EQ(item.GetDisplayName(), "Skew (10°, 0°)");
  // Fixed notation reaches down to 0.00001; beyond it, and past 15 digits, scientific.
  item.SetKind(tkScale);
  item.SetX(0.00002f);
  item.SetY(1e-6f);
  EXPECT_EQ(item.GetDisplayName(), "Scale (0.0000199999994947575%, 9.99999997475243E-7%)");
  item.SetX(1e20f);
  EXPECT_EQ(item.GetDisplayName(), "Scale (1.00000002004088E20%, 9.99999997475243E-7%)");
}

TEST(Transformation, AssignCopiesThroughTheSettersAndRefusesOtherClasses) {
  TTransformation source;
  source.SetKind(tkSkew);
  source.SetX(20);
  source.SetY(-5);
  TTransformation copy;
  copy.SetAngle(33);
  copy.Assign(&source);
  EXPECT_EQ(copy.Kind(), tkSkew);
  EXPECT_EQ(copy.X(), 20);
  EXPECT_EQ(copy.Y(), -5);
  EXPECT_EQ(copy.Angle(), 0);
  copy.Assign(&copy);
  EXPECT_EQ(copy.X(), 20);

  TImageTransform stage(nullptr);
  try {
    copy.Assign(&stage);
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "Impossible d'affecter TImageTransform à TTransformation");
  }
  EXPECT_THROW(copy.Assign(nullptr), EConvertError);
}

TEST(Matrix, OfEachKind) {
  TTransformation item;
  item.SetAngle(30);
  ExpectMatrix(item.Matrix(), 0.866025388f, 0.5f, -0.5f, 0.866025388f, 0, 0);
  item.SetAngle(90);  // a positive angle turns clockwise on a raster whose y grows down
  ExpectMatrix(item.Matrix(), -4.37113883e-08f, 1, -1, -4.37113883e-08f, 0, 0);
  item.SetAngle(-30);
  ExpectMatrix(item.Matrix(), 0.866025388f, -0.5f, 0.5f, 0.866025388f, 0, 0);
  item.SetAngle(370);
  const TAffineMatrix turned = item.Matrix();
  item.SetAngle(10);
  EXPECT_TRUE(SameBytes(turned, item.Matrix()));

  item.SetKind(tkOffset);
  item.SetX(5);
  item.SetY(-7);
  ExpectMatrix(item.Matrix(), 1, 0, 0, 1, 5, -7);
  item.SetKind(tkScale);
  item.SetX(50);
  item.SetY(250);
  ExpectMatrix(item.Matrix(), 0.5f, 0, 0, 2.5f, 0, 0);
  item.SetKind(tkSkew);
  item.SetX(45);
  const TAffineMatrix skew = item.Matrix();
  ExpectMatrix(skew, 1, 0, 1, 1, 0, 0);
  EXPECT_FALSE(std::signbit(skew.M12));  // a zero angle leaves its element exactly +0
}

TEST(Matrix, ItemsComposeInListOrder) {
  Stage stage;
  EXPECT_TRUE(SameBytes(stage.transform.Matrix(), TAffineMatrix{}));
  TTransformation* offset = stage.Add(tkOffset, 10, 0);
  stage.Add(tkScale, 200, 100);
  // The point passes the offset first, then the scale: x' = (x + 10) * 2.
  ExpectMatrix(stage.transform.Matrix(), 2, 0, 0, 1, 20, 0);
  offset->SetIndex(1);
  ExpectMatrix(stage.transform.Matrix(), 2, 0, 0, 1, 10, 0);
  stage.transform.Transformations().Insert(0)->SetAngle(90);
  // Rotating (1, 0) by 90 gives (0, 1); the scale keeps it, the offset moves it to (10, 1).
  const TAffineMatrix m = stage.transform.Matrix();
  EXPECT_NEAR(1 * m.M11 + 0 * m.M21 + m.Dx, 10, 1e-6);
  EXPECT_NEAR(1 * m.M12 + 0 * m.M22 + m.Dy, 1, 1e-6);
  stage.transform.Transformations().Clear();
  EXPECT_TRUE(SameBytes(stage.transform.Matrix(), TAffineMatrix{}));
}

TEST(Matrix, TheDefaultRotationKeepsTheIdentityAndAnnouncesNothing) {
  // Alone, a rotation by 0 has M21 = -sin 0 = -0; composed after the identity it becomes +0,
  // so the matrix keeps its 24 bytes.
  Stage stage;
  stage.transform.Transformations().Add();
  EXPECT_TRUE(SameBytes(stage.transform.Matrix(), TAffineMatrix{}));
  EXPECT_EQ(stage.changes, 0);
}

TEST(Stage, DefaultsAndSettersAnnounceOnlyRealChanges) {
  Stage stage;
  EXPECT_EQ(stage.transform.BackColor(), clDefault);
  EXPECT_EQ(stage.transform.BackColor(), 0x20000000u);
  EXPECT_EQ(stage.transform.Resample(), rsBilinear);
  stage.transform.SetBackColor(clDefault);
  stage.transform.SetResample(rsBilinear);
  EXPECT_EQ(stage.changes, 0);
  stage.transform.SetResample(rsBicubic);
  stage.transform.SetBackColor(clRed);
  EXPECT_EQ(stage.changes, 2);
  // Item changes that leave the matrix as it is are not the stage's changes.
  TTransformation* item = stage.transform.Transformations().Add();
  item->SetX(4);
  EXPECT_EQ(stage.changes, 2);
  item->SetAngle(1);
  EXPECT_EQ(stage.changes, 3);
  stage.transform.Transformations().Delete(0);
  EXPECT_EQ(stage.changes, 4);
  EXPECT_THROW(stage.transform.Transformations().Delete(0), EListError);
  EXPECT_THROW(stage.transform.Transformations().Items(0), EListError);
  EXPECT_THROW(stage.transform.Transformations().Insert(1), EListError);
}

TEST(Stage, ChangesInsideBracketsAreAnnouncedOnceAtTheOutermostEnd) {
  Stage stage;
  stage.transform.BeginUpdate();
  stage.transform.BeginUpdate();
  stage.Add(tkOffset, 3, 4);
  stage.Add(tkScale, 50, 50);
  stage.transform.SetResample(rsNearestNeighbor);
  stage.transform.EndUpdate();
  EXPECT_EQ(stage.changes, 0);
  ExpectMatrix(stage.transform.Matrix(), 1, 0, 0, 1, 0, 0);  // recomposed only at the end
  stage.transform.EndUpdate();
  EXPECT_EQ(stage.changes, 1);
  ExpectMatrix(stage.transform.Matrix(), 0.5f, 0, 0, 0.5f, 1.5f, 2);

  stage.transform.BeginUpdate();
  stage.transform.SetResample(rsNearestNeighbor);
  stage.transform.EndUpdate();
  EXPECT_EQ(stage.changes, 1);
}

TEST(Stage, AssignCopiesEverythingWithOneAnnouncement) {
  Stage source;
  source.Add(tkRotate, 0, 0, 30);
  source.Add(tkSkew, 10, 20);
  source.transform.SetBackColor(0x123456);
  source.transform.SetResample(rsBicubic);

  Stage target;
  target.Add(tkScale, 300, 300);
  target.changes = 0;
  target.transform.Assign(&source.transform);
  EXPECT_EQ(target.changes, 1);
  EXPECT_EQ(target.transform.BackColor(), 0x123456u);
  EXPECT_EQ(target.transform.Resample(), rsBicubic);
  ASSERT_EQ(target.transform.Transformations().Count(), 2);
  EXPECT_EQ(target.transform.Transformations().Items(1)->GetDisplayName(), "Skew (10°, 20°)");
  EXPECT_TRUE(SameBytes(target.transform.Matrix(), source.transform.Matrix()));
  // The copies are the target's own.
  EXPECT_NE(target.transform.Transformations().Items(0),
            source.transform.Transformations().Items(0));
  EXPECT_EQ(target.transform.Transformations().Items(0)->Collection(),
            &target.transform.Transformations());

  target.transform.Assign(&source.transform);
  EXPECT_EQ(target.changes, 1);  // nothing differed

  TCustomFilter filter(nullptr);
  target.transform.Assign(&filter);  // another stage: nothing to copy, no error
  EXPECT_EQ(target.changes, 1);
}

TEST(Stage, AssignFromAnotherClassFailsAndClosesItsBracket) {
  Stage stage;
  TTransformation item;
  try {
    stage.transform.Assign(&item);
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "Impossible d'affecter TTransformation à TImageTransform");
  }
  try {
    stage.transform.Assign(nullptr);
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "Impossible d'affecter nil à TImageTransform");
  }
  stage.Add(tkOffset, 1, 0);  // no bracket left open: announced at once
  EXPECT_EQ(stage.changes, 1);
  EXPECT_THROW(stage.transform.Transformations().Assign(&item), EConvertError);
}

}  // namespace
}  // namespace ombrix
