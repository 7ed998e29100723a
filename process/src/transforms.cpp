// Byte-level operations on the 24-bit preview image and the plain copy.
#include <algorithm>
#include <bit>
#include <cstring>

#include "common.h"
#include "process.h"

using namespace telvane::process;

extern "C" void bufferCopy(const void* source, void* destination, int32_t byteCount) {
  if (source == nullptr || destination == nullptr || byteCount <= 0) return;
  // memmove costs the same as memcpy for separate buffers and stays correct if a caller
  // ever hands in overlapping ones.
  std::memmove(destination, source, static_cast<size_t>(byteCount));
}


namespace {

static_assert(std::endian::native == std::endian::little, "reverseFour packs little-endian words");

// Four 24-bit pixels (12 bytes) in reverse pixel order, bytes within a pixel kept.
inline void reverseFour(const uint8_t* in, uint8_t* out) {
  uint64_t lo;
  uint32_t hi;
  std::memcpy(&lo, in, 8);
  std::memcpy(&hi, in + 8, 4);
  const uint64_t p0 = lo & 0xFFFFFF, p1 = (lo >> 24) & 0xFFFFFF;
  const uint64_t p2 = ((lo >> 48) | (uint64_t{hi} << 16)) & 0xFFFFFF, p3 = hi >> 8;
  const uint64_t outLo = p3 | (p2 << 24) | (p1 << 48);
  const uint32_t outHi = static_cast<uint32_t>((p1 >> 16) | (p0 << 8));
  std::memcpy(out, &outLo, 8);
  std::memcpy(out + 8, &outHi, 4);
}

}  // namespace

extern "C" void HFLIP(uint8_t* rgb, int32_t width, int32_t height) {
  if (!validFrame(rgb, width, height)) return;
  const size_t stride = static_cast<size_t>(width) * 3;
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* row = rgb + static_cast<size_t>(y) * stride;
    // Swap blocks of four pixels from both ends while they do not meet, then single pixels.
    size_t left = 0, right = stride;  // byte offsets: [left, right) still to mirror
    while (right - left >= 24) {
      uint8_t a[12], b[12];
      reverseFour(row + left, a);
      reverseFour(row + right - 12, b);
      std::memcpy(row + left, b, 12);
      std::memcpy(row + right - 12, a, 12);
      left += 12;
      right -= 12;
    }
    for (; right - left >= 6; left += 3, right -= 3) {
      uint8_t t[3];
      std::memcpy(t, row + left, 3);
      std::memcpy(row + left, row + right - 3, 3);
      std::memcpy(row + right - 3, t, 3);
    }
  }
}

// "Invert Image" is a colour negative: what users of image software expect of "invert",
// and the only reading under which the menu item differs from a vertical flip of the view.
extern "C" void INVERT(uint8_t* rgb, int32_t width, int32_t height) {
  if (!validFrame(rgb, width, height)) return;
  const size_t n = pixelCount(width, height) * 3;
  for (size_t i = 0; i < n; ++i) rgb[i] = static_cast<uint8_t>(~rgb[i]);
}
