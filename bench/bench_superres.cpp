// Speed of the super-resolution solver and of the whole Resample pipeline, in
// megapixels of the high-resolution result per second. Plain single-threaded code:
// these numbers are the baseline for later speed work.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "imaging/bitmap.h"
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

// One step of a stabilizer's step function on a 2048 x 2048 estimate (1024 x 1024
// input).
void BM_SolverStep(benchmark::State& state) {
  const auto stabilizer = static_cast<Stabilizer>(state.range(0));
  const tvq::TImageF y = Pattern(1024, 1024);
  tvq::TImageF x = Pattern(2048, 2048);
  tvq::TImageF w(2048, 2048);
  for (std::int32_t r = 0; r < 2048; ++r)
    for (std::int32_t c = 0; c < 2048; ++c) w.Row(r)[c] = 0.05f;
  tvq::SolverSettings settings;
  tvq::ConfigureStabilizer(stabilizer, settings);
  tvq::SolverMeasures measures;
  for (auto _ : state) {
    tvq::StabilizerStep(stabilizer, x, y, w, 1e-3, settings, measures);
    benchmark::DoNotOptimize(x.Row(0));
  }
  state.SetLabel(tvq::kStabilizerCaptions[state.range(0)]);
  state.counters["MP/s"] =
      benchmark::Counter(2048.0 * 2048.0 * 1e-6 * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SolverStep)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);

// The whole Resample pipeline with the dialog defaults (40 iterations of bilateral
// TV 3x3 from the gradient start) on a 512 x 512 picture.
void BM_ResampleDefaults(benchmark::State& state) {
  const tvq::TImageF luma = Pattern(512, 512);
  tvq::Bitmap picture(512, 512, 24);
  for (std::int32_t y = 0; y < 512; ++y)
    for (std::int32_t x = 0; x < 512; ++x) {
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
  state.counters["MP/s"] =
      benchmark::Counter(1024.0 * 1024.0 * 1e-6 * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ResampleDefaults)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace
