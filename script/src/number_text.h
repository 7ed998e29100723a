// Number <-> text conversions of the run-time: PRINT, str$, val and INPUT.
// All of them use '.' whatever the process locale says (a GUI toolkit sets LC_NUMERIC from
// the user's environment), except where the caller asks for the system's separator.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace telvane::script::detail {

// The shortest general-format text (fixed or exponent form, as printf's %g) with at most
// `digits` significant digits; -0 is written as 0.
std::string FormatGeneral(double x, int digits);

// The system's decimal separator (LC_NUMERIC), "." in the C locale.
std::string SystemDecimalSeparator();

enum class ParseStatus { Ok, NoNumber, Overflow };

struct ParsedNumber {
  ParseStatus Status = ParseStatus::NoNumber;
  double Value = 0.0;
  std::size_t Used = 0;  // characters of the text that form the number
};

// Reads the longest prefix of `text` of the form [sign] digits [. digits] [e [sign] digits]
// ('.' as decimal point; at least one mantissa digit). No blanks, no "inf", "nan" or hex,
// which strtod would otherwise accept. A value beyond the double range is Overflow.
ParsedNumber ParseNumberPrefix(std::string_view text);

}  // namespace telvane::script::detail
