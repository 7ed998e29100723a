// A binding that provides only the abstract operations inherits the documented defaults.
#include <gtest/gtest.h>

#include <string>

#include "telvane/camera.h"

namespace telvane {
namespace {

class MinimalCamera : public TCamera {
 public:
  std::string CameraName() override { return "Minimal"; }
  int32_t ModeCount() override { return 1; }
  void SelectMode(int32_t, std::string&, int32_t&, int32_t&, int32_t&, bool&) override {}
  int32_t Open(int32_t) override { return 0; }
  int32_t IsExposing() override { return 0; }
  int32_t ReadBuffer(void*, int32_t) override { return 0; }
  int32_t StartExposure(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t) override {
    return 0;
  }
  int32_t Expose(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t) override {
    return 0;
  }
  uint16_t* BufferPointer() override { return nullptr; }
  void CancelExposure() override {}
  int32_t DeviceAvailable(int32_t) override { return 0; }
  void Create() override {}
};

TEST(CameraDefaults, OptionalOperationsReportBaseBehaviour) {
  MinimalCamera cam;
  TCamera& c = cam;
  EXPECT_EQ(c.TemperatureText(), "N/A");
  EXPECT_FALSE(c.HasCooler());
  EXPECT_FALSE(c.HasShutter());
  EXPECT_FALSE(c.IsColourCamera());
  EXPECT_STREQ(c.FirmwareDate(), "");
  EXPECT_EQ(c.ExposureTimeFactor(), 1);
  std::string text = "stale";
  c.ModeStatusText(1, text);
  EXPECT_EQ(text, "");
  // Requests a binding does not support are accepted and change nothing.
  c.SetGain(50);
  c.SetOffset(10);
  c.SetBufferMode(5);
  c.SetColourMode(1);
  c.SetDarkFrame(true);
  c.Poll();
  EXPECT_EQ(c.ExposureTemperature.load(), 99.0);
}

}  // namespace
}  // namespace telvane
