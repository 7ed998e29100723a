// Turning a raw bulk transfer into the image buffer: the byte swap of big-endian cameras and
// the row copies of interlaced (two-field) and progressive frames. Callers validate the region
// against their frame geometry; these functions only copy.
#pragma once

#include <cstddef>
#include <cstdint>

namespace telvane::drivers {

// Exchanges the two bytes of each 16-bit word in place (the camera sends the high byte first).
void SwapBytes16(uint16_t* words, size_t count);

// A raw frame held as rows of `lineLength` pixels.
struct RawFrame {
  const uint16_t* pixels = nullptr;
  int lineLength = 0;
  int rows = 0;
};

// Interlaced sensors: output row 2r is row firstRow + r of `firstField`, output row 2r + 1
// row firstRow + r of `secondField` (row indices relative to each field's start), both from
// column `column`. An odd height loses its last row. Writes (height & ~1) rows of `width`.
void AssembleFields(const uint16_t* firstField, const uint16_t* secondField, int lineLength,
                    int firstRow, int column, int width, int height, uint16_t* image);

// Progressive frames: output row r is raw row firstRow + r from column `column`.
void AssembleRows(const RawFrame& raw, int firstRow, int column, int width, int height,
                  uint16_t* image);

}  // namespace telvane::drivers
