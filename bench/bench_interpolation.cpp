// Speed of the grey two-times enlargers on a 1024 x 1024 plane (2048 x 2048
// result). Counters: source and result megapixels per second.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "imaging/imagefmt.h"
#include "interpolation/interpolation.h"

namespace {

constexpr std::int32_t kSide = 1024;

tvq::TImageF SourcePlane() {
  tvq::TImageF plane(kSide, kSide);
  std::uint32_t state = 12345;
  for (std::int32_t y = 0; y < kSide; ++y)
    for (std::int32_t x = 0; x < kSide; ++x) {
      state = state * 1664525u + 1013904223u;
      // Smooth structure plus noise, so the gradient weights see both.
      *plane.Pixel(x, y) =
          static_cast<float>((x * 7 + y * 3) % 256) * 0.5f + static_cast<float>((state >> 16) % 64);
    }
  return plane;
}

template <typename Upscale>
void Run(benchmark::State& state, Upscale upscale) {
  const tvq::TImageF src = SourcePlane();
  tvq::TImageF dst(2 * kSide, 2 * kSide);
  for (auto _ : state) {
    upscale(src, dst);
    benchmark::DoNotOptimize(dst.Row(0));
    benchmark::ClobberMemory();
  }
  const double source = static_cast<double>(kSide) * kSide / 1e6;
  state.counters["src_Mpx/s"] =
      benchmark::Counter(source, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["dst_Mpx/s"] =
      benchmark::Counter(4 * source, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_GradientUpscale(benchmark::State& state) {
  Run(state, [](const tvq::TImageF& s, tvq::TImageF& d) { tvq::GradientUpscale(s, d); });
}

void BM_NediUpscale4(benchmark::State& state) {
  const tvq::NediConfig config = tvq::NediConfigFor(4);
  Run(state, [&config](const tvq::TImageF& s, tvq::TImageF& d) { tvq::NediUpscale(s, d, config); });
}

void BM_LanczosUpscale(benchmark::State& state) {
  Run(state, tvq::LanczosUpscale);
}

void BM_BilinearUpscale(benchmark::State& state) {
  Run(state, tvq::BilinearUpscale);
}

}  // namespace

BENCHMARK(BM_GradientUpscale)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NediUpscale4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LanczosUpscale)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BilinearUpscale)->Unit(benchmark::kMillisecond);
