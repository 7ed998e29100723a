#include "telvane/script/builtins.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <thread>

#include "number_text.h"
#include "telvane/script/executive.h"
#include "telvane/script/script_host.h"

namespace telvane::script {
namespace {

using Ctx = CallContext;

// ---- conversions shared by the tables ------------------------------------------------

[[noreturn]] void Raise(std::string_view message) { throw ScriptFault(std::string(message)); }

// How a function's non-finite result is reported: a pole (logarithm of 0, atanh of 1) is a
// division by zero, anything else an overflow. A NaN result is always an invalid operand.
enum class Infinite { Overflow, Pole };

double Checked(double r, Infinite inf = Infinite::Overflow) {
  if (std::isnan(r)) Raise(kFaultInvalid);
  if (std::isinf(r)) Raise(inf == Infinite::Pole ? kFaultDivisionByZero : kFaultOverflow);
  return r;
}

// trunc(x) as a position or count; far-out values are clamped, which no text length reaches.
long long TruncPosition(double x) {
  const double t = std::trunc(x);
  if (t > 1e15) return 1'000'000'000'000'000LL;
  if (t < -1e15) return -1'000'000'000'000'000LL;
  return static_cast<long long>(t);
}

void CheckLength(std::size_t n) {
  if (n > StringLimit()) Raise(kFaultStringTooLong);
}

// The thread's own generator, seeded once from the system: scripts on two threads never
// share its state.
double Uniform01() {
  thread_local std::mt19937_64 gen{std::random_device{}()};
  return static_cast<double>(gen() >> 11) * 0x1.0p-53;  // 53 random bits: [0, 1)
}

// ---- table 1: numeric functions ------------------------------------------------------

template <double (*F)(double), Infinite Inf = Infinite::Overflow>
void Math(Ctx& c) {
  c.Number = Checked(F(c.Num(0)), Inf);
}

double Abs(double x) { return std::fabs(x); }
double Ln(double x) { return std::log(x); }
double Tan(double x) { return std::tan(x); }
double Cos(double x) { return std::cos(x); }
double Fix(double x) { return std::trunc(x); }
double Sgn(double x) { return x > 0 ? 1.0 : (x == 0 ? 0.0 : -1.0); }
double Sin(double x) { return std::sin(x); }
// The largest whole number not above x: int(-2) is -2, int(-2.5) is -3.
double Int(double x) { return std::floor(x); }
double Exp(double x) { return std::exp(x); }
double Sqr(double x) { return std::sqrt(x); }
double Log2(double x) { return std::log2(x); }
double Frac(double x) { return x - std::trunc(x); }
double Atan(double x) { return std::atan(x); }
double Acos(double x) { return std::acos(x); }
double Asin(double x) { return std::asin(x); }
double Tanh(double x) { return std::tanh(x); }
double Cosh(double x) { return std::cosh(x); }
double Sinh(double x) { return std::sinh(x); }
double Log10(double x) { return std::log10(x); }
double Atanh(double x) { return std::atanh(x); }
double Acosh(double x) { return std::acosh(x); }
double Asinh(double x) { return std::asinh(x); }
double Round(double x) { return std::nearbyint(x); }  // halves to even in the default mode
double DegToRad(double x) { return x * 0.017453292519943295769; }
double RadToDeg(double x) { return x * 57.295779513082320877; }

void RndN(Ctx& c) { c.Number = Checked(Uniform01() * c.Num(0)); }
void Rnd(Ctx& c) { c.Number = Uniform01(); }
void Atan2(Ctx& c) { c.Number = Checked(std::atan2(c.Num(0), c.Num(1))); }
// hypot does not overflow in the squares when the length itself is representable.
void Modulo(Ctx& c) { c.Number = Checked(std::hypot(c.Num(0), c.Num(1))); }
void Asc(Ctx& c) { c.Number = c.Str(0).empty() ? 0.0 : static_cast<unsigned char>(c.Str(0)[0]); }
void Len(Ctx& c) { c.Number = static_cast<double>(c.Str(0).size()); }
// Optional leading blanks, then the longest prefix that reads as a number; 0 when there
// is none ("abc"), so "12abc" reads as 12.
void Val(Ctx& c) {
  std::string_view t = c.Str(0);
  while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
  const detail::ParsedNumber p = detail::ParseNumberPrefix(t);
  if (p.Status == detail::ParseStatus::Overflow) Raise(kFaultOverflow);
  c.Number = p.Status == detail::ParseStatus::Ok ? p.Value : 0.0;
}
void PntToNum(Ctx& c) { c.Number = c.Ptr(0); }

// ---- table 2: string functions -------------------------------------------------------

void LCase(Ctx& c) {
  c.Text.assign(c.Str(0));
  for (char& ch : c.Text)
    if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
}
void UCase(Ctx& c) {
  c.Text.assign(c.Str(0));
  for (char& ch : c.Text)
    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
}
bool IsTrimmed(char ch) { return static_cast<unsigned char>(ch) <= 32; }
void LTrim(Ctx& c) {
  std::string_view t = c.Str(0);
  while (!t.empty() && IsTrimmed(t.front())) t.remove_prefix(1);
  c.Text.assign(t);
}
void RTrim(Ctx& c) {
  std::string_view t = c.Str(0);
  while (!t.empty() && IsTrimmed(t.back())) t.remove_suffix(1);
  c.Text.assign(t);
}
void Chr(Ctx& c) {
  double code = std::fmod(std::trunc(c.Num(0)), 256.0);
  if (code < 0) code += 256.0;
  c.Text.assign(1, static_cast<char>(static_cast<unsigned char>(code)));
}
void Hex(Ctx& c) {
  const double t = std::trunc(c.Num(0));
  // Beyond 64 bits the two's complement has no meaning.
  if (!(t >= -0x1.0p63 && t < 0x1.0p63)) Raise(kFaultInvalid);
  uint64_t v = static_cast<uint64_t>(static_cast<int64_t>(t));
  static constexpr char kDigits[] = "0123456789ABCDEF";
  char buf[16];
  int n = 0;
  do {
    buf[n++] = kDigits[v & 15];
    v >>= 4;
  } while (v != 0);
  if (n < 2) buf[n++] = '0';
  c.Text.clear();
  while (n > 0) c.Text.push_back(buf[--n]);
}
void Str(Ctx& c) {
  c.Text = detail::FormatGeneral(c.Num(0), 15);
  const std::string sep = detail::SystemDecimalSeparator();
  if (sep != ".") {
    const std::size_t at = c.Text.find('.');
    if (at != std::string::npos) c.Text.replace(at, 1, sep);
  }
}
// Substrings: a start below 1 counts as 1, a start beyond the end or a negative count
// gives the empty string, and a count is cut at the end of the text.
void Substring(Ctx& c, long long start, long long count) {
  const std::string_view t = c.Str(0);
  if (start < 1) start = 1;
  if (count < 0 || start > static_cast<long long>(t.size())) {
    c.Text.clear();
    return;
  }
  c.Text.assign(t.substr(static_cast<std::size_t>(start - 1), static_cast<std::size_t>(count)));
}
void MidFrom(Ctx& c) { Substring(c, TruncPosition(c.Num(1)), static_cast<long long>(c.Str(0).size())); }
void Mid(Ctx& c) { Substring(c, TruncPosition(c.Num(1)), TruncPosition(c.Num(2))); }
void Left(Ctx& c) {
  const long long n = TruncPosition(c.Num(1));
  Substring(c, 1, n < 0 ? 0 : n);
}
void Right(Ctx& c) {
  const long long size = static_cast<long long>(c.Str(0).size());
  const long long n = TruncPosition(c.Num(1));
  if (n <= 0) {
    c.Text.clear();
    return;
  }
  Substring(c, n >= size ? 1 : size - n + 1, size);
}
void Tab(Ctx& c, bool left) {
  const std::string_view t = c.Str(0);
  const long long width = TruncPosition(c.Num(1));
  const std::size_t pad = width > static_cast<long long>(t.size()) ? static_cast<std::size_t>(width) - t.size() : 0;
  CheckLength(t.size() + pad);
  c.Text.clear();
  if (!left) c.Text.append(pad, ' ');
  c.Text.append(t);
  if (left) c.Text.append(pad, ' ');
}
void LTab(Ctx& c) { Tab(c, true); }
void RTab(Ctx& c) { Tab(c, false); }

// ---- table 3: other functions --------------------------------------------------------

// Lines are separated by CR; an LF right after a CR belongs to neither line.
void Count(Ctx& c) {
  std::size_t n = 1;
  for (char ch : c.Str(0))
    if (ch == '\r') ++n;
  c.Number = static_cast<double>(n);
}
void Item(Ctx& c) {
  const std::string_view t = c.Str(0);
  const double r = std::nearbyint(c.Num(1));
  const long long n = r < 0 ? 0 : (r > 1e9 ? 1'000'000'000LL : static_cast<long long>(r));
  c.Text.clear();
  if (n < 1 || t.empty()) return;
  std::size_t start = 0;
  for (long long line = 1; line < n; ++line) {
    const std::size_t cr = t.find('\r', start);
    if (cr == std::string_view::npos) return;  // fewer lines
    start = cr + 1;
    if (start < t.size() && t[start] == '\n') ++start;
  }
  const std::size_t end = t.find('\r', start);
  c.Text.assign(t.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
}

constexpr std::string_view kFileError = "ERROR";
// opentext$ reads at most this many bytes of a file.
constexpr std::size_t kMaxTextFile = 99'000'000;

void OpenText(Ctx& c) {
  const char* name = c.CStr(0);
  const int fd = ::open(name, O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    if (fd >= 0) ::close(fd);
    c.Text.assign(kFileError);
    return;
  }
  // Only the size the file had when opened is read, so a device or pipe cannot feed an
  // endless text.
  const std::size_t size = st.st_size > 0 ? std::min<std::size_t>(static_cast<std::size_t>(st.st_size), kMaxTextFile) : 0;
  c.Text.resize(size);
  std::size_t got = 0;
  while (got < size) {
    const ssize_t n = ::read(fd, c.Text.data() + got, size - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      Raise(std::string("Error reading ") + name);
    }
    if (n == 0) break;  // the file shrank meanwhile
    got += static_cast<std::size_t>(n);
  }
  ::close(fd);
  c.Text.resize(got);
  const std::size_t nul = c.Text.find('\0');
  if (nul != std::string::npos) c.Text.resize(nul);
}

void SaveText(Ctx& c) {
  const std::string_view text = c.Str(0);
  const char* name = c.CStr(1);
  const int fd = ::open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    c.Text.assign(kFileError);
    return;
  }
  std::size_t put = 0;
  while (put < text.size()) {
    const ssize_t n = ::write(fd, text.data() + put, text.size() - put);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ::close(fd);
      Raise(std::string("Error writing ") + name);
    }
    put += static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0) Raise(std::string("Error writing ") + name);
  c.Text.clear();
}

void CopyText(Ctx& c) {
  if (c.Host != nullptr) c.Host->setClipboardText(c.Str(0));
  c.Text.clear();
}
void PasteText(Ctx& c) { c.Text = c.Host != nullptr ? c.Host->clipboardText() : std::string(); }

char Lower(char ch) { return (ch >= 'A' && ch <= 'Z') ? static_cast<char>(ch - 'A' + 'a') : ch; }

// Mask with '*' (any run) and '?' (any one character), without regard to case; every
// other character stands for itself. "*.*" matches every name, as users of such masks
// expect, even one without a dot.
bool MaskMatches(std::string_view mask, std::string_view name) {
  if (mask == "*.*") return true;
  std::size_t m = 0, n = 0, starM = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (m < mask.size() && (mask[m] == '?' || Lower(mask[m]) == Lower(name[n]))) {
      ++m;
      ++n;
    } else if (m < mask.size() && mask[m] == '*') {
      starM = m++;
      starN = n;
    } else if (starM != std::string_view::npos) {
      m = starM + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == '*') ++m;
  return m == mask.size();
}

// Files (not folders) of the folder whose names match the mask, in the order the file
// system lists them, joined with CR LF.
void FindFile(Ctx& c) {
  c.Text.clear();
  std::string folder(c.CStr(0));
  const std::string_view mask = c.CStr(1);
  if (folder.empty()) return;
  if (folder.back() != '/') folder.push_back('/');
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return;
  while (const dirent* e = ::readdir(dir)) {
    const std::string_view name = e->d_name;
    if (name == "." || name == ".." || !MaskMatches(mask, name)) continue;
    struct stat st {};
    const std::string path = folder + e->d_name;
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) continue;
    if (!c.Text.empty()) c.Text += "\r\n";
    c.Text += name;
    if (c.Text.size() > StringLimit()) {
      ::closedir(dir);
      Raise(kFaultStringTooLong);
    }
  }
  ::closedir(dir);
}

void Message(Ctx& c) {
  if (c.Host != nullptr) c.Host->showMessage(c.Str(0));
  c.Number = 0;
}
void Pause(Ctx& c) {
  const double ms = std::nearbyint(c.Num(0) * 1000.0);
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms < 2147483647.0 ? static_cast<int64_t>(ms) : 2147483647));
  c.Number = 0;
}
void Number(Ctx& c) { c.Number = c.Ptr(0); }
void Pointer(Ctx& c) {
  const double r = std::nearbyint(c.Num(0));
  if (!(r >= -2147483648.0 && r <= 2147483647.0)) Raise(kFaultInvalid);
  c.Pointer = static_cast<int32_t>(r);
}

// ---- the sandbox's stand-ins ---------------------------------------------------------

void NoFileRead(Ctx& c) { c.Text.assign(kFileError); }
void NoFileWrite(Ctx& c) { c.Text.assign(kFileError); }
void NoFolder(Ctx& c) { c.Text.clear(); }
void NoPause(Ctx& c) { c.Number = 0; }

BuiltinTables MakeTables() {
  BuiltinTables t;
  t.Numeric = {
      {"abs@n", &Math<Abs>},
      {"ln@n", &Math<Ln, Infinite::Pole>},
      {"tan@n", &Math<Tan>},
      {"rnd@n", &RndN},
      {"cos@n", &Math<Cos>},
      {"fix@n", &Math<Fix>},
      {"sgn@n", &Math<Sgn>},
      {"sin@n", &Math<Sin>},
      {"int@n", &Math<Int>},
      {"exp@n", &Math<Exp>},
      {"sqr@n", &Math<Sqr>},
      {"log2@n", &Math<Log2, Infinite::Pole>},
      {"frac@n", &Math<Frac>},
      {"atan@n", &Math<Atan>},
      {"acos@n", &Math<Acos>},
      {"asin@n", &Math<Asin>},
      {"tanh@n", &Math<Tanh>},
      {"cosh@n", &Math<Cosh>},
      {"sinh@n", &Math<Sinh>},
      {"log10@n", &Math<Log10, Infinite::Pole>},
      {"atanh@n", &Math<Atanh, Infinite::Pole>},
      {"acosh@n", &Math<Acosh>},
      {"asinh@n", &Math<Asinh>},
      {"round@n", &Math<Round>},
      {"degtorad@n", &Math<DegToRad>},
      {"radtodeg@n", &Math<RadToDeg>},
      {"rnd@", &Rnd},
      {"atan2@nn", &Atan2},
      {"modulo@nn", &Modulo},
      {"asc@$", &Asc},
      {"len@$", &Len},
      {"val@$", &Val},
      {"pnttonum@#", &PntToNum},
  };
  t.String = {
      {"lcase$@$", &LCase},   {"ucase$@$", &UCase},     {"ltrim$@$", &LTrim},     {"rtrim$@$", &RTrim},
      {"chr$@n", &Chr},       {"hex$@n", &Hex},         {"str$@n", &Str},         {"mid$@$n", &MidFrom},
      {"ltab$@$n", &LTab},    {"rtab$@$n", &RTab},      {"left$@$n", &Left},      {"right$@$n", &Right},
      {"mid$@$nn", &Mid},
  };
  t.Other = {
      {"count@$", &Count},
      {"item$@$n", &Item},
      {"opentext$@$", &OpenText},
      {"savetext$@$$", &SaveText},
      {"copytext$@$", &CopyText},
      {"pastetext$@", &PasteText},
      {"findfile$@$$", &FindFile},
      {"finddir$@$$", &FindFile},
      {"message@$", &Message},
      {"pause@n", &Pause},
      {"number@#", &Number},
      {"pointer#@n", &Pointer},
  };
  return t;
}

void Replace(CallableTable& table, std::string_view name, CallableFn fn) {
  for (CallableEntry& e : table)
    if (e.Name == name) e.Fn = fn;
}

}  // namespace

CallableTable BuiltinTables::Joined() const {
  CallableTable all;
  all.reserve(Numeric.size() + String.size() + Other.size());
  all.insert(all.end(), Numeric.begin(), Numeric.end());
  all.insert(all.end(), String.begin(), String.end());
  all.insert(all.end(), Other.begin(), Other.end());
  return all;
}

const BuiltinTables& Builtins() {
  static const BuiltinTables tables = MakeTables();
  return tables;
}

BuiltinTables SandboxedBuiltins() {
  BuiltinTables t = MakeTables();
  Replace(t.Other, "opentext$@$", &NoFileRead);
  Replace(t.Other, "savetext$@$$", &NoFileWrite);
  Replace(t.Other, "findfile$@$$", &NoFolder);
  Replace(t.Other, "finddir$@$$", &NoFolder);
  Replace(t.Other, "pause@n", &NoPause);
  return t;
}

}  // namespace telvane::script
