#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "telvane/drivers/buffer_modes.h"

namespace telvane::drivers {
namespace {

// The reconstruction tables written out as data, so the compressed selection logic in the
// library is checked against them sample by sample.
enum Sample { T0, T1, U0, U1 };

struct PrimaryRow {
  bool iOdd, kOdd;
  Sample g1, g2, r, b;
};
constexpr PrimaryRow kPrimary[] = {
    {false, false, T0, U1, U0, T1},
    {false, true, U0, T1, U1, T0},
    {true, false, U0, T1, T0, U1},
    {true, true, T0, U1, T1, U0},
};

struct ComplementaryRow {
  bool iOdd, kOdd;
  Sample a, b, c, d;
};
constexpr ComplementaryRow kComplementary[] = {
    {false, false, U0, T0, T1, U1},
    {false, true, U0, T1, T0, U1},
    {true, false, T0, U0, U1, T1},
    {true, true, T0, U1, U0, T1},
};

uint8_t Limit(int v) { return static_cast<uint8_t>(std::min(v >> 8, 255)); }

// Reference for one output pixel; `window` holds T0, T1, U0, U1.
std::vector<uint8_t> Reference(int colourMode, ColourVariant variant, int i, int k,
                               const int window[4]) {
  const bool iOdd = i & 1;
  const bool kOdd = ((k & 1) != 0) != variant.columnParityReversed;
  if (colourMode == 1) {
    for (const PrimaryRow& row : kPrimary) {
      if (row.iOdd != iOdd || row.kOdd != kOdd) continue;
      int r = window[row.r], b = window[row.b];
      if (variant.redBlueExchanged) std::swap(r, b);
      const int g = window[row.g1] + window[row.g2];
      return {Limit(b), Limit(g >> 1), Limit(r + (r >> 3))};
    }
  }
  for (const ComplementaryRow& row : kComplementary) {
    if (row.iOdd != iOdd || row.kOdd != kOdd) continue;
    const int a = window[row.a], b = window[row.b], c = window[row.c], d = window[row.d];
    return {Limit(std::max(c + a - b, 0)), Limit(std::max(d + c + b - a, 0) >> 1),
            Limit(std::max(b + a - c, 0))};
  }
  return {};
}

// Spread-out values, so that bright and dark samples meet (clamping at 255 and at 0).
std::vector<uint16_t> Frame(int width, int height) {
  std::vector<uint16_t> frame(static_cast<size_t>(width) * height);
  uint32_t x = 12345;
  for (auto& p : frame) {
    x = x * 1103515245u + 12345u;
    p = static_cast<uint16_t>(x >> 16);
  }
  return frame;
}

struct VariantCase {
  const char* name;
  int colourMode;
  ColourVariant variant;
};

void PrintTo(const VariantCase& c, std::ostream* os) { *os << c.name; }

class ReconstructColourTest : public ::testing::TestWithParam<VariantCase> {};

TEST_P(ReconstructColourTest, EveryPixelFollowsItsTableRow) {
  const VariantCase& c = GetParam();
  // Even width: k = width - 1 - j then has the opposite parity of j, so a parity counted
  // from the left instead of from the right shows.
  const int width = 4, height = 4;
  const std::vector<uint16_t> frame = Frame(width, height);
  std::vector<uint8_t> out(3 * width * (height - 1));
  ASSERT_EQ(ReconstructColour(c.colourMode, c.variant, frame.data(), width, height, out.data(),
                              SIZE_MAX),
            static_cast<size_t>(width) * (height - 1));
  for (int i = 0; i < height - 1; ++i) {
    for (int j = 0; j < width; ++j) {
      const size_t n = static_cast<size_t>(i) * width + j;
      const size_t last = frame.size() - 1;
      const int window[4] = {frame[n], frame[n + 1], frame[n + width],
                             frame[std::min(n + width + 1, last)]};
      const std::vector<uint8_t> expected = Reference(c.colourMode, c.variant, i,
                                                      width - 1 - j, window);
      EXPECT_EQ(std::vector<uint8_t>(out.begin() + 3 * n, out.begin() + 3 * n + 3), expected)
          << "pixel (" << i << ", " << j << ")";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Variants, ReconstructColourTest,
    ::testing::Values(VariantCase{"Primary", 1, {}},
                      VariantCase{"PrimaryParityReversed", 1, {true, false}},
                      VariantCase{"PrimaryRedBlueExchanged", 1, {false, true}},
                      VariantCase{"Complementary", 2, {}},
                      VariantCase{"ComplementaryParityReversed", 2, {true, false}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReconstructColour, PrimaryWeightsRedAndHalvesGreen) {
  // 2 x 2 frame, i = 0, j = 0, k = 1 (odd): G = U0 + T1, R = U1, B = T0.
  const uint16_t frame[] = {0x1000 /*T0*/, 0x3000 /*T1*/, 0x5000 /*U0*/, 0xF000 /*U1*/};
  uint8_t out[6] = {};
  ASSERT_EQ(ReconstructColour(1, {}, frame, 2, 2, out, SIZE_MAX), 2u);
  EXPECT_EQ(out[0], 0x10);  // B
  EXPECT_EQ(out[1], 0x40);  // (0x3000 + 0x5000) / 2
  EXPECT_EQ(out[2], 255);   // 0xF000 * 1.125 saturates
}

TEST(ReconstructColour, WritesHeightMinusOneRowsAndNoMore) {
  const int width = 4;
  const std::vector<uint16_t> frame = Frame(width, 2);
  std::vector<uint8_t> out(3 * width + 3, 0xEE);
  EXPECT_EQ(ReconstructColour(2, {}, frame.data(), width, 2, out.data(), SIZE_MAX), 4u);
  EXPECT_EQ(out[3 * width], 0xEE);
  EXPECT_EQ(out[3 * width + 2], 0xEE);
}

TEST(ReconstructColour, StopsAtTheCallersPixelCount) {
  const std::vector<uint16_t> frame = Frame(4, 4);
  std::vector<uint8_t> out(3 * 12, 0xEE);
  EXPECT_EQ(ReconstructColour(1, {}, frame.data(), 4, 4, out.data(), 5), 5u);
  EXPECT_EQ(out[15], 0xEE);
}

TEST(ReconstructColour, LastWindowStaysInsideTheImage) {
  // The last column's window wraps to the next row; for the last output pixel that would be
  // one past the image. Exact-size storage lets the address sanitizer see an over-read.
  std::vector<uint16_t> frame = {0x0100, 0x0200, 0x0300, 0x0400, 0x0500, 0x0600};
  std::vector<uint8_t> out(9);
  ASSERT_EQ(ReconstructColour(1, {}, frame.data(), 3, 2, out.data(), SIZE_MAX), 3u);
  // Pixel (0, 2): k = 0, i = 0: G = T0 + U1, R = U0, B = T1 with T1 = (1, 0) wrapped,
  // U0 = (1, 2) and U1 clamped to the last pixel (1, 2).
  EXPECT_EQ(out[6], 0x04);                // B = T1 = 0x0400
  EXPECT_EQ(out[7], (0x03 + 0x06) / 2);   // G = (T0 + U1) / 2
  EXPECT_EQ(out[8], 0x06 + 0x06 / 8);     // R = U0 * 1.125
}

TEST(ReconstructColour, NothingForUnknownModesOrTooFewRows) {
  const std::vector<uint16_t> frame = Frame(4, 4);
  uint8_t out[48];
  std::fill(std::begin(out), std::end(out), 0xEE);
  EXPECT_EQ(ReconstructColour(0, {}, frame.data(), 4, 4, out, SIZE_MAX), 0u);
  EXPECT_EQ(ReconstructColour(3, {}, frame.data(), 4, 4, out, SIZE_MAX), 0u);
  EXPECT_EQ(ReconstructColour(1, {}, frame.data(), 4, 1, out, SIZE_MAX), 0u);
  EXPECT_EQ(ReconstructColour(1, {}, frame.data(), 0, 4, out, SIZE_MAX), 0u);
  EXPECT_TRUE(std::all_of(std::begin(out), std::end(out), [](uint8_t b) { return b == 0xEE; }));
}

}  // namespace
}  // namespace telvane::drivers
