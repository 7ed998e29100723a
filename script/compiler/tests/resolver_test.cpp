// The resolver's binding rules and the lines it writes for faults.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "telvane/script/basic_manager.h"
#include "telvane/script/preprocess.h"

namespace telvane::script {
namespace {

std::string RTrim(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

// The resolved line that calls a function: the last CALL/CALLEX line of the listing.
std::string CallLine(const std::string& source, const CallableTable& host) {
  TBasicManager m;
  m.SetBuiltinTables({{"max@nn"}, {"len@$"}}, {{"mid$@$n"}, {"mid$@$nn"}}, {{"pointer#@n"}});
  std::vector<std::string> listing;
  if (m.Compile(source, host, false, listing) != 0) return m.ErrorReport();
  std::string found;
  for (const std::string& l : listing)
    if (l.rfind("CALL", 0) == 0) found = RTrim(l);
  return found;
}

TEST(ResolverCalls, BindingOrderAndHandles) {
  const CallableTable host = {{"exposure@n"}, {"LEN@$"}};
  struct Row {
    const char* Source;
    const char* Line;
  };
  const Row rows[] = {
      // handles count host entries first, then numeric, string, other built-ins
      {"a = exposure(1)", "CALLEX 0"},
      {"a = max(1, 2)", "CALLEX 2"},
      {"a$ = mid$(\"ab\", 1)", "CALLEX$ 4"},
      {"a$ = MID$(\"ab\", 1, 1)", "CALLEX$ 5"},
      {"p# = pointer#(1)", "CALLEX# 6"},
      // a host entry hides a built-in of the same name and signature, case aside
      {"a = len(\"ab\")", "CALLEX 1"},
      // a user FUNCTION hides both; the call jumps past its FUNCTION line
      {"a = max(1, 2)\r\nEND\r\nFUNCTION max(x, y)\r\nRETURN x\r\nENDFUNC", "CALL 10"},
      {"a = len(\"x\")\r\nEND\r\nFUNCTION Len(t$)\r\nRETURN 1\r\nENDFUNC", "CALL 9"},
      // the signature must agree letter by letter
      {"a$ = mid$(1, 1)", "ERROR Line 1: Unknown function with such parameters"},
  };
  for (const Row& r : rows) EXPECT_EQ(CallLine(r.Source, host), r.Line) << r.Source;
}

TEST(ResolverLines, FaultLinesAndPassThrough) {
  std::vector<std::string> listing = {
      ",",
      "CALLEX 5",                                  // operand is no string literal
      "PUSH @averyveryverylongvariablename",       // never stored
      "JUMP 77",                                   // no such label
      "END",
  };
  Tpreprocess r;
  EXPECT_EQ(r.Resolve(listing, {}), ResolveError::LabelNotFound);
  EXPECT_EQ(r.ErrorLine(), 1);
  EXPECT_EQ(listing, (std::vector<std::string>{", 1", "ERR \"Callex sintax\"",
                                               "ERR \"Unassigned variable averyveryverylongvar\"",
                                               "ERR \"Label not found: 3\"", "END"}));

  std::vector<std::string> one = {"PRINT"};
  EXPECT_EQ(r.Resolve(one, {}), ResolveError::None);
  EXPECT_EQ(one, std::vector<std::string>{"END"});
}

TEST(ResolverBlocks, OnlyTheLastElseOfABlockBecomesAJump) {
  TBasicManager m;
  std::vector<std::string> listing;
  ASSERT_EQ(m.Compile("a = 1\r\nIF a = 1 THEN\r\nELSE\r\nELSE\r\nENDIF", {}, false, listing), 0);
  std::vector<std::string> got;
  for (const std::string& l : listing) got.push_back(RTrim(l));
  const std::vector<std::string> expected = {", 1", "PUSHC 1", "POPSTORE 0", ", 2", "PUSH 0", "PUSHC 1",
                                             "EQ", "POPNJUMP 12", ", 3", "ELSE", ", 4", "JUMP 13",
                                             ", 5", "ENDIF", "END"};
  EXPECT_EQ(got, expected);
}

}  // namespace
}  // namespace telvane::script
