// The main window's keys and mouse buttons, its timer speed bar and its "<>" button: the
// freeze, the clipboard copy, the held zone, the cross-line tilts and the frame toggle. A
// second source file of TForm1 (uZoom.h).

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QFrame>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QWindow>
#include <cmath>
#include <cstdint>

#include "Controls.h"
#include "ErrorReport.h"
#include "Errors.h"
#include "Invert.h"
#include "Ucmdprocess.h"
#include "Unit2.h"
#include "uZoom.h"

namespace ombrix {
namespace {

// 32-bit arithmetic that wraps as the tilt values do: they have no lower bound.
int Add32(int value, int step) {
  return static_cast<int>(static_cast<uint32_t>(value) + static_cast<uint32_t>(step));
}

// One press of Up (+1) or Down (-1): each test reads the value as the one before left it, so
// 199 goes up by 3 and -1 ... 199 down by 1 only.
int TiltStep(int value, int direction) {
  if (value < 200) value = Add32(value, direction);
  if (value >= 200 && value <= 1999) value = Add32(value, 2 * direction);
  return value;
}

// Restores the cross-line box and ForceCapture when the direct frame cycle of a freeze or a
// copy ends, also when a stage or the clipboard fails.
class TDirectCycle {
 public:
  TDirectCycle(TForm1& form, bool force) : form_(form), crossLine_(form.cbSrediste->isChecked()) {
    form_.SetForceCapture(force);
    form_.cbSrediste->setChecked(false);
  }
  ~TDirectCycle() {
    form_.cbSrediste->setChecked(crossLine_);
    form_.SetForceCapture(false);
  }
  TDirectCycle(const TDirectCycle&) = delete;
  TDirectCycle& operator=(const TDirectCycle&) = delete;

 private:
  TForm1& form_;
  bool crossLine_;
};

// Wakes a resting timer at a key or a button pressed in any of the program's windows: what it
// changes shows at the next tick, as while the timer runs. The screen hears the pointer's moves.
class TInputWake : public QObject {
 public:
  explicit TInputWake(TTimer& timer) : timer_(timer) {}

  bool eventFilter(QObject* watched, QEvent* event) override {
    switch (event->type()) {
      case QEvent::KeyPress:
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease:
      case QEvent::Wheel:
        timer_.Wake();
        break;
      default:
        break;
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  TTimer& timer_;
};

}  // namespace

void TForm1::ConnectInput() {
  // The window itself takes the keys: a click on the view or the panel's background gives it
  // the focus back, and its activation hands the focus to no control.
  setFocusPolicy(Qt::ClickFocus);
  setFocus();
  Image1->installEventFilter(this);
  inputWake_ = std::make_unique<TInputWake>(*Timer1);
  QCoreApplication::instance()->installEventFilter(inputWake_.get());
  ConnectScrollEvents(ScrollBar1, [this](TScrollCode scrollCode, int position) {
    ScrollBar1Scroll(scrollCode, position);
  });
  connect(Button1, &QPushButton::clicked, this, [this] { Guarded([this] { Button1Click(); }); });
}

void TForm1::SetFormCmd(TFormCmd* formCmd) {
  if (formCmd_ != nullptr) formCmd_->SetMainWindow(nullptr);
  formCmd_ = formCmd;
  if (formCmd != nullptr) formCmd->SetMainWindow(this);
}

void TForm1::FocusMainWindow() {
  activateWindow();
  setFocus(Qt::OtherFocusReason);
}

void TForm1::keyPressEvent(QKeyEvent* event) {
  // Keys that a panel control ignores travel up to here: only the window's own focus counts.
  if (HasOwnFocus(*this)) {
    Guarded([this, event] { FormKeyDown(event->key(), event->modifiers()); });
  }
  QWidget::keyPressEvent(event);
}

void TForm1::FormKeyDown(int key, Qt::KeyboardModifiers shift) {
  const bool ctrl = shift.testFlag(Qt::ControlModifier);
  switch (key) {
    case Qt::Key_Up:
      CrossTiltY_ = TiltStep(CrossTiltY_, +1);
      break;
    case Qt::Key_Down:
      CrossTiltY_ = TiltStep(CrossTiltY_, -1);
      break;
    case Qt::Key_Right:
      CrossTiltX_ = Add32(TiltStep(CrossTiltX_, +1), 1);
      break;
    case Qt::Key_Left:
      CrossTiltX_ = Add32(TiltStep(CrossTiltX_, -1), -1);
      break;
    case Qt::Key_F:
      ZoneFixed_ = !ZoneFixed_;
      break;
    case Qt::Key_Space:
      if (ctrl) break;
      if (Frozen()) {
        Unfreeze();
      } else {
        Freeze();
      }
      break;
    case Qt::Key_M:
      if (ctrl && formCmd_ != nullptr && !formCmd_->isVisible()) {
        formCmd_->show();
        FocusMainWindow();
      }
      break;
    case Qt::Key_C:
      if (ctrl) CopyToClipboard();
      break;
    // The pixel inspector's keys; with Ctrl they are left free. Each changes the next frame;
    // a frozen view is inverted at once, as inverting twice gives it back exactly.
    case Qt::Key_N:
      if (!ctrl) NearestZoom_ = !NearestZoom_;
      break;
    case Qt::Key_G:
      if (!ctrl) PixelGrid_ = !PixelGrid_;
      break;
    case Qt::Key_I:
      if (ctrl) break;
      InvertedColours_ = !InvertedColours_;
      if (Frozen()) {
        InvertColours(Image1->Picture());
        Image1->Changed();
      }
      break;
    default:
      break;
  }
}

void TForm1::Freeze() {
  TPoint cursor;
  const bool overWindow = desktop_.CursorPos(cursor) && WindowRect().Contains(cursor);
  {
    const TDirectCycle direct(*this, !NonClientActive_ && overWindow);
    Timer1->SetInterval(0);
    Timer1Timer();
  }
  if (formCmd_ != nullptr) formCmd_->TakeSnapshot(CaptureBitmap());
  FocusMainWindow();
}

void TForm1::Unfreeze() {
  Timer1->SetInterval(TimerPeriod_);
  if (formCmd_ != nullptr) formCmd_->hide();
  FocusMainWindow();
}

void TForm1::CopyToClipboard() {
  // Whatever fails, the picture ends running.
  struct TRestart {
    TForm1& form;
    ~TRestart() { form.Timer1->SetInterval(form.TimerPeriod_); }
  } const restart{*this};
  const TDirectCycle direct(*this, true);
  Timer1->SetInterval(0);
  Timer1Timer();
  // The capture, not the zoomed view. Qt keeps serving it (PNG, BMP and its other image
  // formats) to other programs for as long as we own the clipboard.
  if (CaptureBitmap().Empty()) return;  // a view too small to capture anything
  QClipboard* clipboard = QGuiApplication::clipboard();
  const QImage image = ToImage(CaptureBitmap());
  clipboard->setImage(image);
  const QMimeData* held = clipboard->mimeData();
  if (image.isNull() || held == nullptr || !held->hasImage()) {
    throw EOmbrixError("Impossible d'ouvrir le Presse-papiers");
  }
}

void TForm1::mousePressEvent(QMouseEvent* event) {
  // Presses that the panel's controls ignore travel up to here too: only the client area, the
  // panel and its freeze hint are the window's own.
  const QWidget* under = childAt(event->position().toPoint());
  if (under == nullptr || under == Panel1 || under == Label11) {
    Guarded([this, event] { FormMouseDown(event->buttons()); });
  }
  QWidget::mousePressEvent(event);
}

void TForm1::mouseReleaseEvent(QMouseEvent* event) {
  Guarded([this] { FormMouseUp(); });
  QWidget::mouseReleaseEvent(event);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  // The second press of a double click is a press like the first.
  if (watched == Image1 &&
      (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick)) {
    auto* press = static_cast<QMouseEvent*>(event);
    const QPoint at = press->position().toPoint();
    Guarded([this, press, at] {
      Image1MouseDown(press->buttons(), ToDevice(at.x()), ToDevice(at.y()));
    });
    // Clicking the view gives the window the focus, as on its background.
    setFocus(Qt::MouseFocusReason);
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

void TForm1::FormMouseDown(Qt::MouseButtons buttons) {
  if (buttons.testFlag(Qt::RightButton)) ToggleBorderStyle();
}

void TForm1::Image1MouseDown(Qt::MouseButtons buttons, int x, int y) {
  if (buttons.testFlag(Qt::RightButton)) ToggleBorderStyle();
  if (buttons.testFlag(Qt::LeftButton) && form2_ != nullptr) {
    // The press point on the screen, in Qt's logical coordinates as the window's place is.
    const qreal ratio = Image1->devicePixelRatioF();
    const QPoint at = Image1->mapToGlobal(
        QPoint(static_cast<int>(std::lround(x / ratio)), static_cast<int>(std::lround(y / ratio))));
    form2_->ShowPixelStatistics(Image1->Picture(), x, y, Frozen(), at);
  }
}

void TForm1::FormMouseUp() {
  NonClientActive_ = false;
}

void TForm1::ToggleBorderStyle() {
  // setWindowFlags would destroy the X window and make a new one, losing its shape and its
  // place among the windows we leave out of the capture; these two change the frame in place.
  const Qt::WindowFlags flags = windowFlags() ^ Qt::FramelessWindowHint;
  overrideWindowFlags(flags);
  if (QWindow* window = windowHandle()) window->setFlags(flags);
}

void TForm1::ScrollBar1Scroll(TScrollCode scrollCode, int position) {
  if (scrollCode != scPosition) return;
  TimerPeriod_ = position;
  Timer1->SetInterval(TimerPeriod_);
}

void TForm1::Button1Click() {
  // Qt keeps the client within the size limits; sizes are logical there, device pixels here.
  const qreal ratio = devicePixelRatioF();
  resize(static_cast<int>(std::lround(UpDown1->value() / ratio)),
         static_cast<int>(std::lround(UpDown2->value() / ratio)));
  FormResize();
}

}  // namespace ombrix
