#include "uZoom.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFont>
#include <QFontMetrics>
#include <QFrame>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QMoveEvent>
#include <QPainter>
#include <QPixmap>
#include <QProxyStyle>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QScrollBar>
#include <QShowEvent>
#include <QSlider>
#include <QSpinBox>
#include <QStringList>
#include <QToolButton>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>

#include "Controls.h"
#include "ErrorReport.h"
#include "FormFonts.h"
#include "Invert.h"
#include "Sharpen.h"
#include "Stereo3D.h"
#include "Ucmdprocess.h"
#include "Zoom.h"
#include "iwProcess.h"

namespace ombrix {
namespace {

// The client size the window is designed with.
constexpr int kDesignClientWidth = 361;
constexpr int kDesignClientHeight = 432;
constexpr int kPanelWidth = 154;
constexpr int kPanelHeight = 369;
// Single-monitor caps of the outer size.
constexpr int kCapWidth = 1024;
constexpr int kCapHeight = 768;
// The colour that the window's shape leaves out: what it is painted with is see-through.
constexpr QRgb kColourKey = 0xFF00FF;
// A cycle nested this deep inside other cycles' message pumps (timer ticks and direct calls
// from key handlers) still runs, but pumps no more, so nesting cannot grow without bound.
constexpr int kMaxPumpingDepth = 2;

const char* const kHomePage = "https://ombrix.example.org/";

// The frame as the window system has it now. QWidget::frameGeometry keeps the frame's extents
// from the window's last move or resize, so after the border is toggled in place it reports
// the old frame until the window next moves.
QRect LiveFrameGeometry(const QWidget& window) {
  const QWindow* handle = window.windowHandle();
  return handle != nullptr ? handle->frameGeometry() : window.frameGeometry();
}

QSpinBox* NewUpDown(QWidget* parent, int x, int y, const QString& hint) {
  auto* field = new QSpinBox(parent);
  field->setGeometry(x, y, 56, 22);
  field->setButtonSymbols(QAbstractSpinBox::UpDownArrows);
  field->setRange(0, INT16_MAX);
  field->setValue(0);
  field->setToolTip(hint);
  return field;
}

// The glyph of the cross-line colour button: a small cross with its open centre.
QIcon CrossLineGlyph() {
  QPixmap glyph(15, 15);
  glyph.fill(Qt::transparent);
  QPainter painter(&glyph);
  painter.setPen(Qt::red);
  painter.drawLine(0, 7, 4, 7);
  painter.drawLine(10, 7, 14, 7);
  painter.drawLine(7, 0, 7, 4);
  painter.drawLine(7, 10, 7, 14);
  return QIcon(glyph);
}

int ClampToInt16(int value) {
  return std::clamp(value, 0, static_cast<int>(INT16_MAX));
}

// Counts the cycles that are running, the outermost included, for as long as one runs.
class TCycleDepth {
 public:
  explicit TCycleDepth(int& depth) : depth_(depth) { ++depth_; }
  ~TCycleDepth() { --depth_; }
  TCycleDepth(const TCycleDepth&) = delete;
  TCycleDepth& operator=(const TCycleDepth&) = delete;

 private:
  int& depth_;
};

}  // namespace

TForm1::TForm1(Desktop& desktop) : QWidget(nullptr, Qt::Window), desktop_(desktop) {
  setWindowTitle(QString::fromLatin1(kApplicationTitle));
  SetFormFont(*this);
  setAttribute(Qt::WA_OpaquePaintEvent);
  resize(kDesignClientWidth, kDesignClientHeight);
  CreateControls();
  ConnectHandlers();
  FormCreate();
}

TForm1::~TForm1() {
  FormDestroy();
}

void TForm1::CreateControls() {
  Image1 = new TImage(this);
  Image1->setGeometry(rect());
  Image1->setToolTip(QStringLiteral("Ombrix window ... don't resize too big !"));
  Image1->hide();
  Image1->OnChange = [this] { UpdateColourKey(); };

  Panel1 = new QFrame(this);
  Panel1->setGeometry(87, 16, kPanelWidth, kPanelHeight);
  Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
  Panel1->setLineWidth(1);
  Panel1->setAutoFillBackground(true);
  Panel1->setToolTip(QStringLiteral("Ombrix Main Window"));

  const TZoomSharpenBoxes boxes = NewZoomSharpenBoxes(Panel1, {8, 6}, {8, 60});
  GroupBoxZoom = boxes.zoomBox;
  Slider = boxes.zoom;
  GroupBoxSharpen = boxes.sharpenBox;
  ScrollBarLevel = boxes.level;

  GroupBoxOperation = new QGroupBox(QStringLiteral(" Graphic operations "), Panel1);
  GroupBoxOperation->setGeometry(4, 98, 146, 49);
  GroupBoxOperation->setToolTip(QStringLiteral("Copy, Rotations and Mirrors"));
  TrackBarOperation = NewTrackBar(GroupBoxOperation, 9, 128, 5);
  AddPositionLabels(TrackBarOperation,
                    {QStringLiteral("0"), QStringLiteral("VM"), QStringLiteral("HM"),
                     QStringLiteral("90°"), QStringLiteral("180°"), QStringLiteral("270°")},
                    {QStringLiteral("Copy"), QStringLiteral("Vertical Mirror"),
                     QStringLiteral("Horizontal Mirror"), QStringLiteral("Rotation 90° clockwise"),
                     QStringLiteral("Rotation 180°"), QStringLiteral("Rotation 270° clockwise")});

  GroupBox3D = new QGroupBox(QStringLiteral(" 3D operations "), Panel1);
  GroupBox3D->setGeometry(8, 152, 137, 70);
  TrackBar3D = NewTrackBar(GroupBox3D, 9, 120, 5);
  QStringList hints3D;
  for (const char* hint : k3DHints) hints3D << QString::fromUtf8(hint);
  AddPositionLabels(TrackBar3D,
                    {QStringLiteral("0"), QStringLiteral("X"), QStringLiteral("A"),
                     QStringLiteral("I"), QStringLiteral("Md"), QStringLiteral("Mg")},
                    hints3D);
  CheckBoxW = new QCheckBox(QStringLiteral("W/2"), GroupBox3D);
  CheckBoxW->move(24, 48);
  CheckBoxH = new QCheckBox(QStringLiteral("H/2"), GroupBox3D);
  CheckBoxH->move(80, 48);

  UpDown1 = NewUpDown(Panel1, 8, 256, QStringLiteral("Wanted width"));
  UpDown2 = NewUpDown(Panel1, 88, 256, QStringLiteral("Wanted height"));
  Button1 = new QPushButton(QStringLiteral("<>"), Panel1);
  Button1->setGeometry(66, 256, 20, 22);
  Button1->setToolTip(QStringLiteral("Apply inside image size - Appliquer taille image"));
  // The up-downs sit on either side of the button.
  UpDown1->resize(Button1->x() - UpDown1->x(), UpDown1->height());

  cbSrediste = new QCheckBox(QStringLiteral("+"), Panel1);
  SetSansFont(*cbSrediste, 21);
  cbSrediste->setGeometry(8, 284, 33, 21);
  cbSrediste->setToolTip(QStringLiteral("Enable / disable center cross-line - Réticule"));

  SpeedButton1 = new QToolButton(Panel1);
  SpeedButton1->setGeometry(45, 283, 23, 22);
  SpeedButton1->setIcon(CrossLineGlyph());
  SpeedButton1->setToolTip(QStringLiteral("Cross-line color - couleur du réticule"));

  ScrollBar1 = NewScrollBar(Panel1, QRect(72, 291, 73, 7), kStartTimerPeriod, 500);
  ScrollBar1->setSingleStep(kStartTimerPeriod);
  ScrollBar1->setPageStep(kStartTimerPeriod);
  ScrollBar1->setToolTip(QStringLiteral("Timer speed ... Please don't exagerate !"));

  BitBtn1 = new QPushButton(QStringLiteral("About"), Panel1);
  BitBtn1->setGeometry(20, 312, 53, 22);
  BitBtn1->setToolTip(QStringLiteral("Version,  Authors..."));
  BitBtn2 = new QPushButton(QStringLiteral("Help"), Panel1);
  BitBtn2->setGeometry(92, 312, 37, 22);
  BitBtn2->setToolTip(QStringLiteral("See also this page : ") + QString::fromLatin1(kHomePage));

  Label11 = new QLabel(QStringLiteral("Hit Space Bar to freeze/unfreeze"), Panel1);
  SetSansFont(*Label11, 9, true);
  Label11->move(8, 342);
  Label11->adjustSize();
  Label11->setToolTip(QStringLiteral("Appuyez sur la barre d'espace pour geler/dégeler l'image"));

  Timer1 = std::make_unique<TTimer>();
  Timer1->OnTimer = [this] { Tick(); };
  ColorDialog1 = std::make_unique<TColorDialog>(this);
}

void TForm1::ConnectHandlers() {
  // A state change rather than a click: the boxes' handlers uncheck each other, and such a
  // change made by the program must run the other box's handler just as a click does.
  connect(CheckBoxW, &QCheckBox::toggled, this, [this] { Guarded([this] { CheckBoxWClick(); }); });
  connect(CheckBoxH, &QCheckBox::toggled, this, [this] { Guarded([this] { CheckBoxHClick(); }); });
  connect(SpeedButton1, &QToolButton::clicked, this,
          [this] { Guarded([this] { SpeedButton1Click(); }); });
  ConnectScrollEvents(ScrollBarLevel, [this](TScrollCode scrollCode, int position) {
    ScrollBarLevelScroll(scrollCode, position);
  });
  ConnectInput();
  connect(BitBtn1, &QPushButton::clicked, this, [this] { Guarded([this] { BitBtn1Click(); }); });
  connect(BitBtn2, &QPushButton::clicked, this, [this] { Guarded([this] { BitBtn2Click(); }); });
}

void TForm1::FormCreate() {
  // Border icons; a maximise button only where there is another monitor to grow onto.
  Qt::WindowFlags flags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint;
  if (desktop_.MonitorCount() >= 2) flags |= Qt::WindowMaximizeButtonHint;
  setWindowFlags(flags);
  NonClientActive_ = false;
  ForceCapture_ = false;
  ZoneFixed_ = false;
  MaxTrackWidth_ = kCapWidth;
  MaxTrackHeight_ = kCapHeight;
  UpdateFrameExtra();
  // Device pixels: on a scaled display the panel takes more of them.
  MinTrackWidth_ = ToDevice(Panel1->width()) + 8;
  MinTrackHeight_ = ToDevice(Panel1->height()) + 30;
  // The cycle's view is the picture that Image1 shows.
  cycle_ = std::make_unique<FrameCycle>(desktop_);
  cycle_->OnSharpenStage = [this](int level) { SharpenStage(level); };
  Image1->ShowPicture(cycle_->View());
  CrossColor_ = clRed;
  // The background is painted by FormPaint; the colour key is the window's shape.
  Color_ = clBlack;
  UpdateColourKey();
  TimerPeriod_ = kStartTimerPeriod;
  ScrollBar1->setValue(kStartTimerPeriod);
  Timer1->SetInterval(TimerPeriod_);
  UpDown1->setMinimum(ClampToInt16(MinTrackWidth_));
  UpDown2->setMinimum(ClampToInt16(MinTrackHeight_));
  WMGetMinMaxInfo();
}

void TForm1::FormDestroy() {
  if (Timer1) Timer1->SetInterval(0);
}

bool TForm1::Frozen() const {
  return Timer1->Interval() == 0;
}

void TForm1::FormResize() {
  UpdateFrameExtra();
  Image1->setGeometry(rect());
  Panel1->move(width() / 2 - Panel1->width() / 2, height() / 2 - Panel1->height() / 2);
  if (!Frozen()) {
    // The next frame cycle builds the picture at the new size.
    Image1->Picture().SetSize(0, 0);
    Image1->Changed();
  }
  const QSize client = ClientDeviceSize();
  setWindowTitle(QString::fromStdString(SizeCaption(client.width(), client.height())));
  UpDown1->setValue(ClampToInt16(client.width()));
  UpDown2->setValue(ClampToInt16(client.height()));
  NonClientActive_ = false;
  UpdateColourKey();
}

void TForm1::WMGetMinMaxInfo() {
  const QSize client = ClientDeviceSize();
  const int cw = client.width();
  const int ch = client.height();
  MaxTrackHeight_ =
      cw != 0 && cw <= kCapWidth ? MaxClientArea / cw + FrameExtraHeight_ : kCapHeight;
  MaxTrackWidth_ = ch != 0 && ch <= kCapHeight ? MaxClientArea / ch + FrameExtraWidth_ : kCapWidth;
  UpDown1->setMaximum(ClampToInt16(MaxTrackWidth_));
  UpDown2->setMaximum(ClampToInt16(MaxTrackHeight_));
  if (desktop_.MonitorCount() >= 2) {
    const TRect monitor = desktop_.NearestMonitor(WindowRect());
    ApplyTrackSize(MinTrackWidth_, MinTrackHeight_, monitor.Width() - 1, monitor.Height() - 1);
  } else {
    ApplyTrackSize(MinTrackWidth_, MinTrackHeight_, MaxTrackWidth_, MaxTrackHeight_);
  }
}

void TForm1::ApplyTrackSize(int minWidth, int minHeight, int maxWidth, int maxHeight) {
  // Qt's limits are logical client sizes; ours are outer sizes in device pixels.
  const qreal ratio = devicePixelRatioF();
  auto client = [ratio](int outer, int frame, bool roundUp) {
    const qreal logical = std::max(0, outer - frame) / ratio;
    return static_cast<int>(roundUp ? std::ceil(logical) : std::floor(logical));
  };
  const QSize minimum(client(minWidth, FrameExtraWidth_, true),
                      client(minHeight, FrameExtraHeight_, true));
  const QSize maximum(std::max(minimum.width(), client(maxWidth, FrameExtraWidth_, false)),
                      std::max(minimum.height(), client(maxHeight, FrameExtraHeight_, false)));
  if (minimumSize() != minimum) setMinimumSize(minimum);
  QWindow* window = windowHandle();
  const QSize within = size().boundedTo(maximum);
  if (window != nullptr && isVisible() && within != size()) {
    // The window manager granted a size beyond the limits of that size (one step of a corner
    // drag can grow both sides at once). Qt's own clamp would take the smaller size for
    // granted while the window manager, busy with the drag, keeps the larger one; so announce
    // these limits and ask for the size within them, and follow the window when it gets there.
    window->setMaximumSize(maximum);
    window->resize(within);
    return;
  }
  if (maximumSize() != maximum) setMaximumSize(maximum);
  // After a size brought back within its limits the window may still announce those.
  if (window != nullptr && window->maximumSize() != maximum) window->setMaximumSize(maximum);
}

bool TForm1::UpdateFrameExtra() {
  return UpdateFrameExtra(LiveFrameGeometry(*this));
}

bool TForm1::UpdateFrameExtra(const QRect& frame) {
  // While the window manager changes the frame (a border toggled), Qt may report a frame
  // smaller than the client for a moment; a negative frame would raise the minimum size.
  const int extraWidth = ToDevice(std::max(0, frame.width() - width()));
  const int extraHeight = ToDevice(std::max(0, frame.height() - height()));
  const bool changed = extraWidth != FrameExtraWidth_ || extraHeight != FrameExtraHeight_;
  FrameExtraWidth_ = extraWidth;
  FrameExtraHeight_ = extraHeight;
  return changed;
}

void TForm1::UpdateColourKey() {
  // Every tick asks: the region is built only when what it is made of changed.
  const TShapeInputs inputs{
      size(), Panel1->isHidden() ? QRect() : Panel1->geometry(),
      Image1->isHidden() ? QRect() : Image1->PictureRect().translated(Image1->pos())};
  if (inputs == shapeInputs_) return;
  shapeInputs_ = inputs;
  // The one-pixel outline stays, the middle that FormPaint fills with the key goes.
  QRegion shape(rect());
  if (width() > 2 && height() > 2) shape -= QRegion(1, 1, width() - 2, height() - 2);
  shape += inputs.panel;
  shape += inputs.picture;
  if (shape == shape_) return;
  shape_ = shape;
  setMask(shape);
}

void TForm1::paintEvent(QPaintEvent*) {
  Guarded([this] {
    // FormPaint: the magenta middle inside a one-pixel outline of the background colour.
    QPainter painter(this);
    painter.fillRect(rect(), ToQColor(Color_));
    painter.fillRect(QRect(1, 1, width() - 2, height() - 2), QColor(kColourKey));
  });
}

void TForm1::resizeEvent(QResizeEvent*) {
  Guarded([this] {
    UpdateFrameExtra();
    WMGetMinMaxInfo();
    FormResize();
  });
}

void TForm1::moveEvent(QMoveEvent*) {
  // The window manager's frame arrives after the first resize: its size changes the limits.
  Guarded([this] {
    if (UpdateFrameExtra()) WMGetMinMaxInfo();
  });
}

void TForm1::showEvent(QShowEvent*) {
  Guarded([this] {
    if (!placed_) {
      placed_ = true;
      if (const QScreen* s = screen()) {
        const QRect area = s->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
      }
    }
    if (UpdateFrameExtra()) WMGetMinMaxInfo();
  });
}

void TForm1::leaveEvent(QEvent*) {
  NonClientActive_ = false;
}

void TForm1::Tick() {
  // Read once a tick: the frame, the size limits, the frame tracking and the cycle all follow
  // it.
  const QRect frame = LiveFrameGeometry(*this);
  // The window manager sets its frame's size after the window is mapped, with no event that
  // reaches us for certain: the size limits follow it here.
  if (UpdateFrameExtra(frame)) WMGetMinMaxInfo();
  // The view covers the client area from its top-left corner.
  const TTickWindow window{WindowRect(frame), ToDevice(mapToGlobal(Image1->pos()))};
  TrackNonClientArea(frame, window);
  tickWindow_ = window;
  timerTick_ = true;
  Timer1Timer();
  // Nothing changed: where the screen hears of every change, the timer waits for its news,
  // and ticks only now and then for what it cannot hear (a warp of the pointer).
  if (std::exchange(keptStill_, false)) {
    const int periods = desktop_.RestTicks();
    if (periods > 0) Timer1->Rest(periods);
  }
}

void TForm1::ScreenNews() {
  if (Timer1->Wake()) Tick();
}

void TForm1::TrackNonClientArea(const QRect& frame, const TTickWindow& window) {
  TPoint cursor;
  // Asked on every tick: a screen that hears of the pointer's moves need not ask its server.
  if (!desktop_.PolledCursorPos(cursor)) return;
  // The cycle this tick starts reads the same position: one question a tick, not two.
  tickCursor_ = cursor;
  const QSize client = ClientDeviceSize();
  const TRect clientRect{window.clientOrigin.X, window.clientOrigin.Y,
                         window.clientOrigin.X + client.width(),
                         window.clientOrigin.Y + client.height()};
  const bool onFrame = window.rect.Contains(cursor) && !clientRect.Contains(cursor);
  // The window manager keeps the button press on its frame to itself; a frame that moves or
  // changes size under the pointer tells that the user is dragging it.
  const bool frameChanging = frame != lastFrame_;
  lastFrame_ = frame;
  const bool buttonHeld = QGuiApplication::mouseButtons() != Qt::NoButton;
  NonClientActive_ = onFrame && (buttonHeld || frameChanging);
}

void TForm1::Timer1Timer() {
  const TCycleDepth depth(cycleDepth_);
  FrameSettings settings =
      CycleSettings(std::exchange(timerTick_, false), std::exchange(tickWindow_, std::nullopt));
  settings.cursor = std::exchange(tickCursor_, std::nullopt);
  FrameResult result;
  try {
    runningStages_ = true;
    result = cycle_->Run(settings);
    runningStages_ = false;
  } catch (...) {
    // A stage failed: the view holds the zoom's picture; show that, and let the cycle end.
    runningStages_ = false;
    ShowCycleResult(FrameResult::Shows::View, true);
    throw;
  }
  keptStill_ = result.keptStill;
  CrossTiltX_ = result.crossTiltX;
  CrossTiltY_ = result.crossTiltY;
  ShowCycleResult(result.shows, result.viewDrawn);
  if (result.pumpEvents) PumpMessages();
  if (result.writeCaption) WriteCycleCaption();
}

FrameSettings TForm1::CycleSettings(bool fromTimer,
                                    const std::optional<TTickWindow>& tickWindow) const {
  FrameSettings settings;
  FrameWindow& window = settings.window;
  window.minimized = isMinimized();
  window.rect = tickWindow ? tickWindow->rect : WindowRect();
  window.clientOrigin =
      tickWindow ? tickWindow->clientOrigin : ToDevice(Image1->mapToGlobal(QPoint(0, 0)));
  const QSize client = ClientDeviceSize();
  window.clientWidth = client.width();
  window.clientHeight = client.height();
  window.nonClientActive = NonClientActive_;
  FramePicture& picture = settings.picture;
  picture.operation = TrackBarOperation->value();
  picture.operation3D = TrackBar3D->value();
  picture.halfWidth = CheckBoxW->isChecked();
  picture.halfHeight = CheckBoxH->isChecked();
  picture.zoom = Slider->value();
  picture.gamma = LiveGamma();
  if (formCmd_ != nullptr) {
    const TCmdAdjustments adjustments = formCmd_->Adjustments();
    picture.brightness = adjustments.brightness;
    picture.contrast = adjustments.contrast;
  }
  picture.nearest = NearestZoom_;
  picture.grid = PixelGrid_;
  picture.sharpenLevel = ScrollBarLevel->value();
  picture.invert = InvertedColours_;
  picture.crossLine = cbSrediste->isChecked();
  picture.crossColor = CrossColor_;
  picture.crossTiltX = CrossTiltX_;
  picture.crossTiltY = CrossTiltY_;
  settings.zoneFixed = ZoneFixed_;
  settings.forceCapture = ForceCapture_;
  settings.fromTimer = fromTimer;
  return settings;
}

void TForm1::ShowCycleResult(FrameResult::Shows shows, bool viewDrawn) {
  switch (shows) {
    case FrameResult::Shows::View:
      if (!Panel1->isHidden()) Panel1->hide();
      if (Image1->isHidden()) Image1->show();
      UpdateColourKey();
      if (viewDrawn) Image1->Changed();
      break;
    case FrameResult::Shows::Panel:
      if (Panel1->isHidden()) Panel1->show();
      if (!Image1->isHidden()) Image1->hide();
      UpdateColourKey();
      break;
    case FrameResult::Shows::Unchanged:
      break;
  }
}

void TForm1::SharpenStage(int level) {
  if (runningStages_) {
    // The window shows the view once the cycle's last stage has drawn on it.
    cycle_->SharpenView(level);
    return;
  }
  try {
    cycle_->SharpenView(level);
  } catch (...) {
    // The view still holds the zoom's picture: show that.
    Image1->Changed();
    throw;
  }
  Image1->Changed();
}

void TForm1::CheckBoxWClick() {
  ClearView();
  CheckBoxH->setChecked(false);
}

void TForm1::CheckBoxHClick() {
  ClearView();
  CheckBoxW->setChecked(false);
}

void TForm1::ClearView() {
  // Only the view's own pixels: an emptied view (after a resize) stays empty.
  const QSize view = ClientDeviceSize();
  TCanvas& canvas = Image1->Picture().Canvas();
  canvas.Brush.Color = clBlack;
  canvas.FillRect({0, 0, view.width(), view.height()});
  Image1->Changed();
}

void TForm1::SpeedButton1Click() {
  if (ColorDialog1->Execute()) CrossColor_ = ColorDialog1->Color();
}

void TForm1::ScrollBarLevelScroll(TScrollCode scrollCode, int position) {
  if (scrollCode == scPosition) SetSharpenRadius(cycle_->ImageWork(), position);
}

void TForm1::PumpMessages() {
  if (cycleDepth_ > kMaxPumpingDepth) return;
  QCoreApplication::processEvents();
}

float TForm1::LiveGamma() const {
  return formCmd_ != nullptr ? formCmd_->Adjustments().gamma : 0.0f;
}

void TForm1::RedrawView(const TBitmap& picture, const TCmdAdjustments& adjustments) {
  const int w = picture.Width();
  const int h = picture.Height();
  if (w <= 0 || h <= 0) return;
  RenderToView(picture, {0, 0, w, h}, 1, adjustments.gamma, 0, w, h,
               redrawColours_.Table(adjustments.brightness, adjustments.contrast));
  if (InvertedColours_) {
    InvertColours(Image1->Picture());
    Image1->Changed();
  }
}

void TForm1::WriteCycleCaption() {
  // The same caption as the last one written, still shown: nothing to format.
  const QSize client = ClientDeviceSize();
  const TCaptionInputs inputs{client, cycle_->ZonePoint()};
  if (inputs == captionInputs_ && windowTitle() == caption_) return;
  captionInputs_ = inputs;
  caption_ = QString::fromStdString(cycle_->Caption(client.width(), client.height()));
  setWindowTitle(caption_);
}

void TForm1::RenderToView(const TBitmap& bitmap, const TRect& rectangle, int factor, float gamma,
                          int level, int width, int height,
                          const std::array<uint8_t, 256>* colours) {
  if (factor <= 0) factor = 1;
  if (width <= 0 || height <= 0) return;
  RenderScaled(bitmap, Image1->Picture(), rectangle, factor, gamma, width, height, colours);
  SharpenStage(level);
}

TRect TForm1::WindowRect() const {
  return WindowRect(LiveFrameGeometry(*this));
}

TRect TForm1::WindowRect(const QRect& frame) const {
  const TPoint topLeft = ToDevice(frame.topLeft());
  return {topLeft.X, topLeft.Y, topLeft.X + ToDevice(frame.width()),
          topLeft.Y + ToDevice(frame.height())};
}

TRect TForm1::ClientRect() const {
  const TPoint topLeft = ToDevice(mapToGlobal(QPoint(0, 0)));
  const QSize size = ClientDeviceSize();
  return {topLeft.X, topLeft.Y, topLeft.X + size.width(), topLeft.Y + size.height()};
}

QSize TForm1::ClientDeviceSize() const {
  return {ToDevice(width()), ToDevice(height())};
}

int TForm1::ToDevice(int logical) const {
  return static_cast<int>(std::lround(logical * devicePixelRatioF()));
}

TPoint TForm1::ToDevice(const QPoint& globalLogical) const {
  // Qt keeps each screen's top-left corner in device pixels and scales about it.
  const QScreen* s = screen();
  if (s == nullptr) return {globalLogical.x(), globalLogical.y()};
  const QPoint origin = s->geometry().topLeft();
  const qreal ratio = s->devicePixelRatio();
  return {origin.x() + static_cast<int>(std::lround((globalLogical.x() - origin.x()) * ratio)),
          origin.y() + static_cast<int>(std::lround((globalLogical.y() - origin.y()) * ratio))};
}

}  // namespace ombrix
