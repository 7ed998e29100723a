// The simulated VER2: the camera's side of the EZ-USB protocol that libcamdrv2 speaks.
//
// Control requests (vendor, device recipient):
//   0xC2 IN   10 bytes identification (bytes 2..8 = 03 1B 02 54 02 01 59, byte 9 = 0)
//   0xB5 OUT  the 24-byte exposure register block (kept until the next one)
//   0xBB OUT  4 bytes delay parameters (two little-endian 16-bit values)
//   0xB3 OUT  start: integrate for the block's exposure time (bytes 1..3, ms, big-endian);
//             in the VBE readout modes (byte 6 = 1, or 99 for long exposures) the two fields
//             are exposed one after the other, so the frame takes twice that
// Bulk endpoints:
//   0x82 IN   the frame, 16-bit pixels high byte first. The block's bytes 14..17 give the
//             bytes per row and rows of the transfer. At binning 1 (flags byte 4 without
//             0x48) the rows arrive as two fields, field A = even sensor rows, then field
//             B = odd rows; at binning 2 as one field of binned rows.
//   0x01 OUT  cancel: ends the integration at once and the camera reads the frame out
//             early, so the pending read receives a frame exposed for the elapsed time.
//             A cancel while nothing integrates only counts.
//
// Reads block until the exposure has ended (timeoutMs 0 = no limit, else -7 after it) and
// hand out at most the rest of the current field, so the driver's one read per field gets
// exactly a field. Results are bytes moved or -1 I/O, -4 unplugged, -7 timeout, -9 stall.
//
// Threading: every member is safe from any thread; a read may block on one thread while
// another writes the cancel, injects a fault or unplugs the device (which releases it).
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "telvane/sim/bus.h"
#include "telvane/sim/sky.h"

namespace telvane::sim {

class Ver2Device : public Device {
 public:
  static constexpr uint16_t kVendorId = 0x04b4;  // the VER2's default id (general EZ-USB)
  static constexpr uint16_t kProductId = 0x8613;

  static constexpr uint8_t kRequestIdentify = 0xC2;
  static constexpr uint8_t kRequestRegisterBlock = 0xB5;
  static constexpr uint8_t kRequestDelay = 0xBB;
  static constexpr uint8_t kRequestStart = 0xB3;
  static constexpr uint8_t kEndpointFrame = 0x82;
  static constexpr uint8_t kEndpointCancel = 0x01;
  static constexpr int kIdentifyLength = 10;
  static constexpr int kRegisterBlockLength = 24;
  static constexpr int kSensorWidth = 2140;
  static constexpr int kSensorHeight = 1560;

  enum class Source { kSky, kTestPattern };

  struct Options {
    Source source = Source::kSky;
    SkyParams sky;       // sensor size is forced to the VER2's
    bool colour = true;  // the VER2 ships with a complementary-colour mosaic
    // Real waits are exposure time x timeScale (tests shorten long exposures).
    double timeScale = 1.0;
  };

  Ver2Device();
  explicit Ver2Device(Options options);
  ~Ver2Device() override;

  // Pixel value of the test pattern at (row, column) of the transferred image: sensor row at
  // binning 1, binned row at binning 2. Neighbouring rows and columns, and the two bytes of a
  // word, differ, so a swapped field, a row slip or a missed byte swap shows.
  static uint16_t TestPattern(int row, int column);

  // Device
  uint16_t VendorId() const override { return kVendorId; }
  uint16_t ProductId() const override { return kProductId; }
  std::string Model() const override { return "VER2"; }
  int Control(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index, uint8_t* data,
              uint16_t length, unsigned timeoutMs) override;
  int BulkRead(uint8_t endpoint, uint8_t* data, int length, unsigned timeoutMs) override;
  int BulkWrite(uint8_t endpoint, const uint8_t* data, int length, unsigned timeoutMs) override;
  int ClearHalt(uint8_t endpoint) override;
  bool Attached() const override;

  // Rendering.
  void SetSource(Source source);
  void SetTimeScale(double scale);

  // Inspection.
  struct ControlRecord {
    uint8_t requestType;
    uint8_t request;
    uint16_t value;
    uint16_t index;
    std::vector<uint8_t> data;  // bytes sent, or for IN requests the bytes answered
  };
  std::optional<std::array<uint8_t, kRegisterBlockLength>> LastRegisterBlock() const;
  std::vector<ControlRecord> ControlRequests() const;
  std::vector<int> BulkReadLengths() const;  // lengths asked for, in order
  int CancelWrites() const;
  std::array<uint16_t, 2> DelayParameters() const;
  int ExposuresStarted() const;
  uint32_t LastExposureMs() const;  // from the block at the last start
  void ClearRecords();

  // Fault injection; each one-shot fault applies to the next matching transfer.
  void ShortNextBulkRead(int bytes);  // delivers `bytes`, the rest of that field is lost
  void FailNextBulkRead();            // -1, nothing delivered, the field stays pending
  void FailNextStart();               // the next 0xB3 answers -1 and starts nothing
  void StallBulkIn();                 // reads answer -9 until ClearHalt(0x82)
  void Unplug() override;             // every transfer -4 from now; blocked reads released
  void Replug();
  // Unplugs itself once this many more bulk reads have delivered data (mid-frame unplug).
  void UnplugAfterBulkReads(int reads);

 private:
  enum class State { kIdle, kIntegrating, kReadout };

  int StartLocked();
  void PrepareFrame(std::unique_lock<std::mutex>& lock);

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  Options options_;
  std::unique_ptr<SkyRenderer> sky_;

  bool attached_ = true;
  State state_ = State::kIdle;
  uint64_t generation_ = 0;  // bumps on every start, so a stale render is discarded
  std::chrono::steady_clock::time_point startTime_;
  std::chrono::steady_clock::time_point endTime_;
  // Parameters latched at the start request.
  std::array<uint8_t, kRegisterBlockLength> exposureBlock_{};
  uint32_t exposureMs_ = 0;
  int exposures_ = 1;  // exposure times per frame: 2 in the VBE readout modes

  // The frame on the wire: fields back to back, big-endian words.
  std::vector<uint8_t> wire_;
  size_t fieldBytes_ = 0;
  size_t fieldCount_ = 0;
  size_t field_ = 0;        // field being read
  size_t fieldOffset_ = 0;  // bytes of it already handed out
  uint64_t frames_ = 0;
  bool rendering_ = false;  // one reader renders (unlocked); others wait for it

  std::optional<std::array<uint8_t, kRegisterBlockLength>> block_;
  std::array<uint16_t, 2> delay_{};
  std::vector<ControlRecord> controls_;
  std::vector<int> readLengths_;
  int cancels_ = 0;
  int starts_ = 0;

  int shortNext_ = -1;
  bool failNextRead_ = false;
  bool failNextStart_ = false;
  bool stalled_ = false;
  int unplugAfter_ = -1;
};

}  // namespace telvane::sim
