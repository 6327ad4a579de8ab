// JPEG files through libjpeg(-turbo)'s libjpeg API.
//
// libjpeg's default error handler prints and calls exit(). Ours records the message number and
// jumps back to the setjmp in one of the small functions below, which hold no C++ objects with
// destructors; the libjpeg objects and buffers live in owners one frame up, which release them
// whatever happened. A decoding warning (corrupt or missing data, which libjpeg would quietly
// patch with grey) counts as an error: a damaged file must not pass for a picture.

#include <cstdio>  // jpeglib.h needs FILE and size_t declared first
#include <cstdlib>

#include <jpeglib.h>

#include <climits>
#include <csetjmp>
#include <cstring>
#include <ostream>
#include <vector>

#include "Codecs.h"
#include "CodecsPrivate.h"

namespace ombrix {

namespace {

constexpr const char* kJpeg = "JPEG";

struct JpegErrorManager {
  jpeg_error_mgr manager;  // first member: libjpeg sees only this part
  std::jmp_buf jump;
  int code;
};

[[noreturn]] void JpegErrorExit(j_common_ptr info) {
  auto* errors = reinterpret_cast<JpegErrorManager*>(info->err);
  errors->code = info->err->msg_code;
  std::longjmp(errors->jump, 1);
}

// Level -1 is a warning about damaged data; levels from 0 up are traces.
void JpegEmitMessage(j_common_ptr info, int level) {
  if (level < 0 && info->is_decompressor) JpegErrorExit(info);
}

void JpegOutputMessage(j_common_ptr) {}

void InstallErrorManager(JpegErrorManager& errors) {
  jpeg_std_error(&errors.manager);
  errors.manager.error_exit = JpegErrorExit;
  errors.manager.emit_message = JpegEmitMessage;
  errors.manager.output_message = JpegOutputMessage;
  errors.code = 0;
}

// Owns a decompression object. Zeroed first, so destroying it is safe even when creation
// failed half-way.
class JpegDecompressor {
 public:
  JpegDecompressor() {
    std::memset(&info_, 0, sizeof info_);
    InstallErrorManager(errors_);
    info_.err = &errors_.manager;
  }
  ~JpegDecompressor() { jpeg_destroy_decompress(&info_); }
  JpegDecompressor(const JpegDecompressor&) = delete;
  JpegDecompressor& operator=(const JpegDecompressor&) = delete;
  jpeg_decompress_struct* Info() { return &info_; }
  JpegErrorManager* Errors() { return &errors_; }

 private:
  jpeg_decompress_struct info_;
  JpegErrorManager errors_;
};

// Owns a compression object and the memory libjpeg encodes into.
class JpegCompressor {
 public:
  JpegCompressor() {
    std::memset(&info_, 0, sizeof info_);
    InstallErrorManager(errors_);
    info_.err = &errors_.manager;
  }
  ~JpegCompressor() {
    jpeg_destroy_compress(&info_);
    std::free(buffer_);  // malloc'ed by libjpeg's memory destination
  }
  JpegCompressor(const JpegCompressor&) = delete;
  JpegCompressor& operator=(const JpegCompressor&) = delete;
  jpeg_compress_struct* Info() { return &info_; }
  JpegErrorManager* Errors() { return &errors_; }
  unsigned char** Buffer() { return &buffer_; }
  unsigned long* BufferSize() { return &bufferSize_; }

 private:
  jpeg_compress_struct info_;
  JpegErrorManager errors_;
  unsigned char* buffer_ = nullptr;
  unsigned long bufferSize_ = 0;
};

struct JpegLayout {
  JDIMENSION width = 0;
  JDIMENSION height = 0;
  J_COLOR_SPACE colorSpace = JCS_UNKNOWN;
  int components = 0;
};

// Reads the header. False on a libjpeg error (its number in errors->code).
bool ReadJpegHeader(JpegDecompressor* jpeg, const uint8_t* data, unsigned long size,
                    JpegLayout* layout) {
  if (setjmp(jpeg->Errors()->jump)) return false;
  jpeg_decompress_struct* info = jpeg->Info();
  jpeg_create_decompress(info);
  jpeg_mem_src(info, data, size);
  jpeg_read_header(info, TRUE);
  layout->width = info->image_width;
  layout->height = info->image_height;
  layout->colorSpace = info->jpeg_color_space;
  layout->components = info->num_components;
  return true;
}

// Decodes every row, top first, as blue, green, red. False on a libjpeg error.
bool ReadJpegRows(JpegDecompressor* jpeg, JSAMPROW* rows) {
  if (setjmp(jpeg->Errors()->jump)) return false;
  jpeg_decompress_struct* info = jpeg->Info();
  info->out_color_space = JCS_EXT_BGR;  // libjpeg-turbo converts grey and YCbCr alike
  jpeg_start_decompress(info);
  while (info->output_scanline < info->output_height) {
    jpeg_read_scanlines(info, rows + info->output_scanline,
                        info->output_height - info->output_scanline);
  }
  jpeg_finish_decompress(info);
  return true;
}

bool WriteJpegData(JpegCompressor* jpeg, JDIMENSION width, JDIMENSION height, bool fourBytes,
                   JSAMPROW* rows) {
  if (setjmp(jpeg->Errors()->jump)) return false;
  jpeg_compress_struct* info = jpeg->Info();
  jpeg_create_compress(info);
  jpeg_mem_dest(info, jpeg->Buffer(), jpeg->BufferSize());
  info->image_width = width;
  info->image_height = height;
  info->input_components = fourBytes ? 4 : 3;
  info->in_color_space = fourBytes ? JCS_EXT_BGRX : JCS_EXT_BGR;
  jpeg_set_defaults(info);
  jpeg_set_quality(info, 100, TRUE);
  jpeg_start_compress(info, TRUE);
  while (info->next_scanline < info->image_height) {
    jpeg_write_scanlines(info, rows + info->next_scanline,
                         info->image_height - info->next_scanline);
  }
  jpeg_finish_compress(info);
  return true;
}

}  // namespace

std::unique_ptr<TBitmap> DecodeJpeg(const uint8_t* data, std::size_t size) {
  static const uint8_t kNothing = 0;
  if (data == nullptr) {
    data = &kNothing;
    size = 0;
  }
  if (size > ULONG_MAX) codecs::Malformed(kJpeg, "file too large");
  JpegDecompressor jpeg;
  JpegLayout layout;
  if (!ReadJpegHeader(&jpeg, data, static_cast<unsigned long>(size), &layout)) {
    throw EJPEG(jpeg.Errors()->code);
  }
  if (layout.colorSpace != JCS_GRAYSCALE && layout.colorSpace != JCS_YCbCr &&
      layout.colorSpace != JCS_RGB) {
    codecs::Malformed(kJpeg, "colour space with " + std::to_string(layout.components) +
                                 " components (only grey and colour are supported)");
  }
  codecs::CheckPictureSize(kJpeg, layout.width, layout.height);

  const int width = static_cast<int>(layout.width);
  const int height = static_cast<int>(layout.height);
  auto bitmap = std::make_unique<TBitmap>(width, height, pf24bit);
  std::vector<JSAMPROW> rows(static_cast<std::size_t>(height));
  for (int r = 0; r < height; ++r) rows[static_cast<std::size_t>(r)] = bitmap->ScanLine(r);
  if (!ReadJpegRows(&jpeg, rows.data())) throw EJPEG(jpeg.Errors()->code);
  return bitmap;
}

void WriteJpeg(const TBitmap& bitmap, std::ostream& out) {
  codecs::RequirePicture(bitmap, kJpeg);
  // libjpeg reads the rows and never writes them.
  std::vector<JSAMPROW> rows(static_cast<std::size_t>(bitmap.Height()));
  for (int r = 0; r < bitmap.Height(); ++r) {
    rows[static_cast<std::size_t>(r)] = const_cast<JSAMPROW>(bitmap.ScanLine(r));
  }
  JpegCompressor jpeg;
  if (!WriteJpegData(&jpeg, static_cast<JDIMENSION>(bitmap.Width()),
                     static_cast<JDIMENSION>(bitmap.Height()), bitmap.PixelFormat() == pf32bit,
                     rows.data())) {
    throw EJPEG(jpeg.Errors()->code);
  }
  codecs::WriteBytes(out, *jpeg.Buffer(), *jpeg.BufferSize());
}

}  // namespace ombrix
