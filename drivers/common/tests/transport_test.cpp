#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "telvane/sim/bus.h"
#include "telvane/usb/ezusb.h"
#include "telvane/usb/transport.h"

namespace telvane::usb {
namespace {

TEST(ParseUsbIds, PicksTheLibrarysEntriesAndReportsMalformedOnes) {
  std::vector<std::string> malformed;
  const auto ids = ParseUsbIds(
      "camdrv9=16c0:2983, camdrv2=04B4:8613,camdrv2=1:2,camdrv2,camdrv2=zz:1,=04b4:8613,"
      "camdrv2=12345:1,camdrv2=04b4:,camdrv22=1111:2222,,",
      "camdrv2", &malformed);
  EXPECT_EQ(ids, (std::vector<UsbId>{{0x04b4, 0x8613}, {0x0001, 0x0002}}));
  EXPECT_EQ(malformed, (std::vector<std::string>{"camdrv2", "camdrv2=zz:1", "=04b4:8613",
                                                 "camdrv2=12345:1", "camdrv2=04b4:"}));
}

TEST(IdsFor, AddsEnvironmentIdsAfterTheDefaultsWithoutDuplicates) {
  ::setenv("TELVANE_USB_IDS", "camdrv2=04b4:8613,camdrv2=abcd:0001,camdrv6=1111:2222", 1);
  const UsbId defaults[] = {{0x04b4, 0x8613}};
  EXPECT_EQ(IdsFor("camdrv2", defaults), (std::vector<UsbId>{{0x04b4, 0x8613}, {0xabcd, 0x0001}}));
  ::unsetenv("TELVANE_USB_IDS");
  EXPECT_EQ(IdsFor("camdrv2", defaults), (std::vector<UsbId>{{0x04b4, 0x8613}}));
}

// A scripted device: records what reaches it and answers bulk transfers with `bulkResult`.
class ScriptedDevice : public sim::Device {
 public:
  ScriptedDevice(uint16_t vendor, uint16_t product) : vendor_(vendor), product_(product) {}
  uint16_t VendorId() const override { return vendor_; }
  uint16_t ProductId() const override { return product_; }
  std::string Model() const override { return "scripted"; }
  int Control(uint8_t requestType, uint8_t request, uint16_t, uint16_t, uint8_t*,
              uint16_t length, unsigned) override {
    lastRequestType = requestType;
    lastRequest = request;
    return length;
  }
  int BulkRead(uint8_t, uint8_t*, int length, unsigned) override {
    return bulkResult ? bulkResult : length;
  }
  int BulkWrite(uint8_t, const uint8_t*, int length, unsigned) override {
    return bulkResult ? bulkResult : length;
  }
  int ClearHalt(uint8_t endpoint) override {
    clearedEndpoints.push_back(endpoint);
    return 0;
  }
  bool Attached() const override { return attached; }

  bool attached = true;
  int bulkResult = 0;
  uint8_t lastRequestType = 0, lastRequest = 0;
  std::vector<uint8_t> clearedEndpoints;

 private:
  uint16_t vendor_, product_;
};

class SimBackendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::Bus::Instance().Enable(/*attachDefaults=*/false);
    sim::Bus::Instance().DetachAll();
  }
  void TearDown() override { sim::Bus::Instance().Disable(); }
};

TEST_F(SimBackendTest, IndexCountsOnlyAttachedDevicesWithTheModelsIds) {
  auto other = std::make_shared<ScriptedDevice>(0x1111, 0x2222);
  auto first = std::make_shared<ScriptedDevice>(0x04b4, 0x8613);
  auto unplugged = std::make_shared<ScriptedDevice>(0x04b4, 0x8613);
  auto second = std::make_shared<ScriptedDevice>(0xabcd, 0x0001);
  unplugged->attached = false;
  for (auto& d : {other, first, unplugged, second}) sim::Bus::Instance().Attach(d);

  const UsbId ids[] = {{0x04b4, 0x8613}, {0xabcd, 0x0001}};
  ASSERT_TRUE(SimulatorActive());
  EXPECT_EQ(CountDevices(ids), 2);
  EXPECT_EQ(OpenDevice(ids, 2), nullptr);
  EXPECT_EQ(OpenDevice(ids, -1), nullptr);

  auto transport = OpenDevice(ids, 1);
  ASSERT_NE(transport, nullptr);
  EXPECT_EQ(transport->BackendName(), "simulator");
  uint8_t data[10];
  EXPECT_EQ(ezusb::VendorRequest(*transport, ezusb::kDirectionIn, 0xC2, data, 10), 10);
  EXPECT_EQ(second->lastRequestType, 0xC0);
  EXPECT_EQ(second->lastRequest, 0xC2);
  EXPECT_EQ(first->lastRequest, 0);
}

TEST_F(SimBackendTest, StalledEndpointIsClearedAndReported) {
  auto device = std::make_shared<ScriptedDevice>(0x04b4, 0x8613);
  sim::Bus::Instance().Attach(device);
  const UsbId ids[] = {{0x04b4, 0x8613}};
  auto transport = OpenDevice(ids, 0);
  ASSERT_NE(transport, nullptr);
  uint8_t data[8];
  device->bulkResult = kErrorPipe;
  EXPECT_EQ(transport->BulkRead(ezusb::kBulkInEndpoint, data, 8, 100), kErrorPipe);
  EXPECT_EQ(transport->BulkWrite(ezusb::kBulkOutEndpoint, data, 1, 100), kErrorPipe);
  EXPECT_EQ(device->clearedEndpoints, (std::vector<uint8_t>{0x82, 0x01}));
}

TEST(LibusbBackend, EnumeratesWithoutACameraOrWithoutUsbAtAll) {
  sim::Bus::Instance().Disable();
  ASSERT_FALSE(SimulatorActive());
  // An id no real device carries: the scan must simply find nothing, whether or not this
  // machine has a USB bus that libusb can open.
  const UsbId ids[] = {{0x0000, 0x0000}};
  EXPECT_EQ(CountDevices(ids), 0);
  EXPECT_EQ(OpenDevice(ids, 0), nullptr);
}

}  // namespace
}  // namespace telvane::usb
