// telvane-cli focus, run as a program on FITS frames written here with cfitsio.
#include <fitsio.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct CliResult {
  int exitCode = -1;
  std::string out, err;
};

class FocusCli : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = ::testing::TempDir() + "focus_cli_XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  // width x height frame, first row first, written as BITPIX 16 / BZERO 32768 (or another
  // BITPIX for the error cases).
  std::string Write(const std::string& name, int width, int height, const std::vector<uint16_t>& pixels,
                    int bitpix = USHORT_IMG) {
    const std::string path = Path(name);
    int status = 0;
    fitsfile* f = nullptr;
    long naxes[2] = {width, height};
    fits_create_file(&f, ("!" + path).c_str(), &status);
    fits_create_img(f, bitpix, 2, naxes, &status);
    std::vector<uint16_t> copy = pixels;
    fits_write_img(f, TUSHORT, 1, static_cast<LONGLONG>(copy.size()), copy.data(), &status);
    fits_close_file(f, &status);
    EXPECT_EQ(status, 0) << "writing " << path;
    return path;
  }

  CliResult Cli(const std::string& args) const {
    const std::string out = Path("stdout.txt"), err = Path("stderr.txt");
    const std::string command = std::string("'") + TELVANE_CLI_PATH + "' focus " + args + " >'" + out + "' 2>'" + err + "'";
    CliResult run;
    const int status = std::system(command.c_str());
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    auto slurp = [](const std::string& p) {
      std::ifstream in(p);
      std::stringstream s;
      s << in.rdbuf();
      return s.str();
    };
    run.out = slurp(out);
    run.err = slurp(err);
    return run;
  }

  static std::map<std::string, std::string> Lines(const std::string& text) {
    std::map<std::string, std::string> values;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
      const auto colon = line.find(": ");
      if (colon != std::string::npos) values[line.substr(0, colon)] = line.substr(colon + 2);
    }
    return values;
  }

  std::string dir_;
};

constexpr int kWidth = 200, kHeight = 150;

std::vector<uint16_t> Sky(std::initializer_list<std::array<double, 4>> stars) {  // x, row, sigma, amplitude
  std::vector<uint16_t> pixels(kWidth * kHeight, 1000);
  for (const auto& s : stars) {
    for (int r = 0; r < kHeight; ++r) {
      for (int c = 0; c < kWidth; ++c) {
        const double d2 = (c - s[0]) * (c - s[0]) + (r - s[1]) * (r - s[1]);
        pixels[r * kWidth + c] += static_cast<uint16_t>(std::lround(s[3] * std::exp(-d2 / (2 * s[2] * s[2]))));
      }
    }
  }
  return pixels;
}

TEST_F(FocusCli, MeasuresTheStarInTheDefaultAndInAGivenBox) {
  // The bright star is found in the default box; the box around the faint one finds that.
  const std::string file = Write("stars.fit", kWidth, kHeight, Sky({{{80, 60, 1.5, 20000}}, {{150, 100, 2.5, 8000}}}));
  CliResult run = Cli("'" + file + "'");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  auto v = Lines(run.out);
  ASSERT_EQ(v.size(), 5u) << run.out;
  EXPECT_NEAR(std::stod(v["x"]), 80, 0.5);
  EXPECT_NEAR(std::stod(v["y"]), 60, 0.5);
  EXPECT_GT(std::stol(v["brightness"]), 0);
  EXPECT_EQ(v["peak"], "20000");
  EXPECT_NEAR(std::stod(v["fwhm"]), 2.3548 * 1.5, 1.0);

  run = Cli("'" + file + "' --box 120,70,180,130");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  v = Lines(run.out);
  EXPECT_NEAR(std::stod(v["x"]), 150, 0.5);
  EXPECT_NEAR(std::stod(v["y"]), 100, 0.5);
  EXPECT_EQ(v["peak"], "8000");
  EXPECT_NEAR(std::stod(v["fwhm"]), 2.3548 * 2.5, 1.5);
}

TEST_F(FocusCli, BadFilesExitOne) {
  const std::vector<uint16_t> star = Sky({{{80, 60, 1.5, 20000}}});
  std::vector<uint16_t> small(8 * 8, 100);
  const std::string bytes = Write("bytes.fit", kWidth, kHeight, std::vector<uint16_t>(kWidth * kHeight, 100), BYTE_IMG);
  const std::string floats = Write("floats.fit", kWidth, kHeight, star, FLOAT_IMG);
  const std::string tiny = Write("tiny.fit", 8, 8, small);
  // A star 10 rows from the frame's last row: found, but its patch would leave the frame.
  const std::string edge = Write("edge.fit", kWidth, kHeight, Sky({{{100, 140, 1.5, 20000}}}));
  {
    std::ofstream text(Path("text.fit"));
    text << "not a FITS file\n";
  }
  const struct {
    std::string args, message;
  } cases[] = {
      {"'" + Path("missing.fit") + "'", "No such file"},
      {"'" + Path("text.fit") + "'", "as FITS"},
      {"'" + bytes + "'", "not a 16-bit image (BITPIX 8)"},
      {"'" + floats + "'", "not a 16-bit image (BITPIX -32)"},
      {"'" + tiny + "'", "too small"},
      {"'" + edge + "' --box 60,120,140,145", "too close to the frame edge"},
  };
  for (const auto& c : cases) {
    const CliResult run = Cli(c.args);
    EXPECT_EQ(run.exitCode, 1) << c.args;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << c.args << ": " << run.err;
    EXPECT_EQ(run.out, "") << c.args;
  }
}

TEST_F(FocusCli, UsageErrorsExitTwo) {
  const std::string file = "'" + Write("star.fit", kWidth, kHeight, Sky({{{80, 60, 1.5, 20000}}})) + "'";
  for (const std::string& args :
       {std::string(""), file + " --box", file + " --box 1,2,3", file + " --box a,b,c,d", file + " --box 1,2,3,4,5",
        file + " --box '10, 10,50,50'", file + " --box 50,10,40,60", file + " --box 0,0,200,100",
        file + " --box -1,0,50,50", file + " --verbose", file + " " + file}) {
    const CliResult run = Cli(args);
    EXPECT_EQ(run.exitCode, 2) << args;
    EXPECT_NE(run.err, "") << args;
    EXPECT_EQ(run.out, "") << args;
  }
}

}  // namespace
