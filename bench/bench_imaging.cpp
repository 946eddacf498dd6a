// Speed of the filters, the utility commands and the pixel conversions on a 1024 x 1024
// picture, each with the plain reference loops (kernels:0), the fast kernels on one
// thread (kernels:1) and on every core (kernels:2), in megapixels per second. Compare
// the three in one run, e.g. --benchmark_repetitions=3.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "filters/canny.h"
#include "filters/filterbase.h"
#include "filters/gauss.h"
#include "imaging/bitmap.h"
#include "imaging/imagefmt.h"
#include "imaging/parallel.h"
#include "utility/utility.h"

namespace {

constexpr int kSide = 1024;

// Selects the kernels of state.range(0) for the benchmark's lifetime.
class Kernels {
 public:
  explicit Kernels(benchmark::State& state) : state_(state) {
    const auto mode = state.range(0);
    tvq::SetReferenceKernels(mode == 0);
    tvq::SetThreadCount(mode == 1 ? 1 : 0);
    state.SetLabel(mode == 0   ? "reference"
                   : mode == 1 ? "fast, 1 thread"
                               : "fast, " + std::to_string(tvq::ThreadCount()) + " threads");
  }
  ~Kernels() {
    state_.counters["Mpixel/s"] =
        benchmark::Counter(static_cast<double>(state_.iterations()) * kSide * kSide / 1e6,
                           benchmark::Counter::kIsRate);
    tvq::SetReferenceKernels(false);
    tvq::SetThreadCount(0);
  }
  Kernels(const Kernels&) = delete;
  Kernels& operator=(const Kernels&) = delete;

 private:
  benchmark::State& state_;
};

void Modes(benchmark::internal::Benchmark* b) {
  b->ArgName("kernels")->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
}

// A picture with smooth gradients and noise, so that ridges and ties both occur.
tvq::Bitmap MakePicture(int bits) {
  tvq::Bitmap picture(kSide, kSide, bits);
  std::mt19937 rng(5);
  const int bytes = bits / 8;
  for (int y = 0; y < kSide; ++y)
    for (int x = 0; x < kSide; ++x)
      for (int c = 0; c < bytes; ++c)
        picture.ScanLine(y)[bytes * x + c] =
            static_cast<std::uint8_t>(((x * (c + 1) + y * 3) / 4 + rng() % 16) & 0xFF);
  return picture;
}

template <typename Image>
Image Read(const tvq::Bitmap& picture) {
  Image image;
  tvq::ImageFromBitmap(picture, Image::kFormat, image);
  return image;
}

// Normalised Gaussian weights of sigma 2 for the pass benchmarks.
std::vector<float> Weights(int radius) {
  std::vector<float> g(2 * radius + 1);
  float s = 0.0f;
  for (int j = -radius; j <= radius; ++j)
    s += g[j + radius] = static_cast<float>(std::exp(-double(j * j) / 4.0));
  for (float& v : g) v /= s;
  return g;
}

template <typename Image, bool kVertical>
void BM_Pass(benchmark::State& state) {
  Kernels kernels(state);
  const int radius = static_cast<int>(state.range(1));
  const std::vector<float> g = Weights(radius);
  const Image src = Read<Image>(MakePicture(24));
  Image dst(kSide, kSide);
  for (auto _ : state) {
    if (kVertical)
      tvq::VerticalPass(src, dst, g.data(), 2 * radius + 1, radius);
    else
      tvq::HorizontalPass(src, dst, g.data(), 2 * radius + 1, radius);
    benchmark::DoNotOptimize(dst.Row(0));
  }
}
void PassArgs(benchmark::internal::Benchmark* b) {
  b->ArgNames({"kernels", "radius"})->Unit(benchmark::kMillisecond)->UseRealTime();
  for (int mode : {0, 1, 2})
    for (int radius : {3, 10}) b->Args({mode, radius});
}
BENCHMARK(BM_Pass<tvq::TImageF, false>)->Name("HorizontalPass/F")->Apply(PassArgs);
BENCHMARK(BM_Pass<tvq::TImageF, true>)->Name("VerticalPass/F")->Apply(PassArgs);
BENCHMARK(BM_Pass<tvq::TImageF4, false>)->Name("HorizontalPass/F4")->Apply(PassArgs);
BENCHMARK(BM_Pass<tvq::TImageF4, true>)->Name("VerticalPass/F4")->Apply(PassArgs);

void BM_GaussSmoothF4(benchmark::State& state) {
  Kernels kernels(state);
  const auto src = Read<tvq::TImageF4>(MakePicture(24));
  tvq::TImageF4 dst(kSide, kSide);
  for (auto _ : state) {
    tvq::GaussSmooth(src, dst, 2.0f, 3);
    benchmark::DoNotOptimize(dst.Row(0));
  }
}
BENCHMARK(BM_GaussSmoothF4)->Name("GaussSmooth/F4/radius:3")->Apply(Modes);

void BM_GaussDerivX(benchmark::State& state) {
  Kernels kernels(state);
  const auto src = Read<tvq::TImageF>(MakePicture(24));
  tvq::TImageF dst(kSide, kSide);
  for (auto _ : state) {
    tvq::GaussDerivX(src, dst, 1.0f, 3);
    benchmark::DoNotOptimize(dst.Row(0));
  }
}
BENCHMARK(BM_GaussDerivX)->Name("GaussDerivX/F/radius:3")->Apply(Modes);

void BM_Canny(benchmark::State& state) {
  Kernels kernels(state);
  const auto picture = Read<tvq::TImageC4>(MakePicture(32));
  tvq::TImageB edges(kSide, kSide);
  for (auto _ : state) {
    state.PauseTiming();
    auto src = picture.Clone();
    state.ResumeTiming();
    tvq::CannyEdgeMap(src, edges, 1.5);
    benchmark::DoNotOptimize(edges.Row(0));
  }
}
BENCHMARK(BM_Canny)->Name("CannyEdgeMap")->Apply(Modes);

void BM_Downsample(benchmark::State& state) {
  Kernels kernels(state);
  const tvq::Bitmap picture = MakePicture(24);
  for (auto _ : state) benchmark::DoNotOptimize(tvq::Downsample(picture).halved.Row(0));
}
BENCHMARK(BM_Downsample)->Name("Downsample")->Apply(Modes);

void BM_Greyscale(benchmark::State& state) {
  Kernels kernels(state);
  const tvq::Bitmap picture = MakePicture(24);
  for (auto _ : state) benchmark::DoNotOptimize(tvq::Greyscale(picture).Row(0));
}
BENCHMARK(BM_Greyscale)->Name("Greyscale")->Apply(Modes);

void BM_Noise(benchmark::State& state) {
  Kernels kernels(state);
  const tvq::Bitmap picture = MakePicture(24);
  for (auto _ : state) {
    tvq::NoiseGenerator generator;
    benchmark::DoNotOptimize(tvq::AddGaussianNoise(picture, generator).Row(0));
  }
}
BENCHMARK(BM_Noise)->Name("AddGaussianNoise")->Apply(Modes);

void BM_Psnr(benchmark::State& state) {
  Kernels kernels(state);
  const auto a = Read<tvq::TImageF>(MakePicture(24));
  const auto b = Read<tvq::TImageF>(MakePicture(32));
  for (auto _ : state) benchmark::DoNotOptimize(tvq::ComparePsnr(a, b).mse);
}
BENCHMARK(BM_Psnr)->Name("ComparePsnr")->Apply(Modes);

// ConvertPixels between the pairs of state.range(1) -> state.range(2).
void BM_Convert(benchmark::State& state) {
  Kernels kernels(state);
  const auto from = static_cast<std::int32_t>(state.range(1));
  const auto to = static_cast<std::int32_t>(state.range(2));
  // A 24-bit picture for three-byte sources; any other source is converted from it.
  const tvq::Bitmap picture = MakePicture(24);
  tvq::TImageF4 colour = Read<tvq::TImageF4>(picture);
  tvq::TImageBase source;
  if (from == tvq::ifC3) {
    source.Attach(tvq::BitmapToDesc(const_cast<tvq::Bitmap&>(picture)));
  } else {
    source.Adopt(
        std::make_unique<tvq::TImageContainer>(colour.GetDesc(), from, from != tvq::ifMask));
  }
  tvq::TImageContainer target(kSide, kSide, to);
  for (auto _ : state) {
    tvq::ConvertPixels(source.GetDesc(), target.GetDesc());
    benchmark::DoNotOptimize(target.GetDesc().origin);
  }
}
BENCHMARK(BM_Convert)
    ->ArgNames({"kernels", "from", "to"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->ArgsProduct({{0, 1, 2}, {tvq::ifC3}, {tvq::ifF, tvq::ifF4}})
    ->ArgsProduct({{0, 1, 2}, {tvq::ifC4}, {tvq::ifF, tvq::ifF4}})
    ->ArgsProduct({{0, 1, 2}, {tvq::ifF4}, {tvq::ifC4, tvq::ifF}})
    ->ArgsProduct({{0, 1, 2}, {tvq::ifF}, {tvq::ifC4}});

}  // namespace
