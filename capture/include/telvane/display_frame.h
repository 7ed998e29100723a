// The plain record a DisplayHost draws for one frame. Owned by the preview/focus module;
// fields may grow, the capture thread only reads the ones named in display.h's contract.
//
// ComputeDisplay rewrites every field on every call (the result depends on the inputs only);
// the strings keep their capacity, so a record reused from frame to frame costs no
// allocation after the first frames.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "telvane/display.h"
#include "telvane/focus_analysis.h"

namespace telvane {

// Colours as 0xRRGGBB.
inline constexpr uint32_t kColourRed = 0xFF0000;
inline constexpr uint32_t kColourGreen = 0x008000;
inline constexpr uint32_t kColourNavy = 0x000080;
inline constexpr uint32_t kColourSilver = 0xC0C0C0;

inline constexpr int kHistogramBinCount = 256;
// Chart axes: a little room left of bin 0 and right of bin 255; line tops are 0..1.
inline constexpr double kHistogramXMin = -5.0;
inline constexpr double kHistogramXMax = 260.0;
inline constexpr double kHistogramYMin = 0.0;
inline constexpr double kHistogramYMax = 1.0;

inline constexpr const char* kOffsetWarningText = "Offset might be set incorrectly!";

inline constexpr int kFocusPreviewSize = 40;  // enlarged star square, pixels per side
inline constexpr double kFocusPlotMagnification = 0.8;
inline constexpr int32_t kFocusAbsoluteZTop = 65536;

// A statistics text on the histogram chart, drawn at its left edge.
struct ChartText {
  std::string Text;
  uint32_t Colour = 0;
  double Height = 0.0;  // in chart y units (0..1)
};

struct DisplayFrame {
  // Preview control size (zoomed, aspect-corrected).
  int32_t DisplayWidth = 0;
  int32_t DisplayHeight = 0;

  // Focus analysis results (valid when FocusUpdated; otherwise the focus window keeps what it
  // shows). A frame is analysed when it is new, focus mode is on, the published StarX and
  // StarY are above 40 (clear of the left edge and of the frame's last rows, which the preview
  // shows at the top), and the star's 41 x 41 patch (42 x 42 for colour frames, which average
  // 2 x 2 pixels) lies inside the frame. A star nearer the right edge or the first rows is
  // skipped, not clipped: invented cells would distort the peak and the width.
  bool FocusUpdated = false;
  int32_t FocusPeak = 0;
  bool RecentreStar = false;
  int32_t RecentreX = 0, RecentreY = 0;  // preview-control pixels, for SetStarBox
  int32_t StarCX = 0, StarCY = 0;        // star in display pixels, rows from the top
  double FocusBrightness = 0.0;
  double FocusFwhm = 0.0;
  // What the surface plot shows: raw patch values minus their minimum, [column][row], row 0 at
  // the frame's star row - 20 counted like StarCY.
  FocusPatchGrid PlotGrid{};
  // The star's connected signal above the patch mean (monochrome frames; zeros for colour).
  FocusPatchGrid FocusPatch{};
  int32_t PlotColourTop = 0;  // top of the plot's colour scale
  int32_t PlotZMin = 0, PlotZMax = 0;
  std::string FocusLabel;  // rich text for the focus window's peak/FWHM label
  // The 40 x 40 square of the preview image around the star, as the preview shows it: top
  // row first, 3 bytes per pixel in PreviewRGB's byte order.
  std::array<uint8_t, kFocusPreviewSize * kFocusPreviewSize * 3> FocusPreviewRGB{};

  // Histogram of Pixels (valid when HistogramValid: Pixels given and the frame not empty).
  bool HistogramValid = false;
  std::array<double, kHistogramBinCount> HistogramBins{};  // percent of pixels per bin
  std::array<double, kHistogramBinCount> HistogramLineTops{};  // bin / HistogramScale
  std::array<uint32_t, kHistogramBinCount> HistogramLineColours{};
  int32_t HistogramScale = 1;
  int32_t PixelMin = 0, PixelMax = 0;
  double PixelMean = 0.0;

  // Avg, Min, Max texts; drawn only when StatisticsShown.
  bool StatisticsShown = false;
  std::array<ChartText, 3> StatisticsTexts;
  // The main window's offset warning: set from a frame whose minimum is 0 while statistics
  // are shown, empty otherwise.
  std::string OffsetWarning;
};

}  // namespace telvane
