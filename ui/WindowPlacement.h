#pragma once
// Where a window stands: on the screen, in or out of the stay-on-top layer, and over the window
// it belongs to. GUI thread only.

#include <QPoint>
#include <QRect>

class QWidget;

namespace ombrix {

// Centres `window` on the available area of its screen; nothing without a screen.
void CentreOnScreen(QWidget& window);

// Puts `window` into the stay-on-top layer or takes it out, without re-creating its native
// window (which a change through setWindowFlags would do, with a new id and a flicker).
void SetStayOnTop(QWidget& window, bool onTop);

// Makes the not yet shown, parentless `window` belong to `owner` as a dialog does: the window
// manager keeps it above its owner, also when the owner is raised or activated, and in the
// owner's stay-on-top layer. Neither window takes over the other's lifetime.
void SetOwner(QWidget& window, QWidget& owner);

// The window of ours that a new dialog belongs over: the modal window in front, else the active
// window, else a shown stay-on-top window of ours; null when none of ours is shown.
QWidget* DialogOwner();

// Readies the not yet shown dialog `dialog` to come up above every window of ours: into the
// stay-on-top layer while any shown window of ours stays on top, which no window of that layer
// can then cover. (Its parent makes it transient for that window already.)
void KeepAboveOwnWindows(QWidget& dialog);

// The outer top-left corner for a window whose outer rectangle at its design place is `design`,
// beside the outer rectangle `owner` of the window it belongs to, within `monitor` (the
// available area of the owner's monitor): the design place when the two do not meet; otherwise
// right of the owner when the monitor has room there, else left of it, else on the side with
// more room; at the design height, moved into the monitor where it reaches past it.
QPoint PlaceBeside(const QRect& design, const QRect& owner, const QRect& monitor);

// Moves `window`, given an owner by SetOwner and not yet shown, to PlaceBeside for its current
// place and its owner, counting the frame that the window manager gives its owner; nothing when
// it has no shown owner.
void PlaceBesideOwner(QWidget& window);

}  // namespace ombrix
