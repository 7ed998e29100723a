#include "telvane/drivers/buffer_modes.h"

#include <algorithm>
#include <cstring>

namespace telvane::drivers {

int ClampBufferMode(int mode, int highest) {
  return (mode < 0 || mode > highest) ? highest : mode;
}

size_t BytesPerPixel(int mode) {
  switch (mode) {
    case kBufferNative16: return 2;
    case kBufferByte: return 1;
    case kBufferGrey24: return 3;
    case kBufferGrey48: return 6;
    case kBufferColour24: return 3;
    case kBufferFits16: return 2;
    case kBufferInt32Pair: return 8;
    case kBufferInt32: return 4;
    default: return 0;
  }
}

namespace {

// Multi-byte outputs of modes 0, 3, 6 and 7 are in host order (the libraries hand out native
// integers); only mode 5 has a fixed byte order.
template <typename T>
inline void Store(uint8_t* out, T value) {
  std::memcpy(out, &value, sizeof value);
}

}  // namespace

bool ConvertPixels(int mode, const uint16_t* pixels, size_t count, uint8_t* out) {
  switch (mode) {
    case kBufferNative16:
      std::memcpy(out, pixels, count * 2);
      return true;
    case kBufferByte:
      for (size_t n = 0; n < count; ++n) out[n] = static_cast<uint8_t>(pixels[n] >> 8);
      return true;
    case kBufferGrey24:
      for (size_t n = 0; n < count; ++n) {
        const uint8_t v = static_cast<uint8_t>(pixels[n] >> 8);
        out[3 * n] = v;
        out[3 * n + 1] = v;
        out[3 * n + 2] = v;
      }
      return true;
    case kBufferGrey48:
      for (size_t n = 0; n < count; ++n) {
        Store(out + 6 * n, pixels[n]);
        Store(out + 6 * n + 2, pixels[n]);
        Store(out + 6 * n + 4, pixels[n]);
      }
      return true;
    case kBufferFits16:
      // p - 32768 as two's complement is p with the top bit flipped.
      for (size_t n = 0; n < count; ++n) {
        out[2 * n] = static_cast<uint8_t>((pixels[n] >> 8) ^ 0x80);
        out[2 * n + 1] = static_cast<uint8_t>(pixels[n]);
      }
      return true;
    case kBufferInt32Pair:
      for (size_t n = 0; n < count; ++n) {
        Store(out + 8 * n, static_cast<int32_t>(pixels[n]));
        Store(out + 8 * n + 4, int32_t{0});
      }
      return true;
    case kBufferInt32:
      for (size_t n = 0; n < count; ++n) Store(out + 4 * n, static_cast<int32_t>(pixels[n]));
      return true;
    default:
      return false;
  }
}

namespace {

inline uint8_t Byte(int v) { return static_cast<uint8_t>(std::min(v >> 8, 255)); }
inline int Positive(int v) { return v > 0 ? v : 0; }

}  // namespace

size_t ReconstructColour(int colourMode, ColourVariant variant, const uint16_t* pixels,
                         int width, int height, uint8_t* out, size_t maxPixels) {
  if ((colourMode != 1 && colourMode != 2) || width <= 0 || height < 2) return 0;
  const size_t total = static_cast<size_t>(width) * static_cast<size_t>(height);
  const size_t outputs = std::min(static_cast<size_t>(width) * (height - 1), maxPixels);
  // The window of the last column wraps to the next row, so the very last window would
  // reach one pixel past the image; that pixel is taken as the image's last one instead.
  auto at = [&](size_t index) -> int { return pixels[std::min(index, total - 1)]; };

  for (size_t n = 0; n < outputs; ++n) {
    const int i = static_cast<int>(n / width);
    const int j = static_cast<int>(n % width);
    const int t0 = at(n), t1 = at(n + 1), u0 = at(n + width), u1 = at(n + width + 1);
    const bool iOdd = (i & 1) != 0;
    const bool kOdd = (((width - 1 - j) & 1) != 0) != variant.columnParityReversed;
    uint8_t* px = out + 3 * n;
    if (colourMode == 1) {
      int g, r, b;
      if (iOdd == kOdd) {  // even/even and odd/odd share the diagonal green pair
        g = t0 + u1;
        r = iOdd ? t1 : u0;
        b = iOdd ? u0 : t1;
      } else {
        g = u0 + t1;
        r = iOdd ? t0 : u1;
        b = iOdd ? u1 : t0;
      }
      if (variant.redBlueExchanged) std::swap(r, b);
      px[0] = Byte(b);
      px[1] = Byte(g >> 1);
      px[2] = Byte(r + (r >> 3));
    } else {
      int a, b, c, d;
      if (!iOdd) {
        a = u0;
        d = u1;
        b = kOdd ? t1 : t0;
        c = kOdd ? t0 : t1;
      } else {
        a = t0;
        d = t1;
        b = kOdd ? u1 : u0;
        c = kOdd ? u0 : u1;
      }
      px[0] = Byte(Positive(c + a - b));
      px[1] = Byte(Positive(d + c + b - a) >> 1);
      px[2] = Byte(Positive(b + a - c));
    }
  }
  return outputs;
}

}  // namespace telvane::drivers
