#include "telvane/fits.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <ctime>
#include <vector>

namespace telvane {
namespace {

constexpr size_t kKeywordColumns = 8;
constexpr size_t kValueEndColumn = 30;  // value cards right-justify their value to here
constexpr size_t kValueStartColumn = 11;
constexpr int kCaptureBlankCards = 20;  // 15 cards + END + 20 blanks = 36 cards = 2880 bytes
constexpr int32_t kOffsetCardBias = 60;

std::string CardStart(std::string_view keyword) {
  std::string card(keyword.substr(0, kKeywordColumns));
  card.resize(kKeywordColumns, ' ');
  card += "= ";
  return card;
}

void PadCard(std::string& card) {
  // A value that overruns column 80 is cut: a longer card would shift every following card.
  card.resize(kFitsCardSize, ' ');
}

// Header text must be printable ASCII; anything else would make the header unreadable.
char CardChar(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u < 0x20 || u > 0x7E) ? '?' : c;
}

}  // namespace

std::string FitsValueCard(std::string_view keyword, std::string_view value) {
  std::string v;
  v.reserve(value.size());
  for (char c : value) v += CardChar(c);
  if (auto comma = v.find(','); comma != std::string::npos) v[comma] = '.';
  std::string card = CardStart(keyword);
  const size_t width = kValueEndColumn - kValueStartColumn + 1;
  if (v.size() < width) card.append(width - v.size(), ' ');
  card += v;
  PadCard(card);
  return card;
}

std::string FitsStringCard(std::string_view keyword, std::string_view value) {
  // Quotes inside the text are doubled so readers do not take them for the closing quote;
  // the text is cut at 67 characters without splitting such a pair.
  std::string v;
  for (char c : value) {
    const std::string piece = c == '\'' ? std::string("''") : std::string(1, CardChar(c));
    if (v.size() + piece.size() > kFitsMaxStringValue) break;
    v += piece;
  }
  std::string card = CardStart(keyword);
  card += '\'';
  card += v;
  card += '\'';
  PadCard(card);
  return card;
}

std::string FitsExposureText(int32_t milliseconds) {
  // Integer arithmetic: exact, and no locale decimal separator can slip in.
  int64_t ms = milliseconds;
  std::string sign;
  if (ms < 0) {
    sign = "-";
    ms = -ms;
  }
  std::string frac = std::to_string((ms % 1000) * 10);
  frac.insert(0, 4 - frac.size(), '0');
  return sign + std::to_string(ms / 1000) + "." + frac;
}

std::string FitsFixed2Text(double value) {
  char buf[64];
  // to_chars never consults the locale.
  auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 2);
  return std::string(buf, res.ptr);
}

std::string FitsLocalDateText(std::chrono::system_clock::time_point when) {
  const std::time_t t = std::chrono::system_clock::to_time_t(when);
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.0", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return buf;
}

std::string MakeUniqueFileName(const std::string& Base) {
  constexpr size_t kExtensionLength = 4;
  const size_t split = Base.size() >= kExtensionLength ? Base.size() - kExtensionLength : 0;
  const std::string stem = Base.substr(0, split);
  std::string ext = Base.substr(split);
  for (char& c : ext) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  for (uint64_t counter = 0;; ++counter) {
    std::string digits = std::to_string(counter);
    if (digits.size() < 5) digits.insert(0, 5 - digits.size(), '0');
    std::string name = stem + "_" + digits + ext;
    struct stat st;
    // lstat: a dangling link still occupies the name.
    if (lstat(name.c_str(), &st) != 0 && errno == ENOENT) return name;
  }
}

FitsWriter::~FitsWriter() {
  if (file_ != nullptr) std::fclose(file_);
}

bool FitsWriter::Create(const std::string& Name) {
  if (file_ != nullptr) std::fclose(file_);
  failed_ = false;
  error_.clear();
  written_ = 0;
  file_ = std::fopen(Name.c_str(), "w+b");
  if (file_ == nullptr) {
    Fail(errno);
    return false;
  }
  return true;
}

void FitsWriter::Fail(int err) {
  if (!failed_) error_ = std::strerror(err != 0 ? err : EIO);
  failed_ = true;
}

void FitsWriter::WriteData(const void* Bytes, size_t Count) {
  if (file_ == nullptr) {
    Fail(EBADF);
    return;
  }
  if (failed_ || Count == 0) return;
  errno = 0;
  const size_t n = std::fwrite(Bytes, 1, Count, file_);
  written_ += n;
  if (n != Count) Fail(errno);
}

void FitsWriter::WriteValueCard(std::string_view Keyword, std::string_view Value) {
  const std::string card = FitsValueCard(Keyword, Value);
  WriteData(card.data(), card.size());
}

void FitsWriter::WriteStringCard(std::string_view Keyword, std::string_view Value) {
  const std::string card = FitsStringCard(Keyword, Value);
  WriteData(card.data(), card.size());
}

void FitsWriter::WriteEndCard() {
  std::string card = "END";
  PadCard(card);
  WriteData(card.data(), card.size());
}

void FitsWriter::WriteBlankCards(int Count) {
  if (Count <= 0) return;
  const std::string blanks(static_cast<size_t>(Count) * kFitsCardSize, ' ');
  WriteData(blanks.data(), blanks.size());
}

void FitsWriter::PadRecord() {
  static const char zeros[kFitsRecordSize] = {};
  const size_t rest = written_ % kFitsRecordSize;
  if (rest != 0) WriteData(zeros, kFitsRecordSize - rest);
}

bool FitsWriter::Close() {
  if (file_ == nullptr) return !failed_;
  errno = 0;
  if (std::fflush(file_) != 0) Fail(errno);
  // fsync is left out on purpose: the frame is in the page cache like any other saved file,
  // and a flush/close failure (full disk, quota) is what we can report reliably.
  errno = 0;
  if (std::fclose(file_) != 0) Fail(errno);
  file_ = nullptr;
  return !failed_;
}

FitsSaveResult SaveFits(const FitsCapture& c) {
  FitsSaveResult result;
  result.Name = MakeUniqueFileName(c.FileName);
  FitsWriter w;
  if (!w.Create(result.Name)) {
    result.Message = "Error creating " + result.Name;
    return result;
  }
  w.WriteValueCard("SIMPLE", "T");
  w.WriteValueCard("BITPIX", "16");
  w.WriteValueCard("NAXIS", "2");
  w.WriteValueCard("NAXIS1", std::to_string(c.Width));
  w.WriteValueCard("NAXIS2", std::to_string(c.Height));
  w.WriteValueCard("BZERO", "32768");
  w.WriteValueCard("BSCALE", "1");
  w.WriteStringCard("CAMERA", c.CameraName);
  w.WriteValueCard("EXPOSURE", FitsExposureText(c.CaptureAborted ? 0 : c.CaptureExposure));
  w.WriteStringCard("GAIN", std::to_string(c.Gain) + "%");
  w.WriteValueCard("OFFSET", std::to_string(int64_t{c.Offset} + kOffsetCardBias));
  w.WriteStringCard("DATE-LOC", FitsLocalDateText(c.ExposureStartTime));
  w.WriteValueCard("PIXXSIZE", FitsFixed2Text(c.PixelWidth));
  w.WriteValueCard("PIXYSIZE", FitsFixed2Text(c.PixelHeight));
  w.WriteStringCard("TEMPERAT", c.TemperatureText);
  w.WriteEndCard();
  w.WriteBlankCards(kCaptureBlankCards);
  const size_t pixels =
      c.Width > 0 && c.Height > 0 ? static_cast<size_t>(c.Width) * static_cast<size_t>(c.Height)
                                  : 0;
  if (pixels > 0 && c.Data != nullptr) w.WriteData(c.Data, pixels * 2);
  w.PadRecord();
  if (!w.Close()) {
    result.Message = "Error writing " + result.Name + ": " + w.ErrorText();
    ::unlink(result.Name.c_str());
    return result;
  }
  result.Saved = true;
  return result;
}

}  // namespace telvane
