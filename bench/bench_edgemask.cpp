// Edge mask speed on a 1024 x 1024 synthetic luma (rectangles with sharp edges over
// a gradient, plus noise): the thresholded mask (EdgeMask) with the default filter
// radius 6 for each measurement, its plain per-comparison definition, and the whole
// mask pipeline with the dialog defaults. Single-threaded.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "deringing/edgemask.h"
#include "imaging/imagefmt.h"

namespace {

constexpr std::int32_t kSide = 1024;

tvq::TImageF SyntheticLuma() {
  tvq::TImageF img(kSide, kSide);
  std::uint32_t state = 2024;
  for (std::int32_t y = 0; y < kSide; ++y)
    for (std::int32_t x = 0; x < kSide; ++x) {
      state = state * 1664525u + 1013904223u;
      float v = 40.0f + 0.1f * static_cast<float>(x + y);
      if ((x / 96 + y / 80) % 3 == 0) v += 110.0f;
      v += static_cast<float>(state >> 29);  // noise 0 .. 7
      img.Row(y)[x] = v;
    }
  return img;
}

void BM_EdgeMask(benchmark::State& state) {
  const tvq::TImageF luma = SyntheticLuma();
  tvq::TImageF mask(kSide, kSide);
  const auto measurement = static_cast<std::int32_t>(state.range(0));
  for (auto _ : state) {
    tvq::EdgeMask(luma, mask, 6, 30.0f, measurement, 5.0f, 2.0f, 4.0f);
    benchmark::DoNotOptimize(mask.Row(0));
  }
  state.SetItemsProcessed(state.iterations() * kSide * kSide);
}
BENCHMARK(BM_EdgeMask)
    ->ArgName("measurement")
    ->Arg(tvq::kLocalVariation)
    ->Arg(tvq::kMaximumVariation)
    ->Arg(tvq::kGradientNorm)
    ->Unit(benchmark::kMillisecond);

void BM_EdgeMaskReference(benchmark::State& state) {
  const tvq::TImageF luma = SyntheticLuma();
  tvq::TImageF mask(kSide, kSide);
  for (auto _ : state) {
    tvq::EdgeMaskReference(luma, mask, 6, 30.0f, tvq::kMaximumVariation, 5.0f, 2.0f, 4.0f);
    benchmark::DoNotOptimize(mask.Row(0));
  }
  state.SetItemsProcessed(state.iterations() * kSide * kSide);
}
BENCHMARK(BM_EdgeMaskReference)->Unit(benchmark::kMillisecond);

void BM_ComputeEdgeMask(benchmark::State& state) {
  const tvq::TImageF luma = SyntheticLuma();
  for (auto _ : state) {
    tvq::TImageF mask = tvq::ComputeEdgeMask(luma, tvq::EdgeMaskParams{});
    benchmark::DoNotOptimize(mask.Row(0));
  }
  state.SetItemsProcessed(state.iterations() * kSide * kSide);
}
BENCHMARK(BM_ComputeEdgeMask)->Unit(benchmark::kMillisecond);

}  // namespace
