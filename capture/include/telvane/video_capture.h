// TVideoCapture: the capture thread. It takes exposures through the current camera, saves
// captures as FITS files, prepares the preview and hands every rendered frame to the
// DisplayHost. Other threads steer it only through its request fields and methods.
//
// Threading contract
// - One capture thread, created waiting at a start gate by the constructor and released by
//   Start(). All camera exposure/readout calls, the image functions, SaveFits and the
//   DisplayHost call happen on it.
// - Request fields (below) are atomics written by any thread and read by the loop at fixed
//   points: mode at the next exposure, display settings at the next render, gain and offset
//   immediately through SetGain/SetOffset. BlackLevel/WhiteLevel and CaptureCount are also
//   written by the loop (level corrections, count-down).
// - Published fields are atomics written by the loop and read by anyone. FileName, StarBox,
//   the published FrameInfo and the last saved file name are guarded by small mutexes and
//   reached through their accessors.
// - Pixels() and PreviewRGB() belong to the capture thread; other threads may read them only
//   inside DisplayHost::UpdateDisplay, while the capture thread is blocked in that call.
// - Camera must not be changed while the loop runs, except while it is parked (Pause).
// - Methods are safe from any thread unless noted. Shutdown() must not be called from inside
//   UpdateDisplay, and the thread that serves UpdateDisplay must keep serving it (or the host
//   must return) until Shutdown() has returned: the loop may be waiting in that call.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "telvane/camera.h"
#include "telvane/display.h"
#include "telvane/display_frame.h"
#include "telvane/host.h"
#include "telvane/image_processing.h"

namespace telvane {

// The frame and preview buffers hold this many pixels; a mode with a larger frame is refused.
inline constexpr int64_t kMaxFramePixels = 17'500'001;
// ExposureEndTick while no exposure runs.
inline constexpr uint32_t kNoExposureTick = 16777215;

// Millisecond tick count: steady clock truncated to 32 bits (wraps like a system tick).
uint32_t TickCount();

class TVideoCapture : public std::enable_shared_from_this<TVideoCapture> {
 public:
  TVideoCapture(MessageSink& messages, DisplayHost& display, MessageBoxHost& boxes,
                ImageProcessing& images = LibProcessImages());
  TVideoCapture(const TVideoCapture&) = delete;
  TVideoCapture& operator=(const TVideoCapture&) = delete;
  // Shuts down (bounded cancel attempts, then joins).
  ~TVideoCapture();

  // --- Lifecycle -------------------------------------------------------------------------
  // Applies the loop-start settings (AutoLevels, AspectCorrection, PauseRequest, Idle false,
  // CaptureCount 0, mode 1 pending, levels 0/100, Running true) on the calling thread, then
  // releases the loop, so fields written after Start() returns are never reset. False when no
  // Camera is set; a second call does nothing.
  bool Start();
  // Ends the loop: clears Running and PauseRequest, wakes every sleep, and while an exposure
  // runs calls the camera's CancelExposure every 100 ms until the thread ends or maxWait has
  // passed. A loop that comes back from Expose during shutdown stops there (no readout, save or
  // display call). True when the thread has ended. If the camera never returns from Expose
  // and this object is owned by a std::shared_ptr, the thread is detached holding a reference
  // and false is returned: the object (and the camera and hosts it uses) must stay valid until
  // the camera returns. Without shared ownership Shutdown waits for the thread instead.
  // Called by the owner only (one thread); later calls return at once.
  bool Shutdown(std::chrono::milliseconds maxWait = std::chrono::milliseconds(5000));

  // --- Methods -----------------------------------------------------------------------------
  bool OpenCamera();  // Open(DeviceIndex); CameraOpen = (result == 0)
  void RequestMode(int32_t Mode);
  void SetGain(int32_t Value);    // stores and forwards to the camera at once
  void SetOffset(int32_t Value);  // as SetGain
  void ApplyGainOffset();
  // Centres the star box on a preview-control point (origin top left, at Zoom percent).
  void SetStarBox(int32_t X, int32_t Y);
  StarBoxRect GetStarBox() const;
  void SetFileName(const std::string& name);
  std::string GetFileName() const;
  // Capture protocol: FileName, CaptureExposure, CaptureAborted = false, then CaptureCount.
  void StartCapture(const std::string& fileName, int32_t exposureMs, uint32_t count);
  // Abort: CaptureAborted, CaptureCount = 0, CancelExposure. The running capture is still
  // read and saved (EXPOSURE 0.0000).
  void AbortCapture();
  // Pause protocol: refuses (false) while CaptureCount > 0; otherwise clears Paused, sets
  // PauseRequest and cancels the running exposure. Does not wait.
  bool RequestPause();
  // Waits up to timeout for Paused, cancelling a still running exposure every 100 ms. Not
  // from the thread that serves UpdateDisplay: the loop may be waiting there (poll Paused).
  bool WaitPaused(std::chrono::milliseconds timeout);
  bool Pause(std::chrono::milliseconds timeout);  // RequestPause + WaitPaused
  // Clears PauseRequest and wakes the parked loop; it re-applies mode, gain and offset.
  void ReleasePause();
  // Ends the current idle or pause sleep early (e.g. after changing a request field).
  void Wake();

  FrameInfo GetFrameInfo() const;  // last PublishFrameInfo
  std::string LastSavedFile() const;  // name of the last capture saved ("" if it failed)

  // Capture thread only, or inside UpdateDisplay.
  const uint16_t* Pixels() const { return pixels_.get(); }
  const uint8_t* PreviewRGB() const { return previewRGB_.get(); }

  // --- Request fields ----------------------------------------------------------------------
  std::atomic<TCamera*> Camera{nullptr};
  std::atomic<int32_t> DeviceIndex{0};
  std::atomic<bool> Running{false};
  std::atomic<bool> PauseRequest{false};  // prefer Pause()/ReleasePause(): they wake the loop
  std::atomic<int32_t> PendingMode{-1};
  std::atomic<int32_t> Gain{0};
  std::atomic<int32_t> Offset{0};
  std::atomic<int32_t> PreviewExposure{100};  // ms
  std::atomic<int32_t> CaptureExposure{0};    // ms
  std::atomic<uint32_t> CaptureCount{0};
  std::atomic<int32_t> HighSpeed{1};
  std::atomic<bool> Idle{false};
  std::atomic<bool> AutoResume{false};
  std::atomic<bool> FocusMode{false};
  std::atomic<bool> HotColdRemoval{false};
  std::atomic<bool> StretchHistogram{false};
  std::atomic<bool> AutoLevels{false};
  std::atomic<int32_t> BlackLevel{0};   // percent
  std::atomic<int32_t> WhiteLevel{100};  // percent
  std::atomic<int32_t> Zoom{100};        // percent
  std::atomic<bool> AspectCorrection{false};
  std::atomic<bool> FlipHorizontal{false};
  std::atomic<bool> InvertImage{false};
  std::atomic<bool> ShowStatistics{false};
  std::atomic<bool> AbsoluteZ{false};
  // Set by the owner's abort, cleared by StartCapture; makes the saved EXPOSURE 0.
  std::atomic<bool> CaptureAborted{false};

  // --- Published fields --------------------------------------------------------------------
  std::atomic<int32_t> Width{0};
  std::atomic<int32_t> Height{0};
  std::atomic<int32_t> Binning{0};
  std::atomic<bool> ColourFrame{false};
  std::atomic<int32_t> CurrentMode{-1};
  std::atomic<bool> CameraOpen{false};
  std::atomic<bool> Paused{false};
  std::atomic<bool> IsCapture{false};
  std::atomic<bool> NewFrame{false};
  std::atomic<int32_t> CurrentExposure{0};   // ms
  std::atomic<int32_t> ExposureDuration{0};  // ms
  std::atomic<uint32_t> ExposureStartTick{0};
  std::atomic<uint32_t> ExposureEndTick{kNoExposureTick};
  std::atomic<int32_t> FocusPeak{0};
  std::atomic<std::chrono::system_clock::time_point> ExposureStartTime{};
  // Star found in the current frame, buffer coordinates (0, 0 = none yet).
  std::atomic<float> FoundStarX{0.0f};
  std::atomic<float> FoundStarY{0.0f};

 private:
  struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
  };

  void Execute();
  void Pass(TCamera& cam);
  void ApplyPendingMode();
  void SaveFits(TCamera& cam);
  void Render(TCamera& cam);
  void PublishFrameInfo(int32_t width, int32_t height, int32_t xDia, float x, float y,
                        int32_t yDia, int32_t bright);
  void CallDisplay(TCamera& cam);
  // Sleeps up to ms; returns early on Wake(), shutdown or when stop() becomes true.
  template <typename Stop>
  void Sleep(std::chrono::milliseconds ms, Stop stop);

  MessageSink& messages_;
  DisplayHost& display_;
  MessageBoxHost& boxes_;
  ImageProcessing& images_;

  // Allocated once (calloc: zero pages cost nothing until touched).
  std::unique_ptr<uint16_t[], FreeDeleter> pixels_;
  std::unique_ptr<uint8_t[], FreeDeleter> previewRGB_;

  // Capture thread only.
  int32_t LastBlack = 0, LastWhite = 100, LastZoom = 100;
  bool LastAutoLevels = false, LastStretch = false;
  bool frameReady_ = false;  // Pixels holds a frame of the current Width x Height
  bool modeUsable_ = true;   // the applied mode's frame fits the buffers
  int32_t lastDisplayWidth_ = 0, lastDisplayHeight_ = 0;
  DisplayFrame frame_;

  mutable std::mutex dataMu_;  // FileName, StarBox, frame info, last saved name
  std::string fileName_;
  StarBoxRect starBox_;
  FrameInfo frameInfo_;
  std::string lastSaved_;

  std::mutex wakeMu_;  // sleeps, start gate, Paused and thread-end notification
  std::condition_variable wakeCv_;
  bool wakePending_ = false;
  bool started_ = false;
  bool quit_ = false;
  bool finished_ = false;
  std::shared_ptr<TVideoCapture> keepAlive_;  // set when Shutdown detaches a stuck thread

  std::thread thread_;
};

}  // namespace telvane
