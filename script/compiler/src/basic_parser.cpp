#include "telvane/script/basic_parser.h"

#include <array>
#include <cmath>
#include <string>

#include "telvane/script/asm_parser.h"

namespace telvane::script {
namespace {

constexpr std::array<std::string_view, 31> kKeywords = {
#define TELVANE_BASIC_KW_TEXT(id, text) text,
    TELVANE_BASIC_KEYWORDS(TELVANE_BASIC_KW_TEXT)
#undef TELVANE_BASIC_KW_TEXT
};
constexpr Tok kFirstKeyword = Tok::KwAnd;

constexpr std::size_t kInitialSlots = 2001;
constexpr double kMaxInteger = 2147483647.0;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsIdentChar(char c) { return IsLetter(c) || IsDigit(c) || c == '_' || c == '$' || c == '#'; }
bool IsSeparator(unsigned char c) { return (c >= 1 && c <= 9) || c == 11 || c == 12 || (c >= 14 && c <= 32); }
char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Keyword of an identifier, or Tok::Invalid when it is none.
Tok FindKeyword(std::string_view word) {
  if (word.size() < 2 || word.size() > 8) return Tok::Invalid;
  for (std::size_t k = 0; k < kKeywords.size(); ++k) {
    const std::string_view kw = kKeywords[k];
    if (kw.size() != word.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < kw.size() && same; ++i) same = Upper(word[i]) == kw[i];
    if (same) return static_cast<Tok>(static_cast<int>(kFirstKeyword) + static_cast<int>(k));
  }
  return Tok::Invalid;
}

}  // namespace

std::span<const std::string_view> TBasicParser::Keywords() { return kKeywords; }

std::string_view TBasicParser::Text(const Token& t) const {
  if (t.Offset >= src_.size()) return {};
  std::string_view s = src_.substr(t.Offset, t.Length);
  if (t.Kind == Tok::String && s.size() >= 2) s = s.substr(1, s.size() - 2);
  return s;
}

bool TBasicParser::Tokenize(std::string_view source) {
  src_ = source;
  tokens_.clear();
  tokens_.reserve(kInitialSlots);
  tokens_.push_back({Tok::LineEnd, 0, 0, 0.0});

  // Offsets are stored in 32 bits; a larger text cannot be numbered and is too big anyway.
  if (source.size() > UINT32_MAX) {
    tokens_.push_back({Tok::EndOfText, 0, 0, 0.0});
    tokens_.push_back({Tok::EndOfText, 0, 0, 0.0});
    return false;
  }

  const std::size_t n = source.size();
  std::size_t p = 0;
  bool full = false;
  auto add = [&](Tok kind, std::size_t start, std::size_t end, double value = 0.0) {
    tokens_.push_back({kind, static_cast<uint32_t>(start), static_cast<uint32_t>(end - start), value});
  };
  auto at = [&](std::size_t i) -> char { return i < n ? source[i] : '\0'; };

  // Leave room for the two closing end-of-text tokens.
  while (!(full = tokens_.size() + 2 >= kMaxSlots)) {
    while (p < n && IsSeparator(static_cast<unsigned char>(source[p]))) ++p;
    const char c = at(p);
    const std::size_t start = p;
    if (c == '\0') break;

    if (c == '\r' || c == '\n') {
      p += (c == '\r' && at(p + 1) == '\n') ? 2 : 1;
      add(Tok::LineEnd, start, p);
      continue;
    }
    if (c == '\'') {
      while (p < n && source[p] != '\r' && source[p] != '\n' && source[p] != '\0') ++p;
      continue;
    }
    if (c == '"') {
      ++p;
      while (p < n && source[p] != '"' && source[p] != '\r' && source[p] != '\n' && source[p] != '\0') ++p;
      if (at(p) == '"') {
        ++p;
        add(Tok::String, start, p);
      } else {
        add(Tok::Invalid, start, p);  // the line end (or end of text) stays a token of its own
      }
      continue;
    }
    if (IsDigit(c) || c == '.') {
      bool real = false;
      while (p < n) {
        const char d = source[p];
        if (IsDigit(d)) {
          ++p;
        } else if (d == '.') {
          real = true;
          ++p;
        } else if (d == 'e' || d == 'E') {
          real = true;
          ++p;
          // the exponent letter takes the next character so that 1E-5 is one literal; the
          // end of the text is never taken
          if (p < n && source[p] != '\0') ++p;
        } else {
          break;
        }
      }
      std::string text(source.substr(start, p - start));
      if (text[0] == '.') text.insert(text.begin(), '0');
      double value = 0.0;
      const NumberStatus st = ParseNumber(text, value);
      const Tok kind = st == NumberStatus::OutOfRange ? Tok::HugeNumber
                       : st == NumberStatus::Malformed ? Tok::Invalid
                       : (!real && value <= kMaxInteger) ? Tok::Integer
                                                         : Tok::Real;
      add(kind, start, p, value);
      if (at(p) == '#') ++p;
      continue;
    }
    if (IsLetter(c) || c == '_') {
      ++p;
      while (p < n && IsIdentChar(source[p])) ++p;
      const std::string_view word = source.substr(start, p - start);
      const char last = word.back();
      if (last != '$' && last != '#') {
        const Tok kw = FindKeyword(word);
        if (kw == Tok::KwRem) {
          while (p < n && source[p] != '\r' && source[p] != '\n' && source[p] != '\0') ++p;
          continue;
        }
        if (kw != Tok::Invalid) {
          add(kw, start, p);
          continue;
        }
      }
      const int base = last == '$' ? 1 : last == '#' ? 2 : 0;
      std::size_t q = p;
      while (q < n && (source[q] == ' ' || source[q] == '\t' || source[q] == '\b')) ++q;
      if (at(q) == '(') {
        add(static_cast<Tok>(static_cast<int>(Tok::NumFunc) + base), start, p);
        p = q + 1;
      } else if (at(q) == '[') {
        add(static_cast<Tok>(static_cast<int>(Tok::NumIndexed) + base), start, p);
        p = q + 1;
      } else {
        add(static_cast<Tok>(static_cast<int>(Tok::NumVar) + base), start, p);
        p = q;
      }
      continue;
    }

    Tok kind = Tok::Invalid;
    std::size_t len = 1;
    const char d = at(p + 1);
    switch (c) {
      case ':': kind = Tok::Colon; break;
      case ',': kind = Tok::Comma; break;
      case ';': kind = Tok::Semicolon; break;
      case '(': kind = Tok::LParen; break;
      case ')': kind = Tok::RParen; break;
      case '[': kind = Tok::LBracket; break;
      case ']': kind = Tok::RBracket; break;
      case '+': kind = Tok::Plus; break;
      case '-': kind = Tok::Minus; break;
      case '*': kind = Tok::Star; break;
      case '/': kind = Tok::Slash; break;
      case '^': kind = Tok::Caret; break;
      case '=': kind = Tok::Eq; break;
      case '<':
        if (d == '=') { kind = Tok::Le; len = 2; }
        else if (d == '>') { kind = Tok::Ne; len = 2; }
        else kind = Tok::Lt;
        break;
      case '>':
        if (d == '=') { kind = Tok::Ge; len = 2; }
        else kind = Tok::Gt;
        break;
      case '?':
        if (d == '>') { kind = Tok::Max; len = 2; }
        else if (d == '<') { kind = Tok::Min; len = 2; }
        break;
      default: break;
    }
    p += len;
    add(kind, start, p);
  }

  const uint32_t end = static_cast<uint32_t>(p < n ? p : n);
  tokens_.push_back({Tok::EndOfText, end, 0, 0.0});
  tokens_.push_back({Tok::EndOfText, end, 0, 0.0});
  return !full;
}

}  // namespace telvane::script
