// telvane-cli focus: measures the star of a saved 16-bit FITS frame the way the focus window
// measures a live frame: the star finder of libprocess in a search box, then the focus analysis
// on the 41 x 41 patch around the star (monochrome path).
#include <fitsio.h>
#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "commands.h"
#include "process.h"
#include "telvane/display.h"
#include "telvane/display_frame.h"

namespace telvane::cli {

namespace {

constexpr int kExitData = 1;
constexpr int kExitUsage = 2;
// The capture thread's default search box keeps this far from every edge.
constexpr int32_t kDefaultBoxBorder = 30;
// The capture thread's frame buffer holds no more than this.
constexpr int64_t kMaxFramePixels = 17'500'001;
constexpr int kFitsShortBitpix = 16;

void PrintUsage() { std::fputs("usage: telvane-cli focus FILE.fit [--box x1,y1,x2,y2]\n", stderr); }

void Fail(const char* format, const std::string& detail) {
  std::fputs("telvane-cli: focus: ", stderr);
  std::fprintf(stderr, format, detail.c_str());
  std::fputc('\n', stderr);
}

// Four comma-separated integers, nothing else.
bool ParseBox(std::string_view text, StarBoxRect& box) {
  int32_t values[4];
  const char* p = text.data();
  const char* end = text.data() + text.size();
  for (int k = 0; k < 4; ++k) {
    const auto [next, ec] = std::from_chars(p, end, values[k]);
    if (ec != std::errc() || next == p) return false;
    p = next;
    if (k < 3) {
      if (p == end || *p != ',') return false;
      ++p;
    }
  }
  if (p != end) return false;
  box = {values[0], values[1], values[2], values[3]};
  return true;
}

struct Frame {
  int32_t width = 0, height = 0;
  std::vector<uint16_t> pixels;
};

std::string FitsError(int status) {
  char text[FLEN_STATUS] = {};
  fits_get_errstatus(status, text);
  return text;
}

// Reads the primary image as unsigned 16-bit pixels (BITPIX 16, BZERO 32768), first row first.
bool ReadFrame(const std::string& path, Frame& frame) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) {
    Fail("cannot open %s", "'" + path + "': " + std::strerror(errno));
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    Fail("cannot open %s", "'" + path + "': not a regular file");
    return false;
  }
  int status = 0;
  fitsfile* file = nullptr;
  // The disk-file opener takes the name literally: no cfitsio filename filters or URLs.
  if (fits_open_diskfile(&file, path.c_str(), READONLY, &status) != 0) {
    Fail("cannot read %s", "'" + path + "' as FITS: " + FitsError(status));
    return false;
  }
  std::unique_ptr<fitsfile, void (*)(fitsfile*)> closer(file, [](fitsfile* f) {
    int ignored = 0;
    fits_close_file(f, &ignored);
  });

  int bitpix = 0, naxis = 0;
  long naxes[3] = {0, 0, 0};
  if (fits_get_img_param(file, 3, &bitpix, &naxis, naxes, &status) != 0) {
    Fail("cannot read %s", "'" + path + "': " + FitsError(status));
    return false;
  }
  if (bitpix != kFitsShortBitpix) {
    Fail("%s", "'" + path + "' is not a 16-bit image (BITPIX " + std::to_string(bitpix) + ")");
    return false;
  }
  if (naxis != 2 || naxes[0] <= 0 || naxes[1] <= 0) {
    Fail("%s", "'" + path + "' is not a two-dimensional image (NAXIS " + std::to_string(naxis) + ")");
    return false;
  }
  if (naxes[0] > kMaxFramePixels || naxes[1] > kMaxFramePixels / naxes[0]) {
    Fail("%s", "'" + path + "' is larger than a camera frame (" + std::to_string(naxes[0]) + " x " +
                   std::to_string(naxes[1]) + ")");
    return false;
  }
  frame.width = static_cast<int32_t>(naxes[0]);
  frame.height = static_cast<int32_t>(naxes[1]);
  const auto count = static_cast<LONGLONG>(naxes[0]) * naxes[1];
  frame.pixels.assign(static_cast<size_t>(count), 0);
  unsigned short blank = 0;
  int anyBlank = 0;
  if (fits_read_img(file, TUSHORT, 1, count, &blank, frame.pixels.data(), &anyBlank, &status) != 0) {
    if (status == NUM_OVERFLOW) {
      Fail("%s", "'" + path + "' holds values outside 0..65535 (is BZERO 32768?)");
    } else {
      Fail("cannot read %s", "the pixels of '" + path + "': " + FitsError(status));
    }
    return false;
  }
  return true;
}

}  // namespace

int RunFocusCommand(int argc, char** argv) {
  std::string path;
  StarBoxRect box;
  bool boxGiven = false;
  for (int k = 0; k < argc; ++k) {
    const std::string_view arg = argv[k];
    if (arg == "--box") {
      if (k + 1 >= argc || !ParseBox(argv[k + 1], box)) {
        Fail("%s", "--box wants four integers x1,y1,x2,y2");
        PrintUsage();
        return kExitUsage;
      }
      boxGiven = true;
      ++k;
    } else if (arg.size() > 1 && arg[0] == '-') {
      Fail("unknown option %s", std::string(arg));
      PrintUsage();
      return kExitUsage;
    } else if (path.empty()) {
      path = arg;
    } else {
      Fail("%s", "only one file can be measured at a time");
      PrintUsage();
      return kExitUsage;
    }
  }
  if (path.empty()) {
    PrintUsage();
    return kExitUsage;
  }

  Frame frame;
  if (!ReadFrame(path, frame)) return kExitData;
  const std::string size = std::to_string(frame.width) + " x " + std::to_string(frame.height);

  if (boxGiven) {
    if (box.X1 > box.X2 || box.Y1 > box.Y2 || box.X1 < 0 || box.Y1 < 0 || box.X2 >= frame.width ||
        box.Y2 >= frame.height) {
      Fail("%s", "--box must lie inside the " + size + " frame with x1 <= x2 and y1 <= y2");
      return kExitUsage;
    }
  } else {
    box = {kDefaultBoxBorder, kDefaultBoxBorder, frame.width - kDefaultBoxBorder, frame.height - kDefaultBoxBorder};
    if (box.X1 > box.X2 || box.Y1 > box.Y2) {
      Fail("%s", "the " + size + " frame is too small to search without --box");
      return kExitData;
    }
  }

  if (FindStar(frame.pixels.data(), frame.width, frame.height, box.X1, box.Y1, box.X2, box.Y2) != 1) {
    Fail("%s", "no star found in the search box");
    return kExitData;
  }
  float foundX = GetStarX(), foundY = GetStarY();
  if (foundX == 0.0f && foundY == 0.0f) {  // the finder's "no position"
    foundX = static_cast<float>(frame.width / 2);
    foundY = static_cast<float>(frame.height / 2);
  }

  DisplayInputs in;
  in.Pixels = frame.pixels.data();
  in.Width = frame.width;
  in.Height = frame.height;
  in.NewFrame = true;
  in.FocusMode = true;
  in.StarBox = box;
  in.Info.FrameWidth = frame.width;
  in.Info.FrameHeight = frame.height;
  in.Info.StarX = foundX;
  in.Info.StarY = static_cast<float>(frame.height) - foundY;  // rows counted as the preview shows them
  in.Info.StarXDiameter = GetXdia();
  in.Info.StarYDiameter = GetYdia();
  in.Info.StarBrightness = GetBright();
  auto display = std::make_unique<DisplayFrame>();
  ComputeDisplay(in, *display);
  if (!display->FocusUpdated) {
    char where[64];
    std::snprintf(where, sizeof where, "%.2f, %.2f", foundX, foundY);
    Fail("%s", std::string("the star at ") + where +
                   " is too close to the frame edge for the 41 x 41 focus patch");
    return kExitData;
  }

  std::printf("x: %.2f\n", foundX);
  std::printf("y: %.2f\n", foundY);
  std::printf("brightness: %lld\n", std::llrint(display->FocusBrightness));
  std::printf("peak: %d\n", display->FocusPeak);
  std::printf("fwhm: %.1f\n", display->FocusFwhm);
  return 0;
}

}  // namespace telvane::cli
