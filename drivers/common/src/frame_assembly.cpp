#include "telvane/drivers/frame_assembly.h"

#include <cstring>

namespace telvane::drivers {

void SwapBytes16(uint16_t* words, size_t count) {
  // A plain loop: compilers turn it into vector shuffles.
  for (size_t n = 0; n < count; ++n) words[n] = static_cast<uint16_t>((words[n] << 8) | (words[n] >> 8));
}

void AssembleFields(const uint16_t* firstField, const uint16_t* secondField, int lineLength,
                    int firstRow, int column, int width, int height, uint16_t* image) {
  if (width <= 0 || height < 2) return;
  const size_t rowBytes = static_cast<size_t>(width) * sizeof(uint16_t);
  for (int r = 0; r < height / 2; ++r) {
    const size_t source = static_cast<size_t>(firstRow + r) * lineLength + column;
    std::memcpy(image + static_cast<size_t>(2 * r) * width, firstField + source, rowBytes);
    std::memcpy(image + static_cast<size_t>(2 * r + 1) * width, secondField + source, rowBytes);
  }
}

void AssembleRows(const RawFrame& raw, int firstRow, int column, int width, int height,
                  uint16_t* image) {
  if (width <= 0 || height <= 0) return;
  const size_t rowBytes = static_cast<size_t>(width) * sizeof(uint16_t);
  for (int r = 0; r < height; ++r) {
    std::memcpy(image + static_cast<size_t>(r) * width,
                raw.pixels + static_cast<size_t>(firstRow + r) * raw.lineLength + column,
                rowBytes);
  }
}

}  // namespace telvane::drivers
