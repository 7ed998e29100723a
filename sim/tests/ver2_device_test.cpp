#include "telvane/sim/ver2_device.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <thread>

#include "telvane/sim/bus.h"

namespace telvane::sim {
namespace {

using namespace std::chrono_literals;

constexpr uint8_t kOut = 0x40;
constexpr uint8_t kIn = 0xC0;
constexpr int kField1 = 3'338'400;  // 780 rows x 2140 pixels x 2 bytes
constexpr int kBin2 = 1'669'200;    // 780 rows x 1070 pixels x 2 bytes

// The block the VER2 driver writes (gain, 24-bit ms, flags, geometry).
std::array<uint8_t, 24> Block(uint32_t ms, int binning, uint8_t gain = 31, uint8_t offset = 110) {
  std::array<uint8_t, 24> b{};
  const int rowBytes = binning == 2 ? 2140 : 4280;
  const int rows = binning == 2 ? 780 : 1560;
  b[0] = gain;
  b[1] = uint8_t(ms >> 16);
  b[2] = uint8_t(ms >> 8);
  b[3] = uint8_t(ms);
  b[4] = uint8_t(0x04 | (binning == 2 ? 0x48 : 0));
  b[5] = 0x40;
  b[6] = binning == 2 ? 2 : 1;
  b[7] = offset;
  b[8] = b[9] = b[23] = 0xAC;
  b[14] = uint8_t(rowBytes >> 8);
  b[15] = uint8_t(rowBytes);
  b[16] = uint8_t(rows >> 8);
  b[17] = uint8_t(rows);
  return b;
}

class Ver2DeviceTest : public ::testing::Test {
 protected:
  Ver2DeviceTest() {
    Ver2Device::Options o;
    o.source = Ver2Device::Source::kTestPattern;
    dev = std::make_shared<Ver2Device>(o);
  }
  int Start(uint32_t ms, int binning, uint8_t gain = 31, uint8_t offset = 110) {
    auto b = Block(ms, binning, gain, offset);
    EXPECT_EQ(dev->Control(kOut, 0xB5, 0, 0, b.data(), 24, 1000), 24);
    uint8_t one = 0;
    return dev->Control(kOut, 0xB3, 0, 0, &one, 1, 1000);
  }
  uint16_t Word(const std::vector<uint8_t>& buf, size_t pixel) {
    return uint16_t(buf[2 * pixel] << 8 | buf[2 * pixel + 1]);
  }
  std::shared_ptr<Ver2Device> dev;
};

TEST_F(Ver2DeviceTest, IdentifiesAndKeepsParameters) {
  uint8_t id[10] = {};
  ASSERT_EQ(dev->Control(kIn, 0xC2, 0, 0, id, 10, 1000), 10);
  const uint8_t want[7] = {0x03, 0x1B, 0x02, 0x54, 0x02, 0x01, 0x59};
  EXPECT_TRUE(std::equal(want, want + 7, id + 2));
  EXPECT_EQ(id[9], 0);

  uint8_t delay[4] = {0xF4, 0x01, 0xB8, 0x0B};  // 500, 3000
  EXPECT_EQ(dev->Control(kOut, 0xBB, 0, 0, delay, 4, 1000), 4);
  EXPECT_EQ(dev->DelayParameters(), (std::array<uint16_t, 2>{500, 3000}));

  auto b = Block(1234, 1);
  EXPECT_EQ(dev->Control(kOut, 0xB5, 0, 0, b.data(), 24, 1000), 24);
  EXPECT_EQ(dev->LastRegisterBlock(), b);

  // Wrong data stages and unknown requests stall and leave the stored block alone.
  uint8_t junk[23] = {};
  EXPECT_EQ(dev->Control(kOut, 0xB5, 0, 0, junk, 23, 1000), -9);
  EXPECT_EQ(dev->Control(kOut, 0xBB, 0, 0, junk, 3, 1000), -9);
  EXPECT_EQ(dev->Control(kOut, 0x77, 0, 0, junk, 1, 1000), -9);
  EXPECT_EQ(dev->Control(kOut, 0xC2, 0, 0, junk, 10, 1000), -9);  // identification is IN only
  EXPECT_EQ(dev->LastRegisterBlock(), b);

  const auto seen = dev->ControlRequests();
  ASSERT_EQ(seen.size(), 7u);
  EXPECT_EQ(seen[0].request, 0xC2);
  EXPECT_EQ(seen[1].request, 0xBB);
  EXPECT_EQ(seen[1].data, std::vector<uint8_t>(delay, delay + 4));
  EXPECT_EQ(seen[2].data, std::vector<uint8_t>(b.begin(), b.end()));
}

TEST_F(Ver2DeviceTest, Binning1SendsEvenRowsThenOddRowsBigEndian) {
  ASSERT_EQ(Start(5, 1), 1);
  std::vector<uint8_t> a(kField1), b(kField1);
  ASSERT_EQ(dev->BulkRead(0x82, a.data(), kField1, 2000), kField1);
  ASSERT_EQ(dev->BulkRead(0x82, b.data(), kField1, 2000), kField1);
  for (int k : {0, 1, 389, 779}) {
    for (int c : {0, 1, 2138, 2139}) {
      EXPECT_EQ(Word(a, size_t(k) * 2140 + c), Ver2Device::TestPattern(2 * k, c)) << k << "," << c;
      EXPECT_EQ(Word(b, size_t(k) * 2140 + c), Ver2Device::TestPattern(2 * k + 1, c));
    }
  }
  EXPECT_EQ(dev->BulkReadLengths(), (std::vector<int>{kField1, kField1}));
  // The frame is complete: nothing more arrives.
  uint8_t more[16];
  EXPECT_EQ(dev->BulkRead(0x82, more, 16, 30), -7);
}

TEST_F(Ver2DeviceTest, Binning2IsOneFieldAndReadsNeverCrossAField) {
  ASSERT_EQ(Start(1, 2), 1);
  std::vector<uint8_t> buf(kBin2 + 100);
  // Asking for more than the frame gets just the frame.
  ASSERT_EQ(dev->BulkRead(0x82, buf.data(), kBin2 + 100, 2000), kBin2);
  EXPECT_EQ(Word(buf, 0), Ver2Device::TestPattern(0, 0));
  EXPECT_EQ(Word(buf, 1070 + 5), Ver2Device::TestPattern(1, 5));
  EXPECT_EQ(Word(buf, 779 * 1070 + 1069), Ver2Device::TestPattern(779, 1069));

  // At binning 1, piecewise reads return the rest of the current field at most.
  ASSERT_EQ(Start(1, 1), 1);
  std::vector<uint8_t> big(2 * kField1);
  EXPECT_EQ(dev->BulkRead(0x82, big.data(), 1000, 2000), 1000);
  EXPECT_EQ(dev->BulkRead(0x82, big.data(), 2 * kField1, 2000), kField1 - 1000);
  EXPECT_EQ(dev->BulkRead(0x82, big.data(), 2 * kField1, 2000), kField1);
  EXPECT_EQ(Word(big, 0), Ver2Device::TestPattern(1, 0));
}

TEST_F(Ver2DeviceTest, ReadWaitsForTheExposureAndHonoursItsTimeout) {
  uint8_t buf[64];
  EXPECT_EQ(dev->BulkRead(0x82, buf, 64, 20), -7);  // idle camera sends nothing
  ASSERT_EQ(Start(300, 2), 1);
  EXPECT_EQ(dev->BulkRead(0x82, buf, 64, 50), -7);  // still integrating
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(dev->BulkRead(0x82, buf, 64, 0), 64);  // 0 = no limit
  EXPECT_GE(std::chrono::steady_clock::now() - t0, 150ms);
  EXPECT_EQ(dev->LastExposureMs(), 300u);
  EXPECT_EQ(dev->ExposuresStarted(), 1);

  // The VBE readout mode (mode byte 1) exposes the fields one after the other.
  ASSERT_EQ(Start(200, 1), 1);
  const auto t1 = std::chrono::steady_clock::now();
  EXPECT_EQ(dev->BulkRead(0x82, buf, 64, 250), -7);
  EXPECT_EQ(dev->BulkRead(0x82, buf, 64, 0), 64);
  EXPECT_GE(std::chrono::steady_clock::now() - t1, 350ms);
}

TEST_F(Ver2DeviceTest, CancelWriteReadsTheFrameOutEarly) {
  ASSERT_EQ(Start(60'000, 2), 1);
  std::vector<uint8_t> buf(kBin2);
  auto reader = std::async(std::launch::async,
                           [&] { return dev->BulkRead(0x82, buf.data(), kBin2, 10'000); });
  std::this_thread::sleep_for(50ms);
  uint8_t one = 0;
  EXPECT_EQ(dev->BulkWrite(0x01, &one, 1, 1000), 1);
  ASSERT_EQ(reader.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(reader.get(), kBin2);
  EXPECT_EQ(Word(buf, 0), Ver2Device::TestPattern(0, 0));
  EXPECT_EQ(dev->CancelWrites(), 1);
  // A cancel while idle is only counted.
  EXPECT_EQ(dev->BulkWrite(0x01, &one, 1, 1000), 1);
  EXPECT_EQ(dev->CancelWrites(), 2);
}

TEST_F(Ver2DeviceTest, SkyFrameFollowsOffsetAndExposure) {
  dev->SetSource(Ver2Device::Source::kSky);
  auto median = [&](uint32_t ms, uint8_t offset) {
    EXPECT_EQ(Start(ms, 2, 31, offset), 1);
    std::vector<uint8_t> buf(kBin2);
    EXPECT_EQ(dev->BulkRead(0x82, buf.data(), kBin2, 5000), kBin2);
    std::vector<uint16_t> px(kBin2 / 2);
    for (size_t i = 0; i < px.size(); ++i) px[i] = Word(buf, i);
    std::nth_element(px.begin(), px.begin() + px.size() / 2, px.end());
    return double(px[px.size() / 2]);
  };
  const double base = median(10, 110);
  EXPECT_NEAR(median(10, 160) - base, 50 * 8.0, 10.0);  // offset steps move the bias
  EXPECT_GT(median(2000, 110), base + 100);             // longer exposure, more sky
}

TEST_F(Ver2DeviceTest, InjectedFaults) {
  std::vector<uint8_t> buf(kField1);
  uint8_t one = 0;

  // A failed start starts nothing.
  dev->FailNextStart();
  EXPECT_EQ(Start(1, 1), -1);
  EXPECT_EQ(dev->BulkRead(0x82, buf.data(), kField1, 50), -7);

  // A failed read delivers nothing and leaves the field pending.
  ASSERT_EQ(Start(1, 1), 1);
  dev->FailNextBulkRead();
  EXPECT_EQ(dev->BulkRead(0x82, buf.data(), kField1, 2000), -1);
  EXPECT_EQ(dev->BulkRead(0x82, buf.data(), kField1, 2000), kField1);
  EXPECT_EQ(Word(buf, 0), Ver2Device::TestPattern(0, 0));

  // A short read ends that field; the next read starts field B.
  ASSERT_EQ(Start(1, 1), 1);
  dev->ShortNextBulkRead(4096);
  EXPECT_EQ(dev->BulkRead(0x82, buf.data(), kField1, 2000), 4096);
  EXPECT_EQ(dev->BulkRead(0x82, buf.data(), kField1, 2000), kField1);
  EXPECT_EQ(Word(buf, 0), Ver2Device::TestPattern(1, 0));

  // A stalled endpoint answers -9 until the halt is cleared; the frame waits.
  ASSERT_EQ(Start(1, 1), 1);
  dev->StallBulkIn();
  EXPECT_EQ(dev->BulkRead(0x82, buf.data(), kField1, 2000), -9);
  EXPECT_EQ(dev->BulkRead(0x82, buf.data(), kField1, 2000), -9);
  EXPECT_EQ(dev->ClearHalt(0x82), 0);
  EXPECT_EQ(dev->BulkRead(0x82, buf.data(), kField1, 2000), kField1);

  // Unplugged after field A: everything fails with -4.
  ASSERT_EQ(Start(1, 1), 1);
  dev->UnplugAfterBulkReads(1);
  EXPECT_EQ(dev->BulkRead(0x82, buf.data(), kField1, 2000), kField1);
  EXPECT_FALSE(dev->Attached());
  EXPECT_EQ(dev->BulkRead(0x82, buf.data(), kField1, 2000), -4);
  EXPECT_EQ(dev->BulkWrite(0x01, &one, 1, 100), -4);
  EXPECT_EQ(dev->Control(kOut, 0xB3, 0, 0, &one, 1, 100), -4);
  dev->Replug();
  EXPECT_EQ(Start(1, 1), 1);
}

TEST_F(Ver2DeviceTest, UnplugReleasesABlockedRead) {
  ASSERT_EQ(Start(60'000, 1), 1);
  std::vector<uint8_t> buf(kField1);
  auto reader =
      std::async(std::launch::async, [&] { return dev->BulkRead(0x82, buf.data(), kField1, 0); });
  std::this_thread::sleep_for(30ms);
  dev->Unplug();
  ASSERT_EQ(reader.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(reader.get(), -4);
}

TEST_F(Ver2DeviceTest, TimeScaleShortensLongExposures) {
  dev->SetTimeScale(0.001);
  ASSERT_EQ(Start(30'000, 2), 1);
  std::vector<uint8_t> buf(kBin2);
  EXPECT_EQ(dev->BulkRead(0x82, buf.data(), kBin2, 2000), kBin2);
}

TEST(Bus, EnableAttachesOneDefaultVer2) {
  Bus& bus = Bus::Instance();
  bus.Disable();
  EXPECT_FALSE(bus.Enabled());
  EXPECT_TRUE(bus.Devices().empty());

  bus.Enable();
  bus.Enable();  // no second camera
  ASSERT_TRUE(bus.Enabled());
  const auto devices = bus.Devices();
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(devices[0]->VendorId(), 0x04b4);
  EXPECT_EQ(devices[0]->ProductId(), 0x8613);
  EXPECT_NE(std::dynamic_pointer_cast<Ver2Device>(bus.FindModel("VER2")), nullptr);
  EXPECT_EQ(bus.FindModel("VER2", 1), nullptr);

  auto second = std::make_shared<Ver2Device>();
  bus.Attach(second);
  EXPECT_EQ(bus.FindModel("VER2", 1), second);
  bus.Detach(second);
  EXPECT_EQ(bus.Devices().size(), 1u);
  EXPECT_FALSE(second->Attached());  // a detached device is unplugged for open handles too

  bus.Disable();
  EXPECT_TRUE(bus.Devices().empty());
  bus.Enable(false);
  EXPECT_TRUE(bus.Enabled());
  EXPECT_TRUE(bus.Devices().empty());
  bus.Disable();
}

}  // namespace
}  // namespace telvane::sim
