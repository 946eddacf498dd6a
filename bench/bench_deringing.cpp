// Speed of the deringing kernel and routines: every benchmark runs the plain
// reference loops (argument 0) and the fast kernels (argument 1), the fast ones on
// one thread and on all threads (second argument 1 or 0).
// Run: build with -DTVQ_BUILD_BENCH=ON, then ./bench/bench_deringing
//      --benchmark_repetitions=3 (compare reference and fast in the same run).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "deringing/dering.h"
#include "deringing/deringglobal.h"
#include "deringing/deringlocal.h"
#include "deringing/tvqline.h"
#include "deringing/tvqline_kernels.h"
#include "imaging/imagefmt.h"
#include "imaging/parallel.h"
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

// Selects the kernels from the benchmark's arguments: (0) reference, (1, 1) fast on
// one thread, (1, 0) fast on all threads.
class Kernels {
 public:
  explicit Kernels(const benchmark::State& state) {
    tvq::SetReferenceKernels(state.range(0) == 0);
    tvq::SetThreadCount(state.range(0) == 0 ? 1 : static_cast<std::int32_t>(state.range(1)));
  }
  ~Kernels() {
    tvq::SetReferenceKernels(false);
    tvq::SetThreadCount(0);
  }
};

// 256 lines of n samples, 200 steps each: the single-line kernel one line after
// another (reference) or the batched kernel.
void BM_TvqLines(benchmark::State& state) {
  const auto n = static_cast<std::int32_t>(state.range(2));
  const std::int32_t count = 256;
  const tvq::TImageF plane = TestPlane(n, count);
  std::vector<float> f, u(static_cast<std::size_t>(n) * count), budget(count);
  for (std::int32_t i = 0; i < count; ++i) {
    f.insert(f.end(), plane.Row(i), plane.Row(i) + n);
    budget[i] = tvq::LineVariation(plane.Row(i), n);
  }
  std::vector<double> scratch;
  const bool fast = state.range(0) != 0;
  for (auto _ : state) {
    if (fast)
      tvq::TvqLinesBatch(f.data(), u.data(), budget.data(), n, count, 200, tvq::kStartZero, true,
                         scratch);
    else
      for (std::int32_t i = 0; i < count; ++i)
        tvq::TvqLineRefit(f.data() + i * n, u.data() + i * n, budget[i], n, 200, tvq::kStartZero);
    benchmark::DoNotOptimize(u.data());
  }
  state.SetItemsProcessed(state.iterations() * count * 200);  // line steps
}
BENCHMARK(BM_TvqLines)
    ->ArgNames({"fast", "threads", "n"})
    ->Args({0, 1, 11})
    ->Args({1, 1, 11})
    ->Args({0, 1, 512})
    ->Args({1, 1, 512})
    ->Unit(benchmark::kMillisecond);

// One routine on a copy of a size x size test plane (and its half-size reference).
void RunRoutine(benchmark::State& state, int size,
                const std::function<void(tvq::TImageF&, const tvq::TImageF&)>& routine) {
  const tvq::TImageF source = TestPlane(size, size);
  const tvq::TImageF reference = TestPlane(size / 2, size / 2);
  Kernels kernels(state);
  for (auto _ : state) {
    state.PauseTiming();  // the copy is not part of the routine
    tvq::TImageF img = source.Clone();
    state.ResumeTiming();
    routine(img, reference);
    benchmark::DoNotOptimize(img.Row(0));
  }
}

tvq::NullProgress progress;

// A "Method:" item through the Deringing command's routine (guided 0) or the
// Resample command's (guided 1), on a size x size plane, 200 steps.
void BM_DeringMethod(benchmark::State& state) {
  tvq::DeringParams params;
  params.method = static_cast<std::int32_t>(state.range(2));
  params.initial = static_cast<std::int32_t>(state.range(4));
  const bool guided = state.range(3) != 0;
  RunRoutine(state, static_cast<int>(state.range(5)),
             [&](tvq::TImageF& img, const tvq::TImageF& ref) {
               if (guided)
                 tvq::DeringEnlargedLuma(img, ref, params, progress);
               else
                 tvq::DeringLuma(img, params, progress);
             });
}

// {method, guided, initial, size}: the default method first, then each family.
void Methods(benchmark::internal::Benchmark* b) {
  b->ArgNames({"fast", "threads", "method", "guided", "initial", "size"});
  const std::vector<std::vector<std::int64_t>> methods = {
      {10, 0, 0, 256},  {10, 1, 0, 256},  // Local, 11x11, step 8
      {0, 0, 0, 256},   {1, 0, 0, 256},   // Global, modified and original
      {0, 1, 0, 256},   {1, 1, 0, 256},   // the same guided
      {2, 0, 0, 128},   {3, 0, 0, 128},   // Local, 5 and 9
      {2, 1, 0, 128},   {3, 1, 0, 128},   // the same guided
      {4, 0, 0, 128},   {13, 0, 0, 256},  // Local, 5x5, step 2 and 15x15, step 12
      {10, 0, 1, 256},                    // the default with "Source"
      {0, 0, 1, 256},   {2, 0, 1, 128},   // Global and Local, 5 with "Source": one chain
      {14, 1, 0, 2048},                   // LowResRangeClamp
  };
  for (const auto& m : methods)
    for (const auto& mode : std::vector<std::vector<std::int64_t>>{{0, 1}, {1, 1}, {1, 0}})
      b->Args({mode[0], mode[1], m[0], m[1], m[2], m[3]});
  b->Unit(benchmark::kMillisecond)->UseRealTime();
}
BENCHMARK(BM_DeringMethod)->Apply(Methods);

}  // namespace
