// The VER2 driver: the flat exports of camdrv2.h over the EZ-USB protocol.
//
// Threading: the exports run on the host's threads; a ThreadExposure readout runs on a worker
// thread owned here. The exposing flag hands the image buffer over: while it is 1 only the
// readout writes the buffers. Settings the host may change during a readout are atomics and
// are captured when an exposure starts. The device handle is a shared_ptr under a mutex, so a
// readout keeps its handle alive even if the host re-opens the camera.
#include "camdrv2.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "camdrv2_internal.h"
#include "telvane/drivers/buffer_modes.h"
#include "telvane/drivers/frame_assembly.h"
#include "telvane/usb/ezusb.h"
#include "telvane/usb/model_ids.h"

namespace telvane::camdrv2 {
namespace {

namespace ez = usb::ezusb;
using drivers::ExposureBlock;

constexpr int kHighestBufferMode = drivers::kBufferFits16;
constexpr int kFramePixels = kFullWidth * kFullHeight;

// Both buffers hold one full unbinned frame; static so no exposure allocates.
uint16_t gRawBuffer[kFramePixels];
uint16_t gImageBuffer[kFramePixels];

struct Request {
  ExposureSettings settings;
  int xStart = 0, yStart = 0, width = 0, height = 0;
  int xOffset = 0, yOffset = 0;  // image-area offset of the ShowOB setting at start
};

struct State {
  std::mutex deviceMutex;
  std::shared_ptr<usb::Transport> device;  // guarded by deviceMutex
  int openIndex = -1;                      // guarded by deviceMutex

  std::atomic<int> frameWidth{kTrimmedWidth}, frameHeight{kTrimmedHeight};
  std::atomic<int> xOffset{kTrimmedXOffset}, yOffset{kTrimmedYOffset};
  std::atomic<int> roiX{0}, roiY{0}, roiWidth{kTrimmedWidth}, roiHeight{kTrimmedHeight};

  std::atomic<int> colourMode{1}, exposureMode{0}, offset{0}, gain{0};
  std::atomic<int> bufferMode{drivers::kBufferNative16};
  std::atomic<const char*> name{kNameBeforeCheck};

  std::atomic<int> exposing{0};
  // Geometry of the frame in the image buffer; published before exposing drops to 0.
  std::atomic<int> imageWidth{0}, imageHeight{0};

  // Cancel before the start request went out means: do not start. startMutex orders the
  // readout's "check, then start" against CancelExposure's "request, then write".
  std::mutex startMutex;
  bool cancelRequested = false;  // guarded by startMutex
  bool started = false;          // guarded by startMutex

  std::mutex blockMutex;
  ExposureBlock lastBlock{};  // guarded by blockMutex; all zero until a block is sent

  std::atomic<ReadoutResult> lastResult{ReadoutResult::kComplete};
  std::atomic<int> lastError{0};

  std::mutex workerMutex;
  std::thread worker;  // guarded by workerMutex

  ~State() {
    // Process exit or library unload with a readout running: stop the camera and wait for the
    // worker (its transfers have finite timeouts) rather than let it run on freed state.
    std::lock_guard lock(workerMutex);
    if (worker.joinable()) {
      if (exposing.load()) RequestCancel();
      worker.join();
    }
  }

  std::shared_ptr<usb::Transport> Device() {
    std::lock_guard lock(deviceMutex);
    return device;
  }
  void RequestCancel();
};

State& S() {
  static State state;
  return state;
}

const std::vector<usb::UsbId>& Ids() {
  static const std::vector<usb::UsbId> ids = usb::IdsFor("camdrv2", {&usb::kVer2DefaultId, 1});
  return ids;
}

std::shared_ptr<usb::Transport> CurrentDevice() { return S().Device(); }

void State::RequestCancel() {
  std::shared_ptr<usb::Transport> transport = Device();
  if (!transport || !exposing.load()) return;
  {
    std::lock_guard lock(startMutex);
    cancelRequested = true;
    if (!started) return;  // the readout sees the request and never starts the camera
  }
  // The camera ends the exposure on any write to its bulk OUT endpoint and sends the frame;
  // the worker's pending read then returns. libusb allows this next to the read in progress.
  const uint8_t data = 0;
  transport->BulkWrite(ez::kBulkOutEndpoint, &data, 1, kCancelTimeoutMs);
}

void SendDelays(usb::Transport& transport, int first, int second, int* rc) {
  uint8_t data[4] = {static_cast<uint8_t>(first), static_cast<uint8_t>(first >> 8),
                     static_cast<uint8_t>(second), static_cast<uint8_t>(second >> 8)};
  *rc = ez::VendorRequest(transport, ez::kDirectionOut, kRequestDelays, data, sizeof data);
}

// A failed readout leaves zeros in the region, so the previous frame cannot pass for a new
// one and no mix of two frames is handed out.
void ClearImage(const Request& r) {
  std::fill_n(gImageBuffer, static_cast<size_t>(r.width) * r.height, uint16_t{0});
}

void Assemble(const Request& r) {
  if (r.settings.binning == 1) {
    const uint16_t* fieldA = gRawBuffer;
    const uint16_t* fieldB = gRawBuffer + static_cast<size_t>(kFieldRows) * kFullWidth;
    const int firstRow = (r.yStart >> 1) + r.yOffset;
    const int column = r.xStart + r.xOffset;
    drivers::AssembleFields(fieldA, fieldB, kFullWidth, firstRow, column, r.width, r.height,
                            gImageBuffer);
    if (r.height & 1) {
      // The pair loop leaves an odd last row; it is the next field-A row, which always lies
      // inside the field for a region that fits the frame.
      const size_t last = static_cast<size_t>(r.height - 1) * r.width;
      std::memcpy(gImageBuffer + last,
                  fieldA + static_cast<size_t>(firstRow + r.height / 2) * kFullWidth + column,
                  static_cast<size_t>(r.width) * sizeof(uint16_t));
    }
  } else {
    const drivers::RawFrame raw{gRawBuffer, kFullWidth / 2, kFieldRows};
    const int firstRow = 2 * ((r.yOffset >> 1) + (r.yStart >> 1));
    drivers::AssembleRows(raw, firstRow, r.xStart + (r.xOffset >> 1), r.width, r.height,
                          gImageBuffer);
  }
}

ReadoutResult Transfer(usb::Transport& transport, const Request& r, int* error) {
  int rc = 0;
  SendDelays(transport, kDelayFirst, kDelaySecond, &rc);
  if (rc < 0) return *error = rc, ReadoutResult::kControlFailed;

  const ExposureBlock block = BuildRegisterBlock(r.settings);
  {
    std::lock_guard lock(S().blockMutex);
    if (block != S().lastBlock) {
      ExposureBlock data = block;
      rc = ez::VendorRequest(transport, ez::kDirectionOut, kRequestRegisters, data.data(),
                             data.size());
      // Remember the block only once the camera took it, or a failed write would never be
      // repeated.
      if (rc != static_cast<int>(data.size())) {
        return *error = rc, ReadoutResult::kControlFailed;
      }
      S().lastBlock = block;
    }
  }

  {
    std::lock_guard lock(S().startMutex);
    if (S().cancelRequested) return ReadoutResult::kCancelledEarly;
    uint8_t data = 0;
    rc = ez::VendorRequest(transport, ez::kDirectionOut, kRequestStart, &data, 1);
    if (rc != 1) return *error = rc, ReadoutResult::kStartFailed;
    S().started = true;
  }

  // The camera was given the time modulo 2^24. In the VBE mode a frame takes two exposures
  // of that length, and which field waits for which is the camera's business: allow both
  // before the first field and one more before the second, each plus the readout margin.
  const unsigned exposureMs = static_cast<uint32_t>(r.settings.exposureMs) & 0xFFFFFF;
  const int lineLength = r.settings.binning == 2 ? kFullWidth / 2 : kFullWidth;
  const int rows = r.settings.binning == 2 ? kFieldRows : kFullHeight;
  const int count = lineLength * rows;
  auto* raw = reinterpret_cast<uint8_t*>(gRawBuffer);
  const int reads = r.settings.binning == 2 ? 1 : 2;
  const int readBytes = r.settings.binning == 2 ? 2 * count : count;
  for (int n = 0; n < reads; ++n) {
    const unsigned timeout = (n == 0 ? 2 : 1) * exposureMs + kReadoutMarginMs;
    rc = ez::ReadExactly(transport, ez::kBulkInEndpoint, raw + n * readBytes, readBytes, timeout);
    if (rc != readBytes) return *error = rc, ReadoutResult::kTransferFailed;
  }
  drivers::SwapBytes16(gRawBuffer, count);
  Assemble(r);
  return ReadoutResult::kComplete;
}

// Runs on the worker (ThreadExposure) or the caller (Exposure); the exposing flag is already
// set and is cleared here, after the image buffer holds the result.
ReadoutResult Readout(Request r) {
  State& s = S();
  ReadoutResult result = ReadoutResult::kNotOpen;
  int error = 0;
  if (std::shared_ptr<usb::Transport> transport = CurrentDevice()) {
    result = Transfer(*transport, r, &error);
    if (result != ReadoutResult::kComplete) ClearImage(r);
    s.imageWidth.store(r.width);
    s.imageHeight.store(r.height);
  }
  s.lastResult.store(result);
  s.lastError.store(error);
  s.exposing.store(0);
  return result;
}

constexpr int kStarted = 0;
constexpr int kRefused = 1;

int Start(bool threaded, int exposureMs, int xStart, int yStart, int width, int height,
          int binning, int option) {
  State& s = S();
  // Only the two binnings the camera has; negative positions or sizes would index outside
  // the raw frame. 64-bit products so huge arguments cannot wrap into range.
  const int64_t frameWidth = s.frameWidth.load(), frameHeight = s.frameHeight.load();
  if ((binning != 1 && binning != 2) || xStart < 0 || yStart < 0 || width < 0 || height < 0 ||
      int64_t{binning} * (int64_t{xStart} + width) > frameWidth ||
      int64_t{binning} * (int64_t{yStart} + height) > frameHeight) {
    return kRefused;
  }
  if (!CurrentDevice()) return kRefused;
  int idle = 0;
  if (!s.exposing.compare_exchange_strong(idle, 1)) return kRefused;

  Request r;
  r.settings = {exposureMs, binning, option, s.gain.load(), s.offset.load(),
                s.exposureMode.load()};
  r.xStart = xStart;
  r.yStart = yStart;
  r.width = width;
  r.height = height;
  r.xOffset = s.xOffset.load();
  r.yOffset = s.yOffset.load();
  s.roiX.store(xStart);
  s.roiY.store(yStart);
  s.roiWidth.store(width);
  s.roiHeight.store(height);
  {
    std::lock_guard lock(s.startMutex);
    s.cancelRequested = false;
    s.started = false;
  }

  if (!threaded) return Readout(r) == ReadoutResult::kComplete ? kStarted : kRefused;

  std::lock_guard lock(s.workerMutex);
  // The previous worker has cleared the flag, so it is finishing or finished.
  if (s.worker.joinable()) s.worker.join();
  try {
    s.worker = std::thread(Readout, r);
  } catch (const std::system_error&) {
    s.exposing.store(0);
    return kRefused;
  }
  return kStarted;
}

// Waits until no readout uses the device, cancelling one that runs.
void StopReadout() {
  State& s = S();
  if (s.exposing.load()) s.RequestCancel();
  while (s.exposing.load()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  std::lock_guard lock(s.workerMutex);
  if (s.worker.joinable()) s.worker.join();
}

void ApplyShowOB(int on) {
  State& s = S();
  const bool full = on != 0;
  const int width = full ? kFullWidth : kTrimmedWidth;
  const int height = full ? kFullHeight : kTrimmedHeight;
  s.frameWidth.store(width);
  s.frameHeight.store(height);
  s.xOffset.store(full ? 0 : kTrimmedXOffset);
  s.yOffset.store(full ? 0 : kTrimmedYOffset);
  s.roiX.store(0);
  s.roiY.store(0);
  s.roiWidth.store(width);
  s.roiHeight.store(height);
}

bool Identify(usb::Transport& transport, int* rc) {
  uint8_t answer[kIdentifyLength] = {};
  *rc = ez::VendorRequest(transport, ez::kDirectionIn, kRequestIdentify, answer,
                          kIdentifyLength);
  return *rc >= kIdentifyLength &&
         std::equal(kIdentification.begin(), kIdentification.end(),
                    answer + kIdentificationOffset) &&
         answer[kIdentifyTerminatorOffset] == 0;
}

int CheckDevice(int index) {
  State& s = S();
  std::shared_ptr<usb::Transport> open;
  {
    std::lock_guard lock(s.deviceMutex);
    if (index == s.openIndex) open = s.device;
  }
  int rc = 0;
  if (open) {
    // The open camera holds the interface, so a second handle could not be used; ask through
    // the open one. A readout in progress proves the camera is there.
    s.name.store(kNameAfterCheck);
    if (s.exposing.load()) return 1;
    const bool match = Identify(*open, &rc);
    if (rc != usb::kErrorNoDevice) return match;
    // Unplugged since it was opened: whatever is at this index now gets a fresh look.
  }
  std::unique_ptr<usb::Transport> transport = usb::OpenDevice(Ids(), index);
  if (!transport) return 0;
  s.name.store(kNameAfterCheck);
  return Identify(*transport, &rc);
}

int Open(int index) {
  State& s = S();
  StopReadout();
  {
    std::lock_guard lock(s.deviceMutex);
    s.device.reset();
    s.openIndex = -1;
  }
  ApplyShowOB(0);
  s.exposing.store(0);
  s.gain.store(50);
  s.offset.store(50);
  s.exposureMode.store(1);
  {
    // A camera just opened (perhaps re-plugged) has not seen any block yet.
    std::lock_guard lock(s.blockMutex);
    s.lastBlock = ExposureBlock{};
  }
  if (CheckDevice(index) != 1) return 1;
  std::unique_ptr<usb::Transport> transport = usb::OpenDevice(Ids(), index);
  if (!transport) return 1;
  std::lock_guard lock(s.deviceMutex);
  s.device = std::move(transport);
  s.openIndex = index;
  return 0;
}

void ConvertImage(void* destination, int count) {
  State& s = S();
  if (!destination || count <= 0) return;
  const size_t pixels = std::min<size_t>(static_cast<size_t>(count), kFramePixels);
  auto* out = static_cast<uint8_t*>(destination);
  const int mode = s.bufferMode.load();
  if (mode == drivers::kBufferColour24) {
    drivers::ReconstructColour(s.colourMode.load(), {}, gImageBuffer, s.imageWidth.load(),
                               s.imageHeight.load(), out, pixels);
  } else {
    drivers::ConvertPixels(mode, gImageBuffer, pixels, out);
  }
}

}  // namespace

drivers::ExposureBlock BuildRegisterBlock(const ExposureSettings& e) {
  drivers::ExposureBlockFields f;
  f.gain = e.gain;
  f.exposureMs = e.exposureMs;
  f.offset = e.offset;
  f.flags = drivers::kFlagAlways;
  if (e.option == 1) f.flags |= drivers::kFlagHighSpeed;
  if (e.binning == 2) f.flags |= drivers::kFlagHorizontalBin2 | drivers::kFlagVerticalBin2;
  f.readoutMode = static_cast<uint8_t>(e.binning == 2 ? kBinned2ReadoutMode : e.exposureMode);
  const int longLimit = e.option == 1 ? kLongExposureLimitHighSpeedMs : kLongExposureLimitMs;
  if (e.exposureMode == 1 && e.exposureMs > longLimit) f.readoutMode = kLongExposureReadoutMode;
  const int lineLength = e.binning == 2 ? kFullWidth / 2 : kFullWidth;
  f.bytesPerRow = static_cast<uint16_t>(2 * lineLength);
  f.rows = static_cast<uint16_t>(e.binning == 2 ? kFieldRows : kFullHeight);
  return drivers::BuildExposureBlock(f);
}

ReadoutResult LastReadoutResult() { return S().lastResult.load(); }
int LastReadoutError() { return S().lastError.load(); }

}  // namespace telvane::camdrv2

// ---- exports ----------------------------------------------------------------------------

using telvane::camdrv2::S;

extern "C" {

int OpenCamera(int index) { return telvane::camdrv2::Open(index); }

int checkdevice(int index) { return telvane::camdrv2::CheckDevice(index); }

const char* GetName(void) { return S().name.load(); }

const char* Copyright(void) {
  return "Telvane VER2 camera driver (libcamdrv2). Copyright (c) 2026 the Telvane authors.";
}

void PixSize(int bin, double* width, double* height) {
  if (width) *width = telvane::camdrv2::kPixelSizeUm * bin;
  if (height) *height = telvane::camdrv2::kPixelSizeUm * bin;
}

void FrameSize(int mode, int* width, int* height) {
  int w = -1, h = -1;
  if (mode == 1 || mode == 2) {
    w = S().frameWidth.load() / mode;
    h = S().frameHeight.load() / mode;
  }
  if (width) *width = w;
  if (height) *height = h;
}

void ShowOB(int on) { telvane::camdrv2::ApplyShowOB(on); }

void SetColorMode(int mode) { S().colourMode.store(mode); }

void setgain(int gain) { S().gain.store(gain); }

void setoffset(int offset) { S().offset.store(offset); }

void setexpomode(int mode) { S().exposureMode.store(mode); }

void SetBufferMode(int mode) {
  S().bufferMode.store(
      telvane::drivers::ClampBufferMode(mode, telvane::camdrv2::kHighestBufferMode));
}

int Exposure(int exposureMs, int xStart, int yStart, int width, int height, int binning,
             int option) {
  return telvane::camdrv2::Start(false, exposureMs, xStart, yStart, width, height, binning,
                                 option);
}

int ThreadExposure(int exposureMs, int xStart, int yStart, int width, int height, int binning,
                   int option) {
  return telvane::camdrv2::Start(true, exposureMs, xStart, yStart, width, height, binning,
                                 option);
}

int IsExposing(void) { return S().exposing.load(); }

void CancelExposure(void) { S().RequestCancel(); }

void GetBuffer(void* destination, int count) {
  telvane::camdrv2::ConvertImage(destination, count);
}

uint16_t* getbufptr(void) { return telvane::camdrv2::gImageBuffer; }

void SetDelayParameters(int first, int second) {
  if (std::shared_ptr<telvane::usb::Transport> transport = telvane::camdrv2::CurrentDevice()) {
    int rc = 0;
    telvane::camdrv2::SendDelays(*transport, first, second, &rc);
  }
}

}  // extern "C"
