#include "number_text.h"

#include <cerrno>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <locale.h>

namespace telvane::script::detail {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

locale_t CLocale() {
  static const locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return loc;
}

}  // namespace

std::string FormatGeneral(double x, int digits) {
  if (x == 0.0) x = 0.0;  // drops the sign of -0
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::general, digits);
  return std::string(buf, r.ptr);
}

std::string SystemDecimalSeparator() {
  const lconv* lc = std::localeconv();
  if (lc == nullptr || lc->decimal_point == nullptr || lc->decimal_point[0] == '\0') return ".";
  return lc->decimal_point;
}

ParsedNumber ParseNumberPrefix(std::string_view text) {
  ParsedNumber result;
  std::size_t i = 0;
  const std::size_t n = text.size();
  if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
  std::size_t mantissaDigits = 0;
  while (i < n && IsDigit(text[i])) ++i, ++mantissaDigits;
  if (i < n && text[i] == '.') {
    ++i;
    while (i < n && IsDigit(text[i])) ++i, ++mantissaDigits;
  }
  if (mantissaDigits == 0) return result;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    std::size_t j = i + 1;
    if (j < n && (text[j] == '+' || text[j] == '-')) ++j;
    if (j < n && IsDigit(text[j])) {
      while (j < n && IsDigit(text[j])) ++j;
      i = j;
    }
  }
  // strtod needs a terminated copy; the grammar check above keeps it from reading more.
  const std::string copy(text.substr(0, i));
  errno = 0;
  const double v = strtod_l(copy.c_str(), nullptr, CLocale());
  result.Used = i;
  if (std::isinf(v)) {
    result.Status = ParseStatus::Overflow;
    return result;
  }
  result.Status = ParseStatus::Ok;
  result.Value = v;  // an underflow reads as the tiny value or 0
  return result;
}

}  // namespace telvane::script::detail
