#include "Sharpen.h"

#include "iwFilters.h"
#include "iwTransform.h"

namespace ombrix {

void SetUpSharpen(TImageWork& imageWork) {
  imageWork.SetFilterName("Unsharp Mask");
  imageWork.Transform()->SetResample(rsBicubic);
  imageWork.Transform()->Transformations().Add();
}

void SetSharpenRadius(TImageWork& imageWork, int position) {
  // The filter ignores radii of 0 and below by itself; the guard only keeps other filters,
  // which have no radius, out of reach.
  if (auto* gaussian = imageWork.FilterAs<TGaussianBaseFilter>()) {
    gaussian->SetRadius(static_cast<float>(position));
  }
}

TSharpenResult Sharpen(TImageWork& imageWork, TBitmap& view, int level) {
  if (level == 0) return srRepaintOnly;
  SetSharpenRadius(imageWork, level);
  // ApplyFilter leaves OutputBitmap with an earlier frame when the view has no pixels;
  // copying that would put a stale picture of another size where the view should be.
  if (!imageWork.ApplyFilter(&view)) return srRepaintOnly;
  // The view takes the output's block and the output the view's: no 3 MB copy a frame, and the
  // next frame's filter writes into a block of the right size it already has.
  view.Exchange(*imageWork.OutputBitmap());
  return srSharpened;
}

}  // namespace ombrix
