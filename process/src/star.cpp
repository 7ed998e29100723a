// Star finder for the focus aid and the star box.
//
// Background and noise come from the box's histogram (median, 1.4826 x MAD). The peak is
// the largest 3x3 median in the box, which a single hot pixel or even four of them cannot
// fake; it must stand kDetectSigmas above the background. The star's centre is the centroid
// of the 8-connected pixels at or above half maximum around that peak, each weighted by its
// height above the half-maximum level (the weight reaches zero at the boundary, so a pixel
// entering or leaving the set does not make the centre jump). Diameters are the half-maximum
// widths along the peak's row and column, interpolated between pixels.
#include <algorithm>
#include <mutex>

#include "common.h"
#include "process.h"

using namespace telvane::process;

namespace {

constexpr double kDetectSigmas = 5.0;
// Half-size of the square around the peak that the centroid and widths may use; a
// half-maximum region larger than this is no star but a bright patch or nebula.
constexpr int kReach = 127;
constexpr int kWindow = 2 * kReach + 1;
// Pixels of a row scored at once. Short, so that a chunk holding a hot pixel or a star
// does not drag many plain-sky pixels into the median evaluation.
constexpr int kChunk = 64;

struct StarRecord {
  float x = 0.0F, y = 0.0F;
  int32_t xdia = 0, ydia = 0, bright = 0;
};

std::mutex recordLock;  // the getters may be called from another thread than FindStar
StarRecord record;

std::mutex workLock;  // guards the work tables below
Histogram boxHistogram;
std::array<uint8_t, kWindow * kWindow> visited;
std::array<uint32_t, kWindow * kWindow> queue;  // window-relative index of each member

#define SORT2(a, b)              \
  do {                           \
    const uint16_t lo_ = std::min(a, b); \
    b = std::max(a, b);          \
    a = lo_;                     \
  } while (0)

// Median of nine by a fixed exchange network: branch-free, so the compiler vectorises the
// loop that calls it.
inline uint16_t median9(uint16_t p0, uint16_t p1, uint16_t p2, uint16_t p3, uint16_t p4,
                        uint16_t p5, uint16_t p6, uint16_t p7, uint16_t p8) {
  SORT2(p1, p2); SORT2(p4, p5); SORT2(p7, p8);
  SORT2(p0, p1); SORT2(p3, p4); SORT2(p6, p7);
  SORT2(p1, p2); SORT2(p4, p5); SORT2(p7, p8);
  SORT2(p0, p3); SORT2(p5, p8); SORT2(p4, p7);
  SORT2(p3, p6); SORT2(p1, p4); SORT2(p2, p5);
  SORT2(p4, p7); SORT2(p4, p2); SORT2(p6, p4);
  SORT2(p4, p2);
  return p4;
}
#undef SORT2

struct Peak {
  int x = -1, y = -1;
  int score = -1;
};

// Largest 3x3 median among the box pixels whose 3x3 neighbourhood lies in the frame.
Peak findPeak(const uint16_t* frame, int32_t width, int32_t height, int x1, int y1, int x2,
              int y2, int threshold) {
  Peak best;
  const int cx1 = std::max(x1, 1), cx2 = std::min(x2, width - 2);
  const int cy1 = std::max(y1, 1), cy2 = std::min(y2, height - 2);
  const size_t w = static_cast<size_t>(width);
  uint16_t score[kChunk];
  for (int y = cy1; y <= cy2; ++y) {
    const uint16_t* a = frame + (y - 1) * w;
    const uint16_t* b = a + w;
    const uint16_t* c = b + w;
    for (int x0 = cx1; x0 <= cx2; x0 += kChunk) {
      const int n = std::min(kChunk, cx2 - x0 + 1);
      // A 3x3 median cannot exceed the brightest of its nine pixels: skip dark stretches.
      uint16_t brightest = 0;
      for (int i = -1; i <= n; ++i)
        brightest = std::max({brightest, a[x0 + i], b[x0 + i], c[x0 + i]});
      if (brightest < threshold || brightest <= best.score) continue;
      for (int i = 0; i < n; ++i) {
        const int x = x0 + i;
        score[i] = median9(a[x - 1], a[x], a[x + 1], b[x - 1], b[x], b[x + 1], c[x - 1], c[x],
                           c[x + 1]);
      }
      for (int i = 0; i < n; ++i)
        if (score[i] > best.score && score[i] >= threshold) best = {x0 + i, y, score[i]};
    }
  }
  return best;
}

// Where the profile through (px, py) along (dx, dy) first drops below level, as a
// fractional pixel coordinate along that axis.
double halfCrossing(const uint16_t* frame, int32_t width, int32_t height, int px, int py,
                    int dx, int dy, double level) {
  int x = px, y = py;
  for (int step = 0; step < kReach; ++step) {
    const int nx = x + dx, ny = y + dy;
    if (nx < 0 || ny < 0 || nx >= width || ny >= height) break;
    const double inside = frame[static_cast<size_t>(y) * width + x];
    const double outside = frame[static_cast<size_t>(ny) * width + nx];
    if (outside < level) {
      const double t = (inside - level) / (inside - outside);  // inside >= level > outside
      return (dx != 0 ? x : y) + t * (dx != 0 ? dx : dy);
    }
    x = nx;
    y = ny;
  }
  // Profile still above half maximum at the frame edge or the reach limit.
  return (dx != 0 ? x : y) + 0.5 * (dx != 0 ? dx : dy);
}

}  // namespace

extern "C" {

int32_t FindStar(const uint16_t* frame, int32_t width, int32_t height, int32_t x1, int32_t y1,
                 int32_t x2, int32_t y2) {
  if (!validFrame(frame, width, height) || x1 > x2 || y1 > y2) return 0;
  x1 = std::max(x1, 0);
  y1 = std::max(y1, 0);
  x2 = std::min(x2, width - 1);
  y2 = std::min(y2, height - 1);
  if (x1 > x2 || y1 > y2) return 0;  // box entirely outside the frame

  std::lock_guard<std::mutex> guard(workLock);
  boxHistogram.reset();
  boxHistogram.addRect(frame, width, x1, y1, x2, y2);
  const int background = boxHistogram.median();
  const double noise = std::max(1.0, boxHistogram.sigma(background));
  const double detect = background + kDetectSigmas * noise;
  if (detect > kFullScale) return 0;

  const Peak peak =
      findPeak(frame, width, height, x1, y1, x2, y2, static_cast<int>(std::ceil(detect)));
  if (peak.score < 0) return 0;

  // The star's own peak: the brightest pixel of the winning 3x3.
  const size_t w = static_cast<size_t>(width);
  int px = peak.x, py = peak.y;
  int brightest = frame[py * w + px];
  for (int dy = -1; dy <= 1; ++dy)
    for (int dx = -1; dx <= 1; ++dx) {
      const int v = frame[(peak.y + dy) * w + peak.x + dx];
      if (v > brightest) {
        brightest = v;
        px = peak.x + dx;
        py = peak.y + dy;
      }
    }
  const double half = background + (brightest - background) / 2.0;

  // Breadth-first fill of the half-maximum region inside the window around the peak.
  const int wx0 = px - kReach, wy0 = py - kReach;
  auto inWindow = [&](int x, int y) {
    return x >= 0 && y >= 0 && x < width && y < height && x - wx0 < kWindow && y - wy0 < kWindow &&
           x >= wx0 && y >= wy0;
  };
  size_t head = 0, tail = 0;
  queue[tail++] = static_cast<uint32_t>((py - wy0) * kWindow + (px - wx0));
  visited[(py - wy0) * kWindow + (px - wx0)] = 1;
  double sumW = 0.0, sumX = 0.0, sumY = 0.0;
  while (head < tail) {
    const uint32_t cell = queue[head++];
    const int x = wx0 + static_cast<int>(cell % kWindow);
    const int y = wy0 + static_cast<int>(cell / kWindow);
    const double weight = frame[y * w + x] - half;
    sumW += weight;
    sumX += weight * x;
    sumY += weight * y;
    for (int dy = -1; dy <= 1; ++dy)
      for (int dx = -1; dx <= 1; ++dx) {
        const int nx = x + dx, ny = y + dy;
        if (!inWindow(nx, ny)) continue;
        const size_t idx = static_cast<size_t>(ny - wy0) * kWindow + (nx - wx0);
        if (visited[idx] || frame[ny * w + nx] < half) continue;
        visited[idx] = 1;
        queue[tail++] = static_cast<uint32_t>(idx);
      }
  }
  for (size_t i = 0; i < tail; ++i) visited[queue[i]] = 0;  // leave the table clean

  StarRecord found;
  // All members exactly at half maximum (a one-count peak): the peak is the best estimate.
  found.x = static_cast<float>(sumW > 0.0 ? sumX / sumW : px);
  found.y = static_cast<float>(sumW > 0.0 ? sumY / sumW : py);
  const double left = halfCrossing(frame, width, height, px, py, -1, 0, half);
  const double right = halfCrossing(frame, width, height, px, py, 1, 0, half);
  const double top = halfCrossing(frame, width, height, px, py, 0, -1, half);
  const double bottom = halfCrossing(frame, width, height, px, py, 0, 1, half);
  found.xdia = static_cast<int32_t>(roundEven(right - left));
  found.ydia = static_cast<int32_t>(roundEven(bottom - top));
  found.bright = brightest;

  std::lock_guard<std::mutex> publish(recordLock);
  record = found;
  return 1;
}

float GetStarX(void) {
  std::lock_guard<std::mutex> guard(recordLock);
  return record.x;
}
float GetStarY(void) {
  std::lock_guard<std::mutex> guard(recordLock);
  return record.y;
}
int32_t GetXdia(void) {
  std::lock_guard<std::mutex> guard(recordLock);
  return record.xdia;
}
int32_t GetYdia(void) {
  std::lock_guard<std::mutex> guard(recordLock);
  return record.ydia;
}
int32_t GetBright(void) {
  std::lock_guard<std::mutex> guard(recordLock);
  return record.bright;
}

}  // extern "C"
