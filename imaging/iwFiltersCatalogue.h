#pragma once
// The ready-made filters: 29 fixed-kernel filters, each a constant kernel set that the kernel
// engine runs unchanged (Emboss greys its result), and 9 kernel-less filters, each with its own
// pass over a SamplingBox x SamplingBox window. Included at the end of iwFilters.h; everything
// runs on the GUI thread.
//
// Kernel-less passes (all but Mosaic) first write every source pixel's luminance into its
// byte 3, so a 32-bit source bitmap is changed there; a copied pixel carries its luminance.
// L(p) below is (30 red + 59 green + 11 blue) div 100. The window of the pixel at column X and
// picture row Y (row 0 at the top) is placed as a kernel of that size: columns X + XMin() to
// X + XMax(), rows Y - YMax() to Y - YMin(); it is read row by row from the top, each row from
// the left ("window order"). With SamplingBox 0 (or a window that is not square) a kernel-less
// filter has no window: Apply returns false and leaves its target untouched, and the pass
// itself writes nothing.

#include <cstdint>
#include <span>

#include "iwFilters.h"

namespace ombrix {

// ---------------------------------------------------------------------------------------------
// Fixed-kernel filters

// The constant settings of a fixed-kernel filter. Values are in array order: kernel 1 row by
// row from the top, then kernel 2.
struct TFixedKernel {
  const char* ClassName;
  int32_t Bias;
  int32_t ScaleFactor;
  TKernelMergeOp MergeOp;
  uint16_t Count;
  uint16_t Width;
  uint16_t Height;
  std::span<const int32_t> Values;
};

// Loads definition into filter as a fixed-kernel constructor does: Bias, ScaleFactor, the
// merge rule (only for several kernels), the dimensions, then the values.
void LoadFixedKernel(TImageBaseFilter& filter, const TFixedKernel& definition);

// A filter that is nothing but its constant kernel set.
template <const TFixedKernel& Definition>
class TFixedKernelFilter : public TImageBaseFilter {
 public:
  static constexpr const char* kClassName = Definition.ClassName;
  explicit TFixedKernelFilter(TImageWork* owner) : TImageBaseFilter(owner) {
    LoadFixedKernel(*this, Definition);
  }
  const char* ClassName() const override { return kClassName; }

 protected:
  bool RunsEnginePasses() const override { return IsExactly<TFixedKernelFilter>(); }
};

namespace kernels {

inline constexpr int32_t kAverage[] = {1, 1, 1,  //
                                       1, 1, 1,  //
                                       1, 1, 1};
inline constexpr int32_t kAverageMore[] = {1, 1, 1, 1, 1,  //
                                           1, 1, 1, 1, 1,  //
                                           1, 1, 1, 1, 1,  //
                                           1, 1, 1, 1, 1,  //
                                           1, 1, 1, 1, 1};
inline constexpr int32_t kBlur[] = {1, 2, 1,  //
                                    2, 2, 2,  //
                                    1, 2, 1};
inline constexpr int32_t kBlurMore[] = {0, 1, 1, 1, 0,  //
                                        1, 2, 2, 2, 1,  //
                                        1, 2, 4, 2, 1,  //
                                        1, 2, 2, 2, 1,  //
                                        0, 1, 1, 1, 0};
inline constexpr int32_t kLowPass[] = {1, 2, 1,  //
                                       2, 4, 2,  //
                                       1, 2, 1};
inline constexpr int32_t kSmooth[] = {1, 1, 1,  //
                                      1, 3, 1,  //
                                      1, 1, 1};
inline constexpr int32_t kSmoothCircle[] = {0, 1, 1, 1, 0,  //
                                            1, 1, 1, 1, 1,  //
                                            1, 1, 1, 1, 1,  //
                                            1, 1, 1, 1, 1,  //
                                            0, 1, 1, 1, 0};
inline constexpr int32_t kSmoothCone[] = {0, 0, 1, 0, 0,  //
                                          0, 2, 2, 2, 0,  //
                                          1, 2, 5, 2, 1,  //
                                          0, 2, 2, 2, 0,  //
                                          0, 0, 1, 0, 0};
inline constexpr int32_t kSmoothPyramidal[] = {1, 2, 3, 2, 1,  //
                                               2, 4, 6, 4, 2,  //
                                               3, 6, 9, 6, 3,  //
                                               2, 4, 6, 4, 2,  //
                                               1, 2, 3, 2, 1};
inline constexpr int32_t kSharpen[] = {0,  -1, 0,   //
                                       -1, 5,  -1,  //
                                       0,  -1, 0};
inline constexpr int32_t kSharpenMore[] = {-1, -1, -1,  //
                                           -1, 9,  -1,  //
                                           -1, -1, -1};
inline constexpr int32_t kHighPass[] = {-1, -1, -1,  //
                                        -1, 8,  -1,  //
                                        -1, -1, -1};
inline constexpr int32_t kLaplacian[] = {0, 1,  0,  //
                                         1, -4, 1,  //
                                         0, 1,  0};
inline constexpr int32_t kEdge[] = {-1, -2, -1,  //
                                    -2, 12, -2,  //
                                    -1, -2, -1};
inline constexpr int32_t kPrewittNorthSouth[] = {1,  1,  1,  //
                                                 0,  0,  0,  //
                                                 -1, -1, -1};
inline constexpr int32_t kPrewittSouthNorth[] = {-1, -1, -1,  //
                                                 0,  0,  0,   //
                                                 1,  1,  1};
inline constexpr int32_t kPrewittEastWest[] = {1, 0, -1,  //
                                               1, 0, -1,  //
                                               1, 0, -1};
inline constexpr int32_t kPrewittWestEast[] = {-1, 0, 1,  //
                                               -1, 0, 1,  //
                                               -1, 0, 1};
inline constexpr int32_t kPrewittEdge[] = {1,  1,  1,   //
                                           0,  0,  0,   //
                                           -1, -1, -1,  //
                                           1,  0,  -1,  //
                                           1,  0,  -1,  //
                                           1,  0,  -1};
inline constexpr int32_t kSobelNorthSouth[] = {1,  2,  1,  //
                                               0,  0,  0,  //
                                               -1, -2, -1};
inline constexpr int32_t kSobelSouthNorth[] = {-1, -2, -1,  //
                                               0,  0,  0,   //
                                               1,  2,  1};
inline constexpr int32_t kSobelEastWest[] = {1, 0, -1,  //
                                             2, 0, -2,  //
                                             1, 0, -1};
inline constexpr int32_t kSobelWestEast[] = {-1, 0, 1,  //
                                             -2, 0, 2,  //
                                             -1, 0, 1};
inline constexpr int32_t kSobelEdge[] = {1,  2,  1,   //
                                         0,  0,  0,   //
                                         -1, -2, -1,  //
                                         -1, 0,  1,   //
                                         -2, 0,  2,   //
                                         -1, 0,  1};
inline constexpr int32_t kLineMaskVertical[] = {-1, 2, -1,  //
                                                -1, 2, -1,  //
                                                -1, 2, -1};
inline constexpr int32_t kLineMaskHorizontal[] = {-1, -1, -1,  //
                                                  2,  2,  2,   //
                                                  -1, -1, -1};
inline constexpr int32_t kLineMask[] = {-1, 2,  -1,  //
                                        -1, 2,  -1,  //
                                        -1, 2,  -1,  //
                                        -1, -1, -1,  //
                                        2,  2,  2,   //
                                        -1, -1, -1};
inline constexpr int32_t kEmboss[] = {1, 0, 0,  //
                                      0, 0, 0,  //
                                      0, 0, -1};
inline constexpr int32_t kEmbossColor[] = {2, 0, 0,  //
                                           0, 1, 0,  //
                                           0, 0, -2};

// clang-format off
//                                   class name                     bias scale  merge  n  w  h  values
inline constexpr TFixedKernel Average{"TAverageFilter",                    0,  9, opSUM, 1, 3, 3, kAverage};
inline constexpr TFixedKernel AverageMore{"TAverageMoreFilter",            0, 25, opSUM, 1, 5, 5, kAverageMore};
inline constexpr TFixedKernel Blur{"TBlurFilter",                          0, 14, opSUM, 1, 3, 3, kBlur};
inline constexpr TFixedKernel BlurMore{"TBlurMoreFilter",                  0, 32, opSUM, 1, 5, 5, kBlurMore};
inline constexpr TFixedKernel LowPass{"TLowPassFilter",                    0, 16, opSUM, 1, 3, 3, kLowPass};
// The weights sum to 11, so Smooth also darkens by 1/12.
inline constexpr TFixedKernel Smooth{"TSmoothFilter",                      0, 12, opSUM, 1, 3, 3, kSmooth};
inline constexpr TFixedKernel SmoothCircle{"TSmoothCircleFilter",          0, 21, opSUM, 1, 5, 5, kSmoothCircle};
inline constexpr TFixedKernel SmoothCone{"TSmoothConeFilter",              0, 25, opSUM, 1, 5, 5, kSmoothCone};
inline constexpr TFixedKernel SmoothPyramidal{"TSmoothPyramidalFilter",    0, 81, opSUM, 1, 5, 5, kSmoothPyramidal};
inline constexpr TFixedKernel Sharpen{"TSharpenFilter",                    0,  1, opSUM, 1, 3, 3, kSharpen};
inline constexpr TFixedKernel SharpenMore{"TSharpenMoreFilter",            0,  1, opSUM, 1, 3, 3, kSharpenMore};
inline constexpr TFixedKernel HighPass{"THighPassFilter",                  0,  1, opSUM, 1, 3, 3, kHighPass};
inline constexpr TFixedKernel Laplacian{"TLaplacianFilter",                0,  1, opSUM, 1, 3, 3, kLaplacian};
inline constexpr TFixedKernel Edge{"TEdgeFilter",                          0,  1, opSUM, 1, 3, 3, kEdge};
inline constexpr TFixedKernel PrewittNorthSouth{"TPrewittNorthSouthFilter", 0, 1, opSUM, 1, 3, 3, kPrewittNorthSouth};
inline constexpr TFixedKernel PrewittSouthNorth{"TPrewittSouthNorthFilter", 0, 1, opSUM, 1, 3, 3, kPrewittSouthNorth};
inline constexpr TFixedKernel PrewittEastWest{"TPrewittEastWestFilter",    0,  1, opSUM, 1, 3, 3, kPrewittEastWest};
inline constexpr TFixedKernel PrewittWestEast{"TPrewittWestEastFilter",    0,  1, opSUM, 1, 3, 3, kPrewittWestEast};
inline constexpr TFixedKernel PrewittEdge{"TPrewittEdgeFilter",            0,  1, opRMS, 2, 3, 3, kPrewittEdge};
inline constexpr TFixedKernel SobelNorthSouth{"TSobelNorthSouthFilter",    0,  1, opSUM, 1, 3, 3, kSobelNorthSouth};
inline constexpr TFixedKernel SobelSouthNorth{"TSobelSouthNorthFilter",    0,  1, opSUM, 1, 3, 3, kSobelSouthNorth};
inline constexpr TFixedKernel SobelEastWest{"TSobelEastWestFilter",        0,  1, opSUM, 1, 3, 3, kSobelEastWest};
inline constexpr TFixedKernel SobelWestEast{"TSobelWestEastFilter",        0,  1, opSUM, 1, 3, 3, kSobelWestEast};
inline constexpr TFixedKernel SobelEdge{"TSobelEdgeFilter",                0,  1, opRMS, 2, 3, 3, kSobelEdge};
inline constexpr TFixedKernel LineMaskVertical{"TLineMaskVerticalFilter",  0,  1, opSUM, 1, 3, 3, kLineMaskVertical};
inline constexpr TFixedKernel LineMaskHorizontal{"TLineMaskHorizontalFilter", 0, 1, opSUM, 1, 3, 3, kLineMaskHorizontal};
inline constexpr TFixedKernel LineMask{"TLineMaskFilter",                  0,  1, opRMS, 2, 3, 3, kLineMask};
inline constexpr TFixedKernel Emboss{"TEmbossFilter",                    127,  1, opSUM, 1, 3, 3, kEmboss};
inline constexpr TFixedKernel EmbossColor{"TEmbossColorFilter",            0,  1, opSUM, 1, 3, 3, kEmbossColor};
// clang-format on

}  // namespace kernels

using TAverageFilter = TFixedKernelFilter<kernels::Average>;
using TAverageMoreFilter = TFixedKernelFilter<kernels::AverageMore>;
using TBlurFilter = TFixedKernelFilter<kernels::Blur>;
using TBlurMoreFilter = TFixedKernelFilter<kernels::BlurMore>;
using TLowPassFilter = TFixedKernelFilter<kernels::LowPass>;
using TSmoothFilter = TFixedKernelFilter<kernels::Smooth>;
using TSmoothCircleFilter = TFixedKernelFilter<kernels::SmoothCircle>;
using TSmoothConeFilter = TFixedKernelFilter<kernels::SmoothCone>;
using TSmoothPyramidalFilter = TFixedKernelFilter<kernels::SmoothPyramidal>;
using TSharpenFilter = TFixedKernelFilter<kernels::Sharpen>;
using TSharpenMoreFilter = TFixedKernelFilter<kernels::SharpenMore>;
using THighPassFilter = TFixedKernelFilter<kernels::HighPass>;
using TLaplacianFilter = TFixedKernelFilter<kernels::Laplacian>;
using TEdgeFilter = TFixedKernelFilter<kernels::Edge>;
using TPrewittNorthSouthFilter = TFixedKernelFilter<kernels::PrewittNorthSouth>;
using TPrewittSouthNorthFilter = TFixedKernelFilter<kernels::PrewittSouthNorth>;
using TPrewittEastWestFilter = TFixedKernelFilter<kernels::PrewittEastWest>;
using TPrewittWestEastFilter = TFixedKernelFilter<kernels::PrewittWestEast>;
using TPrewittEdgeFilter = TFixedKernelFilter<kernels::PrewittEdge>;
using TSobelNorthSouthFilter = TFixedKernelFilter<kernels::SobelNorthSouth>;
using TSobelSouthNorthFilter = TFixedKernelFilter<kernels::SobelSouthNorth>;
using TSobelEastWestFilter = TFixedKernelFilter<kernels::SobelEastWest>;
using TSobelWestEastFilter = TFixedKernelFilter<kernels::SobelWestEast>;
using TSobelEdgeFilter = TFixedKernelFilter<kernels::SobelEdge>;
using TLineMaskVerticalFilter = TFixedKernelFilter<kernels::LineMaskVertical>;
using TLineMaskHorizontalFilter = TFixedKernelFilter<kernels::LineMaskHorizontal>;
using TLineMaskFilter = TFixedKernelFilter<kernels::LineMask>;
using TEmbossColorFilter = TFixedKernelFilter<kernels::EmbossColor>;

// "Emboss": the kernel pass with bias 127, then every destination pixel made grey.
class TEmbossFilter : public TImageBaseFilter {
 public:
  static constexpr const char* kClassName = "TEmbossFilter";
  explicit TEmbossFilter(TImageWork* owner);
  const char* ClassName() const override { return kClassName; }
  void ApplyKernel(uint8_t* dst, uint8_t* src, int32_t width, int32_t height) override;
};

// ---------------------------------------------------------------------------------------------
// Kernel-less filters

// "Mosaic": tiles of SamplingBox x SamplingBox, each the average of its window. Anchors are the
// pixels whose column and stored row (0 = the bottom row) are multiples of the box; a tile is
// the anchor's window, so the tiles along the left and bottom edges are cut. Positions of an
// anchor's window outside the picture count as the anchor. The anchors continue past the top
// and right edges while their tiles still reach into the picture, so that every pixel is
// written: such a tile averages only its pixels inside. Sets ScaleFactor to the window's area
// without announcing it. Does not write luminance into the source.
class TMosaicFilter : public TWithoutKernelBaseFilter {
 public:
  static constexpr const char* kClassName = "TMosaicFilter";
  using TWithoutKernelBaseFilter::TWithoutKernelBaseFilter;
  const char* ClassName() const override { return kClassName; }
  void ApplyKernel(uint8_t* dst, uint8_t* src, int32_t width, int32_t height) override;
  std::optional<TRankPass> RankPass() const override;
};

// "Minimum": copies the darkest pixel of the window (positions outside are ignored); on equal
// luminance the centre wins, then the first in window order.
class TMinimumFilter : public TWithoutKernelBaseFilter {
 public:
  static constexpr const char* kClassName = "TMinimumFilter";
  using TWithoutKernelBaseFilter::TWithoutKernelBaseFilter;
  const char* ClassName() const override { return kClassName; }
  void ApplyKernel(uint8_t* dst, uint8_t* src, int32_t width, int32_t height) override;
  std::optional<TRankPass> RankPass() const override;
};

// "Maximum": as Minimum, the brightest.
class TMaximumFilter : public TWithoutKernelBaseFilter {
 public:
  static constexpr const char* kClassName = "TMaximumFilter";
  using TWithoutKernelBaseFilter::TWithoutKernelBaseFilter;
  const char* ClassName() const override { return kClassName; }
  void ApplyKernel(uint8_t* dst, uint8_t* src, int32_t width, int32_t height) override;
  std::optional<TRankPass> RankPass() const override;
};

// Base of the two filters that snap a pixel to an extreme of its window when the window's
// luminance spread exceeds Hysteresis, and store the window's average otherwise. Not
// registered: it has no pass of its own.
class TBoundaryBaseFilter : public TWithoutKernelBaseFilter {
 public:
  static constexpr const char* kClassName = "TBoundaryBaseFilter";
  // Hysteresis 3.
  explicit TBoundaryBaseFilter(TImageWork* owner);
  const char* ClassName() const override { return kClassName; }

  uint8_t Hysteresis() const { return hysteresis_; }
  // Stores a different value and announces it.
  void SetHysteresis(uint8_t value);

  // From a boundary filter: its Hysteresis; then the kernel-less base's rules. One change at
  // most.
  void Assign(const TPersistent* source) override;

 protected:
  // Which extreme a pixel takes when the spread exceeds Hysteresis.
  enum class TSnap { Nearer, Farther };
  // The common pass: sets ScaleFactor to the window's area without announcing it.
  void BoundaryPass(uint8_t* dst, uint8_t* src, int32_t width, int32_t height, TSnap snap);

 private:
  uint8_t hysteresis_ = 3;
};

// "Max Min": the nearer extreme (by luminance; a tie takes the bright one).
class TMaxMinFilter : public TBoundaryBaseFilter {
 public:
  static constexpr const char* kClassName = "TMaxMinFilter";
  using TBoundaryBaseFilter::TBoundaryBaseFilter;
  const char* ClassName() const override { return kClassName; }
  void ApplyKernel(uint8_t* dst, uint8_t* src, int32_t width, int32_t height) override;
  std::optional<TRankPass> RankPass() const override;
};

// "Min Max": the farther extreme (a tie takes the bright one).
class TMinMaxFilter : public TBoundaryBaseFilter {
 public:
  static constexpr const char* kClassName = "TMinMaxFilter";
  using TBoundaryBaseFilter::TBoundaryBaseFilter;
  const char* ClassName() const override { return kClassName; }
  void ApplyKernel(uint8_t* dst, uint8_t* src, int32_t width, int32_t height) override;
  std::optional<TRankPass> RankPass() const override;
};

// "Median": the window's pixels (positions outside counting as the centre) ordered by
// decreasing luminance, equal ones in window order; copies the one at index area div 2.
// Raises EOutOfMemory when the list of window positions cannot be had.
class TMedianFilter : public TWithoutKernelBaseFilter {
 public:
  static constexpr const char* kClassName = "TMedianFilter";
  using TWithoutKernelBaseFilter::TWithoutKernelBaseFilter;
  const char* ClassName() const override { return kClassName; }
  void ApplyKernel(uint8_t* dst, uint8_t* src, int32_t width, int32_t height) override;
  std::optional<TRankPass> RankPass() const override;
};

// The degrain filters look along the four arms of the cross through a pixel: up (YMax() rows
// above), down (-YMin() rows below), left (-XMin() columns) and right (XMax() columns),
// positions outside the picture ignored. An arm's minimum (maximum) is the centre unless a
// pixel of the arm is strictly darker (brighter). With a box of 1 or 2 the right arm is empty
// and the picture comes out unchanged.

// "Degrain Bright": the brightest of the four arm minima, so an isolated bright speck falls to
// its surroundings.
class TDegrainBrightFilter : public TWithoutKernelBaseFilter {
 public:
  static constexpr const char* kClassName = "TDegrainBrightFilter";
  using TWithoutKernelBaseFilter::TWithoutKernelBaseFilter;
  const char* ClassName() const override { return kClassName; }
  void ApplyKernel(uint8_t* dst, uint8_t* src, int32_t width, int32_t height) override;
  std::optional<TRankPass> RankPass() const override;
};

// "Degrain Dark": the darkest of the four arm maxima; isolated dark specks rise.
class TDegrainDarkFilter : public TWithoutKernelBaseFilter {
 public:
  static constexpr const char* kClassName = "TDegrainDarkFilter";
  using TWithoutKernelBaseFilter::TWithoutKernelBaseFilter;
  const char* ClassName() const override { return kClassName; }
  void ApplyKernel(uint8_t* dst, uint8_t* src, int32_t width, int32_t height) override;
  std::optional<TRankPass> RankPass() const override;
};

// "Degrain": the Degrain Dark result when that is another pixel than the centre, otherwise the
// Degrain Bright result; removes isolated specks of both kinds.
class TDegrainFilter : public TWithoutKernelBaseFilter {
 public:
  static constexpr const char* kClassName = "TDegrainFilter";
  using TWithoutKernelBaseFilter::TWithoutKernelBaseFilter;
  const char* ClassName() const override { return kClassName; }
  void ApplyKernel(uint8_t* dst, uint8_t* src, int32_t width, int32_t height) override;
  std::optional<TRankPass> RankPass() const override;
};

}  // namespace ombrix
