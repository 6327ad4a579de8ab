#include "HalfExchange.h"

#include "PlgBlt.h"

namespace ombrix {

void HalfExchange(TBitmap& capture) {
  const int w = capture.Width();
  const int h = capture.Height();
  const int m = w / 2;
  if (m <= 0 || h <= 0) return;

  // The left half is parked in a bitmap of its own because the right half overwrites it
  // before it can be moved; the local bitmap goes away on every path out, errors included.
  TBitmap left(m, h, pf32bit);
  const TPoint toOrigin[3] = {{0, 0}, {m, 0}, {0, h}};
  PlgBlt(left, toOrigin, ViewOf(capture), 0, 0, m, h);
  PlgBlt(capture, toOrigin, ViewOf(capture), m, 0, m, h);
  const TPoint toRight[3] = {{m, 0}, {w, 0}, {m, h}};
  PlgBlt(capture, toRight, ViewOf(left), 0, 0, m, h);
}

}  // namespace ombrix
