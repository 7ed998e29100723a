#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "process.h"
#include "synthetic.h"

namespace telvane::process::test {
namespace {

constexpr double kPercent = 65535 / 100.0;

TEST(AutoHistogram, LevelsBracketTheSkyAndStayOrdered) {
  struct Case {
    double sky, sigma;
    bool stars;
  };
  for (const Case c : {Case{1000, 20, true}, Case{1000, 20, false}, Case{30000, 300, true},
                       Case{0, 0, false}, Case{65535, 0, false}, Case{64000, 500, false}}) {
    Sky s = noisySky(300, 200, c.sky, c.sigma);
    if (c.stars)
      for (int i = 0; i < 40; ++i) addStar(s, 10 + 7.1 * i, 15 + 4.3 * i, 2000 + 500 * i, 4);
    int32_t low = -1, high = -1;
    AutoHistogram(s.pixels.data(), s.width, s.height, &low, &high);
    SCOPED_TRACE(testing::Message() << "sky " << c.sky << " low " << low << " high " << high);
    EXPECT_GE(low, 0);
    EXPECT_LT(low, high);
    EXPECT_LE(high, 100);
    if (c.sky > 0 && c.sky < 60000) {
      EXPECT_LE(low * kPercent, c.sky - 2 * c.sigma);  // sky noise stays above black
      EXPECT_GE(high * kPercent, c.sky + 5 * c.sigma);
    }
  }
}

TEST(AutoHistogram, UnusableFrameGivesFullRange) {
  std::vector<uint16_t> f(4, 1000);
  int32_t low = 42, high = 43;
  AutoHistogram(nullptr, 2, 2, &low, &high);
  EXPECT_EQ(low, 0);
  EXPECT_EQ(high, 100);
  low = 42;
  AutoHistogram(f.data(), 0, 2, &low, &high);
  EXPECT_EQ(low, 0);
  AutoHistogram(f.data(), 2, 2, nullptr, &high);  // must not crash
  AutoHistogram(f.data(), 2, 2, &low, nullptr);
}

// A frame holding every 16-bit value once, so a mapping can be read off as a table.
std::vector<uint16_t> allValues() {
  std::vector<uint16_t> f(65536);
  for (int v = 0; v < 65536; ++v) f[v] = static_cast<uint16_t>(v);
  return f;
}

TEST(HistogramPreview, MapsLevelsToTheFullRangeAndClips) {
  struct Case {
    int low, high;
    int black, white;  // values that must land on 0 and on 65535
  };
  for (const Case c : {Case{10, 20, 6554, 13107}, Case{0, 50, 0, 32768}, Case{99, 100, 64880, 65535},
                       Case{-20, 40, 0, 26214}, Case{60, 140, 39321, 65535}}) {
    std::vector<uint16_t> f = allValues();
    HistogramPreview(f.data(), 256, 256, c.low, c.high);
    SCOPED_TRACE(testing::Message() << c.low << ".." << c.high);
    EXPECT_EQ(f[c.black], 0);
    EXPECT_GT(f[c.black + 1], 0);
    EXPECT_EQ(f[c.white], 65535);
    EXPECT_LT(f[c.white - 1], 65535);
    EXPECT_EQ(f[0], 0);
    EXPECT_EQ(f[65535], 65535);
    EXPECT_NEAR(f[(c.black + c.white) / 2], 32768, 200);
    for (int v = 1; v < 65536; ++v) ASSERT_GE(f[v], f[v - 1]) << v;
    // Every value within one count of the exact linear map.
    for (int v = 0; v < 65536; ++v) {
      const double exact = std::clamp((v - c.black) * 65535.0 / (c.white - c.black), 0.0, 65535.0);
      ASSERT_NEAR(f[v], exact, 1.0) << v;
    }
  }
}

TEST(HistogramPreview, FullRangeIsIdentityAndEmptyRangeIsAThreshold) {
  std::vector<uint16_t> f = allValues();
  HistogramPreview(f.data(), 256, 256, 0, 100);
  EXPECT_EQ(f, allValues());
  for (const auto& [low, high] : {std::pair{50, 50}, std::pair{70, 30}}) {
    f = allValues();
    HistogramPreview(f.data(), 256, 256, low, high);
    const int edge = low * 65535 / 100 + 1;  // 32768 for 50, 45875 for 70
    EXPECT_EQ(f[edge - 2], 0) << low;
    EXPECT_EQ(f[edge], 65535) << low;
  }
  HistogramPreview(nullptr, 256, 256, 10, 20);
  HistogramPreview(f.data(), 70000, 70000, 10, 20);  // oversized: untouched
  EXPECT_EQ(f[65535], 65535);
}

TEST(HistogramStretch, MonotonicAndLiftsFaintLevels) {
  // Mostly sky (which sets the stretch) plus one pixel of every value.
  constexpr double kSky = 1000, kSigma = 20;
  Sky s = noisySky(1024, 600, kSky, kSigma);
  for (int v = 0; v < 65536; ++v) s.pixels[v] = static_cast<uint16_t>(v);
  Sky before = s;
  HistogramStretch(s.pixels.data(), s.width, s.height);

  for (int v = 1; v < 65536; ++v) ASSERT_GE(s.pixels[v], s.pixels[v - 1]) << v;
  EXPECT_EQ(s.pixels[65535], 65535);
  EXPECT_EQ(s.pixels[0], 0);
  // The sky becomes a dark grey and faint signal a few sigma above it clearly brighter.
  EXPECT_NEAR(s.pixels[static_cast<int>(kSky)], 0.25 * 65535, 0.03 * 65535);
  EXPECT_GT(s.pixels[static_cast<int>(kSky + 10 * kSigma)], 10 * (kSky + 10 * kSigma));
  EXPECT_GT(s.pixels[20000], 20000);
  // The remaining pixels follow the same table.
  for (size_t i = 65536; i < s.pixels.size(); i += 977) EXPECT_EQ(s.pixels[i], s.pixels[before.pixels[i]]);
}

TEST(HistogramStretch, DegenerateFramesAreSafe) {
  for (const uint16_t level : {uint16_t{0}, uint16_t{65535}}) {
    std::vector<uint16_t> f(15, level);
    HistogramStretch(f.data(), 5, 3);
    for (uint16_t v : f) EXPECT_TRUE(v == 0 || v == 65535) << v;
  }
  std::vector<uint16_t> one(1, 1234);
  HistogramStretch(one.data(), 1, 1);
  HistogramStretch(nullptr, 1, 1);
  HistogramStretch(one.data(), -1, 1);
}

}  // namespace
}  // namespace telvane::process::test
