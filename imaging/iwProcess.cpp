#include "iwProcess.h"

#include <algorithm>
#include <utility>

#include "Errors.h"

namespace ombrix {

namespace {

// The registry, in registration order. Adding a filter is one row here.
constexpr TFilterClass kRegisteredFilters[] = {
    FilterClassOf<TCustomFilter>(),
    FilterClassOf<TAverageFilter>(),
    FilterClassOf<TAverageMoreFilter>(),
    FilterClassOf<TBlurFilter>(),
    FilterClassOf<TBlurMoreFilter>(),
    FilterClassOf<TGaussianBlurFilter>(),
    FilterClassOf<TLowPassFilter>(),
    FilterClassOf<TSmoothFilter>(),
    FilterClassOf<TSmoothCircleFilter>(),
    FilterClassOf<TSmoothConeFilter>(),
    FilterClassOf<TSmoothPyramidalFilter>(),
    FilterClassOf<TSharpenFilter>(),
    FilterClassOf<TSharpenMoreFilter>(),
    FilterClassOf<TUnsharpMaskFilter>(),
    FilterClassOf<THighPassFilter>(),
    FilterClassOf<TLaplacianFilter>(),
    FilterClassOf<TEdgeFilter>(),
    FilterClassOf<TPrewittNorthSouthFilter>(),
    FilterClassOf<TPrewittSouthNorthFilter>(),
    FilterClassOf<TPrewittEastWestFilter>(),
    FilterClassOf<TPrewittWestEastFilter>(),
    FilterClassOf<TPrewittEdgeFilter>(),
    FilterClassOf<TSobelNorthSouthFilter>(),
    FilterClassOf<TSobelSouthNorthFilter>(),
    FilterClassOf<TSobelEastWestFilter>(),
    FilterClassOf<TSobelWestEastFilter>(),
    FilterClassOf<TSobelEdgeFilter>(),
    FilterClassOf<TLineMaskVerticalFilter>(),
    FilterClassOf<TLineMaskHorizontalFilter>(),
    FilterClassOf<TLineMaskFilter>(),
    FilterClassOf<TEmbossFilter>(),
    FilterClassOf<TEmbossColorFilter>(),
    FilterClassOf<TMosaicFilter>(),
    FilterClassOf<TMinimumFilter>(),
    FilterClassOf<TMaximumFilter>(),
    FilterClassOf<TMaxMinFilter>(),
    FilterClassOf<TMinMaxFilter>(),
    FilterClassOf<TMedianFilter>(),
    FilterClassOf<TDegrainBrightFilter>(),
    FilterClassOf<TDegrainDarkFilter>(),
    FilterClassOf<TDegrainFilter>(),
};

char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Names are ASCII; other bytes compare as they are.
bool SameTextIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return AsciiLower(x) == AsciiLower(y);
         });
}

// Index of the row whose class has this type, or -1.
int IndexOfType(const std::vector<TFilterEntry>& list, const std::type_info& type) {
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (list[i].Class.Is(type)) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace

std::string FilterDisplayName(std::string_view className) {
  if (className.size() <= 7) return {};
  const std::string_view core = className.substr(1, className.size() - 7);
  std::string name(1, core.front());
  for (const char c : core.substr(1)) {
    if (c < 'a' || c > 'z') name.push_back(' ');
    name.push_back(c);
  }
  return name;
}

std::span<const TFilterClass> RegisteredFilterClasses() {
  return kRegisteredFilters;
}

TImageWork::TImageWork()
    : outputBitmap_(std::make_unique<TBitmap>()),
      transform_(std::make_unique<TImageTransform>(this)),
      filter_(std::make_unique<TCustomFilter>(this)),
      filterClass_(FilterClassOf<TCustomFilter>()) {
  transform_->OnChange = [this](TImageBaseProcess*) { DoTransformChange(); };
  filter_->OnChange = [this](TImageBaseProcess*) { DoFilterChange(); };
  FillFilterNames(filterNames_);
}

TImageWork::~TImageWork() = default;

void TImageWork::FillFilterNames(std::vector<TFilterEntry>& list) {
  list.clear();
  for (const TFilterClass& filterClass : kRegisteredFilters) {
    list.push_back({FilterDisplayName(filterClass.ClassName), filterClass});
  }
}

bool TImageWork::ApplyFilter(TGraphic* graphic) {
  DoProcessBegin();
  bool result = false;
  try {
    result = DoProcessResult(filter_->Apply(outputBitmap_.get(), graphic));
  } catch (...) {
    DoProcessEnd();
    throw;
  }
  DoProcessEnd();
  return result;
}

std::string TImageWork::FilterName() const {
  const TImageBaseFilter& current = *filter_;
  const int index = IndexOfType(filterNames_, typeid(current));
  if (index < 0) throw EListError(-1);
  return filterNames_[static_cast<std::size_t>(index)].Name;
}

void TImageWork::SetFilterName(std::string_view value) {
  if (value == FilterName()) return;
  for (const TFilterEntry& entry : filterNames_) {
    if (SameTextIgnoringCase(entry.Name, value)) {
      SetFilterClass(entry.Class);
      return;
    }
  }
}

bool TImageWork::FilterNameStored() const {
  return dynamic_cast<const TCustomFilter*>(filter_.get()) == nullptr;
}

void TImageWork::SetFilterClass(const TFilterClass& filterClass) {
  if (filterClass.Create == nullptr) throw EConvertError("nil", filter_->ClassName());
  const TImageBaseFilter& current = *filter_;
  if (filterClass.Is(typeid(current))) return;
  // The new filter is made before the old one goes, so that a failure leaves a filter in place.
  AdoptFilter(filterClass.Create(this), filterClass);
  DoFilterChange();
}

void TImageWork::AdoptFilter(std::unique_ptr<TImageBaseFilter> filter,
                             const TFilterClass& filterClass) {
  filter_ = std::move(filter);
  filterClass_ = filterClass;
  // Set after construction: the constructor's own settings reach nobody.
  filter_->OnChange = [this](TImageBaseProcess*) { DoFilterChange(); };
}

void TImageWork::SetFilter(const TImageBaseFilter* value) {
  const TImageBaseFilter& current = *filter_;
  if (value == nullptr || typeid(*value) == typeid(current)) {
    filter_->Assign(value);
    return;
  }
  const int index = IndexOfType(filterNames_, typeid(*value));
  if (index < 0) throw EListError(-1);
  // The replacement and the copy are announced once, at the end.
  TNotifyEvent handler = std::move(OnFilterChange);
  OnFilterChange = nullptr;
  try {
    SetFilterClass(filterNames_[static_cast<std::size_t>(index)].Class);
    filter_->Assign(value);
  } catch (...) {
    OnFilterChange = std::move(handler);
    throw;
  }
  OnFilterChange = std::move(handler);
  DoFilterChange();
}

void TImageWork::SetTransform(const TImageTransform* value) {
  transform_->Assign(value);
}

void TImageWork::DoProcessBegin() {
  Fire(OnProcessBegin);
}

void TImageWork::DoProcessEnd() {
  Fire(OnProcessEnd);
}

bool TImageWork::DoProcessResult(bool success) {
  Fire(success ? OnProcessSuccess : OnProcessFail);
  return success;
}

void TImageWork::DoFilterChange() {
  Fire(OnFilterChange);
}

void TImageWork::DoTransformChange() {
  Fire(OnTransformChange);
}

}  // namespace ombrix
