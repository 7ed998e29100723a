#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <string>

#include "telvane/script/asm_parser.h"
#include "telvane/script/basic_manager.h"

namespace telvane::script {
namespace {

struct Row {
  std::string_view Line;
  AsmKind First;
  AsmKind Second;
  const char* SecondText;
  double SecondValue;
};

TEST(AsmParser, FirstTwoTokens) {
  const Row rows[] = {
      {"PUSHC 1.5   ", AsmKind::Instruction, AsmKind::Real, "1.5", 1.5},
      {"PUSHC -2", AsmKind::Instruction, AsmKind::Integer, "-2", -2},
      {"PUSHC 1E-5", AsmKind::Instruction, AsmKind::Real, "1E-5", 1e-5},
      {"PUSHC 3000000000", AsmKind::Instruction, AsmKind::Real, "3000000000", 3e9},
      {"PUSHC .5#", AsmKind::Instruction, AsmKind::Real, ".5", 0.5},
      {"PUSHC 1E999", AsmKind::Instruction, AsmKind::Invalid, "1E999", 0},
      {"PUSHC 1.2.3", AsmKind::Instruction, AsmKind::Invalid, "1.2.3", 0},
      {"PUSHC -", AsmKind::Instruction, AsmKind::Invalid, "-", 0},
      {"PUSHC$ \"a b\"", AsmKind::Instruction, AsmKind::String, "a b", 0},
      {"PUSHC$ \"open", AsmKind::Instruction, AsmKind::Invalid, "\"open", 0},
      {"CALLEX$ \"mid$@$n\"", AsmKind::Instruction, AsmKind::String, "mid$@$n", 0},
      {"popstore# @p#", AsmKind::Instruction, AsmKind::Identifier, "@p#", 0},
      {"push#_tag", AsmKind::Instruction, AsmKind::EndOfText, "", 0},
      {", 3", AsmKind::Comma, AsmKind::Integer, "3", 3},
      {"* 2 l2 @0 *", AsmKind::Symbol, AsmKind::Integer, "2", 2},
      {"100   ", AsmKind::Integer, AsmKind::EndOfText, "", 0},
      {"xxxxxxxxxx", AsmKind::Identifier, AsmKind::EndOfText, "", 0},
      {"\x01\t PRINT\r\nEND", AsmKind::Instruction, AsmKind::LineEnd, "\r\n", 0},
      {std::string_view("END\0PUSHC", 9), AsmKind::Instruction, AsmKind::EndOfText, "", 0},
      {"", AsmKind::EndOfText, AsmKind::EndOfText, "", 0},
      {"~ !", AsmKind::Invalid, AsmKind::Invalid, "!", 0},
  };
  for (const Row& r : rows) {
    TasmParser p(r.Line);
    const AsmToken a = p.Next();
    const AsmToken b = p.Next();
    EXPECT_EQ(a.Kind, r.First) << r.Line;
    EXPECT_EQ(b.Kind, r.Second) << r.Line;
    EXPECT_EQ(b.Text, r.SecondText) << r.Line;
    if (b.Kind == AsmKind::Integer || b.Kind == AsmKind::Real) {
      EXPECT_DOUBLE_EQ(b.Value, r.SecondValue) << r.Line;
    }
  }
}

// Instruction names are found without regard to case and never shadow one another, and
// only the executable ones are offered to the assembler.
TEST(AsmParser, InstructionTable) {
  for (int i = 0; i < kAsmOpCount; ++i) {
    const auto op = static_cast<AsmOp>(i);
    std::string lower(AsmOpName(op));
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    ASSERT_EQ(FindAsmOp(lower), op) << lower;
    const AsmToken t = TasmParser::First(lower + " 1");
    EXPECT_EQ(t.Kind, AsmKind::Instruction);
    EXPECT_EQ(t.Op, op);
  }
  EXPECT_FALSE(AsmOpExecutable(AsmOp::Else));
  EXPECT_FALSE(AsmOpExecutable(AsmOp::PopnjumpCrlf));
  EXPECT_TRUE(AsmOpExecutable(AsmOp::Repeat));
  EXPECT_FALSE(FindAsmOp("PUSHX").has_value());
}

// Numbers go into the listing as text and come back through this tokenizer: the text must
// be what the listing shows and read back as the same value to 15 digits.
TEST(AsmParser, ListingNumbersReadBack) {
  const struct {
    double Value;
    const char* Text;
  } rows[] = {
      {0.5, "0.5"},         {1e-5, "1E-5"},      {0.0001, "0.0001"},
      {-2, "-2"},           {1e15, "1E15"},      {123456789012345, "123456789012345"},
      {2147483648.0, "2147483648"},             {3.14159265358979323, "3.14159265358979"},
      {1.7976931348623157e308, "1.7976931348623157E308"}, {4.9e-324, "4.94065645841247E-324"},
  };
  for (const auto& r : rows) {
    const std::string text = FormatListingNumber(r.Value);
    EXPECT_EQ(text, r.Text);
    const AsmToken t = TasmParser::First(text);
    ASSERT_TRUE(t.Kind == AsmKind::Integer || t.Kind == AsmKind::Real) << text;
    EXPECT_NEAR(t.Value, r.Value, std::abs(r.Value) * 1e-14) << text;
  }
}

}  // namespace
}  // namespace telvane::script
