#include "SavePicture.h"

#include <QFile>
#include <QFileDialog>
#include <QStringList>

#include "Codecs.h"

namespace ombrix {

TSaveDialog::TSaveDialog(QWidget* parent) : parent_(parent) {}

std::optional<std::string> TSaveDialog::Execute() {
  // A new dialog each time: nothing of an earlier use (filter, typed name) carries over.
  QFileDialog dialog(parent_);
  // Above the stay-on-top windows it is opened from.
  dialog.setWindowFlag(Qt::WindowStaysOnTopHint);
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setWindowTitle(QStringLiteral("Enregistrer "));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setDefaultSuffix(QStringLiteral("BMP"));
  const QStringList filters{QStringLiteral("JPEG *.jpg (*.jpg)"),
                            QStringLiteral("Bitmap *.bmp (*.bmp)"),
                            QStringLiteral("PNG *.png (*.png)"), QStringLiteral("All Files (*)")};
  dialog.setNameFilters(filters);
  dialog.selectNameFilter(filters.front());
  dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
  dialog.setSizeGripEnabled(true);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty()) return std::nullopt;
  // The name as the file system spells it, whatever the locale's encoding.
  return QFile::encodeName(chosen.front()).toStdString();
}

void SavePictureToFile(const TBitmap& picture, const std::string& fileName) {
  const TFileFormat format = FileFormatOfName(fileName, ffBmp);
  if (format == ffJpeg) {
    SaveAsJpeg(picture, fileName);
  } else {
    WritePictureFile(picture, fileName, format);
  }
}

void SaveAsJpeg(const TBitmap& picture, const std::string& fileName) {
  WritePictureFile(picture, fileName, ffJpeg);
}

}  // namespace ombrix
