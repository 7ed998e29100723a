// Internals shared by the libprocess sources; nothing here is exported.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>

// Builds a hot loop for several instruction sets, chosen when the library loads (ifunc).
// Left out under the sanitizers: their runtime is not ready when the loader runs the
// instrumented resolver, which then crashes before main.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TELVANE_PROCESS_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || \
    __has_feature(undefined_behavior_sanitizer)
#define TELVANE_PROCESS_SANITIZED 1
#endif
#endif
#if defined(__x86_64__) && defined(__has_attribute) && !defined(TELVANE_PROCESS_SANITIZED)
#if __has_attribute(target_clones)
#define TELVANE_PROCESS_CLONES(...) __attribute__((target_clones(__VA_ARGS__)))
#endif
#endif
#ifndef TELVANE_PROCESS_CLONES
#define TELVANE_PROCESS_CLONES(...)
#endif

namespace telvane::process {

// The capture thread's frame buffer holds at most this many pixels; a larger size is a
// caller error and would make us read past its buffer.
inline constexpr long long kMaxPixels = 17500001;
inline constexpr int kFullScale = 65535;

inline bool validFrame(const void* p, int32_t width, int32_t height) {
  return p != nullptr && width > 0 && height > 0 &&
         static_cast<long long>(width) * height <= kMaxPixels;
}

inline size_t pixelCount(int32_t width, int32_t height) {
  return static_cast<size_t>(width) * static_cast<size_t>(height);
}

// Nearest integer, halves to even (the program-wide rounding rule).
inline long roundEven(double v) { return std::lrint(v); }

// Integer halving with halves to even.
inline int halfEven(int sum) {
  int q = sum >> 1;
  if ((sum & 1) && (q & 1)) ++q;
  return q;
}

// 65536-bin histogram of 16-bit values. Each user keeps one as static storage (256 KiB)
// guarded by its own mutex, so no call allocates. The range of values seen is tracked so
// that clearing and walking a small box's histogram cost its range, not 65536 bins.
class Histogram {
 public:
  static constexpr int kBins = 65536;
  static constexpr size_t kSampleTarget = size_t{1} << 20;

  void reset();
  void add(const uint16_t* pixels, size_t n);
  // Adds the rectangle x1..x2, y1..y2 (inclusive). Beyond 2 x kSampleTarget pixels only
  // every k-th row is taken (k odd, so both row colours of a 2x2 mosaic are sampled):
  // a million samples fix the median, the MAD and the 99.9th percentile far more finely
  // than any use of them needs.
  void addRect(const uint16_t* frame, int32_t width, int x1, int y1, int x2, int y2);
  void bump(unsigned value) {
    ++bins_[value];
    ++count_;
    lo_ = std::min(lo_, static_cast<int>(value));
    hi_ = std::max(hi_, static_cast<int>(value));
  }

  uint64_t count() const { return count_; }
  // Smallest value whose cumulative count exceeds rank (rank counted from 0).
  int valueAtRank(uint64_t rank) const;
  // Value below which the given fraction (0..1) of the samples lie.
  int percentile(double fraction) const;
  int median() const { return valueAtRank((count_ - 1) / 2); }
  // Median absolute deviation from centre, in whole counts.
  int mad(int centre) const;
  // Robust noise: 1.4826 x MAD, which is sigma for Gaussian noise.
  double sigma(int centre) const { return 1.4826 * mad(centre); }

 private:
  std::array<uint32_t, kBins> bins_{};  // 17.5 M samples fit in 32 bits
  uint64_t count_ = 0;
  int lo_ = kBins, hi_ = -1;  // smallest and largest value added since reset
};

}  // namespace telvane::process
