#include "telvane/focus_analysis.h"

#include <gtest/gtest.h>

#include <cmath>

namespace telvane {
namespace {

FocusPatchGrid Filled(int32_t value) {
  FocusPatchGrid patch;
  for (auto& column : patch) column.fill(value);
  return patch;
}

FocusPatchGrid Gaussian(double sigma, double amplitude, int32_t background) {
  FocusPatchGrid patch;
  for (int i = 0; i < kFocusPatchSize; ++i) {
    for (int j = 0; j < kFocusPatchSize; ++j) {
      const double r2 = (i - 20.0) * (i - 20.0) + (j - 20.0) * (j - 20.0);
      patch[i][j] = background + static_cast<int32_t>(std::lround(amplitude * std::exp(-r2 / (2 * sigma * sigma))));
    }
  }
  return patch;
}

// A line to the centre through a uniform patch, with one cell knocked to 0: the result tells
// whether the walk visits that cell. Expected walks worked out by hand from the line rules.
struct WalkCase {
  const char* name;
  int column, row;            // start cell
  int blockColumn, blockRow;  // cell set to 0
  bool connected;
};

class ConnectedToCentreWalk : public ::testing::TestWithParam<WalkCase> {};

TEST_P(ConnectedToCentreWalk, VisitsExactlyTheLineCells) {
  const WalkCase& c = GetParam();
  FocusPatchGrid patch = Filled(100);
  patch[c.blockColumn][c.blockRow] = 0;
  EXPECT_EQ(ConnectedToCentre(patch, c.column, c.row, 50), c.connected);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ConnectedToCentreWalk,
    ::testing::Values(
        // Shallow (0,10) -> (20,20): (0,10) (1,10) (2,11) (3,11) ... (19,19) (20,20).
        WalkCase{"ShallowSecondCell", 0, 10, 1, 10, false}, WalkCase{"ShallowBesideLine", 0, 10, 1, 11, true},
        WalkCase{"ShallowStepCell", 0, 10, 2, 11, false}, WalkCase{"ShallowBelowStep", 0, 10, 2, 10, true},
        WalkCase{"ShallowNearCentre", 0, 10, 19, 19, false},
        // Steep (15,0) -> (20,20), walked along rows: (15,0) (15,1) (15,2) (16,3) ...
        WalkCase{"SteepThirdRow", 15, 0, 15, 2, false}, WalkCase{"SteepBesideLine", 15, 0, 16, 2, true},
        WalkCase{"SteepFirstStep", 15, 0, 16, 3, false},
        // Start right of the centre: walked from the centre, (20,20) (21,20) (22,21) ... (39,29) (40,30).
        WalkCase{"SwappedFirstCell", 40, 30, 21, 20, false}, WalkCase{"SwappedBesideLine", 40, 30, 21, 21, true},
        WalkCase{"SwappedLastButOne", 40, 30, 39, 29, false}, WalkCase{"SwappedBesideEnd", 40, 30, 39, 30, true},
        // Steep and swapped, (25,40): (20,20) (20,21) (20,22) (21,23) ...
        WalkCase{"SteepSwappedThird", 25, 40, 20, 22, false}, WalkCase{"SteepSwappedBeside", 25, 40, 21, 22, true},
        // Both endpoints are tested.
        WalkCase{"StartCell", 3, 7, 3, 7, false}, WalkCase{"CentreCell", 3, 7, 20, 20, false},
        WalkCase{"CentreItself", 20, 20, 20, 20, false}, WalkCase{"CentreOtherCell", 20, 20, 0, 0, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ConnectedToCentre, RejectsADeepDipBelowABrightStart) {
  FocusPatchGrid patch = Filled(100);
  patch[0][20] = 1000;  // line (0,20) .. (20,20) lies along row 20
  EXPECT_FALSE(ConnectedToCentre(patch, 0, 20, 50)) << "cells of 100 are below 1000 - 5 x 50";
  for (int i = 1; i <= 20; ++i) patch[i][20] = 750;
  EXPECT_TRUE(ConnectedToCentre(patch, 0, 20, 50)) << "750 is exactly 1000 - 5 x 50";
  EXPECT_FALSE(ConnectedToCentre(patch, -1, 20, 50));
  EXPECT_FALSE(ConnectedToCentre(patch, 41, 20, 50));
}

TEST(EstimateFwhm, FindsTheSigmaOfACentredGaussian) {
  for (double sigma : {1.0, 2.0, 4.5}) {
    const FocusPatchGrid patch = Gaussian(sigma, 10000, 0);
    // The sweep stops at the grid step (0.05) just before the residual rises.
    EXPECT_NEAR(EstimateFwhm(patch, 10000), 2.3548 * sigma, 2.3548 * 0.05) << "sigma " << sigma;
  }
}

TEST(EstimateFwhm, ReportsNotFoundWhenTheResidualNeverRises) {
  // Wider than the sweep reaches: the residual keeps falling up to sigma 20.
  EXPECT_EQ(EstimateFwhm(Gaussian(40.0, 10000, 0), 10000), kFwhmNotFound);
  // No cell above 0: the residual is -1 at every sigma.
  const FocusPatchGrid empty = Filled(0);
  EXPECT_EQ(GaussianResidual(empty, 2.0, 100), -1.0);
  EXPECT_EQ(EstimateFwhm(empty, 100), kFwhmNotFound);
}

TEST(AnalyseMonoPatch, FlatPatchLeavesNoCellAndNoWidth) {
  FocusPatchGrid patch = Filled(1234);
  const MonoPatchResult r = AnalyseMonoPatch(patch);
  EXPECT_EQ(r.Min, 1234);
  EXPECT_EQ(r.Max, 1234);
  EXPECT_EQ(r.Threshold, 1234);
  EXPECT_EQ(patch, Filled(0));
  EXPECT_EQ(r.Fwhm, kFwhmNotFound);
}

TEST(AnalyseMonoPatch, KeepsTheStarAndDropsADetachedSpot) {
  FocusPatchGrid patch = Gaussian(2.0, 20000, 1000);
  patch[3][3] = 6000;  // isolated, surrounded by background
  const MonoPatchResult r = AnalyseMonoPatch(patch);
  EXPECT_EQ(r.Max, 21000);
  EXPECT_EQ(r.Min, 1000);
  EXPECT_GT(r.Threshold, 1000);
  EXPECT_EQ(patch[3][3], 0);
  EXPECT_EQ(patch[20][20], static_cast<int32_t>(std::nearbyint(21000 - r.Mean)));
  EXPECT_EQ(patch[0][0], 0);
  // Amplitude is max minus the patch mean, so the width comes out a little under the truth.
  EXPECT_NEAR(r.Fwhm, 2.3548 * 2.0, 0.5);
}

}  // namespace
}  // namespace telvane
