#pragma once
// The fonts the windows are designed with, as pixel heights: the toolkit's sans serif at 11 px
// for every window, larger or smaller faces for single controls. GUI thread only.

class QWidget;

namespace ombrix {

// A sans serif face of `pixelHeight` pixels, preferring an Arial-like face when `arialLike`.
void SetSansFont(QWidget& widget, int pixelHeight, bool arialLike = false);

// The windows' own font: sans serif, 11 px; children inherit it.
inline void SetFormFont(QWidget& window) {
  SetSansFont(window, 11);
}

}  // namespace ombrix
