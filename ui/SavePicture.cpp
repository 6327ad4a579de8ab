#include "SavePicture.h"

#include "Codecs.h"

namespace ombrix {

TSaveDialog::TSaveDialog(QWidget* parent) : parent_(parent) {}

std::optional<std::string> TSaveDialog::Execute() {
  return std::nullopt;
}

void SavePictureToFile(const TBitmap& picture, const std::string& fileName) {
  WritePictureFile(picture, fileName, ffBmp);
}

void SaveAsJpeg(const TBitmap& picture, const std::string& fileName) {
  WritePictureFile(picture, fileName, ffJpeg);
}

}  // namespace ombrix
