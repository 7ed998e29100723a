// Real cameras through libusb-1.0.
#include <libusb.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <vector>

#include "backends.h"

namespace telvane::usb::detail {
namespace {

constexpr int kInterface = 0;

int MapError(int rc) {
  switch (rc) {
    case LIBUSB_ERROR_TIMEOUT: return kErrorTimeout;
    case LIBUSB_ERROR_PIPE: return kErrorPipe;
    case LIBUSB_ERROR_NO_DEVICE: return kErrorNoDevice;
    case LIBUSB_ERROR_IO:
    case LIBUSB_ERROR_OVERFLOW: return kErrorIo;
    default: return kErrorOther;
  }
}

// One context for the whole process, created on first use and kept until exit: every driver
// library in the process shares it.
libusb_context* Context() {
  static libusb_context* context = nullptr;
  static std::once_flag once;
  std::call_once(once, [] {
    const int rc = libusb_init(&context);
    if (rc < 0) {
      context = nullptr;
      std::fprintf(stderr, "telvane: USB unavailable: libusb_init failed: %s\n",
                   libusb_error_name(rc));
    }
  });
  return context;
}

class LibusbTransport final : public Transport {
 public:
  explicit LibusbTransport(libusb_device_handle* handle) : handle_(handle) {}
  ~LibusbTransport() override {
    libusb_release_interface(handle_, kInterface);
    libusb_close(handle_);
  }

  int Control(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
              uint8_t* data, uint16_t length, unsigned timeoutMs) override {
    const int rc =
        libusb_control_transfer(handle_, requestType, request, value, index, data, length,
                                timeoutMs);
    return rc < 0 ? MapError(rc) : rc;
  }

  int BulkRead(uint8_t endpoint, uint8_t* data, int length, unsigned timeoutMs) override {
    return Bulk(endpoint, data, length, timeoutMs);
  }

  int BulkWrite(uint8_t endpoint, const uint8_t* data, int length,
                unsigned timeoutMs) override {
    // libusb takes a non-const buffer for both directions; an OUT transfer only reads it.
    return Bulk(endpoint, const_cast<uint8_t*>(data), length, timeoutMs);
  }

  int ClearHalt(uint8_t endpoint) override {
    const int rc = libusb_clear_halt(handle_, endpoint);
    return rc < 0 ? MapError(rc) : 0;
  }

  std::string BackendName() const override { return "libusb"; }

 private:
  int Bulk(uint8_t endpoint, uint8_t* data, int length, unsigned timeoutMs) {
    int transferred = 0;
    const int rc = libusb_bulk_transfer(handle_, endpoint, data, length, &transferred, timeoutMs);
    if (rc == 0) return transferred;
    // A stalled endpoint stays stalled until cleared; clear it now so the next transfer works.
    if (rc == LIBUSB_ERROR_PIPE) libusb_clear_halt(handle_, endpoint);
    // A timeout with part of the data delivered is still a failed transfer for our callers.
    return MapError(rc);
  }

  libusb_device_handle* handle_;
};

bool Matches(libusb_device* device, std::span<const UsbId> ids) {
  libusb_device_descriptor descriptor{};
  if (libusb_get_device_descriptor(device, &descriptor) != 0) return false;
  const UsbId id{descriptor.idVendor, descriptor.idProduct};
  return std::find(ids.begin(), ids.end(), id) != ids.end();
}

// Matching devices in bus order (bus number, then address), so index n is stable between
// scans while nothing is plugged in or out. Holds a reference on each returned device.
std::vector<libusb_device*> MatchingDevices(std::span<const UsbId> ids) {
  std::vector<libusb_device*> found;
  libusb_context* context = Context();
  if (!context) return found;
  libusb_device** list = nullptr;
  const ssize_t n = libusb_get_device_list(context, &list);
  if (n < 0) return found;
  for (ssize_t k = 0; k < n; ++k) {
    if (Matches(list[k], ids)) found.push_back(libusb_ref_device(list[k]));
  }
  libusb_free_device_list(list, /*unref_devices=*/1);
  std::stable_sort(found.begin(), found.end(), [](libusb_device* a, libusb_device* b) {
    const auto key = [](libusb_device* d) {
      return (libusb_get_bus_number(d) << 8) | libusb_get_device_address(d);
    };
    return key(a) < key(b);
  });
  return found;
}

void Unref(std::vector<libusb_device*>& devices) {
  for (libusb_device* d : devices) libusb_unref_device(d);
}

}  // namespace

std::unique_ptr<Transport> LibusbOpen(std::span<const UsbId> ids, int index) {
  std::vector<libusb_device*> devices = MatchingDevices(ids);
  std::unique_ptr<Transport> transport;
  if (index < static_cast<int>(devices.size())) {
    libusb_device* device = devices[index];
    libusb_device_handle* handle = nullptr;
    int rc = libusb_open(device, &handle);
    if (rc == 0) {
      libusb_set_auto_detach_kernel_driver(handle, 1);
      rc = libusb_claim_interface(handle, kInterface);
      if (rc == 0) {
        transport = std::make_unique<LibusbTransport>(handle);
      } else {
        libusb_close(handle);
      }
    }
    if (rc == LIBUSB_ERROR_ACCESS) {
      // The one failure a user can fix; say how once rather than on every scan.
      static std::atomic<bool> told{false};
      if (!told.exchange(true)) {
        std::fprintf(stderr,
                     "telvane: no permission to open the camera on USB bus %d address %d; "
                     "install packaging/udev/60-telvane.rules and join group plugdev\n",
                     libusb_get_bus_number(device), libusb_get_device_address(device));
      }
    }
  }
  Unref(devices);
  return transport;
}

int LibusbCount(std::span<const UsbId> ids) {
  std::vector<libusb_device*> devices = MatchingDevices(ids);
  const int count = static_cast<int>(devices.size());
  Unref(devices);
  return count;
}

}  // namespace telvane::usb::detail
