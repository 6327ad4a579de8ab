// Ombrix: a screen magnifier and live image filter for X11 desktops.

#include <QApplication>
#include <QMessageBox>
#include <QSocketNotifier>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "DesktopLoader.h"
#include "Ombrix.h"
#include "Startup.h"
#include "WindowPlacement.h"

int main(int argc, char* argv[]) {
  using namespace ombrix;
  // Everything that needs no display is answered before the toolkit looks for one: its
  // platform plugin aborts when it finds none.
  const TCommandLine line = ParseCommandLine(argc, argv);
  switch (line.action) {
    case saHelp:
      std::fputs(UsageText().c_str(), stdout);
      return 0;
    case saVersion:
      std::fputs(VersionText().c_str(), stdout);
      return 0;
    case saBadOption:
      std::fprintf(stderr, "ombrix: unknown option \"%s\"; see ombrix --help\n",
                   line.badOption.c_str());
      return 2;
    case saRun:
      break;
  }
  const ScreenPlan plan =
      PlanScreen(ScreenChoice::Automatic, std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY"));
  if (!plan.problem.empty()) {
    std::fputs(plan.problem.c_str(), stderr);
    return 1;
  }
  // The screen leaves out our windows by their native ids: the toolkit must draw through the
  // screen's own platform, also in a Wayland session that has Xwayland.
  setenv("QT_QPA_PLATFORM", plan.toolkitPlatform, 1);
  ExitCleanlyWhenTheDisplayIsLost();

  QApplication application(argc, argv);
  const std::unique_ptr<Desktop> screen = OpenScreen(plan);
  if (!screen) return 1;  // its reason is on stderr already
  // The screen's own connection hears the server go even while the toolkit's is quiet.
  std::unique_ptr<QSocketNotifier> watch;
  if (screen->FileDescriptor() >= 0) {
    watch = std::make_unique<QSocketNotifier>(screen->FileDescriptor(), QSocketNotifier::Read);
    QObject::connect(watch.get(), &QSocketNotifier::activated, [&screen] {
      if (screen->ConnectionLost()) LeaveForLostDisplay();
    });
  }

  TApplicationWindows windows = CreateApplicationWindows(*screen);
  windows.Form1->show();
  std::unique_ptr<QMessageBox> notice;
  if (screen->IsXwayland()) {
    std::fputs(kXwaylandLine, stderr);
    // Not modal: the frame cycle runs while it is open.
    notice =
        std::make_unique<QMessageBox>(QMessageBox::Information, QString::fromLatin1(kXwaylandTitle),
                                      QString::fromUtf8(kXwaylandNotice), QMessageBox::Ok);
    notice->setAttribute(Qt::WA_QuitOnClose, false);
    notice->setWindowModality(Qt::NonModal);
    KeepAboveOwnWindows(*notice);
    notice->show();
  }
  return application.exec();
}
