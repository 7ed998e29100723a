// Cost of a VER2 readout: the post-processing of a full frame against a plain copy of the
// same bytes (the floor for any work that touches every pixel), and a whole frame through the
// simulated camera.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <vector>

#include "camdrv2.h"
#include "telvane/drivers/buffer_modes.h"
#include "telvane/drivers/frame_assembly.h"
#include "telvane/sim/bus.h"
#include "telvane/sim/ver2_device.h"

namespace {

constexpr int kWidth = 2140;
constexpr int kHeight = 1560;
constexpr size_t kPixels = size_t(kWidth) * kHeight;
constexpr size_t kBytes = kPixels * 2;

std::vector<uint16_t> RawFrame() {
  std::vector<uint16_t> raw(kPixels);
  for (size_t n = 0; n < kPixels; ++n) raw[n] = static_cast<uint16_t>(n * 2654435761u >> 16);
  return raw;
}

void BM_MemcpyFrame(benchmark::State& state) {
  const std::vector<uint16_t> raw = RawFrame();
  std::vector<uint16_t> image(kPixels);
  for (auto _ : state) {
    std::memcpy(image.data(), raw.data(), kBytes);
    benchmark::DoNotOptimize(image.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kBytes);
}
BENCHMARK(BM_MemcpyFrame);

// Byte swap in place, interleave the two fields into the image, convert to buffer mode 5:
// what happens between the last bulk read and the FITS writer receiving its bytes.
void BM_PostProcessFrame(benchmark::State& state) {
  const std::vector<uint16_t> wire = RawFrame();
  std::vector<uint16_t> raw(kPixels), image(kPixels);
  std::vector<uint8_t> fits(kBytes);
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(raw.data(), wire.data(), kBytes);  // the transfer leaves big-endian data
    state.ResumeTiming();
    telvane::drivers::SwapBytes16(raw.data(), kPixels);
    telvane::drivers::AssembleFields(raw.data(), raw.data() + kPixels / 2, kWidth, 0, 0,
                                     kWidth, kHeight, image.data());
    telvane::drivers::ConvertPixels(telvane::drivers::kBufferFits16, image.data(), kPixels,
                                    fits.data());
    benchmark::DoNotOptimize(fits.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kBytes);
}
BENCHMARK(BM_PostProcessFrame);

// One full-frame exposure of 1 ms through the simulated VER2 (its test pattern, so the
// renderer's sky model does not dominate), read out with GetBuffer in mode 5.
void BM_SimulatedFrameEndToEnd(benchmark::State& state) {
  telvane::sim::Ver2Device::Options options;
  options.source = state.range(0) ? telvane::sim::Ver2Device::Source::kSky
                                  : telvane::sim::Ver2Device::Source::kTestPattern;
  auto& bus = telvane::sim::Bus::Instance();
  bus.Enable(/*attachDefaults=*/false);
  bus.DetachAll();
  bus.Attach(std::make_shared<telvane::sim::Ver2Device>(options));
  if (OpenCamera(0) != 0) {
    state.SkipWithError("simulated VER2 did not open");
    return;
  }
  ShowOB(1);
  SetBufferMode(5);
  std::vector<uint8_t> fits(kBytes);
  for (auto _ : state) {
    if (Exposure(1, 0, 0, kWidth, kHeight, 1, 0) != 0) {
      state.SkipWithError("exposure failed");
      break;
    }
    GetBuffer(fits.data(), int(kPixels));
    benchmark::DoNotOptimize(fits.data());
  }
  bus.Disable();
}
BENCHMARK(BM_SimulatedFrameEndToEnd)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
