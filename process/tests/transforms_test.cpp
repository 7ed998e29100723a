#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <vector>

#include "process.h"

namespace telvane::process::test {
namespace {

std::vector<uint8_t> pattern(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 37 + 11);
  return v;
}

class Preview : public ::testing::TestWithParam<std::pair<int, int>> {};

TEST_P(Preview, HorizontalFlipMirrorsEachRow) {
  const auto [w, h] = GetParam();
  const std::vector<uint8_t> original = pattern(static_cast<size_t>(w) * h * 3);
  std::vector<uint8_t> img = original;
  HFLIP(img.data(), w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < 3; ++c)
        ASSERT_EQ(img[(y * w + x) * 3 + c], original[(y * w + (w - 1 - x)) * 3 + c])
            << x << "," << y << " channel " << c;
  HFLIP(img.data(), w, h);
  EXPECT_EQ(img, original);
}

TEST_P(Preview, InvertIsAColourNegative) {
  const auto [w, h] = GetParam();
  const std::vector<uint8_t> original = pattern(static_cast<size_t>(w) * h * 3);
  std::vector<uint8_t> img = original;
  INVERT(img.data(), w, h);
  for (size_t i = 0; i < img.size(); ++i) ASSERT_EQ(img[i], 255 - original[i]) << i;
  INVERT(img.data(), w, h);
  EXPECT_EQ(img, original);
}

INSTANTIATE_TEST_SUITE_P(Sizes, Preview,
                         ::testing::Values(std::pair{1, 1}, std::pair{2, 1}, std::pair{3, 2},
                                           std::pair{7, 5}, std::pair{64, 3}, std::pair{1, 9},
                                           std::pair{101, 7}));

TEST(Preview, BadArgumentsChangeNothing) {
  std::vector<uint8_t> img = pattern(12);
  const std::vector<uint8_t> original = img;
  for (const auto& [w, h] : {std::pair{0, 4}, std::pair{2, -2}, std::pair{20000, 20000}}) {
    HFLIP(img.data(), w, h);
    INVERT(img.data(), w, h);
  }
  HFLIP(nullptr, 2, 2);
  INVERT(nullptr, 2, 2);
  EXPECT_EQ(img, original);
}

TEST(BufferCopy, CopiesExactlyTheCountAndIgnoresBadArguments) {
  const std::vector<uint8_t> src = pattern(100);
  std::vector<uint8_t> dst(100, 0);
  bufferCopy(src.data(), dst.data(), 60);
  EXPECT_TRUE(std::equal(src.begin(), src.begin() + 60, dst.begin()));
  EXPECT_TRUE(std::all_of(dst.begin() + 60, dst.end(), [](uint8_t b) { return b == 0; }));

  std::vector<uint8_t> untouched(100, 0);
  bufferCopy(src.data(), untouched.data(), 0);
  bufferCopy(src.data(), untouched.data(), -5);
  bufferCopy(nullptr, untouched.data(), 10);
  bufferCopy(src.data(), nullptr, 10);
  EXPECT_TRUE(std::all_of(untouched.begin(), untouched.end(), [](uint8_t b) { return b == 0; }));

  // Overlapping ranges behave like a move instead of smearing the data.
  std::vector<uint8_t> buf = pattern(100);
  bufferCopy(buf.data(), buf.data() + 10, 80);
  EXPECT_TRUE(std::equal(buf.begin() + 10, buf.begin() + 90, src.begin()));
}

}  // namespace
}  // namespace telvane::process::test
