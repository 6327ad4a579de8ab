// The program as its users start it: without a display, on a display that goes away, and under
// a real rootless Xwayland (weston's headless backend). Every server is the test's own, started
// here and stopped afterwards.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QApplication>
#include <QCheckBox>
#include <QScrollBar>
#include <QSlider>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "Controls.h"
#include "Ombrix.h"
#include "Startup.h"
#include "X11Desktop.h"
#include "X11Owners.h"
#include "X11TestSupport.h"

extern char** environ;

namespace ombrix {
namespace {

using namespace std::chrono_literals;
using test::TestClient;
using test::WaitUntil;
namespace fs = std::filesystem;

// Changes to the test's environment for a child: a value sets the variable, none removes it.
using EnvironmentChanges = std::map<std::string, std::optional<std::string>>;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// A private folder, removed with everything in it when this goes.
class TempFolder {
 public:
  TempFolder() {
    std::string pattern = ::testing::TempDir() + "ombrix-program-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  const fs::path& Path() const { return path_; }

 private:
  fs::path path_;
};

// A child process with its output in files of its own folder; killed if it still runs when
// this goes.
class Child {
 public:
  Child(std::vector<std::string> words, const EnvironmentChanges& changes) {
    std::map<std::string, std::string> variables;
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string entry = *e;
      const std::size_t equals = entry.find('=');
      if (equals != std::string::npos)
        variables[entry.substr(0, equals)] = entry.substr(equals + 1);
    }
    for (const auto& [name, value] : changes) {
      if (value) {
        variables[name] = *value;
      } else {
        variables.erase(name);
      }
    }
    std::vector<std::string> entries;
    for (const auto& [name, value] : variables) entries.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (std::string& entry : entries) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, OutPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, ErrPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    if (posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Child() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, &status_, 0);
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  bool Started() const { return pid_ > 0 || exited_; }
  // True once the child has ended, within `limit`; its wait status is then Status().
  bool WaitForExit(std::chrono::milliseconds limit) {
    if (exited_) return true;
    if (pid_ <= 0) return false;
    exited_ = WaitUntil([&] { return waitpid(pid_, &status_, WNOHANG) == pid_; }, limit);
    if (exited_) pid_ = -1;
    return exited_;
  }
  void Terminate() {
    if (pid_ > 0) kill(pid_, SIGTERM);
  }
  int Status() const { return status_; }
  std::string Out() const { return ReadFile(OutPath()); }
  std::string Err() const { return ReadFile(ErrPath()); }
  const fs::path& Folder() const { return folder_.Path(); }

 private:
  fs::path OutPath() const { return folder_.Path() / "stdout"; }
  fs::path ErrPath() const { return folder_.Path() / "stderr"; }

  TempFolder folder_;
  pid_t pid_ = -1;
  int status_ = 0;
  bool exited_ = false;
};

int LineCount(const std::string& text) {
  return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

// Whether a window whose WM_NAME starts with `prefix` (is `prefix`, when `whole`) exists
// anywhere under the root.
bool HasWindowNamed(const char* displayName, const std::string& prefix, bool whole = false) {
  TestClient client(displayName);
  if (!client.Ok()) return false;
  xcb_connection_t* c = client.Connection();
  std::vector<xcb_window_t> pending = {client.Root()};
  while (!pending.empty()) {
    const xcb_window_t window = pending.back();
    pending.pop_back();
    const x11::Reply<xcb_get_property_reply_t> name(xcb_get_property_reply(
        c, xcb_get_property(c, 0, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 0, 256), nullptr));
    if (name && xcb_get_property_value_length(name.get()) > 0) {
      const std::string text(static_cast<const char*>(xcb_get_property_value(name.get())),
                             static_cast<std::size_t>(xcb_get_property_value_length(name.get())));
      if (whole ? text == prefix : text.rfind(prefix, 0) == 0) return true;
    }
    const x11::Reply<xcb_query_tree_reply_t> tree(
        xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr));
    if (!tree) continue;
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    pending.insert(pending.end(), children, children + xcb_query_tree_children_length(tree.get()));
  }
  return false;
}

// Whether the X server `displayName` still answers.
bool ServerAnswers(const char* displayName) {
  TestClient client(displayName);
  if (!client.Ok()) return false;
  xcb_connection_t* c = client.Connection();
  const x11::Reply<xcb_get_geometry_reply_t> g(
      xcb_get_geometry_reply(c, xcb_get_geometry(c, client.Root()), nullptr));
  return g != nullptr;
}

// The program ended by itself with `code`: no signal, so no abort and no core dump.
::testing::AssertionResult ExitedWith(const Child& child, int code) {
  const int status = child.Status();
  if (WIFSIGNALED(status))
    return ::testing::AssertionFailure() << "ended by signal " << WTERMSIG(status);
  if (!WIFEXITED(status)) return ::testing::AssertionFailure() << "did not exit";
  if (WEXITSTATUS(status) != code)
    return ::testing::AssertionFailure() << "exit status " << WEXITSTATUS(status);
  return ::testing::AssertionSuccess();
}

// A display number that nothing listens on: DISPLAY=:99 unless something happens to be there.
std::string DeadDisplay() {
  for (int n = 99; n < 200; ++n) {
    const std::string number = std::to_string(n);
    const fs::path socket = fs::path("/tmp/.X11-unix") / ("X" + number);
    const fs::path lock = fs::path("/tmp") / (".X" + number + "-lock");
    if (!fs::exists(socket) && !fs::exists(lock)) return ":" + number;
  }
  return ":199";
}

struct StartCase {
  const char* name;
  std::vector<std::string> arguments;
  EnvironmentChanges environment;
  int exitCode;
  // What stdout holds exactly (when not null), and a piece of the one line on stderr.
  const char* out;
  const char* errPart;
};

void PrintTo(const StartCase& row, std::ostream* out) {
  *out << row.name;
}

class StartWithoutDisplay : public ::testing::TestWithParam<StartCase> {};

TEST_P(StartWithoutDisplay, AnswersWithOneLineAndExitsWithoutAbort) {
  const StartCase& c = GetParam();
  std::vector<std::string> words = {OMBRIX_PROGRAM};
  words.insert(words.end(), c.arguments.begin(), c.arguments.end());
  EnvironmentChanges environment = c.environment;
  if (environment.count("DISPLAY") != 0 && environment["DISPLAY"] == std::string(":99"))
    environment["DISPLAY"] = DeadDisplay();
  Child child(words, environment);
  ASSERT_TRUE(child.Started());
  ASSERT_TRUE(child.WaitForExit(20s));
  EXPECT_TRUE(ExitedWith(child, c.exitCode));
  if (c.out != nullptr) {
    EXPECT_EQ(child.Out(), c.out);
  }
  if (c.errPart != nullptr) {
    EXPECT_EQ(LineCount(child.Err()), 1) << child.Err();
    EXPECT_NE(child.Err().find(c.errPart), std::string::npos) << child.Err();
  } else {
    EXPECT_EQ(child.Err(), "");
  }
  EXPECT_FALSE(fs::exists(child.Folder() / "core"));
}

const std::optional<std::string> kUnset;

INSTANTIATE_TEST_SUITE_P(
    Program, StartWithoutDisplay,
    ::testing::Values(
        StartCase{"HelpWithoutDisplay",
                  {"--help"},
                  {{"DISPLAY", kUnset}},
                  0,
                  "Usage: ombrix [--help | --version | --screen=x11|portal]\n"
                  "A screen magnifier and live image filter for Linux desktops.\n"
                  "Runs on the X11 display named by DISPLAY; in a Wayland session it reads the "
                  "screen\nfrom the desktop's screen cast, asking once for permission.\n"
                  "  -h, --help        show this help and exit\n"
                  "  -V, --version     show the version and exit\n"
                  "  --screen=x11      read the screen from the X server (under Xwayland: X11 "
                  "windows only)\n"
                  "  --screen=portal   read the screen from the desktop's screen cast\n",
                  nullptr},
        StartCase{"VersionWithoutDisplay",
                  {"--version"},
                  {{"DISPLAY", kUnset}},
                  0,
                  "Ombrix 1.5.2.0\n",
                  nullptr},
        StartCase{"UnknownOption",
                  {"--zoom=8"},
                  {{"DISPLAY", kUnset}},
                  2,
                  "",
                  "unknown option \"--zoom=8\""},
        StartCase{"NoDisplay",
                  {},
                  {{"DISPLAY", kUnset}, {"WAYLAND_DISPLAY", kUnset}},
                  1,
                  "",
                  "no X11 display (DISPLAY is not set)"},
        StartCase{"DisplayWithNothingThere",
                  {},
                  {{"DISPLAY", ":99"}},
                  1,
                  "",
                  "cannot open the X11 display"},
        StartCase{"WaylandWithoutX11",
                  {},
                  {{"DISPLAY", kUnset}, {"WAYLAND_DISPLAY", "wayland-0"}},
                  1,
                  "",
                  "log in to an X11 session, or start Ombrix under Xwayland"}),
    [](const ::testing::TestParamInfo<StartCase>& row) { return std::string(row.param.name); });

TEST(Program, EndsWithOneLineAndStatusOneWhenItsXServerIsKilled) {
  test::PrivateXServer server({"-screen", "0", "1024x768x24"});
  if (server.Name().empty()) {
    GTEST_SKIP() << "Xvfb could not start";
  }
  Child child({OMBRIX_PROGRAM}, {{"DISPLAY", server.Name()}, {"WAYLAND_DISPLAY", kUnset}});
  ASSERT_TRUE(child.Started());
  // Running: its frame cycle writes the caption.
  ASSERT_TRUE(WaitUntil([&] { return HasWindowNamed(server.Name().c_str(), "Ombrix ["); }, 20s));
  const std::string before = child.Err();
  server.Kill();
  ASSERT_TRUE(child.WaitForExit(5s));
  EXPECT_TRUE(ExitedWith(child, 1));
  const std::string said = child.Err().substr(before.size());
  EXPECT_EQ(said,
            "ombrix: the connection to the X server was lost (the X server ended); "
            "Ombrix ends\n");
}

// weston's headless backend with its rootless Xwayland, on a private runtime folder.
class PrivateWeston {
 public:
  PrivateWeston() {
    if (runtime_.Path().empty()) return;
    fs::permissions(runtime_.Path(), fs::perms::owner_all, fs::perm_options::replace);
    const std::string socket = "ombrix-test-" + std::to_string(getpid());
    weston_ = std::make_unique<Child>(
        std::vector<std::string>{"weston", "--backend=headless-backend.so", "--xwayland",
                                 "--no-config", "--idle-time=0", "--width=1600", "--height=1000",
                                 "--socket=" + socket},
        EnvironmentChanges{{"XDG_RUNTIME_DIR", runtime_.Path().string()},
                           {"WAYLAND_DISPLAY", kUnset},
                           {"DISPLAY", kUnset}});
    if (!weston_->Started()) return;
    // weston names the X display once its Xwayland listens (started on the first client).
    const std::string mark = "xserver listening on display ";
    WaitUntil(
        [&] {
          const std::string log = weston_->Err();
          const std::size_t at = log.find(mark);
          if (at == std::string::npos) return false;
          const std::size_t end = log.find('\n', at);
          if (end == std::string::npos) return false;
          display_ = log.substr(at + mark.size(), end - at - mark.size());
          return true;
        },
        20s);
  }
  ~PrivateWeston() {
    if (!weston_) return;
    weston_->Terminate();
    weston_->WaitForExit(10s);
  }
  PrivateWeston(const PrivateWeston&) = delete;
  PrivateWeston& operator=(const PrivateWeston&) = delete;

  // ":N", empty when weston or its Xwayland could not start.
  const std::string& Display() const { return display_; }
  const fs::path& RuntimeFolder() const { return runtime_.Path(); }

 private:
  TempFolder runtime_;
  std::unique_ptr<Child> weston_;
  std::string display_;
};

class Xwayland : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::system("command -v weston >/dev/null && command -v Xwayland >/dev/null") != 0)
      GTEST_SKIP() << "weston or Xwayland is not installed";
    weston_ = std::make_unique<PrivateWeston>();
    ASSERT_FALSE(weston_->Display().empty()) << "weston's Xwayland did not start";
  }
  const char* Display() const { return weston_->Display().c_str(); }

  std::unique_ptr<PrivateWeston> weston_;
};

TEST_F(Xwayland, ProgramSaysItsLineOnceRunsAndLeavesTheServerAlive) {
  Child child({OMBRIX_PROGRAM}, {{"DISPLAY", Display()},
                                 {"XDG_RUNTIME_DIR", weston_->RuntimeFolder().string()},
                                 {"WAYLAND_DISPLAY", kUnset}});
  ASSERT_TRUE(child.Started());
  ASSERT_TRUE(WaitUntil([&] { return HasWindowNamed(Display(), "Ombrix ["); }, 20s));
  // The notice is up beside the running window, and holds up nothing.
  EXPECT_TRUE(WaitUntil([&] { return HasWindowNamed(Display(), kXwaylandTitle, true); }));
  EXPECT_TRUE(ServerAnswers(Display()));
  child.Terminate();
  ASSERT_TRUE(child.WaitForExit(10s));
  const std::string err = child.Err();
  std::size_t count = 0;
  for (std::size_t at = err.find(kXwaylandLine); at != std::string::npos;
       at = err.find(kXwaylandLine, at + 1))
    ++count;
  EXPECT_EQ(count, 1u) << err;
  EXPECT_TRUE(ServerAnswers(Display()));
}

// The X11 screen with the cursor put where the test says: Xwayland's pointer belongs to the
// compositor, and a faked motion (XTEST) is just what weston's headless Xwayland cannot take.
class RestingCursorDesktop : public Desktop {
 public:
  explicit RestingCursorDesktop(X11Desktop& screen) : screen_(screen) {}
  TPoint cursor;
  bool CursorPos(TPoint& position) override {
    position = cursor;
    return true;
  }
  TRect VirtualScreen() override { return screen_.VirtualScreen(); }
  int MonitorCount() override { return screen_.MonitorCount(); }
  TRect NearestMonitor(const TRect& window) override { return screen_.NearestMonitor(window); }
  bool CopyZone(const TRect& zone, const TPoint (&points)[3], TBitmap& capture) override {
    return screen_.CopyZone(zone, points, capture);
  }
  void SetOwnWindowsProvider(OwnWindowsProvider provider) override {
    screen_.SetOwnWindowsProvider(std::move(provider));
  }

 private:
  X11Desktop& screen_;
};

TEST_F(Xwayland, TwoHundredFramesAtRestingPlacesShowTheX11WindowsOverBlack) {
  std::unique_ptr<X11Desktop> screen = X11Desktop::Open(Display());
  ASSERT_NE(screen, nullptr);
  ASSERT_TRUE(screen->IsXwayland());
  RestingCursorDesktop desktop(*screen);
  qputenv("DISPLAY", Display());
  qputenv("QT_QPA_PLATFORM", "xcb");
  qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(weston_->RuntimeFolder().string()));
  static int argc = 1;
  static char name[] = "program_tests";
  static char* argv[] = {name, nullptr};
  QApplication application(argc, argv);
  TApplicationWindows windows = CreateApplicationWindows(desktop);
  TForm1& form = *windows.Form1;
  form.Timer1->SetInterval(3600 * 1000);  // the test drives every cycle
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));

  // An X11 window of a known colour, in the half of the screen that ours is not in, where the
  // compositor leaves it; places far enough from the screen's edges that the zone is centred.
  const TRect root = screen->VirtualScreen();
  const TRect ours = form.WindowRect();
  const int middle =
      (ours.Left + ours.Right) / 2 > root.Width() / 2 ? root.Width() / 4 : root.Width() * 3 / 4;
  const TRect painted{middle - 200, 350, middle + 200, 650};
  const uint32_t colour = 0x3366CC;
  TestClient client(Display());
  ASSERT_TRUE(client.Ok());
  const xcb_window_t window = client.CreateWindow(painted, 0, false);
  client.SetColours(window, colour, 0);
  client.Map(window);
  client.Sync();

  const TPoint places[] = {
      {middle, 500}, {middle, 250}, {middle - 60, 400}, {middle + 60, 700}, {middle, 500}};
  int frames = 0;
  for (const TPoint& place : places) {
    desktop.cursor = place;
    for (int i = 0; i < 40; ++i, ++frames) form.Timer1Timer();
    const TBitmap& view = form.Image1->Picture();
    ASSERT_GT(view.Width(), 0);
    const uint32_t centre = test::PixelAt(view, view.Width() / 2, view.Height() / 2) & 0xFFFFFF;
    EXPECT_EQ(centre, painted.Contains(place) ? colour : 0u)
        << "cursor at " << place.X << "," << place.Y;
  }
  EXPECT_EQ(frames, 200);
  EXPECT_TRUE(ServerAnswers(Display()));
  EXPECT_FALSE(screen->ConnectionLost());
}

}  // namespace
}  // namespace ombrix
