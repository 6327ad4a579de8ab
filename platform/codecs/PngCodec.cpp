// PNG files through libpng.
//
// libpng reports errors by calling our error function, which must not return; it jumps back to
// the setjmp in one of the small functions below. Those functions hold no C++ objects with
// destructors, so the jump skips nothing; the libpng structures live in an owner one frame up,
// which releases them whatever happened.

#include <png.h>

#include <csetjmp>
#include <cstring>
#include <ostream>
#include <vector>

#include "Codecs.h"
#include "CodecsPrivate.h"

namespace ombrix {

namespace {

constexpr const char* kPng = "PNG";

// What the error function leaves for the C++ side: libpng's message, and for writing whether
// the stream failed.
struct PngContext {
  const uint8_t* data = nullptr;
  std::size_t size = 0;
  std::size_t position = 0;
  std::ostream* out = nullptr;
  bool streamFailed = false;
  char message[200] = {};
};

[[noreturn]] void PngError(png_structp png, png_const_charp message) {
  auto* context = static_cast<PngContext*>(png_get_error_ptr(png));
  std::strncpy(context->message, message != nullptr ? message : "", sizeof context->message - 1);
  png_longjmp(png, 1);
}

// Warnings are about chunks libpng already skipped or repaired; they do not make the picture
// wrong and must not reach the terminal.
void PngWarning(png_structp, png_const_charp) {}

void PngRead(png_structp png, png_bytep into, std::size_t count) {
  auto* context = static_cast<PngContext*>(png_get_io_ptr(png));
  if (count > context->size - context->position) png_error(png, "file is truncated");
  std::memcpy(into, context->data + context->position, count);
  context->position += count;
}

void PngWrite(png_structp png, png_bytep data, std::size_t count) {
  auto* context = static_cast<PngContext*>(png_get_io_ptr(png));
  bool written = false;
  try {
    context->out->write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(count));
    written = static_cast<bool>(*context->out);
  } catch (...) {
    written = false;
  }
  // Outside the handler: the jump must not leave an exception half-handled.
  if (!written) {
    context->streamFailed = true;
    png_error(png, "stream write failed");
  }
}

void PngFlush(png_structp) {}

// Owns a libpng read or write structure and its info structure.
class PngOwner {
 public:
  PngOwner(bool reading, PngContext* context) : reading_(reading) {
    png_ = reading ? png_create_read_struct(PNG_LIBPNG_VER_STRING, context, PngError, PngWarning)
                   : png_create_write_struct(PNG_LIBPNG_VER_STRING, context, PngError, PngWarning);
    if (png_ != nullptr) info_ = png_create_info_struct(png_);
    if (png_ == nullptr || info_ == nullptr) {
      Release();
      throw EOutOfMemory();
    }
  }
  ~PngOwner() { Release(); }
  PngOwner(const PngOwner&) = delete;
  PngOwner& operator=(const PngOwner&) = delete;
  png_structp Png() const { return png_; }
  png_infop Info() const { return info_; }

 private:
  void Release() {
    if (png_ == nullptr) return;
    if (reading_) {
      png_destroy_read_struct(&png_, info_ != nullptr ? &info_ : nullptr, nullptr);
    } else {
      png_destroy_write_struct(&png_, info_ != nullptr ? &info_ : nullptr);
    }
    png_ = nullptr;
    info_ = nullptr;
  }

  bool reading_;
  png_structp png_ = nullptr;
  png_infop info_ = nullptr;
};

struct PngLayout {
  png_uint_32 width = 0;
  png_uint_32 height = 0;
  int fileChannels = 0;
  int fileBitDepth = 0;
  int channels = 0;  // after the conversions: 3 (BGR) or 4 (BGRA)
  std::size_t rowBytes = 0;
};

// Reads the header and sets up the conversion to 8-bit BGR(A). False on a libpng error.
bool ReadPngHeader(png_structp png, png_infop info, PngLayout* layout) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_info(png, info);
  layout->width = png_get_image_width(png, info);
  layout->height = png_get_image_height(png, info);
  layout->fileChannels = png_get_channels(png, info);
  layout->fileBitDepth = png_get_bit_depth(png, info);
  const int colorType = png_get_color_type(png, info);
  if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (colorType == PNG_COLOR_TYPE_GRAY && layout->fileBitDepth < 8) {
    png_set_expand_gray_1_2_4_to_8(png);
  }
  if (png_get_valid(png, info, PNG_INFO_tRNS) != 0) png_set_tRNS_to_alpha(png);
  if (layout->fileBitDepth == 16) png_set_scale_16(png);
  if ((colorType & PNG_COLOR_MASK_COLOR) == 0) png_set_gray_to_rgb(png);
  png_set_bgr(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  layout->channels = png_get_channels(png, info);
  layout->rowBytes = png_get_rowbytes(png, info);
  return true;
}

// Reads all rows and the chunks after them. False on a libpng error.
bool ReadPngRows(png_structp png, png_infop info, png_bytepp rows) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_image(png, rows);
  png_read_end(png, info);
  return true;
}

// True when most pixels repeat their left neighbour's colour, as on a screen of flat panels and
// text, rather than varying as in a photograph.
bool MostlyFlat(png_bytepp rows, png_uint_32 width, png_uint_32 height, bool fourBytes) {
  const std::size_t step = fourBytes ? 4 : 3;
  uint64_t repeated = 0;
  for (png_uint_32 r = 0; r < height; ++r) {
    const png_bytep row = rows[r];
    for (std::size_t i = step; i < std::size_t{width} * step; i += step) {
      repeated += row[i] == row[i - step] && row[i + 1] == row[i + 1 - step] &&
                  row[i + 2] == row[i + 2 - step];
    }
  }
  return 2 * repeated > uint64_t{width} * height;
}

bool WritePngFile(png_structp png, png_infop info, png_uint_32 width, png_uint_32 height,
                  bool fourBytes, png_bytepp rows) {
  if (setjmp(png_jmpbuf(png))) return false;
  // Chosen by measurement on 1024 x 768 pictures: a photograph whose rows are predicted from
  // the average of the left and upper neighbours and then only run-length and Huffman coded
  // (zlib's Z_RLE strategy) writes about six times faster than with libpng's adaptive filters
  // and full deflate, and comes out no larger; a screen of flat panels and text would come out
  // many times larger that way, and deflates quickly anyway, so it keeps libpng's defaults.
  if (!MostlyFlat(rows, width, height, fourBytes)) {
    constexpr int kRunLengthStrategy = 3;  // Z_RLE
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_AVG);
    png_set_compression_strategy(png, kRunLengthStrategy);
  }
  png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_set_bgr(png);
  if (fourBytes) png_set_filler(png, 0, PNG_FILLER_AFTER);
  png_write_image(png, rows);
  png_write_end(png, nullptr);
  return true;
}

}  // namespace

std::unique_ptr<TBitmap> DecodePng(const uint8_t* data, std::size_t size) {
  PngContext context;
  context.data = data;
  context.size = data != nullptr ? size : 0;
  PngOwner owner(true, &context);
  png_set_read_fn(owner.Png(), &context, PngRead);
  // libpng takes memory for a text or profile chunk at the size its length field claims,
  // before the data is there. We use none of them: they are skipped as they are read, in
  // small pieces, like chunks libpng does not know.
  static const png_byte kUnused[] =
      "bKGD\0cHRM\0eXIf\0gAMA\0hIST\0iCCP\0iTXt\0oFFs\0pCAL\0"
      "pHYs\0sBIT\0sCAL\0sPLT\0sRGB\0tEXt\0tIME\0zTXt";
  png_set_keep_unknown_chunks(owner.Png(), PNG_HANDLE_CHUNK_NEVER, nullptr, 0);
  png_set_keep_unknown_chunks(owner.Png(), PNG_HANDLE_CHUNK_NEVER, kUnused,
                              static_cast<int>(sizeof kUnused / 5));

  PngLayout layout;
  if (!ReadPngHeader(owner.Png(), owner.Info(), &layout)) {
    codecs::Malformed(kPng, context.message);
  }
  codecs::CheckPictureSize(kPng, layout.width, layout.height);
  // Deflate packs at most 1032 bytes into one, so the file bounds the picture data it can
  // hold: a larger claim is a forged or truncated header, refused before allocating for it.
  const uint64_t fileRowBytes =
      (uint64_t{layout.width} * static_cast<uint64_t>(layout.fileChannels * layout.fileBitDepth) +
       7) /
          8 +
      1;
  if (fileRowBytes * layout.height > uint64_t{1032} * context.size + 1024) {
    codecs::Malformed(kPng, "picture data too short for its size");
  }
  if ((layout.channels != 3 && layout.channels != 4) ||
      layout.rowBytes != std::size_t{layout.width} * static_cast<std::size_t>(layout.channels)) {
    codecs::Malformed(kPng, "unexpected sample layout");
  }

  const int width = static_cast<int>(layout.width);
  const int height = static_cast<int>(layout.height);
  auto bitmap = std::make_unique<TBitmap>(width, height, layout.channels == 4 ? pf32bit : pf24bit);
  std::vector<png_bytep> rows(static_cast<std::size_t>(height));
  for (int r = 0; r < height; ++r) rows[static_cast<std::size_t>(r)] = bitmap->ScanLine(r);
  if (!ReadPngRows(owner.Png(), owner.Info(), rows.data())) {
    codecs::Malformed(kPng, context.message);
  }
  return bitmap;
}

void WritePng(const TBitmap& bitmap, std::ostream& out) {
  codecs::RequirePicture(bitmap, kPng);
  PngContext context;
  context.out = &out;
  PngOwner owner(false, &context);
  png_set_write_fn(owner.Png(), &context, PngWrite, PngFlush);

  // libpng copies each row before converting it, so the bitmap is only read.
  std::vector<png_bytep> rows(static_cast<std::size_t>(bitmap.Height()));
  for (int r = 0; r < bitmap.Height(); ++r) {
    rows[static_cast<std::size_t>(r)] = const_cast<png_bytep>(bitmap.ScanLine(r));
  }
  if (!WritePngFile(owner.Png(), owner.Info(), static_cast<png_uint_32>(bitmap.Width()),
                    static_cast<png_uint_32>(bitmap.Height()), bitmap.PixelFormat() == pf32bit,
                    rows.data())) {
    if (context.streamFailed) throw EWriteError();
    throw EInvalidGraphic(std::string("Cannot write PNG: ") + context.message);
  }
}

}  // namespace ombrix
