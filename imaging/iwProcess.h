#pragma once
// TImageWork, the one object of the image-processing library that an application holds: it
// owns a filter chosen by display name out of a fixed registry of 41 filter classes, a
// transform stage whose settings it holds but does not apply, and the output bitmap that each
// ApplyFilter writes. Everything here runs on the GUI thread.
//
// Typical use (the sharpen stage): create; SetFilterName("Unsharp Mask"); then for each frame
// FilterAs<TGaussianBaseFilter>()->SetRadius(level), ApplyFilter(view) and take OutputBitmap()'s
// picture (the stage trades blocks with it rather than copying).

#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <typeinfo>
#include <vector>

#include "Graphics.h"
#include "iwFilters.h"
#include "iwTransform.h"

namespace ombrix {

// A filter class as the registry knows it: its class name, its type and its factory. Two
// class references are the same class when their types are.
struct TFilterClass {
  const char* ClassName = nullptr;
  const std::type_info* Type = nullptr;
  TFilterFactory Create = nullptr;

  bool Is(const std::type_info& type) const { return Type != nullptr && *Type == type; }
};

// The class reference of T.
template <class T>
constexpr TFilterClass FilterClassOf() {
  return {T::kClassName, &typeid(T), &MakeFilter<T>};
}

// One row of the registry: the display name and the class.
struct TFilterEntry {
  std::string Name;
  TFilterClass Class;
};

// The display name of a class name: without its first and its last six characters (the "T"
// and "Filter" of the registered classes), and a space inserted before every following
// character that is not a lower-case ASCII letter: "TUnsharpMaskFilter" gives "Unsharp Mask".
// Names of 7 characters or fewer give "".
std::string FilterDisplayName(std::string_view className);

// The 41 registered filter classes, in registration order.
std::span<const TFilterClass> RegisteredFilterClasses();

class TImageWork {
 public:
  // An event receiving the component that fires it.
  using TNotifyEvent = std::function<void(TImageWork* sender)>;

  // An empty output bitmap, a transform stage with no transformations, a TCustomFilter (one
  // 3 x 3 kernel of zeros) and the registry.
  TImageWork();
  virtual ~TImageWork();
  TImageWork(const TImageWork&) = delete;
  TImageWork& operator=(const TImageWork&) = delete;

  // Runs the filter over graphic (which may be null) into OutputBitmap(): OnProcessBegin, then
  // OnProcessSuccess or OnProcessFail, then OnProcessEnd. Returns true when the filter ran;
  // false, leaving OutputBitmap() as it was, when graphic yields no pixels (or the filter has
  // nothing to compute). An error of the pass (EDivByZero, EOutOfMemory) propagates after
  // OnProcessEnd, with neither OnProcessSuccess nor OnProcessFail. A kernel-less filter writes
  // luminance into byte 3 of a 32-bit bitmap graphic; nothing else of graphic changes.
  bool ApplyFilter(TGraphic* graphic);

  // The current filter, owned here; valid until the filter class changes. Callers may change
  // its settings but never free it.
  TImageBaseFilter* Filter() const { return filter_.get(); }
  // The current filter as T, or null when it is not one.
  template <class T>
  T* FilterAs() const {
    return dynamic_cast<T*>(filter_.get());
  }
  // Copies value's settings into the component's filter; value stays the caller's. Of the same
  // class: the filter's Assign, so OnFilterChange fires only when something changed. Of
  // another registered class: the filter is replaced by a new one of that class that takes
  // value's settings, and OnFilterChange fires exactly once. A value of a class outside the
  // registry raises EListError(-1) and a null value EConvertError; nothing changes then.
  void SetFilter(const TImageBaseFilter* value);

  // The display name of the current filter's class. EListError(-1) ("Indice de liste hors
  // limites (-1)") when that class is not registered.
  std::string FilterName() const;
  // Selects the first registered class whose name equals value ignoring ASCII case, unless
  // value is exactly the current name; a name that is not registered is ignored silently.
  // Raises as FilterName() when the current class is not registered.
  void SetFilterName(std::string_view value);
  // True when FilterName is what persistence stores: the filter is not a TCustomFilter, whose
  // own settings are stored instead.
  bool FilterNameStored() const;

  // The class of the current filter.
  const TFilterClass& FilterClass() const { return filterClass_; }
  // Replaces the filter by a new instance of filterClass with its defaults, then fires
  // OnFilterChange once; nothing happens when the filter already is of that class. Any class
  // with a factory is accepted, registered or not. EConvertError for a class without a
  // factory; EOutOfMemory when the filter cannot be had (the old filter then stays).
  void SetFilterClass(const TFilterClass& filterClass);

  // The transform stage, owned here. SetTransform copies value's settings into it.
  TImageTransform* Transform() const { return transform_.get(); }
  void SetTransform(const TImageTransform* value);

  // The result of the last successful ApplyFilter: a 32-bit bitmap of the source's size.
  TBitmap* OutputBitmap() const { return outputBitmap_.get(); }

  // The registry, filled once at construction.
  const std::vector<TFilterEntry>& FilterNames() const { return filterNames_; }

  TNotifyEvent OnProcessBegin;
  TNotifyEvent OnProcessEnd;
  TNotifyEvent OnProcessSuccess;
  TNotifyEvent OnProcessFail;
  // The filter's settings or class changed.
  TNotifyEvent OnFilterChange;
  // The transform stage's settings changed.
  TNotifyEvent OnTransformChange;

 protected:
  virtual void DoProcessBegin();
  virtual void DoProcessEnd();
  // Fires OnProcessSuccess or OnProcessFail and returns success unchanged.
  virtual bool DoProcessResult(bool success);
  void DoFilterChange();
  void DoTransformChange();
  // Clears list and adds every registered class under its display name, in order.
  static void FillFilterNames(std::vector<TFilterEntry>& list);

 private:
  void Fire(const TNotifyEvent& event) {
    if (event) event(this);
  }
  void AdoptFilter(std::unique_ptr<TImageBaseFilter> filter, const TFilterClass& filterClass);

  // Declared in reverse order of destruction: the registry goes first, the bitmap last.
  std::unique_ptr<TBitmap> outputBitmap_;
  std::unique_ptr<TImageTransform> transform_;
  std::unique_ptr<TImageBaseFilter> filter_;
  TFilterClass filterClass_;
  std::vector<TFilterEntry> filterNames_;
};

}  // namespace ombrix
