#include "telvane/usb/ezusb.h"

namespace telvane::usb::ezusb {

int VendorRequest(Transport& transport, uint8_t direction, uint8_t request, uint8_t* data,
                  uint16_t length, unsigned timeoutMs) {
  return transport.Control(RequestType(direction), request, /*value=*/0, /*index=*/0, data,
                           length, timeoutMs);
}

int ReadExactly(Transport& transport, uint8_t endpoint, uint8_t* data, int length,
                unsigned timeoutMs) {
  // One transfer per call: a short transfer ends the camera's frame, so reading on would
  // take the next field's data into this one's place.
  return transport.BulkRead(endpoint, data, length, timeoutMs);
}

}  // namespace telvane::usb::ezusb
