#include "telvane/sim/sky.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <vector>

namespace telvane::sim {
namespace {

SkyParams Quiet(int w, int h) {
  SkyParams p;
  p.sensorWidth = w;
  p.sensorHeight = h;
  p.skyRate = 0;
  p.darkRate = 0;
  p.readNoise = 0;
  p.shotNoise = false;
  p.bias = 100;
  p.randomStars = 0;
  p.hotPixels = 0;
  p.coldPixels = 0;
  return p;
}

std::vector<uint16_t> Render(SkyRenderer& r, double seconds, int binning, uint64_t frame = 0) {
  std::vector<uint16_t> out(size_t(SkyRenderer::OutputWidth(r.Params(), binning)) *
                            SkyRenderer::OutputHeight(r.Params(), binning));
  r.Render(seconds, binning, frame, out.data());
  return out;
}

struct StarCase {
  double x, y, fwhm;
  int binning;
  friend std::ostream& operator<<(std::ostream& os, const StarCase& c) {
    return os << "star (" << c.x << ", " << c.y << ") fwhm " << c.fwhm << " bin " << c.binning;
  }
};

class StarPlacement : public ::testing::TestWithParam<StarCase> {};

// Centroid and second moment of the bias-subtracted frame, converted back to sensor pixels:
// a star drawn in the wrong place, with the wrong width or with a binning slip shows here.
TEST_P(StarPlacement, CentroidAndFwhmMatch) {
  const StarCase c = GetParam();
  SkyParams p = Quiet(200, 160);
  p.fwhm = c.fwhm;
  p.stars = {{c.x, c.y, 2.0e5}};  // peak well below saturation
  SkyRenderer r(p);
  const auto img = Render(r, 1.0, c.binning);
  const int w = SkyRenderer::OutputWidth(p, c.binning), h = SkyRenderer::OutputHeight(p, c.binning);
  double s = 0, sx = 0, sy = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const double v = img[size_t(y) * w + x] - p.bias;
      s += v;
      sx += v * x;
      sy += v * y;
    }
  const double cx = sx / s, cy = sy / s;
  double vx = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) vx += (img[size_t(y) * w + x] - p.bias) * (x - cx) * (x - cx);
  vx /= s;
  const double b = c.binning;
  // Output pixel j is centred on sensor coordinate j*b + (b-1)/2.
  EXPECT_NEAR(cx * b + (b - 1) / 2, c.x, 0.05);
  EXPECT_NEAR(cy * b + (b - 1) / 2, c.y, 0.05);
  // Pixel integration adds 1/12 px^2 to the variance.
  const double fwhm = 2.0 * std::sqrt(2.0 * std::log(2.0)) * std::sqrt(vx - 1.0 / 12.0) * b;
  EXPECT_NEAR(fwhm, c.fwhm, 0.03 * c.fwhm);
  EXPECT_NEAR(s, 2.0e5, 2.0e5 * 0.01);  // the whole flux lands in the frame
}

INSTANTIATE_TEST_SUITE_P(Cases, StarPlacement,
                         ::testing::Values(StarCase{100.0, 80.0, 3.0, 1},
                                           StarCase{57.3, 101.6, 2.2, 1},
                                           StarCase{120.25, 40.75, 5.0, 1},
                                           StarCase{100.5, 80.5, 4.0, 2},
                                           StarCase{63.2, 97.9, 6.0, 2}));

struct NoiseCase {
  const char* name;
  double skyRate, darkRate, readNoise, ePerAdu, seconds;
  bool shot;
  int binning;
  friend std::ostream& operator<<(std::ostream& os, const NoiseCase& c) { return os << c.name; }
};

class NoiseStatistics : public ::testing::TestWithParam<NoiseCase> {};

TEST_P(NoiseStatistics, MeanAndVarianceFollowTheModel) {
  const NoiseCase c = GetParam();
  SkyParams p = Quiet(512, 512);
  p.skyRate = c.skyRate;
  p.darkRate = c.darkRate;
  p.readNoise = c.readNoise;
  p.electronsPerAdu = c.ePerAdu;
  p.shotNoise = c.shot;
  SkyRenderer r(p);
  const auto img = Render(r, c.seconds, c.binning);
  double s = 0, s2 = 0;
  for (uint16_t v : img) {
    s += v;
    s2 += double(v) * v;
  }
  const double n = double(img.size());
  const double mean = s / n, var = s2 / n - mean * mean;
  const double area = c.binning * c.binning;
  const double e = (c.skyRate + c.darkRate) * area * c.seconds;
  const double wantMean = p.bias + e / c.ePerAdu;
  // Rounding to whole ADU adds 1/12.
  const double wantVar =
      ((c.shot ? e : 0.0) + c.readNoise * c.readNoise) / (c.ePerAdu * c.ePerAdu) + 1.0 / 12.0;
  EXPECT_NEAR(mean, wantMean, 0.01 * (wantMean - p.bias) + 0.05) << c.name;
  EXPECT_NEAR(var, wantVar, 0.04 * wantVar) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Cases, NoiseStatistics,
                         ::testing::Values(NoiseCase{"read noise only", 0, 0, 10, 1, 1, true, 1},
                                           NoiseCase{"shot dominated", 400, 0, 2, 1, 1, true, 1},
                                           NoiseCase{"gain 2 e/ADU", 300, 20, 8, 2, 2, true, 1},
                                           NoiseCase{"binned sums charge", 100, 0, 5, 1, 1, true,
                                                     2},
                                           NoiseCase{"shot noise off", 500, 0, 6, 1, 1, false, 1}),
                         [](const auto& info) {
                           std::string n = info.param.name;
                           for (char& ch : n) {
                             if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           }
                           return n;
                         });

TEST(SkyRenderer, DeterministicPerSeedAndFrame) {
  SkyParams p;  // the full default sky
  p.sensorWidth = 300;
  p.sensorHeight = 200;
  SkyRenderer a(p), b(p);
  EXPECT_EQ(Render(a, 1.0, 1, 7), Render(b, 1.0, 1, 7));
  EXPECT_NE(Render(a, 1.0, 1, 7), Render(a, 1.0, 1, 8));  // fresh noise per frame

  SkyParams q = p;
  q.seed = 2;
  SkyRenderer c(q);
  ASSERT_FALSE(a.Stars().empty());
  EXPECT_NE(a.Stars()[0].x, c.Stars()[0].x);  // another seed, another sky
}

TEST(SkyRenderer, DefectivePixelsAndSaturation) {
  SkyParams p = Quiet(64, 64);
  p.skyRate = 50;
  p.hotPixels = 3;
  p.hotRate = 1000;
  p.coldPixels = 3;
  p.stars = {{20, 20, 1.0e9}};  // far beyond full well
  SkyRenderer r(p);
  const auto img = Render(r, 1.0, 1);
  for (const auto& px : r.ColdPixels()) EXPECT_EQ(img[size_t(px.y) * 64 + px.x], 100);
  for (const auto& px : r.HotPixels()) {
    bool alsoCold = false;
    for (const auto& c : r.ColdPixels()) alsoCold |= c.x == px.x && c.y == px.y;
    if (!alsoCold) {
      EXPECT_GE(img[size_t(px.y) * 64 + px.x], 100 + 50 + 1000 - 1);
    }
  }
  EXPECT_EQ(img[20 * 64 + 20], 65535);  // clipped, not wrapped
}

TEST(SkyRenderer, MosaicScalesLightPerCellPosition) {
  SkyParams p = Quiet(64, 64);
  p.skyRate = 1000;
  p.mosaic = {1.0f, 0.5f, 0.25f, 0.75f};
  SkyRenderer r(p);
  const auto img = Render(r, 1.0, 1);
  EXPECT_EQ(img[0], 1100);      // even row, even column
  EXPECT_EQ(img[1], 600);       // even row, odd column
  EXPECT_EQ(img[64], 350);      // odd row, even column
  EXPECT_EQ(img[64 + 1], 850);  // odd row, odd column
  // Binned 2 x 2 pixels cover a whole cell: mean response times four pixels of sky.
  EXPECT_EQ(Render(r, 1.0, 2)[0], 100 + 4 * 1000 * 0.625);
}

}  // namespace
}  // namespace telvane::sim
