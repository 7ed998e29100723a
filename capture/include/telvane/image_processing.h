// The image functions the capture loop needs, behind a small interface so the loop can be
// driven against a recording double in tests. LibProcessImages forwards to libprocess.
//
// Threading: called only from the capture thread. libprocess keeps one last-star record for
// FindStar and the getters, so one instance per process is all that makes sense.
#pragma once

#include <cstdint>

namespace telvane {

class ImageProcessing {
 public:
  virtual ~ImageProcessing() = default;
  virtual void denoise(uint16_t* frame, int32_t width, int32_t height) = 0;
  virtual int32_t FindStar(const uint16_t* frame, int32_t width, int32_t height, int32_t x1,
                           int32_t y1, int32_t x2, int32_t y2) = 0;
  virtual float GetStarX() = 0;
  virtual float GetStarY() = 0;
  virtual int32_t GetXdia() = 0;
  virtual int32_t GetYdia() = 0;
  virtual int32_t GetBright() = 0;
  virtual void bufferCopy(const void* source, void* destination, int32_t byteCount) = 0;
  virtual void AutoHistogram(const uint16_t* frame, int32_t width, int32_t height,
                             int32_t* low, int32_t* high) = 0;
  virtual void HistogramPreview(uint16_t* frame, int32_t width, int32_t height, int32_t low,
                                int32_t high) = 0;
  virtual void HistogramStretch(uint16_t* frame, int32_t width, int32_t height) = 0;
  virtual void HFLIP(uint8_t* rgb, int32_t width, int32_t height) = 0;
  virtual void INVERT(uint8_t* rgb, int32_t width, int32_t height) = 0;
};

// The shared libprocess instance (stateless apart from the library's own last-star record).
ImageProcessing& LibProcessImages();

}  // namespace telvane
