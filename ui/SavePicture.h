#pragma once
// Saving the main window's picture: the save dialog of the command window and the two file
// writers it runs. GUI thread only.

#include <optional>
#include <string>

#include "Graphics.h"

class QWidget;

namespace ombrix {

// The command window's save dialog (SaveDialog1). Execute sets the dialog up afresh (title
// "Enregistrer ", default extension "BMP" for a name typed without one, the JPEG, Bitmap, PNG
// and All Files filters with JPEG selected, a question before replacing a file, resizable), shows
// it modally over `parent` and returns the chosen full file name, or nothing on a cancel.
// The dialog is the toolkit's own widget dialog, the same on every desktop and fully usable
// from the keyboard.
class TSaveDialog {
 public:
  explicit TSaveDialog(QWidget* parent);
  std::optional<std::string> Execute();

 private:
  QWidget* parent_;
};

// Writes `picture` under `fileName`, in the format FileFormatOfName gives it, BMP otherwise:
// ".jpg" and ".jpeg" as JPEG (SaveAsJpeg), ".png" as PNG (8-bit RGB), any other name as BMP at
// the picture's own depth, always under the name as given. The file is written beside its place
// and then renamed over it, so a failure leaves an existing file as it was and nothing else
// behind. Raises EFCreateError ("Impossible de créer le fichier <name>") when the file cannot
// be created or put in place, EWriteError when writing fails, EJPEG for an encoder failure;
// the picture is left as it was.
void SavePictureToFile(const TBitmap& picture, const std::string& fileName);
// Writes `picture` as a JPEG file (JFIF, baseline, quality 100, libjpeg's default 2 x 2
// luminance sampling), with the same replacement and errors as SavePictureToFile.
void SaveAsJpeg(const TBitmap& picture, const std::string& fileName);

}  // namespace ombrix
