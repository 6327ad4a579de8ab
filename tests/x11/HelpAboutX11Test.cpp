// "Help" and "About" on a real X server with a window manager, clicked through xdotool, and the
// about box's mail link through the real xdg-open with a mail handler of the test's own.
// Skipped when no display is set; the main of MainWindowX11Test.cpp runs them.

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <QtCore/qtestsupport_core.h>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <QWindow>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "MemoryDesktop.h"
#include "Ombrix.h"
#include "UHelp.h"
#include "WhileModal.h"
#include "X11TestSupport.h"
#include "uAbout.h"

namespace ombrix {
namespace {

using test::TestClient;

bool WaitFor(const std::function<bool()>& condition) {
  return QTest::qWaitFor(condition, 10000);
}

// Moves the pointer onto the middle of `widget` and clicks there. XTEST handles the motion
// before the button, so the click lands where the pointer went.
bool ClickOn(const QWidget& widget) {
  const QPoint at = widget.mapToGlobal(widget.rect().center());
  const std::string command = "xdotool mousemove " + std::to_string(at.x()) + " " +
                              std::to_string(at.y()) + " click 1 >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

xcb_window_t IdOf(const QWidget& widget) {
  return static_cast<xcb_window_t>(widget.windowHandle()->winId());
}

class HelpAboutX11 : public ::testing::Test {
 protected:
  void SetUp() override {
    if (test::TestDisplayName() == nullptr || QGuiApplication::platformName() != "xcb") {
      GTEST_SKIP() << "OMBRIX_X11_DISPLAY is not set";
    }
    client_ = std::make_unique<TestClient>(test::TestDisplayName());
    ASSERT_TRUE(client_->Ok());
  }

  // The program's windows, the main one shown with its panel up and its timer idle. No frame
  // is captured here: the screen they read is one in memory.
  TForm1& Open() {
    windows_ = CreateApplicationWindows(desktop_);
    TForm1& form = *windows_.Form1;
    form.Timer1->SetInterval(3600 * 1000);
    form.show();
    EXPECT_TRUE(WaitFor([&] { return form.isVisible() && form.windowHandle()->isExposed(); }));
    form.move(200, 150);
    EXPECT_TRUE(WaitFor([&] { return form.frameGeometry().topLeft() == QPoint(200, 150); }));
    EXPECT_TRUE(WaitFor([&] { return Above(form); })) << "not stay-on-top at start";
    EXPECT_TRUE(WaitFor([&] { return WhereQtBelieves(form); }));
    return form;
  }

  // Whether `window`'s client area stands on the screen where Qt believes it does, as it must
  // before a click aimed at one of its controls can land there: the window manager's frame
  // may still be on its way.
  bool WhereQtBelieves(const QWidget& window) {
    xcb_connection_t* c = client_->Connection();
    xcb_translate_coordinates_reply_t* reply = xcb_translate_coordinates_reply(
        c, xcb_translate_coordinates(c, IdOf(window), client_->Root(), 0, 0), nullptr);
    const bool same =
        reply != nullptr && QPoint(reply->dst_x, reply->dst_y) == window.mapToGlobal(QPoint(0, 0));
    std::free(reply);
    return same;
  }

  // Whether the window manager keeps `window` in the above layer (_NET_WM_STATE_ABOVE).
  bool Above(const QWidget& window) {
    xcb_connection_t* c = client_->Connection();
    const xcb_atom_t above = client_->Atom("_NET_WM_STATE_ABOVE");
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        c,
        xcb_get_property(c, 0, IdOf(window), client_->Atom("_NET_WM_STATE"), XCB_ATOM_ATOM, 0, 64),
        nullptr);
    bool found = false;
    if (reply != nullptr) {
      const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply));
      const int count = xcb_get_property_value_length(reply) / 4;
      for (int i = 0; i < count; ++i) found = found || atoms[i] == above;
    }
    std::free(reply);
    return found;
  }

  // The title that the server holds for `window` (_NET_WM_NAME).
  QString Title(const QWidget& window) {
    xcb_connection_t* c = client_->Connection();
    xcb_get_property_reply_t* reply =
        xcb_get_property_reply(c,
                               xcb_get_property(c, 0, IdOf(window), client_->Atom("_NET_WM_NAME"),
                                                client_->Atom("UTF8_STRING"), 0, 256),
                               nullptr);
    QString title;
    if (reply != nullptr) {
      title = QString::fromUtf8(static_cast<const char*>(xcb_get_property_value(reply)),
                                xcb_get_property_value_length(reply));
    }
    std::free(reply);
    return title;
  }

  // Clicks `button` and runs `whileOpen` on the modal window that it opens; false if none came.
  static bool ClickAndWhileOpen(QPushButton* button, std::function<void(QWidget&)> whileOpen) {
    test::WhileModal whileModal(std::move(whileOpen));
    // The click arrives through the server; the modal loop runs inside this wait.
    return ClickOn(*button) && WaitFor([&] {
             return whileModal.Ran() && QApplication::activeModalWidget() == nullptr;
           });
  }

  std::unique_ptr<TestClient> client_;
  MemoryDesktop desktop_{1600, 1000};
  TApplicationWindows windows_;
};

TEST_F(HelpAboutX11, HelpLeavesTheAboveLayerWhileOpenAndCloseBringsItBack) {
  TForm1& form = Open();
  EXPECT_TRUE(ClickAndWhileOpen(form.BitBtn2, [&](QWidget& window) {
    EXPECT_TRUE(WaitFor([&] { return Title(window) == "Help..."; })) << Title(window).toStdString();
    EXPECT_TRUE(WaitFor([&] { return !Above(form); })) << "still in the above layer";
    EXPECT_TRUE(form.Frozen());
    auto* help = dynamic_cast<TFormHelp*>(&window);
    ASSERT_NE(help, nullptr);
    ASSERT_TRUE(ClickOn(*help->SpeedButton1));  // "Close"
    EXPECT_TRUE(WaitFor([&] { return !window.isVisible(); }));
  }));
  EXPECT_TRUE(WaitFor([&] { return Above(form); })) << "not back in the above layer";
  EXPECT_EQ(form.Timer1->Interval(), form.TimerPeriod());
}

TEST_F(HelpAboutX11, AboutOpensTheAboutBox) {
  TForm1& form = Open();
  EXPECT_TRUE(ClickAndWhileOpen(form.BitBtn1, [&](QWidget& window) {
    EXPECT_TRUE(WaitFor([&] { return Title(window) == "About"; })) << Title(window).toStdString();
    EXPECT_TRUE(WaitFor([&] { return !Above(form); }));
  }));
  EXPECT_TRUE(WaitFor([&] { return Above(form); }));
}

// A desktop of the test's own in which a mail address opens a handler that writes it to a file.
TEST_F(HelpAboutX11, MailAddressOpensTheDesktopsMailHandlerWithIt) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString received = dir.filePath("received");
  QDir(dir.path()).mkpath("data/applications");
  QDir(dir.path()).mkpath("config");
  QDir(dir.path()).mkpath("system");
  auto write = [&](const QString& name, const QString& text) {
    QFile file(dir.filePath(name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text.toUtf8());
  };
  write("handler", "#!/bin/sh\nprintf '%s' \"$1\" > \"" + received + ".part\" && mv \"" + received +
                       ".part\" \"" + received + "\"\n");
  QFile::setPermissions(dir.filePath("handler"), QFile::ReadOwner | QFile::ExeOwner);
  write("data/applications/ombrix-test-mail.desktop",
        "[Desktop Entry]\nType=Application\nName=Test mail\nExec=" + dir.filePath("handler") +
            " %u\nMimeType=x-scheme-handler/mailto;\n");
  write("config/mimeapps.list",
        "[Default Applications]\nx-scheme-handler/mailto=ombrix-test-mail.desktop\n");
  const std::string data = dir.filePath("data").toStdString();
  const std::string config = dir.filePath("config").toStdString();
  const std::string system = dir.filePath("system").toStdString();
  ::setenv("XDG_DATA_HOME", data.c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  ::setenv("XDG_DATA_DIRS", system.c_str(), 1);
  ::setenv("XDG_CONFIG_DIRS", system.c_str(), 1);
  for (const char* name : {"BROWSER", "XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION",
                           "GNOME_DESKTOP_SESSION_ID"}) {
    ::unsetenv(name);
  }

  TAboutBox about;
  about.show();
  ASSERT_TRUE(WaitFor([&] { return about.windowHandle()->isExposed() && WhereQtBelieves(about); }));
  EXPECT_EQ(about.Label3->cursor().shape(), Qt::PointingHandCursor);
  ASSERT_TRUE(ClickOn(*about.Label3));
  ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(received); }, 20000));
  QFile file(received);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.readAll().toStdString(), "mailto:ombrix@example.org");
}

}  // namespace
}  // namespace ombrix
