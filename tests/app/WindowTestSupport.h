#pragma once
// What the window tests share: a desktop painted with a picture in which every pixel tells
// where it is, a main window opened on it at a known place, and waiting for Qt with a deadline.

#include <gtest/gtest.h>

#include <QtCore/qtestsupport_core.h>
#include <QScrollBar>
#include <QString>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <QWidget>
#include <functional>
#include <memory>

#include "Controls.h"
#include "MemoryDesktop.h"
#include "uZoom.h"

namespace ombrix::test {

// An interval long enough that the window's own timer never ticks during a test, while the
// picture still counts as running (not frozen).
inline constexpr int kRunningButIdle = 3600 * 1000;

// Paints every pixel of `bitmap` with colour(x, y), x and y in picture coordinates.
inline void Paint(TBitmap& bitmap, const std::function<TColor(int, int)>& colour) {
  for (int y = 0; y < bitmap.Height(); ++y) {
    uint8_t* row = bitmap.ScanLine(y);
    for (int x = 0; x < bitmap.Width(); ++x, row += 4) {
      const TColor c = colour(x, y);
      row[0] = static_cast<uint8_t>(c >> 16);
      row[1] = static_cast<uint8_t>(c >> 8);
      row[2] = static_cast<uint8_t>(c);
      row[3] = 0;
    }
  }
}

// A colour that differs for every pixel of a picture up to 4096 x 4096.
inline TColor Where(int x, int y) {
  return static_cast<TColor>((x & 0xFF) | (y & 0xFF) << 8 | ((x >> 8) & 0xF) << 16 |
                             ((y >> 8) & 0xF) << 20);
}

// 0x00BBGGRR as Qt's 0x00RRGGBB.
inline unsigned ToRgb(TColor c) {
  return (c & 0xFF) << 16 | (c & 0xFF00) | (c >> 16 & 0xFF);
}

inline TColor PixelOf(const TBitmap& bitmap, int x, int y) {
  const uint8_t* p = bitmap.ScanLine(y) + 4 * x;
  return static_cast<TColor>(p[2] | p[1] << 8 | p[0] << 16);
}

// Counts the pixels of `capture` that differ from the desktop picture's pixel at
// (x + dx, y + dy).
inline int DifferencesFromDesktop(const TBitmap& capture, const TBitmap& desktop, int dx, int dy) {
  int differences = 0;
  for (int y = 0; y < capture.Height(); ++y) {
    for (int x = 0; x < capture.Width(); ++x) {
      if (PixelOf(capture, x, y) != PixelOf(desktop, x + dx, y + dy)) ++differences;
    }
  }
  return differences;
}

inline bool WaitFor(const std::function<bool()>& condition) {
  return QTest::qWaitFor(condition, 5000);
}

// A main window on `desktop` with a client of w x h logical pixels at `at` (logical), its
// timer running but idle so that only the test drives the frame cycle.
template <class Form = TForm1>
std::unique_ptr<Form> OpenWindow(Desktop& desktop, int w, int h, QPoint at) {
  auto form = std::make_unique<Form>(desktop);
  form->Timer1->SetInterval(kRunningButIdle);
  form->resize(w, h);
  form->show();
  form->move(at);
  EXPECT_TRUE(WaitFor([&] { return form->pos() == at && form->size() == QSize(w, h); }))
      << "the window did not reach " << w << " x " << h;
  return form;
}

// Two ticks with the cursor resting at `cursor`: the first records the position, the second
// draws (the still-cursor rule).
inline void RestCursor(MemoryDesktop& desktop, TForm1& form, TPoint cursor) {
  desktop.SetCursor(cursor);
  form.Timer1Timer();
  form.Timer1Timer();
}

// A rectangle of a horizontal scroll bar as its style lays it out now.
inline QRect ScrollBarPart(const QScrollBar& bar, QStyle::SubControl part) {
  QStyleOptionSlider option;
  option.initFrom(&bar);
  option.subControls = QStyle::SC_All;
  option.orientation = Qt::Horizontal;
  option.state |= QStyle::State_Horizontal;
  option.minimum = bar.minimum();
  option.maximum = bar.maximum();
  option.sliderPosition = bar.sliderPosition();
  option.sliderValue = bar.value();
  option.singleStep = bar.singleStep();
  option.pageStep = bar.pageStep();
  return bar.style()->subControlRect(QStyle::CC_ScrollBar, &option, part, &bar);
}

inline void ClickPart(QScrollBar& bar, QStyle::SubControl part, int times = 1) {
  for (int i = 0; i < times; ++i) {
    QTest::mouseClick(&bar, Qt::LeftButton, Qt::NoModifier, ScrollBarPart(bar, part).center());
  }
}

// Drags the thumb until it stands at `position`, then releases it.
inline void DragThumb(QScrollBar& bar, int position) {
  QPoint at = ScrollBarPart(bar, QStyle::SC_ScrollBarSlider).center();
  QTest::mousePress(&bar, Qt::LeftButton, Qt::NoModifier, at);
  const int step = position > bar.sliderPosition() ? 1 : -1;
  while (bar.sliderPosition() != position && at.x() >= 0 && at.x() < bar.width()) {
    at.rx() += step;
    QTest::mouseMove(&bar, at);
  }
  QTest::mouseRelease(&bar, Qt::LeftButton, Qt::NoModifier, at);
}

}  // namespace ombrix::test
