#pragma once
// Helpers shared by the picture codecs; not part of the platform's interface.

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>

#include "Graphics.h"

namespace ombrix::codecs {

// Raises EInvalidGraphic("Invalid <format> file: ...") when width or height is not positive or
// the picture has more than kMaxPicturePixels pixels.
void CheckPictureSize(const char* format, int64_t width, int64_t height);

// Raises EInvalidGraphic("Invalid <format> file: <what>").
[[noreturn]] void Malformed(const char* format, const std::string& what);

// Raises EInvalidGraphic when the bitmap has no pixels: no file format holds an empty picture.
void RequirePicture(const TBitmap& bitmap, const char* format);

// Writes size bytes to out; EWriteError when the stream fails.
void WriteBytes(std::ostream& out, const void* data, std::size_t size);

}  // namespace ombrix::codecs
