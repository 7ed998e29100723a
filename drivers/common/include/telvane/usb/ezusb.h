// The EZ-USB general-purpose driver's operations expressed as plain USB transfers. The camera
// firmware of the VER2 and VAV6 families only knows these three: a vendor control request
// to the device, a bulk read on pipe index 1 and a bulk write on pipe index 0.
#pragma once

#include <cstdint>

#include "telvane/usb/transport.h"

namespace telvane::usb::ezusb {

// Fields of the driver's 10-byte control setup block that decide bmRequestType.
inline constexpr uint8_t kDirectionOut = 0;  // host to camera
inline constexpr uint8_t kDirectionIn = 1;   // camera to host
inline constexpr uint8_t kTypeVendor = 2;
inline constexpr uint8_t kRecipientDevice = 0;

// bmRequestType: direction in bit 7, type in bits 6..5, recipient in bits 4..0.
constexpr uint8_t RequestType(uint8_t direction, uint8_t type = kTypeVendor,
                              uint8_t recipient = kRecipientDevice) {
  return static_cast<uint8_t>((direction ? 0x80 : 0x00) | ((type & 0x03) << 5) |
                              (recipient & 0x1F));
}
static_assert(RequestType(kDirectionOut) == kRequestVendorOut);
static_assert(RequestType(kDirectionIn) == kRequestVendorIn);

// Pipe indices of the kernel driver are the interface's endpoints in descriptor order.
inline constexpr uint8_t kBulkInEndpoint = 0x82;   // "bulk read on pipe index 1"
inline constexpr uint8_t kBulkOutEndpoint = 0x01;  // "bulk write on pipe index 0"

// Control requests are answered by the firmware at once; a camera that needs longer is gone.
inline constexpr unsigned kControlTimeoutMs = 2000;

// A vendor request with value 0 and index 0, as every request of these cameras is.
// Returns the bytes moved or a negative TransferError.
int VendorRequest(Transport& transport, uint8_t direction, uint8_t request, uint8_t* data,
                  uint16_t length, unsigned timeoutMs = kControlTimeoutMs);

// One bulk read that must deliver exactly `length` bytes. Returns length on success, the
// (smaller) count of a short transfer, or a negative TransferError. Back ends clear a stalled
// endpoint themselves, so the next exposure starts clean.
int ReadExactly(Transport& transport, uint8_t endpoint, uint8_t* data, int length,
                unsigned timeoutMs);

}  // namespace telvane::usb::ezusb
