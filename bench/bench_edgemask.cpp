// Edge mask and Deringing glue speed on a 512 x 512 synthetic luma (rectangles with
// sharp edges over a gradient, plus noise), each kernel with the plain reference
// loops and with the fast kernels on one thread and on all threads, in the same run:
// the thresholded mask (EdgeMask, filter radius 6) for each measurement, the
// dilation (radius 3), the mask blend, the whole mask pipeline with the dialog
// defaults, and the Deringing command with the routine that leaves the luma as it is
// (so only the split into luma and colour, the mask and blend, and the recombination
// are timed), without and with the mask.
//
// Arguments: mode 0 = reference loops, 1 = fast kernels; threads 0 = all cores.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "deringing/deringcommand.h"
#include "deringing/edgemask.h"
#include "imaging/bitmap.h"
#include "imaging/imagefmt.h"
#include "imaging/parallel.h"
#include "imaging/progress.h"

namespace {

constexpr std::int32_t kSide = 512;

tvq::TImageF SyntheticLuma(std::uint32_t seed = 2024) {
  tvq::TImageF img(kSide, kSide);
  std::uint32_t state = seed;
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

tvq::Bitmap SyntheticPicture() {
  const tvq::TImageF luma = SyntheticLuma();
  tvq::Bitmap picture(kSide, kSide, 24);
  for (std::int32_t y = 0; y < kSide; ++y)
    for (std::int32_t x = 0; x < kSide; ++x) {
      const auto v = static_cast<std::uint8_t>(luma.Row(y)[x]);
      std::uint8_t* p = picture.ScanLine(y) + 3 * x;
      p[0] = v;
      p[1] = static_cast<std::uint8_t>(255 - v);
      p[2] = static_cast<std::uint8_t>((v * 3) & 0xFF);
    }
  return picture;
}

// Selects the kernels of the benchmark's arguments for the rest of the run.
void Select(const benchmark::State& state) {
  tvq::SetReferenceKernels(state.range(0) == 0);
  tvq::SetThreadCount(static_cast<std::int32_t>(state.range(1)));
}

void Modes(benchmark::internal::Benchmark* b) {
  b->ArgNames({"fast", "threads"})->Args({0, 1})->Args({1, 1})->Args({1, 0});
  b->Unit(benchmark::kMillisecond)->UseRealTime();
}

template <std::int32_t kMeasurement>
void BM_EdgeMask(benchmark::State& state) {
  Select(state);
  const tvq::TImageF luma = SyntheticLuma();
  tvq::TImageF mask(kSide, kSide);
  for (auto _ : state) {
    tvq::EdgeMask(luma, mask, 6, 30.0f, kMeasurement, 5.0f, 2.0f, 4.0f);
    benchmark::DoNotOptimize(mask.Row(0));
  }
  state.SetItemsProcessed(state.iterations() * kSide * kSide);
}
BENCHMARK(BM_EdgeMask<tvq::kLocalVariation>)->Name("EdgeMask/LocalVariation")->Apply(Modes);
BENCHMARK(BM_EdgeMask<tvq::kMaximumVariation>)->Name("EdgeMask/MaximumVariation")->Apply(Modes);
BENCHMARK(BM_EdgeMask<tvq::kGradientNorm>)->Name("EdgeMask/GradientNorm")->Apply(Modes);

void BM_MaxDilate(benchmark::State& state) {
  Select(state);
  tvq::TImageF mask(kSide, kSide);
  tvq::EdgeMask(SyntheticLuma(), mask, 6, 30.0f, tvq::kMaximumVariation, 5.0f, 2.0f, 4.0f);
  tvq::TImageF out(kSide, kSide);
  for (auto _ : state) {
    tvq::MaxDilate(mask, out, 3);
    benchmark::DoNotOptimize(out.Row(0));
  }
  state.SetItemsProcessed(state.iterations() * kSide * kSide);
}
BENCHMARK(BM_MaxDilate)->Apply(Modes);

// Blends in place again and again: the luma moves towards the untouched copy but
// stays an ordinary plane.
void BM_MaskBlend(benchmark::State& state) {
  Select(state);
  tvq::TImageF luma = SyntheticLuma(7);
  const tvq::TImageF untouched = SyntheticLuma(11);
  const tvq::TImageF mask = tvq::ComputeEdgeMask(untouched, tvq::EdgeMaskParams{});
  for (auto _ : state) {
    tvq::MaskBlend(luma, untouched, mask);
    benchmark::DoNotOptimize(luma.Row(0));
  }
  state.SetItemsProcessed(state.iterations() * kSide * kSide);
}
BENCHMARK(BM_MaskBlend)->Apply(Modes);

void BM_ComputeEdgeMask(benchmark::State& state) {
  Select(state);
  const tvq::TImageF luma = SyntheticLuma();
  for (auto _ : state) {
    tvq::TImageF mask = tvq::ComputeEdgeMask(luma, tvq::EdgeMaskParams{});
    benchmark::DoNotOptimize(mask.Row(0));
  }
  state.SetItemsProcessed(state.iterations() * kSide * kSide);
}
BENCHMARK(BM_ComputeEdgeMask)->Apply(Modes);

// "tvq mask" without the file: the picture's luma and the mask pipeline.
void BM_EdgeMaskCommand(benchmark::State& state) {
  Select(state);
  const tvq::Bitmap picture = SyntheticPicture();
  for (auto _ : state) {
    tvq::TImageF mask = tvq::EdgeMaskCommand(picture, tvq::EdgeMaskParams{});
    benchmark::DoNotOptimize(mask.Row(0));
  }
  state.SetItemsProcessed(state.iterations() * kSide * kSide);
}
BENCHMARK(BM_EdgeMaskCommand)->Apply(Modes);

template <bool kMasked>
void BM_DeringGlue(benchmark::State& state) {
  Select(state);
  const tvq::Bitmap picture = SyntheticPicture();
  tvq::DeringParams params;
  params.method = tvq::kDeringSimplestMethod;
  const tvq::EdgeMaskParams mask;
  tvq::NullProgress progress;
  for (auto _ : state) {
    tvq::TImageF4 result = tvq::Dering(picture, params, kMasked ? &mask : nullptr, progress);
    benchmark::DoNotOptimize(result.Row(0));
  }
  state.SetItemsProcessed(state.iterations() * kSide * kSide);
}
BENCHMARK(BM_DeringGlue<false>)->Name("DeringGlue")->Apply(Modes);
BENCHMARK(BM_DeringGlue<true>)->Name("MaskedDeringGlue")->Apply(Modes);

}  // namespace
