// Ombrix: a screen magnifier and live image filter for X11 and Wayland desktops.

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
  const ScreenChoice choice = line.screen == "x11"      ? ScreenChoice::X11
                              : line.screen == "portal" ? ScreenChoice::Portal
                                                        : ScreenChoice::Automatic;
  const ScreenPlan plan =
      PlanScreen(choice, std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY"));
  if (!plan.problem.empty()) {
    std::fputs(plan.problem.c_str(), stderr);
    return 1;
  }
  // The screen leaves out our windows by their native ids: the toolkit must draw through the
  // screen's own platform, also in a Wayland session that has Xwayland.
  setenv("QT_QPA_PLATFORM", plan.toolkitPlatform, 1);
  ExitCleanlyWhenTheDisplayIsLost();

  QApplication application(argc, argv);
  // One line on stderr, and what to do in a message box when there is something to do; never
  // a magnifier that shows black.
  const auto tell = [](const ScreenFailure& failure) {
    std::fputs(failure.line.c_str(), stderr);
    if (!failure.advice.empty())
      QMessageBox::critical(nullptr, QString::fromUtf8(kScreenProblemTitle),
                            QString::fromStdString(failure.advice));
  };
  // Before any window of ours shows: the screen cast takes its first picture without them.
  ScreenFailure failure;
  const std::unique_ptr<Desktop> screen = OpenScreen(plan, failure);
  if (!screen) {
    tell(failure);
    return 1;
  }
  TApplicationWindows windows = CreateApplicationWindows(*screen);
  // The screen's own connection hears the server go even while the toolkit's is quiet.
  const std::unique_ptr<QSocketNotifier> watch =
      WatchScreen(*screen, *windows.Form1, [&screen, &tell] {
        const ScreenFailure loss = LossOf(*screen);
        if (loss.line.empty()) LeaveForLostDisplay();
        tell(loss);
        QCoreApplication::exit(1);
      });
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
