// Hot and cold pixel removal for colour-mosaic frames.
//
// In a 2x2 colour mosaic the nearest pixels of the same colour are 2 apart, so each pixel
// is compared with the median of its 8 same-colour neighbours at (+-2, +-2). It is a defect
// when it lies further from that median than both kNoiseSigmas x the frame's noise and
// kSpreadFactor x the local spread of the neighbours (so busy regions such as a star's wing
// are left alone). A pixel standing high above its same-colour neighbours may also be the
// core of a small star; unlike a hot pixel, a star lifts the adjacent pixels of the other
// colours too, so a high pixel whose adjacent pixels are lifted (relative to their own
// same-colour neighbours) is kept. Defects get the neighbour median.
//
// Decisions are made on the unmodified frame: replacements are queued and written only
// once the scan has moved past every row that could still read them (3 rows). The queue
// is a fixed ring; a frame with more defects within three rows than it holds keeps the
// excess pixels unchanged rather than allocate.
#include <algorithm>
#include <cstring>
#include <mutex>

#include "common.h"
#include "process.h"

using namespace telvane::process;

namespace {

constexpr double kNoiseSigmas = 6.0;   // ~1 false hit per 50 M pixels of Gaussian noise
constexpr int kSpreadFactor = 3;
constexpr double kSupportSigmas = 3.0;  // adjacent lift that counts as "lifted"
constexpr int kSupportRatio = 16;       // ... and at least 1/16 of the pixel's own excess
constexpr int kLattice = 2;             // same-colour pitch of the mosaic
constexpr int kReadRows = 3;            // rows above and below a decision reads
constexpr size_t kQueueSize = size_t{1} << 18;
constexpr size_t kNoiseSamples = size_t{1} << 20;
constexpr int kChunk = 1024;

struct Replacement {
  uint32_t index;
  uint16_t value;
};

std::mutex lock;  // guards everything below
Histogram differences;
std::array<Replacement, kQueueSize> ring;

struct Frame {
  uint16_t* p;
  int w, h;
  uint16_t at(int x, int y) const { return p[static_cast<size_t>(y) * w + x]; }
};

// Branch-free sort of eight values (optimal 19-exchange network).
inline void sort8(uint16_t* s) {
  static constexpr uint8_t kPairs[19][2] = {{0, 2}, {1, 3}, {4, 6}, {5, 7}, {0, 4}, {1, 5}, {2, 6},
                                            {3, 7}, {0, 1}, {2, 3}, {4, 5}, {6, 7}, {2, 4}, {3, 5},
                                            {1, 4}, {3, 6}, {1, 2}, {3, 4}, {5, 6}};
  for (const auto& p : kPairs) {
    const uint16_t lo = std::min(s[p[0]], s[p[1]]), hi = std::max(s[p[0]], s[p[1]]);
    s[p[0]] = lo;
    s[p[1]] = hi;
  }
}

// Same-colour neighbours of (x, y) that lie in the frame, sorted ascending; returns count.
int neighbours(const Frame& f, int x, int y, uint16_t* out) {
  if (x >= kLattice && y >= kLattice && x + kLattice < f.w && y + kLattice < f.h) {
    const uint16_t* a = f.p + static_cast<size_t>(y - kLattice) * f.w + x;
    const uint16_t* c = f.p + static_cast<size_t>(y) * f.w + x;
    const uint16_t* b = f.p + static_cast<size_t>(y + kLattice) * f.w + x;
    out[0] = a[-2], out[1] = a[0], out[2] = a[2], out[3] = c[-2];
    out[4] = c[2], out[5] = b[-2], out[6] = b[0], out[7] = b[2];
    sort8(out);
    return 8;
  }
  int n = 0;
  for (int dy = -kLattice; dy <= kLattice; dy += kLattice)
    for (int dx = -kLattice; dx <= kLattice; dx += kLattice) {
      if (dx == 0 && dy == 0) continue;
      const int nx = x + dx, ny = y + dy;
      if (nx < 0 || ny < 0 || nx >= f.w || ny >= f.h) continue;
      uint16_t v = f.at(nx, ny);
      int i = n++;
      for (; i > 0 && out[i - 1] > v; --i) out[i] = out[i - 1];
      out[i] = v;
    }
  return n;
}

// Lift of the pixels adjacent to (x, y) over their own same-colour medians; the second
// largest of the four, so that one adjacent defect does not count as a star.
int adjacentLift(const Frame& f, int x, int y) {
  static constexpr int kDx[4] = {-1, 1, 0, 0}, kDy[4] = {0, 0, -1, 1};
  int first = -Histogram::kBins, second = -Histogram::kBins, found = 0;
  for (int k = 0; k < 4; ++k) {
    const int ax = x + kDx[k], ay = y + kDy[k];
    if (ax < 0 || ay < 0 || ax >= f.w || ay >= f.h) continue;
    uint16_t ring8[8];
    const int n = neighbours(f, ax, ay, ring8);
    if (n < 3) continue;
    const int lift = f.at(ax, ay) - ring8[n / 2];
    if (lift > first) {
      second = first;
      first = lift;
    } else if (lift > second) {
      second = lift;
    }
    ++found;
  }
  if (found == 0) return 0;
  return found == 1 ? first : second;
}

// Replacement value for (x, y), or -1 when the pixel is fine.
int judge(const Frame& f, int x, int y, int noiseLimit, int supportLimit) {
  uint16_t s[8];
  const int n = neighbours(f, x, y, s);
  if (n < 3) return -1;  // too few same-colour pixels to tell a defect from detail
  const int lower = s[(n - 1) / 2], upper = s[n / 2];
  const int spread = n >= 6 ? s[n - 2] - s[1] : s[n - 1] - s[0];
  const int limit = std::max(noiseLimit, kSpreadFactor * spread);
  const int v = f.at(x, y);
  if (v - upper > limit) {
    const int excess = v - upper;
    const int lift = adjacentLift(f, x, y);
    if (lift > supportLimit && lift * kSupportRatio >= excess) return -1;  // a star's core
    return halfEven(lower + upper);
  }
  if (lower - v > limit) return halfEven(lower + upper);
  return -1;
}

// Noise of one colour channel: differences of same-colour pixels 2 apart along rows (or
// columns in a frame too narrow) have sigma x sqrt(2); their median absolute value is
// 0.6745 x that sigma x sqrt(2).
double channelNoise(const Frame& f) {
  differences.reset();
  const size_t total = static_cast<size_t>(f.w) * f.h;
  const int rowStep = static_cast<int>(std::max<size_t>(1, total / kNoiseSamples));
  if (f.w > kLattice) {
    for (int y = 0; y < f.h; y += rowStep) {
      const uint16_t* r = f.p + static_cast<size_t>(y) * f.w;
      for (int x = 0; x + kLattice < f.w; ++x)
        differences.bump(static_cast<unsigned>(std::abs(r[x] - r[x + kLattice])));
    }
  } else {
    for (int y = 0; y + kLattice < f.h; y += std::max(1, rowStep / 2))
      for (int x = 0; x < f.w; ++x)
        differences.bump(static_cast<unsigned>(std::abs(f.at(x, y) - f.at(x, y + kLattice))));
  }
  if (differences.count() == 0) return 1.0;
  // Below one count the median difference is quantisation, not noise.
  return std::max(1.0, differences.median() / (0.6745 * 1.41421356));
}

// Bounds of the test "at least 5 of the 8 same-colour neighbours lie more than t below
// (above) the pixel", which is exactly "the pixel exceeds their upper median (falls below
// their lower median) by more than t". Saturating bounds keep it exact at both ends.
inline uint16_t lowBound(uint16_t v, uint16_t t) {
  return v > t ? static_cast<uint16_t>(v - t) : uint16_t{0};
}
inline uint16_t highBound(uint16_t v, uint16_t t) {
  return v < 65535 - t ? static_cast<uint16_t>(v + t) : uint16_t{65535};
}

// The full count for pixel x of row c (rows a and b lie kLattice above and below).
inline bool farFromMedian(const uint16_t* a, const uint16_t* c, const uint16_t* b, int x,
                          uint16_t t) {
  const uint16_t lo = lowBound(c[x], t), hi = highBound(c[x], t);
  const int below = (a[x - 2] < lo) + (a[x] < lo) + (a[x + 2] < lo) + (c[x - 2] < lo) +
                    (c[x + 2] < lo) + (b[x - 2] < lo) + (b[x] < lo) + (b[x + 2] < lo);
  const int above = (a[x - 2] > hi) + (a[x] > hi) + (a[x + 2] > hi) + (c[x - 2] > hi) +
                    (c[x + 2] > hi) + (b[x - 2] > hi) + (b[x] > hi) + (b[x + 2] > hi);
  return below >= 5 || above >= 5;
}

// Quick screen of n pixels of row c (pointers at the first pixel, which has kLattice valid
// pixels to its left). If 5 of the 8 neighbours lie below the low bound, at most 3 do not,
// so any 4 of them include one that does: the 4 in line with the pixel suffice as a
// necessary condition, at a third of the full count's cost. Flagged pixels then get the
// full count. Branch-free so it vectorises; also built for AVX2 where the compiler can
// dispatch at load time.
TELVANE_PROCESS_CLONES("avx2", "default")
void screen(const uint16_t* a, const uint16_t* c, const uint16_t* b, int n, uint16_t t,
            uint8_t* flag) {
  for (int x = 0; x < n; ++x) {
    const uint16_t lo = lowBound(c[x], t), hi = highBound(c[x], t);
    flag[x] = static_cast<uint8_t>((a[x] < lo) | (b[x] < lo) | (c[x - 2] < lo) | (c[x + 2] < lo) |
                                   (a[x] > hi) | (b[x] > hi) | (c[x - 2] > hi) | (c[x + 2] > hi));
  }
}

class Queue {
 public:
  explicit Queue(uint16_t* frame) : frame_(frame) {}
  bool push(uint32_t index, int value) {
    if (size_ == kQueueSize) return false;
    ring[(head_ + size_) % kQueueSize] = {index, static_cast<uint16_t>(value)};
    ++size_;
    return true;
  }
  // Writes every queued replacement with an index below limit.
  int flushBelow(size_t limit) {
    int written = 0;
    while (size_ > 0 && ring[head_].index < limit) {
      frame_[ring[head_].index] = ring[head_].value;
      head_ = (head_ + 1) % kQueueSize;
      --size_;
      ++written;
    }
    return written;
  }

 private:
  uint16_t* frame_;
  size_t head_ = 0, size_ = 0;
};

}  // namespace

extern "C" {

int32_t denoise(uint16_t* frame, int32_t width, int32_t height) {
  if (!validFrame(frame, width, height)) return 0;
  std::lock_guard<std::mutex> guard(lock);
  const Frame f{frame, width, height};
  const double noise = channelNoise(f);
  const int noiseLimit = static_cast<int>(std::min(65535.0, std::ceil(kNoiseSigmas * noise)));
  const int supportLimit = static_cast<int>(std::ceil(kSupportSigmas * noise));

  Queue queue(frame);
  int replaced = 0;
  auto consider = [&](int x, int y) {
    const int value = judge(f, x, y, noiseLimit, supportLimit);
    if (value >= 0 && value != f.at(x, y))
      queue.push(static_cast<uint32_t>(static_cast<size_t>(y) * width + x), value);
  };

  const size_t w = static_cast<size_t>(width);
  for (int y = 0; y < height; ++y) {
    const bool interiorRow = y >= kLattice && y + kLattice < height && width > 2 * kLattice;
    if (!interiorRow) {
      for (int x = 0; x < width; ++x) consider(x, y);
    } else {
      for (int x = 0; x < kLattice; ++x) consider(x, y);
      const uint16_t* a = frame + (y - kLattice) * w;
      const uint16_t* c = frame + y * w;
      const uint16_t* b = frame + (y + kLattice) * w;
      const uint16_t t = static_cast<uint16_t>(noiseLimit);
      uint8_t flag[kChunk + 8] = {};  // tail stays zero for the eight-byte scan
      for (int x0 = kLattice; x0 < width - kLattice; x0 += kChunk) {
        const int n = std::min(kChunk, width - kLattice - x0);
        screen(a + x0, c + x0, b + x0, n, t, flag);
        // Flags are almost all zero: skip them eight at a time.
        for (int i = 0; i < n; i += 8) {
          uint64_t eight;
          std::memcpy(&eight, flag + i, 8);
          if (eight == 0) continue;
          for (int k = i; k < std::min(n, i + 8); ++k)
            if (flag[k] && farFromMedian(a, c, b, x0 + k, t)) consider(x0 + k, y);
        }
      }
      for (int x = width - kLattice; x < width; ++x) consider(x, y);
    }
    // Rows up to y - kReadRows are no longer read by any later decision.
    if (y >= kReadRows) replaced += queue.flushBelow(static_cast<size_t>(y - kReadRows + 1) * w);
  }
  replaced += queue.flushBelow(pixelCount(width, height));
  return replaced;
}

}  // extern "C"
