// Replays the fuzzer's seed corpus and every input that once made it fail through the
// same entry point, in the normal (and sanitizer) builds.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "script_fuzz_entry.h"

namespace fs = std::filesystem;

namespace {

std::vector<fs::path> Inputs() {
  std::vector<fs::path> files;
  for (const char* dir : {SCRIPT_FUZZ_DIR "/corpus", SCRIPT_FUZZ_DIR "/regressions"}) {
    if (!fs::is_directory(dir)) continue;  // git keeps no empty folder
    for (const auto& e : fs::directory_iterator(dir))
      if (e.is_regular_file()) files.push_back(e.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

class FuzzReplay : public testing::TestWithParam<fs::path> {};

TEST_P(FuzzReplay, RunsCleanly) {
  std::ifstream in(GetParam(), std::ios::binary);
  const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  telvane::script::fuzz::RunScriptInput(reinterpret_cast<const uint8_t*>(data.data()), data.size());
}

INSTANTIATE_TEST_SUITE_P(Inputs, FuzzReplay, testing::ValuesIn(Inputs()),
                         [](const testing::TestParamInfo<fs::path>& info) {
                           std::string name = info.param.parent_path().filename().string() + "_" +
                                              info.param.filename().string();
                           for (char& ch : name)
                             if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return name;
                         });

}  // namespace
