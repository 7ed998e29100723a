// Replays the fuzz corpus and every kept regression input through the fuzz checks.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "compile_fuzz_entry.h"

namespace fs = std::filesystem;

TEST(CompileFuzzReplay, CorpusAndRegressions) {
  int replayed = 0;
  for (const char* sub : {"corpus", "regressions"}) {
    for (const auto& e : fs::directory_iterator(fs::path(COMPILE_FUZZ_DIR) / sub)) {
      std::ifstream f(e.path(), std::ios::binary);
      const std::vector<char> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
      EXPECT_EQ(telvane::script::CompileOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), "")
          << e.path();
      ++replayed;
    }
  }
  EXPECT_GT(replayed, 0);
}
