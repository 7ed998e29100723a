#include <algorithm>
#include <cstring>

#include "common.h"

namespace telvane::process {

void Histogram::reset() {
  if (hi_ >= lo_) std::fill(bins_.begin() + lo_, bins_.begin() + hi_ + 1, 0U);
  count_ = 0;
  lo_ = kBins;
  hi_ = -1;
}

void Histogram::add(const uint16_t* pixels, size_t n) {
  uint16_t lo = 65535, hi = 0;
  for (size_t i = 0; i < n; ++i) {
    ++bins_[pixels[i]];
    lo = std::min(lo, pixels[i]);
    hi = std::max(hi, pixels[i]);
  }
  count_ += n;
  if (n > 0) {
    lo_ = std::min<int>(lo_, lo);
    hi_ = std::max<int>(hi_, hi);
  }
}

void Histogram::addRect(const uint16_t* frame, int32_t width, int x1, int y1, int x2, int y2) {
  const size_t boxWidth = static_cast<size_t>(x2 - x1 + 1);
  const size_t rows = static_cast<size_t>(y2 - y1 + 1);
  const size_t stride = static_cast<size_t>(width);
  // Whole rows, so the samples are contiguous and memory traffic shrinks with their number.
  size_t rowStep = 1;
  if (boxWidth * rows > 2 * kSampleTarget) rowStep = (boxWidth * rows / kSampleTarget) | 1;
  for (size_t r = 0; r < rows; r += rowStep) add(frame + (y1 + r) * stride + x1, boxWidth);
}

int Histogram::valueAtRank(uint64_t rank) const {
  uint64_t seen = 0;
  for (int v = lo_; v <= hi_; ++v) {
    seen += bins_[v];
    if (seen > rank) return v;
  }
  return std::max(hi_, 0);
}

int Histogram::percentile(double fraction) const {
  if (count_ == 0) return 0;
  const double r = std::clamp(fraction, 0.0, 1.0) * static_cast<double>(count_ - 1);
  return valueAtRank(static_cast<uint64_t>(r));
}

int Histogram::mad(int centre) const {
  if (count_ == 0) return 0;
  // Grow a window around the centre until it holds half of the samples.
  const uint64_t half = (count_ + 1) / 2;
  uint64_t inside = bins_[centre];
  int d = 0;
  while (inside < half && d < kBins) {
    ++d;
    if (centre - d >= 0) inside += bins_[centre - d];
    if (centre + d < kBins) inside += bins_[centre + d];
  }
  return d;
}

}  // namespace telvane::process
