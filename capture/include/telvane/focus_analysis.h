// Star measurement of the focus view: a 41 x 41 patch of the frame around the star, reduced
// to the pixels connected to the centre, and a width found by sweeping a Gaussian model.
// Plain functions on plain data; they keep no state and may be called from any thread.
#pragma once

#include <array>
#include <cstdint>

namespace telvane {

inline constexpr int kFocusPatchSize = 41;
inline constexpr int kFocusPatchCentre = 20;  // cell (20, 20) is the star centre

// Indexed [column][row], 0..40 each.
using FocusPatchGrid = std::array<std::array<int32_t, kFocusPatchSize>, kFocusPatchSize>;

// FWHM reported when the Gaussian sweep finds no minimum below sigma 20.
inline constexpr double kFwhmNotFound = 999.0;

// True when every cell on the Bresenham line from (column, row) to the centre, both ends
// included, is >= threshold and >= V - 5 x threshold, V being the value at (column, row).
// Both cells must lie inside the patch.
bool ConnectedToCentre(const FocusPatchGrid& patch, int column, int row, int32_t threshold);

// Root-mean-square difference between the patch cells above 0 and a centred Gaussian of the
// given sigma and amplitude; -1 when no cell is above 0.
double GaussianResidual(const FocusPatchGrid& patch, double sigma, double amplitude);

// Sweeps sigma upwards from 0.1 in steps of 0.05 and returns 2.3548 x the last sigma before
// the residual rises, or kFwhmNotFound when it never rises below sigma 20.
double EstimateFwhm(const FocusPatchGrid& patch, double amplitude);

// Result of the monochrome patch analysis.
struct MonoPatchResult {
  int32_t Min = 0;
  int32_t Max = 0;
  double Mean = 0.0;
  int32_t Threshold = 0;
  double Fwhm = kFwhmNotFound;
};

// Turns a patch of raw pixel values into the star's connected signal above the patch mean
// (in place: every cell not connected to the centre becomes 0) and estimates the FWHM.
MonoPatchResult AnalyseMonoPatch(FocusPatchGrid& patch);

}  // namespace telvane
