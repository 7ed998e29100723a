// The 24-byte exposure register block of the EZ-USB and libusb camera families (multi-byte
// fields big-endian). Each library fills the fields with its model's values.
#pragma once

#include <array>
#include <cstdint>

namespace telvane::drivers {

using ExposureBlock = std::array<uint8_t, 24>;

// Byte offsets inside the block.
inline constexpr int kBlockGain = 0;
inline constexpr int kBlockExposureMs = 1;  // 3 bytes: the time modulo 2^24
inline constexpr int kBlockFlags = 4;
inline constexpr int kBlockConstant5 = 5;
inline constexpr int kBlockReadoutMode = 6;
inline constexpr int kBlockOffset = 7;
inline constexpr int kBlockMarker8 = 8;
inline constexpr int kBlockMarker9 = 9;
inline constexpr int kBlockBytesPerRow = 14;  // 2 bytes
inline constexpr int kBlockRows = 16;         // 2 bytes
inline constexpr int kBlockMarker23 = 23;

// Flag bits of byte 4.
inline constexpr uint8_t kFlagAlways = 0x04;
inline constexpr uint8_t kFlagHorizontalBin2 = 0x08;
inline constexpr uint8_t kFlagVerticalBin2 = 0x40;
inline constexpr uint8_t kFlagHighSpeed = 0x80;  // exposure option 1

inline constexpr uint8_t kBlockByte5Value = 0x40;
inline constexpr uint8_t kBlockMarkerValue = 0xAC;  // bytes 8, 9 and 23
inline constexpr int kOffsetBias = 60;              // offset is sent as offset + 60

struct ExposureBlockFields {
  int gain = 0;        // 0..100, sent as gain * 63 / 100
  int exposureMs = 0;  // wraps in the 24-bit field
  uint8_t flags = kFlagAlways;
  uint8_t readoutMode = 0;
  int offset = 0;  // sent as offset + 60, one byte
  uint16_t bytesPerRow = 0;
  uint16_t rows = 0;
};

constexpr uint8_t GainByte(int gain) { return static_cast<uint8_t>(gain * 63 / 100); }

ExposureBlock BuildExposureBlock(const ExposureBlockFields& fields);

}  // namespace telvane::drivers
