#pragma once
// Where a window stands: on the screen, and in or out of the stay-on-top layer. GUI thread only.

class QWidget;

namespace ombrix {

// Centres `window` on the available area of its screen; nothing without a screen.
void CentreOnScreen(QWidget& window);

// Puts `window` into the stay-on-top layer or takes it out, without re-creating its native
// window (which a change through setWindowFlags would do, with a new id and a flicker).
void SetStayOnTop(QWidget& window, bool onTop);

}  // namespace ombrix
