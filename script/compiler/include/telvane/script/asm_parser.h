// Tokenizer for one line of the assembly listing, shared by the resolver and the assembler,
// and the one table of instruction names both of them use.
//
// Reentrant; a TasmParser object is used by one thread at a time.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace telvane::script {

// X(enumerator, listing text, runs in the executive)
// Rows marked false are the compiler's block pseudo-instructions: the resolver rewrites
// them all, and one left over (a stray ELSE) is an unknown instruction to the assembler.
#define TELVANE_ASM_INSTRUCTIONS(X)      \
  X(Pushc, "PUSHC", true)                \
  X(PushcStr, "PUSHC$", true)            \
  X(Push, "PUSH", true)                  \
  X(PushStr, "PUSH$", true)              \
  X(PushPtr, "PUSH#", true)              \
  X(PushPtrTag, "PUSH#_TAG", true)       \
  X(Pop, "POP", true)                    \
  X(Popstore, "POPSTORE", true)          \
  X(PopstoreStr, "POPSTORE$", true)      \
  X(PopstorePtr, "POPSTORE#", true)      \
  X(Add, "ADD", true)                    \
  X(Sub, "SUB", true)                    \
  X(Mul, "MUL", true)                    \
  X(Div, "DIV", true)                    \
  X(Mod, "MOD", true)                    \
  X(Pow, "POW", true)                    \
  X(Max, "MAX", true)                    \
  X(Min, "MIN", true)                    \
  X(Inv, "INV", true)                    \
  X(And, "AND", true)                    \
  X(Or, "OR", true)                      \
  X(Not, "NOT", true)                    \
  X(Eq, "EQ", true)                      \
  X(Ne, "NE", true)                      \
  X(Gt, "GT", true)                      \
  X(Ge, "GE", true)                      \
  X(Lt, "LT", true)                      \
  X(Le, "LE", true)                      \
  X(EqStr, "EQ$", true)                  \
  X(NeStr, "NE$", true)                  \
  X(GtStr, "GT$", true)                  \
  X(GeStr, "GE$", true)                  \
  X(LtStr, "LT$", true)                  \
  X(LeStr, "LE$", true)                  \
  X(AddStr, "ADD$", true)                \
  X(AddCrlfStr, "ADDCRLF$", true)        \
  X(SubStr, "SUB$", true)                \
  X(Jump, "JUMP", true)                  \
  X(Popnjump, "POPNJUMP", true)          \
  X(Call, "CALL", true)                  \
  X(Return, "RETURN", true)              \
  X(Initfunc, "INITFUNC", true)          \
  X(Retfunc, "RETFUNC", true)            \
  X(Forcycle, "FORCYCLE", true)          \
  X(Callex, "CALLEX", true)              \
  X(CallexStr, "CALLEX$", true)          \
  X(CallexPtr, "CALLEX#", true)          \
  X(Print, "PRINT", true)                \
  X(Input, "INPUT", true)                \
  X(InputStr, "INPUT$", true)            \
  X(Cls, "CLS", true)                    \
  X(End, "END", true)                    \
  X(Err, "ERR", true)                    \
  X(Endif, "ENDIF", true)                \
  X(Endfunc, "ENDFUNC", true)            \
  X(Repeat, "REPEAT", true)              \
  X(PopnjumpCrlf, "POPNJUMP_CRLF", false) \
  X(PopnjumpEndif, "POPNJUMP_ENDIF", false) \
  X(Else, "ELSE", false)                 \
  X(While, "WHILE", false)               \
  X(Endwhile, "ENDWHILE", false)         \
  X(Until, "UNTIL", false)               \
  X(Break, "BREAK", false)               \
  X(Continue, "CONTINUE", false)         \
  X(Function, "FUNCTION", false)

enum class AsmOp : uint8_t {
#define TELVANE_ASM_ENUM(id, text, exec) id,
  TELVANE_ASM_INSTRUCTIONS(TELVANE_ASM_ENUM)
#undef TELVANE_ASM_ENUM
};

inline constexpr int kAsmOpCount = 0
#define TELVANE_ASM_COUNT(id, text, exec) +1
    TELVANE_ASM_INSTRUCTIONS(TELVANE_ASM_COUNT)
#undef TELVANE_ASM_COUNT
    ;

std::string_view AsmOpName(AsmOp op);
bool AsmOpExecutable(AsmOp op);
// Instruction named by `name`, compared without regard to case.
std::optional<AsmOp> FindAsmOp(std::string_view name);

enum class AsmKind : uint8_t {
  EndOfText,    // NUL or the end of the line text
  LineEnd,      // CR, LF or CR LF
  String,       // "text"; Text() is the content without the quotes
  Integer,      // no '.' or exponent, at most 2,147,483,647
  Real,         // any other number that converts
  Identifier,   // a word that names no instruction (e.g. "@count", "rnd@n")
  Instruction,  // a word that names an instruction; see Op
  Comma,        // the line marker's ','
  Symbol,       // one of % & ' ( ) * + / : ; < = > ? [ \ ] ^
  Invalid,      // anything else, an unterminated string, a number that does not convert
};

struct AsmToken {
  AsmKind Kind = AsmKind::EndOfText;
  AsmOp Op = AsmOp::End;      // meaningful only for Instruction
  uint32_t Start = 0;         // offset of the first character in the line text
  uint32_t Length = 0;        // characters of the token as written (quotes included)
  double Value = 0.0;         // Integer and Real
  std::string_view Text;      // as written, except String: the content between the quotes
};

class TasmParser {
 public:
  TasmParser() = default;
  explicit TasmParser(std::string_view line) : line_(line) {}

  void SetLine(std::string_view line) {
    line_ = line;
    pos_ = 0;
  }
  // Next token; EndOfText again and again once the text is used up.
  AsmToken Next();

  // The first token of a listing line, which decides the line's kind.
  static AsmToken First(std::string_view line);

 private:
  std::string_view line_;
  std::size_t pos_ = 0;
};

enum class NumberStatus : uint8_t { Ok, Malformed, OutOfRange };

// Converts a number literal's text ('.' as decimal point, whatever the process locale).
// OutOfRange when the value lies beyond the double range; a value too small to represent
// reads as 0 (or the nearest subnormal).
NumberStatus ParseNumber(std::string_view text, double& value);
// The value, or empty when ParseNumber does not answer Ok.
std::optional<double> ParseNumberText(std::string_view text);

}  // namespace telvane::script
