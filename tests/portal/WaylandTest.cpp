// The screen of a Wayland session against a real compositor: run inside the private headless
// GNOME session of scripts/gnome-session.sh (ctest does), skipped anywhere else.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <future>
#include <thread>

#include "MutterRemote.h"
#include "PortalDesktop.h"

extern char** environ;

namespace ombrix {
namespace {

using namespace std::chrono_literals;
using test::MutterRemote;

// The known picture of pattern_window.py at (x, y), as 0xRRGGBB.
uint32_t PatternAt(int x, int y) {
  return uint32_t(x % 256) << 16 | uint32_t(y % 256) << 8 |
         uint32_t((x / 256) % 16 + 16 * ((y / 256) % 16));
}

uint32_t FrameAt(const CastFrame& f, int x, int y) {
  const uint8_t* p = &f.pixels[static_cast<std::size_t>(y * f.width + x) * 4];
  return uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
}

// A child process that ends with the test.
class Child {
 public:
  bool Start(std::vector<std::string> argv, std::vector<std::string> extraEnv) {
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
    for (auto& e : extraEnv) env.push_back(e);
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    return posix_spawn(&pid_, args[0], nullptr, nullptr, args.data(), envp.data()) == 0;
  }
  ~Child() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }

 private:
  pid_t pid_ = -1;
};

class WaylandSession : public testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("OMBRIX_GNOME_LOGS")) GTEST_SKIP() << "not inside scripts/gnome-session.sh";
    ASSERT_TRUE(client.Start({"/usr/bin/python3", OMBRIX_PATTERN_WINDOW, "1280", "800"},
                             {"GSK_RENDERER=cairo"}));
    std::string error;
    remote = MutterRemote::Open(error);
    ASSERT_TRUE(remote) << error;
    // The picture is up when the reference shows it.
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    CastFrame frame;
    while (std::chrono::steady_clock::now() < deadline) {
      if (remote->NewestFrame(frame, 1s) && frame.width == 1280 &&
          FrameAt(frame, 700, 500) == PatternAt(700, 500))
        break;
      remote->NextFrame(frame, 200ms);
    }
    ASSERT_EQ(FrameAt(frame, 700, 500), PatternAt(700, 500)) << "the pattern window did not show";
  }

  Child client;
  std::unique_ptr<MutterRemote> remote;
};

// Waits for `condition` up to `timeout`, looking again every few milliseconds.
template <typename Condition>
bool WaitFor(std::chrono::milliseconds timeout, Condition condition) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

// Copies `zone` magnified `zoom` times (as the frame cycle's parallelogram does) and counts the
// pixels that differ from the known picture.
int CopyMismatches(Desktop& desktop, const TRect& zone, int zoom) {
  TBitmap capture(zone.Width() * zoom, zone.Height() * zoom);
  const TPoint points[3] = {{0, 0}, {zone.Width() * zoom, 0}, {0, zone.Height() * zoom}};
  if (!desktop.CopyZone(zone, points, capture)) return -1;
  int mismatches = 0;
  for (int y = 0; y < capture.Height(); ++y) {
    const uint8_t* row = capture.ScanLine(y);
    for (int x = 0; x < capture.Width(); ++x) {
      const uint32_t seen =
          uint32_t{row[x * 4 + 2]} << 16 | uint32_t{row[x * 4 + 1]} << 8 | row[x * 4];
      if (seen != PatternAt(zone.Left + x / zoom, zone.Top + y / zoom)) ++mismatches;
    }
  }
  return mismatches;
}

// The portal's consent dialog: centred on the 1280 x 800 monitor, its only monitor row in the
// middle and its buttons in the title bar.
constexpr TPoint kDialogBody{400, 500};
constexpr TPoint kMonitorRow{640, 426};
constexpr TPoint kShareButton{852, 272};
constexpr TPoint kCancelButton{430, 272};

class WaylandScreen : public WaylandSession {
 protected:
  // Starts opening the screen; the portal may show its dialog meanwhile.
  std::future<std::unique_ptr<PortalDesktop>> OpenLater(TPortalFailure& failure) {
    return std::async(std::launch::async, [&failure] {
      PortalDesktopOptions options;
      options.portal.consentTimeout = 60s;
      options.firstFrameTimeout = 30s;
      return PortalDesktop::Open(options, failure);
    });
  }

  uint32_t ReferenceAt(TPoint p) {
    CastFrame frame;
    remote->NextFrame(frame, 100ms);
    if (!remote->NewestFrame(frame, 1s)) return 0xFF000000u;
    return FrameAt(frame, p.X, p.Y);
  }
  bool DialogShown() { return ReferenceAt(kDialogBody) != PatternAt(kDialogBody.X, kDialogBody.Y); }
  void Press(TPoint p) {
    ASSERT_TRUE(remote->MovePointer(p.X, p.Y));
    ASSERT_TRUE(remote->Click());
  }
  void SaveReference(const char* name) {
    CastFrame frame;
    if (remote->NewestFrame(frame, 1s)) test::SavePpm(frame, name);
  }

  // Chooses the monitor in the dialog, then Share (enabled once a monitor is chosen).
  void AcceptConsent() {
    if (!WaitFor(60s, [&] { return DialogShown(); })) {
      SaveReference("wayland-no-dialog.ppm");
      FAIL() << "the consent dialog did not show (see wayland-no-dialog.ppm)";
    }
    // The first click into the dialog only gives it the focus.
    Press(kDialogBody);
    const uint32_t disabled = ReferenceAt(kShareButton);
    Press(kMonitorRow);
    if (!WaitFor(30s, [&] { return ReferenceAt(kShareButton) != disabled; })) {
      SaveReference("wayland-dialog.ppm");
      FAIL() << "choosing the monitor did not enable Share (see wayland-dialog.ppm)";
    }
    Press(kShareButton);
  }
  void RefuseConsent() {
    ASSERT_TRUE(WaitFor(60s, [&] { return DialogShown(); })) << "no consent dialog";
    Press(kDialogBody);
    Press(kCancelButton);
  }

  static TPoint CursorOf(Desktop& desktop) {
    TPoint p{-1, -1};
    desktop.CursorPos(p);
    return p;
  }
};

TEST_F(WaylandScreen, ConsentOnceThenTheZoneAndTheCursorFollowThePointer) {
  TPortalFailure failure;
  auto opening = OpenLater(failure);
  AcceptConsent();
  ASSERT_EQ(opening.wait_for(60s), std::future_status::ready) << "the screen did not open";
  std::unique_ptr<PortalDesktop> desktop = opening.get();
  ASSERT_TRUE(desktop) << PortalProblemLine(failure);
  EXPECT_EQ(desktop->VirtualScreen(), (TRect{0, 0, 1280, 800}));
  EXPECT_EQ(desktop->MonitorCount(), 1);

  // The first pointer moves may stall the compositor for seconds: generous deadlines.
  for (const TPoint at : {TPoint{300, 200}, TPoint{1000, 600}, TPoint{0, 799}}) {
    ASSERT_TRUE(remote->MovePointer(at.X, at.Y));
    ASSERT_TRUE(WaitFor(20s, [&] { return CursorOf(*desktop) == at; }))
        << "the cursor stayed at " << CursorOf(*desktop).X << "," << CursorOf(*desktop).Y
        << " instead of " << at.X << "," << at.Y;
    const TRect zone{std::max(at.X - 10, 0), std::max(at.Y - 10, 0), std::min(at.X + 10, 1280),
                     std::min(at.Y + 10, 800)};
    // The dialog may still be fading: the view settles on the picture below it.
    EXPECT_TRUE(WaitFor(10s, [&] { return CopyMismatches(*desktop, zone, 1) == 0; }))
        << CopyMismatches(*desktop, zone, 1) << " pixels differ around " << at.X << "," << at.Y;
    EXPECT_EQ(CopyMismatches(*desktop, zone, 4), 0);
  }
  // A still screen sends no frames: the zone is then known not to have changed.
  const TRect still{100, 100, 140, 130};
  EXPECT_TRUE(WaitFor(10s, [&] {
    return CopyMismatches(*desktop, still, 1) == 0 && !desktop->ZoneMayHaveChanged(still);
  }));
  EXPECT_TRUE(desktop->Failure().empty()) << desktop->Failure();
  desktop.reset();

  // The permission is kept: the second start asks nothing.
  const std::string token = RestoreTokenPath(nullptr, std::getenv("HOME"));
  EXPECT_FALSE(LoadRestoreToken(token).empty());
  PortalDesktopOptions options;
  options.portal.consentTimeout = 20s;
  TPortalFailure again;
  desktop = PortalDesktop::Open(options, again);
  ASSERT_TRUE(desktop) << PortalProblemLine(again) << " (a dialog asked again?)";
  ASSERT_TRUE(remote->MovePointer(640, 400));
  EXPECT_TRUE(WaitFor(20s, [&] { return CursorOf(*desktop) == TPoint{640, 400}; }));
}

TEST_F(WaylandScreen, RefusedConsentFailsAndSaysSo) {
  TPortalFailure failure;
  auto opening = OpenLater(failure);
  RefuseConsent();
  ASSERT_EQ(opening.wait_for(60s), std::future_status::ready) << "the refusal was not heard";
  EXPECT_FALSE(opening.get());
  EXPECT_EQ(failure.problem, ppRefused) << PortalProblemLine(failure);
}

// Run in a session without the portal (scripts/gnome-session.sh --no-portal).
TEST(WaylandWithoutPortal, OpeningFailsAtOnceAndSaysWhatIsMissing) {
  if (!std::getenv("OMBRIX_GNOME_LOGS")) GTEST_SKIP() << "not inside scripts/gnome-session.sh";
  TPortalFailure failure;
  EXPECT_FALSE(PortalDesktop::Open({}, failure));
  EXPECT_EQ(failure.problem, ppNoPortal) << PortalProblemLine(failure);
  EXPECT_NE(PortalProblemAdvice(failure).find("xdg-desktop-portal"), std::string::npos);
}

}  // namespace
}  // namespace ombrix
