#include "telvane/script/asm_parser.h"

#include <array>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <locale.h>
#include <string>

namespace telvane::script {
namespace {

struct OpRow {
  std::string_view Name;
  bool Executable;
};

constexpr std::array<OpRow, kAsmOpCount> kOps = {{
#define TELVANE_ASM_ROW(id, text, exec) {text, exec},
    TELVANE_ASM_INSTRUCTIONS(TELVANE_ASM_ROW)
#undef TELVANE_ASM_ROW
}};

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Upper(a[i]) != Upper(b[i])) return false;
  return true;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsBlank(unsigned char c) { return (c >= 1 && c <= 9) || c == 11 || c == 12 || (c >= 14 && c <= 32); }
bool IsIdentChar(char c) { return IsLetter(c) || IsDigit(c) || c == '_' || c == '@' || c == '$' || c == '#'; }
bool IsSymbol(char c) {
  return (c >= '%' && c <= '+') || c == '/' || (c >= ':' && c <= '?') || (c >= '[' && c <= '^');
}

// strtod follows LC_NUMERIC, which a GUI toolkit sets from the user's environment; the
// listing always uses '.', so convert in a C locale of our own.
locale_t CLocale() {
  static locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return loc;
}

}  // namespace

std::string_view AsmOpName(AsmOp op) { return kOps[static_cast<std::size_t>(op)].Name; }

bool AsmOpExecutable(AsmOp op) { return kOps[static_cast<std::size_t>(op)].Executable; }

std::optional<AsmOp> FindAsmOp(std::string_view name) {
  for (std::size_t i = 0; i < kOps.size(); ++i)
    if (EqualNoCase(kOps[i].Name, name)) return static_cast<AsmOp>(i);
  return std::nullopt;
}

NumberStatus ParseNumber(std::string_view text, double& value) {
  value = 0.0;
  if (text.empty()) return NumberStatus::Malformed;
  // Only digits, '.', a sign and exponent letters reach here; anything strtod would read
  // beyond that (blanks, "inf", hex) is refused so that the whole text must convert.
  for (char c : text)
    if (!(IsDigit(c) || c == '.' || c == 'e' || c == 'E' || c == '-' || c == '+')) return NumberStatus::Malformed;
  const std::string copy(text);
  char* end = nullptr;
  double v = 0.0;
  if (const locale_t loc = CLocale(); loc != static_cast<locale_t>(nullptr)) {
    v = strtod_l(copy.c_str(), &end, loc);
  } else {
    // no C locale object to be had: from_chars is locale-free too, but reports underflow
    // and overflow alike, so tell them apart by the exponent's sign
    const char* first = copy.c_str();
    const char* last = first + copy.size();
    if (*first == '+') ++first;
    const auto r = std::from_chars(first, last, v);
    end = const_cast<char*>(r.ptr);
    if (r.ec == std::errc::result_out_of_range) {
      const std::size_t e = copy.find_first_of("eE");
      v = (e != std::string::npos && e + 1 < copy.size() && copy[e + 1] == '-') ? 0.0 : HUGE_VAL;
    }
  }
  if (end != copy.c_str() + copy.size()) return NumberStatus::Malformed;
  if (std::isinf(v)) return NumberStatus::OutOfRange;
  value = v;
  return NumberStatus::Ok;
}

std::optional<double> ParseNumberText(std::string_view text) {
  double v = 0.0;
  if (ParseNumber(text, v) != NumberStatus::Ok) return std::nullopt;
  return v;
}

AsmToken TasmParser::Next() {
  const std::size_t n = line_.size();
  while (pos_ < n && IsBlank(static_cast<unsigned char>(line_[pos_]))) ++pos_;

  AsmToken t;
  t.Start = static_cast<uint32_t>(pos_);
  auto finish = [&](AsmKind kind, std::size_t end) {
    t.Kind = kind;
    t.Length = static_cast<uint32_t>(end - pos_);
    if (kind != AsmKind::String) t.Text = line_.substr(pos_, end - pos_);
    pos_ = end;
    return t;
  };

  if (pos_ >= n || line_[pos_] == '\0') {
    t.Kind = AsmKind::EndOfText;
    return t;  // stays at the end: later calls keep answering EndOfText
  }
  const char c = line_[pos_];
  if (c == '\r') return finish(AsmKind::LineEnd, (pos_ + 1 < n && line_[pos_ + 1] == '\n') ? pos_ + 2 : pos_ + 1);
  if (c == '\n') return finish(AsmKind::LineEnd, pos_ + 1);

  if (c == '"') {
    std::size_t e = pos_ + 1;
    while (e < n && line_[e] != '"' && line_[e] != '\0' && line_[e] != '\r' && line_[e] != '\n') ++e;
    if (e < n && line_[e] == '"') {
      t.Text = line_.substr(pos_ + 1, e - pos_ - 1);
      return finish(AsmKind::String, e + 1);
    }
    return finish(AsmKind::Invalid, e);
  }

  if (IsDigit(c) || c == '.' || c == '-') {
    std::size_t e = pos_ + 1;
    bool real = (c == '.');
    while (e < n) {
      const char d = line_[e];
      if (IsDigit(d)) {
        ++e;
      } else if (d == '.') {
        real = true;
        ++e;
      } else if (d == 'e' || d == 'E') {
        real = true;
        ++e;
        // the exponent letter takes the next character whatever it is, so "1E-5" is one
        // number; the end of the text is never taken
        if (e < n && line_[e] != '\0') ++e;
      } else {
        break;
      }
    }
    const std::string_view text = line_.substr(pos_, e - pos_);
    const std::optional<double> v = ParseNumberText(text);
    AsmKind kind = AsmKind::Invalid;
    if (v) {
      t.Value = *v;
      kind = (!real && *v <= 2147483647.0 && *v >= -2147483648.0) ? AsmKind::Integer : AsmKind::Real;
    }
    t = finish(kind, e);
    if (pos_ < n && line_[pos_] == '#') ++pos_;
    return t;
  }

  if (IsLetter(c) || c == '_' || c == '@') {
    std::size_t e = pos_ + 1;
    while (e < n && IsIdentChar(line_[e])) ++e;
    if (const std::optional<AsmOp> op = FindAsmOp(line_.substr(pos_, e - pos_))) {
      t.Op = *op;
      return finish(AsmKind::Instruction, e);
    }
    return finish(AsmKind::Identifier, e);
  }

  if (c == ',') return finish(AsmKind::Comma, pos_ + 1);
  if (IsSymbol(c)) return finish(AsmKind::Symbol, pos_ + 1);
  return finish(AsmKind::Invalid, pos_ + 1);
}

AsmToken TasmParser::First(std::string_view line) {
  TasmParser p(line);
  return p.Next();
}

}  // namespace telvane::script
