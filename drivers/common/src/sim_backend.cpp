// The process-wide simulated bus as a Transport back end.
#include <algorithm>

#include "backends.h"
#include "telvane/sim/bus.h"

namespace telvane::usb::detail {
namespace {

class SimTransport final : public Transport {
 public:
  explicit SimTransport(std::shared_ptr<sim::Device> device) : device_(std::move(device)) {}

  int Control(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
              uint8_t* data, uint16_t length, unsigned timeoutMs) override {
    return device_->Control(requestType, request, value, index, data, length, timeoutMs);
  }
  int BulkRead(uint8_t endpoint, uint8_t* data, int length, unsigned timeoutMs) override {
    return ClearIfStalled(endpoint, device_->BulkRead(endpoint, data, length, timeoutMs));
  }
  int BulkWrite(uint8_t endpoint, const uint8_t* data, int length,
                unsigned timeoutMs) override {
    return ClearIfStalled(endpoint, device_->BulkWrite(endpoint, data, length, timeoutMs));
  }
  int ClearHalt(uint8_t endpoint) override { return device_->ClearHalt(endpoint); }
  std::string BackendName() const override { return "simulator"; }

 private:
  // Same as the libusb back end: a stall is cleared right away.
  int ClearIfStalled(uint8_t endpoint, int rc) {
    if (rc == kErrorPipe) device_->ClearHalt(endpoint);
    return rc;
  }

  std::shared_ptr<sim::Device> device_;
};

std::vector<std::shared_ptr<sim::Device>> Matching(std::span<const UsbId> ids) {
  std::vector<std::shared_ptr<sim::Device>> found;
  for (auto& device : sim::Bus::Instance().Devices()) {
    const UsbId id{device->VendorId(), device->ProductId()};
    if (device->Attached() && std::find(ids.begin(), ids.end(), id) != ids.end()) {
      found.push_back(device);
    }
  }
  return found;
}

}  // namespace

bool SimEnabled() { return sim::Bus::Instance().Enabled(); }

std::unique_ptr<Transport> SimOpen(std::span<const UsbId> ids, int index) {
  auto devices = Matching(ids);
  if (index >= static_cast<int>(devices.size())) return nullptr;
  return std::make_unique<SimTransport>(devices[index]);
}

int SimCount(std::span<const UsbId> ids) { return static_cast<int>(Matching(ids).size()); }

}  // namespace telvane::usb::detail
