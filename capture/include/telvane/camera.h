// TCamera: the abstract camera every binding implements.
//
// Threading: the capture thread calls Poll, Expose, SetBufferMode, ReadBuffer, BufferPointer,
// SelectMode, SetExposureMode, SetGain, SetOffset and TemperatureText. The UI thread calls
// SetGain/SetOffset (through TVideoCapture), CancelExposure, ModeStatusText, SetColourMode,
// SetDarkFrame, the window calls and the read-only queries, possibly while Expose runs on the
// capture thread; bindings must accept those concurrently. Exposure and readout are started by
// exactly one thread at a time (the capture thread, or the script while the capture thread is
// parked). Fields that both threads touch are atomics.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace telvane {

class TCamera {
 public:
  TCamera() = default;
  TCamera(const TCamera&) = delete;
  TCamera& operator=(const TCamera&) = delete;
  virtual ~TCamera() = default;

  // Full sensor size at binning 1, set by Create.
  std::atomic<int32_t> Width{0};
  std::atomic<int32_t> Height{0};
  // First column and row of the sub-frame passed to every Expose (sensor pixels).
  std::atomic<int32_t> XOffset{0};
  std::atomic<int32_t> YOffset{0};
  // Pixel size of the current mode in micrometres (grows with binning).
  std::atomic<double> PixelWidth{0.0};
  std::atomic<double> PixelHeight{0.0};
  // Cooled cameras: last polled values, read by the UI on MSG_TEMPERATURE_UPDATED.
  std::atomic<double> Temperature{0.0};          // degrees Celsius
  std::atomic<int32_t> SetPoint{0};              // degrees Celsius
  std::atomic<double> ExposureTemperature{99.0}; // sampled at exposure start; 99 until the first
  std::atomic<double> CoolerPower{0.0};
  std::atomic<double> SupplyVoltage{0.0};

  // The operations, in their fixed order.
  virtual std::string CameraName() = 0;                                            // 0
  virtual int32_t ModeCount() = 0;                                                 // 1
  // Makes Mode current and reports its name, delivered frame size, binning code and whether
  // the frame is a colour mosaic. An unknown Mode leaves the out arguments as they are on
  // driver-library bindings. Updates PixelWidth/PixelHeight/XOffset/YOffset.
  virtual void SelectMode(int32_t Mode, std::string& ModeName, int32_t& FrameWidth,
                          int32_t& FrameHeight, int32_t& Binning, bool& ColourFrame) = 0;  // 2
  virtual void Poll() {}                                                           // 3
  virtual void ModeStatusText(int32_t /*Mode*/, std::string& Text) { Text.clear(); }  // 4
  virtual void ShowTemperatureWindow(bool /*Visible*/) {}                          // 5
  virtual bool HasCooler() { return false; }                                       // 6
  virtual std::string TemperatureText() { return "N/A"; }                          // 7
  virtual int32_t Open(int32_t DeviceIndex) = 0;                                   // 8: 0 = opened
  virtual int32_t IsExposing() = 0;                                                // 9
  virtual void SetBufferMode(int32_t /*Mode*/) {}                                  // 10
  // Copies PixelCount pixels of the last frame into Dest in the current buffer mode
  // (2 bytes per pixel in modes 0 and 5, 3 in modes 2 and 4).
  virtual int32_t ReadBuffer(void* Dest, int32_t PixelCount) = 0;                  // 11
  virtual int32_t StartExposure(int32_t Milliseconds, int32_t XOffset, int32_t YOffset,
                                int32_t Width, int32_t Height, int32_t Binning,
                                int32_t Option) = 0;                               // 12
  // Blocks until the frame is in the driver's image buffer (or the exposure was cancelled).
  virtual int32_t Expose(int32_t Milliseconds, int32_t XOffset, int32_t YOffset,
                         int32_t Width, int32_t Height, int32_t Binning,
                         int32_t Option) = 0;                                      // 13
  virtual void SetGain(int32_t /*Value*/) {}                                       // 14: 0..100
  virtual void SetOffset(int32_t /*Value*/) {}                                     // 15
  virtual void SetExposureMode(int32_t /*Mode*/) {}                                // 16
  virtual void ShowSetupDialog() {}                                                // 17
  // The driver's image buffer in native 16-bit form; processed in place by the capture thread.
  virtual uint16_t* BufferPointer() = 0;                                           // 18
  virtual void CancelExposure() = 0;                                               // 19
  virtual int32_t DeviceAvailable(int32_t Index) = 0;                              // 20
  // Second-stage constructor: initialises the driver library and reads the sensor geometry.
  virtual void Create() = 0;                                                       // 21
  virtual void SetColourMode(int32_t /*Mode*/) {}                                  // 22
  virtual bool IsColourCamera() { return false; }                                  // 23
  // Occupies its place in the operation order; nothing overrides or calls it.
  virtual void Reserved(int32_t, int32_t, int32_t, int32_t) {}                     // 24
  // Exposures of the set length that one frame takes (2 in the interlaced "1x1 VBE" modes).
  virtual int32_t ExposureTimeFactor() { return 1; }                               // 25
  virtual bool HasShutter() { return false; }                                      // 26
  virtual void SetDarkFrame(bool /*Dark*/) {}                                      // 27
  virtual const char* FirmwareDate() { return ""; }                                // 28
};

}  // namespace telvane
