#include "Codecs.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "../TestFiles.h"

// Every byte this test program asks of operator new, so that a test can bound what a reader
// takes without depending on the machine's memory.
namespace {
std::atomic<std::size_t> allocatedBytes{0};
}  // namespace

// GCC sees the free below and the library's own operator new, not this replacement of it.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t size) {
  allocatedBytes += size;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}

namespace ombrix {
namespace {

namespace fs = std::filesystem;
using testing_files::ReadFile;
using testing_files::TempDir;

const uint8_t* Data(const std::string& s) {
  return reinterpret_cast<const uint8_t*>(s.data());
}

std::string Encode(const TBitmap& bitmap, TFileFormat format) {
  std::ostringstream out(std::ios::binary);
  WritePicture(bitmap, out, format);
  return out.str();
}

std::unique_ptr<TBitmap> Decode(const std::string& file) {
  return DecodePicture(Data(file), file.size());
}

// A picture of odd size with random bytes everywhere, the fourth byte included.
std::unique_ptr<TBitmap> RandomPicture(int width, int height, TPixelFormat format, unsigned seed) {
  auto bitmap = std::make_unique<TBitmap>(width, height, format);
  std::mt19937 random(seed);
  const std::size_t bytes =
      static_cast<std::size_t>(width) * static_cast<std::size_t>(BytesPerPixel(format));
  for (int r = 0; r < height; ++r) {
    for (std::size_t i = 0; i < bytes; ++i) bitmap->ScanLine(r)[i] = static_cast<uint8_t>(random());
  }
  return bitmap;
}

// 0x00BBGGRR of the pixel at column x, picture row y.
TColor PixelAt(const TBitmap& bitmap, int x, int y) {
  const uint8_t* p = bitmap.ScanLine(y) + x * BytesPerPixel(bitmap.PixelFormat());
  return static_cast<TColor>(p[2] | p[1] << 8 | p[0] << 16);
}

// The largest difference of any colour byte between two pictures of the same size; with
// `tile`, the pixels along the edges of tile x tile squares are left out.
int ColourDistance(const TBitmap& a, const TBitmap& b, int tile = 0) {
  EXPECT_EQ(a.Width(), b.Width());
  EXPECT_EQ(a.Height(), b.Height());
  const auto inside = [tile](int v) {
    return tile == 0 || (v % tile != 0 && v % tile != tile - 1);
  };
  int worst = 0;
  for (int y = 0; y < a.Height(); ++y) {
    for (int x = 0; x < a.Width(); ++x) {
      if (!inside(x) || !inside(y)) continue;
      const TColor ca = PixelAt(a, x, y);
      const TColor cb = PixelAt(b, x, y);
      for (int shift = 0; shift < 24; shift += 8) {
        worst = std::max(worst, std::abs(static_cast<int>((ca >> shift) & 255) -
                                         static_cast<int>((cb >> shift) & 255)));
      }
    }
  }
  return worst;
}

void PutU32(std::string& s, std::size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
}

// A BMP file as a writer might make it: headers with the given fields, then the pixel bytes.
struct BmpFields {
  int32_t width = 2;
  int32_t height = 2;
  uint16_t bitCount = 24;
  uint32_t compression = 0;
  uint32_t infoBytes = 40;
  int64_t pixelOffset = -1;          // -1: right after the info header (and the masks)
  std::vector<uint32_t> masks = {};  // red, green, blue[, alpha]: in the header from V2 on
};

std::string MakeBmp(const BmpFields& f, const std::string& pixels) {
  std::string file(14 + std::max<uint32_t>(f.infoBytes, 40), '\0');
  // After a 40-byte header the masks follow it; larger headers hold them.
  const bool masksAfter = f.infoBytes < 52 && !f.masks.empty();
  file[0] = 'B';
  file[1] = 'M';
  PutU32(file, 10,
         static_cast<uint32_t>(f.pixelOffset >= 0
                                   ? f.pixelOffset
                                   : int64_t{14} + f.infoBytes + (masksAfter ? 12 : 0)));
  PutU32(file, 14, f.infoBytes);
  PutU32(file, 18, static_cast<uint32_t>(f.width));
  PutU32(file, 22, static_cast<uint32_t>(f.height));
  file[26] = 1;
  file[28] = static_cast<char>(f.bitCount);
  PutU32(file, 30, f.compression);
  file.resize(14 + std::min<uint32_t>(f.infoBytes, 124));
  if (masksAfter) file.resize(file.size() + 12);
  for (std::size_t i = 0; i < f.masks.size() && 54 + 4 * i + 4 <= file.size(); ++i) {
    PutU32(file, 54 + 4 * i, f.masks[i]);
  }
  PutU32(file, 2, static_cast<uint32_t>(file.size() + pixels.size()));
  return file + pixels;
}

// A PNG file written by libpng itself, rows given in the file's own packing.
struct PngLayout {
  int width = 0;
  int height = 0;
  int depth = 8;
  int colorType = PNG_COLOR_TYPE_RGB;
  bool interlaced = false;
  std::vector<std::vector<uint8_t>> rows;
  std::vector<png_color> palette;
  std::vector<uint8_t> transparency;
};

std::string MakePng(const PngLayout& layout) {
  std::string file;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(
      png, &file,
      [](png_structp p, png_bytep data, std::size_t n) {
        static_cast<std::string*>(png_get_io_ptr(p))->append(reinterpret_cast<char*>(data), n);
      },
      nullptr);
  png_set_IHDR(png, info, static_cast<png_uint_32>(layout.width),
               static_cast<png_uint_32>(layout.height), layout.depth, layout.colorType,
               layout.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (!layout.palette.empty()) {
    png_set_PLTE(png, info, layout.palette.data(), static_cast<int>(layout.palette.size()));
  }
  if (!layout.transparency.empty()) {
    png_set_tRNS(png, info, layout.transparency.data(),
                 static_cast<int>(layout.transparency.size()), nullptr);
  }
  png_write_info(png, info);
  std::vector<png_bytep> rows;
  for (const auto& row : layout.rows) rows.push_back(const_cast<png_bytep>(row.data()));
  png_write_image(png, rows.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return file;
}

// A JPEG file written by libjpeg itself from interleaved samples, rows from the top; stored
// as `stored` with or without an Adobe marker when stored is given.
std::string MakeJpeg(int width, int height, J_COLOR_SPACE space, int components,
                     const std::vector<uint8_t>& samples, J_COLOR_SPACE stored = JCS_UNKNOWN,
                     bool adobe = true) {
  jpeg_compress_struct info{};
  jpeg_error_mgr errors{};
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = static_cast<JDIMENSION>(width);
  info.image_height = static_cast<JDIMENSION>(height);
  info.input_components = components;
  info.in_color_space = space;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 95, TRUE);
  if (stored != JCS_UNKNOWN) {
    jpeg_set_colorspace(&info, stored);
    info.write_Adobe_marker = adobe ? TRUE : FALSE;
  }
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(
        samples.data() + info.next_scanline * static_cast<std::size_t>(width * components));
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  std::string file(reinterpret_cast<char*>(buffer), size);
  std::free(buffer);
  return file;
}

// A picture of flat 16 x 16 tiles: JPEG keeps the inside of each tile almost exactly (the
// decoder's smooth chroma upsampling blends only the tile's edge pixels with the neighbours).
std::unique_ptr<TBitmap> TiledPicture(int width, int height, TPixelFormat format) {
  auto bitmap = std::make_unique<TBitmap>(width, height, format);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const unsigned tile = static_cast<unsigned>((x / 16) * 7 + (y / 16) * 13);
      bitmap->Canvas().SetPixel(x, y, (tile * 0x2F1B37u) & 0xFFFFFFu);
    }
  }
  return bitmap;
}

// The segments of a JPEG file up to its first scan: marker and contents.
std::vector<std::pair<int, std::string>> JpegSegments(const std::string& file) {
  std::vector<std::pair<int, std::string>> segments;
  std::size_t at = 2;
  while (at + 4 <= file.size() && static_cast<uint8_t>(file[at]) == 0xFF) {
    const int marker = static_cast<uint8_t>(file[at + 1]);
    const std::size_t length = static_cast<std::size_t>(static_cast<uint8_t>(file[at + 2]) << 8 |
                                                        static_cast<uint8_t>(file[at + 3]));
    segments.emplace_back(marker, file.substr(at + 4, length - 2));
    if (marker == 0xDA) break;
    at += 2 + length;
  }
  return segments;
}

// A stream that takes `capacity` bytes and then fails, as a full disk does.
class FullDisk : public std::streambuf {
 public:
  explicit FullDisk(std::size_t capacity) : capacity_(capacity) {}

 protected:
  int_type overflow(int_type c) override {
    if (used_ >= capacity_) return traits_type::eof();
    ++used_;
    return traits_type::not_eof(c);
  }
  std::streamsize xsputn(const char*, std::streamsize n) override {
    const auto room = static_cast<std::streamsize>(capacity_ - used_);
    const std::streamsize taken = std::min(n, room);
    used_ += static_cast<std::size_t>(taken);
    return taken;
  }

 private:
  std::size_t capacity_;
  std::size_t used_ = 0;
};

// ---------------------------------------------------------------------------------------------

TEST(DetectFileFormat, RecognisesSignaturesAndNothingElse) {
  const std::string png("\x89PNG\r\n\x1A\n", 8);
  EXPECT_EQ(DetectFileFormat(Data(png), 8), ffPng);
  EXPECT_EQ(DetectFileFormat(Data(png), 7), ffUnknown);
  EXPECT_EQ(DetectFileFormat(Data(std::string("\xFF\xD8\xFF")), 3), ffJpeg);
  EXPECT_EQ(DetectFileFormat(Data(std::string("BM")), 2), ffBmp);
  EXPECT_THROW(Decode("GIF89a"), EInvalidGraphic);
}

TEST(Bmp, RoundTripKeepsEveryByteAtBothDepths) {
  for (TPixelFormat format : {pf24bit, pf32bit}) {
    const auto original = RandomPicture(7, 5, format, 1);
    const auto back = Decode(Encode(*original, ffBmp));
    ASSERT_EQ(back->PixelFormat(), format);
    ASSERT_EQ(back->Width(), 7);
    ASSERT_EQ(back->Height(), 5);
    const std::size_t bytes = 7u * static_cast<std::size_t>(BytesPerPixel(format));
    for (int r = 0; r < 5; ++r) {
      EXPECT_EQ(std::memcmp(back->ScanLine(r), original->ScanLine(r), bytes), 0) << r;
    }
  }
}

TEST(Bmp, WritesTheWindowsLayoutBottomRowFirstWithZeroPadding) {
  TBitmap bitmap(3, 2, pf24bit);
  bitmap.Canvas().SetPixel(0, 0, 0x030201);  // top-left
  bitmap.Canvas().SetPixel(0, 1, 0x060504);  // bottom-left
  bitmap.ScanLine(0)[9] = 0xEE;              // the bitmap's own padding is not written
  const std::string file = Encode(bitmap, ffBmp);
  ASSERT_EQ(file.size(), 54u + 2 * 12);
  const auto u32 = [&](std::size_t at) {
    uint32_t v = 0;
    std::memcpy(&v, file.data() + at, 4);
    return v;
  };
  EXPECT_EQ(file.substr(0, 2), "BM");
  EXPECT_EQ(u32(2), 78u);   // file size
  EXPECT_EQ(u32(10), 54u);  // pixel offset
  EXPECT_EQ(u32(14), 40u);  // info header size
  EXPECT_EQ(u32(18), 3u);
  EXPECT_EQ(u32(22), 2u);  // positive height: bottom-up
  EXPECT_EQ(u32(26), 1u | 24u << 16);
  EXPECT_EQ(u32(30), 0u);                         // BI_RGB
  EXPECT_EQ(u32(34), 24u);                        // image bytes
  EXPECT_EQ(file.substr(54, 3), "\x06\x05\x04");  // bottom row first, blue green red
  EXPECT_EQ(file.substr(63, 3), std::string(3, '\0'));
  EXPECT_EQ(file.substr(66, 3), "\x03\x02\x01");
  EXPECT_EQ(file.substr(75, 3), std::string(3, '\0'));
}

TEST(Bmp, ReadsTopDownRowsAndLargerInfoHeaders) {
  // Two rows of one 32-bit pixel each, stored top row first.
  std::string pixels("\x01\x02\x03\x04\x05\x06\x07\x08", 8);
  BmpFields fields;
  fields.width = 1;
  fields.height = -2;
  fields.bitCount = 32;
  fields.infoBytes = 124;  // BITMAPV5HEADER
  const auto bitmap = Decode(MakeBmp(fields, pixels));
  EXPECT_EQ(bitmap->Height(), 2);
  EXPECT_EQ(bitmap->Canvas().Pixel(0, 0), 0x010203u);
  EXPECT_EQ(bitmap->Canvas().Pixel(0, 1), 0x050607u);
  EXPECT_EQ(bitmap->ScanLine(1)[3], 8);
  // A gap between the headers and the pixels (a colour table or masks) is skipped.
  fields.infoBytes = 40;
  fields.pixelOffset = 54 + 8;
  const auto gap = Decode(MakeBmp(fields, std::string(8, '\x7F') + pixels));
  EXPECT_EQ(gap->Canvas().Pixel(0, 1), 0x050607u);
}

struct MalformedBmp {
  const char* name;
  BmpFields fields;
  std::size_t pixelBytes;
  const char* expected;  // part of the message
};

class BmpRejects : public testing::TestWithParam<MalformedBmp> {};

TEST_P(BmpRejects, WithAClearErrorAndNoReadOutsideTheFile) {
  const MalformedBmp& c = GetParam();
  const std::string file = MakeBmp(c.fields, std::string(c.pixelBytes, '\x55'));
  try {
    Decode(file);
    FAIL() << "accepted";
  } catch (const EInvalidGraphic& e) {
    EXPECT_NE(std::string(e.what()).find("Invalid BMP file: "), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find(c.expected), std::string::npos) << e.what();
  }
}

BmpFields Fields(int32_t width, int32_t height, uint16_t bits = 24, uint32_t compression = 0,
                 uint32_t info = 40, int64_t offset = -1) {
  return BmpFields{width, height, bits, compression, info, offset};
}

INSTANTIATE_TEST_SUITE_P(
    Bmp, BmpRejects,
    testing::Values(
        MalformedBmp{"TruncatedPixels", Fields(2, 2), 15, "past the end"},
        MalformedBmp{"MissingLastRowPadding", Fields(2, 2), 14, "past the end"},
        MalformedBmp{"HugeWidth", Fields(0x7FFFFFFF, 1), 16, "too large"},
        MalformedBmp{"PlausibleSizeFewBytes", Fields(4000, 3000), 16, "past the end"},
        MalformedBmp{"NegativeWidth", Fields(-2, 2), 16, "picture size"},
        MalformedBmp{"MostNegativeHeight", Fields(1, INT32_MIN), 16, "too large"},
        MalformedBmp{"EightBits", Fields(2, 2, 8), 16, "8 bits per pixel"},
        MalformedBmp{"BitFieldsAt24Bits", Fields(2, 2, 24, 3), 16, "24 bits per pixel"},
        MalformedBmp{"RunLengthEncoded", Fields(2, 2, 24, 1), 16, "compression 1"},
        MalformedBmp{"MasksPastEnd", Fields(2, 2, 32, 3), 0, "masks extend past the end"},
        MalformedBmp{"CoreHeader", Fields(2, 2, 24, 0, 12), 16, "12-byte"},
        MalformedBmp{"InfoHeaderPastEnd", Fields(2, 2, 24, 0, 100000), 16, "info header"},
        MalformedBmp{"OffsetPastEnd", Fields(2, 2, 24, 0, 40, 0xFFFFFFF0), 16, "past the end"},
        MalformedBmp{"OffsetInsideHeaders", Fields(2, 2, 24, 0, 40, 20), 16, "overlaps"}),
    [](const testing::TestParamInfo<MalformedBmp>& row) { return std::string(row.param.name); });

TEST(Bmp, ShortFilesAreRefused) {
  EXPECT_THROW(DecodeBmp(nullptr, 0), EInvalidGraphic);
  const std::string file = MakeBmp(Fields(1, 1), std::string(4, '\0'));
  EXPECT_THROW(DecodeBmp(Data(file), 30), EInvalidGraphic);  // cut inside the info header
}

struct MaskedBmp {
  const char* name;
  uint16_t bitCount;
  uint32_t compression;
  uint32_t infoBytes;
  std::vector<uint32_t> masks;
  std::vector<uint32_t> pixels;  // stored values, one row
  std::vector<TColor> expected;  // 0x00BBGGRR
};

class BmpReadsMasks : public testing::TestWithParam<MaskedBmp> {};

TEST_P(BmpReadsMasks, ScalingEachMaskToAByteAndIgnoringAlpha) {
  const MaskedBmp& c = GetParam();
  std::string pixels;
  for (const uint32_t pixel : c.pixels) {
    for (unsigned i = 0; i < c.bitCount / 8u; ++i)
      pixels.push_back(static_cast<char>(pixel >> (8 * i)));
  }
  pixels.resize((pixels.size() + 3) / 4 * 4, '\0');
  BmpFields fields;
  fields.width = static_cast<int32_t>(c.pixels.size());
  fields.height = 1;
  fields.bitCount = c.bitCount;
  fields.compression = c.compression;
  fields.infoBytes = c.infoBytes;
  fields.masks = c.masks;
  const auto bitmap = Decode(MakeBmp(fields, pixels));
  ASSERT_EQ(bitmap->PixelFormat(), pf24bit);
  for (std::size_t x = 0; x < c.expected.size(); ++x) {
    EXPECT_EQ(bitmap->Canvas().Pixel(static_cast<int>(x), 0), c.expected[x]) << x;
  }
}

INSTANTIATE_TEST_SUITE_P(Bmp, BmpReadsMasks,
                         testing::Values(MaskedBmp{"Masks32AfterInfoHeader",
                                                   32,
                                                   3,
                                                   40,
                                                   {0xFF0000, 0xFF00, 0xFF},
                                                   {0x11223344, 0xFFFFFF},
                                                   {0x443322, 0xFFFFFF}},
                                         MaskedBmp{"Rgb565",
                                                   16,
                                                   3,
                                                   40,
                                                   {0xF800, 0x07E0, 0x001F},
                                                   {0xF81F, 0x0400, 0x0001},
                                                   {0xFF00FF, 0x008200, 0x080000}},
                                         MaskedBmp{"Plain16IsRgb555",
                                                   16,
                                                   0,
                                                   40,
                                                   {},
                                                   {0x7FFF, 0x001F, 0x7C00},
                                                   {0xFFFFFF, 0xFF0000, 0x0000FF}},
                                         MaskedBmp{"V4HeaderAlphaIgnored",
                                                   32,
                                                   3,
                                                   108,
                                                   {0xFF, 0xFF00, 0xFF0000, 0xFF000000},
                                                   {0x80332211},
                                                   {0x332211}},
                                         MaskedBmp{"V5TenBitMasks",
                                                   32,
                                                   3,
                                                   124,
                                                   {0x3FF00000, 0x000FFC00, 0x000003FF},
                                                   {0x3FF80000, 0x000003FF},
                                                   {0x0080FF, 0xFF0000}},
                                         MaskedBmp{"ScatteredAndEmptyMasks",
                                                   32,
                                                   6,
                                                   56,
                                                   {0x0F0F, 0, 0x80000000, 0},
                                                   {0x0F0F, 0x80000101},
                                                   {0x0000FF, 0xFF0011}}),
                         [](const testing::TestParamInfo<MaskedBmp>& row) {
                           return std::string(row.param.name);
                         });

TEST(Png, RoundTripKeepsColoursAndDropsTheFourthByte) {
  const auto rgb = RandomPicture(9, 4, pf24bit, 2);
  const auto back = Decode(Encode(*rgb, ffPng));
  EXPECT_EQ(back->PixelFormat(), pf24bit);
  EXPECT_EQ(ColourDistance(*rgb, *back), 0);

  const auto with4 = RandomPicture(9, 4, pf32bit, 3);
  const auto back4 = Decode(Encode(*with4, ffPng));
  EXPECT_EQ(back4->PixelFormat(), pf24bit);  // written as RGB: the fourth byte is no alpha
  EXPECT_EQ(ColourDistance(*with4, *back4), 0);
}

// Flat panels are written with other settings than photographs; both come back exactly.
TEST(Png, RoundTripOfFlatPanelsIsExactToo) {
  TBitmap panels(40, 12, pf32bit);
  for (int y = 0; y < 12; ++y) {
    for (int x = 0; x < 40; ++x) panels.Canvas().SetPixel(x, y, x < 25 ? 0x3060C0u : 0xF0F0F0u);
  }
  const auto back = Decode(Encode(panels, ffPng));
  EXPECT_EQ(ColourDistance(panels, *back), 0);
}

struct PngCase {
  const char* name;
  PngLayout layout;
  TPixelFormat format;
  std::vector<uint32_t> expected;  // pixels left to right, top to bottom: 0xAARRGGBB
};

class PngReads : public testing::TestWithParam<PngCase> {};

TEST_P(PngReads, EveryColourTypeAsEightBitBlueGreenRed) {
  const PngCase& c = GetParam();
  const auto bitmap = Decode(MakePng(c.layout));
  ASSERT_EQ(bitmap->PixelFormat(), c.format);
  ASSERT_EQ(bitmap->Width(), c.layout.width);
  ASSERT_EQ(bitmap->Height(), c.layout.height);
  const int bpp = BytesPerPixel(c.format);
  for (int y = 0; y < c.layout.height; ++y) {
    for (int x = 0; x < c.layout.width; ++x) {
      const uint8_t* p = bitmap->ScanLine(y) + x * bpp;
      uint32_t got = static_cast<uint32_t>(p[0] | p[1] << 8 | p[2] << 16);
      if (bpp == 4) got |= static_cast<uint32_t>(p[3]) << 24;
      EXPECT_EQ(got, c.expected[static_cast<std::size_t>(y * c.layout.width + x)]) << x << "," << y;
    }
  }
}

PngLayout Layout(int w, int h, int depth, int type, std::vector<std::vector<uint8_t>> rows) {
  PngLayout s;
  s.width = w;
  s.height = h;
  s.depth = depth;
  s.colorType = type;
  s.rows = std::move(rows);
  return s;
}

PngLayout Palette(std::vector<uint8_t> transparency) {
  PngLayout s = Layout(3, 1, 2, PNG_COLOR_TYPE_PALETTE, {{0b00011000}});  // indices 0 1 2
  s.palette = {{10, 20, 30}, {40, 50, 60}, {70, 80, 90}};
  s.transparency = std::move(transparency);
  return s;
}

PngLayout Interlaced() {
  std::vector<std::vector<uint8_t>> rows;
  for (int y = 0; y < 3; ++y) {
    rows.push_back({});
    for (int x = 0; x < 3; ++x)
      rows.back().insert(rows.back().end(), {uint8_t(x * 50), uint8_t(y * 50), 7});
  }
  PngLayout s = Layout(3, 3, 8, PNG_COLOR_TYPE_RGB, rows);
  s.interlaced = true;
  return s;
}

INSTANTIATE_TEST_SUITE_P(
    Png, PngReads,
    testing::Values(PngCase{"Grey8",
                            Layout(2, 1, 8, PNG_COLOR_TYPE_GRAY, {{0x40, 0xFF}}),
                            pf24bit,
                            {0x404040, 0xFFFFFF}},
                    PngCase{"Grey1",
                            Layout(3, 1, 1, PNG_COLOR_TYPE_GRAY, {{0b10100000}}),
                            pf24bit,
                            {0xFFFFFF, 0, 0xFFFFFF}},
                    PngCase{"GreyAlpha",
                            Layout(1, 1, 8, PNG_COLOR_TYPE_GRAY_ALPHA, {{0x10, 0x99}}),
                            pf32bit,
                            {0x99101010}},
                    PngCase{"PaletteTransparency",
                            Palette({0, 128}),
                            pf32bit,
                            {0x000A141E, 0x8028323C, 0xFF46505A}},
                    PngCase{"Rgb16",
                            Layout(1, 1, 16, PNG_COLOR_TYPE_RGB,
                                   {{0xFF, 0xFF, 0x00, 0x00, 0x80, 0x80}}),
                            pf24bit,
                            {0xFF0080}},
                    PngCase{"Rgba",
                            Layout(1, 1, 8, PNG_COLOR_TYPE_RGB_ALPHA, {{1, 2, 3, 4}}),
                            pf32bit,
                            {0x04010203}},
                    PngCase{"Interlaced",
                            Interlaced(),
                            pf24bit,
                            {0x000007, 0x320007, 0x640007, 0x003207, 0x323207, 0x643207, 0x006407,
                             0x326407, 0x646407}}),
    [](const testing::TestParamInfo<PngCase>& row) { return std::string(row.param.name); });

TEST(Png, DamagedFilesAreRefusedWithAClearError) {
  const auto picture = RandomPicture(40, 30, pf24bit, 4);
  const std::string good = Encode(*picture, ffPng);
  const auto rejects = [](const std::string& file) {
    try {
      Decode(file);
      return std::string("accepted");
    } catch (const EInvalidGraphic& e) {
      return std::string(e.what());
    }
  };
  // Cut inside the pixel data, and just before the closing chunk.
  EXPECT_EQ(rejects(good.substr(0, good.size() / 2)).rfind("Invalid PNG file: ", 0), 0u);
  EXPECT_EQ(rejects(good.substr(0, good.size() - 12)).rfind("Invalid PNG file: ", 0), 0u);
  EXPECT_EQ(rejects(good.substr(0, 8)).rfind("Invalid PNG file: ", 0), 0u);
  // A damaged header checksum.
  std::string badCrc = good;
  badCrc[8 + 8 + 13] ^= 1;
  EXPECT_EQ(rejects(badCrc).rfind("Invalid PNG file: ", 0), 0u);
  // A header that claims 16000 x 16000 pixels over a few kilobytes is refused before any
  // allocation for it.
  std::string huge = good;
  for (std::size_t at : {16u, 20u}) {
    huge[at] = 0;
    huge[at + 1] = 0;
    huge[at + 2] = 0x3E;
    huge[at + 3] = static_cast<char>(0x80);
  }
  const std::size_t crcAt = 8 + 8 + 13;
  const uint32_t crc = static_cast<uint32_t>(crc32(0, Data(huge) + 12, 17));
  for (int i = 0; i < 4; ++i)
    huge[crcAt + static_cast<std::size_t>(i)] = static_cast<char>(crc >> (24 - 8 * i));
  EXPECT_NE(rejects(huge).find("too short for its size"), std::string::npos) << rejects(huge);
}

TEST(Jpeg, WritesBaselineJfifAtQualityOneHundredWithDefaultSampling) {
  const auto picture = TiledPicture(33, 20, pf24bit);
  const std::string file = Encode(*picture, ffJpeg);
  ASSERT_EQ(file.substr(0, 2), "\xFF\xD8");
  bool jfif = false, baseline = false, progressive = false;
  int tables = 0;
  for (const auto& [marker, body] : JpegSegments(file)) {
    if (marker == 0xE0) jfif = body.substr(0, 5) == std::string("JFIF\0", 5);
    if (marker == 0xC2) progressive = true;
    if (marker == 0xDB) {
      // Each table: precision/id byte, then 64 one-byte entries, all 1 at quality 100.
      for (std::size_t at = 0; at + 65 <= body.size(); at += 65, ++tables) {
        EXPECT_EQ(static_cast<uint8_t>(body[at]) >> 4, 0) << "8-bit table";
        EXPECT_EQ(body.substr(at + 1, 64), std::string(64, '\x01'));
      }
    }
    if (marker == 0xC0) {
      baseline = true;
      ASSERT_EQ(body.size(), 6u + 3 * 3);
      EXPECT_EQ(static_cast<uint8_t>(body[0]), 8);  // sample precision
      EXPECT_EQ((static_cast<uint8_t>(body[1]) << 8) | static_cast<uint8_t>(body[2]), 20);
      EXPECT_EQ((static_cast<uint8_t>(body[3]) << 8) | static_cast<uint8_t>(body[4]), 33);
      EXPECT_EQ(static_cast<uint8_t>(body[5]), 3);     // Y, Cb, Cr
      EXPECT_EQ(static_cast<uint8_t>(body[7]), 0x22);  // luminance 2 x 2
      EXPECT_EQ(static_cast<uint8_t>(body[10]), 0x11);
      EXPECT_EQ(static_cast<uint8_t>(body[13]), 0x11);
    }
  }
  EXPECT_TRUE(jfif);
  EXPECT_TRUE(baseline);
  EXPECT_FALSE(progressive);
  EXPECT_EQ(tables, 2);
}

TEST(Jpeg, RoundTripIsCloseAndTheFourthByteIsIgnored) {
  const auto picture = TiledPicture(48, 32, pf24bit);
  const std::string file = Encode(*picture, ffJpeg);
  const auto back = Decode(file);
  EXPECT_EQ(back->PixelFormat(), pf24bit);
  EXPECT_LE(ColourDistance(*picture, *back, 16), 3);

  TBitmap with4;
  with4.Assign(picture.get());
  with4.SetPixelFormat(pf32bit);
  for (int y = 0; y < with4.Height(); ++y) {
    for (int x = 0; x < with4.Width(); ++x)
      with4.ScanLine(y)[x * 4 + 3] = static_cast<uint8_t>(x * y);
  }
  EXPECT_EQ(Encode(with4, ffJpeg), file);
}

TEST(Jpeg, ReadsGreyFilesAsEqualChannels) {
  std::vector<uint8_t> grey(16 * 8);
  for (std::size_t i = 0; i < grey.size(); ++i) grey[i] = i < 64 ? 40 : 200;
  const auto g = Decode(MakeJpeg(16, 8, JCS_GRAYSCALE, 1, grey));
  ASSERT_EQ(g->PixelFormat(), pf24bit);
  const uint8_t* p = g->ScanLine(0);
  EXPECT_EQ(p[0], p[1]);
  EXPECT_EQ(p[1], p[2]);
  EXPECT_NEAR(p[0], 40, 2);
  EXPECT_NEAR(g->ScanLine(7)[15 * 3], 200, 2);
}

TEST(Jpeg, DamagedFilesRaiseTheLibrarysErrorNumber) {
  const auto picture = TiledPicture(64, 64, pf24bit);
  const std::string good = Encode(*picture, ffJpeg);
  const auto errorOf = [](const std::string& file) {
    try {
      DecodeJpeg(Data(file), file.size());
      return std::string("accepted");
    } catch (const EJPEG& e) {
      return std::string(e.what());
    }
  };
  // Truncated pixel data is a warning in libjpeg, which would fill the rest with grey.
  EXPECT_EQ(errorOf(good.substr(0, good.size() / 2)).rfind("JPEG error #", 0), 0u);
  EXPECT_EQ(errorOf(good.substr(0, 2)).rfind("JPEG error #", 0), 0u);
  EXPECT_EQ(errorOf(std::string("\xFF\xD8\xFF\x01garbage")).rfind("JPEG error #", 0), 0u);
  EXPECT_EQ(errorOf("not a jpeg").rfind("JPEG error #", 0), 0u);
  EXPECT_EQ(errorOf("").rfind("JPEG error #", 0), 0u);
  // The library's own words go with the number, for the command-line tool.
  try {
    DecodeJpeg(Data(good), good.size() / 2);
    FAIL();
  } catch (const EJPEG& e) {
    EXPECT_STREQ(e.Reason(), "Premature end of JPEG file");
  }
}

TEST(Jpeg, AHeaderClaimingMoreRowsThanTheDataHoldsFailsBeforeTakingMemoryForThem) {
  std::string file = Encode(*TiledPicture(16, 16, pf24bit), ffJpeg);
  // Height and width after the frame header's marker, length and precision: 16000 x 16000,
  // 768 MB of pixels claimed by about a kilobyte.
  const std::size_t frame = file.find("\xFF\xC0");
  ASSERT_NE(frame, std::string::npos);
  for (const std::size_t field : {frame + 5, frame + 7}) {
    file[field] = 0x3E;
    file[field + 1] = static_cast<char>(0x80);
  }
  const std::size_t before = allocatedBytes;
  EXPECT_THROW(Decode(file), EJPEG);
  EXPECT_LT(allocatedBytes - before, std::size_t{8} << 20);
}

struct InkJpeg {
  const char* name;
  J_COLOR_SPACE stored;
  bool adobe;  // Adobe's writers store 255 for no ink
};

class JpegReadsInks : public testing::TestWithParam<InkJpeg> {};

TEST_P(JpegReadsInks, AsTheLightTheyLetThrough) {
  // Left half magenta and yellow inks (red), right half half black (grey 127).
  std::vector<uint8_t> inks;
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 32; ++x) {
      const uint8_t ink[4] = {0, uint8_t(x < 16 ? 255 : 0), uint8_t(x < 16 ? 255 : 0),
                              uint8_t(x < 16 ? 0 : 128)};
      for (const uint8_t v : ink) inks.push_back(GetParam().adobe ? uint8_t(255 - v) : v);
    }
  }
  const auto bitmap =
      Decode(MakeJpeg(32, 16, JCS_CMYK, 4, inks, GetParam().stored, GetParam().adobe));
  ASSERT_EQ(bitmap->PixelFormat(), pf24bit);
  const auto near = [](TColor got, TColor want) {
    for (int shift = 0; shift < 24; shift += 8) {
      if (std::abs(static_cast<int>((got >> shift) & 255) -
                   static_cast<int>((want >> shift) & 255)) > 3)
        return false;
    }
    return true;
  };
  EXPECT_PRED2(near, bitmap->Canvas().Pixel(8, 8), TColor{0x0000FF});
  EXPECT_PRED2(near, bitmap->Canvas().Pixel(24, 8), TColor{0x7F7F7F});
}

INSTANTIATE_TEST_SUITE_P(Jpeg, JpegReadsInks,
                         testing::Values(InkJpeg{"CmykAdobeInverted", JCS_CMYK, true},
                                         InkJpeg{"CmykPlain", JCS_CMYK, false},
                                         InkJpeg{"YcckAdobeInverted", JCS_YCCK, true}),
                         [](const testing::TestParamInfo<InkJpeg>& row) {
                           return std::string(row.param.name);
                         });

TEST(Encoders, RefuseEmptyPicturesAndReportAFailingStream) {
  TBitmap empty;
  for (TFileFormat format : {ffBmp, ffPng, ffJpeg}) {
    EXPECT_THROW(Encode(empty, format), EInvalidGraphic) << int{format};
    const auto picture = RandomPicture(64, 64, pf24bit, 5);
    FullDisk disk(100);
    std::ostream out(&disk);
    EXPECT_THROW(WritePicture(*picture, out, format), EWriteError) << int{format};
  }
  EXPECT_THROW(Encode(TBitmap(1, 1), ffUnknown), EInvalidGraphic);
}

TEST(Files, WriteReplacesAtomicallyAndLeavesNothingBehindOnFailure) {
  TempDir dir;
  const std::string path = dir / "out.png";
  const auto picture = RandomPicture(5, 5, pf24bit, 6);
  WritePictureFile(*picture, path, ffPng);
  EXPECT_EQ(ColourDistance(*LoadPictureFromFile(path), *picture), 0);

  // Failures keep the file that is there: an encoder error, and a place that cannot be
  // written (a directory where the file should go).
  const std::string before = ReadFile(path);
  EXPECT_THROW(WritePictureFile(TBitmap(), path, ffJpeg), EInvalidGraphic);
  EXPECT_EQ(ReadFile(path), before);
  fs::create_directory(dir / "taken");
  EXPECT_THROW(WritePictureFile(*picture, dir / "taken", ffBmp), EFCreateError);
  EXPECT_EQ(dir.Names().size(), 2u);  // out.png and taken: no temporary files left

  const std::string missing = dir / "no/such/dir.bmp";
  try {
    WritePictureFile(*picture, missing, ffBmp);
    FAIL();
  } catch (const EFCreateError& e) {
    EXPECT_EQ(std::string(e.what()), "Impossible de créer le fichier " + missing);
  }
}

TEST(Files, ReplacingKeepsPermissionsAndLinks) {
  TempDir dir;
  const auto picture = RandomPicture(5, 5, pf24bit, 7);
  const mode_t mask = ::umask(022);
  const std::string path = dir / "private.png";
  WritePictureFile(*picture, path, ffPng);
  EXPECT_EQ(fs::status(path).permissions(), fs::perms(0644));  // new: as the umask says
  fs::permissions(path, fs::perms(0600));
  WritePictureFile(*picture, path, ffBmp);
  EXPECT_EQ(fs::status(path).permissions(), fs::perms(0600));
  EXPECT_EQ(DetectFileFormat(Data(ReadFile(path)), 2), ffBmp);

  // A relative link to a file that does not exist yet, then to one that does.
  fs::create_directory(dir / "real");
  fs::create_symlink("real/picture.png", dir / "link.png");
  WritePictureFile(*picture, dir / "link.png", ffPng);
  WritePictureFile(*picture, dir / "link.png", ffBmp);
  EXPECT_TRUE(fs::is_symlink(dir / "link.png"));
  EXPECT_EQ(DetectFileFormat(Data(ReadFile(dir / "real/picture.png")), 2), ffBmp);
  EXPECT_EQ(dir.Names(), (std::set<std::string>{"private.png", "real", "link.png"}));
  ::umask(mask);
}

TEST(Files, DevicesAndFifosAreWrittenStraightAndTheirFailuresReported) {
  TempDir dir;
  const auto picture = RandomPicture(5, 5, pf24bit, 8);
  const std::string fifo = dir / "fifo.bmp";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // Our end is open before the writer comes, and the picture fits in the pipe: nothing waits.
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  WritePictureFile(*picture, fifo, ffBmp);
  std::string received(4096, '\0');
  const ssize_t got = ::read(reader, received.data(), received.size());
  ::close(reader);
  received.resize(static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
  EXPECT_EQ(received, Encode(*picture, ffBmp));
  EXPECT_EQ(fs::status(fifo).type(), fs::file_type::fifo);

  // A full disk behind a link: an error with the system's reason, never a silent success.
  fs::create_symlink("/dev/full", dir / "full.png");
  try {
    WritePictureFile(*picture, dir / "full.png", ffPng);
    FAIL() << "a failed write passed";
  } catch (const EWriteError& e) {
    EXPECT_STREQ(e.Reason(), "No space left on device");
  }
  EXPECT_EQ(dir.Names(), (std::set<std::string>{"fifo.bmp", "full.png"}));
}

TEST(Files, LoadRefusesWhatIsNotAReadablePictureFile) {
  TempDir dir;
  try {
    LoadPictureFromFile(dir / "absent.png");
    FAIL();
  } catch (const EFOpenError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Impossible d'ouvrir le fichier " + (dir / "absent.png").string());
    EXPECT_STREQ(e.Reason(), "No such file or directory");
  }
  EXPECT_THROW(LoadPictureFromFile(dir.Path().string()), EFOpenError);
  std::ofstream(dir / "text.png") << "hello";
  EXPECT_THROW(LoadPictureFromFile(dir / "text.png"), EInvalidGraphic);
  std::ofstream(dir / "empty.bmp");
  EXPECT_THROW(LoadPictureFromFile(dir / "empty.bmp"), EInvalidGraphic);
}

}  // namespace
}  // namespace ombrix
