// The save dialog on a real X server with a window manager, driven from the keyboard through
// xdotool as a user would: type a name, press Enter, and the picture is in that file.
// Skipped when no display is set.

#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QProcess>
#include <QTimer>
#include <QWindow>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "../TestFiles.h"
#include "Codecs.h"
#include "SavePicture.h"

namespace ombrix {
namespace {

namespace fs = std::filesystem;

TEST(SaveDialogX11, TypedNameAndEnterSaveThePictureUnderTheDefaultExtension) {
  const char* display = std::getenv("OMBRIX_X11_DISPLAY");
  if (display == nullptr || *display == '\0' || QGuiApplication::platformName() != "xcb") {
    GTEST_SKIP() << "OMBRIX_X11_DISPLAY is not set";
  }
  testing_files::TempDir dir;

  QProcess keyboard;
  QTimer poll;
  bool typed = false;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (typed || dialog == nullptr || dialog->windowHandle() == nullptr ||
        !dialog->windowHandle()->isExposed()) {
      return;
    }
    typed = true;
    // Where the dialog opens is the platform's choice (Qt's open where an earlier one of the
    // process was left): the user goes to the test's folder first.
    dialog->setDirectory(QString::fromStdString(dir.Path().string()));
    // Asynchronous: the window manager hands the focus over through the dialog itself.
    const QString id = QString::number(dialog->windowHandle()->winId());
    keyboard.start("sh", {"-c", "xdotool windowactivate --sync " + id +
                                    " && xdotool type --delay 20 shot && xdotool key Return"});
  });
  poll.start(10);
  // Whatever goes wrong, the dialog does not outlive the test.
  QTimer::singleShot(20000, [] {
    if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget()))
      dialog->reject();
  });

  TSaveDialog saveDialog(nullptr);
  const std::optional<std::string> chosen = saveDialog.Execute();
  poll.stop();
  keyboard.waitForFinished(5000);

  ASSERT_TRUE(typed) << "the dialog never showed";
  ASSERT_EQ(chosen, (dir / "shot.BMP").string());
  TBitmap view(9, 7);
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 9; ++x) view.Canvas().SetPixel(x, y, static_cast<TColor>(x * 28 | y << 12));
  SavePictureToFile(view, *chosen);
  const auto saved = LoadPictureFromFile(*chosen);
  ASSERT_EQ(saved->PixelFormat(), pf32bit);
  ASSERT_EQ(saved->Width(), 9);
  ASSERT_EQ(saved->Height(), 7);
  for (int y = 0; y < 7; ++y) EXPECT_EQ(std::memcmp(saved->ScanLine(y), view.ScanLine(y), 36), 0);
}

}  // namespace
}  // namespace ombrix
