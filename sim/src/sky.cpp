#include "telvane/sim/sky.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace telvane::sim {
namespace {

uint64_t SplitMix(uint64_t& state) {
  uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

double Uniform(uint64_t& state) { return double(SplitMix(state) >> 11) * 0x1.0p-53; }

// Standard normal deviates at the centres of 65536 equal-probability bins: one table read per
// sample instead of a log and a sqrt, accurate to well inside the noise it models.
constexpr int kGaussBits = 16;
constexpr int kGaussSize = 1 << kGaussBits;

const float* GaussTable() {
  static const std::vector<float> table = [] {
    std::vector<float> t(kGaussSize);
    for (int i = 0; i < kGaussSize / 2; ++i) {
      const double p = (i + 0.5) / kGaussSize;  // lower half; the upper half mirrors it
      // Newton on Phi(x) = p, kept inside a shrinking bracket so the far tail cannot diverge.
      double lo = -10.0, hi = 0.0;
      double x = std::log(p / (1.0 - p)) / 1.702;  // logistic first guess
      for (int k = 0; k < 60; ++k) {
        const double f = 0.5 * std::erfc(-x / std::sqrt(2.0)) - p;
        if (f < 0) {
          lo = x;
        } else {
          hi = x;
        }
        const double pdf = std::exp(-0.5 * x * x) / std::sqrt(2.0 * M_PI);
        double next = x - f / pdf;
        if (!(next > lo && next < hi)) next = 0.5 * (lo + hi);
        if (std::abs(next - x) < 1e-12) break;
        x = next;
      }
      t[i] = float(x);
      t[kGaussSize - 1 - i] = float(-x);
    }
    return t;
  }();
  return table.data();
}

// Charge fraction of a 1-D Gaussian centred at c falling between lo and hi.
double Fraction(double lo, double hi, double c, double sigma) {
  const double k = 1.0 / (sigma * std::sqrt(2.0));
  return 0.5 * (std::erf((hi - c) * k) - std::erf((lo - c) * k));
}

}  // namespace

SkyRenderer::SkyRenderer(SkyParams params) : params_(std::move(params)) {
  uint64_t state = params_.seed ^ 0x5EEDF00Dull;
  stars_ = params_.stars;
  const double lo = params_.minStarFlux, hi = params_.maxStarFlux;
  for (int i = 0; i < params_.randomStars; ++i) {
    Star s;
    s.x = Uniform(state) * (params_.sensorWidth - 1);
    s.y = Uniform(state) * (params_.sensorHeight - 1);
    // N(> F) falls as 1/F: many faint stars, a few bright ones.
    s.flux = lo / (1.0 - Uniform(state) * (1.0 - lo / hi));
    stars_.push_back(s);
  }
  auto pick = [&](int n, std::vector<Pixel>& into) {
    for (int i = 0; i < n; ++i) {
      into.push_back({int(SplitMix(state) % uint64_t(params_.sensorWidth)),
                      int(SplitMix(state) % uint64_t(params_.sensorHeight))});
    }
  };
  pick(params_.hotPixels, hot_);
  pick(params_.coldPixels, cold_);
}

const std::vector<SkyRenderer::Stamp>& SkyRenderer::StampsFor(int binning) {
  if (stampBinning_ == binning) return stamps_;
  stamps_.clear();
  const int w = OutputWidth(params_, binning), h = OutputHeight(params_, binning);
  const double sigma = params_.fwhm / (2.0 * std::sqrt(2.0 * std::log(2.0)));
  const double reach = 5.0 * sigma;  // beyond 5 sigma the charge is below any noise
  for (const Star& s : stars_) {
    // Output pixel j covers sensor coordinates [j*b - 0.5, (j+1)*b - 0.5).
    const int x0 = std::max(0, int(std::floor((s.x - reach + 0.5) / binning)));
    const int x1 = std::min(w - 1, int(std::floor((s.x + reach + 0.5) / binning)));
    const int y0 = std::max(0, int(std::floor((s.y - reach + 0.5) / binning)));
    const int y1 = std::min(h - 1, int(std::floor((s.y + reach + 0.5) / binning)));
    if (x0 > x1 || y0 > y1) continue;
    Stamp st;
    st.x0 = x0;
    st.y0 = y0;
    st.w = x1 - x0 + 1;
    st.h = y1 - y0 + 1;
    std::vector<double> fx(st.w), fy(st.h);
    for (int i = 0; i < st.w; ++i) {
      const double lo = (x0 + i) * binning - 0.5;
      fx[i] = Fraction(lo, lo + binning, s.x, sigma);
    }
    for (int j = 0; j < st.h; ++j) {
      const double lo = (y0 + j) * binning - 0.5;
      fy[j] = Fraction(lo, lo + binning, s.y, sigma);
    }
    st.weights.resize(size_t(st.w) * st.h);
    for (int j = 0; j < st.h; ++j)
      for (int i = 0; i < st.w; ++i)
        st.weights[size_t(j) * st.w + i] = float(s.flux * fx[i] * fy[j]);
    stamps_.push_back(std::move(st));
  }
  stampBinning_ = binning;
  return stamps_;
}

void SkyRenderer::Render(double exposureSeconds, int binning, uint64_t frameNumber, uint16_t* out) {
  if (binning < 1) binning = 1;
  const int w = OutputWidth(params_, binning), h = OutputHeight(params_, binning);
  const size_t n = size_t(w) * h;
  const float t = float(std::max(0.0, exposureSeconds));

  signal_.assign(n, 0.0f);
  for (const Stamp& st : StampsFor(binning)) {
    for (int j = 0; j < st.h; ++j) {
      float* row = signal_.data() + size_t(st.y0 + j) * w + st.x0;
      const float* wt = st.weights.data() + size_t(j) * st.w;
      for (int i = 0; i < st.w; ++i) row[i] += wt[i];
    }
  }

  const float area = float(binning * binning);
  const float skyE = float(params_.skyRate) * area * t;
  const float darkE = float(params_.darkRate) * area * t;
  const float rn2 = float(params_.readNoise * params_.readNoise);
  const float perAdu = float(1.0 / params_.electronsPerAdu);
  const float bias = float(params_.bias);
  // A binned pixel covers whole mosaic cells (for even binnings), so it sees the mean response.
  std::array<float, 4> resp = params_.mosaic;
  if (binning > 1) {
    const float mean = (resp[0] + resp[1] + resp[2] + resp[3]) / 4.0f;
    resp.fill(mean);
  }
  const float* gauss = GaussTable();
  uint64_t rng = params_.seed * 0xD1342543DE82EF95ull + frameNumber * 0x9E3779B97F4A7C15ull +
                 uint64_t(binning);
  uint64_t bits = 0;
  int bitsLeft = 0;
  const bool shot = params_.shotNoise;

  for (int y = 0; y < h; ++y) {
    const float* sig = signal_.data() + size_t(y) * w;
    uint16_t* dst = out + size_t(y) * w;
    const float* r = resp.data() + (y & 1) * 2;
    for (int x = 0; x < w; ++x) {
      const float light = (skyE + sig[x] * t) * r[x & 1];
      const float e = light + darkE;
      const float sd = shot ? std::sqrt(e + rn2) : std::sqrt(rn2);
      if (bitsLeft == 0) {
        bits = SplitMix(rng);
        bitsLeft = 4;
      }
      const float g = gauss[bits & (kGaussSize - 1)];
      bits >>= kGaussBits;
      --bitsLeft;
      float v = bias + (e + sd * g) * perAdu + 0.5f;
      v = std::clamp(v, 0.0f, 65535.0f);
      dst[x] = uint16_t(v);
    }
  }

  const float hotAdu = float(params_.hotRate) * t * perAdu;
  for (const Pixel& p : hot_) {
    const int ox = p.x / binning, oy = p.y / binning;
    if (ox >= w || oy >= h) continue;  // in the rows or columns a binning drops
    uint16_t& v = out[size_t(oy) * w + ox];
    v = uint16_t(std::min(65535.0f, float(v) + hotAdu));
  }
  if (binning == 1) {  // a dead pixel is diluted by its neighbours once binned
    const uint16_t b = uint16_t(std::clamp(bias + 0.5f, 0.0f, 65535.0f));
    for (const Pixel& p : cold_) out[size_t(p.y) * w + p.x] = b;
  }
}

}  // namespace telvane::sim
