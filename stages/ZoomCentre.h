#pragma once
// Where in the capture bitmap the zoom enlarges about and the cross-line stands. Near the
// desktop's edge the zone is shifted to stay on the desktop, so the cursor is no longer in
// its middle; enlarging the middle would then show a place away from the cursor. Both centre
// on the cursor's pixel instead, found where the graphic operation (copy, mirror, turn) put
// it. Pure computation; any thread.

#include "Graphics.h"

namespace ombrix {

// The capture pixel that holds the cursor's pixel, for the zoom's centre and the cross-line.
// `points` are the graphic operation's destination corners (the zone's top-left, top-right
// and bottom-left corners in the capture bitmap, as PlgBlt takes them) for a zone and capture
// of w x h pixels; `cursor` is the cursor's pixel in the zone, from its top-left corner.
// On each axis of the capture: when the zone axis that lands on it has the cursor in its
// middle (w div 2, or h div 2: the zone was not shifted that way), the capture's middle on
// that axis, so that an unshifted zone is drawn exactly as about the view's centre; otherwise
// the pixel under the image of the cursor pixel's centre, clamped into the capture.
// Degenerate points or an empty size give the middle (w div 2, h div 2).
TPoint ZoomCentre(const TPoint (&points)[3], int w, int h, TPoint cursor);

}  // namespace ombrix
