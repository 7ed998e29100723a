#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "telvane/script/basic_parser.h"

namespace telvane::script {
namespace {

struct Expected {
  Tok Kind;
  const char* Text;
};

struct Row {
  std::string_view Source;
  std::vector<Expected> Tokens;  // between the leading line end and the closing end-of-text
};

TEST(Tokenizer, Kinds) {
  const Row rows[] = {
      {"a = 1", {{Tok::NumVar, "a"}, {Tok::Eq, "="}, {Tok::Integer, "1"}}},
      {"mid$ (x, 2)", {{Tok::StrFunc, "mid$"}, {Tok::NumVar, "x"}, {Tok::Comma, ","}, {Tok::Integer, "2"},
                       {Tok::RParen, ")"}}},
      {"b$\t[i] f#(", {{Tok::StrIndexed, "b$"}, {Tok::NumVar, "i"}, {Tok::RBracket, "]"}, {Tok::PtrFunc, "f#"}}},
      {"a$b p#", {{Tok::NumVar, "a$b"}, {Tok::PtrVar, "p#"}}},
      // keywords in any case, never with a $ or # ending, and never taken as calls
      {"Print PRINT$ print# IF(a", {{Tok::KwPrint, "Print"}, {Tok::StrVar, "PRINT$"}, {Tok::PtrVar, "print#"},
                                    {Tok::KwIf, "IF"}, {Tok::LParen, "("}, {Tok::NumVar, "a"}}},
      // comments drop their text but keep the line end
      {"a ' x = \"b\r\nREM (\nremark", {{Tok::NumVar, "a"}, {Tok::LineEnd, "\r\n"}, {Tok::LineEnd, "\n"},
                                         {Tok::NumVar, "remark"}}},
      {"1 2147483647 2147483648 .5 1E-5 5# 1.2.3 1E999 1E",
       {{Tok::Integer, "1"}, {Tok::Integer, "2147483647"}, {Tok::Real, "2147483648"}, {Tok::Real, ".5"},
        {Tok::Real, "1E-5"}, {Tok::Integer, "5"}, {Tok::Invalid, "1.2.3"}, {Tok::HugeNumber, "1E999"},
        {Tok::Invalid, "1E"}}},
      {"<= >= <> ?> ?< ? < > =", {{Tok::Le, "<="}, {Tok::Ge, ">="}, {Tok::Ne, "<>"}, {Tok::Max, "?>"},
                                  {Tok::Min, "?<"}, {Tok::Invalid, "?"}, {Tok::Lt, "<"}, {Tok::Gt, ">"},
                                  {Tok::Eq, "="}}},
      {"\"ab\" \"open\r\nx", {{Tok::String, "ab"}, {Tok::Invalid, "\"open"}, {Tok::LineEnd, "\r\n"},
                              {Tok::NumVar, "x"}}},
      {"a\rb\nc\n\rd", {{Tok::NumVar, "a"}, {Tok::LineEnd, "\r"}, {Tok::NumVar, "b"}, {Tok::LineEnd, "\n"},
                        {Tok::NumVar, "c"}, {Tok::LineEnd, "\n"}, {Tok::LineEnd, "\r"}, {Tok::NumVar, "d"}}},
      {std::string_view("a\0b", 3), {{Tok::NumVar, "a"}}},
      {"\x01\x08\x1f a \x7f \xc3", {{Tok::NumVar, "a"}, {Tok::Invalid, "\x7f"}, {Tok::Invalid, "\xc3"}}},
  };
  for (const Row& r : rows) {
    TBasicParser p;
    ASSERT_TRUE(p.Tokenize(r.Source));
    const std::vector<Token>& t = p.Tokens();
    ASSERT_EQ(t.size(), r.Tokens.size() + 3) << r.Source;
    EXPECT_EQ(t.front().Kind, Tok::LineEnd);
    EXPECT_EQ(t.front().Offset, 0u);
    EXPECT_EQ(t[t.size() - 2].Kind, Tok::EndOfText);
    EXPECT_EQ(t.back().Kind, Tok::EndOfText);
    for (std::size_t i = 0; i < r.Tokens.size(); ++i) {
      EXPECT_EQ(t[i + 1].Kind, r.Tokens[i].Kind) << r.Source << " #" << i;
      EXPECT_EQ(p.Text(t[i + 1]), r.Tokens[i].Text) << r.Source << " #" << i;
    }
  }
}

TEST(Tokenizer, SlotLimit) {
  // a line end, the tokens and two end-of-text tokens must fit in the slot limit
  TBasicParser p;
  EXPECT_TRUE(p.Tokenize(std::string(TBasicParser::kMaxSlots - 4, ':')));
  EXPECT_EQ(p.Tokens().size(), TBasicParser::kMaxSlots - 1);
  EXPECT_FALSE(p.Tokenize(std::string(TBasicParser::kMaxSlots - 3, ':')));
  EXPECT_EQ(p.Tokens().back().Kind, Tok::EndOfText);
  EXPECT_LE(p.Tokens().size(), TBasicParser::kMaxSlots);
}

}  // namespace
}  // namespace telvane::script
