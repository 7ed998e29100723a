#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "telvane/fits.h"
#include "test_camera.h"

namespace fs = std::filesystem;

namespace telvane {
namespace {

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "telvane-fits-XXXXXX").string();
    path_ = ::mkdtemp(tmpl.data());
  }
  ~TempDir() { fs::remove_all(path_); }
  std::string operator/(const std::string& name) const { return (fs::path(path_) / name).string(); }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

std::string ReadFile(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string Spaces(size_t n) { return std::string(n, ' '); }

struct CardCase {
  const char* what;
  std::string card;
  std::string expected;
};

TEST(FitsCards, ColumnsAndQuoting) {
  const std::string long67(67, 'x');
  const std::vector<CardCase> cases = {
      {"SIMPLE: value in column 30", FitsValueCard("SIMPLE", "T"),
       "SIMPLE  = " + Spaces(19) + "T" + Spaces(50)},
      {"NAXIS1 752 in columns 28-30", FitsValueCard("NAXIS1", "752"),
       "NAXIS1  = " + Spaces(17) + "752" + Spaces(50)},
      {"first comma becomes a point", FitsValueCard("EXPOSURE", "1,5000"),
       "EXPOSURE= " + Spaces(14) + "1.5000" + Spaces(50)},
      {"value over 20 characters starts in column 11",
       FitsValueCard("K", "123456789012345678901234"),
       "K       = 123456789012345678901234" + Spaces(46)},
      {"string card keeps a comma", FitsStringCard("TEMPERAT", "-10,5"),
       "TEMPERAT= '-10,5'" + Spaces(63)},
      {"string card from column 11", FitsStringCard("GAIN", "45%"),
       "GAIN    = '45%'" + Spaces(65)},
      {"long text shortened to 67", FitsStringCard("CAMERA", std::string(100, 'x')),
       "CAMERA  = '" + long67 + "'" + Spaces(1)},
      {"embedded quote doubled", FitsStringCard("CAMERA", "Bob's"),
       "CAMERA  = 'Bob''s'" + Spaces(62)},
      {"doubled quote not split by the cut",
       FitsStringCard("CAMERA", std::string(66, 'x') + "'"),
       "CAMERA  = '" + std::string(66, 'x') + "'" + Spaces(2)},
      {"value running past column 80 is cut", FitsValueCard("K", std::string(90, '9')),
       "K       = " + std::string(70, '9')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.card.size(), kFitsCardSize);
    EXPECT_EQ(c.card, c.expected);
  }
}

TEST(FitsCards, NumberTexts) {
  const std::vector<std::pair<int32_t, std::string>> exposures = {
      {1500, "1.5000"}, {0, "0.0000"}, {1, "0.0010"}, {123456, "123.4560"}, {-250, "-0.2500"}};
  for (const auto& [ms, text] : exposures) EXPECT_EQ(FitsExposureText(ms), text) << ms;
  const std::vector<std::pair<double, std::string>> sizes = {
      {7.4, "7.40"}, {14.8, "14.80"}, {0.004, "0.00"}, {1234.567, "1234.57"}, {0.0, "0.00"}};
  for (const auto& [v, text] : sizes) EXPECT_EQ(FitsFixed2Text(v), text) << v;
}

// A decimal-comma locale must not reach the numbers in value cards.
TEST(FitsCards, DecimalCommaLocaleStillWritesPoints) {
  const char* saved = std::setlocale(LC_ALL, nullptr);
  const std::string restore = saved ? saved : "C";
  const char* found = nullptr;
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "nl_NL.UTF-8", "de_DE"}) {
    if (std::setlocale(LC_ALL, name) != nullptr) {
      found = name;
      break;
    }
  }
  if (found == nullptr) GTEST_SKIP() << "no decimal-comma locale installed";
  const std::string exposure = FitsExposureText(1500);
  const std::string size = FitsFixed2Text(7.4);
  std::setlocale(LC_ALL, restore.c_str());
  EXPECT_EQ(exposure, "1.5000") << found;
  EXPECT_EQ(size, "7.40") << found;
}

TEST(FitsNames, CounterFromZeroFillsGapsAndUpperCasesExtension) {
  TempDir dir;
  const std::string base = dir / "m42.fit";
  EXPECT_EQ(MakeUniqueFileName(base), dir / "m42_00000.FIT");
  std::ofstream(dir / "m42_00000.FIT").put('x');
  EXPECT_EQ(MakeUniqueFileName(base), dir / "m42_00001.FIT");
  std::ofstream(dir / "m42_00001.FIT").put('x');
  fs::remove(dir / "m42_00000.FIT");
  EXPECT_EQ(MakeUniqueFileName(base), dir / "m42_00000.FIT");
  EXPECT_EQ(MakeUniqueFileName("ab"), "_00000AB");  // shorter than an extension: no stem
}

// A 100 x 50 frame with three marked pixels, read from the camera in buffer mode 5.
class FitsSave : public ::testing::Test {
 protected:
  static constexpr int32_t kW = 100, kH = 50;
  void SetUp() override {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    cam_.SetPixelFunction([](int32_t x, int32_t y, int32_t) -> uint16_t {
      if (x == 0 && y == 0) return 0;
      if (x == 1 && y == 0) return 32768;
      if (x == 2 && y == 0) return 65535;
      if (x == 0 && y == 1) return 1;  // first pixel of the second row
      return 1000;
    });
    cam_.Expose(0, 0, 0, kW, kH, 1, 0);
    cam_.SetBufferMode(5);
    data_.resize(kW * kH * 2);
    cam_.ReadBuffer(data_.data(), kW * kH);
  }
  FitsCapture Capture(const std::string& base) {
    FitsCapture c;
    c.FileName = base;
    c.Width = kW;
    c.Height = kH;
    c.Data = data_.data();
    c.CameraName = "Test Camera";
    c.CaptureExposure = 1500;
    c.Gain = 45;
    c.Offset = 10;
    std::tm tm{};
    tm.tm_year = 2026 - 1900;
    tm.tm_mon = 11;
    tm.tm_mday = 11;
    tm.tm_hour = 21;
    tm.tm_min = 5;
    tm.tm_sec = 9;
    c.ExposureStartTime = std::chrono::system_clock::from_time_t(::timegm(&tm));
    c.PixelWidth = 7.4;
    c.PixelHeight = 14.8;
    c.TemperatureText = "N/A";
    return c;
  }
  testing::TestCamera cam_;
  std::vector<uint8_t> data_;
  TempDir dir_;
};

TEST_F(FitsSave, HeaderDataAndPaddingAreByteExact) {
  const FitsSaveResult r = SaveFits(Capture(dir_ / "m42.fit"));
  ASSERT_TRUE(r.Saved) << r.Message;
  EXPECT_EQ(r.Name, dir_ / "m42_00000.FIT");
  const std::string f = ReadFile(r.Name);
  ASSERT_EQ(f.size(), 14400u);  // 2880 + 10000 + 1520

  const std::vector<std::string> expected = {
      FitsValueCard("SIMPLE", "T"),          FitsValueCard("BITPIX", "16"),
      FitsValueCard("NAXIS", "2"),           FitsValueCard("NAXIS1", "100"),
      FitsValueCard("NAXIS2", "50"),         FitsValueCard("BZERO", "32768"),
      FitsValueCard("BSCALE", "1"),          FitsStringCard("CAMERA", "Test Camera"),
      FitsValueCard("EXPOSURE", "1.5000"),   FitsStringCard("GAIN", "45%"),
      FitsValueCard("OFFSET", "70"),         FitsStringCard("DATE-LOC", "2026-12-11T21:05:09.0"),
      FitsValueCard("PIXXSIZE", "7.40"),     FitsValueCard("PIXYSIZE", "14.80"),
      FitsStringCard("TEMPERAT", "N/A"),     "END" + Spaces(77),
  };
  for (size_t i = 0; i < expected.size(); ++i)
    EXPECT_EQ(f.substr(i * 80, 80), expected[i]) << "card " << i;
  EXPECT_EQ(f.substr(1280, 1600), Spaces(1600));

  auto byte = [&](size_t i) { return static_cast<uint8_t>(f[2880 + i]); };
  EXPECT_EQ(byte(0), 0x80);  // 0
  EXPECT_EQ(byte(1), 0x00);
  EXPECT_EQ(byte(2), 0x00);  // 32768
  EXPECT_EQ(byte(3), 0x00);
  EXPECT_EQ(byte(4), 0x7F);  // 65535
  EXPECT_EQ(byte(5), 0xFF);
  EXPECT_EQ(byte(200), 0x80);  // row 1 follows row 0
  EXPECT_EQ(byte(201), 0x01);
  EXPECT_EQ(f.substr(12880), std::string(1520, '\0'));
}

TEST_F(FitsSave, AbortedCaptureRecordsZeroExposure) {
  FitsCapture c = Capture(dir_ / "m42.fit");
  c.CaptureAborted = true;
  const FitsSaveResult r = SaveFits(c);
  ASSERT_TRUE(r.Saved);
  EXPECT_EQ(ReadFile(r.Name).substr(8 * 80, 80), FitsValueCard("EXPOSURE", "0.0000"));
}

TEST_F(FitsSave, CreateFailureNamesTheFile) {
  const FitsSaveResult r = SaveFits(Capture(dir_ / "missing/m42.fit"));
  EXPECT_FALSE(r.Saved);
  EXPECT_EQ(r.Message, "Error creating " + (dir_ / "missing/m42_00000.FIT"));
}

TEST_F(FitsSave, WriteFailureIsReportedAndLeavesNoFile) {
  // Limit the file size so the data cannot be written; the header still fits.
  struct rlimit old {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 4096;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const FitsSaveResult r = SaveFits(Capture(dir_ / "m42.fit"));
  ::setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);

  EXPECT_FALSE(r.Saved);
  EXPECT_EQ(r.Message.rfind("Error writing " + r.Name, 0), 0u) << r.Message;
  EXPECT_FALSE(fs::exists(r.Name));
}

TEST(FitsWriterErrors, FullDeviceIsReportedOnClose) {
  FitsWriter w;
  ASSERT_TRUE(w.Create("/dev/full"));
  w.WriteValueCard("SIMPLE", "T");
  w.WriteEndCard();
  w.PadRecord();
  EXPECT_EQ(w.BytesWritten() % kFitsRecordSize, 0u);
  EXPECT_FALSE(w.Close());
  EXPECT_FALSE(w.ErrorText().empty());
}

// Independent readers agree with our bytes.
TEST_F(FitsSave, AstropyAndFitsverifyReadTheFile) {
  const FitsSaveResult r = SaveFits(Capture(dir_ / "check.fit"));
  ASSERT_TRUE(r.Saved);
  const std::string py = TELVANE_PYTHON;
  if (!fs::exists(py) || std::system((py + " -c 'import astropy' 2>/dev/null").c_str()) != 0)
    GTEST_SKIP() << py << " with astropy is not available";
  const std::string script = dir_ / "read.py";
  std::ofstream(script) << R"(import sys
from astropy.io import fits
with fits.open(sys.argv[1]) as f:
    h, d = f[0].header, f[0].data
    print(d.shape, int(d[0, 0]), int(d[0, 1]), int(d[0, 2]), int(d[1, 0]), int(d[49, 99]),
          h['CAMERA'], h['EXPOSURE'], h['GAIN'], h['OFFSET'], h['PIXYSIZE'], h['DATE-LOC'])
)";
  const std::string out = dir_ / "out.txt";
  ASSERT_EQ(std::system((py + " " + script + " " + r.Name + " > " + out + " 2>&1").c_str()), 0)
      << ReadFile(out);
  EXPECT_EQ(ReadFile(out),
            "(50, 100) 0 32768 65535 1 1000 Test Camera 1.5 45% 70 14.8 2026-12-11T21:05:09.0\n");

  const std::string verify = TELVANE_FITSVERIFY;
  if (!fs::exists(verify)) GTEST_SKIP() << verify << " is not installed";
  const std::string report = dir_ / "verify.txt";
  const int rc = std::system((verify + " " + r.Name + " > " + report + " 2>&1").c_str());
  const std::string text = ReadFile(report);
  EXPECT_EQ(rc, 0) << text;
  EXPECT_NE(text.find("0 error(s)"), std::string::npos) << text;
}

}  // namespace
}  // namespace telvane
