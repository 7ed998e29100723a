// The USB transport every driver library talks through. Two back ends, chosen at open time:
// libusb-1.0 for real cameras, and the process-wide simulated bus (sim/) when the simulator
// is enabled (TELVANE_SIMULATOR=1 or telvane::sim::Bus::Enable()).
//
// Threading: one Transport may be used from two threads at once for transfers on different
// endpoints (the readout blocks in BulkRead on 0x82 while the caller's thread writes the
// cancel on 0x01); libusb-1.0 and the simulated bus both allow that.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace telvane::usb {

struct UsbId {
  uint16_t vendor = 0;
  uint16_t product = 0;
  friend bool operator==(const UsbId&, const UsbId&) = default;
};

// Transfer results: >= 0 is the number of bytes moved; negative values are these errors.
enum TransferError : int {
  kErrorIo = -1,
  kErrorTimeout = -7,
  kErrorPipe = -9,       // stalled endpoint
  kErrorNoDevice = -4,   // unplugged
  kErrorOther = -99,
};
const char* TransferErrorName(int error);

// bmRequestType bits used by the camera protocols.
inline constexpr uint8_t kRequestVendorOut = 0x40;  // host to device, vendor, device recipient
inline constexpr uint8_t kRequestVendorIn = 0xC0;   // device to host, vendor, device recipient

class Transport {
 public:
  virtual ~Transport() = default;
  // A control transfer; data is the data stage (read into for IN requests).
  virtual int Control(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                      uint8_t* data, uint16_t length, unsigned timeoutMs) = 0;
  virtual int BulkRead(uint8_t endpoint, uint8_t* data, int length, unsigned timeoutMs) = 0;
  virtual int BulkWrite(uint8_t endpoint, const uint8_t* data, int length,
                        unsigned timeoutMs) = 0;
  virtual int ClearHalt(uint8_t endpoint) = 0;
  // Which back end this is, for messages ("libusb" or "simulator").
  virtual std::string BackendName() const = 0;
};

// Ids a library answers to: its defaults plus those named for it in TELVANE_USB_IDS
// ("camdrv9=16c0:2983,camdrv2=04b4:8613"; library is the name before '=').
// Malformed entries are ignored, each reported once per process on stderr.
std::vector<UsbId> IdsFor(const char* library, std::span<const UsbId> defaults);

// The parser behind IdsFor: the ids `text` names for `library`, in order. Entries that are not
// "name=vvvv:pppp" (hex, up to 4 digits each) are skipped and, if malformed is given, listed.
std::vector<UsbId> ParseUsbIds(std::string_view text, std::string_view library,
                               std::vector<std::string>* malformed = nullptr);

// True when OpenDevice and CountDevices are served by the simulated bus instead of libusb.
bool SimulatorActive();

// Opens the index-th attached device (0-based, bus enumeration order) with one of ids.
// Returns nullptr when there is no such device or it cannot be opened.
std::unique_ptr<Transport> OpenDevice(std::span<const UsbId> ids, int index);

// Number of attached devices with one of ids.
int CountDevices(std::span<const UsbId> ids);

}  // namespace telvane::usb
