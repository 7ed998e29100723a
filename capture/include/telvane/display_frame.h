// The plain record a DisplayHost draws for one frame. Owned by the preview/focus module;
// fields may grow, the capture thread only reads the ones named in display.h's contract.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "telvane/display.h"

namespace telvane {

struct DisplayFrame {
  // Preview control size (zoomed, aspect-corrected).
  int32_t DisplayWidth = 0;
  int32_t DisplayHeight = 0;

  // Focus analysis results (valid when FocusUpdated).
  bool FocusUpdated = false;
  int32_t FocusPeak = 0;
  bool RecentreStar = false;
  int32_t RecentreX = 0, RecentreY = 0;

  // Histogram and statistics texts.
  std::array<double, 256> HistogramBins{};
  std::string OffsetWarning;
};

}  // namespace telvane
