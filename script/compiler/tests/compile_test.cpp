// Compile results and error reports: the message, the line it names, and which error wins.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "telvane/script/basic_manager.h"

namespace telvane::script {
namespace {

struct Case {
  const char* Source;
  int32_t Result;
  const char* Report;
};

class RecordingHost : public ScriptHost {
 public:
  std::vector<std::string> Shown;
  void showMessage(std::string_view text) override { Shown.emplace_back(text); }
  bool inputBox(std::string_view, std::string_view, std::string&) override { return false; }
  std::string clipboardText() override { return {}; }
  void setClipboardText(std::string_view) override {}
  void outputLine(std::string_view) override {}
  void clearOutput() override {}
};

int32_t CompileText(TBasicManager& m, const std::string& source) {
  std::vector<std::string> listing;
  return m.Compile(source, {{"mid$@$n"}, {"abs@n"}}, false, listing);
}

void PrintTo(const Case& c, std::ostream* os) { *os << c.Source; }

// ctest filters cannot carry the sources, so cases are named by position.
std::string CaseName(const ::testing::TestParamInfo<Case>& info) { return "case" + std::to_string(info.index); }

class CompileError : public ::testing::TestWithParam<Case> {};

TEST_P(CompileError, ReportsMessageAndLine) {
  const Case& c = GetParam();
  TBasicManager m;
  EXPECT_EQ(CompileText(m, c.Source), c.Result);
  EXPECT_EQ(m.ErrorReport(), c.Report);
}

// Each source starts with a good line so that the reported line is not 1 by chance.
INSTANTIATE_TEST_SUITE_P(Statements, CompileError, ::testing::Values(
    Case{"a = 1\r\nb c", -2, "ERROR Line 2: = expected"},
    Case{"a = 1\r\nGOTO x", -2, "ERROR Line 2: Label expected"},
    Case{"a = 1\r\nGOSUB 0", -2, "ERROR Line 2: Unknown Label"},
    Case{"a = 1\r\nIF a=1 THEN 0", -2, "ERROR Line 2: Unknown Label"},
    Case{"a = 1\r\nIF a THEN", -2, "ERROR Line 2: Logic operator expected"},
    Case{"a = 1\r\nIF (a=1) OR (a=2) THEN", -2, "ERROR Line 2: ) expected"},
    Case{"a = 1\r\nIF a=1\r\n", -2, "ERROR Line 2: THEN expected"},
    Case{"a = 1\r\nIF a=1 ) THEN", -2, "ERROR Line 2: Condition expected"},
    Case{"a = 1\r\nELSE", -2, "ERROR Line 2: ELSE without IF"},
    Case{"a = 1\r\nIF a=1 THEN\r\nELSE a = 2\r\nENDIF", -3, "ERROR Line 3: Syntax"},
    Case{"a = 1\r\nENDIF", -2, "ERROR Line 2: ENDIF without IF"},
    Case{"a = 1\r\nNEXT", -2, "ERROR Line 2: NEXT without FOR"},
    Case{"a = 1\r\nENDWHILE", -2, "ERROR Line 2: ENDWHILE without WHILE"},
    Case{"a = 1\r\nUNTIL a = 1", -2, "ERROR Line 2: UNTIL without REPEAT"},
    Case{"a = 1\r\nBREAK", -2, "ERROR Line 2: Misplaced BREAK"},
    Case{"a = 1\r\nCONTINUE", -2, "ERROR Line 2: Misplaced CONTINUE"},
    Case{"a = 1\r\nLOCAL a", -2, "ERROR Line 2: Unknown instruction"},
    Case{"a = 1\r\nEXIT", -2, "ERROR Line 2: Unknown instruction"},
    Case{"a = 1\r\n?", -2, "ERROR Line 2: Unknown instruction"},
    Case{"a = 1\r\nPRINT a b", -2, "ERROR Line 2: Arithmetic operator expected"},
    Case{"a = 1\r\na = 1 2", -2, "ERROR Line 2: Arithmetic operator expected"},
    Case{"a = 1\r\na = 1 +", -2, "ERROR Line 2: Value expected"},
    Case{"a = 1\r\na = (1 + 2", -2, "ERROR Line 2: ) expected"},
    Case{"a = 1\r\na = abs(1", -2, "ERROR Line 2: Syntax"},
    Case{"a = 1\r\na = abs(1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,21,22,23,24,25,26,27,28,29,30,31,32)",
         -2, "ERROR Line 2: Syntax"},
    Case{"a = 1\r\na$ = \"x\" \"y\"", -2, "ERROR Line 2: String operator expected"},
    Case{"a = 1\r\na$ = 5", -2, "ERROR Line 2: String expected"},
    Case{"a = 1\r\na$ = \"open", -2, "ERROR Line 2: String expected"},
    Case{"a = 1\r\na$ = a$ - 1001", -2, "ERROR Line 2: Parameter out of bounds"},
    Case{"a = 1\r\na$ = a$ - n", -2, "ERROR Line 2: Invalid number"},
    Case{"a = 1\r\na$ = a$[1", -2, "ERROR Line 2: ] expected"},
    Case{"a = 1\r\np# = 1", -2, "ERROR Line 2: Pointer expected"},
    Case{"a = 1\r\nINPUT \"name\"; a", -2, "ERROR Line 2:  , Expected"},
    Case{"a = 1\r\nINPUT 5", -2, "ERROR Line 2: Variable expected"},
    Case{"a = 1\r\na = 1E999", -2, "ERROR Line 2: Arithmetic overflow"},
    Case{"a = 1\r\nWHILE a < 1", -2, "ERROR Line 2: Condition expected"}),
    CaseName);

// The pending "FOR Syntax" is reported unless a later message replaced it.
INSTANTIATE_TEST_SUITE_P(ForHeader, CompileError, ::testing::Values(
    Case{"a = 1\r\nFOR i = 1 TO 10 STEP 0", -2, "ERROR Line 2: FOR Syntax"},
    Case{"a = 1\r\nFOR i = 1 TO 10 STEP k", -2, "ERROR Line 2: FOR Syntax"},
    Case{"a = 1\r\nFOR = 1 TO 2", -2, "ERROR Line 2: FOR Syntax"},
    Case{"a = 1\r\nFOR i = 1 2", -2, "ERROR Line 2: Arithmetic operator expected"},
    Case{"a = 1\r\nFOR i = 1 TO", -2, "ERROR Line 2: Value expected"},
    Case{"a = 1\r\nFOR i = 1 TO 2 STEP 1E999", -2, "ERROR Line 2: Arithmetic overflow"}),
    CaseName);

INSTANTIATE_TEST_SUITE_P(Functions, CompileError, ::testing::Values(
    Case{"a = 1\r\nENDFUNC", -2, "ERROR Line 2: Misplaced Endfunc"},
    Case{"a = 1\r\nFUNCTION f()\r\nFUNCTION g()", -3, "ERROR Line 3: Nested Functions"},
    Case{"a = 1\r\nFUNCTION f", -2, "ERROR Line 2: Function declaration"},
    Case{"a = 1\r\nFUNCTION f(1)", -2, "ERROR Line 2: Function parameters"},
    Case{"a = 1\r\nFUNCTION f(x,)", -2, "ERROR Line 2: Function parameters"},
    Case{"a = 1\r\nFUNCTION f() LOCAL 1", -2, "ERROR Line 2: Variable expected"},
    Case{"a = 1\r\nFUNCTION f()\r\nGOTO 10", -3, "ERROR Line 3: GOTO inside a function"},
    Case{"a = 1\r\nFUNCTION f()\r\nGOSUB 10", -3, "ERROR Line 3: GOSUB inside a function"},
    Case{"a = 1\r\nFUNCTION f()\r\nRETURN \"x\"", -3, "ERROR Line 3: Value expected"},
    // blocks may not stay open across a function's start or end
    Case{"a = 1\r\nIF a=1 THEN\r\nFUNCTION f()", -3, "ERROR Line 3: IF without ENDIF"},
    Case{"a = 1\r\nFUNCTION f()\r\nFOR i = 1 TO 2\r\nENDFUNC", -4, "ERROR Line 4: FOR without NEXT"}),
    CaseName);

// Blocks left open at the end of the text; the last one recorded is reported.
INSTANTIATE_TEST_SUITE_P(OpenBlocks, CompileError, ::testing::Values(
    Case{"FOR i = 1 TO 2", -1, "ERROR:  FOR without NEXT"},
    Case{"a = 1\r\nIF a = 1 THEN", -1, "ERROR:  IF without ENDIF"},
    Case{"a = 1\r\nWHILE a < 1\r\n", -1, "ERROR:  WHILE without ENDWHILE"},
    Case{"REPEAT", -1, "ERROR:  REPEAT without UNTIL"},
    Case{"FOR i = 1 TO 2\r\nREPEAT\r\nIF i = 1 THEN\r\n", -1, "ERROR:  REPEAT without UNTIL"}),
    CaseName);

// Resolver errors name the line by counting line markers. When several are found, the one
// recorded last wins: unknown function over missing label over unassigned variable, and
// within one pass the last line.
INSTANTIATE_TEST_SUITE_P(Resolver, CompileError, ::testing::Values(
    Case{"a = 1\r\nb = c", -2, "ERROR Line 2: Unknown variable"},
    Case{"a = 1\r\nGOTO 50", -2, "ERROR Line 2: Unknown Label"},
    Case{"a = 1\r\nb = nofunc(1)", -2, "ERROR Line 2: Unknown function with such parameters"},
    Case{"a = 1\r\nb$ = mid$(1)", -2, "ERROR Line 2: Unknown function with such parameters"},
    Case{"a = 1\r\nGOTO 50\r\nb = c", -2, "ERROR Line 2: Unknown Label"},
    Case{"a = nofunc(1)\r\nGOTO 50\r\nb = c", -1, "ERROR Line 1: Unknown function with such parameters"},
    Case{"a = 1\r\nGOTO 50\r\nGOTO 60", -3, "ERROR Line 3: Unknown Label"},
    Case{"a = 1\r\nb = c\r\nb = d", -2, "ERROR Line 2: Unknown variable"},
    // the variable pass stops at c, so f is never entered and its call is unknown
    Case{"b = c\r\nd = f(1)\r\nEND\r\nFUNCTION f(x)\r\nRETURN x\r\nENDFUNC", -2,
         "ERROR Line 2: Unknown function with such parameters"}),
    CaseName);

TEST(CompileErrorLine, SameLineWhateverTheLineEnds) {
  // an error on the third line, and a resolver error on the third line
  for (const char* eol : {"\r\n", "\n", "\r"}) {
    const std::string e(eol);
    TBasicManager m;
    EXPECT_EQ(CompileText(m, "a = 1" + e + "' note" + e + "b = )" + e), -3) << "eol " << e.size();
    EXPECT_EQ(m.ErrorReport(), "ERROR Line 3: Value expected");
    EXPECT_EQ(CompileText(m, "a = 1" + e + "REM note" + e + "b = c" + e), -3);
    EXPECT_EQ(m.ErrorReport(), "ERROR Line 3: Unknown variable");
  }
}

TEST(CompileErrorLine, SourceTooBig) {
  TBasicManager m;
  EXPECT_EQ(CompileText(m, std::string(TBasicParser::kMaxSlots, ':')), -1);
  EXPECT_EQ(m.ErrorReport(), "ERROR Line 1: Source too big");
}

TEST(CompileHost, ShowsReportOnlyWhenAskedAndStartsAfresh) {
  RecordingHost host;
  TBasicManager m(&host);
  std::vector<std::string> listing;
  EXPECT_EQ(m.Compile("x = \r\n", {}, false, listing), -1);
  EXPECT_TRUE(host.Shown.empty());
  EXPECT_EQ(m.Compile("x = 1\r\nNEXT", {}, true, listing), -2);
  EXPECT_EQ(host.Shown, std::vector<std::string>{"ERROR Line 2: NEXT without FOR"});
  // nothing of the failed compile survives into the next one
  EXPECT_EQ(m.Compile("x = 1", {}, true, listing), 0);
  EXPECT_EQ(host.Shown.size(), 1u);
  EXPECT_EQ(m.ErrorReport(), "");
  EXPECT_EQ(m.ErrorLine(), 0);
  EXPECT_EQ(listing.back().substr(0, 3), "END");
}

TEST(CompileKeywords, AnyCase) {
  std::vector<std::vector<std::string>> listings;
  for (const char* src : {"print 1: for i=1 to 2 step 1: next i", "Print 1: For i=1 To 2 Step 1: Next i",
                          "PRINT 1: FOR i=1 TO 2 STEP 1: NEXT i"}) {
    TBasicManager m;
    std::vector<std::string> listing;
    ASSERT_EQ(m.Compile(src, {}, false, listing), 0) << src << ": " << m.ErrorReport();
    listings.push_back(m.IntermediateListing());
  }
  EXPECT_EQ(listings[0], listings[1]);
  EXPECT_EQ(listings[0], listings[2]);
}

// The executive has 500 global slots; a 501st distinct stored name is refused where it
// first appears. Names differing only in case are one variable.
TEST(CompileLimits, FiveHundredVariables) {
  std::string src;
  for (int i = 0; i < 500; ++i) src += "v" + std::to_string(i) + " = " + std::to_string(i) + "\r\n";
  src += "V0 = 1\r\n";
  TBasicManager m;
  EXPECT_EQ(CompileText(m, src), 0) << m.ErrorReport();
  EXPECT_EQ(CompileText(m, src + "w = 1\r\nx = 2\r\n"), -502);
  EXPECT_EQ(m.ErrorReport(), "ERROR Line 502: Too many variables");
}

TEST(CompileLimits, FrameNames) {
  auto function = [](int params) {
    std::string src = "FUNCTION f(";
    for (int i = 0; i < params; ++i) src += (i ? ",p" : "p") + std::to_string(i);
    return src + ")\r\nRETURN p0\r\nENDFUNC\r\n";
  };
  TBasicManager m;
  // three of the 256 frame places hold the saved frame base, return index and count
  EXPECT_EQ(CompileText(m, function(253)), 0) << m.ErrorReport();
  EXPECT_EQ(CompileText(m, function(254)), -1);
  EXPECT_EQ(m.ErrorReport(), "ERROR Line 1: Too many parameters and locals");

  // locals are stored as frame offset - 100, so a 100th local would alias global slot 0
  auto withLocals = [](int locals) {
    std::string src = "g = 1\r\nFUNCTION f() LOCAL l0";
    for (int i = 1; i < locals; ++i) src += ",l" + std::to_string(i);
    return src + "\r\nl" + std::to_string(locals - 1) + " = 2\r\nRETURN g\r\nENDFUNC\r\n";
  };
  EXPECT_EQ(CompileText(m, withLocals(99)), 0) << m.ErrorReport();
  EXPECT_EQ(CompileText(m, withLocals(100)), -2);
  EXPECT_EQ(m.ErrorReport(), "ERROR Line 2: Too many parameters and locals");
}

// Deep nesting ends in a compile error, never in a stack overflow; ordinary depth compiles.
TEST(CompileLimits, NestingDepth) {
  struct Shape {
    const char* Prefix;
    const char* Open;
    const char* Inner;
    const char* Close;
  };
  const Shape shapes[] = {
      {"a = ", "(", "1", ")"},          {"a = ", "-", "1", ""},
      {"a = 2", "^2", "", ""},          {"IF ", "NOT ", "1 = 1 THEN END", ""},
      {"a = ", "abs(", "1", ")"},       {"a$ = ", "(", "\"x\"", ")"},
      {"p# = ", "(", "THIS#", ")"},
  };
  for (const Shape& s : shapes) {
    auto make = [&](int n) {
      std::string r = s.Prefix;
      for (int i = 0; i < n; ++i) r += s.Open;
      r += s.Inner;
      for (int i = 0; i < n; ++i) r += s.Close;
      return r;
    };
    TBasicManager m;
    EXPECT_EQ(CompileText(m, make(50)), 0) << s.Open << ": " << m.ErrorReport();
    EXPECT_EQ(CompileText(m, make(200000)), -1) << s.Open;
    EXPECT_EQ(m.ErrorMessage(), TBasicManager::kTooDeep) << s.Open;
  }
}

}  // namespace
}  // namespace telvane::script
