// The camera choice shared by the main window and telvane-cli: one object of every
// available driver-library class, a scan of device indices 0..4, and up to four entries
// "<CameraName> device <n>" for the Camera menu.
//
// Scan rule: for device index j = 0..4, ask every family in scan order whether
// DeviceAvailable(j); each yes becomes the next entry (code = family code * 256 + j) until
// four entries exist. Families whose library could not be bound are skipped (their reason
// went to the diagnostic sink when the registry was built).
//
// Threading: one thread (the UI thread, or the CLI's main thread) uses a registry.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "telvane/camera.h"
#include "telvane/driver_library.h"

namespace telvane {

// Family codes of CameraCodes' high byte.
enum class CameraFamily : int {
  kRUV8P = 0,
  kVER2 = 2,
  kVAV6P = 4,
  kVAV6 = 6,
  kVAV6_2 = 7,
  kRUV8 = 8,
  kZAZ9 = 9,
};

struct CameraFamilyEntry {
  CameraFamily family;
  const char* className;
  // Builds the object (and runs its Create); nullptr when the class is unavailable.
  std::function<std::unique_ptr<TCamera>(const DiagnosticSink&)> create;
};

// Families in creation order: VER2, VAV6, RUV8, RUV8P, VAV6_2, VAV6P, ZAZ9 (those built so
// far).
std::vector<CameraFamilyEntry> DriverLibraryFamilies();

// The order in which the scan asks the families at each device index.
inline constexpr CameraFamily kScanOrder[] = {
    CameraFamily::kZAZ9,  CameraFamily::kRUV8, CameraFamily::kRUV8P, CameraFamily::kVAV6_2,
    CameraFamily::kVAV6P, CameraFamily::kVER2, CameraFamily::kVAV6,
};

struct CameraMenuEntry {
  std::string caption;  // "<CameraName> device <n>"
  uint16_t code = 0;    // family code * 256 + device index
  CameraFamily Family() const { return CameraFamily(code >> 8); }
  int32_t DeviceIndex() const { return code & 0x0F; }
};

class CameraRegistry {
 public:
  static constexpr int kMaxEntries = 4;
  static constexpr int kDeviceIndices = 5;  // 0..4

  explicit CameraRegistry(DiagnosticSink diagnostics = StderrDiagnostics(),
                          std::vector<CameraFamilyEntry> families = DriverLibraryFamilies());

  // Probes the devices and returns the menu entries (at most four), also kept in Entries().
  const std::vector<CameraMenuEntry>& Scan();
  const std::vector<CameraMenuEntry>& Entries() const { return entries_; }

  // The object of the entry's family; every other object is released, so a camera is chosen
  // once per registry. nullptr if the family has no object (or was taken already).
  std::unique_ptr<TCamera> Take(const CameraMenuEntry& entry);

  // The objects not yet taken, in creation order (for inspection).
  std::vector<TCamera*> Objects() const;

 private:
  struct Slot {
    CameraFamily family;
    std::unique_ptr<TCamera> camera;
  };
  std::vector<Slot> slots_;
  std::vector<CameraMenuEntry> entries_;
};

}  // namespace telvane
