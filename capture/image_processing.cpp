#include "telvane/image_processing.h"

#include "process.h"

namespace telvane {
namespace {

class LibProcess final : public ImageProcessing {
 public:
  void denoise(uint16_t* frame, int32_t width, int32_t height) override {
    ::denoise(frame, width, height);
  }
  int32_t FindStar(const uint16_t* frame, int32_t width, int32_t height, int32_t x1, int32_t y1,
                   int32_t x2, int32_t y2) override {
    return ::FindStar(frame, width, height, x1, y1, x2, y2);
  }
  float GetStarX() override { return ::GetStarX(); }
  float GetStarY() override { return ::GetStarY(); }
  int32_t GetXdia() override { return ::GetXdia(); }
  int32_t GetYdia() override { return ::GetYdia(); }
  int32_t GetBright() override { return ::GetBright(); }
  void bufferCopy(const void* source, void* destination, int32_t byteCount) override {
    ::bufferCopy(source, destination, byteCount);
  }
  void AutoHistogram(const uint16_t* frame, int32_t width, int32_t height, int32_t* low,
                     int32_t* high) override {
    ::AutoHistogram(frame, width, height, low, high);
  }
  void HistogramPreview(uint16_t* frame, int32_t width, int32_t height, int32_t low,
                        int32_t high) override {
    ::HistogramPreview(frame, width, height, low, high);
  }
  void HistogramStretch(uint16_t* frame, int32_t width, int32_t height) override {
    ::HistogramStretch(frame, width, height);
  }
  void HFLIP(uint8_t* rgb, int32_t width, int32_t height) override { ::HFLIP(rgb, width, height); }
  void INVERT(uint8_t* rgb, int32_t width, int32_t height) override {
    ::INVERT(rgb, width, height);
  }
};

}  // namespace

ImageProcessing& LibProcessImages() {
  static LibProcess instance;
  return instance;
}

}  // namespace telvane
