#include "telvane/cameras/driver_camera.h"

#include <cstring>

namespace telvane {
namespace {
constexpr int32_t kNotOpened = 1;       // OpenCamera's "failed"
constexpr int32_t kRefused = 1;         // exposure calls' "refused" in the two-state libraries
constexpr int32_t kFullResolution = 1;  // FrameSize / PixSize code of binning 1
}  // namespace

DriverLibraryCamera::DriverLibraryCamera(const char* className, const char* libraryFile,
                                         bool bindSetColorMode, DiagnosticSink diagnostics)
    : library_(className, libraryFile, std::move(diagnostics)), className_(className) {
#define TELVANE_CAMDRV_RESOLVE(name, result, params) \
  if (std::strcmp(#name, "SetColorMode") != 0 || bindSetColorMode) library_.Resolve(#name, name##_);
  TELVANE_CAMDRV_COMMON_EXPORTS(TELVANE_CAMDRV_RESOLVE)
#undef TELVANE_CAMDRV_RESOLVE
}

std::string DriverLibraryCamera::CameraName() {
  if (!Available()) return className_;
  const char* name = GetName_();
  return name ? name : className_;
}

int32_t DriverLibraryCamera::Open(int32_t DeviceIndex) {
  return Available() ? OpenCamera_(DeviceIndex) : kNotOpened;
}

int32_t DriverLibraryCamera::IsExposing() { return Available() ? IsExposing_() : 0; }

void DriverLibraryCamera::SetBufferMode(int32_t Mode) {
  if (Available()) SetBufferMode_(Mode);
}

int32_t DriverLibraryCamera::ReadBuffer(void* Dest, int32_t PixelCount) {
  if (!Available() || !Dest || PixelCount <= 0) return 0;
  GetBuffer_(Dest, PixelCount);
  return PixelCount;
}

int32_t DriverLibraryCamera::StartExposure(int32_t Milliseconds, int32_t XOffset, int32_t YOffset,
                                           int32_t Width, int32_t Height, int32_t Binning,
                                           int32_t Option) {
  if (!Available()) return kRefused;
  return ThreadExposure_(Milliseconds, XOffset, YOffset, Width, Height, Binning, Option);
}

int32_t DriverLibraryCamera::Expose(int32_t Milliseconds, int32_t XOffset, int32_t YOffset,
                                    int32_t Width, int32_t Height, int32_t Binning,
                                    int32_t Option) {
  if (!Available()) return kRefused;
  return Exposure_(Milliseconds, XOffset, YOffset, Width, Height, Binning, Option);
}

void DriverLibraryCamera::SetGain(int32_t Value) {
  if (Available()) setgain_(Value);
}

void DriverLibraryCamera::SetOffset(int32_t Value) {
  if (Available()) setoffset_(Value);
}

uint16_t* DriverLibraryCamera::BufferPointer() { return Available() ? getbufptr_() : nullptr; }

void DriverLibraryCamera::CancelExposure() {
  if (Available()) CancelExposure_();
}

int32_t DriverLibraryCamera::DeviceAvailable(int32_t Index) {
  return Available() ? checkdevice_(Index) : 0;
}

void DriverLibraryCamera::Create() {
  XOffset = 0;
  YOffset = 0;
  if (!Available()) return;
  ShowOB_(0);
  int32_t w = 0, h = 0;
  ApplyFrameSize(kFullResolution, w, h);
  Width = w;
  Height = h;
  ApplyPixelSize(kFullResolution);
}

void DriverLibraryCamera::ApplyFrameSize(int32_t code, int32_t& width, int32_t& height) {
  if (!Available()) return;
  int w = width, h = height;
  FrameSize_(code, &w, &h);
  width = w;
  height = h;
}

void DriverLibraryCamera::ApplyPixelSize(int32_t code) {
  if (!Available()) return;
  double w = PixelWidth, h = PixelHeight;
  PixSize_(code, &w, &h);
  PixelWidth = w;
  PixelHeight = h;
}

}  // namespace telvane
