#include "telvane/usb/transport.h"

#include "backends.h"

namespace telvane::usb {

bool SimulatorActive() { return detail::SimEnabled(); }

std::unique_ptr<Transport> OpenDevice(std::span<const UsbId> ids, int index) {
  if (index < 0) return nullptr;
  return SimulatorActive() ? detail::SimOpen(ids, index) : detail::LibusbOpen(ids, index);
}

int CountDevices(std::span<const UsbId> ids) {
  return SimulatorActive() ? detail::SimCount(ids) : detail::LibusbCount(ids);
}

}  // namespace telvane::usb
