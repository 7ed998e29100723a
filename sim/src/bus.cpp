#include "telvane/sim/bus.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "telvane/sim/ver2_device.h"

namespace telvane::sim {

struct Bus::State {
  mutable std::mutex mutex;
  std::atomic<bool> enabled{false};
  std::vector<std::shared_ptr<Device>> devices;
};

Bus& Bus::Instance() {
  static Bus bus;
  return bus;
}

Bus::State& Bus::state() const {
  static State* s = [] {
    auto* created = new State;  // never destroyed: driver threads may outlive static teardown
    const char* env = std::getenv("TELVANE_SIMULATOR");
    if (env && std::strcmp(env, "1") == 0) {
      created->enabled = true;
      created->devices.push_back(std::make_shared<Ver2Device>());
    }
    return created;
  }();
  return *s;
}

bool Bus::Enabled() const { return state().enabled.load(); }

void Bus::Enable(bool attachDefaults) {
  State& s = state();
  std::lock_guard lock(s.mutex);
  s.enabled = true;
  if (!attachDefaults) return;
  // One default device per model, so enabling twice does not double the cameras.
  const bool haveVer2 = std::any_of(s.devices.begin(), s.devices.end(),
                                    [](const auto& d) { return d->Model() == "VER2"; });
  if (!haveVer2) s.devices.push_back(std::make_shared<Ver2Device>());
}

void Bus::Disable() {
  State& s = state();
  std::vector<std::shared_ptr<Device>> removed;
  {
    std::lock_guard lock(s.mutex);
    s.enabled = false;
    removed.swap(s.devices);
  }
  for (auto& d : removed) d->Unplug();
}

void Bus::Attach(std::shared_ptr<Device> device) {
  if (!device) return;
  State& s = state();
  std::lock_guard lock(s.mutex);
  if (std::find(s.devices.begin(), s.devices.end(), device) == s.devices.end())
    s.devices.push_back(std::move(device));
}

void Bus::Detach(const std::shared_ptr<Device>& device) {
  State& s = state();
  bool found = false;
  {
    std::lock_guard lock(s.mutex);
    const auto it = std::remove(s.devices.begin(), s.devices.end(), device);
    found = it != s.devices.end();
    s.devices.erase(it, s.devices.end());
  }
  if (found) device->Unplug();
}

void Bus::DetachAll() {
  State& s = state();
  std::vector<std::shared_ptr<Device>> removed;
  {
    std::lock_guard lock(s.mutex);
    removed.swap(s.devices);
  }
  for (auto& d : removed) d->Unplug();
}

std::vector<std::shared_ptr<Device>> Bus::Devices() const {
  State& s = state();
  std::lock_guard lock(s.mutex);
  return s.devices;
}

std::shared_ptr<Device> Bus::FindModel(const std::string& model, int index) const {
  State& s = state();
  std::lock_guard lock(s.mutex);
  for (const auto& d : s.devices) {
    if (d->Model() == model && index-- == 0) return d;
  }
  return nullptr;
}

}  // namespace telvane::sim
