#pragma once
// The help window (unit UHelp): the help text, which it can print on the default printer.
// Created without owner each time "Help" is pressed and shown modally. GUI thread only.

#include <QDialog>
#include <QString>

class QLabel;
class QPlainTextEdit;
class QToolButton;

namespace ombrix {

// The help text, one memo line per line.
QString HelpText();

class TFormHelp : public QDialog {
 public:
  TFormHelp();

  QLabel* Label1;
  QToolButton* SpeedButton2;  // "Print..."
  QToolButton* SpeedButton1;  // "Close"
  QPlainTextEdit* Memo1;

  // "Print...": every line of Memo1, first to last, on the default printer. Raises EPrinter
  // without a default printer and the printer's error when it fails; the window stays open.
  void SpeedButton2Click();
  // "Close".
  void SpeedButton1Click();

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void FormCreate();
};

}  // namespace ombrix
