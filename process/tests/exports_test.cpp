// Loads libprocess.so by name, as the program does, and checks what it exports.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdint>

namespace {

TEST(Exports, ExactlyTheThirteenFunctionsAreVisible) {
  void* lib = dlopen(PROCESS_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(lib, nullptr) << dlerror();
  for (const char* name : {"denoise", "FindStar", "GetStarX", "GetStarY", "GetXdia", "GetYdia",
                           "GetBright", "bufferCopy", "AutoHistogram", "HistogramPreview",
                           "HistogramStretch", "HFLIP", "INVERT"})
    EXPECT_NE(dlsym(lib, name), nullptr) << name;
  // Internal helpers stay hidden, so they cannot clash with the program's own symbols.
  EXPECT_EQ(dlsym(lib, "_ZN7telvane7process9Histogram5resetEv"), nullptr);

  using Invert = void (*)(uint8_t*, int32_t, int32_t);
  auto invert = reinterpret_cast<Invert>(dlsym(lib, "INVERT"));
  ASSERT_NE(invert, nullptr);
  uint8_t px[3] = {0, 100, 255};
  invert(px, 1, 1);
  EXPECT_EQ(px[0], 255);
  EXPECT_EQ(px[1], 155);
  EXPECT_EQ(px[2], 0);
  dlclose(lib);
}

}  // namespace
