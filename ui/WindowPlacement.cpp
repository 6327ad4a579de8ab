#include "WindowPlacement.h"

#include <QApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <algorithm>

namespace ombrix {
namespace {

bool StaysOnTop(const QWidget& window) {
  return window.isVisible() && window.windowFlags().testFlag(Qt::WindowStaysOnTopHint);
}

// An ordinary window of ours, not a menu, tooltip or the like that a dialog never belongs to.
bool OwnsDialogs(const QWidget& window) {
  const Qt::WindowType type = window.windowType();
  return window.isVisible() && (type == Qt::Window || type == Qt::Dialog);
}

}  // namespace

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

void SetOwner(QWidget& window, QWidget& owner) {
  // The X11 platform writes WM_TRANSIENT_FOR, which window managers stack by, for dialog-type
  // windows only. Set before the native window exists, the type costs no re-creation.
  if (window.windowType() == Qt::Window) {
    window.overrideWindowFlags((window.windowFlags() & ~Qt::WindowType_Mask) | Qt::Dialog);
  }
  // A QWidget parent would own the window; the native windows' link does not.
  window.winId();
  owner.winId();
  window.windowHandle()->setTransientParent(owner.windowHandle());
}

QWidget* DialogOwner() {
  if (QWidget* modal = QApplication::activeModalWidget()) return modal;
  if (QWidget* active = QApplication::activeWindow()) return active;
  const QWidgetList windows = QApplication::topLevelWidgets();
  const auto onTop = std::find_if(windows.begin(), windows.end(), [](const QWidget* window) {
    return OwnsDialogs(*window) && StaysOnTop(*window);
  });
  if (onTop != windows.end()) return *onTop;
  const auto shown = std::find_if(windows.begin(), windows.end(),
                                  [](const QWidget* window) { return OwnsDialogs(*window); });
  return shown != windows.end() ? *shown : nullptr;
}

void KeepAboveOwnWindows(QWidget& dialog) {
  const QWidgetList windows = QApplication::topLevelWidgets();
  if (std::any_of(windows.begin(), windows.end(), [&dialog](const QWidget* window) {
        return window != &dialog && StaysOnTop(*window);
      })) {
    dialog.setWindowFlag(Qt::WindowStaysOnTopHint);
  }
}

QPoint PlaceBeside(const QRect& design, const QRect& owner, const QRect& monitor) {
  if (!design.intersects(owner)) return design.topLeft();
  const int roomRight = monitor.x() + monitor.width() - (owner.x() + owner.width());
  const int roomLeft = owner.x() - monitor.x();
  int x = 0;
  if (roomRight >= design.width()) {
    x = owner.x() + owner.width();
  } else if (roomLeft >= design.width()) {
    x = owner.x() - design.width();
  } else if (roomRight >= roomLeft) {
    x = monitor.x() + monitor.width() - design.width();
  } else {
    x = monitor.x();
  }
  const int lowest = monitor.y() + monitor.height() - design.height();
  const int y = std::max(monitor.y(), std::min(design.y(), lowest));
  return {x, y};
}

void PlaceBesideOwner(QWidget& window) {
  const QWindow* native = window.windowHandle();
  const QWindow* owner = native != nullptr ? native->transientParent() : nullptr;
  if (owner == nullptr || !owner->isVisible()) return;
  const QRect ownerRect = owner->frameGeometry();
  const QScreen* screen = QGuiApplication::screenAt(ownerRect.center());
  if (screen == nullptr) screen = owner->screen();
  if (screen == nullptr) return;
  // The window manager frames this window as it framed its owner. Until the window has been
  // shown, Qt knows only its inside, and places a created window by its inside.
  const QMargins frame = owner->frameMargins();
  const QRect design(window.pos(), window.size().grownBy(frame));
  window.move(PlaceBeside(design, ownerRect, screen->availableGeometry()) +
              QPoint(frame.left(), frame.top()));
}

}  // namespace ombrix
