// ComputeDisplay: preview size, focus view and histogram of one rendered frame.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <limits>

#include "telvane/display.h"
#include "telvane/display_frame.h"
#include "telvane/focus_analysis.h"

namespace telvane {

namespace {

// Part of the aspect ratio's denominator: 10 x 5 um pixels on a 100-pixel-wide frame give a
// 199-pixel-wide preview, not 200.
constexpr double kPixelHeightBias = 0.01;

// The focus view needs the star this far (in display pixels) from the left and bottom edges.
constexpr float kFocusEdgeMargin = 40.0f;
// Beyond this star box width the box has not been narrowed onto the star yet.
constexpr int64_t kWideStarBox = 100;
constexpr int kHalfPatch = kFocusPatchCentre;  // 20
constexpr int kHalfPreview = kFocusPreviewSize / 2;

constexpr double kAvgTextHeight = 0.76;
constexpr double kMinTextHeight = 0.62;
constexpr double kMaxTextHeight = 0.9;
constexpr int32_t kFullScale = 65535;

constexpr const char* kLabelHead = "<FONT size=\"14\"><B><FONT color=\"#FF0000\">MAX: ";
constexpr const char* kLabelMiddle = "<br>FWHM: ";
constexpr const char* kLabelTail = "</FONT></B></FONT>";

// Nearest integer, halves to even (the default rounding mode), saturated to int64.
int64_t Nearest(double x) {
  if (std::isnan(x)) return 0;
  if (x >= 9.0e18) return std::numeric_limits<int64_t>::max();
  if (x <= -9.0e18) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(std::nearbyint(x));
}

int32_t ClampToSize(int64_t v) {
  return static_cast<int32_t>(std::clamp<int64_t>(v, 0, std::numeric_limits<int32_t>::max()));
}

void ComputeDisplaySize(const DisplayInputs& in, DisplayFrame& out) {
  const int64_t w = in.Info.FrameWidth, h = in.Info.FrameHeight, zoom = in.Zoom;
  int64_t dw = w * zoom / 100;
  // Without both pixel sizes there is no aspect ratio; a 0 width would hide the preview.
  const bool sizesKnown = std::isfinite(in.PixelWidth) && std::isfinite(in.PixelHeight) &&
                          in.PixelWidth > 0.0 && in.PixelHeight > 0.0;
  if (in.AspectCorrection && sizesKnown) {
    const double scaled = in.PixelWidth / (in.PixelHeight + kPixelHeightBias) *
                          static_cast<double>(w) * static_cast<double>(zoom);
    dw = Nearest(scaled) / 100;
  }
  out.DisplayWidth = ClampToSize(dw);
  out.DisplayHeight = ClampToSize(h * zoom / 100);
}

// SetStarBox scales its point from the zoomed preview back to frame pixels; hand it the
// preview position of the star so that it lands on the star at any zoom. Rounding up makes
// the round trip exact for zooms of 100 % and more.
int32_t ToPreviewControl(int32_t framePixel, int32_t zoom) {
  if (zoom <= 0) return framePixel;
  return ClampToSize((static_cast<int64_t>(framePixel) * zoom + 99) / 100);
}

// The patch reads columns cx-20 .. cx+20 and buffer rows H-(cy+20) .. H-(cy-20); colour
// frames average 2 x 2 pixels and so read one column and one row further. The 40 x 40 preview
// square lies inside that area. Stars whose patch would leave the frame are skipped rather
// than clipped: cells invented outside the frame would bias the width estimate and the peak.
bool PatchInsideFrame(const DisplayInputs& in, int64_t cx, int64_t cy) {
  const int64_t extra = in.ColourFrame ? 1 : 0;
  const int64_t firstColumn = cx - kHalfPatch, lastColumn = cx + kHalfPatch + extra;
  const int64_t firstRow = in.Info.FrameHeight - (cy + kHalfPatch);
  const int64_t lastRow = in.Info.FrameHeight - (cy - kHalfPatch) + extra;
  return firstColumn >= 0 && lastColumn < in.Width && firstRow >= 0 && lastRow < in.Height;
}

void CopyPreviewSquare(const DisplayInputs& in, int32_t cx, int32_t cy, DisplayFrame& out) {
  if (in.PreviewRGB == nullptr) {
    out.FocusPreviewRGB.fill(0);
    return;
  }
  const size_t stride = static_cast<size_t>(in.Width) * 3;
  // The preview shows buffer row r at display row H - 1 - r (first row at the bottom); the
  // square's top-left corner is display pixel (cx - 20, cy - 20).
  for (int k = 0; k < kFocusPreviewSize; ++k) {
    const int64_t displayRow = cy - kHalfPreview + k;
    const int64_t bufferRow = in.Info.FrameHeight - 1 - displayRow;
    const uint8_t* source = in.PreviewRGB + static_cast<size_t>(bufferRow) * stride +
                            static_cast<size_t>(cx - kHalfPreview) * 3;
    std::memcpy(out.FocusPreviewRGB.data() + static_cast<size_t>(k) * kFocusPreviewSize * 3, source,
                kFocusPreviewSize * 3);
  }
}

void FormatFocusLabel(double brightness, double fwhm, std::string& label) {
  char buffer[160];
  int n = std::snprintf(buffer, sizeof buffer, "%s%5lld%s", kLabelHead,
                        static_cast<long long>(Nearest(brightness)), kLabelMiddle);
  // to_chars: the decimal point must not follow the user's locale.
  const auto converted = std::to_chars(buffer + n, buffer + sizeof buffer - std::strlen(kLabelTail) - 1,
                                       fwhm, std::chars_format::fixed, 1);
  n = static_cast<int>(converted.ptr - buffer);
  std::memcpy(buffer + n, kLabelTail, std::strlen(kLabelTail));
  n += static_cast<int>(std::strlen(kLabelTail));
  label.assign(buffer, static_cast<size_t>(n));
}

void ComputeFocusView(const DisplayInputs& in, DisplayFrame& out) {
  if (!in.NewFrame || !in.FocusMode || in.Pixels == nullptr) return;
  const FrameInfo& info = in.Info;
  // Also rejects NaN; the upper bounds keep the rounding below in range.
  if (!(info.StarX > kFocusEdgeMargin && info.StarY > kFocusEdgeMargin)) return;
  if (!(info.StarX < static_cast<float>(info.FrameWidth) && info.StarY < static_cast<float>(info.FrameHeight)))
    return;
  if (info.FrameWidth != in.Width || info.FrameHeight != in.Height) return;

  const auto cx = static_cast<int32_t>(Nearest(info.StarX));
  const auto cy = static_cast<int32_t>(Nearest(info.StarY));
  out.StarCX = cx;
  out.StarCY = cy;

  if (static_cast<int64_t>(in.StarBox.X2) - in.StarBox.X1 > kWideStarBox) {
    out.RecentreStar = true;
    out.RecentreX = ToPreviewControl(cx, in.Zoom);
    out.RecentreY = ToPreviewControl(cy, in.Zoom);
  }

  if (!PatchInsideFrame(in, cx, cy)) return;

  CopyPreviewSquare(in, cx, cy, out);

  const size_t width = static_cast<size_t>(in.Width);
  auto pixel = [&](int64_t row, int64_t column) -> int32_t {
    return in.Pixels[static_cast<size_t>(row) * width + static_cast<size_t>(column)];
  };

  int32_t min = 0, max = 0;
  if (in.ColourFrame) {
    out.FocusBrightness = info.StarBrightness;
    out.FocusFwhm = static_cast<double>(info.StarXDiameter) + info.StarYDiameter + 2;
    min = kFullScale;
    for (int i = 0; i < kFocusPatchSize; ++i) {
      for (int j = 0; j < kFocusPatchSize; ++j) {
        const int64_t row = static_cast<int64_t>(info.FrameHeight) - (cy - kHalfPatch + j);
        const int64_t column = cx - kHalfPatch + i;
        // Mean of a 2 x 2 block: one whole colour cell of the mosaic.
        const int32_t value = (pixel(row, column) + pixel(row, column + 1) + pixel(row + 1, column) +
                               pixel(row + 1, column + 1)) >>
                              2;
        min = std::min(min, value);
        max = std::max(max, value);
        out.PlotGrid[i][j] = value;
      }
    }
  } else {
    for (int i = 0; i < kFocusPatchSize; ++i) {
      for (int j = 0; j < kFocusPatchSize; ++j) {
        const int64_t row = static_cast<int64_t>(info.FrameHeight) - (cy - kHalfPatch + j);
        const int32_t value = pixel(row, cx - kHalfPatch + i);
        out.FocusPatch[i][j] = value;
        out.PlotGrid[i][j] = value;
      }
    }
    const MonoPatchResult result = AnalyseMonoPatch(out.FocusPatch);
    min = result.Min;
    max = result.Max;
    out.FocusBrightness = info.StarBrightness;
    out.FocusFwhm = result.Fwhm;
  }

  for (auto& column : out.PlotGrid) {
    for (int32_t& value : column) value -= min;
  }
  const int32_t peak = max - min;
  out.FocusPeak = peak;
  out.PlotColourTop = peak * 2 / 3;
  out.PlotZMin = 0;
  out.PlotZMax = in.AbsoluteZ ? kFocusAbsoluteZTop : peak;
  FormatFocusLabel(out.FocusBrightness, out.FocusFwhm, out.FocusLabel);
  out.FocusUpdated = true;
}

void FormatStatistic(const char* name, int64_t value, uint32_t colour, double height, ChartText& text) {
  char buffer[48];
  const int n = std::snprintf(buffer, sizeof buffer, "%s: %.5lld", name, static_cast<long long>(value));
  text.Text.assign(buffer, static_cast<size_t>(n));
  text.Colour = colour;
  text.Height = height;
}

void ComputeHistogram(const DisplayInputs& in, DisplayFrame& out) {
  if (in.Pixels == nullptr || in.Width <= 0 || in.Height <= 0) return;
  const size_t count = static_cast<size_t>(in.Width) * static_cast<size_t>(in.Height);

  // Four interleaved tallies: neighbouring pixels mostly fall into the same bin, and one
  // counter per bin would make every increment wait for the previous one. Min, max and sum
  // are taken per block while the block is still in the L1 cache, in a loop the compiler
  // vectorises; the frame is still read from memory once.
  constexpr size_t kBlock = 4096;  // 4096 x 65535 fits the 32-bit block sum
  constexpr size_t kFlushEvery = size_t{1} << 30;  // before a 32-bit tally could overflow
  uint32_t tallies[4][kHistogramBinCount] = {};
  uint64_t wide[kHistogramBinCount] = {};
  uint16_t min = kFullScale, max = 0;
  uint64_t sum = 0;
  size_t sinceFlush = 0;
  for (size_t start = 0; start < count; start += kBlock) {
    const size_t n = std::min(kBlock, count - start);
    const uint16_t* q = in.Pixels + start;
    size_t i = 0;
    for (; i + 4 <= n; i += 4) {
      ++tallies[0][q[i] >> 8];
      ++tallies[1][q[i + 1] >> 8];
      ++tallies[2][q[i + 2] >> 8];
      ++tallies[3][q[i + 3] >> 8];
    }
    for (; i < n; ++i) ++tallies[0][q[i] >> 8];
    uint16_t blockMin = kFullScale, blockMax = 0;
    uint32_t blockSum = 0;
    for (size_t k = 0; k < n; ++k) {
      blockMin = std::min(blockMin, q[k]);
      blockMax = std::max(blockMax, q[k]);
      blockSum += q[k];
    }
    min = std::min(min, blockMin);
    max = std::max(max, blockMax);
    sum += blockSum;
    sinceFlush += n;
    if (sinceFlush >= kFlushEvery || start + n == count) {
      for (int b = 0; b < kHistogramBinCount; ++b) {
        wide[b] += static_cast<uint64_t>(tallies[0][b]) + tallies[1][b] + tallies[2][b] + tallies[3][b];
        tallies[0][b] = tallies[1][b] = tallies[2][b] = tallies[3][b] = 0;
      }
      sinceFlush = 0;
    }
  }

  const double pixels = static_cast<double>(count);
  int64_t largest = 0;
  for (int b = 0; b < kHistogramBinCount; ++b) {
    out.HistogramBins[b] = static_cast<double>(wide[b]) * 100.0 / in.Width / in.Height;
    // The two end bins hold clipped pixels and would flatten the rest of the chart.
    if (b != 0 && b != kHistogramBinCount - 1) largest = std::max(largest, Nearest(out.HistogramBins[b]));
  }
  out.HistogramScale = static_cast<int32_t>(1 + largest);
  for (int b = 0; b < kHistogramBinCount; ++b) {
    out.HistogramLineTops[b] = out.HistogramBins[b] / out.HistogramScale;
    out.HistogramLineColours[b] = (b == 0 || b == kHistogramBinCount - 1) ? kColourRed : kColourSilver;
  }
  out.PixelMin = static_cast<int32_t>(min);
  out.PixelMax = static_cast<int32_t>(max);
  out.PixelMean = static_cast<double>(sum) / pixels;
  out.HistogramValid = true;

  if (in.ShowStatistics) {
    out.StatisticsShown = true;
    FormatStatistic("Avg", Nearest(out.PixelMean), kColourNavy, kAvgTextHeight, out.StatisticsTexts[0]);
    FormatStatistic("Min", min, min == 0 ? kColourRed : kColourGreen, kMinTextHeight, out.StatisticsTexts[1]);
    FormatStatistic("Max", max, max == kFullScale ? kColourRed : kColourGreen, kMaxTextHeight,
                    out.StatisticsTexts[2]);
    if (min == 0) out.OffsetWarning.assign(kOffsetWarningText);
  }
}

// Resets the record to its defaults while keeping the strings' storage.
void ResetFrame(DisplayFrame& out) {
  out.DisplayWidth = out.DisplayHeight = 0;
  out.FocusUpdated = false;
  out.FocusPeak = 0;
  out.RecentreStar = false;
  out.RecentreX = out.RecentreY = 0;
  out.StarCX = out.StarCY = 0;
  out.FocusBrightness = out.FocusFwhm = 0.0;
  for (auto& column : out.PlotGrid) column.fill(0);
  for (auto& column : out.FocusPatch) column.fill(0);
  out.PlotColourTop = out.PlotZMin = out.PlotZMax = 0;
  out.FocusLabel.clear();
  out.FocusPreviewRGB.fill(0);
  out.HistogramValid = false;
  out.HistogramBins.fill(0.0);
  out.HistogramLineTops.fill(0.0);
  out.HistogramLineColours.fill(0);
  out.HistogramScale = 1;
  out.PixelMin = out.PixelMax = 0;
  out.PixelMean = 0.0;
  out.StatisticsShown = false;
  for (ChartText& text : out.StatisticsTexts) {
    text.Text.clear();
    text.Colour = 0;
    text.Height = 0.0;
  }
  out.OffsetWarning.clear();
}

}  // namespace

void ComputeDisplay(const DisplayInputs& in, DisplayFrame& out) {
  ResetFrame(out);
  ComputeDisplaySize(in, out);
  ComputeFocusView(in, out);
  ComputeHistogram(in, out);
}

}  // namespace telvane
