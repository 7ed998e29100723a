#include "telvane/sim/ver2_device.h"

#include <algorithm>
#include <cstring>

namespace telvane::sim {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kErrorIo = -1;
constexpr int kErrorNoDevice = -4;
constexpr int kErrorTimeout = -7;
constexpr int kErrorPipe = -9;

constexpr uint8_t kDirectionIn = 0x80;  // bmRequestType bit 7
constexpr uint8_t kIdentification[7] = {0x03, 0x1B, 0x02, 0x54, 0x02, 0x01, 0x59};

// Register block layout (big-endian multi-byte fields).
constexpr int kBlockGain = 0;
constexpr int kBlockExposure = 1;  // 3 bytes, ms
constexpr int kBlockFlags = 4;
constexpr int kBlockMode = 6;
constexpr int kBlockOffset = 7;
constexpr int kBlockRowBytes = 14;    // 2 bytes
constexpr int kBlockRows = 16;        // 2 bytes
constexpr uint8_t kFlagsBin2 = 0x48;  // horizontal 0x08 + vertical 0x40 binning
// Readout modes in which the two fields are exposed one after the other (the VBE mode, and
// its long-exposure form), so a frame takes two exposure times.
constexpr uint8_t kModeVbe = 1;
constexpr uint8_t kModeVbeLong = 99;

// Offset byte and gain byte of the driver's defaults (offset 50 + 60, gain 50 * 63 / 100):
// the sky's own bias and conversion gain apply there.
constexpr int kNominalOffsetByte = 110;
constexpr double kAduPerOffsetStep = 8.0;
constexpr double kGainMidpoint = 31.5;

SkyParams ForVer2(SkyParams sky, bool colour) {
  sky.sensorWidth = Ver2Device::kSensorWidth;
  sky.sensorHeight = Ver2Device::kSensorHeight;
  if (colour) sky.mosaic = kCmygMosaic;
  return sky;
}

}  // namespace

Ver2Device::Ver2Device() : Ver2Device(Options{}) {}

Ver2Device::Ver2Device(Options options)
    : options_(std::move(options)),
      sky_(std::make_unique<SkyRenderer>(ForVer2(options_.sky, options_.colour))) {}

Ver2Device::~Ver2Device() = default;

uint16_t Ver2Device::TestPattern(int row, int column) {
  return uint16_t(uint32_t(row) * 2141u + uint32_t(column) + 0x0101u);
}

bool Ver2Device::Attached() const {
  std::lock_guard lock(mutex_);
  return attached_;
}

int Ver2Device::Control(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                        uint8_t* data, uint16_t length, unsigned /*timeoutMs*/) {
  std::lock_guard lock(mutex_);
  if (!attached_) return kErrorNoDevice;
  const bool in = (requestType & kDirectionIn) != 0;
  ControlRecord record{requestType, request, value, index, {}};
  if (!in && data && length) record.data.assign(data, data + length);

  // The firmware stalls control requests it does not know or whose data stage is wrong.
  int result = kErrorPipe;
  switch (request) {
    case kRequestIdentify:
      if (in && data) {
        uint8_t answer[kIdentifyLength] = {0x00, 0x0A};
        std::memcpy(answer + 2, kIdentification, sizeof kIdentification);
        answer[9] = 0;
        result = std::min<int>(length, kIdentifyLength);
        std::memcpy(data, answer, size_t(result));
        record.data.assign(data, data + result);
      }
      break;
    case kRequestRegisterBlock:
      if (!in && data && length == kRegisterBlockLength) {
        std::array<uint8_t, kRegisterBlockLength> block;
        std::memcpy(block.data(), data, block.size());
        block_ = block;
        result = length;
      }
      break;
    case kRequestDelay:
      if (!in && data && length == 4) {
        delay_ = {uint16_t(data[0] | data[1] << 8), uint16_t(data[2] | data[3] << 8)};
        result = length;
      }
      break;
    case kRequestStart:
      if (!in) {
        if (failNextStart_) {
          failNextStart_ = false;
          result = kErrorIo;
        } else {
          result = StartLocked() == 0 ? length : kErrorIo;
        }
      }
      break;
    default:
      break;
  }
  controls_.push_back(std::move(record));
  return result;
}

int Ver2Device::StartLocked() {
  // A start while a frame is still on the wire abandons the rest of it, as the firmware
  // restarts its state machine.
  exposureBlock_ = block_.value_or(std::array<uint8_t, kRegisterBlockLength>{});
  exposureMs_ = uint32_t(exposureBlock_[kBlockExposure]) << 16 |
                uint32_t(exposureBlock_[kBlockExposure + 1]) << 8 |
                exposureBlock_[kBlockExposure + 2];
  const uint8_t mode = exposureBlock_[kBlockMode];
  exposures_ = mode == kModeVbe || mode == kModeVbeLong ? 2 : 1;
  ++generation_;
  ++starts_;
  state_ = State::kIntegrating;
  startTime_ = Clock::now();
  endTime_ = startTime_ + std::chrono::microseconds(int64_t(double(exposureMs_) * exposures_ *
                                                            1000.0 * options_.timeScale));
  wire_.clear();
  changed_.notify_all();
  return 0;
}

void Ver2Device::PrepareFrame(std::unique_lock<std::mutex>& lock) {
  const uint64_t generation = generation_;
  const auto block = exposureBlock_;
  const double realMs = std::chrono::duration<double, std::milli>(endTime_ - startTime_).count();
  // Each field integrates for the exposure time; a cancel shortens that in proportion.
  const double integratedMs =
      options_.timeScale > 0
          ? std::min(double(exposureMs_), realMs / (options_.timeScale * exposures_))
          : double(exposureMs_);
  const Source source = options_.source;
  const uint64_t frameNumber = frames_++;

  const int binning = (block[kBlockFlags] & kFlagsBin2) == kFlagsBin2 ? 2 : 1;
  // The camera sends what the block asks for, but never more than its sensor holds.
  const int width = std::min<int>((block[kBlockRowBytes] << 8 | block[kBlockRowBytes + 1]) / 2,
                                  kSensorWidth / binning);
  const int rows = std::min<int>(block[kBlockRows] << 8 | block[kBlockRows + 1], kSensorHeight);
  const int fields = binning == 1 ? 2 : 1;
  const int rowsPerField = rows / fields;

  std::vector<uint8_t> wire(size_t(width) * 2 * rowsPerField * fields);
  if (!wire.empty()) {
    const int imageWidth = kSensorWidth / binning;
    const int imageHeight = kSensorHeight / binning;
    std::vector<uint16_t> image;
    if (source == Source::kSky) {
      image.resize(size_t(imageWidth) * imageHeight);
      const double bias = std::max(
          0.0, options_.sky.bias + (block[kBlockOffset] - kNominalOffsetByte) * kAduPerOffsetStep);
      const double ePerAdu =
          options_.sky.electronsPerAdu * 2.0 * kGainMidpoint / (block[kBlockGain] + kGainMidpoint);
      // Rendering takes tens of milliseconds: do it unlocked so a cancel or a fault
      // injection from another thread is not held up.
      lock.unlock();
      sky_->SetConversion(bias, ePerAdu);
      sky_->Render(integratedMs / 1000.0, binning, frameNumber, image.data());
      lock.lock();
    }
    uint8_t* out = wire.data();
    for (int f = 0; f < fields; ++f) {
      for (int k = 0; k < rowsPerField; ++k) {
        const int row = k * fields + f;
        for (int c = 0; c < width; ++c) {
          const uint16_t v = source == Source::kTestPattern ? TestPattern(row, c)
                                                            : image[size_t(row) * imageWidth + c];
          *out++ = uint8_t(v >> 8);  // high byte first
          *out++ = uint8_t(v);
        }
      }
    }
  }
  if (generation != generation_ || state_ != State::kIntegrating) return;  // restarted meanwhile
  wire_ = std::move(wire);
  fieldCount_ = wire_.empty() ? 0 : size_t(fields);
  fieldBytes_ = size_t(width) * 2 * rowsPerField;
  field_ = 0;
  fieldOffset_ = 0;
  state_ = wire_.empty() ? State::kIdle : State::kReadout;
  changed_.notify_all();
}

int Ver2Device::BulkRead(uint8_t endpoint, uint8_t* data, int length, unsigned timeoutMs) {
  std::unique_lock lock(mutex_);
  readLengths_.push_back(length);
  if (!attached_) return kErrorNoDevice;
  if (endpoint != kEndpointFrame || length < 0 || (length > 0 && !data)) return kErrorIo;
  if (failNextRead_) {
    failNextRead_ = false;
    return kErrorIo;
  }
  const auto deadline =
      timeoutMs ? Clock::now() + std::chrono::milliseconds(timeoutMs) : Clock::time_point::max();
  for (;;) {
    if (!attached_) return kErrorNoDevice;
    if (stalled_) return kErrorPipe;
    const auto now = Clock::now();
    if (state_ == State::kReadout) break;
    if (state_ == State::kIntegrating && now >= endTime_ && !rendering_) {
      rendering_ = true;
      PrepareFrame(lock);
      rendering_ = false;
      changed_.notify_all();
      continue;
    }
    if (now >= deadline) return kErrorTimeout;
    const auto wake =
        state_ == State::kIntegrating && !rendering_ ? std::min(endTime_, deadline) : deadline;
    if (wake == Clock::time_point::max())
      changed_.wait(lock);
    else
      changed_.wait_until(lock, wake);
  }

  const size_t remaining = fieldBytes_ - fieldOffset_;
  size_t n = std::min(size_t(length), remaining);
  const bool shortPacket = shortNext_ >= 0;
  if (shortPacket) {
    n = std::min(n, size_t(shortNext_));
    shortNext_ = -1;
  }
  std::memcpy(data, wire_.data() + field_ * fieldBytes_ + fieldOffset_, n);
  // A short packet ends the transfer: the firmware drops the rest of that field.
  fieldOffset_ = shortPacket ? fieldBytes_ : fieldOffset_ + n;
  if (fieldOffset_ == fieldBytes_) {
    ++field_;
    fieldOffset_ = 0;
    if (field_ >= fieldCount_) state_ = State::kIdle;
  }
  if (unplugAfter_ > 0 && --unplugAfter_ == 0) {
    attached_ = false;
    changed_.notify_all();
  }
  return int(n);
}

int Ver2Device::BulkWrite(uint8_t endpoint, const uint8_t* /*data*/, int length,
                          unsigned /*timeoutMs*/) {
  std::lock_guard lock(mutex_);
  if (!attached_) return kErrorNoDevice;
  if (endpoint != kEndpointCancel) return kErrorIo;
  ++cancels_;
  if (state_ == State::kIntegrating) {
    const auto now = Clock::now();
    if (now < endTime_) endTime_ = now;  // read out what has been collected so far
    changed_.notify_all();
  }
  return length;
}

int Ver2Device::ClearHalt(uint8_t endpoint) {
  std::lock_guard lock(mutex_);
  if (!attached_) return kErrorNoDevice;
  if (endpoint == kEndpointFrame) stalled_ = false;
  return 0;
}

void Ver2Device::SetSource(Source source) {
  std::lock_guard lock(mutex_);
  options_.source = source;
}

void Ver2Device::SetTimeScale(double scale) {
  std::lock_guard lock(mutex_);
  options_.timeScale = std::max(0.0, scale);
}

std::optional<std::array<uint8_t, Ver2Device::kRegisterBlockLength>> Ver2Device::LastRegisterBlock()
    const {
  std::lock_guard lock(mutex_);
  return block_;
}

std::vector<Ver2Device::ControlRecord> Ver2Device::ControlRequests() const {
  std::lock_guard lock(mutex_);
  return controls_;
}

std::vector<int> Ver2Device::BulkReadLengths() const {
  std::lock_guard lock(mutex_);
  return readLengths_;
}

int Ver2Device::CancelWrites() const {
  std::lock_guard lock(mutex_);
  return cancels_;
}

std::array<uint16_t, 2> Ver2Device::DelayParameters() const {
  std::lock_guard lock(mutex_);
  return delay_;
}

int Ver2Device::ExposuresStarted() const {
  std::lock_guard lock(mutex_);
  return starts_;
}

uint32_t Ver2Device::LastExposureMs() const {
  std::lock_guard lock(mutex_);
  return exposureMs_;
}

void Ver2Device::ClearRecords() {
  std::lock_guard lock(mutex_);
  controls_.clear();
  readLengths_.clear();
  cancels_ = 0;
  starts_ = 0;
}

void Ver2Device::ShortNextBulkRead(int bytes) {
  std::lock_guard lock(mutex_);
  shortNext_ = std::max(0, bytes);
}

void Ver2Device::FailNextBulkRead() {
  std::lock_guard lock(mutex_);
  failNextRead_ = true;
}

void Ver2Device::FailNextStart() {
  std::lock_guard lock(mutex_);
  failNextStart_ = true;
}

void Ver2Device::StallBulkIn() {
  std::lock_guard lock(mutex_);
  stalled_ = true;
  changed_.notify_all();
}

void Ver2Device::Unplug() {
  std::lock_guard lock(mutex_);
  attached_ = false;
  changed_.notify_all();
}

void Ver2Device::Replug() {
  std::lock_guard lock(mutex_);
  attached_ = true;
  state_ = State::kIdle;
  wire_.clear();
  stalled_ = false;
  unplugAfter_ = -1;
}

void Ver2Device::UnplugAfterBulkReads(int reads) {
  std::lock_guard lock(mutex_);
  unplugAfter_ = reads;
}

}  // namespace telvane::sim
