#include "iwMisc.h"

#include <cstddef>
#include <new>

#include "Errors.h"

namespace ombrix {

// ---------------------------------------------------------------------------------------------
// TGraphicRGB

TGraphicRGB::TGraphicRGB(TGraphic* source) {
  if (source == nullptr) return;
  width_ = source->Width();
  height_ = source->Height();
  // A picture without pixels gives nothing to convert or draw.
  if (width_ <= 0 || height_ <= 0) return;

  if (auto* bitmap = dynamic_cast<TBitmap*>(source)) {
    ReadPixels(*bitmap);
    return;
  }

  tempBitmap_ = std::make_unique<TBitmap>();
  try {
    tempBitmap_->Assign(source);
  } catch (const EOmbrixError&) {
    // Pictures that cannot become a bitmap can still draw themselves.
    tempBitmap_->SetSize(width_, height_);
    tempBitmap_->Canvas().Draw(0, 0, *source);
  }
  // The block is read as width_ x height_ pixels, whatever size the assignment produced.
  tempBitmap_->SetSize(width_, height_);
  tempBitmap_->SetPixelFormat(pf32bit);
  ReadPixels(*tempBitmap_);
}

TGraphicRGB::~TGraphicRGB() = default;

void TGraphicRGB::ReadPixels(TBitmap& bitmap) {
  if (bitmap.Empty()) return;
  if (bitmap.PixelFormat() == pf32bit) {
    bits_ = bitmap.ScanLine(bitmap.Height() - 1);
    return;
  }
  const std::size_t bytes =
      static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_) * 4;
  try {
    ownedBits_.reset(new uint8_t[bytes]);
  } catch (const std::bad_alloc&) {
    throw EOutOfMemory();
  }
  if (GetDIBits32(bitmap, ownedBits_.get()) == 0) {
    ownedBits_.reset();
    return;
  }
  bits_ = ownedBits_.get();
}

// ---------------------------------------------------------------------------------------------
// TImageBaseProcess

void TImageBaseProcess::Assign(const TPersistent* source) {
  if (dynamic_cast<const TImageBaseProcess*>(source) != nullptr) return;
  TPersistent::Assign(source);
}

void TImageBaseProcess::Changed() {
  if (updateCount_ != 0) {
    changePending_ = true;
    return;
  }
  if (OnChange) OnChange(this);
}

void TImageBaseProcess::BeginUpdate() {
  ++updateCount_;
}

void TImageBaseProcess::EndUpdate() {
  --updateCount_;
  if (updateCount_ == 0 && changePending_) {
    changePending_ = false;
    Changed();
  }
}

void TImageBaseProcess::EndUpdateAfterError() noexcept {
  try {
    EndUpdate();
  } catch (...) {
    // A listener failing while an error is already on its way must not replace that error.
  }
}

}  // namespace ombrix
