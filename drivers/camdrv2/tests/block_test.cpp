#include <gtest/gtest.h>

#include "camdrv2_internal.h"

namespace telvane::camdrv2 {
namespace {

using drivers::kBlockFlags;
using drivers::kBlockReadoutMode;

struct BlockCase {
  const char* name;
  ExposureSettings settings;
  uint8_t flags, readoutMode;
};

void PrintTo(const BlockCase& c, std::ostream* os) { *os << c.name; }

class RegisterBlockTest : public ::testing::TestWithParam<BlockCase> {};

TEST_P(RegisterBlockTest, FlagsAndReadoutMode) {
  const BlockCase& c = GetParam();
  const drivers::ExposureBlock block = BuildRegisterBlock(c.settings);
  EXPECT_EQ(block[kBlockFlags], c.flags);
  EXPECT_EQ(block[kBlockReadoutMode], c.readoutMode);
}

// {exposureMs, binning, option, gain, offset, exposureMode}
INSTANTIATE_TEST_SUITE_P(
    Rules, RegisterBlockTest,
    ::testing::Values(
        BlockCase{"Mode1At4000", {4000, 1, 0, 50, 50, 1}, 0x04, 1},
        BlockCase{"Mode1At4001IsLong", {4001, 1, 0, 50, 50, 1}, 0x04, 99},
        BlockCase{"HighSpeedAt1000", {1000, 1, 1, 50, 50, 1}, 0x84, 1},
        BlockCase{"HighSpeedAt1001IsLong", {1001, 1, 1, 50, 50, 1}, 0x84, 99},
        BlockCase{"Mode0NeverLong", {600000, 1, 0, 50, 50, 0}, 0x04, 0},
        BlockCase{"Mode2NeverLong", {600000, 1, 0, 50, 50, 2}, 0x04, 2},
        BlockCase{"Binning2", {100, 2, 0, 50, 50, 0}, 0x4C, 2},
        BlockCase{"Binning2HighSpeed", {100, 2, 1, 50, 50, 2}, 0xCC, 2}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RegisterBlock, ByteExactForBothBinnings) {
  // gain 100 -> 63, offset 50 -> 110; rows and bytes per row of the transferred frame.
  const drivers::ExposureBlock binning1 = {63,   0x00, 0x13, 0x88, 0x04, 0x40, 0,    110,
                                           0xAC, 0xAC, 0,    0,    0,    0,    0x10, 0xB8,
                                           0x06, 0x18, 0,    0,    0,    0,    0,    0xAC};
  EXPECT_EQ(BuildRegisterBlock({5000, 1, 0, 100, 50, 0}), binning1);
  const drivers::ExposureBlock binning2 = {31,   0x00, 0x00, 0x01, 0x4C, 0x40, 2,    60,
                                           0xAC, 0xAC, 0,    0,    0,    0,    0x08, 0x5C,
                                           0x03, 0x0C, 0,    0,    0,    0,    0,    0xAC};
  EXPECT_EQ(BuildRegisterBlock({1, 2, 0, 50, 0, 1}), binning2);
}

}  // namespace
}  // namespace telvane::camdrv2
