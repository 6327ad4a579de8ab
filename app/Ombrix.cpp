#include "Ombrix.h"

#include <QCoreApplication>

namespace ombrix {

TApplicationWindows CreateApplicationWindows(Desktop& desktop) {
  QCoreApplication::setApplicationName(QString::fromLatin1(kApplicationTitle));
  TApplicationWindows windows;
  windows.Form1 = std::make_unique<TForm1>(desktop);
  windows.FormCmd = std::make_unique<TFormCmd>();
  windows.FormCmd->setAttribute(Qt::WA_QuitOnClose, false);
  windows.Form1->SetFormCmd(windows.FormCmd.get());
  windows.Form2 = std::make_unique<TForm2>();
  windows.Form2->setAttribute(Qt::WA_QuitOnClose, false);
  return windows;
}

}  // namespace ombrix
