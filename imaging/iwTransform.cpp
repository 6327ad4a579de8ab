#include "iwTransform.h"

#include <algorithm>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <numbers>

#include "Errors.h"

namespace ombrix {

namespace {

// Settings compare as 32-bit values, and a NaN never counts as a change: it could never be
// compared equal again, so storing it would announce on every write.
bool SameValue(float a, float b) {
  return a == b || std::isnan(a) || std::isnan(b);
}

// A skew of an odd multiple of 90 degrees has an infinite tangent. The quotient is rounded to
// a 32-bit float first, so values that round onto such a multiple are refused as well.
bool SkewRefuses(TTransformationKind kind, float value) {
  if (kind != tkSkew) return false;
  const auto t = static_cast<float>(static_cast<long double>(value) / 90.0L);
  return std::fabs(std::fmod(t, 2.0f)) == 1.0f;
}

// The general number format: up to 15 significant digits, trailing zeros removed, fixed
// notation when the decimal exponent lies in -4 .. 14, otherwise d.dddE[-]x.
std::string FormatGeneral(double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  if (value == 0) return "0";
  const char* point = std::localeconv()->decimal_point;
  const std::string separator = point != nullptr && *point != '\0' ? point : ".";

  // to_chars is locale-independent: "-d.dddddddddddddde-xx", correctly rounded.
  char text[64];
  const auto result =
      std::to_chars(text, text + sizeof text, value, std::chars_format::scientific, 14);
  std::string mantissa(text, result.ptr);
  const bool negative = mantissa[0] == '-';
  if (negative) mantissa.erase(0, 1);
  const std::size_t e = mantissa.find('e');
  const int exponent = std::atoi(mantissa.c_str() + e + 1);
  std::string digits = mantissa.substr(0, 1) + mantissa.substr(2, e - 2);
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

  std::string out = negative ? "-" : "";
  // Fixed notation down to 0.00001, as the general format of the display names has it.
  if (exponent >= 15 || exponent < -5) {
    out += digits[0];
    if (digits.size() > 1) out += separator + digits.substr(1);
    out += 'E';
    out += std::to_string(exponent);
  } else if (exponent >= 0) {
    const auto whole = static_cast<std::size_t>(exponent) + 1;
    if (digits.size() <= whole) {
      out += digits + std::string(whole - digits.size(), '0');
    } else {
      out += digits.substr(0, whole) + separator + digits.substr(whole);
    }
  } else {
    out += "0" + separator + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
  }
  return out;
}

}  // namespace

TAffineMatrix MultiplyMatrix(const TAffineMatrix& a, const TAffineMatrix& b) {
  using L = long double;
  TAffineMatrix c;
  c.M11 = static_cast<float>(L{a.M11} * b.M11 + L{a.M12} * b.M21);
  c.M12 = static_cast<float>(L{a.M11} * b.M12 + L{a.M12} * b.M22);
  c.M21 = static_cast<float>(L{a.M21} * b.M11 + L{a.M22} * b.M21);
  c.M22 = static_cast<float>(L{a.M21} * b.M12 + L{a.M22} * b.M22);
  c.Dx = static_cast<float>(L{a.Dx} * b.M11 + L{a.Dy} * b.M21 + b.Dx);
  c.Dy = static_cast<float>(L{a.Dx} * b.M12 + L{a.Dy} * b.M22 + b.Dy);
  return c;
}

float DegreesToRadians(float degrees) {
  const long double turns = static_cast<long double>(degrees) / 360.0L;
  return static_cast<float>((turns - std::trunc(turns)) * 2 * std::numbers::pi_v<long double>);
}

// ---------------------------------------------------------------------------------------------
// TTransformation

void TTransformation::SetX(float value) {
  if (SameValue(value, x_) || SkewRefuses(kind_, value)) return;
  x_ = value;
  Changed();
}

void TTransformation::SetY(float value) {
  if (SameValue(value, y_) || SkewRefuses(kind_, value)) return;
  y_ = value;
  Changed();
}

void TTransformation::SetAngle(float value) {
  if (SameValue(value, angle_)) return;
  angle_ = value;
  Changed();
}

void TTransformation::SetKind(TTransformationKind kind) {
  if (kind == kind_) return;
  kind_ = kind;
  if (kind != tkRotate) angle_ = 0;
  x_ = y_ = kind == tkScale ? 100.0f : 0.0f;
  Changed();
}

void TTransformation::Assign(const TPersistent* source) {
  if (const auto* other = dynamic_cast<const TTransformation*>(source)) {
    // Read the source first: it may be this very item.
    const TTransformationKind kind = other->kind_;
    const float angle = other->angle_, x = other->x_, y = other->y_;
    SetKind(kind);
    SetAngle(angle);
    SetX(x);
    SetY(y);
    return;
  }
  TPersistent::Assign(source);
}

std::string TTransformation::GetDisplayName() const {
  switch (kind_) {
    case tkRotate:
      return "Rotate (" + FormatGeneral(angle_) + "°)";
    case tkOffset:
      return "Offset (" + FormatGeneral(x_) + " pixels, " + FormatGeneral(y_) + " pixels)";
    case tkScale:
      return "Scale (" + FormatGeneral(x_) + "%, " + FormatGeneral(y_) + "%)";
    case tkSkew:
      return "Skew (" + FormatGeneral(x_) + "°, " + FormatGeneral(y_) + "°)";
  }
  return {};
}

TAffineMatrix TTransformation::Matrix() const {
  TAffineMatrix m;
  switch (kind_) {
    case tkRotate: {
      const long double theta = DegreesToRadians(angle_);
      m.M11 = static_cast<float>(std::cos(theta));
      m.M12 = static_cast<float>(std::sin(theta));
      m.M21 = static_cast<float>(-std::sin(theta));
      m.M22 = static_cast<float>(std::cos(theta));
      break;
    }
    case tkOffset:
      m.Dx = x_;
      m.Dy = y_;
      break;
    case tkScale:
      m.M11 = static_cast<float>(static_cast<long double>(x_) / 100.0L);
      m.M22 = static_cast<float>(static_cast<long double>(y_) / 100.0L);
      break;
    case tkSkew:
      if (y_ != 0)
        m.M12 = static_cast<float>(std::tan(static_cast<long double>(DegreesToRadians(y_))));
      if (x_ != 0)
        m.M21 = static_cast<float>(std::tan(static_cast<long double>(DegreesToRadians(x_))));
      break;
  }
  return m;
}

int TTransformation::Index() const {
  if (collection_ == nullptr) return -1;
  for (int i = 0; i < collection_->Count(); ++i) {
    if (collection_->Items(i) == this) return i;
  }
  return -1;
}

void TTransformation::SetIndex(int index) {
  const int current = Index();
  if (current < 0) return;
  index = std::clamp(index, 0, collection_->Count() - 1);
  if (index == current) return;
  auto& items = collection_->items_;
  auto moved = std::move(items[static_cast<std::size_t>(current)]);
  items.erase(items.begin() + current);
  items.insert(items.begin() + index, std::move(moved));
  Changed();
}

void TTransformation::Changed() {
  if (collection_ != nullptr && collection_->updateCount_ == 0) collection_->Update(this);
}

// ---------------------------------------------------------------------------------------------
// TTransformations

TTransformations::TTransformations(TImageTransform* owner) : owner_(owner) {}

TTransformations::~TTransformations() = default;

TTransformation* TTransformations::Items(int index) const {
  if (index < 0 || index >= Count()) throw EListError(index);
  return items_[static_cast<std::size_t>(index)].get();
}

TTransformation* TTransformations::InsertItem(std::size_t index) {
  try {
    auto item = std::make_unique<TTransformation>();
    item->collection_ = this;
    TTransformation* added = item.get();
    items_.insert(items_.begin() + static_cast<std::ptrdiff_t>(index), std::move(item));
    Changed();
    return added;
  } catch (const std::bad_alloc&) {
    throw EOutOfMemory();
  }
}

TTransformation* TTransformations::Add() {
  return InsertItem(items_.size());
}

TTransformation* TTransformations::Insert(int index) {
  if (index < 0 || index > Count()) throw EListError(index);
  return InsertItem(static_cast<std::size_t>(index));
}

void TTransformations::Delete(int index) {
  if (index < 0 || index >= Count()) throw EListError(index);
  items_.erase(items_.begin() + index);
  Changed();
}

void TTransformations::Clear() {
  if (items_.empty()) return;
  items_.clear();
  Changed();
}

void TTransformations::BeginUpdate() {
  ++updateCount_;
}

void TTransformations::EndUpdate() {
  if (updateCount_ == 0) return;
  --updateCount_;
  Changed();
}

void TTransformations::Assign(const TPersistent* source) {
  const auto* other = dynamic_cast<const TTransformations*>(source);
  if (other == nullptr) {
    TPersistent::Assign(source);
    return;
  }
  if (other == this) return;
  BeginUpdate();
  try {
    items_.clear();
    for (const auto& item : other->items_) Add()->Assign(item.get());
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TTransformations::Update(TTransformation*) {
  if (owner_ != nullptr) owner_->UpdateMatrix();
}

void TTransformations::Changed() {
  if (updateCount_ == 0) Update(nullptr);
}

// ---------------------------------------------------------------------------------------------
// TImageTransform

TImageTransform::TImageTransform(TImageWork* owner)
    : TImageBaseProcess(owner), transformations_(std::make_unique<TTransformations>(this)) {}

TImageTransform::~TImageTransform() = default;

void TImageTransform::SetBackColor(TColor color) {
  ChangeSetting(backColor_, color);
}

void TImageTransform::SetResample(TResample resample) {
  ChangeSetting(resample_, resample);
}

void TImageTransform::SetTransformations(const TTransformations& source) {
  transformations_->Assign(&source);
}

void TImageTransform::Assign(const TPersistent* source) {
  WithUpdate([&] {
    if (const auto* other = dynamic_cast<const TImageTransform*>(source)) {
      SetResample(other->resample_);
      SetBackColor(other->backColor_);
      SetTransformations(*other->transformations_);
    }
    TImageBaseProcess::Assign(source);
  });
}

void TImageTransform::BeginUpdate() {
  TImageBaseProcess::BeginUpdate();
  transformations_->BeginUpdate();
}

void TImageTransform::EndUpdate() {
  transformations_->EndUpdate();
  TImageBaseProcess::EndUpdate();
}

void TImageTransform::UpdateMatrix() {
  TAffineMatrix m;
  for (int i = 0; i < transformations_->Count(); ++i) {
    m = MultiplyMatrix(m, transformations_->Items(i)->Matrix());
  }
  if (std::memcmp(&m, &matrix_, sizeof m) == 0) return;
  matrix_ = m;
  Changed();
}

}  // namespace ombrix
