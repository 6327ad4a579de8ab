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
#include "PictureTestSupport.h"
#include "uZoom.h"

namespace ombrix::test {

// An interval long enough that the window's own timer never ticks during a test, while the
// picture still counts as running (not frozen).
inline constexpr int kRunningButIdle = 3600 * 1000;

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
