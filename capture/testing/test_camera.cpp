#include "test_camera.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace telvane::testing {

std::vector<TestMode> DefaultTestModes() {
  return {
      {"1x1", 200, 100, 1, false, 7.4, 7.4, 0, 0},
      {"2x2", 100, 50, 2, false, 14.8, 14.8, 0, 0},
  };
}

PixelFunction StarField(double cx, double cy, double peak, double sigma, uint16_t background) {
  return [=](int32_t x, int32_t y, int32_t) {
    const double dx = x - cx, dy = y - cy;
    const double v = background + peak * std::exp(-(dx * dx + dy * dy) / (2 * sigma * sigma));
    return static_cast<uint16_t>(std::min(v, 65535.0));
  };
}

TestCamera::TestCamera(std::vector<TestMode> modes, std::string name)
    : modes_(std::move(modes)), name_(std::move(name)) {
  pixels_ = [](int32_t x, int32_t y, int32_t frame) {
    return static_cast<uint16_t>((x * 256 + y * 16 + frame) & 0xFFFF);
  };
  if (!modes_.empty()) {
    Width = modes_[0].Width;
    Height = modes_[0].Height;
  }
}

void TestCamera::Record(std::string op, std::vector<int32_t> args) {
  calls_.push_back({std::move(op), std::move(args), ++sequence_});
  cv_.notify_all();
}

void TestCamera::SetPixelFunction(PixelFunction f) {
  std::lock_guard lock(mu_);
  pixels_ = std::move(f);
}

void TestCamera::SetBlockInExpose(bool block) {
  std::lock_guard lock(mu_);
  blockInExpose_ = block;
}

void TestCamera::SetIgnoreCancel(bool ignore) {
  std::lock_guard lock(mu_);
  ignoreCancel_ = ignore;
}

void TestCamera::ReleaseExpose() {
  std::lock_guard lock(mu_);
  released_ = true;
  cv_.notify_all();
}

void TestCamera::SetOpenResult(int32_t result) {
  std::lock_guard lock(mu_);
  openResult_ = result;
}

std::vector<CameraCall> TestCamera::Calls() const {
  std::lock_guard lock(mu_);
  return calls_;
}

std::vector<CameraCall> TestCamera::CallsNamed(const std::string& op) const {
  std::lock_guard lock(mu_);
  std::vector<CameraCall> out;
  for (const auto& c : calls_)
    if (c.Op == op) out.push_back(c);
  return out;
}

size_t TestCamera::CountOf(const std::string& op) const {
  std::lock_guard lock(mu_);
  return static_cast<size_t>(
      std::count_if(calls_.begin(), calls_.end(), [&](const CameraCall& c) { return c.Op == op; }));
}

void TestCamera::ClearCalls() {
  std::lock_guard lock(mu_);
  calls_.clear();
}

uint64_t TestCamera::LastSequence() const {
  std::lock_guard lock(mu_);
  return sequence_;
}

bool TestCamera::InExpose() const {
  std::lock_guard lock(mu_);
  return inExpose_;
}

int32_t TestCamera::FramesTaken() const {
  std::lock_guard lock(mu_);
  return frames_;
}

bool TestCamera::WaitInExpose(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mu_);
  return cv_.wait_for(lock, timeout, [&] { return inExpose_; });
}

bool TestCamera::WaitCount(const std::string& op, size_t count, std::chrono::milliseconds timeout) {
  std::unique_lock lock(mu_);
  return cv_.wait_for(lock, timeout, [&] {
    return static_cast<size_t>(std::count_if(calls_.begin(), calls_.end(),
                                             [&](const CameraCall& c) { return c.Op == op; })) >=
           count;
  });
}

bool TestCamera::WaitExposeReturned(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mu_);
  const uint64_t before = exposeReturns_;
  return cv_.wait_for(lock, timeout, [&] { return !inExpose_ || exposeReturns_ > before; });
}

bool TestCamera::WaitCall(const std::function<bool(const CameraCall&)>& pred,
                          std::chrono::milliseconds timeout) {
  std::unique_lock lock(mu_);
  return cv_.wait_for(lock, timeout,
                      [&] { return std::any_of(calls_.begin(), calls_.end(), pred); });
}

std::string TestCamera::CameraName() {
  std::lock_guard lock(mu_);
  return name_;
}

int32_t TestCamera::ModeCount() {
  std::lock_guard lock(mu_);
  return static_cast<int32_t>(modes_.size());
}

void TestCamera::SelectMode(int32_t Mode, std::string& ModeName, int32_t& FrameWidth,
                            int32_t& FrameHeight, int32_t& Binning, bool& ColourFrame) {
  std::lock_guard lock(mu_);
  Record("SelectMode", {Mode});
  // Like the driver-library bindings: an unknown mode reports nothing.
  if (Mode < 1 || Mode > static_cast<int32_t>(modes_.size())) return;
  const TestMode& m = modes_[static_cast<size_t>(Mode - 1)];
  ModeName = m.Name;
  FrameWidth = m.Width;
  FrameHeight = m.Height;
  Binning = m.Binning;
  ColourFrame = m.Colour;
  PixelWidth = m.PixelWidth;
  PixelHeight = m.PixelHeight;
  XOffset = m.XOffset;
  YOffset = m.YOffset;
}

void TestCamera::Poll() {
  std::lock_guard lock(mu_);
  Record("Poll", {});
}

int32_t TestCamera::Open(int32_t DeviceIndex) {
  std::lock_guard lock(mu_);
  Record("Open", {DeviceIndex});
  return openResult_;
}

int32_t TestCamera::IsExposing() {
  std::lock_guard lock(mu_);
  return inExpose_ ? 1 : 0;
}

void TestCamera::SetBufferMode(int32_t Mode) {
  std::lock_guard lock(mu_);
  Record("SetBufferMode", {Mode});
  bufferMode_ = Mode;
}

int32_t TestCamera::ReadBuffer(void* Dest, int32_t PixelCount) {
  std::lock_guard lock(mu_);
  Record("ReadBuffer", {PixelCount, bufferMode_});
  if (PixelCount <= 0 || Dest == nullptr) return 0;
  const size_t n = static_cast<size_t>(PixelCount);
  const size_t have = std::min(n, buffer_.size());
  auto* out = static_cast<uint8_t*>(Dest);
  switch (bufferMode_) {
    case 0:
      std::memcpy(out, buffer_.data(), have * 2);
      std::memset(out + have * 2, 0, (n - have) * 2);
      break;
    case 5:  // FITS form: pixel - 32768 as big-endian signed 16-bit
      for (size_t i = 0; i < n; ++i) {
        const uint16_t v = static_cast<uint16_t>((i < have ? buffer_[i] : 0) ^ 0x8000u);
        out[2 * i] = static_cast<uint8_t>(v >> 8);
        out[2 * i + 1] = static_cast<uint8_t>(v & 0xFF);
      }
      break;
    case 2:  // grey 24-bit from the high byte
    case 4:  // "colour": grey in red and green, its complement in blue
      for (size_t i = 0; i < n; ++i) {
        const uint8_t hi = static_cast<uint8_t>((i < have ? buffer_[i] : 0) >> 8);
        out[3 * i] = hi;
        out[3 * i + 1] = hi;
        out[3 * i + 2] = bufferMode_ == 2 ? hi : static_cast<uint8_t>(255 - hi);
      }
      break;
    default:
      return 0;
  }
  return PixelCount;
}

int32_t TestCamera::StartExposure(int32_t Milliseconds, int32_t XOffset_, int32_t YOffset_,
                                  int32_t Width_, int32_t Height_, int32_t Binning,
                                  int32_t Option) {
  std::lock_guard lock(mu_);
  Record("StartExposure", {Milliseconds, XOffset_, YOffset_, Width_, Height_, Binning, Option});
  Render(Width_, Height_);
  return 1;
}

void TestCamera::Render(int32_t width, int32_t height) {
  ++frames_;
  frameWidth_ = std::max(width, 0);
  frameHeight_ = std::max(height, 0);
  buffer_.resize(static_cast<size_t>(frameWidth_) * static_cast<size_t>(frameHeight_));
  for (int32_t y = 0; y < frameHeight_; ++y)
    for (int32_t x = 0; x < frameWidth_; ++x)
      buffer_[static_cast<size_t>(y) * static_cast<size_t>(frameWidth_) + static_cast<size_t>(x)] =
          pixels_(x, y, frames_);
}

int32_t TestCamera::Expose(int32_t Milliseconds, int32_t XOffset_, int32_t YOffset_,
                           int32_t Width_, int32_t Height_, int32_t Binning, int32_t Option) {
  std::unique_lock lock(mu_);
  Record("Expose", {Milliseconds, XOffset_, YOffset_, Width_, Height_, Binning, Option});
  inExpose_ = true;
  cancelled_ = false;
  released_ = false;
  cv_.notify_all();
  const auto done = [&] { return (cancelled_ && !ignoreCancel_) || released_; };
  if (blockInExpose_)
    cv_.wait(lock, done);
  else
    cv_.wait_for(lock, std::chrono::milliseconds(std::max(Milliseconds, 0)), done);
  Render(Width_, Height_);
  inExpose_ = false;
  ++exposeReturns_;
  Record("ExposeReturned", {});
  return 1;
}

void TestCamera::SetGain(int32_t Value) {
  std::lock_guard lock(mu_);
  Record("SetGain", {Value});
}

void TestCamera::SetOffset(int32_t Value) {
  std::lock_guard lock(mu_);
  Record("SetOffset", {Value});
}

void TestCamera::SetExposureMode(int32_t Mode) {
  std::lock_guard lock(mu_);
  Record("SetExposureMode", {Mode});
}

uint16_t* TestCamera::BufferPointer() {
  std::lock_guard lock(mu_);
  return buffer_.data();
}

void TestCamera::CancelExposure() {
  std::lock_guard lock(mu_);
  Record("CancelExposure", {});
  // Only a running exposure can be cancelled; like a real driver, an idle cancel is a no-op.
  if (inExpose_) cancelled_ = true;
  cv_.notify_all();
}

int32_t TestCamera::DeviceAvailable(int32_t Index) { return Index == 0 ? 1 : 0; }

void TestCamera::Create() {}

}  // namespace telvane::testing
