#include "FormFonts.h"

#include <QFont>
#include <QStringList>
#include <QWidget>

namespace ombrix {

void SetSansFont(QWidget& widget, int pixelHeight, bool arialLike) {
  QFont font = widget.font();
  font.setStyleHint(QFont::SansSerif);
  if (arialLike) {
    font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("Nimbus Sans"), QStringLiteral("DejaVu Sans")});
  } else {
    font.setFamilies({QStringLiteral("Sans Serif"), QStringLiteral("DejaVu Sans")});
  }
  font.setPixelSize(pixelHeight);
  widget.setFont(font);
}

}  // namespace ombrix
