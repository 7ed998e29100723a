// The simulated USB bus: one per process, shared by every driver library that the process
// loads (this library is a shared object for exactly that reason). Simulated devices
// implement the camera's side of the protocol; tests reach them here to read what they
// received and to inject faults.
//
// Threading: Attach/Detach/Devices and every device call are safe from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace telvane::sim {

// The camera's side of one USB device. Results follow telvane::usb::Transport: bytes moved,
// or a negative error (-1 I/O, -4 no device, -7 timeout, -9 stall).
class Device {
 public:
  virtual ~Device() = default;
  virtual uint16_t VendorId() const = 0;
  virtual uint16_t ProductId() const = 0;
  virtual std::string Model() const = 0;
  virtual int Control(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                      uint8_t* data, uint16_t length, unsigned timeoutMs) = 0;
  virtual int BulkRead(uint8_t endpoint, uint8_t* data, int length, unsigned timeoutMs) = 0;
  virtual int BulkWrite(uint8_t endpoint, const uint8_t* data, int length, unsigned timeoutMs) = 0;
  virtual int ClearHalt(uint8_t endpoint) = 0;
  // False once unplugged; every transfer then fails with -4.
  virtual bool Attached() const = 0;
  // Pulls the cable: the bus calls it when the device is detached, so a handle a driver
  // still holds fails with -4 instead of talking to a device that is gone.
  virtual void Unplug() {}
};

class Bus {
 public:
  static Bus& Instance();

  // True when TELVANE_SIMULATOR=1 was set at start-up or Enable() was called: the driver
  // libraries then see this bus instead of libusb. Enabling attaches one default device of
  // every model the simulator knows (unless attachDefaults is false) that is not attached
  // yet. Disable also detaches every device.
  bool Enabled() const;
  void Enable(bool attachDefaults = true);
  void Disable();

  void Attach(std::shared_ptr<Device> device);
  void Detach(const std::shared_ptr<Device>& device);
  void DetachAll();
  // Detach, DetachAll and Disable unplug the devices they remove.
  // Attached devices in attachment order (the simulated enumeration order).
  std::vector<std::shared_ptr<Device>> Devices() const;
  // The index-th attached device of a model (Model() text, e.g. "VER2"), or nullptr. Tests
  // cast it to the model's class (sim/ver2_device.h) to inspect it or inject faults.
  std::shared_ptr<Device> FindModel(const std::string& model, int index = 0) const;

 private:
  Bus() = default;
  struct State;
  State& state() const;
};

}  // namespace telvane::sim
