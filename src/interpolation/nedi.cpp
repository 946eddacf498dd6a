#include "interpolation/nedi.h"

#include <array>
#include <string>

#include "imaging/errors.h"
#include "interpolation/directional.h"
#include "interpolation/interpolation.h"
#include "interpolation/nedi_kernels.h"
#include "numeric/mathmethods.h"

namespace tvq {

namespace nedi {

void CheckCounts(const NediPassParams& params) {
  const auto outside = [](std::int32_t count) { return count < 0 || count > 16; };
  if (outside(params.n) || outside(params.m))
    throw SettingError("NEDI pass: neighbour count " + std::to_string(params.n) +
                       " and training count " + std::to_string(params.m) +
                       " must each lie in 0..16");
}

bool HoldsPixels(const TImageBase& image) {
  return image.Width() > 0 && image.Height() > 0;
}

}  // namespace nedi

namespace {

using nedi::Selected;

struct Offset {
  std::int32_t dx, dy;
};

template <std::size_t N>
void SetNeighbours(NediPassParams& p, const Offset (&trainScale)[N], const Offset (&predict)[N]) {
  p.n = static_cast<std::int32_t>(N);
  for (std::size_t l = 0; l < N; ++l) {
    p.trainScaleDx[l] = trainScale[l].dx;
    p.trainScaleDy[l] = trainScale[l].dy;
    p.predictDx[l] = predict[l].dx;
    p.predictDy[l] = predict[l].dy;
    p.neighbourWeight[l] = 1.0f;
  }
}

void SetTraining(NediPassParams& p, const Offset (&pixels)[16], const float (&weights)[16]) {
  p.m = 16;
  for (int k = 0; k < 16; ++k) {
    p.trainDx[k] = pixels[k].dx;
    p.trainDy[k] = pixels[k].dy;
    p.trainWeight[k] = weights[k];
  }
}

constexpr float kUnitWeights[16] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};

// Pass 1 trains on the 4 x 4 source samples around an (odd, odd) pixel, listed row by row.
constexpr Offset kDiagonalTraining[16] = {{-3, -3}, {-1, -3}, {1, -3}, {3, -3}, {-3, -1}, {-1, -1},
                                          {1, -1},  {3, -1},  {-3, 1}, {-1, 1}, {1, 1},   {3, 1},
                                          {-3, 3},  {-1, 3},  {1, 3},  {3, 3}};
constexpr Offset kAxisTraining[16] = {{0, -3}, {-1, -2}, {1, -2}, {-2, -1}, {0, -1}, {2, -1},
                                      {-3, 0}, {-1, 0},  {1, 0},  {3, 0},   {-2, 1}, {0, 1},
                                      {2, 1},  {-1, 2},  {1, 2},  {0, 3}};

NediPassParams DiagonalPass4() {
  NediPassParams p;
  SetNeighbours(p, {{-2, -2}, {2, -2}, {-2, 2}, {2, 2}}, {{-1, -1}, {1, -1}, {-1, 1}, {1, 1}});
  SetTraining(p, kDiagonalTraining, kUnitWeights);
  p.mask[3] = 1;
  p.lambda = 0.1f;
  return p;
}

NediPassParams DiagonalPass12() {
  NediPassParams p;
  SetNeighbours(p,
                {{-2, -4},
                 {2, -4},
                 {-4, -2},
                 {-2, -2},
                 {2, -2},
                 {4, -2},
                 {-4, 2},
                 {-2, 2},
                 {2, 2},
                 {4, 2},
                 {-2, 4},
                 {2, 4}},
                {{-1, -2},
                 {1, -2},
                 {-2, -1},
                 {-1, -1},
                 {1, -1},
                 {2, -1},
                 {-2, 1},
                 {-1, 1},
                 {1, 1},
                 {2, 1},
                 {-1, 2},
                 {1, 2}});
  SetTraining(p, kDiagonalTraining, kUnitWeights);
  p.mask[3] = 1;
  p.lambda = 0.1f;
  return p;
}

NediPassParams AxisPass(const float (&weights)[16]) {
  NediPassParams p;
  SetNeighbours(p, {{0, -2}, {-2, 0}, {2, 0}, {0, 2}}, {{0, -1}, {-1, 0}, {1, 0}, {0, 1}});
  SetTraining(p, kAxisTraining, weights);
  p.mask[1] = 1;
  p.mask[2] = 1;
  p.lambda = 0.1f;
  return p;
}

// Fits the coefficients of pixel (x, y) on the training window; sample(x, y)
// reads the training value of a (clamped) pixel as a double.
template <typename Sample>
Vector FitCoefficients(const NediPassParams& params, LsqWorkspace& workspace, Vector& b,
                       std::int32_t x, std::int32_t y, Sample sample) {
  for (std::int32_t k = 0; k < params.m; ++k) {
    const std::int32_t tx = x + params.trainDx[k];
    const std::int32_t ty = y + params.trainDy[k];
    const double t = params.trainWeight[k];
    for (std::int32_t l = 0; l < params.n; ++l)
      workspace.A.At(k, l) = sample(tx + params.trainScaleDx[l], ty + params.trainScaleDy[l]) * t;
    b.At(k) = sample(tx, ty) * t;
  }
  return SolveRidge(workspace, b, static_cast<double>(params.lambda));
}

// The plain loop of a pass, which fits the coefficients of every selected pixel of ref
// from sample(x, y) of the training image and hands them to predict(x, y, a); it polls stop before
// every row.
template <typename Image, typename Sample, typename Predict>
void PlainPass(const Image& ref, const NediPassParams& params, const StopFlag* stop, Sample sample,
               Predict predict) {
  LsqWorkspace workspace(params.m, params.n);
  Vector b(params.m);
  Vector a(params.n);
  for (std::int32_t y = 0; y < ref.Height(); ++y) {
    ThrowIfStopped(stop);
    for (std::int32_t x = 0; x < ref.Width(); ++x) {
      if (!Selected(params, x, y)) continue;
      a = FitCoefficients(params, workspace, b, x, y, sample);
      predict(x, y, a);
    }
  }
}

}  // namespace

void LoadNediConfig(NediConfig& config, std::int32_t neighbours) {
  if (neighbours == 12) {
    constexpr float kAxisWeights12[16] = {0.25f, 0.5f,  0.5f, 0.5f, 1.0f, 0.5f, 0.25f, 1.0f,
                                          1.0f,  0.25f, 0.5f, 1.0f, 0.5f, 0.5f, 0.5f,  0.25f};
    config.pass1 = DiagonalPass12();
    config.pass2 = AxisPass(kAxisWeights12);
  } else {
    config.pass1 = DiagonalPass4();
    config.pass2 = AxisPass(kUnitWeights);
  }
}

void NediPassPlain(const TImageF& train, const TImageF& ref, TImageF& out,
                   const NediPassParams& params, const StopFlag* stop) {
  PlainPass(
      ref, params, stop,
      [&train](std::int32_t x, std::int32_t y) { return static_cast<double>(*train.Pixel(x, y)); },
      [&](std::int32_t x, std::int32_t y, const Vector& a) {
        float v = 0.0f;
        for (std::int32_t l = 0; l < params.n; ++l) {
          const float c = static_cast<float>(a.At(l));
          v = static_cast<float>(
              static_cast<double>(v) +
              static_cast<double>(*ref.Pixel(x + params.predictDx[l], y + params.predictDy[l])) *
                  static_cast<double>(c));
        }
        *out.Pixel(x, y) = v;
      });
}

void NediPassC4Plain(const TImageC4& train, const TImageC4& ref, TImageC4& out,
                     const NediPassParams& params) {
  PlainPass(
      ref, params, nullptr,
      [&train](std::int32_t x, std::int32_t y) {
        return static_cast<double>(train.Pixel(x, y)[3]);
      },
      [&](std::int32_t x, std::int32_t y, const Vector& a) {
        std::array<float, 4> v = {0.0f, 0.0f, 0.0f, 0.0f};
        for (std::int32_t l = 0; l < params.n; ++l) {
          const double c = static_cast<float>(a.At(l));
          const std::uint8_t* p = ref.Pixel(x + params.predictDx[l], y + params.predictDy[l]);
          for (int k = 0; k < 4; ++k)
            v[k] = static_cast<float>(static_cast<double>(v[k]) + static_cast<double>(p[k]) * c);
        }
        std::uint8_t* target = out.Pixel(x, y);
        for (int k = 0; k < 4; ++k) target[k] = ClampToByte(v[k]);
      });
}

void NediUpscale(const TImageF& src, TImageF& dst, NediConfig config, const StopFlag* stop) {
  if (!IsTwiceSize(src, dst)) return;
  for (std::int32_t y = 0; y < src.Height(); ++y)
    for (std::int32_t x = 0; x < src.Width(); ++x) *dst.Pixel(2 * x, 2 * y) = *src.Pixel(x, y);
  NediPass(dst, dst, dst, config.pass1, stop);
  NediPass(dst, dst, dst, config.pass2, stop);
}

void NediUpscaleC4(const TImageC4& src, TImageC4& dst, NediConfig config) {
  if (!IsTwiceSize(src, dst)) return;
  PlaceSourceWithLuminance(src, dst);
  NediPassC4(dst, dst, dst, config.pass1);
  NediPassC4(dst, dst, dst, config.pass2);
}

}  // namespace tvq
