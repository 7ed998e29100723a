// TestCamera: an in-memory TCamera for tests of anything that drives a camera.
//
// It renders each frame from a pixel function (default: a gradient that changes per frame),
// delivers buffer modes 0, 2, 4 and 5, takes the exposure time on an interruptible wait that
// CancelExposure ends early, and records every operation it receives.
//
// Threading: every operation may be called from any thread (the capture thread exposes while
// the test thread cancels or inspects); internal state is guarded by one mutex. Wait* helpers
// use bounded waits on a condition variable.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "telvane/camera.h"

namespace telvane::testing {

struct TestMode {
  std::string Name;
  int32_t Width = 0, Height = 0;
  int32_t Binning = 1;
  bool Colour = false;
  double PixelWidth = 7.4, PixelHeight = 7.4;
  int32_t XOffset = 0, YOffset = 0;
};

// Two modes: "1x1" 200 x 100 and "2x2" 100 x 50 (binning 2, doubled pixel size).
std::vector<TestMode> DefaultTestModes();

// Value of pixel (x, y) of the frame-th exposure (frame counts from 1).
using PixelFunction = std::function<uint16_t(int32_t x, int32_t y, int32_t frame)>;

// A flat sky of Background with one Gaussian star of the given peak above it at (cx, cy).
PixelFunction StarField(double cx, double cy, double peak = 20000.0, double sigma = 1.5,
                        uint16_t background = 1000);

struct CameraCall {
  std::string Op;
  std::vector<int32_t> Args;
  uint64_t Sequence = 0;
};

class TestCamera : public TCamera {
 public:
  explicit TestCamera(std::vector<TestMode> modes = DefaultTestModes(),
                      std::string name = "Test Camera");

  // Configuration (any time).
  void SetPixelFunction(PixelFunction f);
  // Expose waits until CancelExposure instead of the exposure time.
  void SetBlockInExpose(bool block);
  // CancelExposure no longer ends Expose; ReleaseExpose() does (a camera that hangs).
  void SetIgnoreCancel(bool ignore);
  void ReleaseExpose();
  // Overrides what Open returns (0 = success).
  void SetOpenResult(int32_t result);

  // Inspection.
  std::vector<CameraCall> Calls() const;
  std::vector<CameraCall> CallsNamed(const std::string& op) const;
  size_t CountOf(const std::string& op) const;
  void ClearCalls();
  uint64_t LastSequence() const;
  bool InExpose() const;
  int32_t FramesTaken() const;
  // Bounded waits; true when the condition was reached.
  bool WaitInExpose(std::chrono::milliseconds timeout);
  bool WaitCount(const std::string& op, size_t count, std::chrono::milliseconds timeout);
  bool WaitExposeReturned(std::chrono::milliseconds timeout);
  // Until some recorded call satisfies pred.
  bool WaitCall(const std::function<bool(const CameraCall&)>& pred,
                std::chrono::milliseconds timeout);

  // TCamera.
  std::string CameraName() override;
  int32_t ModeCount() override;
  void SelectMode(int32_t Mode, std::string& ModeName, int32_t& FrameWidth, int32_t& FrameHeight,
                  int32_t& Binning, bool& ColourFrame) override;
  void Poll() override;
  int32_t Open(int32_t DeviceIndex) override;
  int32_t IsExposing() override;
  void SetBufferMode(int32_t Mode) override;
  int32_t ReadBuffer(void* Dest, int32_t PixelCount) override;
  int32_t StartExposure(int32_t Milliseconds, int32_t XOffset, int32_t YOffset, int32_t Width,
                        int32_t Height, int32_t Binning, int32_t Option) override;
  int32_t Expose(int32_t Milliseconds, int32_t XOffset, int32_t YOffset, int32_t Width,
                 int32_t Height, int32_t Binning, int32_t Option) override;
  void SetGain(int32_t Value) override;
  void SetOffset(int32_t Value) override;
  void SetExposureMode(int32_t Mode) override;
  uint16_t* BufferPointer() override;
  void CancelExposure() override;
  int32_t DeviceAvailable(int32_t Index) override;
  void Create() override;

 private:
  void Record(std::string op, std::vector<int32_t> args);  // caller holds mu_
  void Render(int32_t width, int32_t height);             // caller holds mu_

  mutable std::mutex mu_;
  std::condition_variable cv_;
  std::vector<TestMode> modes_;
  std::string name_;
  PixelFunction pixels_;
  std::vector<CameraCall> calls_;
  uint64_t sequence_ = 0;
  std::vector<uint16_t> buffer_;
  int32_t frameWidth_ = 0, frameHeight_ = 0;
  int32_t bufferMode_ = 0;
  int32_t frames_ = 0;
  int32_t openResult_ = 0;
  bool blockInExpose_ = false;
  bool ignoreCancel_ = false;
  bool inExpose_ = false;
  bool cancelled_ = false;
  bool released_ = false;
  uint64_t exposeReturns_ = 0;
};

}  // namespace telvane::testing
