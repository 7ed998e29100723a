#include "telvane/driver_library.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "telvane/cameras/driver_camera.h"

namespace telvane {
namespace {

// A driver-library camera bound to any file, to see how a class behaves without its library.
class BoundTo : public DriverLibraryCamera {
 public:
  BoundTo(const char* file, DiagnosticSink sink)
      : DriverLibraryCamera("VER2", file, true, std::move(sink)) {}
  int32_t ModeCount() override { return 0; }
  void SelectMode(int32_t, std::string&, int32_t&, int32_t&, int32_t&, bool&) override {}
};

struct MissingCase {
  const char* file;
  const char* expectedStart;
};

class MissingLibrary : public ::testing::TestWithParam<MissingCase> {};

TEST_P(MissingLibrary, DisablesTheClassWithOneClearLine) {
  std::vector<std::string> lines;
  BoundTo camera(GetParam().file, [&](const std::string& l) { lines.push_back(l); });
  EXPECT_FALSE(camera.Available());
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind(GetParam().expectedStart, 0), 0u) << lines[0];

  // Every operation is harmless and reports "no camera".
  camera.Create();
  EXPECT_EQ(camera.CameraName(), "VER2");
  EXPECT_EQ(camera.DeviceAvailable(0), 0);
  EXPECT_EQ(camera.Open(0), 1);
  EXPECT_EQ(camera.Expose(10, 0, 0, 10, 10, 1, 0), 1);
  EXPECT_EQ(camera.StartExposure(10, 0, 0, 10, 10, 1, 0), 1);
  EXPECT_EQ(camera.IsExposing(), 0);
  EXPECT_EQ(camera.BufferPointer(), nullptr);
  uint16_t px[4] = {};
  EXPECT_EQ(camera.ReadBuffer(px, 4), 0);
  camera.SetGain(10);
  camera.SetOffset(10);
  camera.SetBufferMode(0);
  camera.CancelExposure();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MissingLibrary,
    ::testing::Values(MissingCase{"libtelvane-no-such-driver.so",
                                  "VER2: cannot load libtelvane-no-such-driver.so: "},
                      // Loads, but exports none of the driver functions.
                      MissingCase{"libm.so.6", "VER2: libm.so.6 lacks OpenCamera: "}));

TEST(DriverLibrary, OptionalExportMayBeAbsent) {
  std::vector<std::string> lines;
  DriverLibrary lib("T", "libm.so.6", [&](const std::string& l) { lines.push_back(l); });
  double (*cosine)(double) = nullptr;
  void (*absent)() = nullptr;
  EXPECT_TRUE(lib.Resolve("cos", cosine));
  EXPECT_FALSE(lib.Resolve("NoSuchExport", absent, /*required=*/false));
  EXPECT_TRUE(lib.Usable());
  EXPECT_TRUE(lines.empty());
  ASSERT_NE(cosine, nullptr);
  EXPECT_DOUBLE_EQ(cosine(0.0), 1.0);
}

}  // namespace
}  // namespace telvane
