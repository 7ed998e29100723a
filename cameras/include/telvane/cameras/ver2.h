// VER2: the 3.3 MPix interlaced camera on libcamdrv2.so.
//
// Modes: 1 "1x1 NVBE" and 2 "1x1 VBE" (full resolution, colour mosaic), 3 "2X2" (binned,
// monochrome). SetExposureMode(m) passes m - 1 to setexpomode; mode 2 makes every frame take
// two exposure times (ExposureTimeFactor 2). SetColourMode selects the library's colour
// reconstruction (1 primary, 2 complementary mosaic).
#pragma once

#include <atomic>

#include "telvane/cameras/driver_camera.h"

namespace telvane {

class VER2 : public DriverLibraryCamera {
 public:
  static constexpr const char* kLibraryFile = "libcamdrv2.so";

  explicit VER2(DiagnosticSink diagnostics = StderrDiagnostics());

  int32_t ModeCount() override { return 3; }
  void SelectMode(int32_t Mode, std::string& ModeName, int32_t& FrameWidth, int32_t& FrameHeight,
                  int32_t& Binning, bool& ColourFrame) override;
  void SetExposureMode(int32_t Mode) override;
  int32_t ExposureTimeFactor() override { return ExposureMode.load(); }
  void SetColourMode(int32_t Mode) override;

  // 2 in mode "1x1 VBE", else 1.
  std::atomic<int32_t> ExposureMode{1};

 private:
  camdrv_setexpomode_fn setexpomode_ = nullptr;
};

}  // namespace telvane
