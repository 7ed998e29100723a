// libcamdrv2's exports against the simulated VER2 rendering its test pattern.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "camdrv2.h"
#include "camdrv2_internal.h"
#include "telvane/sim/bus.h"
#include "telvane/sim/ver2_device.h"

namespace telvane::camdrv2 {
namespace {

using sim::Ver2Device;
using Clock = std::chrono::steady_clock;

bool WaitUntilIdle(std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto end = Clock::now() + limit;
  while (IsExposing()) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// A device that answers identification with fixed bytes, nothing else.
class IdentityDevice : public sim::Device {
 public:
  explicit IdentityDevice(std::vector<uint8_t> answer) : answer_(std::move(answer)) {}
  uint16_t VendorId() const override { return Ver2Device::kVendorId; }
  uint16_t ProductId() const override { return Ver2Device::kProductId; }
  std::string Model() const override { return "identity"; }
  int Control(uint8_t, uint8_t, uint16_t, uint16_t, uint8_t* data, uint16_t length,
              unsigned) override {
    const size_t n = std::min<size_t>(length, answer_.size());
    std::copy_n(answer_.begin(), n, data);
    return static_cast<int>(n);
  }
  int BulkRead(uint8_t, uint8_t*, int, unsigned) override { return -1; }
  int BulkWrite(uint8_t, const uint8_t*, int, unsigned) override { return -1; }
  int ClearHalt(uint8_t) override { return 0; }
  bool Attached() const override { return true; }

 private:
  std::vector<uint8_t> answer_;
};

void UseOnly(std::shared_ptr<sim::Device> device) {
  sim::Bus::Instance().Enable(/*attachDefaults=*/false);
  sim::Bus::Instance().DetachAll();
  if (device) sim::Bus::Instance().Attach(std::move(device));
}

// Runs first in the process: the name changes for good at the first successful open.
TEST(Ver2Identity, NameChangesOnceADeviceOpensAndOnlyTheRightAnswerCounts) {
  UseOnly(nullptr);
  EXPECT_STREQ(GetName(), "3.3Mpix camera");
  EXPECT_EQ(checkdevice(0), 0);
  EXPECT_STREQ(GetName(), "3.3Mpix camera");

  const std::vector<uint8_t> good = {0xAA, 0x55, 0x03, 0x1B, 0x02, 0x54, 0x02, 0x01, 0x59, 0x00};
  struct Case {
    const char* what;
    std::vector<uint8_t> answer;
    int present;
  };
  std::vector<Case> cases = {{"one identification byte off", good, 0},
                             {"byte 9 not zero", good, 0},
                             {"answer too short", {good.begin(), good.begin() + 9}, 0},
                             {"expected answer", good, 1}};
  cases[0].answer[5] = 0x55;
  cases[1].answer[9] = 0x01;
  for (const Case& c : cases) {
    UseOnly(std::make_shared<IdentityDevice>(c.answer));
    EXPECT_EQ(checkdevice(0), c.present) << c.what;
    EXPECT_EQ(OpenCamera(0), c.present ? 0 : 1) << c.what;
    EXPECT_STREQ(GetName(), "3.3 MPix Camera") << c.what;
    EXPECT_EQ(checkdevice(1), 0) << c.what;
  }
  // The open camera answers through its own handle, again and again.
  EXPECT_EQ(checkdevice(0), 1);
  EXPECT_EQ(checkdevice(0), 1);
  sim::Bus::Instance().Disable();
}

TEST(Ver2WithoutCamera, LibusbBackEndFindsNothingAndNothingBreaks) {
  // No simulator: the real USB scan runs (or finds no USB at all in a sandbox).
  sim::Bus::Instance().Disable();
  EXPECT_EQ(OpenCamera(0), 1);
  EXPECT_EQ(checkdevice(0), 0);
  EXPECT_EQ(ThreadExposure(0, 0, 0, 10, 10, 1, 0), 1);
  EXPECT_EQ(Exposure(0, 0, 0, 10, 10, 1, 0), 1);
  EXPECT_EQ(IsExposing(), 0);
  CancelExposure();
  SetDelayParameters(1, 2);
}

class Ver2Test : public ::testing::Test {
 protected:
  void SetUp() override {
    Ver2Device::Options options;
    options.source = Ver2Device::Source::kTestPattern;
    camera_ = std::make_shared<Ver2Device>(options);
    UseOnly(camera_);
    ASSERT_EQ(OpenCamera(0), 0);
    SetBufferMode(0);
    SetColorMode(1);
    camera_->ClearRecords();
  }
  void TearDown() override {
    if (!WaitUntilIdle()) ADD_FAILURE() << "readout still running";
    sim::Bus::Instance().Disable();
  }

  std::vector<Ver2Device::ControlRecord> Requests(uint8_t request) const {
    std::vector<Ver2Device::ControlRecord> found;
    for (const auto& r : camera_->ControlRequests())
      if (r.request == request) found.push_back(r);
    return found;
  }
  std::vector<uint8_t> RequestOrder() const {
    std::vector<uint8_t> order;
    for (const auto& r : camera_->ControlRequests()) order.push_back(r.request);
    return order;
  }

  std::shared_ptr<Ver2Device> camera_;
};

TEST_F(Ver2Test, FullFrameInterleavesTheTwoFields) {
  ShowOB(1);
  ASSERT_EQ(Exposure(0, 0, 0, 2140, 1560, 1, 0), 0);
  EXPECT_EQ(LastReadoutResult(), ReadoutResult::kComplete);
  EXPECT_EQ(camera_->BulkReadLengths(), (std::vector<int>{3338400, 3338400}));
  // Row 0 is field A row 0 (sensor row 0), row 1 field B row 0 (sensor row 1), and so on.
  const uint16_t* image = getbufptr();
  int mismatches = 0;
  for (int r = 0; r < 1560; ++r)
    for (int c = 0; c < 2140; ++c)
      mismatches += image[r * 2140 + c] != Ver2Device::TestPattern(r, c);
  EXPECT_EQ(mismatches, 0);
}

struct RegionCase {
  const char* name;
  int showOB, binning, x, y, width, height;
};

void PrintTo(const RegionCase& c, std::ostream* os) { *os << c.name; }

class Ver2RegionTest : public Ver2Test, public ::testing::WithParamInterface<RegionCase> {};

TEST_P(Ver2RegionTest, ImageIsTheRegionOfTheTransferredFrame) {
  const RegionCase& c = GetParam();
  ShowOB(c.showOB);
  ASSERT_EQ(Exposure(0, c.x, c.y, c.width, c.height, c.binning, 0), 0);
  ASSERT_EQ(LastReadoutResult(), ReadoutResult::kComplete);
  const std::vector<int> reads =
      c.binning == 1 ? std::vector<int>{3338400, 3338400} : std::vector<int>{1669200};
  EXPECT_EQ(camera_->BulkReadLengths(), reads);

  // Trimmed area offsets (42, 10); both binnings start on an even transferred row.
  const int xOffset = c.showOB ? 0 : 42, yOffset = c.showOB ? 0 : 10;
  const int firstRow = c.binning == 1 ? 2 * ((c.y >> 1) + yOffset)
                                      : 2 * ((yOffset >> 1) + (c.y >> 1));
  const int firstColumn = c.binning == 1 ? c.x + xOffset : c.x + (xOffset >> 1);
  const uint16_t* image = getbufptr();
  int mismatches = 0;
  for (int r = 0; r < c.height; ++r)
    for (int col = 0; col < c.width; ++col)
      mismatches += image[r * c.width + col] !=
                    Ver2Device::TestPattern(firstRow + r, firstColumn + col);
  EXPECT_EQ(mismatches, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Regions, Ver2RegionTest,
    ::testing::Values(RegionCase{"TrimmedWhole", 0, 1, 0, 0, 2048, 1536},
                      RegionCase{"TrimmedOddHeight", 0, 1, 10, 4, 100, 51},
                      RegionCase{"TrimmedOddStartRow", 0, 1, 5, 7, 20, 6},
                      RegionCase{"TrimmedBinned", 0, 2, 7, 3, 50, 20},
                      RegionCase{"TrimmedBinnedBottomRight", 0, 2, 1000, 760, 24, 8},
                      RegionCase{"FullBinnedWhole", 1, 2, 0, 0, 1070, 780}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Ver2Test, RegisterBlockIsSentOnlyWhenItChanges) {
  const std::vector<uint8_t> delays = {0xF4, 0x01, 0xB8, 0x0B};  // 500, 3000
  ASSERT_EQ(Exposure(0, 0, 0, 16, 16, 1, 0), 0);
  ASSERT_EQ(Exposure(0, 0, 0, 16, 16, 1, 0), 0);
  EXPECT_EQ(RequestOrder(), (std::vector<uint8_t>{0xBB, 0xB5, 0xB3, 0xBB, 0xB3}));
  for (const auto& r : Requests(kRequestDelays)) EXPECT_EQ(r.data, delays);
  for (const auto& r : camera_->ControlRequests()) EXPECT_EQ(r.requestType, 0x40);
  // OpenCamera's defaults: gain 50, offset 50, exposure mode 1.
  ASSERT_TRUE(camera_->LastRegisterBlock());
  EXPECT_EQ((*camera_->LastRegisterBlock())[0], 31);
  EXPECT_EQ((*camera_->LastRegisterBlock())[7], 110);
  EXPECT_EQ((*camera_->LastRegisterBlock())[6], 1);

  // A changed setting and then a changed binning each send a new block.
  setgain(100);
  ASSERT_EQ(Exposure(0, 0, 0, 16, 16, 1, 0), 0);
  ASSERT_EQ(Exposure(0, 0, 0, 16, 16, 2, 0), 0);
  const auto blocks = Requests(kRequestRegisters);
  ASSERT_EQ(blocks.size(), 3u);
  EXPECT_EQ(blocks[1].data[0], 63);
  const drivers::ExposureBlock binned = BuildRegisterBlock({0, 2, 0, 100, 50, 1});
  EXPECT_EQ(blocks[2].data, std::vector<uint8_t>(binned.begin(), binned.end()));
  EXPECT_EQ(camera_->BulkReadLengths().back(), 1669200);

  // A re-opened camera may have been re-plugged: it gets the block again.
  ASSERT_EQ(OpenCamera(0), 0);
  setgain(100);
  camera_->ClearRecords();
  ASSERT_EQ(Exposure(0, 0, 0, 16, 16, 2, 0), 0);
  EXPECT_EQ(Requests(kRequestRegisters).size(), 1u);
}

TEST_F(Ver2Test, SetDelayParametersSendsTheLow16BitsOfBoth) {
  SetDelayParameters(0x12345, -1);
  const auto sent = Requests(kRequestDelays);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].data, (std::vector<uint8_t>{0x45, 0x23, 0xFF, 0xFF}));
}

struct LimitCase {
  int showOB, binning, x, y, width, height;
  bool accepted;
};

TEST_F(Ver2Test, RegionMustFitTheSelectedFrame) {
  const LimitCase cases[] = {
      {0, 1, 0, 0, 2048, 1536, true},   {0, 1, 1, 0, 2048, 2, false},
      {0, 1, 0, 1, 16, 1536, false},    {0, 2, 0, 0, 1024, 768, true},
      {0, 2, 0, 0, 1025, 2, false},     {0, 2, 0, 768, 16, 1, false},
      {1, 1, 0, 0, 2140, 1560, true},   {1, 1, 2140, 0, 1, 2, false},
      {1, 2, 1069, 779, 1, 1, true},    {1, 2, 0, 0, 1070, 781, false},
      // Only binnings 1 and 2 exist; negative or overflowing regions would read outside.
      {0, 3, 0, 0, 16, 16, false},      {0, 0, 0, 0, 16, 16, false},
      {0, -1, 0, 0, 16, 16, false},     {0, 1, -2, 0, 16, 16, false},
      {0, 1, 0, -2, 16, 16, false},     {0, 1, 0, 0, -16, 16, false},
      {0, 2, 0, 0, INT_MAX, 2, false},  {0, 1, INT_MAX, 0, 2, 2, false},
  };
  for (const LimitCase& c : cases) {
    ShowOB(c.showOB);
    camera_->ClearRecords();
    getbufptr()[0] = 0xBEEF;
    const int result = Exposure(0, c.x, c.y, c.width, c.height, c.binning, 0);
    const std::string where = "ShowOB " + std::to_string(c.showOB) + " bin " +
                              std::to_string(c.binning) + " x " + std::to_string(c.x) + " y " +
                              std::to_string(c.y) + " " + std::to_string(c.width) + "x" +
                              std::to_string(c.height);
    EXPECT_EQ(result, c.accepted ? 0 : 1) << where;
    if (!c.accepted) {
      EXPECT_TRUE(camera_->ControlRequests().empty()) << where;
      EXPECT_EQ(getbufptr()[0], 0xBEEF) << where;
    }
  }
}

TEST_F(Ver2Test, FrameSizeAndPixSizeFollowShowOB) {
  const struct {
    int showOB, mode, width, height;
  } cases[] = {{0, 1, 2048, 1536}, {0, 2, 1024, 768}, {1, 1, 2140, 1560},
               {1, 2, 1070, 780},  {1, 3, -1, -1},    {0, 0, -1, -1}};
  for (const auto& c : cases) {
    ShowOB(c.showOB);
    int w = 0, h = 0;
    FrameSize(c.mode, &w, &h);
    EXPECT_EQ(w, c.width) << "ShowOB " << c.showOB << " mode " << c.mode;
    EXPECT_EQ(h, c.height) << "ShowOB " << c.showOB << " mode " << c.mode;
  }
  double pw = 0, ph = 0;
  PixSize(2, &pw, &ph);
  EXPECT_DOUBLE_EQ(pw, 6.9);
  EXPECT_DOUBLE_EQ(ph, 6.9);
  PixSize(1, nullptr, nullptr);  // the host may not want both
}

TEST_F(Ver2Test, GetBufferModes) {
  ASSERT_EQ(Exposure(0, 0, 0, 4, 2, 1, 0), 0);
  const uint16_t* image = getbufptr();

  SetBufferMode(9);  // above the highest mode: FITS form
  uint8_t fits[8 * 2 + 1];
  std::fill(std::begin(fits), std::end(fits), 0xEE);
  GetBuffer(fits, 8);
  for (int n = 0; n < 8; ++n) {
    EXPECT_EQ(fits[2 * n], (image[n] >> 8) ^ 0x80) << n;
    EXPECT_EQ(fits[2 * n + 1], image[n] & 0xFF) << n;
  }
  EXPECT_EQ(fits[16], 0xEE);

  // Mode 4 on a 2-row region writes one row of 3-byte pixels, whatever count says...
  for (int colourMode : {1, 2}) {
    SetBufferMode(4);
    SetColorMode(colourMode);
    std::vector<uint8_t> colour(3 * 8, 0xEE);
    GetBuffer(colour.data(), 8);
    EXPECT_NE(colour[0] & colour[1] & colour[2], 0xEE) << "colour mode " << colourMode;
    EXPECT_TRUE(std::all_of(colour.begin() + 12, colour.end(), [](uint8_t b) { return b == 0xEE; }))
        << "colour mode " << colourMode;
  }
  // ...but never more pixels than the caller has room for.
  std::vector<uint8_t> small(3 * 4, 0xEE);
  GetBuffer(small.data(), 3);
  EXPECT_EQ(small[9], 0xEE);

  // Colour modes other than 1 and 2 give no output.
  SetColorMode(3);
  std::vector<uint8_t> none(12, 0xEE);
  GetBuffer(none.data(), 8);
  EXPECT_TRUE(std::all_of(none.begin(), none.end(), [](uint8_t b) { return b == 0xEE; }));

  SetBufferMode(-1);
  GetBuffer(fits, 1);
  EXPECT_EQ(fits[0], (image[0] >> 8) ^ 0x80);
  GetBuffer(nullptr, 8);
  GetBuffer(fits, -1);
}

TEST_F(Ver2Test, ThreadExposureFlagsTheRunAndRefusesASecondStart) {
  ASSERT_EQ(ThreadExposure(300, 0, 0, 64, 64, 1, 0), 0);
  EXPECT_EQ(IsExposing(), 1);
  EXPECT_EQ(ThreadExposure(0, 0, 0, 16, 16, 1, 0), 1);
  EXPECT_EQ(Exposure(0, 0, 0, 16, 16, 1, 0), 1);
  ASSERT_TRUE(WaitUntilIdle());
  EXPECT_EQ(camera_->ExposuresStarted(), 1);
  EXPECT_EQ(camera_->LastExposureMs(), 300u);
  EXPECT_EQ(LastReadoutResult(), ReadoutResult::kComplete);
  EXPECT_EQ(getbufptr()[64 * 63 + 63], Ver2Device::TestPattern(20 + 63, 42 + 63));
  // The next one starts as soon as the flag is down.
  ASSERT_EQ(ThreadExposure(0, 0, 0, 16, 16, 2, 0), 0);
  ASSERT_TRUE(WaitUntilIdle());
  EXPECT_EQ(camera_->ExposuresStarted(), 2);
}

TEST_F(Ver2Test, CancelWhenIdleSendsNothing) {
  CancelExposure();
  EXPECT_EQ(camera_->CancelWrites(), 0);
  EXPECT_TRUE(camera_->ControlRequests().empty());
}

TEST_F(Ver2Test, CancelEndsALongExposureEarlyWithTheFrameReadOut) {
  ASSERT_EQ(ThreadExposure(60000, 0, 0, 32, 32, 1, 0), 0);
  const auto end = Clock::now() + std::chrono::seconds(5);
  while (camera_->ExposuresStarted() == 0 && Clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  ASSERT_EQ(camera_->ExposuresStarted(), 1);
  CancelExposure();  // from this thread while the worker blocks in its bulk read
  EXPECT_EQ(camera_->CancelWrites(), 1);
  ASSERT_TRUE(WaitUntilIdle(std::chrono::seconds(5)));
  EXPECT_EQ(LastReadoutResult(), ReadoutResult::kComplete);
  EXPECT_EQ(getbufptr()[0], Ver2Device::TestPattern(20, 42));
}

struct FaultCase {
  const char* name;
  std::function<void(Ver2Device&)> inject;
  ReadoutResult result;
  int error;         // what ended the readout
  int bulkReads;     // reads issued before it ended
  bool replug;       // the device must be plugged back for the next exposure
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

class Ver2FaultTest : public Ver2Test, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(Ver2FaultTest, ReadoutEndsWithAnEmptyFrameAndTheCameraStaysUsable) {
  const FaultCase& c = GetParam();
  for (const bool threaded : {true, false}) {
    SCOPED_TRACE(threaded ? "ThreadExposure" : "Exposure");
    // A good frame first, so a failed one cannot pass for it.
    ASSERT_EQ(Exposure(0, 0, 0, 32, 32, 1, 0), 0);
    ASSERT_NE(getbufptr()[0], 0);
    camera_->ClearRecords();
    c.inject(*camera_);
    if (threaded) {
      ASSERT_EQ(ThreadExposure(0, 0, 0, 32, 32, 1, 0), 0);
      ASSERT_TRUE(WaitUntilIdle(std::chrono::seconds(5)));
    } else {
      EXPECT_EQ(Exposure(0, 0, 0, 32, 32, 1, 0), 1);
      EXPECT_EQ(IsExposing(), 0);
    }
    EXPECT_EQ(LastReadoutResult(), c.result);
    EXPECT_EQ(LastReadoutError(), c.error);
    EXPECT_EQ(camera_->BulkReadLengths().size(), static_cast<size_t>(c.bulkReads));
    const uint16_t* image = getbufptr();
    EXPECT_TRUE(std::all_of(image, image + 32 * 32, [](uint16_t p) { return p == 0; }));

    if (c.replug) camera_->Replug();
    ASSERT_EQ(Exposure(0, 0, 0, 32, 32, 1, 0), 0);
    EXPECT_EQ(getbufptr()[0], Ver2Device::TestPattern(20, 42));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, Ver2FaultTest,
    ::testing::Values(
        FaultCase{"ShortRead", [](Ver2Device& d) { d.ShortNextBulkRead(1000); },
                  ReadoutResult::kTransferFailed, 1000, 1, false},
        FaultCase{"FailedRead", [](Ver2Device& d) { d.FailNextBulkRead(); },
                  ReadoutResult::kTransferFailed, -1, 1, false},
        FaultCase{"StalledEndpoint", [](Ver2Device& d) { d.StallBulkIn(); },
                  ReadoutResult::kTransferFailed, -9, 1, false},
        FaultCase{"FailedStart", [](Ver2Device& d) { d.FailNextStart(); },
                  ReadoutResult::kStartFailed, -1, 0, false},
        FaultCase{"UnpluggedMidFrame", [](Ver2Device& d) { d.UnplugAfterBulkReads(1); },
                  ReadoutResult::kTransferFailed, -4, 2, true},
        FaultCase{"UnpluggedBeforeStart", [](Ver2Device& d) { d.Unplug(); },
                  ReadoutResult::kControlFailed, -4, 0, true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace telvane::camdrv2
