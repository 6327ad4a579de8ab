#include "ErrorReport.h"

#include <QApplication>
#include <QMessageBox>
#include <QString>

#include "Errors.h"
#include "WindowPlacement.h"

namespace ombrix {
namespace {

TErrorReporter& Reporter() {
  static TErrorReporter reporter;
  return reporter;
}

void ShowMessageBox(const std::string& text) {
  // The box needs a widget application; a process without one (a tool, a unit test) has no
  // user to show it to.
  if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) return;
  // Over the window it came from, and never under a stay-on-top window of ours: a modal box
  // that cannot be seen would block the program.
  QMessageBox box(QMessageBox::Critical, QCoreApplication::applicationName(),
                  QString::fromStdString(text), QMessageBox::Ok, DialogOwner());
  KeepAboveOwnWindows(box);
  box.exec();
}

}  // namespace

TErrorReporter SetErrorReporter(TErrorReporter reporter) {
  TErrorReporter previous = std::move(Reporter());
  Reporter() = std::move(reporter);
  return previous;
}

void ShowErrorReport(const char* text) noexcept {
  static bool showing = false;
  if (showing) return;
  showing = true;
  try {
    const std::string message(text != nullptr ? text : "");
    if (Reporter()) {
      Reporter()(message);
    } else {
      ShowMessageBox(message);
    }
  } catch (...) {
    // Nothing is left to report a failing report with.
  }
  showing = false;
}

void ShowOutOfMemoryReport() noexcept {
  try {
    ShowErrorReport(EOutOfMemory().what());
  } catch (...) {
  }
}

}  // namespace ombrix
