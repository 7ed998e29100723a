// FWHM accuracy of the focus analysis on simulated stars, next to a least-squares 2-D Gaussian
// fit (Levenberg-Marquardt on amplitude, centre, sigma and background) of the same pixels.
//
// Each trial renders one Gaussian star (sampled at pixel centres, random sub-pixel centre) on
// a flat background with Gaussian noise of standard deviation peak / SNR, finds it with
// libprocess's FindStar as the capture loop does, and measures it as the focus window does.
// Usage: focus_accuracy [trials per cell, default 20]
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

#include "process.h"
#include "telvane/display.h"
#include "telvane/display_frame.h"

namespace {

constexpr int kSize = 160;  // frame width and height
constexpr double kBackground = 10000.0;
constexpr double kPeak = 20000.0;
constexpr int kFitHalf = 20;  // the fit uses the same 41 x 41 pixels as the focus patch
constexpr double kFwhmPerSigma = 2.354820045;  // 2 sqrt(2 ln 2)

struct Star {
  double x, y;  // buffer column and row of the centre
  double sigma;
};

std::vector<uint16_t> Render(const Star& star, double noiseSigma, std::mt19937& random) {
  std::normal_distribution<double> noise(0.0, noiseSigma);
  std::vector<uint16_t> frame(kSize * kSize);
  for (int r = 0; r < kSize; ++r) {
    for (int c = 0; c < kSize; ++c) {
      const double d2 = (c - star.x) * (c - star.x) + (r - star.y) * (r - star.y);
      const double v = kBackground + kPeak * std::exp(-d2 / (2 * star.sigma * star.sigma)) + noise(random);
      frame[r * kSize + c] = static_cast<uint16_t>(std::clamp(std::lround(v), 0L, 65535L));
    }
  }
  return frame;
}

// Solves the 5 x 5 system a x = b (Gaussian elimination with partial pivoting).
bool Solve(std::array<std::array<double, 5>, 5> a, std::array<double, 5> b, std::array<double, 5>& x) {
  for (int col = 0; col < 5; ++col) {
    int pivot = col;
    for (int r = col + 1; r < 5; ++r)
      if (std::fabs(a[r][col]) > std::fabs(a[pivot][col])) pivot = r;
    if (std::fabs(a[pivot][col]) < 1e-300) return false;
    std::swap(a[col], a[pivot]);
    std::swap(b[col], b[pivot]);
    for (int r = col + 1; r < 5; ++r) {
      const double f = a[r][col] / a[col][col];
      for (int k = col; k < 5; ++k) a[r][k] -= f * a[col][k];
      b[r] -= f * b[col];
    }
  }
  for (int r = 4; r >= 0; --r) {
    double s = b[r];
    for (int k = r + 1; k < 5; ++k) s -= a[r][k] * x[k];
    x[r] = s / a[r][r];
  }
  return true;
}

using Params = std::array<double, 5>;  // amplitude, x0, y0, sigma, background
using Points = std::vector<std::array<double, 3>>;  // column, row, value

double Cost(const Points& points, const Params& q) {
  double sum = 0;
  for (const auto& pt : points) {
    const double d2 = (pt[0] - q[1]) * (pt[0] - q[1]) + (pt[1] - q[2]) * (pt[1] - q[2]);
    const double m = q[4] + q[0] * std::exp(-d2 / (2 * q[3] * q[3]));
    sum += (pt[2] - m) * (pt[2] - m);
  }
  return sum;
}

// Levenberg-Marquardt from one start; returns the final cost and leaves the result in p.
double Refine(const Points& points, int cx, int cy, Params& p) {
  double lambda = 1e-3;
  double current = Cost(points, p);
  for (int iteration = 0; iteration < 200; ++iteration) {
    std::array<std::array<double, 5>, 5> jtj{};
    std::array<double, 5> jtr{};
    for (const auto& pt : points) {
      const double dx = pt[0] - p[1], dy = pt[1] - p[2], s2 = p[3] * p[3];
      const double e = std::exp(-(dx * dx + dy * dy) / (2 * s2));
      const double m = p[4] + p[0] * e;
      const std::array<double, 5> j = {e, p[0] * e * dx / s2, p[0] * e * dy / s2,
                                       p[0] * e * (dx * dx + dy * dy) / (s2 * p[3]), 1.0};
      for (int a = 0; a < 5; ++a) {
        jtr[a] += j[a] * (pt[2] - m);
        for (int b = 0; b < 5; ++b) jtj[a][b] += j[a] * j[b];
      }
    }
    bool improved = false, converged = false;
    while (lambda < 1e12) {
      auto damped = jtj;
      for (int a = 0; a < 5; ++a) damped[a][a] *= 1 + lambda;
      std::array<double, 5> step{};
      if (!Solve(damped, jtr, step)) break;
      Params trial;
      for (int a = 0; a < 5; ++a) trial[a] = p[a] + step[a];
      trial[3] = std::fabs(trial[3]);
      // Keep the model a star inside the window; a step outside is treated as a worse fit.
      const bool inside = trial[0] > 0 && trial[3] > 0.2 && trial[3] < kFitHalf &&
                          std::fabs(trial[1] - cx) < kFitHalf && std::fabs(trial[2] - cy) < kFitHalf;
      const double c = inside ? Cost(points, trial) : INFINITY;
      if (c < current) {
        converged = (current - c) / current < 1e-12;
        p = trial;
        current = c;
        lambda = std::max(lambda / 10, 1e-9);
        improved = true;
        break;
      }
      lambda *= 10;
    }
    if (!improved || converged) break;
  }
  return current;
}

// Fits the 41 x 41 window around (cx, cy); returns the fitted FWHM. Started from a few widths
// (the finder's half-maximum diameters among them), keeping the best, so that a noisy frame
// does not leave the fit in a poor local minimum.
double FitGaussian(const std::vector<uint16_t>& frame, int cx, int cy, double finderSigma) {
  Points points;
  for (int r = cy - kFitHalf; r <= cy + kFitHalf; ++r)
    for (int c = cx - kFitHalf; c <= cx + kFitHalf; ++c)
      if (r >= 0 && r < kSize && c >= 0 && c < kSize) points.push_back({double(c), double(r), double(frame[r * kSize + c])});

  // Background from the window's lower quartile, amplitude from its brightest pixel.
  std::vector<double> values;
  for (const auto& p : points) values.push_back(p[2]);
  std::nth_element(values.begin(), values.begin() + values.size() / 4, values.end());
  const double b0 = values[values.size() / 4];
  const double peak = *std::max_element(values.begin(), values.end()) - b0;

  double bestCost = INFINITY, bestSigma = NAN;
  for (double s0 : {std::clamp(finderSigma, 0.5, 10.0), 1.0, 2.5, 5.0}) {
    Params p = {std::max(peak, 1.0), double(cx), double(cy), s0, b0};
    const double c = Refine(points, cx, cy, p);
    if (c < bestCost) {
      bestCost = c;
      bestSigma = p[3];
    }
  }
  return kFwhmPerSigma * bestSigma;
}

struct Stats {
  double sum = 0, squares = 0;
  int count = 0;
  void Add(double v) {
    sum += v;
    squares += v * v;
    ++count;
  }
  double Mean() const { return count ? sum / count : NAN; }
  double Sd() const { return count > 1 ? std::sqrt(std::max(0.0, (squares - sum * sum / count) / (count - 1))) : 0; }
};

}  // namespace

int main(int argc, char** argv) {
  const int trials = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  const double fwhms[] = {2, 3, 4, 6, 8, 10, 12};
  const double snrs[] = {10, 30, 100, 1000};
  std::mt19937 random(20261211);
  std::uniform_real_distribution<double> offset(-0.5, 0.5);
  auto display = std::make_unique<telvane::DisplayFrame>();

  std::printf("Simulated Gaussian stars, peak %.0f on background %.0f, noise sd = peak / SNR, %d trials per row.\n",
              kPeak, kBackground, trials);
  std::printf("FWHM in pixels: mean (sd) over the trials where a star was found. 'no star': FindStar found none\n"
              "(or the patch left the frame); '999': the focus analysis found no width (left out of its mean).\n\n");
  std::printf("| true FWHM | peak/noise | no star | focus analysis | bias | 999 | LSQ fit | bias |\n");
  std::printf("|---:|---:|---:|---:|---:|---:|---:|---:|\n");
  for (double fwhm : fwhms) {
    for (double snr : snrs) {
      Stats focus, fit;
      int notFound = 0, noWidth = 0;
      for (int t = 0; t < trials; ++t) {
        const Star star{kSize / 2 + offset(random), kSize / 2 + offset(random), fwhm / kFwhmPerSigma};
        const std::vector<uint16_t> frame = Render(star, kPeak / snr, random);
        if (FindStar(frame.data(), kSize, kSize, 30, 30, kSize - 30, kSize - 30) != 1) {
          ++notFound;
          continue;
        }
        float fx = GetStarX(), fy = GetStarY();
        if (fx == 0.0f && fy == 0.0f) {
          fx = kSize / 2;
          fy = kSize / 2;
        }
        telvane::DisplayInputs in;
        in.Pixels = frame.data();
        in.Width = in.Height = kSize;
        in.NewFrame = in.FocusMode = true;
        in.Info.FrameWidth = in.Info.FrameHeight = kSize;
        in.Info.StarX = fx;
        in.Info.StarY = kSize - fy;
        in.Info.StarBrightness = GetBright();
        telvane::ComputeDisplay(in, *display);
        if (!display->FocusUpdated) {
          ++notFound;
        } else if (display->FocusFwhm == telvane::kFwhmNotFound) {
          ++noWidth;
        } else {
          focus.Add(display->FocusFwhm);
        }
        const double finderSigma = (GetXdia() + GetYdia()) / 2.0 / kFwhmPerSigma;
        const double fitted = FitGaussian(frame, static_cast<int>(std::lround(fx)), static_cast<int>(std::lround(fy)),
                                          finderSigma);
        fit.Add(fitted);
      }
      std::printf("| %4.0f | %5.0f | %2d | %6.2f (%.2f) | %+6.2f | %2d | %6.2f (%.2f) | %+6.2f |\n", fwhm, snr,
                  notFound, focus.Mean(), focus.Sd(), focus.Mean() - fwhm, noWidth, fit.Mean(), fit.Sd(),
                  fit.Mean() - fwhm);
    }
  }
  return 0;
}
