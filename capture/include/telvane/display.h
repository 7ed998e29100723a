// The per-frame display computation: what the preview, the histogram chart and the focus
// view show for one rendered frame, computed without any GUI type. The capture thread fills
// DisplayInputs, ComputeDisplay fills a DisplayFrame, and the DisplayHost draws it.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace telvane {

struct StarBoxRect {
  int32_t X1 = 0, Y1 = 0, X2 = 0, Y2 = 0;
};

// The frame summary published after each render (rows of StarY counted from the bottom).
struct FrameInfo {
  int32_t FrameWidth = 0;
  int32_t FrameHeight = 0;
  float StarX = 0.0f;
  float StarY = 0.0f;
  int32_t StarXDiameter = 0;
  int32_t StarYDiameter = 0;
  int32_t StarBrightness = 0;
};

// Everything the display computation reads. Pointers stay valid for the duration of the call
// (the capture thread is blocked until the frame is drawn).
struct DisplayInputs {
  const uint16_t* Pixels = nullptr;   // Width x Height, first row first
  const uint8_t* PreviewRGB = nullptr;  // Width x Height x 3
  int32_t Width = 0, Height = 0;
  int32_t Zoom = 100;  // percent
  bool AspectCorrection = false;
  bool NewFrame = false;
  bool FocusMode = false;
  bool ShowStatistics = false;
  bool AbsoluteZ = false;
  bool ColourFrame = false;
  StarBoxRect StarBox;
  double PixelWidth = 0.0, PixelHeight = 0.0;
  FrameInfo Info;
};

struct DisplayFrame;  // defined in display_frame.h

// Computes the display record for one frame; stateless. When the focus analysis wants the
// star box narrowed it sets DisplayFrame::RecentreStar and (RecentreX, RecentreY) in
// preview-control coordinates, and the capture thread passes them to SetStarBox. The capture
// thread also compares DisplayWidth/DisplayHeight with the previous frame's and posts
// MSG_PREVIEW_RESIZED when they differ.
void ComputeDisplay(const DisplayInputs& in, DisplayFrame& out);

// Draws a computed frame. Called on the capture thread; must not return until the frame has
// been drawn (Qt: BlockingQueuedConnection onto the UI thread).
class DisplayHost {
 public:
  virtual ~DisplayHost() = default;
  virtual void UpdateDisplay(const DisplayInputs& in, const DisplayFrame& frame) = 0;
};

}  // namespace telvane
