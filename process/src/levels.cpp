// Display levels: automatic black/white levels, the linear level mapping and the
// non-linear stretch. The statistics come from a 65536-bin histogram; the stretch is one
// look-up per pixel in a 65536-entry table, the linear mapping plain fixed-point arithmetic.
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


void applyLut(uint16_t* frame, size_t n, const std::array<uint16_t, Histogram::kBins>& lut) {
  for (size_t i = 0; i < n; ++i) frame[i] = lut[frame[i]];
}

// (v - black) x 65535 / (white - black), clipped, in 16.16 fixed point: with
// mul = 65535 x 65536 / span rounded, (v - black) x mul stays below 2^32 - 32768 for every
// v in [black, white], so the whole computation fits 32-bit lanes and vectorises. The result
// is within one count of exact rounding and hits 0 and 65535 exactly at black and white.
TELVANE_PROCESS_CLONES("avx2", "default")
void mapLinear(uint16_t* frame, size_t n, uint32_t black, uint32_t white, uint32_t mul) {
  for (size_t i = 0; i < n; ++i) {
    uint32_t v = frame[i];
    v = v < black ? black : v;
    v = v > white ? white : v;
    frame[i] = static_cast<uint16_t>(((v - black) * mul + 32768U) >> 16);
  }
}

TELVANE_PROCESS_CLONES("avx2", "default")
void mapThreshold(uint16_t* frame, size_t n, uint16_t level) {
  for (size_t i = 0; i < n; ++i) frame[i] = frame[i] < level ? uint16_t{0} : uint16_t{65535};
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

  const long black = roundEven(low * kFullScale / 100.0);
  const long white = roundEven(high * kFullScale / 100.0);
  const size_t n = pixelCount(width, height);
  if (black >= white) {
    // No range left: the limit of the mapping as white approaches black is a threshold.
    mapThreshold(frame, n, static_cast<uint16_t>(black));
    return;
  }
  const uint64_t span = static_cast<uint64_t>(white - black);
  const uint64_t mul = (uint64_t{kFullScale} * 65536 + span / 2) / span;
  mapLinear(frame, n, static_cast<uint32_t>(black), static_cast<uint32_t>(white),
            static_cast<uint32_t>(mul));
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
