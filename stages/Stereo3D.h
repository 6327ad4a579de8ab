#pragma once
// The stereo positions of the 3D operations beyond the half exchange. The capture holds two
// views side by side; with W = capture width and M = W div 2, the left half is the columns
// 0 .. M - 1 and the right half the columns M .. W - 1 (one column more for an odd width), as
// the half exchange has them. Each works in place on the capture bitmap before the zoom.
// Runs on the GUI thread (any thread, on a bitmap nobody else uses).

#include <cstdint>

#include "Graphics.h"

namespace ombrix {

// The positions of TrackBar3D, labelled "0", "X", "A", "I", "Md", "Mg".
enum T3DOperation : uint8_t {
  o3None,
  o3Exchange,
  o3Anaglyph,
  o3Interlaced,
  o3MirrorRight,
  o3MirrorLeft,
};

// The hint of each position's label, in the order of the positions.
inline constexpr const char* k3DHints[] = {
    "0: no 3D operation, the picture as captured",
    "X: exchange the left and right halves (cross-eyed pairs to parallel and back)",
    "A: anaglyph for red-cyan glasses, red from the left half, green and blue from the right",
    "I: interlaced for line-polarised 3D screens, even rows left half, odd rows right",
    "Md: the right half mirrored left to right, for mirror stereoscopes",
    "Mg: the left half mirrored left to right, for mirror stereoscopes",
};

// Runs the operation of TrackBar3D's `position` on `capture`: 1 the half exchange, 2 to 5 the
// functions below; any other position leaves the picture as it is.
// Precondition: capture.PixelFormat() == pf32bit. Raises EOutOfMemory as HalfExchange does.
void Compose3D(TBitmap& capture, int position);

// "A": pixel (x, y), for every x of the whole width, takes its red from the left half's pixel
// (x div 2, y) and its green and blue from the right half's pixel (x div 2, y); the fourth
// byte stays. With an odd width the last x asks for the left half's column M, which it does
// not have: its last column (M - 1) stands in. A picture narrower than 2 pixels is left alone.
void Anaglyph(TBitmap& capture);

// "I": row y takes the left half's row (y even) or the right half's row (y odd), each pixel
// (x, y) from that half's pixel (x div 2, y), all four bytes; for an odd width the left half's
// last column stands in as with Anaglyph. A picture narrower than 2 pixels is left alone.
void Interlace(TBitmap& capture);

// "Md": the right half's columns M .. W - 1 in reverse order; "Mg": the left half's 0 .. M - 1.
// Each pixel keeps all four bytes.
void MirrorRightHalf(TBitmap& capture);
void MirrorLeftHalf(TBitmap& capture);

}  // namespace ombrix
