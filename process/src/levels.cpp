// Display levels: automatic black/white levels, the linear level mapping and the
// non-linear stretch. All three work through 65536-entry tables so the pixel pass is one
// table look-up per pixel.
#include <algorithm>
#include <mutex>

#include "common.h"
#include "process.h"

using namespace telvane::process;

namespace {

// Automatic levels: black a little below the sky so that sky noise stays visible, white at
// the level only the brightest 0.1 % of pixels reach, but never closer to the sky than
// kWhiteMinSigmas so that a starless frame is not stretched into pure noise.
constexpr double kBlackSigmas = 2.8;
constexpr double kWhiteFraction = 0.999;
constexpr double kWhiteMinSigmas = 10.0;

// Stretch: the sky goes to a quarter of full scale, the usual grey for a visible but dark
// background; kBlackSigmas below the sky becomes black.
constexpr double kStretchSkyTarget = 0.25;

std::mutex statsLock;  // guards stats and stretchLut
Histogram stats;
std::array<uint16_t, Histogram::kBins> stretchLut;

std::mutex previewLock;  // guards previewLut and its key
std::array<uint16_t, Histogram::kBins> previewLut;
int previewLow = -1, previewHigh = -1;

void applyLut(uint16_t* frame, size_t n, const std::array<uint16_t, Histogram::kBins>& lut) {
  for (size_t i = 0; i < n; ++i) frame[i] = lut[frame[i]];
}

struct SkyStats {
  int median;
  double sigma;
};

SkyStats skyStats(const uint16_t* frame, int32_t width, int32_t height) {
  stats.reset();
  stats.addRect(frame, width, 0, 0, width - 1, height - 1);
  const int median = stats.median();
  // Below one count the MAD is quantisation, not noise.
  return {median, std::max(1.0, stats.sigma(median))};
}

// Midtones transfer function: monotonic, maps 0 to 0, 1 to 1 and m to 1/2.
double midtones(double m, double x) {
  if (x <= 0.0) return 0.0;
  if (x >= 1.0) return 1.0;
  return (m - 1.0) * x / ((2.0 * m - 1.0) * x - m);
}

}  // namespace

extern "C" {

void AutoHistogram(const uint16_t* frame, int32_t width, int32_t height, int32_t* low,
                   int32_t* high) {
  if (low == nullptr || high == nullptr) return;
  // The caller uses the results whatever happens, so an unusable frame gives the neutral
  // full range rather than leaving its variables unset.
  *low = 0;
  *high = 100;
  if (!validFrame(frame, width, height)) return;

  std::lock_guard<std::mutex> guard(statsLock);
  const SkyStats sky = skyStats(frame, width, height);
  const double black = std::max(0.0, sky.median - kBlackSigmas * sky.sigma);
  const double white = std::min<double>(
      kFullScale,
      std::max<double>(stats.percentile(kWhiteFraction), sky.median + kWhiteMinSigmas * sky.sigma));
  int lo = static_cast<int>(std::floor(black * 100.0 / kFullScale));
  int hi = static_cast<int>(std::ceil(white * 100.0 / kFullScale));
  lo = std::clamp(lo, 0, 99);
  hi = std::clamp(hi, lo + 1, 100);
  *low = lo;
  *high = hi;
}

void HistogramPreview(uint16_t* frame, int32_t width, int32_t height, int32_t low, int32_t high) {
  if (!validFrame(frame, width, height)) return;
  low = std::clamp(low, 0, 100);
  high = std::clamp(high, 0, 100);
  if (low == 0 && high == 100) return;  // identity

  std::lock_guard<std::mutex> guard(previewLock);
  if (low != previewLow || high != previewHigh) {
    const long black = roundEven(low * kFullScale / 100.0);
    const long white = roundEven(high * kFullScale / 100.0);
    if (black >= white) {
      // No range left: the limit of the mapping as white approaches black is a threshold.
      for (int v = 0; v < Histogram::kBins; ++v)
        previewLut[v] = static_cast<uint16_t>(v < black ? 0 : kFullScale);
    } else {
      const double scale = static_cast<double>(kFullScale) / static_cast<double>(white - black);
      for (int v = 0; v < Histogram::kBins; ++v) {
        const double mapped = std::clamp((v - black) * scale, 0.0, double{kFullScale});
        previewLut[v] = static_cast<uint16_t>(roundEven(mapped));
      }
    }
    previewLow = low;
    previewHigh = high;
  }
  applyLut(frame, pixelCount(width, height), previewLut);
}

void HistogramStretch(uint16_t* frame, int32_t width, int32_t height) {
  if (!validFrame(frame, width, height)) return;
  const size_t n = pixelCount(width, height);

  std::lock_guard<std::mutex> guard(statsLock);
  const SkyStats sky = skyStats(frame, width, height);
  const double black = std::max(0.0, sky.median - kBlackSigmas * sky.sigma);
  const double range = kFullScale - black;
  if (range < 1.0) return;  // saturated frame: nothing to stretch
  // Midtones balance that puts the sky at the target grey; a sky already at or above the
  // target keeps a linear mapping (m = 1/2) so the stretch never darkens it.
  const double sky01 = std::max((sky.median - black) / range, 1e-6);
  double m = 0.5;
  if (sky01 < kStretchSkyTarget)
    m = sky01 * (kStretchSkyTarget - 1.0) /
        ((2.0 * sky01 - 1.0) * kStretchSkyTarget - sky01);
  const double toUnit = 1.0 / range;
  for (int v = 0; v < Histogram::kBins; ++v)
    stretchLut[v] =
        static_cast<uint16_t>(roundEven(kFullScale * midtones(m, (v - black) * toUnit)));
  applyLut(frame, n, stretchLut);
}

}  // extern "C"
