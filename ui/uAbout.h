#pragma once
// The about box (unit uAbout): product name, authors, version and the program file's date on
// dark blue. Created without owner each time "About" is pressed and shown modally; the user
// closes it with its close box. GUI thread only.

#include <QDialog>
#include <QLabel>
#include <functional>

class QFrame;

namespace ombrix {

// A label that answers a click (press and release over it) with OnClick.
class TClickLabel : public QLabel {
 public:
  explicit TClickLabel(QWidget* parent) : QLabel(parent) {}
  std::function<void()> OnClick;

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
};

class TAboutBox : public QDialog {
 public:
  TAboutBox();

  QLabel* Label1;  // the product's name
  QFrame* Bevel1;
  QFrame* Bevel2;
  QLabel* Label5;       // the first author
  QLabel* Label6;       // the second author
  TClickLabel* Label3;  // the first author's address: a click writes a mail to it
  QLabel* Label10;      // the second author's address
  QLabel* Label7;       // "Version " and the version
  QLabel* Label8;       // the program file's date
  QLabel* Label4;
  QLabel* Label2;  // credit lines
  QLabel* Label9;

  // Opens a new mail to Label3's address through the desktop's handler of "mailto:"
  // addresses (xdg-open). When the opener fails (no mail program answered), a message box
  // says so and gives the address to write to. Returns at once: the opener runs on.
  void Label3Click();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void FormCreate();
};

}  // namespace ombrix
