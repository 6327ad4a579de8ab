#pragma once
// The working image every filter reads and writes, and the base class of every processing
// stage. Everything here runs on the GUI thread; nothing is shared between threads.

#include <cstdint>
#include <functional>
#include <memory>

#include "Classes.h"
#include "Graphics.h"

namespace ombrix {

class TImageWork;

// A read view of one picture in the working-image layout: Width x Height pixels of 4 bytes
// (blue, green, red, reserved), rows without padding, stored bottom-up. It lives for one apply
// operation only.
//
// A 32-bit TBitmap is viewed in place: Bits() points into the bitmap's own memory, so a
// filter that writes its source (luminance into byte 3) writes the bitmap. Other bitmaps are
// converted into a block the view owns. Any other picture is first assigned to a temporary
// 32-bit bitmap; a picture that cannot be assigned to a bitmap is drawn on it instead.
class TGraphicRGB {
 public:
  // Builds the view. A null source, a picture without pixels or a failed conversion gives an
  // invalid view (Valid() false, Bits() null). Raises EOutOfMemory when the converted copy or
  // the temporary bitmap cannot be had.
  explicit TGraphicRGB(TGraphic* source);
  ~TGraphicRGB();
  TGraphicRGB(const TGraphicRGB&) = delete;
  TGraphicRGB& operator=(const TGraphicRGB&) = delete;

  // The temporary bitmap, present only when the source is not a TBitmap.
  TBitmap* TempBitmap() const { return tempBitmap_.get(); }
  // First byte of the block (the picture's bottom row), or null.
  uint8_t* Bits() const { return bits_; }
  // True when Bits() is a converted copy that the view frees.
  bool OwnsBits() const { return ownedBits_ != nullptr; }
  // The source picture's size (0 x 0 for a null source).
  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }
  bool Valid() const { return bits_ != nullptr; }

 private:
  void ReadPixels(TBitmap& bitmap);

  std::unique_ptr<TBitmap> tempBitmap_;
  std::unique_ptr<uint8_t[]> ownedBits_;
  uint8_t* bits_ = nullptr;
  int32_t width_ = 0;
  int32_t height_ = 0;
};

// Base class of the transform stage and of every filter. Settings announce themselves through
// OnChange; changes made between BeginUpdate and EndUpdate are announced once, when the
// outermost EndUpdate closes, and only when something changed.
class TImageBaseProcess : public TPersistent {
 public:
  static constexpr const char* kClassName = "TImageBaseProcess";

  // Records the owner (may be null); nothing else.
  explicit TImageBaseProcess(TImageWork* owner) : owner_(owner) {}
  const char* ClassName() const override { return kClassName; }

  // Accepts any processing stage and copies nothing at this level; stages override it to copy
  // their settings from a source of a matching class and then call this. Any other source
  // (or none) raises EConvertError ("Impossible d'affecter <source> à <this>").
  void Assign(const TPersistent* source) override;

  // Announces a change: deferred while an update bracket is open, otherwise OnChange(this)
  // when it is set.
  virtual void Changed();
  virtual void BeginUpdate();
  // Closes one bracket; closing the outermost delivers a change that was deferred inside.
  virtual void EndUpdate();

  TImageWork* GetOwner() const { return owner_; }

  // Runs body inside BeginUpdate/EndUpdate. EndUpdate runs on every exit path; when body
  // throws, the body's error is the one that propagates.
  template <class Body>
  void WithUpdate(Body&& body) {
    BeginUpdate();
    try {
      body();
    } catch (...) {
      EndUpdateAfterError();
      throw;
    }
    EndUpdate();
  }

  // The change handler, set by the owning TImageWork; empty means nobody listens.
  std::function<void(TImageBaseProcess*)> OnChange;

 protected:
  int32_t UpdateCount() const { return updateCount_; }

  // The setter rule of every stage: a different value is stored and announced; an equal one
  // changes nothing. Returns whether it changed.
  template <class T>
  bool ChangeSetting(T& field, const T& value) {
    if (field == value) return false;
    field = value;
    Changed();
    return true;
  }

 private:
  void EndUpdateAfterError() noexcept;

  TImageWork* owner_;
  int32_t updateCount_ = 0;
  bool changePending_ = false;
};

}  // namespace ombrix
