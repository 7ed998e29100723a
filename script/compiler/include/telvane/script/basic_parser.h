// Tokenizer of the script language: cuts a source text into one array of tokens.
//
// Reentrant; a TBasicParser object is used by one thread at a time.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace telvane::script {

// X(enumerator, text) for the 31 keywords; the editor's colouring reads Keywords() below.
#define TELVANE_BASIC_KEYWORDS(X) \
  X(And, "AND")                   \
  X(Break, "BREAK")               \
  X(Cls, "CLS")                   \
  X(Continue, "CONTINUE")         \
  X(Else, "ELSE")                 \
  X(End, "END")                   \
  X(Endfunc, "ENDFUNC")           \
  X(Endif, "ENDIF")               \
  X(Endwhile, "ENDWHILE")         \
  X(Exit, "EXIT")                 \
  X(For, "FOR")                   \
  X(Function, "FUNCTION")         \
  X(Gosub, "GOSUB")               \
  X(Goto, "GOTO")                 \
  X(If, "IF")                     \
  X(Input, "INPUT")               \
  X(Local, "LOCAL")               \
  X(Locate, "LOCATE")             \
  X(Mod, "MOD")                   \
  X(Next, "NEXT")                 \
  X(Not, "NOT")                   \
  X(Or, "OR")                     \
  X(Print, "PRINT")               \
  X(Rem, "REM")                   \
  X(Repeat, "REPEAT")             \
  X(Return, "RETURN")             \
  X(Step, "STEP")                 \
  X(Then, "THEN")                 \
  X(To, "TO")                     \
  X(Until, "UNTIL")               \
  X(While, "WHILE")

enum class Tok : uint8_t {
  EndOfText,
  LineEnd,
  Colon,
  Comma,
  Semicolon,
  LParen,
  RParen,
  LBracket,
  RBracket,
  Plus,
  Minus,
  Star,
  Slash,
  Caret,
  Eq,
  Lt,
  Gt,
  Le,
  Ge,
  Ne,
  Max,  // ?>
  Min,  // ?<
  String,
  Integer,
  Real,
  // A number literal beyond the range of a double: a token of its own so the compiler can
  // say "Arithmetic overflow" instead of taking it for a stray character.
  HugeNumber,
  NumVar,
  StrVar,
  PtrVar,
  NumFunc,
  StrFunc,
  PtrFunc,
  NumIndexed,
  StrIndexed,
  PtrIndexed,
#define TELVANE_BASIC_KW_ENUM(id, text) Kw##id,
  TELVANE_BASIC_KEYWORDS(TELVANE_BASIC_KW_ENUM)
#undef TELVANE_BASIC_KW_ENUM
  Invalid,
};

struct Token {
  Tok Kind = Tok::EndOfText;
  // Offsets are 32-bit (not 24) so that a source beyond 16 MiB still reports true lines.
  uint32_t Offset = 0;
  uint32_t Length = 0;  // name only for calls and indexed variables; quotes included for strings
  double Value = 0.0;   // number literals
};

class TBasicParser {
 public:
  // Slot limit of the token array, end markers included.
  static constexpr std::size_t kMaxSlots = 1'000'000;

  // Fills Tokens(): slot 0 a line end at offset 0, then the source's tokens, then two
  // end-of-text tokens. Returns false when the source needs kMaxSlots slots or more
  // ("Source too big"); the array then holds what fitted, still closed by end-of-text.
  bool Tokenize(std::string_view source);

  const std::vector<Token>& Tokens() const { return tokens_; }
  // Token text as written: the name for calls and indexed variables, the content between
  // the quotes for strings.
  std::string_view Text(const Token& t) const;

  static std::span<const std::string_view> Keywords();

 private:
  std::string_view src_;
  std::vector<Token> tokens_;
};

}  // namespace telvane::script
