#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "telvane/display.h"
#include "telvane/display_frame.h"

namespace telvane {
namespace {

// A frame with its preview image, sized exactly so that AddressSanitizer sees any read past
// either buffer.
struct Scene {
  int32_t width, height;
  std::vector<uint16_t> pixels;
  std::vector<uint8_t> rgb;
  DisplayInputs in;

  Scene(int32_t w, int32_t h, uint16_t background)
      : width(w), height(h), pixels(static_cast<size_t>(w) * h, background), rgb(static_cast<size_t>(w) * h * 3, 0) {
    in.Pixels = pixels.data();
    in.PreviewRGB = rgb.data();
    in.Width = w;
    in.Height = h;
    in.Info.FrameWidth = w;
    in.Info.FrameHeight = h;
  }
  uint16_t& at(int x, int row) { return pixels[static_cast<size_t>(row) * width + x]; }
  // Publishes a star found at buffer (x, row) the way the capture thread does, and asks for
  // the focus view.
  void Star(float x, float row) {
    in.Info.StarX = x;
    in.Info.StarY = static_cast<float>(height) - row;
    in.NewFrame = true;
    in.FocusMode = true;
  }
  void Gaussian(double x, double row, double sigma, double amplitude) {
    for (int r = 0; r < height; ++r) {
      for (int c = 0; c < width; ++c) {
        const double d2 = (c - x) * (c - x) + (r - row) * (r - row);
        at(c, r) = static_cast<uint16_t>(at(c, r) + std::lround(amplitude * std::exp(-d2 / (2 * sigma * sigma))));
      }
    }
  }
};

std::unique_ptr<DisplayFrame> Compute(const DisplayInputs& in) {
  auto frame = std::make_unique<DisplayFrame>();
  ComputeDisplay(in, *frame);
  return frame;
}

struct SizeCase {
  int32_t width, height, zoom;
  bool aspect;
  double pixelWidth, pixelHeight;
  int32_t displayWidth, displayHeight;
};

class DisplaySize : public ::testing::TestWithParam<SizeCase> {};

TEST_P(DisplaySize, ZoomAndAspect) {
  const SizeCase& c = GetParam();
  DisplayInputs in;  // the size needs no pixels
  in.Info.FrameWidth = c.width;
  in.Info.FrameHeight = c.height;
  in.Zoom = c.zoom;
  in.AspectCorrection = c.aspect;
  in.PixelWidth = c.pixelWidth;
  in.PixelHeight = c.pixelHeight;
  const auto frame = Compute(in);
  EXPECT_EQ(frame->DisplayWidth, c.displayWidth);
  EXPECT_EQ(frame->DisplayHeight, c.displayHeight);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DisplaySize,
    ::testing::Values(SizeCase{100, 50, 100, true, 10, 5, 199, 50},     // 10 / 5.01 x 100 x 100 = 19960.08
                      SizeCase{100, 50, 100, false, 10, 5, 100, 50},    // no correction
                      SizeCase{100, 50, 50, false, 10, 5, 50, 25},      // zoom
                      SizeCase{399, 10, 1, true, 0.5, 0.99, 2, 0},      // 199.5 rounds to 200, not 199
                      SizeCase{1000000, 10, 1000, true, 3, 0.99, 30000000, 100},  // past 32 bits
                      SizeCase{100, 50, 100, true, 10, 0, 100, 50},     // unknown pixel size: no correction
                      SizeCase{100, 50, 100, true, 0, 5, 100, 50}));

// Histogram statistics: texts, colours and the offset warning.
struct StatisticsCase {
  const char* name;
  std::vector<uint16_t> pixels;
  bool show;
  const char* avg;
  const char* min;
  uint32_t minColour;
  const char* max;
  uint32_t maxColour;
  const char* warning;
};

class Statistics : public ::testing::TestWithParam<StatisticsCase> {};

TEST_P(Statistics, TextsColoursAndWarning) {
  const StatisticsCase& c = GetParam();
  Scene s(static_cast<int32_t>(c.pixels.size()), 1, 0);
  s.pixels = c.pixels;
  s.in.Pixels = s.pixels.data();
  s.in.ShowStatistics = c.show;
  const auto f = Compute(s.in);
  ASSERT_TRUE(f->HistogramValid);
  EXPECT_EQ(f->StatisticsShown, c.show);
  EXPECT_EQ(f->OffsetWarning, c.warning);
  if (!c.show) {
    EXPECT_EQ(f->StatisticsTexts[1].Text, "");
    return;
  }
  EXPECT_EQ(f->StatisticsTexts[0].Text, c.avg);
  EXPECT_EQ(f->StatisticsTexts[0].Colour, kColourNavy);
  EXPECT_EQ(f->StatisticsTexts[0].Height, 0.76);
  EXPECT_EQ(f->StatisticsTexts[1].Text, c.min);
  EXPECT_EQ(f->StatisticsTexts[1].Colour, c.minColour);
  EXPECT_EQ(f->StatisticsTexts[1].Height, 0.62);
  EXPECT_EQ(f->StatisticsTexts[2].Text, c.max);
  EXPECT_EQ(f->StatisticsTexts[2].Colour, c.maxColour);
  EXPECT_EQ(f->StatisticsTexts[2].Height, 0.9);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Statistics,
    ::testing::Values(
        StatisticsCase{"MinZero", {0, 1000, 2000}, true, "Avg: 01000", "Min: 00000", kColourRed, "Max: 02000",
                       kColourGreen, "Offset might be set incorrectly!"},
        StatisticsCase{"Saturated", {500, 65535, 1000}, true, "Avg: 22345", "Min: 00500", kColourGreen,
                       "Max: 65535", kColourRed, ""},
        StatisticsCase{"Ordinary", {7, 12}, true, "Avg: 00010", "Min: 00007", kColourGreen, "Max: 00012",
                       kColourGreen, ""},
        StatisticsCase{"MeanHalfToEven", {2, 3}, true, "Avg: 00002", "Min: 00002", kColourGreen, "Max: 00003",
                       kColourGreen, ""},
        // Hidden statistics neither draw texts nor raise the warning.
        StatisticsCase{"Hidden", {0, 65535}, false, "", "", 0, "", 0, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Histogram, PercentBinsScaleAndLines) {
  Scene s(4, 1, 0);
  s.pixels = {0, 256, 511, 65535};  // bins 0, 1, 1, 255
  s.in.Pixels = s.pixels.data();
  const auto f = Compute(s.in);
  EXPECT_EQ(f->HistogramBins[0], 25.0);
  EXPECT_EQ(f->HistogramBins[1], 50.0);
  EXPECT_EQ(f->HistogramBins[2], 0.0);
  EXPECT_EQ(f->HistogramBins[255], 25.0);
  EXPECT_EQ(f->HistogramScale, 51) << "1 + largest of bins 1..254";
  EXPECT_DOUBLE_EQ(f->HistogramLineTops[1], 50.0 / 51);
  EXPECT_DOUBLE_EQ(f->HistogramLineTops[255], 25.0 / 51);
  EXPECT_EQ(f->HistogramLineColours[0], kColourRed);
  EXPECT_EQ(f->HistogramLineColours[1], kColourSilver);
  EXPECT_EQ(f->HistogramLineColours[254], kColourSilver);
  EXPECT_EQ(f->HistogramLineColours[255], kColourRed);
  EXPECT_EQ(f->PixelMin, 0);
  EXPECT_EQ(f->PixelMax, 65535);
  EXPECT_DOUBLE_EQ(f->PixelMean, (256 + 511 + 65535) / 4.0);
}

TEST(Histogram, MatchesAPlainCountAcrossBlocksAndTails) {
  // 5917 pixels: more than one block of the single pass, and a tail that is no multiple of 4.
  Scene s(97, 61, 0);
  for (size_t i = 0; i < s.pixels.size(); ++i) s.pixels[i] = static_cast<uint16_t>((i * 7919u) % 60000u + 100u);
  s.pixels[5000] = 65535;  // extremes late in the frame, outside the first block
  s.pixels[5916] = 7;
  const auto f = Compute(s.in);
  std::vector<int> counts(256, 0);
  uint64_t sum = 0;
  for (uint16_t v : s.pixels) {
    ++counts[v >> 8];
    sum += v;
  }
  for (int b = 0; b < 256; ++b) EXPECT_DOUBLE_EQ(f->HistogramBins[b], counts[b] * 100.0 / 97 / 61) << "bin " << b;
  EXPECT_EQ(f->PixelMin, 7);
  EXPECT_EQ(f->PixelMax, 65535);
  EXPECT_DOUBLE_EQ(f->PixelMean, static_cast<double>(sum) / 5917);
}

// The focus view reads the patch with rows flipped: patch row j is buffer row
// FrameHeight - (CY - 20 + j), patch column i is buffer column CX - 20 + i.
TEST(FocusView, PatchAndPreviewSquareFollowTheRowFlip) {
  Scene s(120, 100, 1000);
  s.Gaussian(70, 50, 1.2, 30000);
  s.at(72, 47) = 5000;  // a marker two columns right, three buffer rows up of the star
  s.rgb[(47 * 120 + 72) * 3 + 0] = 11;
  s.rgb[(47 * 120 + 72) * 3 + 1] = 22;
  s.rgb[(47 * 120 + 72) * 3 + 2] = 33;
  s.in.Info.StarBrightness = 31000;
  s.Star(70, 50);
  const auto f = Compute(s.in);
  ASSERT_TRUE(f->FocusUpdated);
  EXPECT_EQ(f->StarCX, 70);
  EXPECT_EQ(f->StarCY, 50);
  EXPECT_EQ(f->FocusPeak, 30000);
  EXPECT_EQ(f->PlotGrid[20][20], 30000) << "star at the patch centre";
  const int markerRow = 100 - 47 - 50 + 20;  // j = FrameHeight - row - CY + 20 = 23
  EXPECT_EQ(f->PlotGrid[22][markerRow], 5000 - 1000);
  EXPECT_GT(f->FocusPatch[20][20], 0);
  EXPECT_EQ(f->FocusBrightness, 31000);
  EXPECT_LT(f->FocusFwhm, 10.0);

  // The preview shows buffer row r at display row 99 - r; the square starts at display row
  // CY - 20 = 30 and column CX - 20 = 50.
  const int squareRow = (99 - 47) - 30, squareColumn = 72 - 50;
  const uint8_t* p = &f->FocusPreviewRGB[(squareRow * kFocusPreviewSize + squareColumn) * 3];
  EXPECT_EQ(p[0], 11);
  EXPECT_EQ(p[1], 22);
  EXPECT_EQ(p[2], 33);
}

struct GateCase {
  const char* name;
  float starX, starRow;  // buffer position of the published star
  bool newFrame, focusMode;
  bool updated;
};

class FocusGate : public ::testing::TestWithParam<GateCase> {};

TEST_P(FocusGate, LeavesTheFocusViewAloneUnlessAllowed) {
  const GateCase& c = GetParam();
  Scene s(200, 150, 1000);
  s.Gaussian(100, 75, 2, 20000);
  s.Star(c.starX, c.starRow);
  s.in.NewFrame = c.newFrame;
  s.in.FocusMode = c.focusMode;
  EXPECT_EQ(Compute(s.in)->FocusUpdated, c.updated);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FocusGate,
    ::testing::Values(GateCase{"Centre", 100, 75, true, true, true},
                      GateCase{"StarXNotAbove40", 40, 75, true, true, false},           // StarX not above 40
                      GateCase{"StarXJustAbove40", 40.4f, 75, true, true, true},    // CX rounds to 40
                      GateCase{"StarYNotAbove40", 100, 150 - 40, true, true, false},  // StarY = 150 - 110
                      GateCase{"NoNewFrame", 100, 75, false, true, false},
                      GateCase{"NotFocusing", 100, 75, true, false, false},
                      // Right edge and first buffer rows: the patch would leave the frame, so it is skipped.
                      GateCase{"RightEdge", 180, 75, true, true, false}, GateCase{"NearFirstRow", 100, 19, true, true, false},
                      GateCase{"RightFits", 179, 75, true, true, true}, GateCase{"FirstRowsFit", 100, 20, true, true, true}),
    [](const auto& info) { return std::string(info.param.name); });

// Stars everywhere on frames small and large, monochrome and colour: every frame whose patch
// fits is analysed, every other one skipped, and nothing is read outside the buffers (run
// under AddressSanitizer).
TEST(FocusView, StarsNearEveryEdgeNeverReadOutsideTheFrame) {
  const int sizes[][2] = {{1, 1}, {10, 10}, {41, 41}, {61, 61}, {62, 62}, {63, 64}, {90, 70}};
  for (bool colour : {false, true}) {
    for (const auto& size : sizes) {
      const int w = size[0], h = size[1];
      Scene s(w, h, 100);
      s.in.ColourFrame = colour;
      int analysed = 0;
      // Positions around every boundary of the rules, halves included (they round to even).
      auto around = [](int extent) {
        std::vector<float> v = {-3, 0, 0.5f, 19.5f, 20, 20.5f, 21, 39.5f, 40, 40.4f, 40.5f, 40.6f, 41, 41.5f};
        for (float d : {22.0f, 21.5f, 21.0f, 20.5f, 20.0f, 19.5f, 0.5f, 0.0f, -3.0f}) v.push_back(extent - d);
        return v;
      };
      for (float x : around(w)) {
        for (float y : around(h)) {
          s.in.Info.StarX = x;
          s.in.Info.StarY = y;
          s.in.NewFrame = s.in.FocusMode = true;
          const auto f = Compute(s.in);
          const long cx = std::lrint(x), cy = std::lrint(y), e = colour ? 1 : 0;
          const bool fits = x > 40 && y > 40 && cx - 20 >= 0 && cx + 20 + e <= w - 1 && h - cy - 20 >= 0 &&
                            h - cy + 20 + e <= h - 1;
          ASSERT_EQ(f->FocusUpdated, fits) << w << "x" << h << " colour " << colour << " star " << x << "," << y;
          analysed += fits;
        }
      }
      if (w >= 62 && h >= 62 && !colour) {
        EXPECT_GT(analysed, 0) << w << "x" << h;
      }
    }
  }
}

TEST(FocusView, ColourFrameAveragesTwoByTwoAndUsesTheFinderWidths) {
  Scene s(100, 100, 1000);
  s.in.ColourFrame = true;
  s.Star(50, 50);  // CY = 50: patch centre at buffer row 100 - 50 = 50
  s.at(50, 50) = 4000;
  s.at(51, 50) = 8000;
  s.at(50, 51) = 12000;
  s.at(51, 51) = 16001;  // (4000 + 8000 + 12000 + 16001) >> 2 = 10000
  s.in.Info.StarBrightness = 12345;
  s.in.Info.StarXDiameter = 3;
  s.in.Info.StarYDiameter = 4;
  auto f = Compute(s.in);
  ASSERT_TRUE(f->FocusUpdated);
  EXPECT_EQ(f->PlotGrid[20][20], 9000);
  EXPECT_EQ(f->PlotGrid[19][20], (1000 * 2 + 4000 + 12000) / 4 - 1000);
  EXPECT_EQ(f->FocusPeak, 9000);
  EXPECT_EQ(f->PlotColourTop, 6000);
  EXPECT_EQ(f->PlotZMax, 9000);
  EXPECT_EQ(f->FocusPatch[20][20], 0);
  EXPECT_EQ(f->FocusLabel,
            "<FONT size=\"14\"><B><FONT color=\"#FF0000\">MAX: 12345<br>FWHM: 9.0</FONT></B></FONT>");
  s.in.AbsoluteZ = true;
  f = Compute(s.in);
  EXPECT_EQ(f->PlotZMin, 0);
  EXPECT_EQ(f->PlotZMax, 65536);
}

TEST(FocusView, FlatMonochromePatchReportsNoWidth) {
  Scene s(100, 100, 500);
  s.in.Info.StarBrightness = 500;
  s.Star(50, 50);
  const auto f = Compute(s.in);
  ASSERT_TRUE(f->FocusUpdated);
  EXPECT_EQ(f->FocusFwhm, 999.0);
  EXPECT_EQ(f->FocusPeak, 0);
  EXPECT_EQ(f->FocusLabel,
            "<FONT size=\"14\"><B><FONT color=\"#FF0000\">MAX:   500<br>FWHM: 999.0</FONT></B></FONT>");
}

// The star box is narrowed onto the star while it is wider than 100 pixels. SetStarBox takes
// preview-control pixels and divides by the zoom, so the request must survive that division.
TEST(FocusView, RecentreRequestLandsOnTheStarAtAnyZoom) {
  Scene s(300, 200, 1000);
  s.Star(123, 77);  // CX 123, CY 123
  for (int zoom : {100, 200, 300, 50, 33, 25}) {
    s.in.Zoom = zoom;
    s.in.StarBox = {30, 30, 131, 170};  // 101 wide
    auto f = Compute(s.in);
    ASSERT_TRUE(f->RecentreStar);
    const int backX = f->RecentreX * 100 / zoom, backY = f->RecentreY * 100 / zoom;
    if (zoom >= 100) {
      EXPECT_EQ(backX, 123) << zoom;
      EXPECT_EQ(backY, 123) << zoom;
    } else {  // a control pixel covers several frame pixels
      EXPECT_GE(backX, 123);
      EXPECT_LT(backX, 123 + 100 / zoom + 1) << zoom;
      EXPECT_GE(backY, 123);
      EXPECT_LT(backY, 123 + 100 / zoom + 1) << zoom;
    }
    s.in.StarBox = {30, 30, 130, 170};  // 100 wide: already narrowed
    f = Compute(s.in);
    EXPECT_FALSE(f->RecentreStar);
  }
}

// The record is rewritten from the inputs alone, and reusing it costs no new string storage.
TEST(ComputeDisplay, StatelessAndReusesTheRecord) {
  Scene s(120, 100, 1000);
  s.Gaussian(60, 50, 2, 20000);
  s.at(0, 0) = 0;
  s.in.ShowStatistics = true;
  s.Star(60, 50);
  DisplayInputs plain = s.in;
  plain.FocusMode = false;
  plain.ShowStatistics = false;

  DisplayFrame frame;
  ComputeDisplay(s.in, frame);
  ComputeDisplay(s.in, frame);  // storage now sized
  const auto first = std::make_unique<DisplayFrame>(frame);
  const char* label = frame.FocusLabel.data();
  const char* warning = frame.OffsetWarning.data();

  ComputeDisplay(plain, frame);
  EXPECT_FALSE(frame.FocusUpdated);
  EXPECT_EQ(frame.FocusLabel, "");
  EXPECT_EQ(frame.OffsetWarning, "");
  EXPECT_EQ(frame.PlotGrid[20][20], 0);

  ComputeDisplay(s.in, frame);
  EXPECT_EQ(frame.FocusLabel, first->FocusLabel);
  EXPECT_EQ(frame.PlotGrid, first->PlotGrid);
  EXPECT_EQ(frame.FocusPatch, first->FocusPatch);
  EXPECT_EQ(frame.FocusFwhm, first->FocusFwhm);
  EXPECT_EQ(frame.HistogramBins, first->HistogramBins);
  EXPECT_EQ(frame.OffsetWarning, first->OffsetWarning);
  EXPECT_EQ(frame.FocusLabel.data(), label);
  EXPECT_EQ(frame.OffsetWarning.data(), warning);
}

}  // namespace
}  // namespace telvane
