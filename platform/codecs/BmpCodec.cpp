// Windows bitmap files: reading 24- and 32-bit uncompressed pictures and 16- and 32-bit ones
// with colour masks, writing the classic layout with a 40-byte info header.

#include <algorithm>
#include <bit>
#include <cstring>
#include <ostream>
#include <vector>

#include "Codecs.h"
#include "CodecsPrivate.h"

namespace ombrix {

namespace {

constexpr const char* kBmp = "BMP";
constexpr std::size_t kFileHeaderBytes = 14;
constexpr std::size_t kInfoHeaderBytes = 40;
constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiBitfields = 3;
constexpr uint32_t kBiAlphaBitfields = 6;  // the same, from Windows CE, with an alpha mask

uint16_t ReadU16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}

uint32_t ReadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

int32_t ReadI32(const uint8_t* p) {
  return static_cast<int32_t>(ReadU32(p));
}

void PutU16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

void PutU32(uint8_t* p, uint32_t v) {
  PutU16(p, v);
  PutU16(p + 2, v >> 16);
}

// Bytes of one stored row: whole 32-bit words.
uint64_t StoredRowBytes(uint64_t width, unsigned bitsPerPixel) {
  return (width * bitsPerPixel + 31) / 32 * 4;
}

// One colour's bits within a masked pixel, scaled to 0..255 whatever their number; the bits
// need not be contiguous.
class MaskedChannel {
 public:
  explicit MaskedChannel(uint32_t mask)
      : mask_(mask),
        shift_(mask == 0 ? 0 : static_cast<unsigned>(std::countr_zero(mask))),
        max_(mask >> shift_) {}
  uint8_t operator()(uint32_t pixel) const {
    if (max_ == 0) return 0;
    const uint64_t value = (pixel & mask_) >> shift_;
    return static_cast<uint8_t>((value * 255 + max_ / 2) / max_);
  }

 private:
  uint32_t mask_;
  unsigned shift_;
  uint32_t max_;
};

// Converts one stored row of masked 16- or 32-bit pixels to blue, green, red.
void UnmaskRow(const uint8_t* from, uint8_t* to, std::size_t width, unsigned bitCount,
               const MaskedChannel (&rgb)[3]) {
  for (std::size_t x = 0; x < width; ++x, to += 3) {
    uint32_t pixel = 0;
    if (bitCount == 16) {
      pixel = ReadU16(from);
      from += 2;
    } else {
      pixel = ReadU32(from);
      from += 4;
    }
    to[0] = rgb[2](pixel);
    to[1] = rgb[1](pixel);
    to[2] = rgb[0](pixel);
  }
}

}  // namespace

std::unique_ptr<TBitmap> DecodeBmp(const uint8_t* data, std::size_t size) {
  using codecs::Malformed;
  if (data == nullptr || size < kFileHeaderBytes + 4) Malformed(kBmp, "file too short");
  if (data[0] != 'B' || data[1] != 'M') Malformed(kBmp, "no BM signature");
  const uint32_t pixelOffset = ReadU32(data + 10);
  const uint32_t infoBytes = ReadU32(data + kFileHeaderBytes);
  if (infoBytes == 12) Malformed(kBmp, "the old 12-byte header is not supported");
  if (infoBytes < kInfoHeaderBytes)
    Malformed(kBmp, "info header of " + std::to_string(infoBytes) + " bytes");
  if (kFileHeaderBytes + uint64_t{infoBytes} > size)
    Malformed(kBmp, "info header extends past the end of the file");

  const uint8_t* info = data + kFileHeaderBytes;
  const int32_t width = ReadI32(info + 4);
  const int32_t height = ReadI32(info + 8);
  const uint16_t planes = ReadU16(info + 12);
  const uint16_t bitCount = ReadU16(info + 14);
  const uint32_t compression = ReadU32(info + 16);

  const bool masked = compression == kBiBitfields || compression == kBiAlphaBitfields;
  if (compression != kBiRgb && !masked) {
    Malformed(kBmp, "compression " + std::to_string(compression) +
                        " (only BI_RGB and BI_BITFIELDS are supported)");
  }
  if (bitCount != 16 && bitCount != 32 && (masked || bitCount != 24)) {
    Malformed(kBmp, std::to_string(bitCount) + " bits per pixel (only " +
                        (masked ? "16 and 32" : "16, 24 and 32") + " are supported)");
  }
  if (planes != 1) Malformed(kBmp, std::to_string(planes) + " planes");
  // The masks sit inside a V2 to V5 header, or in three words right after a 40-byte one.
  // 16-bit pixels without masks are 5-5-5.
  uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F};
  std::size_t headersEnd = kFileHeaderBytes + infoBytes;
  if (masked) {
    headersEnd = std::max(headersEnd, kFileHeaderBytes + kInfoHeaderBytes + 12);
    if (headersEnd > size) Malformed(kBmp, "colour masks extend past the end of the file");
    for (int i = 0; i < 3; ++i) masks[i] = ReadU32(data + kFileHeaderBytes + 40 + 4 * i);
  }
  const bool unmask = masked || bitCount == 16;
  // A negative height marks top-down rows; its magnitude is the height. int64 keeps the
  // magnitude of INT32_MIN, which CheckPictureSize then refuses as too large.
  const bool topDown = height < 0;
  const int64_t rows = topDown ? -int64_t{height} : int64_t{height};
  codecs::CheckPictureSize(kBmp, width, rows);

  // A colour table or masks may sit between the headers and the pixels; the offset skips them.
  if (pixelOffset < headersEnd) Malformed(kBmp, "pixel data overlaps the headers");
  // Both factors are bounded by kMaxPicturePixels, so the product cannot overflow.
  const uint64_t rowBytes = StoredRowBytes(static_cast<uint64_t>(width), bitCount);
  const uint64_t pixelBytes = rowBytes * static_cast<uint64_t>(rows);
  if (uint64_t{pixelOffset} > size || pixelBytes > size - pixelOffset) {
    Malformed(kBmp, "pixel data extends past the end of the file");
  }

  auto bitmap = std::make_unique<TBitmap>(width, static_cast<int>(rows),
                                          bitCount == 32 && !unmask ? pf32bit : pf24bit);
  const MaskedChannel channels[3] = {MaskedChannel(masks[0]), MaskedChannel(masks[1]),
                                     MaskedChannel(masks[2])};
  const std::size_t copyBytes = static_cast<std::size_t>(width) * (bitCount / 8u);
  const uint8_t* stored = data + pixelOffset;
  for (int64_t m = 0; m < rows; ++m, stored += rowBytes) {
    // Stored row m is the picture's bottom row minus m, unless the rows run top-down.
    const int row = static_cast<int>(topDown ? m : rows - 1 - m);
    if (unmask) {
      UnmaskRow(stored, bitmap->ScanLine(row), static_cast<std::size_t>(width), bitCount, channels);
    } else {
      std::memcpy(bitmap->ScanLine(row), stored, copyBytes);
    }
  }
  return bitmap;
}

void WriteBmp(const TBitmap& bitmap, std::ostream& out) {
  codecs::RequirePicture(bitmap, kBmp);
  const unsigned bitsPerPixel = bitmap.PixelFormat() == pf24bit ? 24 : 32;
  const uint64_t rowBytes = StoredRowBytes(static_cast<uint64_t>(bitmap.Width()), bitsPerPixel);
  const uint64_t pixelBytes = rowBytes * static_cast<uint64_t>(bitmap.Height());
  const uint64_t fileBytes = kFileHeaderBytes + kInfoHeaderBytes + pixelBytes;
  if (fileBytes > UINT32_MAX) throw EInvalidGraphic("Picture too large for a BMP file");

  uint8_t header[kFileHeaderBytes + kInfoHeaderBytes] = {};
  header[0] = 'B';
  header[1] = 'M';
  PutU32(header + 2, static_cast<uint32_t>(fileBytes));
  PutU32(header + 10, kFileHeaderBytes + kInfoHeaderBytes);
  uint8_t* info = header + kFileHeaderBytes;
  PutU32(info, kInfoHeaderBytes);
  PutU32(info + 4, static_cast<uint32_t>(bitmap.Width()));
  PutU32(info + 8, static_cast<uint32_t>(bitmap.Height()));  // positive: bottom-up rows
  PutU16(info + 12, 1);
  PutU16(info + 14, bitsPerPixel);
  PutU32(info + 16, kBiRgb);
  PutU32(info + 20, static_cast<uint32_t>(pixelBytes));
  codecs::WriteBytes(out, header, sizeof header);

  // The bitmap's own padding bytes may hold anything; the file's are zero.
  std::vector<uint8_t> row(static_cast<std::size_t>(rowBytes), 0);
  const std::size_t pixelRowBytes = static_cast<std::size_t>(bitmap.Width()) * (bitsPerPixel / 8);
  for (int r = bitmap.Height() - 1; r >= 0; --r) {
    std::memcpy(row.data(), bitmap.ScanLine(r), pixelRowBytes);
    codecs::WriteBytes(out, row.data(), row.size());
  }
}

}  // namespace ombrix
