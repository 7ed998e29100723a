#include "telvane/camera_registry.h"

#include "telvane/cameras/ver2.h"

namespace telvane {
namespace {

template <typename Camera>
std::unique_ptr<TCamera> CreateIfAvailable(const DiagnosticSink& diagnostics) {
  auto camera = std::make_unique<Camera>(diagnostics);
  if (!camera->Available()) return nullptr;
  camera->Create();
  return camera;
}

}  // namespace

std::vector<CameraFamilyEntry> DriverLibraryFamilies() {
  return {
      {CameraFamily::kVER2, "VER2", CreateIfAvailable<VER2>},
  };
}

CameraRegistry::CameraRegistry(DiagnosticSink diagnostics,
                               std::vector<CameraFamilyEntry> families) {
  if (!diagnostics) diagnostics = StderrDiagnostics();
  for (auto& f : families) {
    if (auto camera = f.create(diagnostics)) slots_.push_back({f.family, std::move(camera)});
  }
}

const std::vector<CameraMenuEntry>& CameraRegistry::Scan() {
  entries_.clear();
  for (int j = 0; j < kDeviceIndices && int(entries_.size()) < kMaxEntries; ++j) {
    for (CameraFamily family : kScanOrder) {
      if (int(entries_.size()) >= kMaxEntries) break;
      for (Slot& slot : slots_) {
        if (slot.family != family || !slot.camera) continue;
        if (slot.camera->DeviceAvailable(j) == 0) continue;
        // Asked after DeviceAvailable: some libraries name the model only once they saw it.
        entries_.push_back({slot.camera->CameraName() + " device " + std::to_string(j),
                            uint16_t(int(family) * 256 + j)});
      }
    }
  }
  return entries_;
}

std::unique_ptr<TCamera> CameraRegistry::Take(const CameraMenuEntry& entry) {
  std::unique_ptr<TCamera> chosen;
  for (Slot& slot : slots_) {
    if (slot.family == entry.Family() && slot.camera) chosen = std::move(slot.camera);
  }
  if (chosen) slots_.clear();  // release the others, as choosing a camera does
  return chosen;
}

std::vector<TCamera*> CameraRegistry::Objects() const {
  std::vector<TCamera*> out;
  for (const Slot& slot : slots_) {
    if (slot.camera) out.push_back(slot.camera.get());
  }
  return out;
}

}  // namespace telvane
