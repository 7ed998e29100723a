#include "telvane/video_capture.h"

#include <pthread.h>

#include <algorithm>
#include <new>
#include <string>

#include "telvane/fits.h"

namespace telvane {
namespace {

using std::chrono::milliseconds;

constexpr milliseconds kIdleSleep{100};
constexpr milliseconds kPauseSleep{500};
constexpr milliseconds kCancelRetry{100};
constexpr int32_t kStarBoxBorder = 30;
// A wrapped count (owner reset it to 0 while the loop counted down) is above this.
constexpr uint32_t kCaptureCountWrap = 9'999'999;
// Buffer modes of ReadBuffer.
constexpr int32_t kBufferNative = 0;
constexpr int32_t kBufferGrey24 = 2;
constexpr int32_t kBufferColour24 = 4;
constexpr int32_t kBufferFits = 5;

}  // namespace

uint32_t TickCount() {
  const auto ms = std::chrono::duration_cast<milliseconds>(
      std::chrono::steady_clock::now().time_since_epoch());
  return static_cast<uint32_t>(ms.count());
}

TVideoCapture::TVideoCapture(MessageSink& messages, DisplayHost& display, MessageBoxHost& boxes,
                             ImageProcessing& images)
    : messages_(messages),
      display_(display),
      boxes_(boxes),
      images_(images),
      pixels_(static_cast<uint16_t*>(std::calloc(kMaxFramePixels, sizeof(uint16_t)))),
      previewRGB_(static_cast<uint8_t*>(std::calloc(kMaxFramePixels, 3))) {
  if (!pixels_ || !previewRGB_) throw std::bad_alloc();
  thread_ = std::thread([this] { Execute(); });
}

TVideoCapture::~TVideoCapture() {
  Shutdown();
  if (thread_.joinable()) thread_.join();
}

bool TVideoCapture::Start() {
  if (Camera.load() == nullptr) return false;
  {
    std::lock_guard lock(wakeMu_);
    if (started_ || quit_) return started_;
  }
  AutoLevels = false;
  AspectCorrection = false;
  PauseRequest = false;
  Idle = false;
  LastBlack = 0;
  LastWhite = 100;
  LastZoom = 100;
  LastAutoLevels = false;
  LastStretch = false;
  CaptureCount = 0;
  RequestMode(1);
  BlackLevel = 0;
  WhiteLevel = 100;
  Running = true;
  {
    // The Last* values above are published to the loop by this lock.
    std::lock_guard lock(wakeMu_);
    started_ = true;
  }
  wakeCv_.notify_all();
  return true;
}

bool TVideoCapture::Shutdown(milliseconds maxWait) {
  Running = false;
  PauseRequest = false;
  {
    std::lock_guard lock(wakeMu_);
    quit_ = true;
  }
  wakeCv_.notify_all();
  if (!thread_.joinable()) {
    std::lock_guard lock(wakeMu_);
    return finished_;
  }

  const auto deadline = std::chrono::steady_clock::now() + maxWait;
  std::unique_lock lock(wakeMu_);
  while (!finished_) {
    if (ExposureEndTick.load() != kNoExposureTick) {
      // Retried: a cancel that lands just before Expose starts is lost by the driver.
      lock.unlock();
      if (TCamera* cam = Camera.load()) cam->CancelExposure();
      lock.lock();
    }
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline || finished_) break;
    wakeCv_.wait_for(lock, std::min<std::chrono::steady_clock::duration>(kCancelRetry, deadline - now),
                     [&] { return finished_; });
  }
  if (finished_) {
    lock.unlock();
    thread_.join();
    return true;
  }
  if (auto self = weak_from_this().lock()) {
    // The camera is stuck in Expose: let the thread keep this object alive and go.
    keepAlive_ = std::move(self);
    lock.unlock();
    thread_.detach();
    return false;
  }
  lock.unlock();
  thread_.join();
  return true;
}

template <typename Stop>
void TVideoCapture::Sleep(milliseconds ms, Stop stop) {
  std::unique_lock lock(wakeMu_);
  wakeCv_.wait_for(lock, ms, [&] { return wakePending_ || quit_ || stop(); });
  wakePending_ = false;
}

void TVideoCapture::Wake() {
  {
    std::lock_guard lock(wakeMu_);
    wakePending_ = true;
  }
  wakeCv_.notify_all();
}

void TVideoCapture::Execute() {
  pthread_setname_np(pthread_self(), "VideoCapture");
  {
    std::unique_lock lock(wakeMu_);
    wakeCv_.wait(lock, [&] { return started_ || quit_; });
  }
  while (Running.load()) {
    TCamera* cam = Camera.load();
    if (cam == nullptr) break;
    Pass(*cam);
  }
  ExposureEndTick = kNoExposureTick;
  std::shared_ptr<TVideoCapture> keep;  // released last: may destroy this object
  {
    std::lock_guard lock(wakeMu_);
    finished_ = true;
    keep = std::move(keepAlive_);
    wakeCv_.notify_all();
  }
}

void TVideoCapture::Pass(TCamera& cam) {
  // 1. Pause: park until released, then re-apply mode, gain and offset, whatever the pause's
  // owner did to the camera meanwhile.
  if (PauseRequest.load()) {
    const int32_t pending = PendingMode.exchange(-1);
    if (pending != -1) CurrentMode = pending;
    while (PauseRequest.load() && Running.load()) {
      {
        std::lock_guard lock(wakeMu_);
        Paused = true;
      }
      wakeCv_.notify_all();
      Sleep(kPauseSleep, [&] { return !PauseRequest.load(); });
    }
    Paused = false;
    if (!Running.load()) return;
    // A mode chosen while parked wins over the one from before the pause.
    int32_t expected = -1;
    PendingMode.compare_exchange_strong(expected, CurrentMode.load());
    ApplyPendingMode();
    ApplyGainOffset();
  }

  // 2.
  cam.Poll();

  // 3. Capture or preview.
  int32_t option = 0;
  if (CaptureCount.load() > 0) {
    CurrentExposure = CaptureExposure.load();
    IsCapture = true;
  } else {
    CurrentExposure = PreviewExposure.load();
    IsCapture = false;
    option = HighSpeed.load();
  }

  // 4. Expose, unless the preview is stopped.
  if (Idle.load() && CaptureCount.load() == 0) {
    Sleep(kIdleSleep, [&] { return PauseRequest.load(); });
    NewFrame = false;
  } else {
    const int32_t exposure = CurrentExposure.load();
    const uint32_t tick = TickCount();
    ExposureStartTick = tick;
    ExposureEndTick = tick + static_cast<uint32_t>(exposure);
    ExposureDuration = exposure;
    ApplyPendingMode();
    if (!modeUsable_) {
      // No mode whose frame fits the buffers: nothing can be exposed.
      ExposureEndTick = kNoExposureTick;
      NewFrame = false;
      Sleep(kIdleSleep, [&] { return PauseRequest.load(); });
      return;
    }
    NewFrame = true;
    ExposureStartTime = std::chrono::system_clock::now();
    if (!Running.load()) {
      ExposureEndTick = kNoExposureTick;
      return;
    }
    cam.Expose(exposure, cam.XOffset.load(), cam.YOffset.load(), Width.load(), Height.load(),
               Binning.load(), option);
    ExposureEndTick = kNoExposureTick;
    FoundStarX = 0.0f;
    FoundStarY = 0.0f;
    // Shutting down: the owner may be waiting for us, so no readout, save or display call.
    if (!Running.load()) return;
    if (HotColdRemoval.load() && ColourFrame.load()) {
      if (uint16_t* buf = cam.BufferPointer()) images_.denoise(buf, Width, Height);
    }
  }

  const int32_t w = Width.load(), h = Height.load();
  const int32_t pixelCount = w * h;  // bounded by kMaxFramePixels

  // 5. Save a capture.
  if (IsCapture.load() && NewFrame.load()) {
    cam.SetBufferMode(kBufferFits);
    cam.ReadBuffer(pixels_.get(), pixelCount);
    uint32_t left = CaptureCount.fetch_sub(1) - 1;
    if (left > kCaptureCountWrap) {
      // Reset to 0 by an abort while the capture ran; keep a fresh count set since then.
      CaptureCount.compare_exchange_strong(left, 0);
    }
    if (CaptureCount.load() > 0)
      Idle = false;
    else
      Idle = !AutoResume.load();
    SaveFits(cam);
    messages_.post(MSG_CAPTURE_SAVED);
  }

  // 6. Frame readout and star search.
  if (NewFrame.load()) {
    cam.SetBufferMode(kBufferNative);
    cam.ReadBuffer(pixels_.get(), pixelCount);
    frameReady_ = true;
    if (FocusMode.load()) {
      const StarBoxRect box = GetStarBox();
      if (images_.FindStar(pixels_.get(), w, h, box.X1, box.Y1, box.X2, box.Y2) == 1) {
        float x = images_.GetStarX(), y = images_.GetStarY();
        if (x == 0.0f && y == 0.0f) {
          x = static_cast<float>(w / 2);
          y = static_cast<float>(h / 2);
        }
        FoundStarX = x;
        FoundStarY = y;
      }
    }
  }

  Render(cam);
}

void TVideoCapture::Render(TCamera& cam) {
  const bool newFrame = NewFrame.load();
  const int32_t black = BlackLevel.load(), white = WhiteLevel.load(), zoom = Zoom.load();
  const bool autoLevels = AutoLevels.load(), stretch = StretchHistogram.load();
  // 7. Only a new frame or a change of levels, zoom, auto levels or stretch needs a render;
  // flips, invert and aspect wait for the next frame.
  if (!newFrame && black == LastBlack && white == LastWhite && stretch == LastStretch &&
      autoLevels == LastAutoLevels && zoom == LastZoom)
    return;
  // Nothing to re-render before the first frame of the current mode.
  if (!frameReady_) return;
  uint16_t* buf = cam.BufferPointer();
  if (buf == nullptr) return;
  const int32_t w = Width.load(), h = Height.load();

  // 8.1 A re-render works on a fresh copy of the last frame.
  if (!newFrame) images_.bufferCopy(pixels_.get(), buf, w * h * 2);
  // 8.2
  LastBlack = black;
  LastWhite = white;
  LastZoom = zoom;
  LastAutoLevels = autoLevels;
  LastStretch = stretch;

  // 8.3 Levels.
  if (autoLevels) {
    int32_t low = 0, high = 100;
    images_.AutoHistogram(buf, w, h, &low, &high);
    if (low == 100) low = 99;
    images_.HistogramPreview(buf, w, h, low, high);
  } else if (!(black == 0 && white == 100)) {
    int32_t b = black, wl = white;
    if (b == wl) wl = b + 1;
    if (wl == 101) {
      b = 99;
      wl = 100;
    }
    if (b != black || wl != white) {
      BlackLevel = b;
      WhiteLevel = wl;
    }
    images_.HistogramPreview(buf, w, h, b, wl);
  }
  // 8.4
  if (stretch) images_.HistogramStretch(buf, w, h);
  // 8.5 24-bit preview.
  cam.SetBufferMode(ColourFrame.load() ? kBufferColour24 : kBufferGrey24);
  cam.ReadBuffer(previewRGB_.get(), w * h);
  // 8.6
  if (FlipHorizontal.load()) images_.HFLIP(previewRGB_.get(), w, h);
  if (InvertImage.load()) images_.INVERT(previewRGB_.get(), w, h);
  // 8.7
  if (FoundStarX.load() == 0.0f && FoundStarY.load() == 0.0f) {
    FoundStarX = static_cast<float>(w / 2);
    FoundStarY = static_cast<float>(h / 2);
  }
  // 8.8
  PublishFrameInfo(w, h, images_.GetXdia(), FoundStarX.load(), FoundStarY.load(),
                   images_.GetYdia(), images_.GetBright());
  // 8.9
  if (Running.load()) CallDisplay(cam);
}

void TVideoCapture::PublishFrameInfo(int32_t width, int32_t height, int32_t xDia, float x,
                                     float y, int32_t yDia, int32_t bright) {
  std::lock_guard lock(dataMu_);
  frameInfo_.FrameWidth = width;
  frameInfo_.FrameHeight = height;
  frameInfo_.StarX = x;
  frameInfo_.StarY = static_cast<float>(height) - y;  // rows counted from the bottom
  frameInfo_.StarXDiameter = xDia;
  frameInfo_.StarYDiameter = yDia;
  frameInfo_.StarBrightness = bright;
}

void TVideoCapture::CallDisplay(TCamera& cam) {
  DisplayInputs in;
  in.Pixels = pixels_.get();
  in.PreviewRGB = previewRGB_.get();
  in.Width = Width;
  in.Height = Height;
  in.Zoom = Zoom;
  in.AspectCorrection = AspectCorrection;
  in.NewFrame = NewFrame;
  in.FocusMode = FocusMode;
  in.ShowStatistics = ShowStatistics;
  in.AbsoluteZ = AbsoluteZ;
  in.ColourFrame = ColourFrame;
  in.StarBox = GetStarBox();
  in.PixelWidth = cam.PixelWidth;
  in.PixelHeight = cam.PixelHeight;
  in.Info = GetFrameInfo();

  ComputeDisplay(in, frame_);
  display_.UpdateDisplay(in, frame_);

  if (frame_.FocusUpdated) FocusPeak = frame_.FocusPeak;
  if (frame_.RecentreStar) SetStarBox(frame_.RecentreX, frame_.RecentreY);
  if (frame_.DisplayWidth != lastDisplayWidth_ || frame_.DisplayHeight != lastDisplayHeight_) {
    lastDisplayWidth_ = frame_.DisplayWidth;
    lastDisplayHeight_ = frame_.DisplayHeight;
    messages_.post(MSG_PREVIEW_RESIZED);
  }
}

void TVideoCapture::ApplyPendingMode() {
  const int32_t mode = PendingMode.load();
  if (mode == -1) return;
  TCamera* cam = Camera.load();
  if (cam == nullptr) return;
  std::string name;
  int32_t w = Width, h = Height, binning = Binning;
  bool colour = ColourFrame;
  cam->SelectMode(mode, name, w, h, binning, colour);
  cam->SetExposureMode(mode);
  const int64_t pixels = int64_t{w} * int64_t{h};
  if (w <= 0 || h <= 0 || pixels > kMaxFramePixels) {
    boxes_.showMessage("Mode " + std::to_string(mode) + " delivers " + std::to_string(w) + " x " +
                       std::to_string(h) + " pixels; at most " + std::to_string(kMaxFramePixels) +
                       " pixels per frame are supported, so this mode cannot be used.");
    int32_t expected = mode;
    PendingMode.compare_exchange_strong(expected, -1);
    frameReady_ = false;
    const int32_t previous = CurrentMode.load();
    if (modeUsable_ && previous != -1 && previous != mode) {
      // Put the camera back into the last mode that fits; the thread keeps its geometry.
      w = Width;
      h = Height;
      binning = Binning;
      colour = ColourFrame;
      cam->SelectMode(previous, name, w, h, binning, colour);
      cam->SetExposureMode(previous);
    } else {
      modeUsable_ = false;
    }
    return;
  }
  Width = w;
  Height = h;
  Binning = binning;
  ColourFrame = colour;
  modeUsable_ = true;
  frameReady_ = false;
  {
    std::lock_guard lock(dataMu_);
    starBox_ = {kStarBoxBorder, kStarBoxBorder, w - kStarBoxBorder, h - kStarBoxBorder};
  }
  FoundStarX = 0.0f;
  FoundStarY = 0.0f;
  CurrentMode = mode;
  // A mode requested while SelectMode ran stays pending for the next exposure.
  int32_t expected = mode;
  PendingMode.compare_exchange_strong(expected, -1);
}

void TVideoCapture::SaveFits(TCamera& cam) {
  FitsCapture c;
  c.FileName = GetFileName();
  c.Width = Width;
  c.Height = Height;
  c.Data = pixels_.get();
  c.CameraName = cam.CameraName();
  // The exposure actually taken; CaptureExposure may already hold the next one.
  c.CaptureExposure = CurrentExposure;
  c.CaptureAborted = CaptureAborted;
  c.Gain = Gain;
  c.Offset = Offset;
  c.ExposureStartTime = ExposureStartTime;
  c.PixelWidth = cam.PixelWidth;
  c.PixelHeight = cam.PixelHeight;
  c.TemperatureText = cam.TemperatureText();
  const FitsSaveResult r = telvane::SaveFits(c);
  {
    std::lock_guard lock(dataMu_);
    lastSaved_ = r.Saved ? r.Name : std::string();
  }
  if (!r.Saved) boxes_.showMessage(r.Message);
}

bool TVideoCapture::OpenCamera() {
  TCamera* cam = Camera.load();
  const bool open = cam != nullptr && cam->Open(DeviceIndex) == 0;
  CameraOpen = open;
  return open;
}

void TVideoCapture::RequestMode(int32_t Mode) { PendingMode = Mode; }

void TVideoCapture::SetGain(int32_t Value) {
  Gain = Value;
  if (TCamera* cam = Camera.load()) cam->SetGain(Value);
}

void TVideoCapture::SetOffset(int32_t Value) {
  Offset = Value;
  if (TCamera* cam = Camera.load()) cam->SetOffset(Value);
}

void TVideoCapture::ApplyGainOffset() {
  TCamera* cam = Camera.load();
  if (cam == nullptr) return;
  cam->SetGain(Gain);
  cam->SetOffset(Offset);
}

void TVideoCapture::SetStarBox(int32_t X, int32_t Y) {
  constexpr int32_t kHalfWidth = 10, kEdge = 40, kBoxWidth = 20;
  int32_t zoom = Zoom.load();
  if (zoom <= 0) zoom = 100;  // a zero zoom would divide by zero
  const int32_t w = Width.load(), h = Height.load();
  const auto x = static_cast<int32_t>(int64_t{X} * 100 / zoom);
  const auto y = static_cast<int32_t>(int64_t{Y} * 100 / zoom);
  int32_t a = std::max(x - kHalfWidth, kEdge);
  if (a + kEdge > w) a = w - kEdge;
  int32_t b = std::max(y - kHalfWidth, kEdge);
  if (b + kEdge > h) b = h - kEdge;
  // 20 columns by 40 rows; rows from the bottom because the preview shows row 0 at the bottom.
  std::lock_guard lock(dataMu_);
  starBox_ = {a, h - (b + kBoxWidth), a + kBoxWidth, h - b + kBoxWidth};
}

StarBoxRect TVideoCapture::GetStarBox() const {
  std::lock_guard lock(dataMu_);
  return starBox_;
}

void TVideoCapture::SetFileName(const std::string& name) {
  std::lock_guard lock(dataMu_);
  fileName_ = name;
}

std::string TVideoCapture::GetFileName() const {
  std::lock_guard lock(dataMu_);
  return fileName_;
}

FrameInfo TVideoCapture::GetFrameInfo() const {
  std::lock_guard lock(dataMu_);
  return frameInfo_;
}

std::string TVideoCapture::LastSavedFile() const {
  std::lock_guard lock(dataMu_);
  return lastSaved_;
}

void TVideoCapture::StartCapture(const std::string& fileName, int32_t exposureMs, uint32_t count) {
  SetFileName(fileName);
  CaptureExposure = exposureMs;
  CaptureAborted = false;
  CaptureCount = count;
  Wake();
}

void TVideoCapture::AbortCapture() {
  CaptureAborted = true;
  CaptureCount = 0;
  if (TCamera* cam = Camera.load()) cam->CancelExposure();
}

bool TVideoCapture::RequestPause() {
  if (CaptureCount.load() > 0) return false;
  Paused = false;
  PauseRequest = true;
  Wake();
  if (TCamera* cam = Camera.load()) cam->CancelExposure();
  return true;
}

bool TVideoCapture::Pause(milliseconds timeout) {
  return RequestPause() && WaitPaused(timeout);
}

bool TVideoCapture::WaitPaused(milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::unique_lock lock(wakeMu_);
  while (!Paused.load() && !finished_) {
    if (ExposureEndTick.load() != kNoExposureTick) {
      lock.unlock();
      if (TCamera* cam = Camera.load()) cam->CancelExposure();
      lock.lock();
    }
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) break;
    wakeCv_.wait_for(lock, std::min<std::chrono::steady_clock::duration>(kCancelRetry, deadline - now),
                     [&] { return Paused.load() || finished_; });
  }
  return Paused.load();
}

void TVideoCapture::ReleasePause() {
  PauseRequest = false;
  Wake();
}

}  // namespace telvane
