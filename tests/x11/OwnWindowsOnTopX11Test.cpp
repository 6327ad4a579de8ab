// The windows that Ombrix opens while its main window stays on top, on a full-HD screen of the
// run's own with openbox: each comes up above the main window (as the window manager's stacking
// list says), a modal one with the focus, and the command window clear of the main window.
// Skipped when the run has no X11 test display (no Xvfb or openbox to start).

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <QtCore/qtestsupport_core.h>
#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QProcess>
#include <QTimer>
#include <QToolButton>
#include <QWindow>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "MemoryDesktop.h"
#include "Ombrix.h"
#include "Ucmdprocess.h"
#include "Unit2.h"
#include "X11TestSupport.h"

namespace ombrix {
namespace {

using test::TestClient;

// The private display that main starts; null when none runs.
const char* gDisplay = nullptr;

bool WaitFor(const std::function<bool()>& condition) {
  return QTest::qWaitFor(condition, 10000);
}

bool XDoTool(const std::string& arguments) {
  return std::system(("xdotool " + arguments + " >/dev/null 2>&1").c_str()) == 0;
}

xcb_window_t IdOf(const QWidget& widget) {
  return static_cast<xcb_window_t>(widget.windowHandle()->winId());
}

class OwnWindowsOnTopX11 : public ::testing::Test {
 protected:
  void SetUp() override {
    if (gDisplay == nullptr || QGuiApplication::platformName() != "xcb") {
      GTEST_SKIP() << "OMBRIX_X11_DISPLAY is not set";
    }
    client_ = std::make_unique<TestClient>(gDisplay);
    ASSERT_TRUE(client_->Ok());
  }

  void TearDown() override {
    windows_ = {};
    QCoreApplication::processEvents();
    // The next test's windows may get these ids: the window manager lets go of them first.
    if (client_) client_->SyncWithWindowManager();
  }

  // The program's windows, the main one shown where it places itself (centred), its timer idle.
  TForm1& Open() {
    windows_ = CreateApplicationWindows(desktop_);
    TForm1& form = *windows_.Form1;
    form.Timer1->SetInterval(3600 * 1000);
    form.show();
    // Qt knows the frame too, which places the command window by the main window's outside.
    EXPECT_TRUE(WaitFor([&] { return Up(form) && !form.windowHandle()->frameMargins().isNull(); }))
        << "exposed " << form.windowHandle()->isExposed() << ", framed " << Framed(form);
    return form;
  }

  // Shown, drawn and framed by the window manager.
  bool Up(const QWidget& window) {
    return window.windowHandle() != nullptr && window.windowHandle()->isExposed() && Framed(window);
  }

  // xdotool activates `window` as a click on it would, and waits until Qt knows.
  bool Activate(QWidget& window) {
    return XDoTool("windowactivate --sync " + std::to_string(IdOf(window))) &&
           WaitFor([&] { return window.isActiveWindow(); });
  }

  std::vector<xcb_window_t> RootWindows(const char* property) {
    xcb_connection_t* c = client_->Connection();
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        c,
        xcb_get_property(c, 0, client_->Root(), client_->Atom(property), XCB_ATOM_WINDOW, 0, 1024),
        nullptr);
    std::vector<xcb_window_t> windows;
    if (reply != nullptr) {
      const auto* ids = static_cast<const xcb_window_t*>(xcb_get_property_value(reply));
      windows.assign(ids, ids + xcb_get_property_value_length(reply) / 4);
    }
    std::free(reply);
    return windows;
  }

  // Where the window manager stacks `window` among the windows it manages, bottom first; -1
  // when it does not manage it.
  int StackingIndex(const QWidget& window) {
    const std::vector<xcb_window_t> stacking = RootWindows("_NET_CLIENT_LIST_STACKING");
    for (std::size_t i = 0; i < stacking.size(); ++i) {
      if (stacking[i] == IdOf(window)) return static_cast<int>(i);
    }
    return -1;
  }

  bool StackedAbove(const QWidget& upper, const QWidget& lower) {
    const int below = StackingIndex(lower);
    return below >= 0 && StackingIndex(upper) > below;
  }

  // Whether the window manager has given `window` the focus.
  bool HasFocus(const QWidget& window) {
    const std::vector<xcb_window_t> active = RootWindows("_NET_ACTIVE_WINDOW");
    return !active.empty() && active.front() == IdOf(window);
  }

  xcb_window_t FrameOf(const QWidget& window) {
    xcb_window_t child = IdOf(window);
    xcb_window_t parent = child;
    while (client_->Parent(child, parent) && parent != client_->Root()) child = parent;
    return parent == client_->Root() ? child : xcb_window_t{XCB_NONE};
  }

  bool Framed(const QWidget& window) {
    const xcb_window_t frame = FrameOf(window);
    return frame != XCB_NONE && frame != IdOf(window);
  }

  // The window's outer rectangle on the screen, the window manager's frame included.
  TRect OuterRect(const QWidget& window) {
    TRect outer{};
    client_->OuterRect(FrameOf(window), outer);
    return outer;
  }

  static bool Meet(const TRect& a, const TRect& b) {
    return a.Left < b.Right && b.Left < a.Right && a.Top < b.Bottom && b.Top < a.Bottom;
  }

  std::unique_ptr<TestClient> client_;
  MemoryDesktop desktop_{1920, 1080};
  TApplicationWindows windows_;
};

// At its design place (730, 27) the command window would lie under the centred main window,
// which takes the focus back: it comes up beside it instead, above it, and it comes back where
// the user moved it.
TEST_F(OwnWindowsOnTopX11, CommandWindowComesUpBesideTheCentredMainWindowAndAboveIt) {
  TForm1& form = Open();
  const TRect main = OuterRect(form);
  ASSERT_TRUE(Meet(main, {730, 27, 730 + 294, 27 + 553})) << "the main window is not centred";
  ASSERT_TRUE(Activate(form));
  ASSERT_TRUE(XDoTool("key ctrl+m"));
  TFormCmd& cmd = *windows_.FormCmd;
  ASSERT_TRUE(WaitFor([&] { return Up(cmd); }));
  EXPECT_TRUE(WaitFor([&] { return HasFocus(form); }));
  EXPECT_TRUE(WaitFor([&] { return StackedAbove(cmd, form); }));
  const TRect placed = OuterRect(cmd);
  EXPECT_FALSE(Meet(placed, main));
  EXPECT_TRUE(client_->RootRect().Contains({placed.Left, placed.Top}));
  EXPECT_TRUE(client_->RootRect().Contains({placed.Right - 1, placed.Bottom - 1}));
  // Right of the main window, where a full-HD screen has room, at the design height.
  EXPECT_EQ(placed.Left, main.Right);
  EXPECT_EQ(placed.Top, 27);

  // Activating the main window again leaves the command window above it.
  ASSERT_TRUE(Activate(form));
  EXPECT_TRUE(StackedAbove(cmd, form));

  // Moved elsewhere (as a pager or the user's drag would, through the window manager), closed,
  // and shown again with Ctrl+M: where it was left.
  ASSERT_TRUE(XDoTool("windowmove " + std::to_string(IdOf(cmd)) + " 100 300"));
  TRect moved{};
  ASSERT_TRUE(WaitFor([&] {
    moved = OuterRect(cmd);
    return moved.Left < 200 && cmd.frameGeometry().topLeft() == QPoint(moved.Left, moved.Top);
  }));
  cmd.close();
  ASSERT_TRUE(WaitFor([&] { return !cmd.isVisible() && form.isActiveWindow(); }));
  ASSERT_TRUE(XDoTool("key ctrl+m"));
  ASSERT_TRUE(WaitFor([&] { return Up(cmd); }));
  EXPECT_TRUE(WaitFor([&] {
    const TRect again = OuterRect(cmd);
    return again.Left == moved.Left && again.Top == moved.Top;
  }));
  EXPECT_TRUE(WaitFor([&] { return StackedAbove(cmd, form); }));
}

// A left click on the frozen picture brings up the statistics window, above the main window
// that the click activated.
TEST_F(OwnWindowsOnTopX11, StatisticsWindowComesUpAboveTheMainWindow) {
  TForm1& form = Open();
  // Where it would cover the main window's middle (wherever its design place is on a screen).
  TForm2& statistics = *windows_.Form2;
  statistics.move(form.frameGeometry().topLeft() + QPoint(60, 60));
  ASSERT_TRUE(Activate(form));
  ASSERT_TRUE(XDoTool("key space"));
  ASSERT_TRUE(WaitFor([&] { return form.Frozen() && form.Image1->isVisible(); }));
  const QPoint at = form.Image1->mapToGlobal(QPoint(150, 150));
  ASSERT_TRUE(
      XDoTool("mousemove " + std::to_string(at.x()) + " " + std::to_string(at.y()) + " click 1"));
  ASSERT_TRUE(WaitFor([&] { return Up(statistics); }));
  ASSERT_TRUE(Meet(OuterRect(statistics), OuterRect(form)));
  EXPECT_TRUE(WaitFor([&] { return StackedAbove(statistics, form); }));
  ASSERT_TRUE(Activate(form));
  EXPECT_TRUE(StackedAbove(statistics, form));
}

// "Save as.." under a name in /proc, where nothing can be created: the save dialog, then the
// error box, each above the main window with the focus, so that the user sees and answers them.
// On the way the dialog lists /proc for the typed name, without reading its special files.
TEST_F(OwnWindowsOnTopX11, SaveDialogAndItsErrorBoxComeUpAboveTheMainWindowWithTheFocus) {
  TForm1& form = Open();
  ASSERT_TRUE(Activate(form));
  ASSERT_TRUE(XDoTool("key space"));
  ASSERT_TRUE(WaitFor([&] { return form.Frozen(); }));
  ASSERT_TRUE(XDoTool("key ctrl+m"));
  TFormCmd& cmd = *windows_.FormCmd;
  ASSERT_TRUE(WaitFor([&] { return Up(cmd); }));

  bool dialogSeen = false, dialogOnTop = false, dialogFocused = false;
  bool boxSeen = false, boxOnTop = false, boxFocused = false;
  QString boxText;
  QProcess keyboard;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || modal->windowHandle() == nullptr ||
        !modal->windowHandle()->isExposed()) {
      return;
    }
    if (qobject_cast<QFileDialog*>(modal) != nullptr && !dialogSeen) {
      dialogSeen = true;
      dialogOnTop =
          WaitFor([&] { return StackedAbove(*modal, form) && StackedAbove(*modal, cmd); });
      dialogFocused = WaitFor([&] { return HasFocus(*modal); });
      // Typed where the focus is, as the user types.
      keyboard.start("sh", {"-c", "xdotool type --delay 20 /proc/out.bmp && xdotool key Return"});
    } else if (auto* box = qobject_cast<QMessageBox*>(modal); box != nullptr && !boxSeen) {
      boxSeen = true;
      boxText = box->text();
      boxOnTop = WaitFor([&] { return StackedAbove(*box, form) && StackedAbove(*box, cmd); });
      boxFocused = WaitFor([&] { return HasFocus(*box); });
      keyboard.waitForFinished(5000);
      keyboard.start("xdotool", {"key", "Return"});
    }
  });
  poll.start(10);
  // Whatever goes wrong, no modal window outlives the test.
  QTimer::singleShot(30000, [] {
    for (int i = 0; i < 3; ++i) {
      if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
    }
  });
  const QPoint save = cmd.SpeedButtonSave->mapToGlobal(cmd.SpeedButtonSave->rect().center());
  ASSERT_TRUE(XDoTool("mousemove " + std::to_string(save.x()) + " " + std::to_string(save.y()) +
                      " click 1"));
  EXPECT_TRUE(WaitFor([&] { return boxSeen && QApplication::activeModalWidget() == nullptr; }));
  poll.stop();
  keyboard.waitForFinished(5000);

  EXPECT_TRUE(dialogSeen);
  EXPECT_TRUE(dialogOnTop) << "the save dialog is under the main window";
  EXPECT_TRUE(dialogFocused);
  ASSERT_TRUE(boxSeen);
  EXPECT_TRUE(boxText.startsWith("Impossible de créer le fichier /proc/out.bmp"))
      << boxText.toStdString();
  EXPECT_TRUE(boxOnTop) << "the error box is under the main window";
  EXPECT_TRUE(boxFocused);
}

}  // namespace
}  // namespace ombrix

int main(int argc, char* argv[]) {
  ::testing::InitGoogleTest(&argc, argv);
  // Listing the tests (at build time) needs no display; a run without the x11 test display has
  // no Xvfb or openbox to start either, and skips.
  if (::testing::GTEST_FLAG(list_tests) || ombrix::test::TestDisplayName() == nullptr) {
    return RUN_ALL_TESTS();
  }
  // Full HD: the size at which the main window's centred place meets the command window's
  // design place.
  ombrix::test::PrivateXServer server({"-screen", "0", "1920x1080x24"});
  if (server.Name().empty()) {
    std::fputs("Xvfb could not start\n", stderr);
    return 1;
  }
  const ombrix::test::PrivateWindowManager manager(server.Name());
  if (!manager.Running()) {
    std::fputs("openbox could not start\n", stderr);
    return 1;
  }
  ombrix::gDisplay = server.Name().c_str();
  qputenv("DISPLAY", server.Name().c_str());
  qputenv("QT_QPA_PLATFORM", "xcb");
  int status = 0;
  {
    QApplication application(argc, argv);
    status = RUN_ALL_TESTS();
  }
  return status;
}
