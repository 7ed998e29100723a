#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "process.h"
#include "synthetic.h"

namespace telvane::process::test {
namespace {

// A colour-mosaic frame: each 2x2 cell has channels at different sky levels, with the
// noise of each, and colour stars whose strength differs per channel as behind a real mosaic.
struct Mosaic {
  static constexpr double kLevel[2][2] = {{800, 1200}, {1200, 600}};  // [y & 1][x & 1]
  static constexpr double kGain[2][2] = {{1.0, 0.8}, {0.8, 0.5}};
  static constexpr double kNoise = 15;
  Sky sky;

  Mosaic(int w, int h) : sky(noisySky(w, h, 1000, kNoise)) {
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        sky.at(x, y) = clampPixel(sky.at(x, y) - 1000 + kLevel[y & 1][x & 1]);
  }
  void star(double cx, double cy, double peak, double fwhm) {
    Sky light = noisySky(sky.width, sky.height, 0, 0);
    addStar(light, cx, cy, peak, fwhm);
    for (int y = 0; y < sky.height; ++y)
      for (int x = 0; x < sky.width; ++x)
        sky.at(x, y) = clampPixel(sky.at(x, y) + light.at(x, y) * kGain[y & 1][x & 1]);
  }
  double level(int x, int y) const { return kLevel[y & 1][x & 1]; }
};

int run(Sky& s) { return denoise(s.pixels.data(), s.width, s.height); }

TEST(Denoise, RemovesDefectsAndKeepsStarsAndNoise) {
  Mosaic m(160, 120);
  m.star(40.3, 50.6, 20000, 2.5);  // undersampled: its core stands far above same-colour pixels
  m.star(100.5, 30.2, 8000, 4.0);
  m.star(120, 90, 70000, 5.0);     // saturated core
  Sky before = m.sky;
  struct Defect {
    int x, y;
    uint16_t value;
  };
  const Defect defects[] = {
      {70, 70, 60000}, {71, 70, 50000},  // adjacent pair of different colours
      {20, 100, 0},    {90, 90, 5000},   // dead pixel, warm pixel
      {0, 0, 65535},   {159, 119, 0},    // corners
      {1, 60, 40000},  {80, 118, 30000}, // near the edges
      {44, 50, 65535},                   // hot pixel in a star's wing
  };
  for (const auto& d : defects) m.sky.at(d.x, d.y) = d.value;

  const int replaced = run(m.sky);

  for (const auto& d : defects)
    EXPECT_NEAR(m.sky.at(d.x, d.y), m.level(d.x, d.y), 6 * Mosaic::kNoise + 200 * (d.x == 44))
        << "defect at " << d.x << "," << d.y;
  int changed = 0;
  for (int y = 0; y < m.sky.height; ++y)
    for (int x = 0; x < m.sky.width; ++x) {
      bool isDefect = false;
      for (const auto& d : defects) isDefect |= d.x == x && d.y == y;
      if (!isDefect && m.sky.at(x, y) != before.at(x, y)) {
        ++changed;
        ADD_FAILURE() << x << "," << y << " " << before.at(x, y) << " -> " << m.sky.at(x, y);
      }
    }
  EXPECT_LE(changed, 2) << "pixels other than the defects were altered";
  EXPECT_EQ(replaced, static_cast<int>(std::size(defects)) + changed);
  // Star cores survive untouched.
  EXPECT_EQ(m.sky.at(40, 51), before.at(40, 51));
  EXPECT_EQ(m.sky.at(100, 30), before.at(100, 30));
  EXPECT_EQ(m.sky.at(120, 90), 65535);
  EXPECT_NEAR(stddev(m.sky, 10, 5, 60, 35), stddev(before, 10, 5, 60, 35), 0.01 * Mosaic::kNoise);
}

TEST(Denoise, FlatFrameWithoutNoiseStillFindsDefects) {
  Sky s = noisySky(9, 7, 1000, 0);
  s.at(4, 3) = 1100;
  s.at(0, 6) = 900;
  EXPECT_EQ(run(s), 2);
  EXPECT_EQ(s.at(4, 3), 1000);
  EXPECT_EQ(s.at(0, 6), 1000);
}

TEST(Denoise, TinyAndOddFramesAreSafe) {
  // Sizes without enough same-colour neighbours must be left alone; the others get fixed.
  struct Case {
    int w, h;
    bool fixable;
  };
  for (const Case c : {Case{1, 1, false}, Case{2, 2, false}, Case{1, 9, false}, Case{9, 1, false},
                       Case{3, 3, false}, Case{7, 3, false}, Case{5, 5, true}, Case{7, 6, true},
                       Case{6, 7, true}}) {
    Sky s = noisySky(c.w, c.h, 500, 0);
    s.at(c.w / 2, c.h / 2) = 9000;
    run(s);
    EXPECT_EQ(s.at(c.w / 2, c.h / 2), c.fixable ? 500 : 9000) << c.w << "x" << c.h;
  }
}

TEST(Denoise, RejectsBadArguments) {
  std::vector<uint16_t> small(16, 100);
  small[5] = 60000;
  EXPECT_EQ(denoise(nullptr, 4, 4), 0);
  EXPECT_EQ(denoise(small.data(), 0, 4), 0);
  EXPECT_EQ(denoise(small.data(), 4, -1), 0);
  EXPECT_EQ(denoise(small.data(), 5000, 5000), 0);  // larger than any frame: not touched
  EXPECT_EQ(small[5], 60000);
}

}  // namespace
}  // namespace telvane::process::test
