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

#include <algorithm>
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
  char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void JpegErrorExit(j_common_ptr info) {
  auto* errors = reinterpret_cast<JpegErrorManager*>(info->err);
  errors->code = info->err->msg_code;
  (*info->err->format_message)(info, errors->message);
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
  errors.message[0] = '\0';
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
  [[noreturn]] void Fail() { throw EJPEG(errors_.code, errors_.message); }

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
  [[noreturn]] void Fail() { throw EJPEG(errors_.code, errors_.message); }
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
  bool adobe = false;  // an Adobe marker: CMYK samples are stored inverted
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
  layout->adobe = info->saw_Adobe_marker != 0;
  return true;
}

// Starts decoding into space (libjpeg-turbo converts grey, YCbCr and YCCK itself). False on a
// libjpeg error.
bool StartJpegRows(JpegDecompressor* jpeg, J_COLOR_SPACE space) {
  if (setjmp(jpeg->Errors()->jump)) return false;
  jpeg->Info()->out_color_space = space;
  jpeg_start_decompress(jpeg->Info());
  return true;
}

// Decodes up to count rows into rows; the number decoded, or -1 on a libjpeg error.
long ReadJpegRows(JpegDecompressor* jpeg, JSAMPROW* rows, JDIMENSION count) {
  if (setjmp(jpeg->Errors()->jump)) return -1;
  return static_cast<long>(jpeg_read_scanlines(jpeg->Info(), rows, count));
}

bool FinishJpegRows(JpegDecompressor* jpeg) {
  if (setjmp(jpeg->Errors()->jump)) return false;
  jpeg_finish_decompress(jpeg->Info());
  return true;
}

// (a x b) / 255, rounded: the share of light two inks let through.
uint8_t Through(unsigned a, unsigned b) {
  return static_cast<uint8_t>((a * b + 127) / 255);
}

// One row of decoded samples to blue, green, red.
void ToBgr(const uint8_t* from, uint8_t* to, std::size_t width, bool cmyk, bool inverted) {
  if (!cmyk) {
    std::memcpy(to, from, width * 3);
    return;
  }
  for (std::size_t x = 0; x < width; ++x, from += 4, to += 3) {
    // Adobe's writers store 255 for no ink; everyone else stores the ink itself.
    const auto light = [inverted](uint8_t v) { return inverted ? v : 255u - v; };
    const unsigned k = light(from[3]);
    to[0] = Through(light(from[2]), k);
    to[1] = Through(light(from[1]), k);
    to[2] = Through(light(from[0]), k);
  }
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
  if (!ReadJpegHeader(&jpeg, data, static_cast<unsigned long>(size), &layout)) jpeg.Fail();
  const bool cmyk = layout.colorSpace == JCS_CMYK || layout.colorSpace == JCS_YCCK;
  if (layout.colorSpace != JCS_GRAYSCALE && layout.colorSpace != JCS_YCbCr &&
      layout.colorSpace != JCS_RGB && !cmyk) {
    codecs::Malformed(kJpeg, "colour space with " + std::to_string(layout.components) +
                                 " components (only grey, colour and CMYK are supported)");
  }
  codecs::CheckPictureSize(kJpeg, layout.width, layout.height);
  if (!StartJpegRows(&jpeg, cmyk ? JCS_CMYK : JCS_EXT_BGR)) jpeg.Fail();

  // A header may claim far more rows than the data holds: memory is taken as rows really
  // arrive, in bands of about a megabyte, and the picture is made only once all are there.
  const std::size_t width = layout.width;
  const std::size_t sampleBytes = width * (cmyk ? 4 : 3);
  const std::size_t bandRows = std::max<std::size_t>(1, (std::size_t{1} << 20) / sampleBytes);
  std::vector<std::vector<uint8_t>> bands;
  std::vector<JSAMPROW> rows;
  for (std::size_t done = 0; done < layout.height;) {
    const std::size_t count = std::min<std::size_t>(bandRows, layout.height - done);
    std::vector<uint8_t>& band = bands.emplace_back(count * sampleBytes);
    rows.resize(count);
    for (std::size_t r = 0; r < count; ++r) rows[r] = band.data() + r * sampleBytes;
    for (std::size_t got = 0; got < count;) {
      const long read =
          ReadJpegRows(&jpeg, rows.data() + got, static_cast<JDIMENSION>(count - got));
      if (read < 0) jpeg.Fail();
      if (read == 0) codecs::Malformed(kJpeg, "the decoder stopped before the last row");
      got += static_cast<std::size_t>(read);
    }
    done += count;
  }
  if (!FinishJpegRows(&jpeg)) jpeg.Fail();

  auto bitmap = std::make_unique<TBitmap>(static_cast<int>(layout.width),
                                          static_cast<int>(layout.height), pf24bit);
  int row = 0;
  for (std::vector<uint8_t>& band : bands) {
    for (std::size_t at = 0; at < band.size(); at += sampleBytes) {
      ToBgr(band.data() + at, bitmap->ScanLine(row++), width, cmyk, layout.adobe);
    }
    std::vector<uint8_t>().swap(band);
  }
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
    jpeg.Fail();
  }
  codecs::WriteBytes(out, *jpeg.Buffer(), *jpeg.BufferSize());
}

}  // namespace ombrix
