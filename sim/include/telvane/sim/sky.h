// A synthetic sky for the simulated cameras: Gaussian stars under a seeing disc, sky
// background, dark current, bias, shot and read noise, a few hot and cold pixels and an
// optional 2 x 2 colour mosaic, rendered into a 16-bit frame.
//
// Units: signal in electrons, output in ADU (electrons / ElectronsPerAdu + Bias). Positions
// are sensor pixels at binning 1, (0, 0) the centre of the top-left pixel.
//
// Rendering is deterministic: the same parameters, binning, exposure and frame number give
// the same pixels. A renderer keeps scratch buffers and cached star stamps, so one object is
// used by one thread at a time (the caller guards it).
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace telvane::sim {

struct Star {
  double x = 0.0;
  double y = 0.0;
  double flux = 0.0;  // electrons per second, the whole star
};

struct SkyParams {
  int sensorWidth = 2140;
  int sensorHeight = 1560;
  double fwhm = 3.0;             // seeing, sensor pixels
  double skyRate = 20.0;         // electrons per pixel per second
  double darkRate = 0.5;         // electrons per pixel per second
  double bias = 1000.0;          // ADU
  double readNoise = 8.0;        // electrons rms
  double electronsPerAdu = 1.0;  // conversion gain
  bool shotNoise = true;
  // Stars placed by the caller, plus randomStars drawn from the seed (uniform positions,
  // fluxes from a steep power law between the two limits).
  std::vector<Star> stars;
  int randomStars = 60;
  double minStarFlux = 2.0e3;
  double maxStarFlux = 4.0e5;
  // Defective pixels at positions drawn from the seed: hot pixels collect hotRate electrons
  // per second on top of everything, cold pixels read the bias only.
  int hotPixels = 12;
  double hotRate = 2.0e4;
  int coldPixels = 6;
  // Relative response of the four pixels of each 2 x 2 cell (row parity, column parity:
  // [0] even/even, [1] even/odd, [2] odd/even, [3] odd/odd). All 1 = monochrome sensor.
  std::array<float, 4> mosaic{1.0f, 1.0f, 1.0f, 1.0f};
  uint64_t seed = 1;
};

// Complementary mosaic responses of a cyan/magenta/yellow/green sensor (a plausible shape
// only: enough that a colour reconstruction shows structure).
inline constexpr std::array<float, 4> kCmygMosaic{0.80f, 0.65f, 0.85f, 0.55f};

class SkyRenderer {
 public:
  explicit SkyRenderer(SkyParams params);

  const SkyParams& Params() const { return params_; }
  // The caller's stars and the random ones, in sensor pixels.
  const std::vector<Star>& Stars() const { return stars_; }
  struct Pixel {
    int x;
    int y;
  };
  const std::vector<Pixel>& HotPixels() const { return hot_; }
  const std::vector<Pixel>& ColdPixels() const { return cold_; }

  // Renders the sensor binned by `binning` (1, 2, ...) into out, which holds
  // (sensorWidth / binning) x (sensorHeight / binning) pixels, top row first. Binned pixels
  // sum the charge of binning x binning sensor pixels (read noise once).
  void Render(double exposureSeconds, int binning, uint64_t frameNumber, uint16_t* out);

  // Readout electronics that the camera's gain and offset settings change between frames.
  void SetConversion(double bias, double electronsPerAdu) {
    params_.bias = bias;
    params_.electronsPerAdu = electronsPerAdu;
  }

  static int OutputWidth(const SkyParams& p, int binning) { return p.sensorWidth / binning; }
  static int OutputHeight(const SkyParams& p, int binning) { return p.sensorHeight / binning; }

 private:
  struct Stamp {
    int x0 = 0, y0 = 0;  // top-left output pixel
    int w = 0, h = 0;
    std::vector<float> weights;  // fraction of the star's flux per output pixel
  };
  const std::vector<Stamp>& StampsFor(int binning);

  SkyParams params_;
  std::vector<Star> stars_;
  std::vector<Pixel> hot_;
  std::vector<Pixel> cold_;
  int stampBinning_ = 0;
  std::vector<Stamp> stamps_;
  std::vector<float> signal_;  // scratch: star electrons per second per output pixel
};

}  // namespace telvane::sim
