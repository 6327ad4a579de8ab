// Run with QT_SCALE_FACTOR=2: two device pixels to each logical pixel.

#include <gtest/gtest.h>

#include <QFrame>
#include <QImage>
#include <QPixmap>

#include "WindowTestSupport.h"

namespace ombrix::test {
namespace {

TEST(ScaledDisplay, ZoneCaptureAndViewAreInDevicePixels) {
  MemoryDesktop desktop(1600, 1000);
  Paint(desktop.Picture(), Where);
  auto form = OpenWindow(desktop, 200, 400, QPoint(30, 40));
  ASSERT_DOUBLE_EQ(form->devicePixelRatioF(), 2.0);
  EXPECT_EQ(form->windowTitle(), QString("Ombrix 400 x 800"));
  // The panel of 154 x 369 logical pixels takes 308 x 738 device pixels.
  EXPECT_EQ(form->MinTrackWidth(), 316);
  EXPECT_EQ(form->MinTrackHeight(), 768);

  RestCursor(desktop, *form, {1000, 600});
  ASSERT_EQ(form->CaptureBitmap().Width(), 400);
  ASSERT_EQ(form->CaptureBitmap().Height(), 800);
  EXPECT_EQ(DifferencesFromDesktop(form->CaptureBitmap(), desktop.Picture(), 800, 200), 0);
  EXPECT_EQ(form->windowTitle(), QString("Ombrix [400 x 800] - [X=1000 Y=600]"));

  // One bitmap pixel on each device pixel.
  const QImage shown = form->Image1->grab().toImage();
  ASSERT_EQ(shown.size(), QSize(400, 800));
  for (const QPoint p : {QPoint(0, 0), QPoint(1, 0), QPoint(399, 799), QPoint(201, 17)}) {
    const TColor c = PixelOf(form->Image1->Picture(), p.x(), p.y());
    EXPECT_EQ(shown.pixel(p) & 0xFFFFFF, ToRgb(c)) << p.x() << ", " << p.y();
  }

  // Forced over the window, the zone starts at the view's top-left in device pixels.
  const QPoint view = form->geometry().topLeft() * 2;
  form->SetForceCapture(true);
  desktop.SetCursor({100, 150});
  form->Timer1Timer();
  form->Timer1Timer();
  EXPECT_EQ(form->ZonePoint(), (TPoint{view.x(), view.y()}));
  EXPECT_EQ(DifferencesFromDesktop(form->CaptureBitmap(), desktop.Picture(), view.x(), view.y()),
            0);
}

}  // namespace
}  // namespace ombrix::test
