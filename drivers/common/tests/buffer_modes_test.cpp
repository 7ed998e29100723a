#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <vector>

#include "telvane/drivers/buffer_modes.h"

namespace telvane::drivers {
namespace {

static_assert(std::endian::native == std::endian::little,
              "expected bytes below are written for a little-endian host");

const std::vector<uint16_t> kPixels = {0x0000, 0x1234, 0x8000, 0xFFFF};

struct ModeCase {
  int mode;
  std::vector<uint8_t> expected;
};

class ConvertPixelsTest : public ::testing::TestWithParam<ModeCase> {};

TEST_P(ConvertPixelsTest, WritesTheModesLayout) {
  const ModeCase& c = GetParam();
  ASSERT_EQ(BytesPerPixel(c.mode) * kPixels.size(), c.expected.size());
  // One spare byte shows a write past the end.
  std::vector<uint8_t> out(c.expected.size() + 1, 0xEE);
  ASSERT_TRUE(ConvertPixels(c.mode, kPixels.data(), kPixels.size(), out.data()));
  EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.end() - 1), c.expected);
  EXPECT_EQ(out.back(), 0xEE);
}

INSTANTIATE_TEST_SUITE_P(
    AllFlatModes, ConvertPixelsTest,
    ::testing::Values(
        ModeCase{0, {0x00, 0x00, 0x34, 0x12, 0x00, 0x80, 0xFF, 0xFF}},
        ModeCase{1, {0x00, 0x12, 0x80, 0xFF}},
        ModeCase{2, {0x00, 0x00, 0x00, 0x12, 0x12, 0x12, 0x80, 0x80, 0x80, 0xFF, 0xFF, 0xFF}},
        ModeCase{3, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x34, 0x12, 0x34, 0x12, 0x34, 0x12,
                     0x00, 0x80, 0x00, 0x80, 0x00, 0x80, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
        // p - 32768, big-endian signed: 0 -> -32768, 0x8000 -> 0, 0xFFFF -> 32767.
        ModeCase{5, {0x80, 0x00, 0x92, 0x34, 0x00, 0x00, 0x7F, 0xFF}},
        ModeCase{6, {0x00, 0x00, 0x00, 0x00, 0, 0, 0, 0, 0x34, 0x12, 0x00, 0x00, 0, 0, 0, 0,
                     0x00, 0x80, 0x00, 0x00, 0, 0, 0, 0, 0xFF, 0xFF, 0x00, 0x00, 0, 0, 0, 0}},
        ModeCase{7, {0x00, 0x00, 0x00, 0x00, 0x34, 0x12, 0x00, 0x00, 0x00, 0x80, 0x00, 0x00,
                     0xFF, 0xFF, 0x00, 0x00}}),
    [](const auto& info) { return "Mode" + std::to_string(info.param.mode); });

TEST(ConvertPixels, LeavesModeFourAndUnknownModesToTheirOwnCode) {
  uint8_t out[16] = {};
  EXPECT_FALSE(ConvertPixels(kBufferColour24, kPixels.data(), kPixels.size(), out));
  EXPECT_FALSE(ConvertPixels(8, kPixels.data(), kPixels.size(), out));
  EXPECT_FALSE(ConvertPixels(-1, kPixels.data(), kPixels.size(), out));
}

TEST(ClampBufferMode, OutOfRangeSelectsTheHighestMode) {
  const struct {
    int mode, highest, expected;
  } cases[] = {{9, 5, 5}, {6, 5, 5}, {-1, 5, 5}, {0, 5, 0}, {5, 5, 5},
               {9, 7, 7}, {-3, 7, 7}, {6, 7, 6}, {4, 7, 4}};
  for (const auto& c : cases) {
    EXPECT_EQ(ClampBufferMode(c.mode, c.highest), c.expected)
        << "mode " << c.mode << " highest " << c.highest;
  }
}

}  // namespace
}  // namespace telvane::drivers
