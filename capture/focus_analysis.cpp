#include "telvane/focus_analysis.h"

#include <cmath>
#include <cstdlib>
#include <utility>

namespace telvane {

namespace {

constexpr int kCellCount = kFocusPatchSize * kFocusPatchSize;  // 1681
constexpr double kFwhmPerSigma = 2.3548;
constexpr double kSweepStart = 0.1;
constexpr double kSweepStep = 0.05;
constexpr double kSweepEnd = 20.0;
// Cells on the line may fall below the start cell by at most this many thresholds: a bright
// start separated from the star by a deep dip belongs to something else.
constexpr int64_t kDipThresholds = 5;

bool InPatch(int column, int row) {
  return column >= 0 && column < kFocusPatchSize && row >= 0 && row < kFocusPatchSize;
}

}  // namespace

bool ConnectedToCentre(const FocusPatchGrid& patch, int column, int row, int32_t threshold) {
  if (!InPatch(column, row)) return false;
  const int64_t floor = static_cast<int64_t>(patch[column][row]) - kDipThresholds * threshold;

  int x0 = column, y0 = row, x1 = kFocusPatchCentre, y1 = kFocusPatchCentre;
  const bool steep = std::abs(y1 - y0) > std::abs(x1 - x0);
  if (steep) {  // walk along rows
    std::swap(x0, y0);
    std::swap(x1, y1);
  }
  if (x0 > x1) {
    std::swap(x0, x1);
    std::swap(y0, y1);
  }
  const int dx = x1 - x0;
  const int dy = std::abs(y1 - y0);
  const int ystep = y0 < y1 ? 1 : -1;
  int error = -(dx / 2);
  int y = y0;
  for (int x = x0; x <= x1; ++x) {
    const int32_t value = steep ? patch[y][x] : patch[x][y];
    if (value < threshold || value < floor) return false;
    error += dy;
    if (error > 0) {
      y += ystep;
      error -= dx;
    }
  }
  return true;
}

double GaussianResidual(const FocusPatchGrid& patch, double sigma, double amplitude) {
  const double twoSigmaSquared = 2.0 * sigma * sigma;
  double sum = 0.0;
  int count = 0;
  for (int i = 0; i < kFocusPatchSize; ++i) {
    for (int j = 0; j < kFocusPatchSize; ++j) {
      const int32_t value = patch[i][j];
      if (value <= 0) continue;
      const int di = i - kFocusPatchCentre, dj = j - kFocusPatchCentre;
      const double model = amplitude * std::exp(-static_cast<double>(di * di + dj * dj) / twoSigmaSquared);
      const double d = value - model;
      sum += d * d;
      ++count;
    }
  }
  return count == 0 ? -1.0 : std::sqrt(sum / count);
}

double EstimateFwhm(const FocusPatchGrid& patch, double amplitude) {
  double sigma = kSweepStart;
  double residual = GaussianResidual(patch, sigma, amplitude);
  while (sigma < kSweepEnd) {
    const double nextSigma = sigma + kSweepStep;
    const double nextResidual = GaussianResidual(patch, nextSigma, amplitude);
    if (nextResidual > residual) return kFwhmPerSigma * sigma;
    sigma = nextSigma;
    residual = nextResidual;
  }
  return kFwhmNotFound;
}

MonoPatchResult AnalyseMonoPatch(FocusPatchGrid& patch) {
  MonoPatchResult result;
  int64_t min = 65536, max = 0, sum = 0;
  for (const auto& column : patch) {
    for (int32_t value : column) {
      if (value < min) min = value;
      if (value > max) max = value;
      sum += value;
    }
  }
  const double mean = static_cast<double>(sum) / kCellCount;
  double squares = 0.0;
  for (const auto& column : patch) {
    for (int32_t value : column) squares += (value - mean) * (value - mean);
  }
  // The root of the summed squares over the cell count (not the RMS): a deliberately low
  // threshold, just above the patch mean.
  const double spread = std::sqrt(squares) / kCellCount;
  const auto threshold = static_cast<int32_t>(std::nearbyint(mean + 4.0 * spread));

  // In place, rows outer and columns inner: later cells are tested against the already
  // reduced values of earlier ones. The reported FWHM depends on that order; keep it.
  for (int j = 0; j < kFocusPatchSize; ++j) {
    for (int i = 0; i < kFocusPatchSize; ++i) {
      int32_t reduced = 0;
      if (ConnectedToCentre(patch, i, j, threshold)) {
        reduced = static_cast<int32_t>(std::nearbyint(patch[i][j] - mean));
        if (reduced < 0) reduced = 0;
      }
      patch[i][j] = reduced;
    }
  }

  result.Min = static_cast<int32_t>(min);
  result.Max = static_cast<int32_t>(max);
  result.Mean = mean;
  result.Threshold = threshold;
  result.Fwhm = EstimateFwhm(patch, static_cast<double>(max - static_cast<int64_t>(std::nearbyint(mean))));
  return result;
}

}  // namespace telvane
