// VER2 through libcamdrv2.so against the simulated camera: what the binding forwards reaches
// the camera, and what the camera sends comes back through the binding.
#include "telvane/cameras/ver2.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "telvane/camera_registry.h"
#include "telvane/sim/bus.h"
#include "telvane/sim/ver2_device.h"

namespace telvane {
namespace {

using namespace std::chrono_literals;
using sim::Ver2Device;

class Ver2Binding : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::Bus::Instance().Disable();
    Ver2Device::Options o;
    o.source = Ver2Device::Source::kTestPattern;
    device = std::make_shared<Ver2Device>(o);
    sim::Bus::Instance().Enable(/*attachDefaults=*/false);
    sim::Bus::Instance().Attach(device);

    CameraRegistry registry([&](const std::string& l) { diagnostics.push_back(l); });
    const auto& entries = registry.Scan();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].caption, "3.3 MPix Camera device 0");
    EXPECT_EQ(entries[0].code, 0x200);
    camera = registry.Take(entries[0]);
    ASSERT_NE(camera, nullptr);
    ASSERT_EQ(camera->Open(entries[0].DeviceIndex()), 0);
  }
  void TearDown() override { sim::Bus::Instance().Disable(); }

  std::array<uint8_t, 24> Block() {
    auto b = device->LastRegisterBlock();
    EXPECT_TRUE(b.has_value());
    return b.value_or(std::array<uint8_t, 24>{});
  }

  std::vector<std::string> diagnostics;
  std::shared_ptr<Ver2Device> device;
  std::unique_ptr<TCamera> camera;
};

TEST_F(Ver2Binding, ModeTable) {
  EXPECT_TRUE(diagnostics.empty());
  EXPECT_EQ(camera->Width, 2048);  // Create: trimmed image area, full resolution
  EXPECT_EQ(camera->Height, 1536);
  ASSERT_EQ(camera->ModeCount(), 3);
  struct Row {
    const char* name;
    int w, h, bin;
    bool colour;
    double pixel;
    int factor;
  };
  const Row rows[] = {{"1x1 NVBE", 2048, 1536, 1, true, 3.45, 1},
                      {"1x1 VBE", 2048, 1536, 1, true, 3.45, 2},
                      {"2X2", 1024, 768, 2, false, 6.90, 1}};
  for (int m = 1; m <= 3; ++m) {
    const Row& r = rows[m - 1];
    std::string name;
    int32_t w = 0, h = 0, bin = 0;
    bool colour = !r.colour;
    camera->SelectMode(m, name, w, h, bin, colour);
    camera->SetExposureMode(m);
    EXPECT_EQ(name, r.name);
    EXPECT_EQ(w, r.w) << r.name;
    EXPECT_EQ(h, r.h) << r.name;
    EXPECT_EQ(bin, r.bin) << r.name;
    EXPECT_EQ(colour, r.colour) << r.name;
    EXPECT_NEAR(camera->PixelWidth, r.pixel, 1e-9) << r.name;
    EXPECT_NEAR(camera->PixelHeight, r.pixel, 1e-9) << r.name;
    EXPECT_EQ(camera->ExposureTimeFactor(), r.factor) << r.name;
  }
  // An unknown mode leaves the caller's values alone.
  std::string name = "keep";
  int32_t w = 7, h = 8, bin = 9;
  bool colour = true;
  camera->SelectMode(4, name, w, h, bin, colour);
  EXPECT_EQ(name, "keep");
  EXPECT_EQ(w + h + bin, 24);
}

TEST_F(Ver2Binding, SettingsReachTheCameraAndTheFrameComesBack) {
  std::string name;
  int32_t w = 0, h = 0, bin = 0;
  bool colour = false;
  camera->SelectMode(2, name, w, h, bin, colour);
  camera->SetExposureMode(2);  // "1x1 VBE": setexpomode(1)
  camera->SetGain(100);
  camera->SetOffset(10);
  ASSERT_EQ(camera->Expose(20, 0, 0, w, h, bin, 0), 0);
  auto b = Block();
  EXPECT_EQ(b[0], 63);       // gain 100 * 63 / 100
  EXPECT_EQ(b[3], 20);       // ms
  EXPECT_EQ(b[6], 1);        // exposure mode
  EXPECT_EQ(b[7], 10 + 60);  // offset
  EXPECT_EQ(device->BulkReadLengths(), (std::vector<int>{3'338'400, 3'338'400}));

  // Native buffer: the trimmed area starts 10 rows into each field (sensor row 20) and at
  // column 42; rows alternate between the two fields.
  std::vector<uint16_t> px(size_t(w) * h);
  camera->SetBufferMode(0);
  ASSERT_EQ(camera->ReadBuffer(px.data(), w * h), w * h);
  for (auto [r, c] : {std::pair{0, 0}, {1, 0}, {2, 5}, {h - 1, w - 1}}) {
    EXPECT_EQ(px[size_t(r) * w + c], Ver2Device::TestPattern(r + 20, c + 42)) << r << "," << c;
  }
  EXPECT_EQ(camera->BufferPointer()[1], Ver2Device::TestPattern(20, 43));

  // The binned mode.
  camera->SelectMode(3, name, w, h, bin, colour);
  camera->SetExposureMode(3);
  ASSERT_EQ(camera->Expose(5, 0, 0, w, h, bin, 0), 0);
  b = Block();
  EXPECT_EQ(b[4] & 0x48, 0x48);
  EXPECT_EQ(b[6], 2);
}

TEST_F(Ver2Binding, CancelEndsARunningExposure) {
  std::string name;
  int32_t w = 0, h = 0, bin = 0;
  bool colour = false;
  camera->SelectMode(3, name, w, h, bin, colour);
  camera->SetExposureMode(3);
  ASSERT_EQ(camera->StartExposure(60'000, 0, 0, w, h, bin, 0), 0);
  EXPECT_EQ(camera->IsExposing(), 1);
  std::this_thread::sleep_for(50ms);
  camera->CancelExposure();
  const auto until = std::chrono::steady_clock::now() + 10s;
  while (camera->IsExposing() && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(10ms);
  EXPECT_EQ(camera->IsExposing(), 0);
  EXPECT_EQ(device->CancelWrites(), 1);
}

}  // namespace
}  // namespace telvane
