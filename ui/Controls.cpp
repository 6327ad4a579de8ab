#include "Controls.h"

#include <QColorDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QPaintEvent>
#include <QPainter>
#include <QPalette>
#include <QProxyStyle>
#include <QScrollBar>
#include <QSlider>
#include <QStringList>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <utility>

#include "ErrorReport.h"

namespace ombrix {
namespace {

std::optional<TScrollCode> ScrollCodeOf(int action) {
  switch (action) {
    case QAbstractSlider::SliderSingleStepSub:
      return scLineUp;
    case QAbstractSlider::SliderSingleStepAdd:
      return scLineDown;
    case QAbstractSlider::SliderPageStepSub:
      return scPageUp;
    case QAbstractSlider::SliderPageStepAdd:
      return scPageDown;
    case QAbstractSlider::SliderToMinimum:
      return scTop;
    case QAbstractSlider::SliderToMaximum:
      return scBottom;
    case QAbstractSlider::SliderMove:
      return scTrack;
    default:
      return std::nullopt;
  }
}

// The toolkit's modal colour dialog; an invalid colour is its answer to a cancel.
std::optional<TColor> RunColorDialog(QWidget* parent, TColor initial) {
  const QColor chosen = QColorDialog::getColor(ToQColor(initial), parent);
  if (!chosen.isValid()) return std::nullopt;
  return FromQColor(chosen);
}

// Track bars with the designed thumb of 10 pixels along the groove.
class TTrackBarStyle : public QProxyStyle {
 public:
  int pixelMetric(PixelMetric metric, const QStyleOption* option,
                  const QWidget* widget) const override {
    if (metric == PM_SliderLength) return 10;
    return QProxyStyle::pixelMetric(metric, option, widget);
  }
};

// The smallest face that position labels shrink to, as small as the panel's freeze hint.
constexpr int kSmallestLabelPixels = 9;

// The largest pixel size, from `font`'s own down to kSmallestLabelPixels, at which no two
// neighbouring texts, centred `step` pixels apart, run into each other.
QFont FittingLabelFont(QFont font, const QStringList& texts, int step) {
  auto fits = [&] {
    const QFontMetrics metrics(font);
    for (int i = 0; i + 1 < texts.size(); ++i) {
      const int halves =
          (metrics.horizontalAdvance(texts[i]) + metrics.horizontalAdvance(texts[i + 1]) + 1) / 2;
      if (halves > step) return false;
    }
    return true;
  };
  while (font.pixelSize() > kSmallestLabelPixels && !fits()) {
    font.setPixelSize(font.pixelSize() - 1);
  }
  return font;
}

}  // namespace

// The picture as Qt draws it: rows top-down and the fourth byte set, since a zero there would
// read as transparent wherever Qt keeps an alpha channel. One pass over the rows, no scaling.
void CopyToImage(const TBitmap& bitmap, QImage& image) {
  const int w = bitmap.Width();
  const int h = bitmap.Height();
  if (image.width() != w || image.height() != h || image.format() != QImage::Format_RGB32)
    image = QImage(w, h, QImage::Format_RGB32);
  if (image.isNull()) return;
  for (int y = 0; y < h; ++y) {
    const uint8_t* src = bitmap.ScanLine(y);
    auto* dst = reinterpret_cast<uint32_t*>(image.scanLine(y));
    if (bitmap.PixelFormat() == pf32bit) {
      // One pass: the copy and the opaque fourth byte together.
      for (int x = 0; x < w; ++x) {
        uint32_t pixel;
        std::memcpy(&pixel, src + 4 * x, 4);
        dst[x] = pixel | 0xFF000000u;
      }
    } else {
      for (int x = 0; x < w; ++x, src += 3) {
        dst[x] = 0xFF000000u | static_cast<uint32_t>(src[2]) << 16 |
                 static_cast<uint32_t>(src[1]) << 8 | src[0];
      }
    }
  }
}

QImage ToImage(const TBitmap& bitmap) {
  QImage image;
  CopyToImage(bitmap, image);
  return image;
}

bool HasOwnFocus(const QWidget& window) {
  const QWidget* focus = window.focusWidget();
  return focus == nullptr || focus == &window;
}

QSlider* NewTrackBar(QWidget* group, int x, int width, int maximum) {
  auto* bar = new QSlider(Qt::Horizontal, group);
  auto* style = new TTrackBarStyle;
  style->setParent(bar);  // lives exactly as long as the bar that uses it
  bar->setStyle(style);
  bar->setGeometry(x, 16, width, 17);
  bar->setRange(0, maximum);
  bar->setValue(0);
  bar->setSingleStep(1);
  bar->setPageStep(1);
  bar->setTickPosition(QSlider::TicksBelow);
  bar->setTickInterval(1);
  return bar;
}

// Labels centred under the positions of `bar`, each with its hint when one is given. The
// window's face is wider than the one the bars were laid out for ("180°" beside "270°" at 23
// pixels apart): where neighbours would touch, the bar's labels get a smaller face.
void AddPositionLabels(QSlider* bar, const QStringList& texts, const QStringList& hints) {
  const int positions = bar->maximum() - bar->minimum();
  const int thumb = 10;
  const int travel = bar->width() - thumb;
  const QFont own = bar->parentWidget()->font();
  const QFont font =
      positions > 0 && own.pixelSize() > 0 ? FittingLabelFont(own, texts, travel / positions) : own;
  for (int i = 0; i < texts.size(); ++i) {
    auto* label = new QLabel(texts[i], bar->parentWidget());
    if (font != own) label->setFont(font);
    label->adjustSize();
    const int centre = bar->x() + thumb / 2 + (positions > 0 ? i * travel / positions : 0);
    label->move(centre - label->width() / 2, bar->y() + bar->height());
    if (i < hints.size()) label->setToolTip(hints[i]);
  }
}

QScrollBar* NewScrollBar(QWidget* parent, const QRect& place, int minimum, int maximum) {
  auto* bar = new QScrollBar(Qt::Horizontal, parent);
  bar->setGeometry(place);
  bar->setRange(minimum, maximum);
  bar->setValue(minimum);
  // The toolkit's default steps: one position per arrow or track click.
  bar->setSingleStep(1);
  bar->setPageStep(1);
  return bar;
}

TImage::TImage(QWidget* parent) : QWidget(parent) {}

void TImage::SetStretch(bool stretch) {
  if (stretch_ == stretch) return;
  stretch_ = stretch;
  Changed();
}

void TImage::Changed() {
  if (OnChange) OnChange();
  UpdateOpaque();
  repaint();
}

void TImage::UpdateOpaque() {
  // A picture that covers the whole control paints every pixel of it: the parent need not
  // paint its background beneath first.
  const bool opaque = !picture_->Empty() && PictureRect() == rect();
  if (testAttribute(Qt::WA_OpaquePaintEvent) != opaque)
    setAttribute(Qt::WA_OpaquePaintEvent, opaque);
}

void TImage::resizeEvent(QResizeEvent*) {
  UpdateOpaque();
}

QRect TImage::PictureRect() const {
  if (picture_->Empty()) return {};
  if (stretch_) return rect();
  const qreal ratio = devicePixelRatioF();
  const int w = static_cast<int>(std::ceil(picture_->Width() / ratio));
  const int h = static_cast<int>(std::ceil(picture_->Height() / ratio));
  return QRect(0, 0, w, h).intersected(rect());
}

bool TImage::PaintIntoBackingStore(const QRegion& region) {
  // The window's raster backing store is an image that the paint is redirected into: the
  // picture's rows go straight there, in the one pass that also makes them opaque, with no
  // image of our own in between and no painter. Anything else (a grab into a pixmap, a scaled
  // display, a stretched or 24-bit picture) takes the painter's way.
  if (stretch_ || picture_->PixelFormat() != pf32bit) return false;
  QPoint offset;
  QPaintDevice* device = redirected(&offset);
  if (device == nullptr || device->devType() != QInternal::Image) return false;
  auto* image = static_cast<QImage*>(device);
  const QImage::Format format = image->format();
  if (format != QImage::Format_RGB32 && format != QImage::Format_ARGB32 &&
      format != QImage::Format_ARGB32_Premultiplied)
    return false;
  if (image->devicePixelRatio() != 1.0 || devicePixelRatioF() != 1.0) return false;
  // The device point of a point p of the control is p - offset.
  const QRect picture = QRect(0, 0, picture_->Width(), picture_->Height()).intersected(rect());
  if (!image->rect().contains(picture.translated(-offset))) return false;
  for (const QRect& r : region) {
    const QRect part = r.intersected(picture);
    for (int y = part.top(); y <= part.bottom(); ++y) {
      const uint8_t* src = std::as_const(*picture_).ScanLine(y) + 4 * part.left();
      auto* dst =
          reinterpret_cast<uint32_t*>(image->scanLine(y - offset.y())) + (part.left() - offset.x());
      for (int x = 0; x < part.width(); ++x) {
        uint32_t pixel;
        std::memcpy(&pixel, src + 4 * x, 4);
        dst[x] = pixel | 0xFF000000u;
      }
    }
  }
  // The image of our own no longer shows the picture.
  shownFrom_ = nullptr;
  return true;
}

void TImage::paintEvent(QPaintEvent* event) {
  Guarded([&] {
    if (picture_->Empty()) return;
    if (PaintIntoBackingStore(event->region())) return;
    // Kept between paints: a frame is no allocation, and a repaint of an unchanged picture
    // (an expose) no conversion either.
    const uint64_t stamp = picture_->Stamp();
    if (picture_ != shownFrom_ || stamp != shownStamp_ || shown_.isNull()) {
      CopyToImage(*picture_, shown_);
      shownFrom_ = picture_;
      shownStamp_ = stamp;
    }
    if (shown_.isNull()) return;
    QImage& image = shown_;
    QPainter painter(this);
    painter.setClipRegion(event->region());
    if (stretch_) {
      painter.setRenderHint(QPainter::SmoothPixmapTransform);
      painter.drawImage(rect(), image);
    } else {
      image.setDevicePixelRatio(devicePixelRatioF());
      painter.drawImage(QPoint(0, 0), image);
    }
  });
}

TTimer::TTimer() : timer_(std::make_unique<QTimer>()) {
  timer_->setTimerType(Qt::PreciseTimer);
  QObject::connect(timer_.get(), &QTimer::timeout, [this] {
    Wake();
    Guarded([this] {
      if (OnTimer) OnTimer();
    });
  });
}

TTimer::~TTimer() = default;

void TTimer::SetInterval(int milliseconds) {
  if (milliseconds < 0) milliseconds = 0;
  if (milliseconds == interval_) return;
  interval_ = milliseconds;
  resting_ = false;
  timer_->stop();
  if (interval_ > 0) timer_->start(interval_);
}

void TTimer::Rest(int periods) {
  if (interval_ <= 0 || periods <= 1) return;
  resting_ = true;
  // A rest longer than an int of milliseconds is cut short.
  const long long rest = static_cast<long long>(interval_) * periods;
  timer_->start(static_cast<int>(std::min<long long>(rest, INT_MAX)));
}

bool TTimer::Wake() {
  if (!resting_) return false;
  resting_ = false;
  timer_->start(interval_);
  return true;
}

void ConnectScrollEvents(QScrollBar* bar, std::function<void(TScrollCode, int)> handler) {
  auto shared = std::make_shared<std::function<void(TScrollCode, int)>>(std::move(handler));
  // Qt announces an action with the thumb already at its new place and the value not yet.
  QObject::connect(bar, &QAbstractSlider::actionTriggered, bar, [bar, shared](int action) {
    const std::optional<TScrollCode> code = ScrollCodeOf(action);
    if (!code) return;
    Guarded([&] { (*shared)(*code, bar->sliderPosition()); });
  });
  QObject::connect(bar, &QAbstractSlider::sliderReleased, bar, [bar, shared] {
    Guarded([&] { (*shared)(scPosition, bar->sliderPosition()); });
  });
}

bool TColorDialog::Execute() {
  const std::optional<TColor> chosen = Runner ? Runner(color_) : RunColorDialog(parent_, color_);
  if (!chosen) return false;
  color_ = *chosen;
  return true;
}

void SetBackgroundColor(QWidget& widget, const QColor& colour) {
  QPalette palette = widget.palette();
  palette.setColor(QPalette::Window, colour);
  widget.setPalette(palette);
  widget.setAutoFillBackground(true);
}

QLabel* NewLabel(QWidget* parent, const QString& text, int x, int y) {
  auto* label = new QLabel(text, parent);
  label->move(x, y);
  label->adjustSize();
  return label;
}

QToolButton* NewSpeedButton(QWidget* parent, const QString& caption, const QRect& place,
                            bool flat) {
  auto* button = new QToolButton(parent);
  button->setText(caption);
  button->setAutoRaise(flat);
  button->setGeometry(place);
  return button;
}

TZoomSharpenBoxes NewZoomSharpenBoxes(QWidget* parent, QPoint zoomAt, QPoint sharpenAt) {
  TZoomSharpenBoxes boxes{};
  boxes.zoomBox = new QGroupBox(QStringLiteral(" Zoom factor "), parent);
  boxes.zoomBox->setGeometry(zoomAt.x(), zoomAt.y(), 137, 49);
  boxes.zoomBox->setToolTip(QStringLiteral("Zoom from none (1x)"));
  boxes.zoom = NewTrackBar(boxes.zoomBox, 9, 120, 4);
  AddPositionLabels(boxes.zoom, {QStringLiteral("1x"), QStringLiteral("2 x"), QStringLiteral("4 x"),
                                 QStringLiteral("6 x"), QStringLiteral("8 x")});
  boxes.sharpenBox = new QGroupBox(QStringLiteral("Sharpen"), parent);
  boxes.sharpenBox->setGeometry(sharpenAt.x(), sharpenAt.y(), 137, 33);
  boxes.level = NewScrollBar(boxes.sharpenBox, QRect(16, 18, 113, 9), 0, 5);
  boxes.level->setToolTip(QStringLiteral("Unsharp Mask Strength -  Accentuation"));
  return boxes;
}

QColor ToQColor(TColor colour) {
  return QColor(static_cast<int>(colour & 0xFF), static_cast<int>(colour >> 8 & 0xFF),
                static_cast<int>(colour >> 16 & 0xFF));
}

TColor FromQColor(const QColor& colour) {
  return static_cast<TColor>(colour.red() | colour.green() << 8 | colour.blue() << 16);
}

}  // namespace ombrix
