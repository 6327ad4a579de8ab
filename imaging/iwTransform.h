#pragma once
// The geometric transform stage: an ordered list of elementary transformations (rotate,
// offset, scale, skew) composed into one affine matrix that stays current whenever the list or
// an item changes, a background colour and a resampling choice. The stage holds, composes,
// copies and announces these settings; nothing applies them to a picture. Everything here
// runs on the GUI thread.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Classes.h"
#include "iwInterpolate.h"
#include "iwMisc.h"

namespace ombrix {

// The colour that stands for "the default one"; not a colour of its own.
inline constexpr TColor clDefault = 0x20000000;

enum TTransformationKind : uint8_t { tkRotate, tkOffset, tkScale, tkSkew };

// An affine matrix of six 32-bit floats. A point as a row vector (x, y, 1) maps to
// x' = x M11 + y M21 + Dx and y' = x M12 + y M22 + Dy. The default is the identity.
struct TAffineMatrix {
  float M11 = 1;
  float M12 = 0;
  float M21 = 0;
  float M22 = 1;
  float Dx = 0;
  float Dy = 0;
};
static_assert(sizeof(TAffineMatrix) == 24, "the matrix is compared as 24 bytes");

// The product A x B: A applied first, then B. Each element is computed in extended precision
// and rounded to a 32-bit float.
TAffineMatrix MultiplyMatrix(const TAffineMatrix& a, const TAffineMatrix& b);

// Degrees to radians as the transformations use them: Frac(degrees / 360) x 2 pi, rounded to
// a 32-bit float. Frac keeps the sign, so 370 gives the radians of 10 and -30 those of -30.
float DegreesToRadians(float degrees);

class TTransformations;
class TImageTransform;

// One elementary transformation. A new item is a rotation by 0 with X and Y 0. Belongs to a
// TTransformations (made by its Add or Insert), or stands alone (made directly) and then
// announces nothing.
class TTransformation : public TPersistent {
 public:
  static constexpr const char* kClassName = "TTransformation";

  // A free-standing item, in no list.
  TTransformation() = default;
  const char* ClassName() const override { return kClassName; }

  float X() const { return x_; }
  float Y() const { return y_; }
  float Angle() const { return angle_; }
  TTransformationKind Kind() const { return kind_; }

  // A value equal to the current one (32-bit comparison; a NaN counts as equal) is dropped.
  // X and Y are also dropped, silently, while Kind is tkSkew and value / 90 is an odd whole
  // number (a skew of 90 or 270 degrees has no matrix). Otherwise the value is stored and
  // the list hears of the change.
  void SetX(float value);
  void SetY(float value);
  void SetAngle(float value);
  // An unchanged kind does nothing. Otherwise stores it; a kind other than tkRotate sets
  // Angle to 0; X and Y both become 100 for tkScale, 0 for any other kind; one change is
  // announced.
  void SetKind(TTransformationKind kind);

  // What component persistence would store: Angle only for a rotation, X and Y only for the
  // other kinds, Kind always.
  bool AngleStored() const { return kind_ == tkRotate; }
  bool XStored() const { return kind_ != tkRotate; }
  bool YStored() const { return kind_ != tkRotate; }

  // From another TTransformation: Kind, Angle, X, Y in this order through the setters. Any
  // other source (or none) raises EConvertError.
  void Assign(const TPersistent* source) override;

  // "Rotate (30°)", "Offset (5 pixels, -2 pixels)", "Scale (50%, 50%)", "Skew (10°, 0°)":
  // the values as the general format prints them (up to 15 significant digits, trailing
  // zeros removed, the locale's decimal separator), so 0.1 reads 0.100000001490116.
  std::string GetDisplayName() const;

  // The matrix of this item alone.
  TAffineMatrix Matrix() const;

  // The list this item belongs to, or null.
  TTransformations* Collection() const { return collection_; }
  // The position in the list, -1 when in none.
  int Index() const;
  // Moves the item to position index of its list (clamped to the list); the list hears of
  // the change when the position differs.
  void SetIndex(int index);

 private:
  friend class TTransformations;
  void Changed();

  TTransformations* collection_ = nullptr;
  float x_ = 0;
  float y_ = 0;
  float angle_ = 0;
  TTransformationKind kind_ = tkRotate;
};

// The ordered list of a transform stage. After any change to the list or to an item while no
// update bracket of the list is open, and when the outermost bracket closes, the owning stage
// recomposes its matrix.
class TTransformations : public TPersistent {
 public:
  static constexpr const char* kClassName = "TTransformations";

  // owner may be null: a list that belongs to no stage.
  explicit TTransformations(TImageTransform* owner);
  ~TTransformations() override;
  const char* ClassName() const override { return kClassName; }

  TImageTransform* GetOwner() const { return owner_; }
  int Count() const { return static_cast<int>(items_.size()); }
  // The item at index; EListError(index) outside 0 .. Count - 1.
  TTransformation* Items(int index) const;

  // A new item (a rotation by 0) at the end, or at index (0 .. Count; EListError otherwise).
  // EOutOfMemory when it cannot be had.
  TTransformation* Add();
  TTransformation* Insert(int index);
  // Frees the item at index; EListError outside 0 .. Count - 1.
  void Delete(int index);
  // Frees every item; one change at most.
  void Clear();

  void BeginUpdate();
  // Closes one bracket; closing the outermost recomposes the owner's matrix.
  void EndUpdate();

  // From another TTransformations: the items are replaced by copies of the source's, in
  // order, inside one bracket. Any other source (or none) raises EConvertError.
  void Assign(const TPersistent* source) override;

 protected:
  // Runs after a change while no bracket is open; item is the changed item, or null when the
  // list itself changed. Makes the owner recompose its matrix.
  virtual void Update(TTransformation* item);

 private:
  friend class TTransformation;
  void Changed();
  TTransformation* InsertItem(std::size_t index);

  TImageTransform* owner_;
  std::vector<std::unique_ptr<TTransformation>> items_;
  int32_t updateCount_ = 0;
};

// The geometric stage of TImageWork.
class TImageTransform : public TImageBaseProcess {
 public:
  static constexpr const char* kClassName = "TImageTransform";

  // An empty list, BackColor clDefault, Resample rsBilinear, the identity matrix.
  explicit TImageTransform(TImageWork* owner);
  ~TImageTransform() override;
  const char* ClassName() const override { return kClassName; }

  TColor BackColor() const { return backColor_; }
  // Stores a different value and calls Changed; an equal value does nothing.
  void SetBackColor(TColor color);
  TResample Resample() const { return resample_; }
  void SetResample(TResample resample);

  TTransformations& Transformations() const { return *transformations_; }
  // The list becomes a copy of source's items.
  void SetTransformations(const TTransformations& source);

  // The product of the items' matrices in list order (item 0 applied first).
  const TAffineMatrix& Matrix() const { return matrix_; }

  // From another TImageTransform: its Resample, BackColor and list, then the base Assign, all
  // inside one bracket, so the owner hears one change at most. From another processing stage
  // nothing is copied; any other source raises EConvertError.
  void Assign(const TPersistent* source) override;

  // The base bracket first, then the list's. EndUpdate closes them in the reverse order, so a
  // matrix recomposed when the list's bracket closes is announced once by the base's.
  void BeginUpdate() override;
  void EndUpdate() override;

  // Recomposes the matrix; stores it and calls Changed when its 24 bytes differ from the
  // stored ones (+0 and -0 count as different), does nothing otherwise.
  void UpdateMatrix();

 private:
  TColor backColor_ = clDefault;
  TResample resample_ = rsBilinear;
  std::unique_ptr<TTransformations> transformations_;
  TAffineMatrix matrix_;
};

}  // namespace ombrix
