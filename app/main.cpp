// Ombrix: a screen magnifier and live image filter for X11 desktops.

#include <QApplication>
#include <cstdio>
#include <memory>

#include "Desktop.h"
#include "Ombrix.h"

namespace {

// The screen of this session; null when it cannot be read.
std::unique_ptr<ombrix::Desktop> OpenScreen() {
  return nullptr;
}

}  // namespace

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  std::unique_ptr<ombrix::Desktop> screen = OpenScreen();
  if (!screen) {
    std::fprintf(stderr, "Ombrix: cannot read the X11 screen of this session.\n");
    return 1;
  }
  ombrix::TApplicationWindows windows = ombrix::CreateApplicationWindows(*screen);
  windows.Form1->show();
  return application.exec();
}
