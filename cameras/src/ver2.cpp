#include "telvane/cameras/ver2.h"

namespace telvane {
namespace {

struct Ver2Mode {
  const char* name;
  int32_t frameCode;  // FrameSize code
  int32_t pixelCode;  // PixSize code
  int32_t binning;    // passed to Exposure
  bool colour;        // the frame carries the mosaic
};
// Readout modes 1..3. The binned mode sums the mosaic's colours, so it is monochrome.
constexpr Ver2Mode kModes[] = {
    {"1x1 NVBE", 1, 1, 1, true},
    {"1x1 VBE", 1, 1, 1, true},
    {"2X2", 2, 2, 2, false},
};
constexpr int32_t kVerticalBinningMode = 2;  // "1x1 VBE": two exposure times per frame

}  // namespace

VER2::VER2(DiagnosticSink diagnostics)
    : DriverLibraryCamera("VER2", kLibraryFile, /*bindSetColorMode=*/true, std::move(diagnostics)) {
  library_.Resolve("setexpomode", setexpomode_);
}

void VER2::SelectMode(int32_t Mode, std::string& ModeName, int32_t& FrameWidth,
                      int32_t& FrameHeight, int32_t& Binning, bool& ColourFrame) {
  if (Mode < 1 || Mode > ModeCount()) return;  // unknown modes leave the caller's values
  const Ver2Mode& m = kModes[Mode - 1];
  ModeName = m.name;
  ApplyFrameSize(m.frameCode, FrameWidth, FrameHeight);
  ApplyPixelSize(m.pixelCode);
  Binning = m.binning;
  ColourFrame = m.colour;
}

void VER2::SetExposureMode(int32_t Mode) {
  if (Available()) setexpomode_(Mode - 1);
  ExposureMode = Mode == kVerticalBinningMode ? 2 : 1;
}

void VER2::SetColourMode(int32_t Mode) {
  if (Available()) SetColorMode_(Mode);
}

}  // namespace telvane
