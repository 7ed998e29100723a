// The executive on listings the compiler never writes: a damaged or hand-made listing must
// end with a message, never read or write outside the stack, the globals or the code.
#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "telvane/script/builtins.h"
#include "telvane/script/executive.h"

using namespace telvane::script;

namespace {

class RecordingHost : public ScriptHost {
 public:
  void showMessage(std::string_view text) override { Messages.emplace_back(text); }
  bool inputBox(std::string_view, std::string_view, std::string&) override { return false; }
  std::string clipboardText() override { return {}; }
  void setClipboardText(std::string_view) override {}
  void outputLine(std::string_view line) override { Output.emplace_back(line); }
  void clearOutput() override { Output.clear(); }
  std::vector<std::string> Messages;
  std::vector<std::string> Output;
};

struct ListingCase {
  const char* Name;
  std::vector<std::string> Listing;
  RunStatus Status;
  std::vector<std::string> Messages;  // at assembly, then while running
  std::vector<std::string> Output;
};

std::vector<std::string> Repeat(const std::string& line, int n) { return std::vector<std::string>(n, line); }

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class DamagedListing : public testing::TestWithParam<ListingCase> {};

TEST_P(DamagedListing, EndsWithAMessage) {
  const ListingCase& c = GetParam();
  RecordingHost host;
  Texecutive ex;
  ex.Assemble(c.Listing, Builtins().Joined(), &host);
  const RunResult r = ex.Run(host);
  EXPECT_EQ(r.Status, c.Status);
  EXPECT_EQ(host.Messages, c.Messages);
  EXPECT_EQ(host.Output, c.Output);
}

const ListingCase kCases[] = {
    {"GlobalBeyondTable", {"PUSH 9999"}, RunStatus::Fault, {"INTERNAL ERROR: bad operand in listing line 0"}, {}},
    {"VariableWithoutSlot", {"PUSH @x"}, RunStatus::Fault, {"INTERNAL ERROR: bad operand in listing line 0"}, {}},
    {"JumpOutsideCode", {", 1", "JUMP 77"}, RunStatus::Fault, {"INTERNAL ERROR: bad operand in listing line 1"}, {}},
    {"UnknownHandle", {"PUSHC 0", "CALLEX 9999"}, RunStatus::Fault,
     {"INTERNAL ERROR: bad operand in listing line 1"}, {}},
    {"HugeFrame", {"INITFUNC 300"}, RunStatus::Fault, {"INTERNAL ERROR: bad operand in listing line 0"}, {}},
    {"ErrLine", {"ERR \"Callex sintax\"", "PRINT"}, RunStatus::Fault, {"INTERNAL ERROR: Callex sintax"}, {}},
    {"StrayElseRunsAsNothing", {"ELSE", "PUSHC 0", "PRINT"}, RunStatus::Ended, {"Unknown asm instruction"}, {""}},
    {"LiteralWithoutText", {"PUSHC$", "PUSHC 1", "PRINT"}, RunStatus::Ended, {}, {""}},
    {"FrameSlotOutsideStack", {"PUSH -150"}, RunStatus::Fault, {"Stack overflow"}, {}},
    {"PopFromEmptyStack", {"POP"}, RunStatus::Fault, {"Stack overflow"}, {}},
    {"OperatorOnEmptyStack", {"PUSHC 1", "ADD"}, RunStatus::Fault, {"Stack overflow"}, {}},
    {"ReturnToANumber", {"PUSHC 3", "RETURN"}, RunStatus::Fault, {"RETURN without GOSUB"}, {}},
    {"RetfuncWithoutFrame", {"PUSHC 1", "RETFUNC"}, RunStatus::Fault, {"RETURN without function call"}, {}},
    {"PrintCountBeyondStack", {"PUSHC 5", "PRINT", "PUSHC 0", "PRINT"}, RunStatus::Ended, {"Print Stack overflow"}, {""}},
    {"PrintWithoutSeparator", {"PUSHC 1", "PUSHC 2", "PUSHC 3", "PUSHC 3", "PRINT"}, RunStatus::Ended,
     {"Print syntax"}, {}},
    {"StoreOfWrongKindGoesOn", {"PUSHC$ \"a\"", "POPSTORE 0", "PUSH 0", "PUSHC 1", "PRINT"}, RunStatus::Ended,
     {"stack wrong type"}, {" 0 "}},
    {"StackFullIsFine", Concat(Repeat("PUSHC 1", 199), {"END"}), RunStatus::Ended, {}, {}},
    {"StackOverflowStops", Concat(Repeat("PUSHC 1", 200), {"PUSHC 0", "PRINT"}), RunStatus::Fault,
     {"Stack overflow"}, {}},
};

INSTANTIATE_TEST_SUITE_P(Listings, DamagedListing, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<ListingCase>& info) { return info.param.Name; });

TEST(Executive, ReturnToAPointerOutsideTheCode) {
  const CallableTable table = Builtins().Joined();
  const auto pointer = std::find_if(table.begin(), table.end(), [](const CallableEntry& e) { return e.Name == "pointer#@n"; });
  ASSERT_NE(pointer, table.end());
  const std::string callex = "CALLEX# " + std::to_string(pointer - table.begin());
  RecordingHost host;
  Texecutive ex;
  ex.Assemble(std::vector<std::string>{"PUSHC 99", "PUSHC 1", callex, "RETURN"}, table, &host);
  EXPECT_EQ(ex.Run(host).Status, RunStatus::Fault);
  EXPECT_EQ(host.Messages, std::vector<std::string>{"RETURN without GOSUB"});
}

TEST(Executive, TagAndGlobalsBetweenRuns) {
  RecordingHost host;
  Texecutive ex;
  const std::vector<std::string> listing = {
      "PUSH#_TAG", "POPSTORE# 0", "PUSH$ 1", "PUSHC$ \"x\"", "ADD$", "POPSTORE$ 1", "PUSH 2", "PUSHC 1", "ADD",
      "POPSTORE 2"};
  ex.Assemble(listing, {}, &host);
  ex.SetTag(42);
  ASSERT_EQ(ex.Run(host).Status, RunStatus::Ended);
  ASSERT_EQ(ex.Run(host).Status, RunStatus::Ended);
  EXPECT_EQ(ex.Global(0).Pointer, 42);
  EXPECT_EQ(ex.Global(1).Text, "xx");  // strings survive a run
  EXPECT_EQ(ex.Global(2).Number, 1);   // numbers start at 0 again
}

TEST(Executive, InstructionBudgetStopsAnEndlessLoop) {
  RecordingHost host;
  Texecutive ex;
  ex.Assemble(std::vector<std::string>{", 1", "JUMP 0"}, {}, &host);
  ex.SetInstructionBudget(1000);
  const RunResult r = ex.Run(host);
  EXPECT_EQ(r.Status, RunStatus::Stopped);
  EXPECT_EQ(r.Instructions, 1008u);  // the budget is checked every 16 instructions
}

}  // namespace
