#pragma once
// Saving the main window's picture: the save dialog of the command window and the two file
// writers it runs. GUI thread only.

#include <optional>
#include <string>

#include "Graphics.h"

class QWidget;

namespace ombrix {

// The command window's save dialog (SaveDialog1). Execute sets the dialog up afresh, shows it
// modally over `parent` and returns the chosen full file name, or nothing on a cancel.
class TSaveDialog {
 public:
  explicit TSaveDialog(QWidget* parent);
  std::optional<std::string> Execute();

 private:
  QWidget* parent_;
};

// Writes `picture` under `fileName`: JPEG for a ".jpg" name, BMP otherwise. Raises the file
// and encoder errors for the caller's guard to report; the picture is left as it was.
void SavePictureToFile(const TBitmap& picture, const std::string& fileName);
// Writes `picture` as a JPEG file (JFIF, baseline, quality 100).
void SaveAsJpeg(const TBitmap& picture, const std::string& fileName);

}  // namespace ombrix
