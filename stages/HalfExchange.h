#pragma once
// The stereo half exchange ("X" of the 3D operations): the two halves of a side-by-side pair
// change places so that a cross-eyed pair can be viewed parallel and the other way round.
// Runs on the GUI thread.

#include "Graphics.h"

namespace ombrix {

// Exchanges the left and right halves of `capture` in place, each half unchanged in itself.
// With W = capture.Width() and M = W div 2, the columns M .. 2M - 1 end up at 0 .. M - 1 and the
// columns 0 .. M - 1 at M .. W - 1. The frame cycle always passes an even width; with an odd
// width the old left half is stretched over the M + 1 right-hand columns. A picture narrower
// than 2 pixels or without rows is left as it is.
// Precondition: capture.PixelFormat() == pf32bit.
// Raises EOutOfMemory when the temporary half cannot be had; `capture` is then unchanged.
void HalfExchange(TBitmap& capture);

}  // namespace ombrix
