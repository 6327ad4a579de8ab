#include "Invert.h"

#include <cstddef>
#include <cstdint>

namespace ombrix {

void InvertColours(TBitmap& view) {
  if (view.Empty()) return;
  const auto step = static_cast<std::size_t>(BytesPerPixel(view.PixelFormat()));
  const std::size_t bytes = static_cast<std::size_t>(view.Width()) * step;
  for (int y = 0; y < view.Height(); ++y) {
    uint8_t* row = view.ScanLine(y);
    for (std::size_t i = 0; i < bytes; i += step) {
      row[i] = static_cast<uint8_t>(255 - row[i]);
      row[i + 1] = static_cast<uint8_t>(255 - row[i + 1]);
      row[i + 2] = static_cast<uint8_t>(255 - row[i + 2]);
    }
  }
}

}  // namespace ombrix
