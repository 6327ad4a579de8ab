#include "Ucmdprocess.h"

#include <QCloseEvent>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSlider>
#include <QTabBar>
#include <QToolButton>

#include "ErrorReport.h"
#include "FormFonts.h"
#include "SavePicture.h"
#include "WindowPlacement.h"

namespace ombrix {
namespace {}  // namespace

TFormCmd::TFormCmd()
    : QWidget(nullptr, Qt::Window | Qt::WindowStaysOnTopHint),
      Snapshot_(std::make_unique<TBitmap>()) {
  setWindowTitle(QStringLiteral("Cmd"));
  SetFormFont(*this);
  move(730, 27);
  resize(278, 517);  // 294 x 553 with a frame of 16 x 36
  CreateControls();
  ConnectHandlers();
}

TFormCmd::~TFormCmd() = default;

void TFormCmd::CreateControls() {
  TabControl1 = new QTabBar(this);
  TabControl1->setShape(QTabBar::RoundedSouth);
  TabControl1->setGeometry(0, 0, width(), 41);
  TabControl1->addTab(QStringLiteral("0"));
  TabControl1->setCurrentIndex(0);

  Panel1 = new QFrame(this);
  Panel1->setGeometry(8, 48, 249, 273);
  Label1 = NewLabel(Panel1, QStringLiteral("Gamma :"), 8, 8);
  ScrollBarGamma = NewScrollBar(Panel1, QRect(72, 10, 169, 9), 0, 500);
  ScrollBarGamma->setPageStep(10);
  Label7 = NewLabel(Panel1, QStringLiteral("Brightness :"), 8, 40);
  ScrollBarBrightness = NewScrollBar(Panel1, QRect(72, 42, 169, 9), -100, 100);
  ScrollBarBrightness->setValue(0);
  Label8 = NewLabel(Panel1, QStringLiteral("Contrast :"), 8, 72);
  ScrollBar2 = NewScrollBar(Panel1, QRect(72, 74, 169, 9), -100, 100);
  ScrollBar2->setValue(0);

  const TZoomSharpenBoxes boxes = NewZoomSharpenBoxes(Panel1, {56, 168}, {56, 224});
  GroupBoxZoom = boxes.zoomBox;
  Slider = boxes.zoom;
  GroupBoxSharpen = boxes.sharpenBox;
  ScrollBarLevel = boxes.level;

  Image1 = new TImage(this);
  Image1->setGeometry(64, 336, 153, 145);
  Image1->SetStretch(true);
  SpeedButtonMemo = NewSpeedButton(this, QStringLiteral("Memo..."), QRect(128, 496, 57, 22), true);
  SpeedButtonSave =
      NewSpeedButton(this, QStringLiteral("Save as.."), QRect(200, 496, 57, 22), true);
  SaveDialog1 = std::make_unique<TSaveDialog>(this);

  // Keys reach the window itself, not a control that the window's activation would pick.
  setFocusPolicy(Qt::ClickFocus);
  setFocus();
}

void TFormCmd::ConnectHandlers() {
  ConnectScrollEvents(ScrollBarGamma, [this](TScrollCode scrollCode, int position) {
    ScrollBarGammaScroll(scrollCode, position);
  });
  connect(SpeedButtonMemo, &QToolButton::clicked, this,
          [this] { Guarded([this] { SpeedButtonMemoClick(); }); });
  connect(SpeedButtonSave, &QToolButton::clicked, this,
          [this] { Guarded([this] { SpeedButtonSaveClick(); }); });
  connect(TabControl1, &QTabBar::currentChanged, this,
          [this](int index) { Guarded([this, index] { TabControl1Change(index); }); });
}

void TFormCmd::TakeSnapshot(const TBitmap& capture) {
  Snapshot_->Assign(&capture);
  {
    // Tab "0" stands for the latest freeze: the selection follows the picture shown. The view
    // already holds the freeze's own picture, which a redraw from the snapshot would replace.
    const QSignalBlocker quiet(TabControl1);
    TabControl1->setCurrentIndex(0);
  }
  ShowPreview(capture);
}

const TBitmap& TFormCmd::TabSnapshot(int index) const {
  if (index >= 1 && static_cast<std::size_t>(index) <= memos_.size()) {
    return *memos_[static_cast<std::size_t>(index - 1)];
  }
  return *Snapshot_;
}

void TFormCmd::ShowPreview(const TBitmap& picture) {
  Image1->Picture().Assign(&picture);
  Image1->Changed();
}

void TFormCmd::FocusMainWindow() {
  if (mainWindow_ != nullptr) mainWindow_->FocusMainWindow();
}

TCmdAdjustments TFormCmd::Adjustments() const {
  TCmdAdjustments adjustments;
  adjustments.gamma = static_cast<float>(ScrollBarGamma->value()) / 100.0f;
  adjustments.brightness = ScrollBarBrightness->value();
  adjustments.contrast = ScrollBar2->value();
  return adjustments;
}

void TFormCmd::ScrollBarGammaScroll(TScrollCode, int position) {
  // The live view's gamma for the same position: a whole-number gamma here would show another
  // picture than the running view at, say, 150.
  const TBitmap& snapshot = TabSnapshot(TabControl1->currentIndex());
  if (mainWindow_ != nullptr) {
    mainWindow_->RedrawView(snapshot, static_cast<float>(position) / 100.0f);
  }
  FocusMainWindow();
}

void TFormCmd::SpeedButtonMemoClick() {
  const int n = TabControl1->count();
  memos_.push_back(std::make_unique<TBitmap>());
  memos_.back()->Assign(Snapshot_.get());
  {
    // The new tab already shows what it keeps: selecting it redraws nothing.
    const QSignalBlocker quiet(TabControl1);
    TabControl1->addTab(QString::asprintf(" %1.1d ", n));
    TabControl1->setCurrentIndex(n);
  }
  ShowPreview(*memos_.back());
}

void TFormCmd::TabControl1Change(int index) {
  if (index < 0) return;
  const TBitmap& snapshot = TabSnapshot(index);
  ShowPreview(snapshot);
  if (mainWindow_ != nullptr && mainWindow_->Frozen()) {
    ScrollBarGammaScroll(scPosition, ScrollBarGamma->value());
  }
}

void TFormCmd::SpeedButtonSaveClick() {
  const std::optional<std::string> name = SaveDialog1->Execute();
  if (!name) return;
  if (mainWindow_ != nullptr) SavePictureToFile(mainWindow_->CurrentView(), *name);
}

void TFormCmd::closeEvent(QCloseEvent* event) {
  // FormClose: hidden, not destroyed, and the keys go back to the main window.
  event->accept();
  Guarded([this] { FocusMainWindow(); });
}

void TFormCmd::keyPressEvent(QKeyEvent* event) {
  if (mainWindow_ != nullptr && HasOwnFocus(*this)) {
    Guarded([this, event] { mainWindow_->FormKeyDown(event->key(), event->modifiers()); });
  }
  QWidget::keyPressEvent(event);
}

void TFormCmd::showEvent(QShowEvent*) {
  // Placed once, clear of the main window where its design place would cover it; after that it
  // comes back where the user left it.
  if (placed_) return;
  placed_ = true;
  Guarded([this] { PlaceBesideOwner(*this); });
}

void TFormCmd::resizeEvent(QResizeEvent*) {
  TabControl1->resize(width(), TabControl1->height());
}

}  // namespace ombrix
