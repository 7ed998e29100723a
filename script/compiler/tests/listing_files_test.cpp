// Every listings/<name>.tvs is compiled against the table below; <name>.listing beside it
// holds the expected assembly listing (trailing blanks ignored), or <name>.error the expected
// compile result and report, e.g. "-3 ERROR Line 3: Syntax".
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "telvane/script/basic_manager.h"

namespace telvane::script {
namespace {

namespace fs = std::filesystem;

// Handles in the expected listings are positions in host + numeric + string + other.
CallableTable HostTable() { return {{"exposure@n"}, {"len@$"}}; }
void AddBuiltins(TBasicManager& m) {
  m.SetBuiltinTables({{"abs@n"}, {"len@$"}, {"rnd@n"}, {"rnd@"}, {"number@#"}},
                     {{"mid$@$n"}, {"mid$@$nn"}, {"chr$@n"}},
                     {{"item$@$n"}, {"pointer#@n"}, {"message@$"}});
}

std::string ReadFile(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

std::string RTrim(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\r')) s.pop_back();
  return s;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::stringstream s(text);
  for (std::string line; std::getline(s, line);) out.push_back(RTrim(line));
  return out;
}

std::vector<std::string> Cases() {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(TELVANE_LISTINGS_DIR))
    if (e.path().extension() == ".tvs") names.push_back(e.path().stem().string());
  std::sort(names.begin(), names.end());
  return names;
}

class ListingFile : public ::testing::TestWithParam<std::string> {};

TEST_P(ListingFile, CompilesToExpected) {
  const fs::path dir(TELVANE_LISTINGS_DIR);
  const std::string source = ReadFile(dir / (GetParam() + ".tvs"));
  TBasicManager m;
  AddBuiltins(m);
  std::vector<std::string> listing;
  const int32_t result = m.Compile(source, HostTable(), false, listing);

  if (fs::exists(dir / (GetParam() + ".error"))) {
    const std::string expected = RTrim(Lines(ReadFile(dir / (GetParam() + ".error"))).at(0));
    EXPECT_EQ(std::to_string(result) + " " + m.ErrorReport(), expected);
    return;
  }
  ASSERT_EQ(result, 0) << m.ErrorReport();
  std::vector<std::string> got;
  for (const std::string& l : listing) got.push_back(RTrim(l));
  const std::vector<std::string> expected = Lines(ReadFile(dir / (GetParam() + ".listing")));
  EXPECT_EQ(got, expected);
}

INSTANTIATE_TEST_SUITE_P(Listings, ListingFile, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace telvane::script
