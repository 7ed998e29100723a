// Speed of every libprocess function on a full 3584 x 2496 frame (synthetic star field
// with noise), each quoted as a ratio to a plain memcpy of the same 16-bit frame measured
// in the same run. The ratio table, printed after Google Benchmark's own output, uses CPU
// time: the build machine is shared, and wall time there mostly measures the neighbours.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "process.h"

namespace {

constexpr int kWidth = 3584, kHeight = 2496;
constexpr size_t kPixels = static_cast<size_t>(kWidth) * kHeight;

// Sky of 1200 counts with Gaussian noise of 25, 400 Gaussian stars and a sprinkling of
// hot and cold pixels: the kind of frame the capture loop hands over.
const std::vector<uint16_t>& starField() {
  static const std::vector<uint16_t> frame = [] {
    std::vector<uint16_t> f(kPixels);
    std::mt19937 rng(1);
    std::normal_distribution<double> noise(1200.0, 25.0);
    for (auto& p : f) p = static_cast<uint16_t>(std::lround(std::fmax(0.0, noise(rng))));
    std::uniform_real_distribution<double> ux(20, kWidth - 20), uy(20, kHeight - 20),
        upeak(300, 50000), ufwhm(2.0, 6.0);
    for (int s = 0; s < 400; ++s) {
      const double cx = ux(rng), cy = uy(rng), peak = upeak(rng), sig = ufwhm(rng) / 2.3548;
      for (int y = static_cast<int>(cy) - 15; y <= static_cast<int>(cy) + 15; ++y)
        for (int x = static_cast<int>(cx) - 15; x <= static_cast<int>(cx) + 15; ++x) {
          const double d2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
          const double v = f[static_cast<size_t>(y) * kWidth + x] + peak * std::exp(-d2 / (2 * sig * sig));
          f[static_cast<size_t>(y) * kWidth + x] = static_cast<uint16_t>(std::fmin(65535.0, v));
        }
    }
    std::uniform_int_distribution<size_t> where(0, kPixels - 1);
    for (int i = 0; i < 2000; ++i) f[where(rng)] = static_cast<uint16_t>(i % 2 ? 65000 : 0);
    return f;
  }();
  return frame;
}

std::vector<uint8_t> previewImage() {
  std::vector<uint8_t> rgb(kPixels * 3);
  const auto& f = starField();
  for (size_t i = 0; i < kPixels; ++i) rgb[3 * i] = rgb[3 * i + 1] = rgb[3 * i + 2] = f[i] >> 8;
  return rgb;
}

void setBytes(benchmark::State& state, size_t bytesPerIteration) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytesPerIteration));
}

void BM_memcpy(benchmark::State& state) {
  const auto& src = starField();
  std::vector<uint16_t> dst(kPixels);
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), kPixels * 2);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  setBytes(state, kPixels * 2);
}

void BM_bufferCopy(benchmark::State& state) {
  const auto& src = starField();
  std::vector<uint16_t> dst(kPixels);
  for (auto _ : state) {
    bufferCopy(src.data(), dst.data(), static_cast<int32_t>(kPixels * 2));
    benchmark::ClobberMemory();
  }
  setBytes(state, kPixels * 2);
}

// In-place functions start each iteration from the original frame; the restoring copy is
// kept out of the timing.
template <typename F>
void inPlace(benchmark::State& state, F&& run) {
  std::vector<uint16_t> work = starField();
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(work.data(), starField().data(), kPixels * 2);
    state.ResumeTiming();
    run(work.data());
    benchmark::ClobberMemory();
  }
  setBytes(state, kPixels * 2);
}

void BM_denoise(benchmark::State& state) {
  inPlace(state, [](uint16_t* f) { benchmark::DoNotOptimize(denoise(f, kWidth, kHeight)); });
}

void BM_HistogramPreview(benchmark::State& state) {
  inPlace(state, [](uint16_t* f) { HistogramPreview(f, kWidth, kHeight, 1, 10); });
}

void BM_HistogramStretch(benchmark::State& state) {
  inPlace(state, [](uint16_t* f) { HistogramStretch(f, kWidth, kHeight); });
}

void BM_AutoHistogram(benchmark::State& state) {
  const auto& f = starField();
  for (auto _ : state) {
    int32_t low = 0, high = 0;
    AutoHistogram(f.data(), kWidth, kHeight, &low, &high);
    benchmark::DoNotOptimize(low + high);
  }
  setBytes(state, kPixels * 2);
}

// The capture loop's default star box: the whole frame less a 30-pixel margin.
void BM_FindStar_fullBox(benchmark::State& state) {
  const auto& f = starField();
  for (auto _ : state)
    benchmark::DoNotOptimize(FindStar(f.data(), kWidth, kHeight, 30, 30, kWidth - 30, kHeight - 30));
  setBytes(state, kPixels * 2);
}

void BM_HFLIP(benchmark::State& state) {
  std::vector<uint8_t> rgb = previewImage();
  for (auto _ : state) {
    HFLIP(rgb.data(), kWidth, kHeight);
    benchmark::ClobberMemory();
  }
  setBytes(state, kPixels * 3);
}

void BM_INVERT(benchmark::State& state) {
  std::vector<uint8_t> rgb = previewImage();
  for (auto _ : state) {
    INVERT(rgb.data(), kWidth, kHeight);
    benchmark::ClobberMemory();
  }
  setBytes(state, kPixels * 3);
}

BENCHMARK(BM_memcpy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_bufferCopy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_denoise)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindStar_fullBox)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AutoHistogram)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HistogramPreview)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HistogramStretch)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HFLIP)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_INVERT)->Unit(benchmark::kMillisecond);

// Console output as usual, then one table of each benchmark's time over memcpy's.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      if (r.error_occurred || r.iterations == 0) continue;
      const std::string name = r.run_name.function_name;
      // With --benchmark_repetitions the median aggregate wins over the single runs.
      const bool median = r.run_type == Run::RT_Aggregate && r.aggregate_name == "median";
      if (r.run_type == Run::RT_Aggregate && !median) continue;
      if (!median && fromMedian_[name]) continue;
      if (!ms_.count(name)) order_.push_back(name);
      ms_[name] = r.GetAdjustedCPUTime();
      fromMedian_[name] = median;
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    if (!ms_.count("BM_memcpy")) return;
    const double base = ms_["BM_memcpy"];
    std::printf("\n%-24s %12s %10s\n", "function", "cpu (ms)", "x memcpy");
    for (const auto& name : order_)
      std::printf("%-24s %12.3f %10.2f\n", name.substr(3).c_str(), ms_[name], ms_[name] / base);
  }

 private:
  std::map<std::string, double> ms_;
  std::map<std::string, bool> fromMedian_;
  std::vector<std::string> order_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  starField();  // build the frame before any timing
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
