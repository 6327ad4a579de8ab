#pragma once
// The sharpen stage: the unsharp mask of the processing component run over the view after the
// zoom, with a strength of 0 (off) to 5. Runs on the GUI thread.

#include <cstdint>

#include "Graphics.h"
#include "iwProcess.h"

namespace ombrix {

// Prepares the window's processing component for the stage: selects the "Unsharp Mask"
// filter (radius 1.0), sets the transform's Resample to rsBicubic and adds one transformation
// with its defaults (a rotation by 0, so the matrix stays the identity).
// Raises EOutOfMemory when the filter or the transformation cannot be had.
void SetUpSharpen(TImageWork& imageWork);

// What Sharpen did to the view; the caller shows the view afterwards in either case.
enum TSharpenResult : uint8_t {
  // The view holds the picture the zoom drew; it only needs repainting.
  srRepaintOnly,
  // The view was replaced by the sharpened picture.
  srSharpened,
};

// Sharpens `view` with strength `level`. Level 0 touches nothing (the filter does not run) and
// returns srRepaintOnly. Any other level becomes the radius of the component's filter when that
// filter is a TGaussianBaseFilter (a level below 1 leaves the radius as it is, and writing the
// radius it already has does not rebuild the kernel); the filter then runs over `view`, and
// `view` and the component's OutputBitmap trade pictures: `view` holds the filter's output
// (32 bits per pixel), OutputBitmap the picture it was made from. The filter writes blue, green
// and red only: the fourth bytes of `view` are those the output block held, 0 as long as only
// the stages wrote the views (every drawn pixel of the zoom gets a 0 there).
// A view that yields no pixels is left as it is and srRepaintOnly is returned: the output of
// an earlier frame must never stand in for it.
// An error of the filter (EDivByZero, EOutOfMemory) propagates before `view` is touched, so
// the view keeps the zoom's picture.
TSharpenResult Sharpen(TImageWork& imageWork, TBitmap& view, int level);

// The effect of releasing the strength bar's thumb at `position`: the filter's radius becomes
// `position`, so that the kernel is ready before the next frame. A position of 0 or below
// leaves the radius as it is; a filter that is not a TGaussianBaseFilter is left alone.
void SetSharpenRadius(TImageWork& imageWork, int position);

}  // namespace ombrix
