// The capture loop driven by the in-memory camera, with recording hosts. Every wait is
// bounded; a condition that never comes fails the test instead of hanging it.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "telvane/fits.h"
#include "telvane/video_capture.h"
#include "test_camera.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace telvane {
namespace {

using testing::CameraCall;
using testing::TestCamera;
using testing::TestMode;

constexpr auto kWait = 5s;

// Polls a condition that has no event of its own (an atomic field), bounded.
bool Eventually(const std::function<bool()>& pred, std::chrono::milliseconds timeout = kWait) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

class RecordingSink : public MessageSink {
 public:
  void post(int message) override {
    std::lock_guard lock(mu_);
    ++counts_[message];
    cv_.notify_all();
  }
  int Count(int message) {
    std::lock_guard lock(mu_);
    return counts_[message];
  }
  bool WaitCount(int message, int n) {
    std::unique_lock lock(mu_);
    return cv_.wait_for(lock, kWait, [&] { return counts_[message] >= n; });
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  std::map<int, int> counts_;
};

class RecordingBoxes : public MessageBoxHost {
 public:
  void showMessage(const std::string& text) override {
    std::lock_guard lock(mu_);
    texts_.push_back(text);
  }
  std::vector<std::string> Texts() {
    std::lock_guard lock(mu_);
    return texts_;
  }

 private:
  std::mutex mu_;
  std::vector<std::string> texts_;
};

struct ShownFrame {
  bool NewFrame = false;
  int32_t Width = 0, Height = 0;
  FrameInfo Info;
  bool PreviewMatchesPixels = true;  // grey preview = high byte of the frame, sampled
};

class RecordingDisplay : public DisplayHost {
 public:
  void UpdateDisplay(const DisplayInputs& in, const DisplayFrame&) override {
    ShownFrame f;
    f.NewFrame = in.NewFrame;
    f.Width = in.Width;
    f.Height = in.Height;
    f.Info = in.Info;
    const int32_t n = in.Width * in.Height;
    for (int32_t i = 0; i < n; i += 97)
      if (in.PreviewRGB[3 * i] != (in.Pixels[i] >> 8)) f.PreviewMatchesPixels = false;
    std::lock_guard lock(mu_);
    frames_.push_back(f);
    cv_.notify_all();
  }
  size_t Count() {
    std::lock_guard lock(mu_);
    return frames_.size();
  }
  std::vector<ShownFrame> Frames() {
    std::lock_guard lock(mu_);
    return frames_;
  }
  bool WaitCount(size_t n) {
    std::unique_lock lock(mu_);
    return cv_.wait_for(lock, kWait, [&] { return frames_.size() >= n; });
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  std::vector<ShownFrame> frames_;
};

// Forwards to libprocess and records the level calls the loop makes.
class RecordingImages : public ImageProcessing {
 public:
  struct Call {
    std::string Op;
    int32_t A = 0, B = 0;
  };
  std::vector<Call> Calls() {
    std::lock_guard lock(mu_);
    return calls_;
  }
  size_t CountOf(const std::string& op) {
    std::lock_guard lock(mu_);
    return static_cast<size_t>(std::count_if(calls_.begin(), calls_.end(),
                                             [&](const Call& c) { return c.Op == op; }));
  }

  void denoise(uint16_t* f, int32_t w, int32_t h) override {
    Add("denoise");
    lib().denoise(f, w, h);
  }
  // A star search answer to give instead of libprocess's.
  struct ScriptedStar {
    int32_t result;
    float x, y;
  };
  void Script(std::optional<ScriptedStar> s) {
    std::lock_guard lock(mu_);
    scripted_ = s;
  }
  int32_t FindStar(const uint16_t* f, int32_t w, int32_t h, int32_t x1, int32_t y1, int32_t x2,
                   int32_t y2) override {
    Add("FindStar", x1, y1);
    if (auto s = Scripted()) return s->result;
    return lib().FindStar(f, w, h, x1, y1, x2, y2);
  }
  float GetStarX() override {
    if (auto s = Scripted()) return s->x;
    return lib().GetStarX();
  }
  float GetStarY() override {
    if (auto s = Scripted()) return s->y;
    return lib().GetStarY();
  }
  int32_t GetXdia() override { return lib().GetXdia(); }
  int32_t GetYdia() override { return lib().GetYdia(); }
  int32_t GetBright() override { return lib().GetBright(); }
  void bufferCopy(const void* s, void* d, int32_t n) override {
    Add("bufferCopy", n);
    lib().bufferCopy(s, d, n);
  }
  void AutoHistogram(const uint16_t* f, int32_t w, int32_t h, int32_t* lo, int32_t* hi) override {
    lib().AutoHistogram(f, w, h, lo, hi);
    Add("AutoHistogram", *lo, *hi);
  }
  void HistogramPreview(uint16_t* f, int32_t w, int32_t h, int32_t lo, int32_t hi) override {
    Add("HistogramPreview", lo, hi);
    lib().HistogramPreview(f, w, h, lo, hi);
  }
  void HistogramStretch(uint16_t* f, int32_t w, int32_t h) override {
    Add("HistogramStretch");
    lib().HistogramStretch(f, w, h);
  }
  void HFLIP(uint8_t* p, int32_t w, int32_t h) override {
    Add("HFLIP");
    lib().HFLIP(p, w, h);
  }
  void INVERT(uint8_t* p, int32_t w, int32_t h) override {
    Add("INVERT");
    lib().INVERT(p, w, h);
  }

 private:
  static ImageProcessing& lib() { return LibProcessImages(); }
  std::optional<ScriptedStar> Scripted() {
    std::lock_guard lock(mu_);
    return scripted_;
  }
  std::optional<ScriptedStar> scripted_;
  void Add(const std::string& op, int32_t a = 0, int32_t b = 0) {
    std::lock_guard lock(mu_);
    calls_.push_back({op, a, b});
  }
  std::mutex mu_;
  std::vector<Call> calls_;
};

// Calls of one operation after a given sequence number.
std::vector<CameraCall> After(const std::vector<CameraCall>& calls, uint64_t seq,
                              const std::string& op = "") {
  std::vector<CameraCall> out;
  for (const auto& c : calls)
    if (c.Sequence > seq && (op.empty() || c.Op == op)) out.push_back(c);
  return out;
}

class Rig : public ::testing::Test {
 protected:
  void StartWith(std::vector<TestMode> modes = testing::DefaultTestModes()) {
    cam = std::make_unique<TestCamera>(std::move(modes));
    vc = std::make_shared<TVideoCapture>(sink, display, boxes, images);
    vc->Camera = cam.get();
    ASSERT_TRUE(vc->OpenCamera());
    vc->PreviewExposure = 5;
    ASSERT_TRUE(vc->Start());
  }
  void TearDown() override {
    if (vc) {
      EXPECT_TRUE(vc->Shutdown());
    }
    vc.reset();
  }
  // Stops the preview and returns once the loop has done an idle pass.
  void GoIdle() {
    vc->Idle = true;
    const size_t polls = cam->CountOf("Poll");
    ASSERT_TRUE(cam->WaitCount("Poll", polls + 2, kWait));
    ASSERT_FALSE(cam->InExpose());
  }
  // Until an Expose call made after the camera was reconfigured at sequence seq is running.
  bool WaitExposeAfter(uint64_t seq) {
    return cam->WaitCall(
        [&](const CameraCall& c) { return c.Sequence > seq && c.Op == "Expose"; }, kWait);
  }
  bool WaitExposeOf(int32_t ms) {
    return cam->WaitCall(
               [&](const CameraCall& c) { return c.Op == "Expose" && c.Args[0] == ms; }, kWait) &&
           cam->WaitInExpose(kWait);
  }

  RecordingSink sink;
  RecordingDisplay display;
  RecordingBoxes boxes;
  RecordingImages images;
  std::unique_ptr<TestCamera> cam;
  std::shared_ptr<TVideoCapture> vc;
};

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "telvane-capture-XXXXXX").string();
    path_ = ::mkdtemp(tmpl.data());
  }
  ~TempDir() { fs::remove_all(path_); }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

std::string ReadFile(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST_F(Rig, PreviewsApplyModeOneThenReachTheDisplay) {
  StartWith();
  ASSERT_TRUE(display.WaitCount(3));
  for (const ShownFrame& f : display.Frames()) {
    EXPECT_TRUE(f.NewFrame);
    EXPECT_EQ(f.Width, 200);
    EXPECT_EQ(f.Height, 100);
    EXPECT_TRUE(f.PreviewMatchesPixels);
  }
  const auto calls = cam->Calls();
  const auto firstExpose = std::find_if(calls.begin(), calls.end(),
                                        [](const CameraCall& c) { return c.Op == "Expose"; });
  ASSERT_NE(firstExpose, calls.end());
  // Preview exposures: preview time, the mode's geometry and binning, the high-speed option.
  EXPECT_EQ(firstExpose->Args, (std::vector<int32_t>{5, 0, 0, 200, 100, 1, 1}));
  const auto selects = cam->CallsNamed("SelectMode");
  ASSERT_FALSE(selects.empty());
  EXPECT_EQ(selects[0].Args[0], 1);
  EXPECT_LT(selects[0].Sequence, firstExpose->Sequence);
  EXPECT_EQ(cam->CallsNamed("SetExposureMode").at(0).Args[0], 1);
  // Unchanged display size: one resize message only, for the first frame.
  EXPECT_EQ(sink.Count(MSG_PREVIEW_RESIZED), 1);
  EXPECT_EQ(images.CountOf("HistogramPreview"), 0u);  // levels 0 and 100 leave the frame alone
}

class CaptureRuns : public Rig, public ::testing::WithParamInterface<bool> {};

TEST_P(CaptureRuns, SavesEveryFrameThenStopsUnlessAutoResume) {
  const bool autoResume = GetParam();
  TempDir dir;
  StartWith();
  GoIdle();
  vc->AutoResume = autoResume;
  vc->Gain = 45;
  vc->Offset = 10;
  vc->StartCapture(dir / "m42.fit", 20, 3);
  ASSERT_TRUE(sink.WaitCount(MSG_CAPTURE_SAVED, 3));
  for (const char* name : {"m42_00000.FIT", "m42_00001.FIT", "m42_00002.FIT"}) {
    const std::string f = ReadFile(dir / name);
    EXPECT_EQ(f.size(), 2880u + 40320u) << name;  // 200 x 100 x 2 padded to 14 records
    EXPECT_EQ(f.substr(8 * 80, 80), FitsValueCard("EXPOSURE", "0.0200"));
    EXPECT_EQ(f.substr(9 * 80, 80), FitsStringCard("GAIN", "45%"));
  }
  EXPECT_EQ(vc->LastSavedFile(), dir / "m42_00002.FIT");
  const auto captures = cam->CallsNamed("Expose");
  EXPECT_EQ(std::count_if(captures.begin(), captures.end(),
                          [](const CameraCall& c) { return c.Args[0] == 20 && c.Args[6] == 0; }),
            3);
  EXPECT_EQ(vc->CaptureCount.load(), 0u);
  EXPECT_EQ(vc->Idle.load(), !autoResume);
  const uint64_t seq = cam->LastSequence();
  if (autoResume) {
    EXPECT_TRUE(cam->WaitCall(
        [&](const CameraCall& c) {
          return c.Sequence > seq && c.Op == "Expose" && c.Args[0] == 5 && c.Args[6] == 1;
        },
        kWait));
  } else {
    const size_t polls = cam->CountOf("Poll");
    ASSERT_TRUE(cam->WaitCount("Poll", polls + 3, kWait));
    EXPECT_TRUE(After(cam->Calls(), seq, "Expose").empty());
  }
  EXPECT_EQ(sink.Count(MSG_CAPTURE_SAVED), 3);
}
INSTANTIATE_TEST_SUITE_P(AutoResume, CaptureRuns, ::testing::Bool());

TEST_F(Rig, UnwritableCaptureIsReportedAndStillCounted) {
  TempDir dir;
  StartWith();
  GoIdle();
  vc->StartCapture(dir / "missing/m42.fit", 5, 1);
  ASSERT_TRUE(sink.WaitCount(MSG_CAPTURE_SAVED, 1));
  EXPECT_EQ(boxes.Texts(), (std::vector<std::string>{"Error creating " +
                                                     (dir / "missing/m42_00000.FIT")}));
  EXPECT_EQ(vc->LastSavedFile(), "");
  EXPECT_EQ(vc->CaptureCount.load(), 0u);
}

class ColourFrames : public Rig, public ::testing::WithParamInterface<bool> {};

// Hot/cold removal runs on colour frames only, and colour frames are previewed in mode 4.
TEST_P(ColourFrames, DenoiseAndPreviewModeFollowTheColourFlag) {
  const bool colour = GetParam();
  StartWith({{"mode", 200, 100, 1, colour, 7.4, 7.4, 0, 0}});
  vc->HotColdRemoval = true;
  const uint64_t seq = cam->LastSequence();
  ASSERT_TRUE(cam->WaitCall(
      [&](const CameraCall& c) { return c.Sequence > seq && c.Op == "Expose"; }, kWait));
  const size_t frames = display.Count();
  ASSERT_TRUE(display.WaitCount(frames + 2));
  EXPECT_EQ(images.CountOf("denoise") > 0, colour);
  const auto reads = After(cam->Calls(), seq, "ReadBuffer");
  const bool mode4 = std::any_of(reads.begin(), reads.end(),
                                 [](const CameraCall& c) { return c.Args[1] == 4; });
  const bool mode2 = std::any_of(reads.begin(), reads.end(),
                                 [](const CameraCall& c) { return c.Args[1] == 2; });
  EXPECT_EQ(mode4, colour);
  EXPECT_EQ(mode2, !colour);
}
INSTANTIATE_TEST_SUITE_P(Colour, ColourFrames, ::testing::Bool());

TEST_F(Rig, AbortedCaptureIsStillSavedWithZeroExposure) {
  TempDir dir;
  StartWith();
  GoIdle();
  vc->StartCapture(dir / "abort.fit", 60000, 2);
  ASSERT_TRUE(WaitExposeOf(60000));
  EXPECT_FALSE(vc->Pause(100ms));  // no pause while a capture is pending
  vc->AbortCapture();
  ASSERT_TRUE(sink.WaitCount(MSG_CAPTURE_SAVED, 1));
  const std::string f = ReadFile(dir / "abort_00000.FIT");
  ASSERT_EQ(f.size(), 2880u + 40320u);
  EXPECT_EQ(f.substr(8 * 80, 80), FitsValueCard("EXPOSURE", "0.0000"));
  // The count that was reset during the exposure wraps and is put back to 0.
  EXPECT_EQ(vc->CaptureCount.load(), 0u);
  EXPECT_FALSE(fs::exists(dir / "abort_00001.FIT"));
}

TEST_F(Rig, ModeChangeWaitsForTheNextExposureAndResetsTheStarBox) {
  StartWith({{"small", 200, 100, 1, false, 7.4, 7.4, 0, 0},
             {"large", 400, 300, 1, false, 7.4, 7.4, 0, 0}});
  vc->PreviewExposure = 60000;
  ASSERT_TRUE(WaitExposeOf(60000));
  vc->SetStarBox(150, 20);
  const StarBoxRect narrowed = vc->GetStarBox();
  EXPECT_EQ((std::vector<int32_t>{narrowed.X1, narrowed.Y1, narrowed.X2, narrowed.Y2}),
            (std::vector<int32_t>{140, 40, 160, 80}));
  vc->RequestMode(2);
  // The running exposure is not disturbed.
  for (const auto& c : cam->CallsNamed("SelectMode")) EXPECT_NE(c.Args[0], 2);
  const uint64_t during = cam->LastSequence();
  vc->PreviewExposure = 5;
  cam->CancelExposure();
  ASSERT_TRUE(cam->WaitCall(
      [](const CameraCall& c) { return c.Op == "Expose" && c.Args[3] == 400 && c.Args[4] == 300; },
      kWait));
  const auto calls = After(cam->Calls(), during);
  std::vector<std::string> order;
  for (const auto& c : calls)
    if (c.Op == "ExposeReturned" || c.Op == "SelectMode" || c.Op == "SetExposureMode" ||
        c.Op == "Expose")
      order.push_back(c.Op + (c.Args.empty() ? "" : " " + std::to_string(c.Args[0])));
  ASSERT_GE(order.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(order.begin(), order.begin() + 3),
            (std::vector<std::string>{"ExposeReturned", "SelectMode 2", "SetExposureMode 2"}));
  EXPECT_EQ(vc->CurrentMode.load(), 2);
  const StarBoxRect box = vc->GetStarBox();
  EXPECT_EQ((std::vector<int32_t>{box.X1, box.Y1, box.X2, box.Y2}),
            (std::vector<int32_t>{30, 30, 370, 270}));
}

TEST_F(Rig, PauseParksWithoutTouchingTheCameraAndReappliesSettings) {
  StartWith();
  vc->SetGain(20);
  vc->SetOffset(5);
  ASSERT_TRUE(display.WaitCount(1));
  struct Round {
    int32_t modeRequestedWhileParked;  // -1: none
    int32_t expectedMode;
  };
  // Without a request the current mode comes back; a mode chosen while parked wins.
  for (const Round r : {Round{-1, 1}, Round{2, 2}}) {
    SCOPED_TRACE(r.expectedMode);
    ASSERT_TRUE(vc->Pause(kWait));
    EXPECT_TRUE(vc->Paused.load());
    const uint64_t parked = cam->LastSequence();
    // Whatever the pause's owner does meanwhile, the loop leaves the camera alone.
    cam->SetGain(99);
    vc->Gain = 33;
    vc->Offset = 7;
    if (r.modeRequestedWhileParked != -1) vc->RequestMode(r.modeRequestedWhileParked);
    const uint64_t ownerDone = cam->LastSequence();
    std::this_thread::sleep_for(150ms);  // a window in which a wrong loop would call the camera
    EXPECT_EQ(cam->LastSequence(), ownerDone);
    EXPECT_EQ(ownerDone, parked + 1);
    vc->ReleasePause();
    ASSERT_TRUE(cam->WaitCall(
        [&](const CameraCall& c) { return c.Sequence > ownerDone && c.Op == "Expose"; }, kWait));
    EXPECT_FALSE(vc->Paused.load());
    std::vector<std::string> order;
    for (const auto& c : After(cam->Calls(), ownerDone)) {
      if (c.Op == "Expose") break;
      if (c.Op == "SelectMode" || c.Op == "SetExposureMode" || c.Op == "SetGain" ||
          c.Op == "SetOffset")
        order.push_back(c.Op + " " + std::to_string(c.Args[0]));
    }
    const std::string m = std::to_string(r.expectedMode);
    EXPECT_EQ(order, (std::vector<std::string>{"SelectMode " + m, "SetExposureMode " + m,
                                               "SetGain 33", "SetOffset 7"}));
  }
}

struct LevelCase {
  int32_t black, white;
  int32_t renderedLow, renderedHigh;  // -1: no HistogramPreview
};

class LevelCorrection : public Rig, public ::testing::WithParamInterface<LevelCase> {};

TEST_P(LevelCorrection, EqualLevelsAreSeparatedAndWrittenBack) {
  const LevelCase lc = GetParam();
  StartWith();
  ASSERT_TRUE(display.WaitCount(1));
  GoIdle();
  vc->BlackLevel = lc.black;
  vc->WhiteLevel = lc.white;
  if (lc.renderedLow == -1) {
    const size_t frames = display.Count();
    const size_t polls = cam->CountOf("Poll");
    ASSERT_TRUE(cam->WaitCount("Poll", polls + 3, kWait));
    EXPECT_EQ(display.Count(), frames);
    EXPECT_EQ(images.CountOf("HistogramPreview"), 0u);
    return;
  }
  ASSERT_TRUE(Eventually([&] {
    for (const auto& c : images.Calls())
      if (c.Op == "HistogramPreview" && c.A == lc.renderedLow && c.B == lc.renderedHigh)
        return true;
    return false;
  }));
  for (const auto& c : images.Calls()) {
    if (c.Op != "HistogramPreview") continue;
    EXPECT_EQ(c.A, lc.renderedLow);
    EXPECT_EQ(c.B, lc.renderedHigh);
  }
  EXPECT_EQ(vc->BlackLevel.load(), lc.renderedLow);
  EXPECT_EQ(vc->WhiteLevel.load(), lc.renderedHigh);
}
INSTANTIATE_TEST_SUITE_P(Levels, LevelCorrection,
                         ::testing::Values(LevelCase{100, 100, 99, 100}, LevelCase{50, 50, 50, 51},
                                           LevelCase{20, 80, 20, 80}, LevelCase{0, 100, -1, -1}));

TEST_F(Rig, IdleReRendersOnlyForLevelZoomAutoAndStretchChanges) {
  StartWith();
  ASSERT_TRUE(display.WaitCount(1));
  GoIdle();
  const size_t exposes = cam->CountOf("Expose");
  struct Change {
    const char* what;
    std::function<void(TVideoCapture&)> apply;
    bool rerenders;
  };
  const std::vector<Change> changes = {
      {"flip", [](TVideoCapture& v) { v.FlipHorizontal = true; }, false},
      {"invert", [](TVideoCapture& v) { v.InvertImage = true; }, false},
      {"aspect", [](TVideoCapture& v) { v.AspectCorrection = true; }, false},
      {"black level", [](TVideoCapture& v) { v.BlackLevel = 10; }, true},
      {"white level", [](TVideoCapture& v) { v.WhiteLevel = 90; }, true},
      {"zoom", [](TVideoCapture& v) { v.Zoom = 200; }, true},
      {"auto levels", [](TVideoCapture& v) { v.AutoLevels = true; }, true},
      {"stretch", [](TVideoCapture& v) { v.StretchHistogram = true; }, true},
  };
  for (const Change& ch : changes) {
    SCOPED_TRACE(ch.what);
    const size_t frames = display.Count();
    const int resizes = sink.Count(MSG_PREVIEW_RESIZED);
    ch.apply(*vc);
    if (ch.rerenders) {
      ASSERT_TRUE(display.WaitCount(frames + 1));
      EXPECT_FALSE(display.Frames().back().NewFrame);
      // A new display size is announced once.
      if (std::string(ch.what) == "zoom") {
        // Posted right after the display call returns.
        EXPECT_TRUE(sink.WaitCount(MSG_PREVIEW_RESIZED, resizes + 1));
      }
    } else {
      const size_t polls = cam->CountOf("Poll");
      ASSERT_TRUE(cam->WaitCount("Poll", polls + 3, kWait));
      EXPECT_EQ(display.Count(), frames);
    }
  }
  EXPECT_EQ(cam->CountOf("Expose"), exposes);
  // Each re-render starts from a fresh copy of the frame (200 x 100 x 2 bytes).
  EXPECT_EQ(images.CountOf("bufferCopy"), 5u);
}

struct StarCase {
  const char* name;
  std::optional<RecordingImages::ScriptedStar> search;  // none: libprocess on a drawn star
  float shownX, shownY;  // published position, rows counted from the bottom
};

class StarSearch : public Rig, public ::testing::WithParamInterface<StarCase> {};

TEST_P(StarSearch, PublishesTheStarOrTheFrameCentre) {
  const StarCase sc = GetParam();
  StartWith();
  images.Script(sc.search);
  cam->SetPixelFunction(testing::StarField(120.0, 40.0));
  vc->FocusMode = true;
  const size_t frames = display.Count();
  ASSERT_TRUE(display.WaitCount(frames + 3));  // the last ones show the drawn star
  const FrameInfo info = display.Frames().back().Info;
  EXPECT_EQ(info.FrameWidth, 200);
  EXPECT_EQ(info.FrameHeight, 100);
  EXPECT_NEAR(info.StarX, sc.shownX, 1.0);
  EXPECT_NEAR(info.StarY, sc.shownY, 1.0);
  const auto calls = images.Calls();
  ASSERT_TRUE(std::any_of(calls.begin(), calls.end(), [](const RecordingImages::Call& c) {
    return c.Op == "FindStar" && c.A == 30 && c.B == 30;  // the default box
  }));
}
INSTANTIATE_TEST_SUITE_P(
    Frames, StarSearch,
    ::testing::Values(
        StarCase{"LibprocessFindsTheDrawnStar", std::nullopt, 120.0f, 60.0f},
        StarCase{"FoundAtAPosition", RecordingImages::ScriptedStar{1, 77.0f, 20.0f}, 77.0f, 80.0f},
        StarCase{"NothingFound", RecordingImages::ScriptedStar{0, 77.0f, 20.0f}, 100.0f, 50.0f},
        StarCase{"FoundAtOrigin", RecordingImages::ScriptedStar{1, 0.0f, 0.0f}, 100.0f, 50.0f}),
    [](const auto& info) { return std::string(info.param.name); });

struct StarBoxCase {
  int32_t x, y, zoom;
  StarBoxRect expected;
};

TEST(StarBox, ScalesByZoomClampsToTheFrameAndCountsRowsFromTheBottom) {
  RecordingSink sink;
  RecordingDisplay display;
  RecordingBoxes boxes;
  TVideoCapture vc(sink, display, boxes);  // never started: only the box arithmetic
  vc.Width = 200;
  vc.Height = 100;
  const std::vector<StarBoxCase> cases = {
      {150, 20, 100, {140, 40, 160, 80}},
      {300, 40, 200, {140, 40, 160, 80}},
      {0, 0, 100, {40, 40, 60, 80}},
      {1000, 1000, 100, {160, 20, 180, 60}},
      {150, 20, 0, {140, 40, 160, 80}},  // zoom 0 taken as 100, not a division by zero
  };
  for (const auto& c : cases) {
    vc.Zoom = c.zoom;
    vc.SetStarBox(c.x, c.y);
    const StarBoxRect b = vc.GetStarBox();
    EXPECT_EQ((std::vector<int32_t>{b.X1, b.Y1, b.X2, b.Y2}),
              (std::vector<int32_t>{c.expected.X1, c.expected.Y1, c.expected.X2, c.expected.Y2}))
        << c.x << "," << c.y << " at " << c.zoom << "%";
  }
}

TEST_F(Rig, OversizedModeIsRefusedAndThePreviousModeKept) {
  // 5000 x 4000 = 20,000,000 pixels: more than the frame buffer holds.
  StartWith({{"fits", 200, 100, 1, false, 7.4, 7.4, 0, 0},
             {"huge", 5000, 4000, 1, false, 7.4, 7.4, 0, 0}});
  ASSERT_TRUE(display.WaitCount(1));
  vc->RequestMode(2);
  const uint64_t seq = cam->LastSequence();
  ASSERT_TRUE(cam->WaitCall(
      [&](const CameraCall& c) { return c.Sequence > seq && c.Op == "SelectMode" && c.Args[0] == 2; },
      kWait));
  const size_t frames = display.Count();
  ASSERT_TRUE(display.WaitCount(frames + 2));
  for (const auto& c : After(cam->Calls(), seq, "Expose")) {
    EXPECT_EQ(c.Args[3], 200);
    EXPECT_EQ(c.Args[4], 100);
  }
  // The camera was put back into the mode that fits.
  const auto selects = After(cam->Calls(), seq, "SelectMode");
  ASSERT_GE(selects.size(), 2u);
  EXPECT_EQ(selects[1].Args[0], 1);
  EXPECT_EQ(vc->CurrentMode.load(), 1);
  const auto texts = boxes.Texts();
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_NE(texts[0].find("5000 x 4000"), std::string::npos) << texts[0];
}

TEST_F(Rig, OnlyModeTooLargeTakesNoExposure) {
  StartWith({{"huge", 5000, 4000, 1, false, 7.4, 7.4, 0, 0}});
  ASSERT_TRUE(cam->WaitCount("Poll", 3, kWait));
  EXPECT_EQ(cam->CountOf("Expose"), 0u);
  EXPECT_EQ(boxes.Texts().size(), 1u);
}

class PromptShutdown : public Rig, public ::testing::WithParamInterface<int> {};

// Each state the loop can wait in must end well within the bound: a 60 s exposure, an
// exposure that only ends on cancel, a parked loop and an idle loop.
TEST_P(PromptShutdown, EndsTheThreadFromEveryWaitingState) {
  StartWith();
  switch (GetParam()) {
    case 0:
      vc->PreviewExposure = 60000;
      ASSERT_TRUE(WaitExposeOf(60000));
      break;
    case 1: {
      cam->SetBlockInExpose(true);
      ASSERT_TRUE(WaitExposeAfter(cam->LastSequence()));
      break;
    }
    case 2:
      ASSERT_TRUE(vc->Pause(kWait));
      break;
    case 3:
      GoIdle();
      break;
  }
  const uint64_t seq = cam->LastSequence();
  // Far below the 60 s exposure and the 500 ms parking sleep.
  EXPECT_TRUE(vc->Shutdown(std::chrono::milliseconds(2000)));
  EXPECT_FALSE(vc->Running.load());
  // Nothing after Expose came back: no readout, no save, no display call.
  for (const auto& c : After(cam->Calls(), seq))
    EXPECT_TRUE(c.Op == "CancelExposure" || c.Op == "ExposeReturned") << c.Op;
}
INSTANTIATE_TEST_SUITE_P(States, PromptShutdown, ::testing::Values(0, 1, 2, 3));

TEST_F(Rig, ShutdownGivesUpOnACameraThatIgnoresCancel) {
  StartWith();
  cam->SetIgnoreCancel(true);
  cam->SetBlockInExpose(true);
  ASSERT_TRUE(WaitExposeAfter(cam->LastSequence()));
  std::weak_ptr<TVideoCapture> weak = vc;
  EXPECT_FALSE(vc->Shutdown(std::chrono::milliseconds(300)));
  EXPECT_GE(cam->CountOf("CancelExposure"), 1u);
  vc.reset();
  EXPECT_FALSE(weak.expired());  // the detached thread keeps the object alive
  const size_t returned = cam->CountOf("ExposeReturned");
  cam->ReleaseExpose();
  // The camera is done with once Expose has returned (its lock orders the frame writes
  // before this test destroys it); the object goes when the thread ends.
  EXPECT_TRUE(cam->WaitCount("ExposeReturned", returned + 1, kWait));
  EXPECT_TRUE(Eventually([&] { return weak.expired(); }));
}

TEST(CaptureLifecycle, StartNeedsACameraAndShutdownBeforeStartIsClean) {
  RecordingSink sink;
  RecordingDisplay display;
  RecordingBoxes boxes;
  TVideoCapture vc(sink, display, boxes);
  EXPECT_FALSE(vc.Start());
  EXPECT_FALSE(vc.OpenCamera());
  TestCamera cam;
  cam.SetOpenResult(1);
  vc.Camera = &cam;
  EXPECT_FALSE(vc.OpenCamera());
  EXPECT_FALSE(vc.CameraOpen.load());
  EXPECT_TRUE(vc.Shutdown());
  EXPECT_FALSE(vc.Start());  // after shutdown the loop cannot be started
  EXPECT_EQ(cam.CountOf("Expose"), 0u);
}

}  // namespace
}  // namespace telvane
