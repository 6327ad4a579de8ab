#include "UHelp.h"

#include <QFont>
#include <QLabel>
#include <QPlainTextEdit>
#include <QToolButton>

#include "Controls.h"
#include "ErrorReport.h"
#include "FormFonts.h"
#include "TextDevice.h"
#include "Uglobal.h"
#include "WindowPlacement.h"

namespace ombrix {

// Long paragraphs stay one line each: the memo wraps them on screen, the printer at its edge.
QString HelpText() {
  // %1: the product page; %2, %3: the authors' addresses.
  static const char* const text =
      "Ombrix V 1.3 - screen magnifier and live image filter\n"
      "Copyright (C) 2003-2026 the Ombrix authors. All rights reserved.\n"
      "\n"
      "Ombrix applies a choice of filters to a zone of your screen, wherever it is: still "
      "pictures, animations, movies and streams from the Internet (for some of them the "
      "acceleration of the graphics card has to be switched off first). It can also simply "
      "freeze a large part of the screen, up to 1024*768, move it about, keep it in mind for a "
      "later comparison or save it.\n"
      "\n"
      "More explanations and examples are on the program's page: %1\n"
      "\n"
      "General note :\n"
      "- To set the parameters, first move the mouse into the Ombrix window: the panel shows up.\n"
      "- When the picture freezes although you did not ask for it, move the timer speed setting "
      "to the right (slower) or make the window smaller.\n"
      "- When the zoom looks poor, make the window larger.\n"
      "\n"
      "Keys and mouse :\n"
      "The keys act while the Ombrix window or its command window has the keyboard focus.\n"
      "- Space: freeze the picture as you see it; press again to let it run (this also hides "
      "the command window).\n"
      "- F: hold the zone in place, or let it follow the cursor again.\n"
      "- Arrows: tilt the cross-line, Up and Down its horizontal arm, Right and Left its "
      "vertical arm.\n"
      "- Ctrl+M: show the command window, which redraws the frozen picture with another gamma "
      "and saves the picture as a BMP, JPEG or PNG file.\n"
      "- Ctrl+C: put a fresh capture of the zone on the clipboard.\n"
      "- Left click on a frozen picture: the statistics window shows the colour and luminance "
      "of the pixel, of its 5 x 5 surroundings and of the whole picture.\n"
      "- Right click on the window: remove or restore its frame.\n"
      "\n"
      "HISTORY :\n"
      "1.3 - Works with more than one screen (tested with two). Rotations by 90 and 270 degrees "
      "added.\n"
      "1.2 - Many new possibilities and more speed: vertical (VM) and horizontal (HM) mirrors, "
      "rotation by 180 degrees, a much better zoom with some antialiasing, larger windows thanks "
      "to faster routines, freezing extended to 1024*768, saving as BMP or as JPG of the best "
      "quality (freeze the picture, then left-click into it), no cross-line on a frozen picture.\n"
      "1.1 - The sharpen bar at its far left switches the unsharp mask off. The space bar "
      "freezes the picture as you see it, as long as the Ombrix window has the focus. A frozen "
      "picture can be moved above every other application: handy for stereo viewing of 3D films "
      "and for keeping a \"memory\" of part of the screen to compare with later. The size of the "
      "picture inside the window can be typed as width and height and applied with '<>'; the "
      "application bar shows the size at all times. Every control has a hint.\n"
      "1.0 - An unsharp mask, with or without zoom; the radius of its Gaussian filter has 5 "
      "levels: the higher the level, the stronger the effect and the longer it takes.\n"
      "\n"
      "Enjoy !\n"
      "Your comments are welcome: write to %2 or %3.\n"
      "The program's page: %1\n"
      "Copyright (C) 2003-2026 the Ombrix authors. All rights reserved.";
  return QString::fromUtf8(text).arg(QString::fromLatin1(kProductPage),
                                     QString::fromLatin1(kAuthorsAddress),
                                     QString::fromLatin1(kContributorsAddress));
}

namespace {

// Outer 589 x 365 with a frame of 16 x 36.
constexpr int kClientWidth = 573;
constexpr int kClientHeight = 329;
// Memo1's distance from the client's right and bottom edges, kept as the window changes size.
constexpr int kMemoLeft = 104;
constexpr int kMemoTop = 64;
constexpr int kMemoRightGap = kClientWidth - (104 + 442);
constexpr int kMemoBottomGap = kClientHeight - (64 + 256);
// The light grey-blue of an inactive title bar's gradient; the toolkit has no role for it.
const QColor kInactiveCaptionGradient(215, 228, 242);

}  // namespace

TFormHelp::TFormHelp()
    : QDialog(nullptr, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint) {
  setWindowTitle(QStringLiteral("Help..."));
  SetFormFont(*this);
  SetBackgroundColor(*this, kInactiveCaptionGradient);
  resize(kClientWidth, kClientHeight);

  Label1 = new QLabel(this);
  SetSansFont(*Label1, 40, true);
  QFont title = Label1->font();
  title.setBold(true);
  title.setUnderline(true);
  Label1->setFont(title);
  Label1->move(16, 8);

  SpeedButton2 = NewSpeedButton(this, QStringLiteral("Print..."), QRect(24, 88, 65, 22));
  SpeedButton1 = NewSpeedButton(this, QStringLiteral("Close"), QRect(24, 128, 65, 22));

  Memo1 = new QPlainTextEdit(this);
  Memo1->setReadOnly(true);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  Memo1->setPlainText(HelpText());
  Memo1->setGeometry(kMemoLeft, kMemoTop, 442, 256);

  connect(SpeedButton2, &QToolButton::clicked, this,
          [this] { Guarded([this] { SpeedButton2Click(); }); });
  connect(SpeedButton1, &QToolButton::clicked, this,
          [this] { Guarded([this] { SpeedButton1Click(); }); });
  FormCreate();
}

void TFormHelp::FormCreate() {
  Label1->setText(QString::asprintf("%s - Ver.%s", "Ombrix", GetAppVersion().c_str()));
  Label1->adjustSize();
}

void TFormHelp::SpeedButton2Click() {
  PrintOnDefaultPrinter(Memo1->toPlainText().split(QLatin1Char('\n')));
}

void TFormHelp::SpeedButton1Click() {
  close();
}

void TFormHelp::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  Memo1->setGeometry(kMemoLeft, kMemoTop, width() - kMemoLeft - kMemoRightGap,
                     height() - kMemoTop - kMemoBottomGap);
}

void TFormHelp::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  CentreOnScreen(*this);
}

}  // namespace ombrix
