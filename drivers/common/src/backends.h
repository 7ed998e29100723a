// The two Transport back ends; transport.cpp chooses between them at open time.
#pragma once

#include <memory>
#include <span>

#include "telvane/usb/transport.h"

namespace telvane::usb::detail {

std::unique_ptr<Transport> LibusbOpen(std::span<const UsbId> ids, int index);
int LibusbCount(std::span<const UsbId> ids);

bool SimEnabled();
std::unique_ptr<Transport> SimOpen(std::span<const UsbId> ids, int index);
int SimCount(std::span<const UsbId> ids);

}  // namespace telvane::usb::detail
