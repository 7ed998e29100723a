// One full preview render step on a 3584 x 2496 frame against a plain copy of the same frame,
// measured in the same run: levels, stretch, 24-bit grey conversion, histogram and focus
// analysis. Run: render_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "process.h"
#include "telvane/display.h"
#include "telvane/display_frame.h"
#include "telvane/focus_analysis.h"

namespace {

constexpr int kWidth = 3584, kHeight = 2496;
constexpr size_t kPixels = static_cast<size_t>(kWidth) * kHeight;
constexpr int kStarX = 1800, kStarRow = 1200;
constexpr int32_t kBlackPercent = 2, kWhitePercent = 60;

struct Scene {
  std::vector<uint16_t> raw = std::vector<uint16_t>(kPixels);   // the frame as read out
  std::vector<uint16_t> work = std::vector<uint16_t>(kPixels);  // the driver buffer, levelled in place
  std::vector<uint8_t> rgb = std::vector<uint8_t>(kPixels * 3);
  telvane::DisplayInputs in;
  std::unique_ptr<telvane::DisplayFrame> out = std::make_unique<telvane::DisplayFrame>();

  Scene() {
    // Sky with read noise and a few hundred stars; one of them is the focus star.
    std::mt19937 random(12345);
    std::normal_distribution<double> noise(0.0, 30.0);
    for (uint16_t& p : raw) p = static_cast<uint16_t>(std::lround(1500.0 + noise(random)));
    std::uniform_int_distribution<int> column(20, kWidth - 21), row(20, kHeight - 21);
    auto star = [&](int x, int y, double sigma, double amplitude) {
      for (int dy = -12; dy <= 12; ++dy) {
        for (int dx = -12; dx <= 12; ++dx) {
          uint16_t& p = raw[static_cast<size_t>(y + dy) * kWidth + x + dx];
          const double v = p + amplitude * std::exp(-(dx * dx + dy * dy) / (2 * sigma * sigma));
          p = static_cast<uint16_t>(std::min(65535.0, v));
        }
      }
    };
    for (int k = 0; k < 300; ++k) star(column(random), row(random), 1.8, 3000 + 100 * (k % 50));
    star(kStarX, kStarRow, 2.0, 30000);

    in.Pixels = raw.data();
    in.PreviewRGB = rgb.data();
    in.Width = kWidth;
    in.Height = kHeight;
    in.NewFrame = true;
    in.FocusMode = true;
    in.ShowStatistics = true;
    in.StarBox = {kStarX - 10, kStarRow - 20, kStarX + 10, kStarRow + 20};
    in.Info.FrameWidth = kWidth;
    in.Info.FrameHeight = kHeight;
    in.Info.StarX = kStarX;
    in.Info.StarY = static_cast<float>(kHeight - kStarRow);
    in.Info.StarBrightness = 31500;
  }
};

Scene& TheScene() {
  static Scene scene;
  return scene;
}

// Buffer mode 2 of the drivers: the high byte of each pixel as R = G = B.
void GreyPreview(const uint16_t* frame, size_t count, uint8_t* rgb) {
  for (size_t i = 0; i < count; ++i) {
    const auto v = static_cast<uint8_t>(frame[i] >> 8);
    rgb[3 * i] = v;
    rgb[3 * i + 1] = v;
    rgb[3 * i + 2] = v;
  }
}

void BM_MemcpyFrame(benchmark::State& state) {
  Scene& s = TheScene();
  for (auto _ : state) {
    std::memcpy(s.work.data(), s.raw.data(), kPixels * sizeof(uint16_t));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kPixels * 2);
}
BENCHMARK(BM_MemcpyFrame)->Unit(benchmark::kMillisecond);

// The frame is copied into the work buffer first (the loop reads it out of the driver the same
// way), so every iteration levels the same data.
void BM_RenderStep(benchmark::State& state) {
  Scene& s = TheScene();
  for (auto _ : state) {
    std::memcpy(s.work.data(), s.raw.data(), kPixels * sizeof(uint16_t));
    HistogramPreview(s.work.data(), kWidth, kHeight, kBlackPercent, kWhitePercent);
    HistogramStretch(s.work.data(), kWidth, kHeight);
    GreyPreview(s.work.data(), kPixels, s.rgb.data());
    telvane::ComputeDisplay(s.in, *s.out);
    benchmark::DoNotOptimize(s.out->FocusFwhm);
    benchmark::ClobberMemory();
  }
  if (!s.out->FocusUpdated) state.SkipWithError("focus view not updated");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kPixels * 2);
}
BENCHMARK(BM_RenderStep)->Unit(benchmark::kMillisecond);

// The parts, for where the time goes.
void BM_Levels(benchmark::State& state) {
  Scene& s = TheScene();
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(s.work.data(), s.raw.data(), kPixels * sizeof(uint16_t));
    state.ResumeTiming();
    HistogramPreview(s.work.data(), kWidth, kHeight, kBlackPercent, kWhitePercent);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_Levels)->Unit(benchmark::kMillisecond);

void BM_Stretch(benchmark::State& state) {
  Scene& s = TheScene();
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(s.work.data(), s.raw.data(), kPixels * sizeof(uint16_t));
    state.ResumeTiming();
    HistogramStretch(s.work.data(), kWidth, kHeight);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_Stretch)->Unit(benchmark::kMillisecond);

void BM_GreyConversion(benchmark::State& state) {
  Scene& s = TheScene();
  for (auto _ : state) {
    GreyPreview(s.raw.data(), kPixels, s.rgb.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_GreyConversion)->Unit(benchmark::kMillisecond);

void BM_HistogramOnly(benchmark::State& state) {
  Scene& s = TheScene();
  telvane::DisplayInputs in = s.in;
  in.FocusMode = false;
  for (auto _ : state) {
    telvane::ComputeDisplay(in, *s.out);
    benchmark::DoNotOptimize(s.out->PixelMean);
  }
}
BENCHMARK(BM_HistogramOnly)->Unit(benchmark::kMillisecond);

void BM_FocusPatchAnalysis(benchmark::State& state) {
  Scene& s = TheScene();
  telvane::FocusPatchGrid patch;
  for (int i = 0; i < telvane::kFocusPatchSize; ++i)
    for (int j = 0; j < telvane::kFocusPatchSize; ++j)
      patch[i][j] = s.raw[static_cast<size_t>(kStarRow - 20 + j) * kWidth + kStarX - 20 + i];
  for (auto _ : state) {
    telvane::FocusPatchGrid work = patch;
    const telvane::MonoPatchResult r = telvane::AnalyseMonoPatch(work);
    benchmark::DoNotOptimize(r.Fwhm);
  }
}
BENCHMARK(BM_FocusPatchAnalysis)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
