#include "Ombrix.h"

#include <QGuiApplication>
#include <QWindow>
#include <utility>

#include "ErrorReport.h"
#include "WindowPlacement.h"

namespace ombrix {

TApplicationWindows CreateApplicationWindows(Desktop& desktop) {
  QGuiApplication::setApplicationName(QString::fromLatin1(kApplicationTitle));
  TApplicationWindows windows;
  windows.Form1 = std::make_unique<TForm1>(desktop);
  windows.FormCmd = std::make_unique<TFormCmd>();
  windows.FormCmd->setAttribute(Qt::WA_QuitOnClose, false);
  windows.Form1->SetFormCmd(windows.FormCmd.get());
  windows.Form2 = std::make_unique<TForm2>();
  windows.Form2->setAttribute(Qt::WA_QuitOnClose, false);
  windows.Form1->SetForm2(windows.Form2.get());
  // Both come up, and stay, above the stay-on-top main window, also when it is activated.
  SetOwner(*windows.FormCmd, *windows.Form1);
  SetOwner(*windows.Form2, *windows.Form1);
  desktop.SetOwnWindowsProvider(OwnWindowIds);
  return windows;
}

std::vector<uint32_t> OwnWindowIds() {
  std::vector<uint32_t> ids;
  for (const QWindow* window : QGuiApplication::allWindows()) {
    // winId() would create a native window where none exists yet: ask only those that have one.
    if (window->isTopLevel() && window->handle() != nullptr) {
      ids.push_back(static_cast<uint32_t>(window->winId()));
    }
  }
  return ids;
}

std::unique_ptr<QSocketNotifier> WatchScreen(Desktop& screen, TForm1& form,
                                             std::function<void()> lost) {
  if (screen.FileDescriptor() < 0) return nullptr;
  auto watch = std::make_unique<QSocketNotifier>(screen.FileDescriptor(), QSocketNotifier::Read);
  QSocketNotifier* notifier = watch.get();
  // ConnectionLost reads what came: the descriptor is not readable again before new news.
  QObject::connect(notifier, &QSocketNotifier::activated,
                   [&screen, &form, notifier, lost = std::move(lost)] {
                     if (!screen.ConnectionLost()) {
                       Guarded([&form] { form.ScreenNews(); });
                       return;
                     }
                     notifier->setEnabled(false);
                     lost();
                   });
  return watch;
}

}  // namespace ombrix
