// Speed of the deringing kernel and routines (single-threaded, exact code).
// Run: build with -DTVQ_BUILD_BENCH=ON, then ./bench/bench_deringing
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "deringing/deringglobal.h"
#include "deringing/deringlocal.h"
#include "deringing/tvqline.h"
#include "imaging/imagefmt.h"
#include "imaging/progress.h"

namespace {

// A plane with edges, gradients and ringing-like wiggles, deterministic.
tvq::TImageF TestPlane(int w, int h) {
  tvq::TImageF img(w, h);
  std::uint32_t seed = 12345;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      seed = seed * 1664525u + 1013904223u;
      const float edge = ((x / 37 + y / 23) % 2) ? 190.0f : 60.0f;
      const float ring = (x % 37 < 3) ? ((x % 2) ? 12.0f : -12.0f) : 0.0f;
      img.Row(y)[x] = edge + ring + 0.2f * (x % 50) + static_cast<float>(seed >> 28);
    }
  return img;
}

void BM_TvqLineRefit(benchmark::State& state) {
  const auto n = static_cast<std::int32_t>(state.range(0));
  const tvq::TImageF plane = TestPlane(n, 1);
  const float* f = plane.Row(0);
  std::vector<float> u(static_cast<std::size_t>(n));
  const float budget = tvq::LineVariation(f, n);
  for (auto _ : state) {
    tvq::TvqLineRefit(f, u.data(), budget, n, 200, tvq::kStartZero);
    benchmark::DoNotOptimize(u.data());
  }
  state.SetItemsProcessed(state.iterations() * 200);  // kernel steps
}
BENCHMARK(BM_TvqLineRefit)->Arg(11)->Arg(512);

void BM_DeringGlobal(benchmark::State& state) {
  const tvq::TImageF source = TestPlane(512, 512);
  tvq::NullProgress progress;
  for (auto _ : state) {
    tvq::TImageF img = source.Clone();
    tvq::DeringGlobal(img, 200, 0, false, 1.0f, progress);
    benchmark::DoNotOptimize(img.Row(0));
  }
}
BENCHMARK(BM_DeringGlobal)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_DeringBlocks11Step8(benchmark::State& state) {
  const tvq::TImageF source = TestPlane(256, 256);
  tvq::NullProgress progress;
  for (auto _ : state) {
    tvq::TImageF img = source.Clone();
    tvq::DeringBlocks(img, 200, 11, 0, 8, 1.0f, progress);
    benchmark::DoNotOptimize(img.Row(0));
  }
}
BENCHMARK(BM_DeringBlocks11Step8)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_DeringPixelWindows9(benchmark::State& state) {
  const tvq::TImageF source = TestPlane(256, 256);
  tvq::NullProgress progress;
  for (auto _ : state) {
    tvq::TImageF img = source.Clone();
    tvq::DeringPixelWindows(img, 200, 9, 0, 1.0f, progress);
    benchmark::DoNotOptimize(img.Row(0));
  }
}
BENCHMARK(BM_DeringPixelWindows9)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
