#include "FastRank.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <limits>
#include <memory>
#include <new>
#include <thread>
#include <vector>

#include "Errors.h"
#include "FastRankPlan.h"
#include "ThreadPool.h"

namespace ombrix {

namespace {

const TRankIsaImpl* RankImplOf(TKernelIsa isa) {
  switch (isa) {
    case kiPlain:
      return &kRankPlain;
#if defined(OMBRIX_FAST_KERNEL_X86)
    case kiAvx2:
      return &kRankAvx2;
    case kiAvx512:
    case kiAvx512Vnni:
      // The rank passes have no use for VNNI's multiply-adds.
      return &kRankAvx512;
#endif
    default:
      return nullptr;
  }
}

int32_t BitsFor(int32_t largest) {
  int32_t bits = 0;
  while (bits < 31 && (int64_t{1} << bits) <= largest) ++bits;
  return bits;
}

int64_t Rounded(int64_t ints) {
  return (ints + 15) / 16 * 16;
}

// Scratch elements one band of FinishRows needs (the sizes of FastRankRows.h, rounded up).
int64_t FinishInts(const TRankPlan& p) {
  const int64_t width = p.Width;
  // The 3 x 3 Median: four rows of 16-bit keys and of pixels, and three of sorted keys with
  // a column on either side; Minimum and Maximum: four rows of pixels and their extremes.
  if (p.Box == 3 && p.Kind == rkMedian) {
    return 4 * Rounded(width) + 4 * Rounded(width / 2 + 16) + 3 * Rounded(width / 2 + 24);
  }
  if (p.Box == 3 && (p.Kind == rkMinimum || p.Kind == rkMaximum)) return 8 * Rounded(width);
  const int64_t window = std::min<int64_t>(p.Box, 2 * int64_t{p.Height});
  const int64_t column = Rounded((window + 2) * width + 48) + 3 * 16;
  const int64_t offsets = Rounded(width);
  switch (p.Kind) {
    case rkMinimum:
    case rkMaximum:
      return Rounded(window * width) + 2 * Rounded(width) + offsets + Rounded(3 * (3 * width + 64));
    case rkMaxMin:
    case rkMinMax:
      return 2 * column + 3 * Rounded(width) + 2 * offsets + 3 * Rounded(2 * width + 2);
    case rkMedian:
      // Column histograms, the window's, the differences of a group's other rows and the one
      // rows outside the picture count into, each target's level and count, and the
      // luminances column by column (64 bytes a column).
      return Rounded(width * (256 + 16) / 2 + 1) + Rounded(256 + 16) +
             Rounded((kMedianRowsPerPass + 1) * (256 + 16) / 2) +
             2 * Rounded(kMedianRowsPerPass * width) + Rounded(16 * width);
    case rkMosaic:
      return 3 * Rounded(width);
    default:
      return 4 * column + 5 * offsets + Rounded(3 * (3 * width + 64));
  }
}

// Scratch kept by each thread between passes, so that a frame does not fault in fresh pages;
// a block larger than kKeptInts (a huge box) lives in `large` for this pass only.
constexpr std::size_t kKeptInts = std::size_t{1} << 21;

uint32_t* Scratch(std::size_t ints, std::vector<uint32_t>& large) {
  thread_local std::vector<uint32_t> kept;
  std::vector<uint32_t>& block = ints > kKeptInts ? large : kept;
  if (block.size() < ints + 16) {
    try {
      block.assign(ints + 16, 0);
    } catch (const std::bad_alloc&) {
      throw EOutOfMemory();
    }
  }
  const auto address = reinterpret_cast<std::uintptr_t>(block.data());
  return block.data() + ((64 - address % 64) % 64) / sizeof(uint32_t);
}

// The first item of range `part` of `count` items split into `parts`.
int32_t PartStart(int32_t count, int part, int parts) {
  return static_cast<int32_t>(int64_t{count} * part / parts);
}

// Runs job(first, end) over `count` items split into about `parts` contiguous ranges.
template <class Job>
void Split(int threads, int32_t count, int parts, Job job) {
  parts = std::max(1, std::min<int>(parts, count));
  std::atomic<int> next{0};
  ThreadPool::Shared().Run(std::min(threads, parts), [&](int) {
    for (int part = next++; part < parts; part = next++) {
      const int32_t first = PartStart(count, part, parts);
      const int32_t end = PartStart(count, part + 1, parts);
      if (first < end) job(first, end);
    }
  });
}

// The Median's column histograms (kBins 16-bit counts a column) of one strip take at most
// about this many bytes: half the second-level cache of the processors at hand, which leaves
// room for the rows and the luminances the strip reads beside them.
constexpr int64_t kStripHistogramBytes = 256 * 1024;
constexpr int64_t kColumnHistogramBytes = (256 + 16) * 2;

// Target columns per strip of a Median: strips of even width whose histograms, with the
// columns beside each strip that its windows reach, fit kStripHistogramBytes; the whole width
// when even the widest such strip would count more columns beside it than it has.
int32_t MedianStripColumns(int32_t width, int32_t box, int32_t asked) {
  if (asked > 0) return std::min(asked, width);
  const int64_t most = kStripHistogramBytes / kColumnHistogramBytes - (int64_t{box} - 1);
  if (most < 4 * int64_t{box} || width <= most) return width;
  const int64_t strips = (width + most - 1) / most;
  return static_cast<int32_t>((width + strips - 1) / strips);
}

// The widest picture whose Median (box above 3) runs here: its histograms take 570 MB a thread.
constexpr int32_t kWidestMedian = 1 << 20;

}  // namespace

bool RankScalesByArea(TRankKind kind) {
  return kind == rkMosaic || kind == rkMaxMin || kind == rkMinMax;
}

int32_t AreaScaleFactor(int32_t box) {
  return static_cast<int32_t>(
      std::min<int64_t>(int64_t{box} * box, std::numeric_limits<int32_t>::max()));
}

bool FastRankPass(const TRankPass& pass, uint8_t* dst, uint8_t* src, int32_t width, int32_t height,
                  const TFastRankOptions& options) {
  if (pass.Box < 1) return false;
  const TKernelIsa isa = options.Isa ? *options.Isa : BestKernelIsa();
  const TRankIsaImpl* impl = RankImplOf(isa);
  if (impl == nullptr || !KernelIsaSupported(isa)) return false;
  if (width <= 0 || height <= 0) return true;
  const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  if (dst < src + 4 * pixels && src < dst + 4 * pixels) return false;

  TRankPlan plan;
  plan.Kind = pass.Kind;
  plan.Source = reinterpret_cast<uint32_t*>(src);
  plan.Dest = reinterpret_cast<uint32_t*>(dst);
  plan.Width = width;
  plan.Height = height;
  plan.WidthBits = BitsFor(width - 1);
  // Target rows per strip: the keys (of every kind but Median and Mosaic) hold placeRows rows,
  // and a strip reads Box - 1 rows beside its own.
  int64_t stripRows = height;
  if (pass.Kind != rkMedian && pass.Kind != rkMosaic) {
    if (width >= int64_t{kPlaceMask}) return false;
    const int64_t placeRows = ((int64_t{kPlaceMask} - width) >> plan.WidthBits) + 1;
    if (height > placeRows) stripRows = placeRows - (int64_t{pass.Box} - 1);
    if (options.StripRows > 0) stripRows = std::min<int64_t>(stripRows, options.StripRows);
    if (stripRows < 1) return false;
  }
  // The Median's column histograms take 544 bytes a column on each thread.
  if (pass.Kind == rkMedian && pass.Box != 3 && width > kWidestMedian) return false;
  plan.Box = pass.Box;
  plan.Left = pass.Box / 2;
  plan.Right = (pass.Box - 1) / 2;
  plan.Above = (pass.Box - 1) / 2;
  plan.Below = pass.Box / 2;
  plan.Hysteresis = pass.Hysteresis;
  plan.StripColumns = MedianStripColumns(width, pass.Box, options.StripColumns);
  const double area = static_cast<double>(pass.Box) * pass.Box;
  plan.AreaReciprocal = static_cast<float>(1.0 / area);
  // A float times a number below 2^25 is exact in double, so the comparison is exact.
  if (static_cast<double>(plan.AreaReciprocal) * area < 1.0) {
    plan.AreaReciprocal = std::nextafter(plan.AreaReciprocal, 2.0f);
  }

  const ThreadPool& pool = ThreadPool::Shared();
  const int threads = std::max(1, options.Threads > 0 ? options.Threads : pool.Size());
  const int64_t finishInts = FinishInts(plan);
  if (pass.Kind == rkMosaic) {
    const int32_t tileRows = (height + plan.Below + pass.Box - 1) / pass.Box;
    Split(threads, tileRows, 4 * threads, [&](int32_t first, int32_t end) {
      std::vector<uint32_t> large;
      impl->MosaicTileRows(plan, first, end, Scratch(static_cast<std::size_t>(finishInts), large));
    });
    return true;
  }

  // The extremes read byte 3 of the source; at box 3 they and the Median make it themselves as
  // they go.
  const bool extremes = pass.Kind == rkMinimum || pass.Kind == rkMaximum;
  const bool madeAsTheyGo = (extremes || pass.Kind == rkMedian) && pass.Box == 3;
  int planes = 0;
  switch (pass.Kind) {
    case rkMinimum:
    case rkMaximum:
    case rkMedian:
      planes = 0;
      break;
    default:
      planes = 2;
      break;
  }
  std::unique_ptr<uint8_t[]> luminance;
  std::unique_ptr<uint32_t[]> planeBlock;
  try {
    // Rows are read 32 bytes at a time, also at the end of the last one.
    if (!extremes && !madeAsTheyGo) luminance.reset(new uint8_t[pixels + 64]);
    if (planes > 0) planeBlock.reset(new uint32_t[pixels * static_cast<std::size_t>(planes)]);
  } catch (const std::bad_alloc&) {
    throw EOutOfMemory();
  }
  plan.Luminance = luminance.get();
  for (int i = 0; i < planes; ++i)
    plan.Planes[i] = planeBlock.get() + pixels * static_cast<std::size_t>(i);

  const int64_t prepareInts = 2 * (int64_t{width} + 16) + 3 * (3 * int64_t{width} + 64) + 16;
  // Each band restarts the running extremes and histograms over a window's height of rows;
  // bands of at least a few windows keep that small.
  const int64_t bandRows = std::max<int64_t>(32, 4 * int64_t{pass.Box});
  for (int32_t strip = 0; strip < height; strip += static_cast<int32_t>(stripRows)) {
    const auto stripEnd = static_cast<int32_t>(std::min<int64_t>(height, strip + stripRows));
    // The rows the strip reads; a row shared with the strip before is prepared again with the
    // places of this one (its luminance comes out the same).
    const int32_t low = std::max(strip - plan.Below, 0);
    plan.PlaceTop =
        static_cast<int32_t>(std::min<int64_t>(int64_t{stripEnd} - 1 + plan.Above, height - 1));
    const auto prepare = [&](int32_t first, int32_t end) {
      std::vector<uint32_t> large;
      impl->PrepareRows(plan, first, end, Scratch(static_cast<std::size_t>(prepareInts), large));
    };
    // The extremes and the Median above box 3 make the luminance band by band inside the pool's
    // job (one wake-up of the pool a strip instead of two, and a band's rows are made by the
    // thread that reads them); the other kinds before it.
    const bool bandLuminance = (extremes || pass.Kind == rkMedian) && !madeAsTheyGo;
    if (!madeAsTheyGo && !bandLuminance) {
      Split(threads, plan.PlaceTop - low + 1, 4 * threads,
            [&](int32_t first, int32_t end) { prepare(low + first, low + end); });
    }
    const int32_t rows = stripEnd - strip;
    // A band of the 3 x 3 passes restarts over two rows only, so they take several bands a
    // thread: the calling thread works through them while the pool's other threads wake.
    const int bands = static_cast<int>(
        std::clamp<int64_t>(rows / bandRows, 1, madeAsTheyGo ? 4 * threads : threads));
    // Seam s, between bands s - 1 and s, counts the bands beside it that have finished.
    std::vector<std::atomic<int>> seams(madeAsTheyGo ? static_cast<std::size_t>(bands) + 1 : 0);
    // Band b's luminance (its own rows; the last band's also those above the strip that its
    // windows read): 0 not begun, 1 being made, 2 made. A band makes its own, then waits for
    // those of the bands beside it, whose rows its windows read (a band holds more rows than a
    // window reaches), making one itself that no thread has begun, so that a thread never waits
    // for a band that nobody works on.
    const auto bandOf = [&](int32_t first) {
      int band = 0;
      while (PartStart(rows, band, bands) < first) ++band;
      return band;
    };
    std::vector<std::atomic<int>> lit(bandLuminance ? static_cast<std::size_t>(bands) : 0);
    const auto light = [&](int band) {
      int untouched = 0;
      if (lit[static_cast<std::size_t>(band)].compare_exchange_strong(untouched, 1,
                                                                      std::memory_order_acq_rel)) {
        prepare(strip + PartStart(rows, band, bands),
                band + 1 == bands ? plan.PlaceTop + 1 : strip + PartStart(rows, band + 1, bands));
        lit[static_cast<std::size_t>(band)].store(2, std::memory_order_release);
      }
      while (lit[static_cast<std::size_t>(band)].load(std::memory_order_acquire) != 2) {
        std::this_thread::yield();
      }
    };
    Split(threads, rows, bands, [&](int32_t first, int32_t end) {
      if (bandLuminance) {
        const int band = bandOf(first);
        light(band);
        if (band > 0) light(band - 1);
        if (band + 1 < bands) light(band + 1);
      }
      {
        std::vector<uint32_t> large;
        impl->FinishRows(plan, strip + first, strip + end,
                         Scratch(static_cast<std::size_t>(finishInts), large));
      }
      if (!madeAsTheyGo) return;
      // The rows at each seam, which the bands on both sides read, get their luminance from
      // whichever of the two finishes last; the strip's first and last rows from their band.
      const int band = bandOf(first);
      std::atomic<int>* const beside = seams.data() + band;
      if (band == 0) prepare(strip + first, strip + first + 1);
      if (band > 0 && beside[0].fetch_add(1, std::memory_order_acq_rel) == 1) {
        prepare(strip + first - 1, strip + first + 1);
      }
      if (band + 1 == bands) {
        if (end - 1 > first) prepare(strip + end - 1, strip + end);
      } else if (beside[1].fetch_add(1, std::memory_order_acq_rel) == 1) {
        prepare(strip + end - 1, strip + end + 1);
      }
    });
  }
  return true;
}

}  // namespace ombrix
