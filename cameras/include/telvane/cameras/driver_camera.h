// The part every driver-library camera class shares: the library binding and the forwarding
// of the common operations to the library exports of the same purpose (CameraName -> GetName,
// Open -> OpenCamera, Expose -> Exposure, StartExposure -> ThreadExposure, ...). A model's
// class adds its mode table and its extras.
//
// When the library or one of its required exports is missing the class is unavailable
// (Available() false, reported once on the diagnostic sink): every operation then does
// nothing and reports "no camera" (Open 1, DeviceAvailable 0, Expose 1).
//
// Threading: as TCamera. The export pointers are written once in the constructor; the
// libraries themselves accept setters and CancelExposure from another thread while an
// exposure runs.
#pragma once

#include <string>

#include "telvane/camdrv_api.h"
#include "telvane/camera.h"
#include "telvane/driver_library.h"

namespace telvane {

class DriverLibraryCamera : public TCamera {
 public:
  bool Available() const { return library_.Usable(); }

  std::string CameraName() override;
  int32_t Open(int32_t DeviceIndex) override;
  int32_t IsExposing() override;
  void SetBufferMode(int32_t Mode) override;
  int32_t ReadBuffer(void* Dest, int32_t PixelCount) override;
  int32_t StartExposure(int32_t Milliseconds, int32_t XOffset, int32_t YOffset, int32_t Width,
                        int32_t Height, int32_t Binning, int32_t Option) override;
  int32_t Expose(int32_t Milliseconds, int32_t XOffset, int32_t YOffset, int32_t Width,
                 int32_t Height, int32_t Binning, int32_t Option) override;
  void SetGain(int32_t Value) override;
  void SetOffset(int32_t Value) override;
  uint16_t* BufferPointer() override;
  void CancelExposure() override;
  int32_t DeviceAvailable(int32_t Index) override;
  // ShowOB(0), full-resolution frame size and pixel size, offsets 0.
  void Create() override;

 protected:
  // Which common exports a model's library must have: SetColorMode is bound only where the
  // model uses it.
  DriverLibraryCamera(const char* className, const char* libraryFile, bool bindSetColorMode,
                      DiagnosticSink diagnostics);

  // Reports frame and pixel size of the library's codes into the out arguments and fields.
  void ApplyFrameSize(int32_t code, int32_t& width, int32_t& height);
  void ApplyPixelSize(int32_t code);

  DriverLibrary library_;
  // One pointer per common export (camdrv_OpenCamera_fn OpenCamera, ...).
#define TELVANE_CAMDRV_MEMBER(name, result, params) camdrv_##name##_fn name##_ = nullptr;
  TELVANE_CAMDRV_COMMON_EXPORTS(TELVANE_CAMDRV_MEMBER)
#undef TELVANE_CAMDRV_MEMBER
  std::string className_;
};

}  // namespace telvane
