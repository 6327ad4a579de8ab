#include "WindowPlacement.h"

#include <QScreen>
#include <QWidget>
#include <QWindow>

namespace ombrix {

void CentreOnScreen(QWidget& window) {
  if (const QScreen* screen = window.screen()) {
    window.move(screen->availableGeometry().center() -
                QPoint(window.width() / 2, window.height() / 2));
  }
}

void SetStayOnTop(QWidget& window, bool onTop) {
  Qt::WindowFlags flags = window.windowFlags();
  flags.setFlag(Qt::WindowStaysOnTopHint, onTop);
  if (flags == window.windowFlags()) return;
  window.overrideWindowFlags(flags);
  if (QWindow* native = window.windowHandle()) native->setFlags(flags);
}

}  // namespace ombrix
