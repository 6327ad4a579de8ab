#include "SavePicture.h"

#include <QFile>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QMimeDatabase>
#include <QStringList>

#include "Codecs.h"
#include "WindowPlacement.h"

namespace ombrix {
namespace {

// Icons and type names from what the file system says of an entry, never from its contents. The
// dialog asks for both for every entry it lists, also while a typed name is completed, and the
// default guesses the type by reading the file: a special file such as /proc/kmsg blocks that
// read, and with it the program, until the kernel has something to say.
class TNameOnlyIconProvider : public QFileIconProvider {
 public:
  QIcon icon(const QFileInfo& info) const override {
    return QFileIconProvider::icon(info.isDir() ? Folder : File);
  }
  QString type(const QFileInfo& info) const override {
    if (info.isDir()) return QStringLiteral("Folder");
    return QMimeDatabase().mimeTypeForFile(info, QMimeDatabase::MatchExtension).comment();
  }
};

}  // namespace

TSaveDialog::TSaveDialog(QWidget* parent) : parent_(parent) {}

std::optional<std::string> TSaveDialog::Execute() {
  TNameOnlyIconProvider icons;
  // A new dialog each time: nothing of an earlier use (filter, typed name) carries over.
  QFileDialog dialog(parent_);
  dialog.setIconProvider(&icons);
  // Above the stay-on-top windows it is opened from.
  KeepAboveOwnWindows(dialog);
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
