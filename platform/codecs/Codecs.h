#pragma once
// Picture files: reading BMP, PNG and JPEG into a TBitmap and writing a TBitmap as BMP, PNG or
// JPEG. Plain C++ over libpng and libjpeg(-turbo); no toolkit. Every function may be called from
// any thread, on distinct bitmaps and streams.
//
// Readers take the whole file in memory and never read outside it: every size a header claims
// is checked against the bytes that are really there before anything is allocated. A picture
// that is malformed, truncated or of a kind we do not read raises an error; none of them
// prints anything or ends the process.

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>

#include "Errors.h"
#include "Graphics.h"

namespace ombrix {

enum TFileFormat : uint8_t { ffUnknown, ffBmp, ffPng, ffJpeg };

// The largest picture the readers accept, in pixels (16384 x 16384). Larger claims are refused
// before allocation: a few bytes of header must not commit gigabytes of memory.
inline constexpr int64_t kMaxPicturePixels = int64_t{1} << 28;

// The format whose signature starts data: "BM", the PNG signature or FF D8 FF. ffUnknown for
// anything else, also for fewer bytes than the signature.
TFileFormat DetectFileFormat(const uint8_t* data, std::size_t size);

// Decoders. Each returns a new bitmap whose picture rows are the file's rows from the top.
//
// BMP: 24 or 32 bits per pixel uncompressed (BI_RGB), or 16 or 32 bits with colour masks
// (BI_BITFIELDS, the masks after a 40-byte header or inside a V2 to V5 one; 16-bit BI_RGB is
// 5-5-5), rows bottom-up or top-down, any info header of at least 40 bytes. BI_RGB gives
// pf24bit or pf32bit as the file holds it, the fourth byte as stored; masked pixels give
// pf24bit, each mask's value scaled to 0..255 and any alpha mask ignored. Colour tables, other
// depths, compressions and the old 12-byte header are refused.
// PNG: any colour type and depth, interlaced or not. Palette, grey and 16-bit samples are
// converted to 8-bit blue, green, red; pf32bit with the alpha in the fourth byte when the file
// has alpha or a transparency chunk, pf24bit otherwise. No gamma correction.
// JPEG: grey, colour (YCbCr or RGB) or CMYK/YCCK (stored inverted when an Adobe marker is
// there, plain otherwise), baseline or progressive; gives pf24bit (grey as equal channels,
// CMYK as the light its inks let through). Memory is taken as rows are decoded, so a header
// claiming more than the data holds fails early. A libjpeg error or warning (truncated or
// corrupt data) raises EJPEG with libjpeg's message number and text.
//
// All raise EInvalidGraphic for a malformed file, EOutOfMemory when the pixels cannot be had.
std::unique_ptr<TBitmap> DecodeBmp(const uint8_t* data, std::size_t size);
std::unique_ptr<TBitmap> DecodePng(const uint8_t* data, std::size_t size);
std::unique_ptr<TBitmap> DecodeJpeg(const uint8_t* data, std::size_t size);
// Picks the decoder by the signature; EInvalidGraphic when there is none of the three.
std::unique_ptr<TBitmap> DecodePicture(const uint8_t* data, std::size_t size);

// The whole content of the regular file at path, of at most maxBytes bytes. A FIFO, a device,
// a socket or a folder is refused without waiting for anything to open or read. Raises
// EFOpenError when the file cannot be opened or is not a regular file, EInvalidGraphic when
// it is larger than maxBytes, EOutOfMemory, EReadError when reading fails.
std::string ReadRegularFile(const std::string& path, uint64_t maxBytes);

// Reads the regular file at path and decodes it by its content. Raises what ReadRegularFile
// raises and what DecodePicture raises.
std::unique_ptr<TBitmap> LoadPictureFromFile(const std::string& path);

// The format a picture file's name asks for, by its extension in any letter case (from the
// last "." after the last "/"): ".jpg" and ".jpeg" JPEG, ".png" PNG, ".bmp" BMP; `otherwise`
// for any other name, with or without extension. The command window saves those as BMP, while
// ombrix-filter refuses them.
TFileFormat FileFormatOfName(const std::string& fileName, TFileFormat otherwise);

// Encoders. Each writes one complete file to out (binary) and raises EWriteError when the
// stream fails. The bitmap must not be empty (EInvalidGraphic otherwise).
//
// BMP: the Windows layout: a 14-byte file header, a 40-byte BITMAPINFOHEADER, no colour
// table, rows bottom-up padded to 4 bytes with zeros, at the bitmap's own depth (24 or 32
// bits; the fourth byte as stored).
void WriteBmp(const TBitmap& bitmap, std::ostream& out);
// PNG: 8-bit RGB, not interlaced. The fourth byte of a pf32bit bitmap carries no colour and is
// not written.
void WritePng(const TBitmap& bitmap, std::ostream& out);
// JPEG: JFIF, baseline sequential (not progressive), three YCbCr components, libjpeg's
// defaults with quality 100 and baseline forced. Encoder failures raise EJPEG.
void WriteJpeg(const TBitmap& bitmap, std::ostream& out);
// The encoder of format (ffBmp, ffPng or ffJpeg; EInvalidGraphic for ffUnknown).
void WritePicture(const TBitmap& bitmap, std::ostream& out, TFileFormat format);

// Writes bitmap as a file of the given format at path. The picture is encoded first, then
// written to a new file beside path (under a short name of its own, so that any legal name at
// path can be written) and renamed over it, so a failure at any step leaves no
// partial file and leaves a file already at path as it was. A file replaced keeps its
// permissions (and its owner, where the writer may give it); a new one follows the umask. A
// symbolic link at path stays: the file it leads to is the one written. A device or a FIFO
// at path is written straight into. Raises EFCreateError(path) when the file cannot be
// created or put in place (also for a folder), EWriteError (with path) when writing fails, and
// what the encoder raises; each carries the system's reason.
void WritePictureFile(const TBitmap& bitmap, const std::string& path, TFileFormat format);

}  // namespace ombrix
