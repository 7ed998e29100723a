// Used only while the simulator library is not part of the build: the bus is never enabled.
#include "backends.h"

namespace telvane::usb::detail {

bool SimEnabled() { return false; }
std::unique_ptr<Transport> SimOpen(std::span<const UsbId>, int) { return nullptr; }
int SimCount(std::span<const UsbId>) { return 0; }

}  // namespace telvane::usb::detail
