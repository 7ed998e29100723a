// Byte-level operations on the 24-bit preview image and the plain copy.
#include <algorithm>
#include <cstring>

#include "common.h"
#include "process.h"

using namespace telvane::process;

extern "C" {

void bufferCopy(const void* source, void* destination, int32_t byteCount) {
  if (source == nullptr || destination == nullptr || byteCount <= 0) return;
  // memmove costs the same as memcpy for separate buffers and stays correct if a caller
  // ever hands in overlapping ones.
  std::memmove(destination, source, static_cast<size_t>(byteCount));
}

void HFLIP(uint8_t* rgb, int32_t width, int32_t height) {
  if (!validFrame(rgb, width, height)) return;
  const size_t stride = static_cast<size_t>(width) * 3;
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* left = rgb + static_cast<size_t>(y) * stride;
    uint8_t* right = left + stride - 3;
    for (; left < right; left += 3, right -= 3) {
      std::swap(left[0], right[0]);
      std::swap(left[1], right[1]);
      std::swap(left[2], right[2]);
    }
  }
}

// "Invert Image" is a colour negative: what users of image software expect of "invert",
// and the only reading under which the menu item differs from a vertical flip of the view.
void INVERT(uint8_t* rgb, int32_t width, int32_t height) {
  if (!validFrame(rgb, width, height)) return;
  const size_t n = pixelCount(width, height) * 3;
  for (size_t i = 0; i < n; ++i) rgb[i] = static_cast<uint8_t>(~rgb[i]);
}

}  // extern "C"
