#include "telvane/camera_registry.h"

#include <gtest/gtest.h>

#include <set>

namespace telvane {
namespace {

class FakeCamera : public TCamera {
 public:
  FakeCamera(std::string name, std::set<int> devices, int* destroyed)
      : name_(std::move(name)), devices_(std::move(devices)), destroyed_(destroyed) {}
  ~FakeCamera() override { ++*destroyed_; }
  std::string CameraName() override { return name_; }
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
  int32_t DeviceAvailable(int32_t i) override { return devices_.count(i) ? 1 : 0; }
  void Create() override {}

 private:
  std::string name_;
  std::set<int> devices_;
  int* destroyed_;
};

CameraFamilyEntry Fake(CameraFamily f, const char* name, std::set<int> devices, int* destroyed) {
  return {f, name, [=](const DiagnosticSink&) -> std::unique_ptr<TCamera> {
            return std::make_unique<FakeCamera>(name, devices, destroyed);
          }};
}

struct ScanCase {
  const char* name;
  std::vector<std::tuple<CameraFamily, const char*, std::set<int>>> families;
  std::vector<std::pair<std::string, uint16_t>> expected;
};

class ScanRule : public ::testing::TestWithParam<ScanCase> {};

TEST_P(ScanRule, ListsUpToFourEntriesIndexByIndexInScanOrder) {
  int destroyed = 0;
  std::vector<CameraFamilyEntry> families;
  for (const auto& [f, n, d] : GetParam().families) families.push_back(Fake(f, n, d, &destroyed));
  CameraRegistry registry(nullptr, families);
  const auto& entries = registry.Scan();
  std::vector<std::pair<std::string, uint16_t>> got;
  for (const auto& e : entries) got.emplace_back(e.caption, e.code);
  EXPECT_EQ(got, GetParam().expected);
  EXPECT_EQ(registry.Scan().size(), got.size());  // a rescan lists the same again
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ScanRule,
    ::testing::Values(
        ScanCase{"none", {{CameraFamily::kVER2, "V", {}}}, {}},
        ScanCase{"five of one family, four listed",
                 {{CameraFamily::kVER2, "V", {0, 1, 2, 3, 4}}},
                 {{"V device 0", 0x200},
                  {"V device 1", 0x201},
                  {"V device 2", 0x202},
                  {"V device 3", 0x203}}},
        // Created VER2 first, but at each index ZAZ9 is asked before VER2 and VAV6 last.
        ScanCase{"index major, scan order within an index",
                 {{CameraFamily::kVER2, "V", {0, 1}},
                  {CameraFamily::kVAV6, "A", {0}},
                  {CameraFamily::kZAZ9, "Z", {1}}},
                 {{"V device 0", 0x200},
                  {"A device 0", 0x600},
                  {"Z device 1", 0x901},
                  {"V device 1", 0x201}}},
        ScanCase{"index 5 is never probed", {{CameraFamily::kVER2, "V", {5}}}, {}}),
    [](const auto& info) {
      std::string n = info.param.name;
      for (char& c : n) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
      }
      return n;
    });

TEST(CameraRegistry, TakingACameraReleasesTheOthers) {
  int destroyed = 0;
  CameraRegistry registry(nullptr, {Fake(CameraFamily::kVER2, "V", {0}, &destroyed),
                                    Fake(CameraFamily::kZAZ9, "Z", {0}, &destroyed)});
  ASSERT_EQ(registry.Scan().size(), 2u);
  const CameraMenuEntry entry = registry.Entries()[1];
  EXPECT_EQ(entry.Family(), CameraFamily::kVER2);
  EXPECT_EQ(entry.DeviceIndex(), 0);
  auto camera = registry.Take(entry);
  ASSERT_NE(camera, nullptr);
  EXPECT_EQ(camera->CameraName(), "V");
  EXPECT_EQ(destroyed, 1);  // the ZAZ9 object
  EXPECT_TRUE(registry.Objects().empty());
  EXPECT_EQ(registry.Take(entry), nullptr);
}

TEST(CameraRegistry, UnavailableFamilyIsLeftOut) {
  int destroyed = 0;
  std::vector<std::string> lines;
  CameraRegistry registry([&](const std::string& l) { lines.push_back(l); },
                          {{CameraFamily::kZAZ9, "Z",
                            [](const DiagnosticSink& sink) -> std::unique_ptr<TCamera> {
                              sink("Z: cannot load libz9.so: gone");
                              return nullptr;
                            }},
                           Fake(CameraFamily::kVER2, "V", {0}, &destroyed)});
  EXPECT_EQ(registry.Objects().size(), 1u);
  ASSERT_EQ(registry.Scan().size(), 1u);
  EXPECT_EQ(registry.Entries()[0].caption, "V device 0");
  EXPECT_EQ(lines, std::vector<std::string>{"Z: cannot load libz9.so: gone"});
}

}  // namespace
}  // namespace telvane
