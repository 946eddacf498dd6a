// Speed of the super-resolution kernels and of the whole Resample pipeline, in
// megapixels of the high-resolution result per second. Every benchmark runs three
// ways in the same process: "reference" (the plain single-thread loops), "fast/1"
// (the fast kernels on one thread) and "fast/all" (on every core); compare the
// ratios within one run, as other work on the machine moves absolute numbers. Times
// and rates are wall-clock (the fast kernels run on several threads).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "imaging/bitmap.h"
#include "imaging/parallel.h"
#include "superres/colour.h"
#include "superres/resample.h"
#include "superres/solver.h"

namespace {

using tvq::Stabilizer;

// A deterministic plane with edges and texture.
tvq::TImageF Pattern(std::int32_t w, std::int32_t h) {
  tvq::TImageF p(w, h);
  std::uint32_t state = 1;
  for (std::int32_t y = 0; y < h; ++y)
    for (std::int32_t x = 0; x < w; ++x) {
      state = state * 1664525u + 1013904223u;
      p.Row(y)[x] = static_cast<float>(((x / 16 + y / 16) % 2) * 120 + (state >> 28));
    }
  return p;
}

tvq::TImageF Constant(std::int32_t w, std::int32_t h, float value) {
  tvq::TImageF p(w, h);
  for (std::int32_t y = 0; y < h; ++y)
    for (std::int32_t x = 0; x < w; ++x) p.Row(y)[x] = value;
  return p;
}

// Argument 0: the plain loops; 1: fast kernels on one thread; 2: on every core.
const char* KernelsName(const benchmark::State& state) {
  const auto mode = state.range(0);
  return mode == 0 ? "reference" : (mode == 1 ? "fast/1" : "fast/all");
}

void SelectKernels(benchmark::State& state) {
  const auto mode = state.range(0);
  tvq::SetReferenceKernels(mode == 0);
  tvq::SetThreadCount(mode == 1 ? 1 : 0);
  state.SetLabel(KernelsName(state));
}

void Rate(benchmark::State& state, double pixels) {
  state.counters["MP/s"] =
      benchmark::Counter(pixels * 1e-6 * state.iterations(), benchmark::Counter::kIsRate);
}

constexpr std::int32_t kLow = 512;  // kernels: 1024 x 1024 estimates

void BM_BtvGradient(benchmark::State& state) {
  SelectKernels(state);
  const tvq::TImageF x = Pattern(2 * kLow, 2 * kLow);
  const tvq::TImageF w = Constant(2 * kLow, 2 * kLow, 0.05f);
  tvq::TImageF g(2 * kLow, 2 * kLow);
  for (auto _ : state) {
    tvq::BtvGradient(x, g, w, 0.8, 1);
    benchmark::DoNotOptimize(g.Row(0));
  }
  Rate(state, 4.0 * kLow * kLow);
}
BENCHMARK(BM_BtvGradient)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DataFidelityGradient(benchmark::State& state) {
  SelectKernels(state);
  const tvq::TImageF x = Pattern(2 * kLow, 2 * kLow);
  const tvq::TImageF y = Pattern(kLow, kLow);
  tvq::TImageF g(2 * kLow, 2 * kLow);
  tvq::SolverMeasures measures;
  for (auto _ : state) {
    tvq::DataFidelityGradient(x, y, g, 1.0, 1.0, measures);
    benchmark::DoNotOptimize(g.Row(0));
  }
  Rate(state, 4.0 * kLow * kLow);
}
BENCHMARK(BM_DataFidelityGradient)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LaplaceGradient(benchmark::State& state) {
  SelectKernels(state);
  const tvq::TImageF x = Pattern(2 * kLow, 2 * kLow);
  const tvq::TImageF w = Constant(2 * kLow, 2 * kLow, 0.05f);
  tvq::TImageF g(2 * kLow, 2 * kLow);
  for (auto _ : state) {
    tvq::LaplaceGradient(x, g, w, 2);
    benchmark::DoNotOptimize(g.Row(0));
  }
  Rate(state, 4.0 * kLow * kLow);
}
BENCHMARK(BM_LaplaceGradient)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Descend(benchmark::State& state) {
  SelectKernels(state);
  tvq::TImageF x = Pattern(2 * kLow, 2 * kLow);
  const tvq::TImageF g = Constant(2 * kLow, 2 * kLow, 0.25f);
  for (auto _ : state) {
    tvq::Descend(x, g, 1e-3);
    benchmark::DoNotOptimize(x.Row(0));
  }
  Rate(state, 4.0 * kLow * kLow);
}
BENCHMARK(BM_Descend)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_WeightMap(benchmark::State& state) {
  SelectKernels(state);
  const tvq::TImageF e = Pattern(2 * kLow, 2 * kLow);
  tvq::WeightMapParams params;
  params.lowWeight = 0.01f;
  for (auto _ : state) {
    tvq::TImageF w = tvq::SmoothedCurvature(e);
    tvq::WeightRamp(w, params);
    benchmark::DoNotOptimize(w.Row(0));
  }
  Rate(state, 4.0 * kLow * kLow);
}
BENCHMARK(BM_WeightMap)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();

// Four iterations of a stabilizer (range 1) from the gradient-like pattern, with one
// weight for every pixel as Resample's defaults have it.
void BM_Iterations(benchmark::State& state) {
  SelectKernels(state);
  const auto stabilizer = static_cast<Stabilizer>(state.range(1));
  const tvq::TImageF y = Pattern(kLow, kLow);
  const tvq::TImageF start = Pattern(2 * kLow, 2 * kLow);
  tvq::SolverSettings settings;
  tvq::ConfigureStabilizer(stabilizer, settings);
  settings.stepBase *= 0.2;
  tvq::IterationParams params;
  params.iterations = 4;
  tvq::NullProgress progress;
  for (auto _ : state) {
    state.PauseTiming();
    tvq::TImageF x = start.Clone();
    state.ResumeTiming();
    tvq::RunIterations(x, y, 0.05f, stabilizer, settings, params, progress);
    benchmark::DoNotOptimize(x.Row(0));
  }
  state.SetLabel(std::string(KernelsName(state)) + " " + tvq::kStabilizerCaptions[state.range(1)]);
  Rate(state, 4.0 * kLow * kLow * params.iterations);
}
BENCHMARK(BM_Iterations)
    ->ArgsProduct({{0, 1, 2}, {0, 1, 2, 3, 4}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The whole Resample pipeline with the dialog defaults (40 iterations of bilateral
// TV 3x3 from the gradient start) on a 256 x 256 picture.
void BM_ResampleDefaults(benchmark::State& state) {
  SelectKernels(state);
  constexpr std::int32_t kSize = 256;
  const tvq::TImageF luma = Pattern(kSize, kSize);
  tvq::Bitmap picture(kSize, kSize, 24);
  for (std::int32_t y = 0; y < kSize; ++y)
    for (std::int32_t x = 0; x < kSize; ++x) {
      const auto v = static_cast<std::uint8_t>(luma.Row(y)[x]);
      std::uint8_t* p = picture.ScanLine(y) + 3 * x;
      p[0] = v;
      p[1] = static_cast<std::uint8_t>(255 - v);
      p[2] = static_cast<std::uint8_t>((v + x) & 255);
    }
  const tvq::ResampleParams params;
  tvq::NullProgress progress;
  for (auto _ : state) {
    tvq::TImageF4 result = tvq::Resample(picture, params, nullptr, nullptr, progress);
    benchmark::DoNotOptimize(result.Row(0));
  }
  Rate(state, 4.0 * kSize * kSize);
}
BENCHMARK(BM_ResampleDefaults)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
