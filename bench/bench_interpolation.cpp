// Speed of the two-times enlargers on a 512 x 512 source (1024 x 1024 result), each
// with the reference loops, the fast kernels on one thread and on all threads:
// BM_X/reference, BM_X/fast_1_thread, BM_X/fast_all_threads. Counter: source
// megapixels per second.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <functional>

#include "imaging/imagefmt.h"
#include "imaging/parallel.h"
#include "interpolation/interpolation.h"

namespace {

constexpr std::int32_t kSide = 512;

// Smooth structure plus noise, so that the gradient weights see both.
float SourceValue(std::int32_t x, std::int32_t y, std::uint32_t& state) {
  state = state * 1664525u + 1013904223u;
  return static_cast<float>((x * 7 + y * 3) % 256) * 0.5f + static_cast<float>((state >> 16) % 64);
}

template <typename Image>
Image Source(int channels) {
  Image image(kSide, kSide);
  std::uint32_t state = 12345;
  for (std::int32_t y = 0; y < kSide; ++y)
    for (std::int32_t x = 0; x < kSide; ++x)
      for (int k = 0; k < channels; ++k) {
        const float v = SourceValue(x + 3 * k, y, state);
        if constexpr (sizeof(*image.Row(0)) == 1)
          image.Row(y)[channels * x + k] = static_cast<std::uint8_t>(v);
        else
          image.Row(y)[channels * x + k] = v;
      }
  return image;
}

// Argument: 0 reference loops, 1 fast kernels on one thread, 2 on all threads.
template <typename Image>
void Run(benchmark::State& state, int channels,
         const std::function<void(const Image&, Image&)>& upscale) {
  const Image src = Source<Image>(channels);
  Image dst(2 * kSide, 2 * kSide);
  const std::int64_t mode = state.range(0);
  tvq::SetReferenceKernels(mode == 0);
  tvq::SetThreadCount(mode == 1 ? 1 : 0);
  for (auto _ : state) {
    upscale(src, dst);
    benchmark::DoNotOptimize(dst.Row(0));
    benchmark::ClobberMemory();
  }
  tvq::SetReferenceKernels(false);
  tvq::SetThreadCount(0);
  state.counters["src_Mpx/s"] = benchmark::Counter(static_cast<double>(kSide) * kSide / 1e6,
                                                   benchmark::Counter::kIsIterationInvariantRate);
}

void BM_Gradient(benchmark::State& state) {
  Run<tvq::TImageF>(state, 1,
                    [](const tvq::TImageF& s, tvq::TImageF& d) { tvq::GradientUpscale(s, d); });
}

void BM_GradientColor(benchmark::State& state) {
  Run<tvq::TImageF4>(
      state, 4, [](const tvq::TImageF4& s, tvq::TImageF4& d) { tvq::GradientUpscaleColor(s, d); });
}

void BM_Nedi(benchmark::State& state) {
  const tvq::NediConfig config = tvq::NediConfigFor(4);
  Run<tvq::TImageF>(state, 1, [&config](const tvq::TImageF& s, tvq::TImageF& d) {
    tvq::NediUpscale(s, d, config);
  });
}

void BM_Lanczos(benchmark::State& state) {
  Run<tvq::TImageF>(state, 1,
                    [](const tvq::TImageF& s, tvq::TImageF& d) { tvq::LanczosUpscale(s, d); });
}

void BM_Bilinear(benchmark::State& state) {
  Run<tvq::TImageF>(state, 1,
                    [](const tvq::TImageF& s, tvq::TImageF& d) { tvq::BilinearUpscale(s, d); });
}

void BM_Directional(benchmark::State& state) {
  Run<tvq::TImageC4>(
      state, 4, [](const tvq::TImageC4& s, tvq::TImageC4& d) { tvq::DirectionalUpscaleC4(s, d); });
}

void Modes(benchmark::internal::Benchmark* b) {
  b->ArgName("mode")->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
}

}  // namespace

BENCHMARK(BM_Gradient)->Apply(Modes);
BENCHMARK(BM_GradientColor)->Apply(Modes);
BENCHMARK(BM_Nedi)->Apply(Modes);
BENCHMARK(BM_Lanczos)->Apply(Modes);
BENCHMARK(BM_Bilinear)->Apply(Modes);
BENCHMARK(BM_Directional)->Apply(Modes);
