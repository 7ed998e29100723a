// libcamdrv2.so internals that its tests check directly: the VER2 protocol constants, the
// register block builder and the outcome of the last readout.
#pragma once

#include <array>
#include <cstdint>

#include "telvane/drivers/exposure_block.h"

namespace telvane::camdrv2 {

// Sensor geometry: an interlaced 2140 x 1560 CCD read out as two fields of 780 rows.
inline constexpr int kFullWidth = 2140;
inline constexpr int kFullHeight = 1560;
inline constexpr int kTrimmedWidth = 2048;
inline constexpr int kTrimmedHeight = 1536;
inline constexpr int kTrimmedXOffset = 42;
inline constexpr int kTrimmedYOffset = 10;
inline constexpr int kFieldRows = kFullHeight / 2;
inline constexpr double kPixelSizeUm = 3.45;

// Vendor requests of the VER2 firmware.
inline constexpr uint8_t kRequestIdentify = 0xC2;   // IN, 10 bytes
inline constexpr uint8_t kRequestRegisters = 0xB5;  // OUT, the 24-byte exposure block
inline constexpr uint8_t kRequestDelays = 0xBB;     // OUT, two little-endian 16-bit values
inline constexpr uint8_t kRequestStart = 0xB3;      // OUT, one byte

// Answer to kRequestIdentify: bytes 2..8 are the model identification, byte 9 is zero.
inline constexpr int kIdentifyLength = 10;
inline constexpr int kIdentificationOffset = 2;
inline constexpr int kIdentifyTerminatorOffset = 9;
inline constexpr std::array<uint8_t, 7> kIdentification{0x03, 0x1B, 0x02, 0x54, 0x02, 0x01, 0x59};

// Sent before every register block write; their meaning is internal to the camera.
inline constexpr int kDelayFirst = 500;
inline constexpr int kDelaySecond = 3000;

// Readout mode byte 99 makes the camera run a long exposure itself; used in exposure mode 1
// beyond these times (shorter with the high-speed option).
inline constexpr uint8_t kLongExposureReadoutMode = 99;
inline constexpr int kLongExposureLimitMs = 4000;
inline constexpr int kLongExposureLimitHighSpeedMs = 1000;
inline constexpr uint8_t kBinned2ReadoutMode = 2;

// Time allowed for the camera to read out and send a field once the exposure has ended.
inline constexpr unsigned kReadoutMarginMs = 15000;
inline constexpr unsigned kCancelTimeoutMs = 1000;

inline constexpr const char* kNameBeforeCheck = "3.3Mpix camera";
inline constexpr const char* kNameAfterCheck = "3.3 MPix Camera";

// Everything an exposure's register block depends on.
struct ExposureSettings {
  int exposureMs = 0;
  int binning = 1;
  int option = 0;
  int gain = 0;
  int offset = 0;
  int exposureMode = 0;
};

drivers::ExposureBlock BuildRegisterBlock(const ExposureSettings& settings);

enum class ReadoutResult {
  kComplete,
  kNotOpen,            // no camera open: nothing sent, image buffer unchanged
  kControlFailed,      // delay parameters or register block not accepted
  kStartFailed,        // start request not accepted
  kCancelledEarly,     // cancelled before the start request went out
  kTransferFailed,     // a bulk read failed or came back short
};

// Outcome of the last readout routine (any thread); kComplete before the first exposure.
ReadoutResult LastReadoutResult();
// Transfer result that ended the last failed readout (bytes of a short read, or a negative
// TransferError); 0 when none.
int LastReadoutError();

}  // namespace telvane::camdrv2
