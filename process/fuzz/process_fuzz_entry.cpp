#include "process_fuzz_entry.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "process.h"

namespace telvane::process::fuzz {

namespace {

class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  int16_t i16() {
    const uint8_t lo = byte(), hi = byte();
    return static_cast<int16_t>(lo | (hi << 8));
  }
  const uint8_t* rest() const { return data_ + std::min(pos_, size_); }
  size_t restSize() const { return size_ - std::min(pos_, size_); }

 private:
  const uint8_t* data_;
  size_t size_, pos_ = 0;
};

}  // namespace

std::string RunProcessInput(const uint8_t* data, size_t size) {
  Reader in(data, size);
  // Zero sizes are legal input too: every function must then do nothing.
  const int width = in.byte() % 80, height = in.byte() % 80;
  const int x1 = in.i16(), y1 = in.i16(), x2 = in.i16(), y2 = in.i16();
  const int low = static_cast<int8_t>(in.byte()), high = static_cast<int8_t>(in.byte());

  // Exactly-sized buffers, so the address sanitizer sees any access past the frame.
  const size_t n = static_cast<size_t>(width) * static_cast<size_t>(height);
  std::vector<uint16_t> frame(n);
  if (in.restSize() >= 2)
    for (size_t i = 0; i < n; ++i) {
      const size_t at = (2 * i) % (in.restSize() & ~size_t{1});
      frame[i] = static_cast<uint16_t>(in.rest()[at] | (in.rest()[at + 1] << 8));
    }
  uint16_t* f = frame.empty() ? nullptr : frame.data();

  const float oldX = GetStarX(), oldY = GetStarY();
  const int found = FindStar(f, width, height, x1, y1, x2, y2);
  if (found != 0 && found != 1) return "FindStar returned neither 0 nor 1";
  if (found == 1) {
    const float x = GetStarX(), y = GetStarY();
    if (!(x >= -1e-3F && x <= width - 1 + 1e-3F && y >= -1e-3F && y <= height - 1 + 1e-3F))
      return "star outside the frame";
    if (GetXdia() < 0 || GetYdia() < 0) return "negative star diameter";
    if (GetBright() < 0 || GetBright() > 65535) return "brightness out of range";
    if (x1 > x2 || y1 > y2) return "star found in an inverted box";
  } else if (GetStarX() != oldX || GetStarY() != oldY) {
    return "failed search changed the last star";
  }

  int32_t autoLow = -1, autoHigh = -1;
  AutoHistogram(f, width, height, &autoLow, &autoHigh);
  if (!(0 <= autoLow && autoLow < autoHigh && autoHigh <= 100)) return "automatic levels out of order";

  std::vector<uint16_t> work = frame;
  HistogramPreview(work.empty() ? nullptr : work.data(), width, height, low, high);
  // The level mapping must keep the order of pixel values.
  for (size_t i = 0; i < n; ++i)
    for (size_t j = i + 1; j < std::min(n, i + 8); ++j)
      if ((frame[i] < frame[j] && work[i] > work[j]) || (frame[i] > frame[j] && work[i] < work[j]))
        return "level mapping not monotonic";
  work = frame;
  HistogramStretch(work.empty() ? nullptr : work.data(), width, height);
  for (size_t i = 0; i < n; ++i)
    for (size_t j = i + 1; j < std::min(n, i + 8); ++j)
      if ((frame[i] < frame[j] && work[i] > work[j]) || (frame[i] > frame[j] && work[i] < work[j]))
        return "stretch not monotonic";

  work = frame;
  const int replaced = denoise(work.empty() ? nullptr : work.data(), width, height);
  int changed = 0;
  for (size_t i = 0; i < n; ++i) changed += work[i] != frame[i];
  if (replaced != changed) return "denoise miscounted its replacements";

  std::vector<uint8_t> rgb(n * 3);
  for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<uint8_t>(frame[i / 3] >> (i % 3));
  std::vector<uint8_t> copy = rgb;
  uint8_t* p = rgb.empty() ? nullptr : rgb.data();
  HFLIP(p, width, height);
  HFLIP(p, width, height);
  INVERT(p, width, height);
  INVERT(p, width, height);
  if (rgb != copy) return "flip or invert applied twice is not the identity";

  std::vector<uint8_t> target(rgb.size() + 1, 0xA5);
  bufferCopy(p, target.data(), static_cast<int32_t>(rgb.size()));
  if (!std::equal(rgb.begin(), rgb.end(), target.begin()) || target.back() != 0xA5)
    return "bufferCopy copied the wrong bytes";
  return {};
}

}  // namespace telvane::process::fuzz
