// Cost of rendering one VER2 frame, against the floor of touching every pixel once (filling
// the frame with a value): the ratio says how far rendering is from a plain memory pass.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "telvane/sim/sky.h"

namespace {

using telvane::sim::SkyParams;
using telvane::sim::SkyRenderer;

void BM_FillFrame(benchmark::State& state) {
  SkyParams p;
  std::vector<uint16_t> out(size_t(p.sensorWidth) * p.sensorHeight);
  uint16_t v = 0;
  for (auto _ : state) {
    std::fill(out.begin(), out.end(), v++);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * int64_t(out.size()));
}
BENCHMARK(BM_FillFrame)->Unit(benchmark::kMillisecond);

// Arg: binning. The default sky: 60 stars, mosaic off, shot and read noise on.
void BM_RenderSky(benchmark::State& state) {
  SkyParams p;
  const int binning = int(state.range(0));
  SkyRenderer renderer(p);
  std::vector<uint16_t> out(size_t(SkyRenderer::OutputWidth(p, binning)) *
                            SkyRenderer::OutputHeight(p, binning));
  uint64_t frame = 0;
  for (auto _ : state) {
    renderer.Render(1.0, binning, frame++, out.data());
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * int64_t(out.size()));
}
BENCHMARK(BM_RenderSky)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

}  // namespace
