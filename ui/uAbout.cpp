#include "uAbout.h"

#include <QCoreApplication>
#include <QFont>
#include <QFrame>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QProcess>
#include <algorithm>
#include <utility>

#include "Controls.h"
#include "ErrorReport.h"
#include "FormFonts.h"
#include "Uglobal.h"
#include "WindowPlacement.h"

namespace ombrix {
namespace {

constexpr int kClientWidth = 383;
constexpr int kClientHeight = 219;
// Red 0, green 0, blue 64.
const QColor kBackground(0, 0, 64);

// A separator: a raised line along its bottom edge, light above dark.
class TBevel : public QFrame {
 public:
  TBevel(QWidget* parent, int x, int y) : QFrame(parent) { setGeometry(x, y, 335, 9); }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::Light));
    painter.drawLine(0, height() - 2, width() - 1, height() - 2);
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawLine(0, height() - 1, width() - 1, height() - 1);
  }
};

template <class Label = QLabel>
Label* NewAboutLabel(QWidget* parent, const QString& text, int x, int y, const QColor& colour,
                     int pixels, bool bold) {
  auto* label = new Label(parent);
  SetSansFont(*label, pixels, true);
  QFont font = label->font();
  font.setBold(bold);
  label->setFont(font);
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, colour);
  label->setPalette(palette);
  label->setText(text);
  label->move(x, y);
  label->adjustSize();
  return label;
}

// Keeps a centred label's middle where its designed left edge puts it in the client area.
void CentreAbout(QLabel* label, int designedLeft) {
  const int width = std::max(label->width(), kClientWidth - 2 * designedLeft);
  label->setGeometry((kClientWidth - width) / 2, label->y(), width, label->height());
  label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
}

QLabel* NewCreditLine(QWidget* parent, const QString& text, int x, int y) {
  QLabel* label = NewAboutLabel(parent, text, x, y, Qt::black, 11, false);
  SetBackgroundColor(*label, QColor(192, 192, 192));
  return label;
}

// Starts the desktop's opener on `url` and calls onFailure when it cannot be started or ends
// in failure: the opener's status is the one sign that no program took the address. The
// process belongs to the application, so a mail program started through it outlives the box.
void OpenWithDesktop(const QString& url, std::function<void()> onFailure) {
  auto* opener = new QProcess(QCoreApplication::instance());
  opener->setProgram(QStringLiteral("xdg-open"));
  opener->setArguments({url});
  // Its complaints reach our own stderr, where they always went.
  opener->setProcessChannelMode(QProcess::ForwardedChannels);
  opener->setInputChannelMode(QProcess::ForwardedInputChannel);
  QObject::connect(opener, &QProcess::errorOccurred, opener,
                   [opener, onFailure](QProcess::ProcessError error) {
                     if (error != QProcess::FailedToStart) return;  // finished follows
                     opener->deleteLater();
                     Guarded(onFailure);
                   });
  QObject::connect(opener, &QProcess::finished, opener,
                   [opener, onFailure = std::move(onFailure)](int code, QProcess::ExitStatus how) {
                     opener->deleteLater();
                     if (how != QProcess::NormalExit || code != 0) Guarded(onFailure);
                   });
  opener->start();
}

}  // namespace

void TClickLabel::mouseReleaseEvent(QMouseEvent* event) {
  QLabel::mouseReleaseEvent(event);
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) &&
      OnClick) {
    OnClick();
  }
}

TAboutBox::TAboutBox()
    : QDialog(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint) {
  setWindowTitle(QStringLiteral("About"));
  SetFormFont(*this);
  SetBackgroundColor(*this, kBackground);
  setFixedSize(kClientWidth, kClientHeight);

  Label1 = NewAboutLabel(this, QStringLiteral("Ombrix"), 93, 8, Qt::red, 32, true);
  QFont serif = Label1->font();
  serif.setStyleHint(QFont::Serif);
  serif.setFamilies({QStringLiteral("Times New Roman"), QStringLiteral("Liberation Serif"),
                     QStringLiteral("DejaVu Serif")});
  Label1->setFont(serif);
  Label1->adjustSize();
  CentreAbout(Label1, 93);

  Bevel1 = new TBevel(this, 24, 44);
  Bevel2 = new TBevel(this, 24, 144);

  Label5 = NewAboutLabel(this, QStringLiteral("The Ombrix authors"), 70, 68, Qt::white, 12, true);
  Label6 = NewAboutLabel(this, QStringLiteral("Contributors"), 65, 88, Qt::white, 12, true);
  Label3 = NewAboutLabel<TClickLabel>(this, QString::fromLatin1(kAuthorsAddress), 232, 68,
                                      Qt::white, 12, true);
  Label3->setCursor(Qt::PointingHandCursor);
  Label3->OnClick = [this] { Guarded([this] { Label3Click(); }); };
  Label10 =
      NewAboutLabel(this, QString::fromLatin1(kContributorsAddress), 232, 88, Qt::white, 12, true);
  Label7 = NewAboutLabel(this, QString(), 142, 104, Qt::white, 12, true);
  Label8 = NewAboutLabel(this, QString(), 148, 120, Qt::white, 12, true);
  Label4 = NewAboutLabel(this, QStringLiteral("Use at your own risks "), 134, 156, Qt::yellow, 12,
                         false);
  CentreAbout(Label4, 134);
  Label2 =
      NewCreditLine(this, QStringLiteral("Windows and printing by Qt, screen by XCB"), 32, 176);
  Label9 = NewCreditLine(this, QStringLiteral("Pictures by libjpeg-turbo and libpng"), 70, 192);
  FormCreate();
}

void TAboutBox::FormCreate() {
  Label7->setText(QStringLiteral("Version ") + QString::fromStdString(GetAppVersion()));
  Label7->adjustSize();
  Label8->setText(DateTimeToStr(GetFileDateTime(ProgramFileName())));
  Label8->adjustSize();
}

void TAboutBox::Label3Click() {
  const QString address = Label3->text();
  // The box may be closed by the time the opener gives up.
  const QPointer<TAboutBox> box(this);
  OpenWithDesktop(QStringLiteral("mailto:") + address, [box, address] {
    auto* message = new QMessageBox(
        QMessageBox::Information, QStringLiteral("About"),
        QStringLiteral("No mail program answered.\nPlease write to %1.").arg(address),
        QMessageBox::Ok, box.data());
    message->setAttribute(Qt::WA_DeleteOnClose);
    // Above the stay-on-top windows, and the address can be copied from it.
    message->setWindowFlag(Qt::WindowStaysOnTopHint);
    message->setTextInteractionFlags(Qt::TextSelectableByMouse);
    message->open();
  });
}

void TAboutBox::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  CentreOnScreen(*this);
}

}  // namespace ombrix
