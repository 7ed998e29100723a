// FITS image files: 80-column header cards in one 2880-byte record, then 16-bit big-endian
// data (pixel - 32768, the form camera buffer mode 5 delivers), zero-padded to a multiple of
// 2880 bytes.
//
// FitsWriter is a small writer bound to one open file, so the capture thread and a script
// command can each write their own file with the same card writers. Not thread-safe: one
// thread per writer. Every number written into a card is formatted without the C locale
// machinery, so a decimal-comma locale cannot change the file.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace telvane {

inline constexpr size_t kFitsCardSize = 80;
inline constexpr size_t kFitsRecordSize = 2880;
// Longest string-card text that still leaves the closing quote inside column 80.
inline constexpr size_t kFitsMaxStringValue = 67;

// Card images (exactly 80 characters), shared by the writer and its tests.
// Value card: keyword in columns 1-8, "= " in 9-10, the value right-justified to column 30
// (a longer value runs on to the right); the first ',' of the value becomes '.'.
std::string FitsValueCard(std::string_view keyword, std::string_view value);
// String card: keyword, "= ", then the value between single quotes from column 11.
std::string FitsStringCard(std::string_view keyword, std::string_view value);

// Value-card number texts.
std::string FitsExposureText(int32_t milliseconds);  // seconds with 4 decimals: 1500 -> "1.5000"
std::string FitsFixed2Text(double value);            // "###0.00": 7.4 -> "7.40"
// DATE-LOC text of a local time: "yyyy-mm-ddThh:mm:ss.0".
std::string FitsLocalDateText(std::chrono::system_clock::time_point when);

// Base "dir/m42.fit" -> "dir/m42_00000.FIT" (first counter from 0 whose file does not exist).
// The last four characters of Base are the extension and are upper-cased.
std::string MakeUniqueFileName(const std::string& Base);

class FitsWriter {
 public:
  FitsWriter() = default;
  FitsWriter(const FitsWriter&) = delete;
  FitsWriter& operator=(const FitsWriter&) = delete;
  ~FitsWriter();  // closes a still open file without reporting

  // Creates (or replaces) Name for reading and writing. False when it cannot be created.
  bool Create(const std::string& Name);

  void WriteValueCard(std::string_view Keyword, std::string_view Value);
  void WriteStringCard(std::string_view Keyword, std::string_view Value);
  void WriteEndCard();
  void WriteBlankCards(int Count);
  void WriteData(const void* Bytes, size_t Count);
  // Zero bytes up to the next multiple of 2880 bytes written.
  void PadRecord();

  // Flushes and closes. False when any write since Create, or the close itself, failed.
  bool Close();

  bool Failed() const { return failed_; }
  // errno text of the first failure ("" when none).
  const std::string& ErrorText() const { return error_; }
  uint64_t BytesWritten() const { return written_; }

 private:
  void Fail(int err);
  std::FILE* file_ = nullptr;
  bool failed_ = false;
  std::string error_;
  uint64_t written_ = 0;
};

// Everything a capture file records.
struct FitsCapture {
  std::string FileName;  // base name; the saved name comes from MakeUniqueFileName
  int32_t Width = 0, Height = 0;
  const void* Data = nullptr;  // Width x Height pixels in buffer-mode-5 form (big-endian)
  std::string CameraName;
  int32_t CaptureExposure = 0;  // ms
  bool CaptureAborted = false;
  int32_t Gain = 0, Offset = 0;
  std::chrono::system_clock::time_point ExposureStartTime{};
  double PixelWidth = 0.0, PixelHeight = 0.0;
  std::string TemperatureText;
};

struct FitsSaveResult {
  bool Saved = false;
  std::string Name;     // the name chosen (also on failure)
  std::string Message;  // for the user when !Saved
};

// Writes one capture file: 15 cards, END, 20 blank cards, data, padding. A file that cannot
// be written completely is removed, so nothing half-written looks like a saved frame.
FitsSaveResult SaveFits(const FitsCapture& capture);

}  // namespace telvane
