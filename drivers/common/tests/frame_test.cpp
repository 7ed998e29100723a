#include <gtest/gtest.h>

#include <vector>

#include "telvane/drivers/exposure_block.h"
#include "telvane/drivers/frame_assembly.h"

namespace telvane::drivers {
namespace {

TEST(SwapBytes16, ExchangesTheBytesOfEveryWord) {
  // An odd count past any vector width checks the tail as well.
  std::vector<uint16_t> words(37);
  for (size_t n = 0; n < words.size(); ++n) words[n] = static_cast<uint16_t>(0x0100 * n + 0x20 + n);
  std::vector<uint16_t> swapped = words;
  SwapBytes16(swapped.data(), swapped.size());
  for (size_t n = 0; n < words.size(); ++n) {
    EXPECT_EQ(swapped[n], static_cast<uint16_t>((words[n] >> 8) | (words[n] << 8))) << n;
  }
}

// Raw pixels encode their own position: field * 1000 + row * 10 + column.
std::vector<uint16_t> Field(int field, int rows, int lineLength) {
  std::vector<uint16_t> raw;
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < lineLength; ++c) raw.push_back(static_cast<uint16_t>(field * 1000 + r * 10 + c));
  return raw;
}

TEST(AssembleFields, InterleavesTheFieldsFromTheRegionStart) {
  const std::vector<uint16_t> a = Field(1, 5, 6), b = Field(2, 5, 6);
  std::vector<uint16_t> image(3 * 4, 0xFFFF);
  // Height 5 is odd: only two row pairs are copied; the fifth row is the caller's.
  AssembleFields(a.data(), b.data(), 6, /*firstRow=*/1, /*column=*/2, /*width=*/3,
                 /*height=*/5, image.data());
  const std::vector<uint16_t> expected = {1012, 1013, 1014, 2012, 2013, 2014,
                                          1022, 1023, 1024, 2022, 2023, 2024};
  EXPECT_EQ(image, expected);
}

TEST(AssembleRows, CopiesConsecutiveRowsFromTheRegionStart) {
  const std::vector<uint16_t> raw = Field(0, 6, 5);
  std::vector<uint16_t> image(2 * 2);
  AssembleRows({raw.data(), 5, 6}, /*firstRow=*/4, /*column=*/1, /*width=*/2, /*height=*/2,
               image.data());
  EXPECT_EQ(image, (std::vector<uint16_t>{41, 42, 51, 52}));
}

TEST(BuildExposureBlock, LaysOutEveryFieldBigEndian) {
  ExposureBlockFields f;
  f.gain = 100;
  f.exposureMs = 0x01ABCDEF;  // wraps to 24 bits
  f.flags = kFlagAlways | kFlagHighSpeed;
  f.readoutMode = 99;
  f.offset = 50;
  f.bytesPerRow = 4280;
  f.rows = 1560;
  const ExposureBlock expected = {63,   0xAB, 0xCD, 0xEF, 0x84, 0x40, 99,   110,
                                  0xAC, 0xAC, 0,    0,    0,    0,    0x10, 0xB8,
                                  0x06, 0x18, 0,    0,    0,    0,    0,    0xAC};
  EXPECT_EQ(BuildExposureBlock(f), expected);
}

TEST(BuildExposureBlock, GainAndOffsetScaling) {
  const struct {
    int gain, gainByte, offset, offsetByte;
  } cases[] = {{100, 63, 0, 60}, {50, 31, 50, 110}, {0, 0, 195, 255}, {1, 0, 196, 0}};
  for (const auto& c : cases) {
    ExposureBlockFields f;
    f.gain = c.gain;
    f.offset = c.offset;
    const ExposureBlock block = BuildExposureBlock(f);
    EXPECT_EQ(block[kBlockGain], c.gainByte) << "gain " << c.gain;
    EXPECT_EQ(block[kBlockOffset], c.offsetByte) << "offset " << c.offset;
  }
}

}  // namespace
}  // namespace telvane::drivers
