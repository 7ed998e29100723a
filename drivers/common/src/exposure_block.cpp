#include "telvane/drivers/exposure_block.h"

namespace telvane::drivers {

ExposureBlock BuildExposureBlock(const ExposureBlockFields& f) {
  ExposureBlock block{};
  const uint32_t ms = static_cast<uint32_t>(f.exposureMs);
  block[kBlockGain] = GainByte(f.gain);
  block[kBlockExposureMs] = static_cast<uint8_t>(ms >> 16);
  block[kBlockExposureMs + 1] = static_cast<uint8_t>(ms >> 8);
  block[kBlockExposureMs + 2] = static_cast<uint8_t>(ms);
  block[kBlockFlags] = f.flags;
  block[kBlockConstant5] = kBlockByte5Value;
  block[kBlockReadoutMode] = f.readoutMode;
  block[kBlockOffset] = static_cast<uint8_t>(f.offset + kOffsetBias);
  block[kBlockMarker8] = kBlockMarkerValue;
  block[kBlockMarker9] = kBlockMarkerValue;
  block[kBlockBytesPerRow] = static_cast<uint8_t>(f.bytesPerRow >> 8);
  block[kBlockBytesPerRow + 1] = static_cast<uint8_t>(f.bytesPerRow);
  block[kBlockRows] = static_cast<uint8_t>(f.rows >> 8);
  block[kBlockRows + 1] = static_cast<uint8_t>(f.rows);
  block[kBlockMarker23] = kBlockMarkerValue;
  return block;
}

}  // namespace telvane::drivers
