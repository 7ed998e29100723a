// Output formats of the driver libraries' GetBuffer, and the colour reconstruction of buffer
// mode 4. Shared by every driver library; plain (pixels, width, height) views, no state.
#pragma once

#include <cstddef>
#include <cstdint>

namespace telvane::drivers {

enum BufferMode : int {
  kBufferNative16 = 0,   // the pixel as is, host order
  kBufferByte = 1,       // p >> 8
  kBufferGrey24 = 2,     // three equal bytes p >> 8
  kBufferGrey48 = 3,     // three equal 16-bit words p, host order
  kBufferColour24 = 4,   // colour reconstruction, see ReconstructColour
  kBufferFits16 = 5,     // p - 32768 as big-endian int16: the layout of 16-bit FITS data
  kBufferInt32Pair = 6,  // p as int32 then an int32 zero
  kBufferInt32 = 7,      // p as int32
};

// Modes above `highest` and negative modes select `highest` (5 or 7 depending on library).
int ClampBufferMode(int mode, int highest);

// Bytes written per pixel in `mode` (0 for unknown modes).
size_t BytesPerPixel(int mode);

// Converts `count` pixels into `out` (BytesPerPixel(mode) * count bytes) in any mode but 4.
// Returns false, writing nothing, for mode 4 or an unknown mode.
bool ConvertPixels(int mode, const uint16_t* pixels, size_t count, uint8_t* out);

// Colour reconstruction of buffer mode 4.
//  colourMode 1: primary-colour (RGGB) mosaic; bytes B, G, R; R weighted by 1.125.
//  colourMode 2: complementary-colour (CMYG) mosaic.
//  Any other colour mode writes nothing.
// Variants used by other camera families (colour mode 1 only for redBlueExchanged):
struct ColourVariant {
  bool columnParityReversed = false;  // the k-even and k-odd rows of the table exchanged
  bool redBlueExchanged = false;      // R and B exchanged in every row of the table
};

// Writes min(height - 1 rows, maxPixels) pixels of 3 bytes, row-major, into `out`; output
// pixel (i, j) comes from the 2 x 2 window with top-left (i, j), the last column's window
// wrapping to the start of the next row. Returns the number of pixels written.
size_t ReconstructColour(int colourMode, ColourVariant variant, const uint16_t* pixels,
                         int width, int height, uint8_t* out, size_t maxPixels);

}  // namespace telvane::drivers
