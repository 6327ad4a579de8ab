// Copying a zone of the X11 screen into the capture bitmap, through each path: the root as it
// is on screen (shared memory or plain replies) and the zone rebuilt without our own window
// (shared memory or plain replies). Beside them the same copy out of a picture in memory, the
// floor that any path pays for the parallelogram pass.
//
// Runs on OMBRIX_X11_DISPLAY, else DISPLAY; without either it registers nothing. It puts a
// few windows of its own on the display, one of them declared ours, so that the rebuilt zone
// has real work to do.

#include <benchmark/benchmark.h>
#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "MemoryDesktop.h"
#include "X11Desktop.h"

namespace ombrix {
namespace {

struct Path {
  const char* name;
  X11Options options;
  // Whether our window lies in the zone; elsewhere the composed paths grab the root.
  bool oursInZone;
};

const Path kPaths[] = {
    {"root_shm", {true, false}, false},
    {"root_getimage", {false, false}, false},
    {"composed_shm", {true, true}, true},
    {"composed_getimage", {false, true}, true},
    {"composed_shm_ours_elsewhere", {true, true}, false},
};

const int kSizes[][2] = {{256, 256}, {512, 384}, {1024, 768}};

// Windows that stay on the display while the benchmarks run: eight of another client over the
// zones, one in the middle that the composed paths are told is ours, and one of ours far from
// every zone.
class Scenery {
 public:
  explicit Scenery(const char* display) : c_(xcb_connect(display, nullptr)) {
    if (xcb_connection_has_error(c_)) return;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
    for (int i = 0; i < 9; ++i) {
      const xcb_window_t w = xcb_generate_id(c_);
      const uint32_t values[] = {0x203040u * static_cast<uint32_t>(i + 1) & 0xFFFFFFu, 1};
      const bool ours = i == 8;
      xcb_create_window(c_, XCB_COPY_FROM_PARENT, w, screen->root,
                        static_cast<int16_t>(ours ? 300 : 40 + (i % 4) * 240),
                        static_cast<int16_t>(ours ? 250 : 40 + (i / 4) * 300), ours ? 500 : 300,
                        ours ? 300 : 220, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                        XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
      xcb_map_window(c_, w);
      if (ours) own_ = w;
    }
    std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr));
  }
  ~Scenery() { xcb_disconnect(c_); }
  Scenery(const Scenery&) = delete;
  Scenery& operator=(const Scenery&) = delete;

  uint32_t Own() const { return own_; }
  uint32_t Away() const { return away_; }

 private:
  xcb_connection_t* c_;
  uint32_t own_ = 0;
  uint32_t away_ = 0;
};

const char* g_display = nullptr;
std::unique_ptr<Scenery> g_scenery;

void FillZone(benchmark::State& state, Desktop& desktop, bool quarterTurn) {
  const int w = static_cast<int>(state.range(0));
  const int h = static_cast<int>(state.range(1));
  const TRect zone{100, 100, 100 + w, 100 + h};
  TBitmap capture(w, h, pf32bit);
  const TPoint copy[3] = {{0, 0}, {w, 0}, {0, h}};
  const TPoint turn[3] = {{w, 0}, {w, h}, {0, 0}};
  for (auto _ : state) {
    if (!desktop.CopyZone(zone, quarterTurn ? turn : copy, capture)) {
      state.SkipWithError("the screen could not be read");
      break;
    }
    benchmark::DoNotOptimize(capture.Bits());
  }
  state.SetBytesProcessed(state.iterations() * w * h * 4);
}

// Arguments: width, height, quarter turn (0 or 1).
void BM_CaptureX11(benchmark::State& state, Path path) {
  const X11Options options = path.options;
  auto desktop = X11Desktop::Open(g_display, options);
  if (!desktop || desktop->UsesShm() != options.useShm ||
      desktop->LeavesOutOwnWindows() != options.leaveOutOwnWindows) {
    state.SkipWithError("this path is not offered by the display");
    return;
  }
  const uint32_t own = path.oursInZone ? g_scenery->Own() : g_scenery->Away();
  desktop->SetOwnWindowsProvider([own] { return std::vector<uint32_t>{own}; });
  FillZone(state, *desktop, state.range(2) != 0);
}

void BM_CaptureMemory(benchmark::State& state) {
  MemoryDesktop desktop(1600, 1000);
  FillZone(state, desktop, state.range(2) != 0);
}

void Register() {
  for (const Path& path : kPaths) {
    auto* b = benchmark::RegisterBenchmark((std::string("BM_CaptureX11/") + path.name).c_str(),
                                           BM_CaptureX11, path);
    for (const auto& size : kSizes) b->Args({size[0], size[1], 0});
    b->Args({1024, 768, 1})->Unit(benchmark::kMicrosecond)->ArgNames({"w", "h", "turn"});
  }
  auto* b = benchmark::RegisterBenchmark("BM_CaptureMemory", BM_CaptureMemory);
  for (const auto& size : kSizes) b->Args({size[0], size[1], 0});
  b->Args({1024, 768, 1})->Unit(benchmark::kMicrosecond)->ArgNames({"w", "h", "turn"});
}

}  // namespace
}  // namespace ombrix

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  ombrix::g_display = std::getenv("OMBRIX_X11_DISPLAY");
  if (ombrix::g_display == nullptr) ombrix::g_display = std::getenv("DISPLAY");
  if (ombrix::g_display == nullptr || *ombrix::g_display == '\0') {
    std::fputs("No X display (OMBRIX_X11_DISPLAY or DISPLAY): capture benchmarks skipped\n",
               stderr);
    return 0;
  }
  ombrix::g_scenery = std::make_unique<ombrix::Scenery>(ombrix::g_display);
  ombrix::Register();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  ombrix::g_scenery.reset();
  return 0;
}
