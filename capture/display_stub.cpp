// Placeholder until the preview/focus computation lands: reports the unzoomed size only.
#include "telvane/display.h"
#include "telvane/display_frame.h"

namespace telvane {

void ComputeDisplay(const DisplayInputs& in, DisplayFrame& out) {
  out = DisplayFrame{};
  out.DisplayWidth = in.Width * in.Zoom / 100;
  out.DisplayHeight = in.Height * in.Zoom / 100;
}

}  // namespace telvane
