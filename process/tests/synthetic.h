// Synthetic sky frames for the libprocess tests: sky level, Gaussian noise, Gaussian stars.
#pragma once

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace telvane::process::test {

struct Sky {
  int width = 0, height = 0;
  std::vector<uint16_t> pixels;

  uint16_t& at(int x, int y) { return pixels[static_cast<size_t>(y) * width + x]; }
  uint16_t at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

inline uint16_t clampPixel(double v) {
  return static_cast<uint16_t>(std::lround(std::fmin(65535.0, std::fmax(0.0, v))));
}

// Sky level plus Gaussian noise of the given sigma; fixed seed so failures reproduce.
inline Sky noisySky(int width, int height, double level, double sigma, unsigned seed = 7) {
  Sky s{width, height, std::vector<uint16_t>(static_cast<size_t>(width) * height)};
  std::mt19937 rng(seed);
  std::normal_distribution<double> noise(0.0, sigma);
  for (auto& p : s.pixels) p = clampPixel(level + (sigma > 0 ? noise(rng) : 0.0));
  return s;
}

// Adds a circular Gaussian star (peak above the sky, full width at half maximum in pixels)
// integrated over each pixel by 5x5 sub-sampling, centred at (cx, cy) in pixel coordinates
// (pixel centres at integers).
inline void addStar(Sky& s, double cx, double cy, double peak, double fwhm) {
  const double sigma = fwhm / 2.3548;
  const int reach = static_cast<int>(std::ceil(5 * sigma)) + 1;
  for (int y = static_cast<int>(cy) - reach; y <= static_cast<int>(cy) + reach; ++y)
    for (int x = static_cast<int>(cx) - reach; x <= static_cast<int>(cx) + reach; ++x) {
      if (x < 0 || y < 0 || x >= s.width || y >= s.height) continue;
      double sum = 0;
      for (int j = 0; j < 5; ++j)
        for (int i = 0; i < 5; ++i) {
          const double dx = x - 0.4 + 0.2 * i - cx, dy = y - 0.4 + 0.2 * j - cy;
          sum += std::exp(-(dx * dx + dy * dy) / (2 * sigma * sigma));
        }
      s.at(x, y) = clampPixel(s.at(x, y) + peak * sum / 25.0);
    }
}

inline double stddev(const Sky& s, int x0, int y0, int x1, int y1) {
  double sum = 0, sum2 = 0;
  int n = 0;
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) {
      const double v = s.at(x, y);
      sum += v;
      sum2 += v * v;
      ++n;
    }
  const double mean = sum / n;
  return std::sqrt(sum2 / n - mean * mean);
}

}  // namespace telvane::process::test
