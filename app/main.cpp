// Ombrix: a screen magnifier and live image filter for X11 desktops.

#include <QApplication>
#include <memory>

#include "Desktop.h"
#include "Ombrix.h"

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  const std::unique_ptr<ombrix::Desktop> screen = ombrix::CreateDesktop();
  ombrix::TApplicationWindows windows = ombrix::CreateApplicationWindows(*screen);
  windows.Form1->show();
  return application.exec();
}
