// Default USB ids of each camera family. Real cameras may carry other ids: users add them
// with TELVANE_USB_IDS (see transport.h); the simulator presents each model with these.
#pragma once

#include "telvane/usb/transport.h"

namespace telvane::usb {

// VER2: an EZ-USB device running the camera's firmware; the general-purpose EZ-USB id.
inline constexpr UsbId kVer2DefaultId{0x04b4, 0x8613};

}  // namespace telvane::usb
