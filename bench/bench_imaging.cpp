// Speed of the image model's conversions and of Gaussian smoothing on a 2048 x 2048
// plane, in megapixels per second.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "filters/filterbase.h"
#include "filters/gauss.h"
#include "imaging/imagefmt.h"

namespace {

constexpr int kSide = 2048;

void CountPixels(benchmark::State& state) {
  state.counters["Mpixel/s"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * kSide * kSide / 1e6, benchmark::Counter::kIsRate);
}

tvq::TImageC4 MakeC4() {
  tvq::TImageC4 img(kSide, kSide);
  for (int y = 0; y < kSide; ++y)
    for (int i = 0; i < 4 * kSide; ++i) img.Row(y)[i] = static_cast<std::uint8_t>(i * 7 + y * 3);
  return img;
}

tvq::TImageF MakeF() {
  tvq::TImageF img(kSide, kSide);
  for (int y = 0; y < kSide; ++y)
    for (int x = 0; x < kSide; ++x) img.Row(y)[x] = static_cast<float>((x * 7 + y * 3) % 256);
  return img;
}

void BM_ConvertC4ToF(benchmark::State& state) {
  tvq::TImageC4 src = MakeC4();
  tvq::TImageF dst(kSide, kSide);
  for (auto _ : state) {
    tvq::ConvertPixels(src.GetDesc(), dst.GetDesc());
    benchmark::DoNotOptimize(dst.Row(0));
  }
  CountPixels(state);
}
BENCHMARK(BM_ConvertC4ToF)->Unit(benchmark::kMillisecond);

void BM_ConvertF4ToC4(benchmark::State& state) {
  tvq::TImageF4 src(kSide, kSide);
  for (int y = 0; y < kSide; ++y)
    for (int i = 0; i < 4 * kSide; ++i) src.Row(y)[i] = static_cast<float>((i + y) % 300) - 20.5f;
  tvq::TImageC4 dst(kSide, kSide);
  for (auto _ : state) {
    tvq::ConvertPixels(src.GetDesc(), dst.GetDesc());
    benchmark::DoNotOptimize(dst.Row(0));
  }
  CountPixels(state);
}
BENCHMARK(BM_ConvertF4ToC4)->Unit(benchmark::kMillisecond);

void BM_GaussSmoothF(benchmark::State& state) {
  const auto radius = static_cast<std::int32_t>(state.range(0));
  tvq::TImageF src = MakeF();
  tvq::TImageF dst(kSide, kSide);
  for (auto _ : state) {
    tvq::GaussSmooth(src, dst, 2.0f, radius);
    benchmark::DoNotOptimize(dst.Row(0));
  }
  CountPixels(state);
}
BENCHMARK(BM_GaussSmoothF)->Arg(3)->Arg(10)->Unit(benchmark::kMillisecond);

// The same smoothing through the plain per-pixel passes (one running sum per pixel,
// every tap clamped), the definition the fast passes match bit for bit.
void BM_GaussSmoothFPlain(benchmark::State& state) {
  const auto radius = static_cast<std::int32_t>(state.range(0));
  std::vector<float> g(2 * radius + 1);
  float s = 0.0f;
  for (int j = -radius; j <= radius; ++j)
    s += g[j + radius] = static_cast<float>(std::exp(-double(j * j) / 4.0));
  for (float& v : g) v /= s;
  tvq::TImageF src = MakeF();
  tvq::TImageF tmp(kSide, kSide), dst(kSide, kSide);
  for (auto _ : state) {
    tvq::HorizontalPassReference(src, tmp, g.data(), 2 * radius + 1, radius);
    tvq::VerticalPassReference(tmp, dst, g.data(), 2 * radius + 1, radius);
    benchmark::DoNotOptimize(dst.Row(0));
  }
  CountPixels(state);
}
BENCHMARK(BM_GaussSmoothFPlain)->Arg(3)->Arg(10)->Unit(benchmark::kMillisecond);

}  // namespace
