#include "interpolation/gradient.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <string>
#include <vector>

#include "imaging/errors.h"
#include "interpolation/gradient_kernels.h"

namespace tvq::gradient {

namespace {

// A pair list turned into element offsets for one row stride.
struct OffsetPair {
  std::ptrdiff_t a, b;
};

std::vector<OffsetPair> ToOffsets(const std::vector<Pair>& pairs, std::ptrdiff_t stride) {
  std::vector<OffsetPair> offsets;
  offsets.reserve(pairs.size());
  for (const Pair& p : pairs) offsets.push_back({p.r1 * stride + p.c1, p.r2 * stride + p.c2});
  return offsets;
}

// Sum of absolute differences over the pairs (and, per pair, over the planes),
// accumulated in double and stored once as a float.
template <int kPlanes>
float GradientSum(const std::array<const float*, kPlanes>& at,
                  const std::vector<OffsetPair>& pairs) {
  double sum = 0.0;
  for (const OffsetPair& pair : pairs) {
    double contribution = 0.0;
    for (int k = 0; k < kPlanes; ++k)
      contribution = contribution + std::fabs(static_cast<double>(at[k][pair.a]) -
                                              static_cast<double>(at[k][pair.b]));
    sum = sum + contribution;
  }
  return static_cast<float>(sum);
}

inline double Pair2(const float* p, std::ptrdiff_t a, std::ptrdiff_t b) {
  return static_cast<double>(p[a]) + static_cast<double>(p[b]);
}

}  // namespace

Stencil GreyStencil() {
  return {{ToVector(kGreyH), ToVector(kGreyV), ToVector(kGreyD), ToVector(kGreyA),
           ToVector(kGreySA), ToVector(kGreyHA), ToVector(kGreyHD), ToVector(kGreySD)},
          {0.5, 0.5, 3.0, 3.0, 1.0, 1.0, 1.0, 1.0},
          3,
          1};
}

Stencil ColourStencil() {
  return {{ToVector(kGreyH), ToVector(kGreyV), ToVector(kColourD), ToVector(kColourA),
           ToVector(kColourSA), ToVector(kColourHA), ToVector(kColourHD), ToVector(kColourSD)},
          {0.3, 0.3, 2.0, 2.0, 1.0, 1.0, 1.0, 1.0},
          5,
          2};
}

void CheckDomain(std::uint64_t w, std::uint64_t h, std::uint64_t f, const char* routine) {
  if (f != 2)
    throw EZorException(ecBadSize, std::string(routine) +
                                       ": only two-times enlargement is "
                                       "supported, factor " +
                                       std::to_string(f) + " was asked for");
  if (w < 2 || h < 2)
    throw EZorException(ecBadSize, std::string(routine) +
                                       ": the source must be at least 2 x 2 "
                                       "pixels, it is " +
                                       std::to_string(w) + " x " + std::to_string(h));
}

// Even destination row 2i: placement of source row i and the horizontal pass.
void HalfSampleEvenRow(const float* src, std::ptrdiff_t sw, float* dst, std::ptrdiff_t i) {
  const std::ptrdiff_t W = 2 * sw;
  float* p = dst + 2 * i * W;
  const float* s = src + i * sw;
  for (std::ptrdiff_t j = 0; j < sw; ++j) p[2 * j] = s[j];
  p[1] = static_cast<float>(Pair2(p, 0, 2) * 0.5);
  for (std::ptrdiff_t k = 1; k < sw - 2; ++k)
    p[2 * k + 1] = static_cast<float>(Pair2(p, 2 * k, 2 * k + 2) * 0.625 +
                                      Pair2(p, 2 * k - 2, 2 * k + 4) * (-0.125));
  p[2 * sw - 3] = static_cast<float>(Pair2(p, 2 * sw - 4, 2 * sw - 2) * 0.5);
  p[2 * sw - 1] = p[2 * sw - 2];
}

// Odd destination row r from the completed even rows: linear next to the first and
// last source rows, replicated in the last row.
void HalfSampleOddRow(float* dst, std::ptrdiff_t sw, std::ptrdiff_t sh, std::ptrdiff_t r) {
  const std::ptrdiff_t W = 2 * sw, H = 2 * sh;
  float* q = dst + r * W;
  if (r == H - 1) {
    for (std::ptrdiff_t c = 0; c < W; ++c) q[c] = q[c - W];
  } else if (r == 1 || r == H - 3) {
    for (std::ptrdiff_t c = 0; c < W; ++c) q[c] = static_cast<float>(Pair2(q + c, -W, W) * 0.5);
  } else {
    for (std::ptrdiff_t c = 0; c < W; ++c)
      q[c] =
          static_cast<float>(Pair2(q + c, -W, W) * 0.625 + Pair2(q + c, -3 * W, 3 * W) * (-0.125));
  }
}

float* HalfSampleUpsamplePlain(const float* src, std::uint32_t w, std::uint32_t h, float* dst) {
  const std::ptrdiff_t sw = w, sh = h;
  const std::ptrdiff_t H = 2 * sh;
  // Placement and horizontal pass on the even rows, then every odd row from the
  // completed even rows (each depends on even rows only), in memory order.
  for (std::ptrdiff_t i = 0; i < sh; ++i) HalfSampleEvenRow(src, sw, dst, i);
  for (std::ptrdiff_t r = 1; r < H; r += 2) HalfSampleOddRow(dst, sw, sh, r);
  return dst;
}

namespace {

// Diagonal pass: re-estimates every (odd row, odd column) sample inside the
// frame from the values in dst, writing into work.
template <int kPlanes>
void DiagonalPass(const Stencil& stencil, const std::array<float*, kPlanes>& dst,
                  const std::array<float*, kPlanes>& work, std::ptrdiff_t W, std::ptrdiff_t H,
                  const StopFlag* stop) {
  std::array<std::vector<OffsetPair>, kDirections> offsets;
  for (int d = 0; d < kDirections; ++d) offsets[d] = ToOffsets(stencil.diagonal[d], W);
  // Interpolation pairs of the six paired directions (D, A, SA, HA, HD, SD).
  const std::ptrdiff_t nw = -W - 1, se = W + 1, sw = W - 1, ne = -W + 1;
  const OffsetPair interp[6] = {{nw, se},        {sw, ne},        {3 * W - 1, -3 * W + 1},
                                {W - 3, -W + 3}, {-W - 3, W + 3}, {-3 * W - 1, 3 * W + 1}};
  const std::ptrdiff_t frame = stencil.diagonalFrame;
  for (std::ptrdiff_t r = frame; r < H - frame; r += 2) {
    ThrowIfStopped(stop);
    for (std::ptrdiff_t c = frame; c < W - frame; c += 2) {
      const std::ptrdiff_t i = r * W + c;
      std::array<const float*, kPlanes> at;
      for (int k = 0; k < kPlanes; ++k) at[k] = dst[k] + i;
      std::array<float, kDirections> weight;
      for (int d = 0; d < kDirections; ++d) {
        const float g = GradientSum<kPlanes>(at, offsets[d]);
        weight[d] =
            static_cast<float>(std::pow(stencil.scale[d] / (static_cast<double>(g) + 0.01), 8.0));
      }
      const float total =
          static_cast<float>(2.0 * weight[kH] + 2.0 * weight[kV] + static_cast<double>(weight[kD]) +
                             weight[kA] + weight[kSA] + weight[kHA] + weight[kHD] + weight[kSD]);
      const double k = total != 0.0f ? 0.5 / static_cast<double>(total) : 1.0;
      float largest = 0.0f;
      for (int d = 0; d < kDirections; ++d) {
        weight[d] = static_cast<float>(k * weight[d]);
        largest = std::max(largest, weight[d]);
      }
      const double blend = 2.0 * static_cast<double>(largest);
      const double axisWeight = static_cast<double>(weight[kH]) + static_cast<double>(weight[kV]);
      for (int p = 0; p < kPlanes; ++p) {
        const float* s = at[p];
        double sum = 0.0;
        for (int d = 0; d < 6; ++d)
          sum = sum + static_cast<double>(weight[kD + d]) * Pair2(s, interp[d].a, interp[d].b);
        sum = sum + axisWeight * (static_cast<double>(s[nw]) + static_cast<double>(s[se]) +
                                  static_cast<double>(s[sw]) + static_cast<double>(s[ne]));
        const float v = static_cast<float>(sum);
        float& target = work[p][i];
        target = static_cast<float>(static_cast<double>(target) +
                                    blend * (static_cast<double>(v) - static_cast<double>(target)));
      }
    }
  }
}

// Axis pass: re-estimates every sample with r + c odd inside a three-pixel frame.
template <int kPlanes>
void AxisPass(const std::array<float*, kPlanes>& dst, const std::array<float*, kPlanes>& work,
              std::ptrdiff_t W, std::ptrdiff_t H, const StopFlag* stop) {
  const std::vector<OffsetPair> horizontal = ToOffsets(ToVector(kAxisH), W);
  const std::vector<OffsetPair> vertical = ToOffsets(ToVector(kAxisV), W);
  for (std::ptrdiff_t r = 3; r <= H - 4; ++r) {
    ThrowIfStopped(stop);
    for (std::ptrdiff_t c = (r % 2 == 1) ? 4 : 3; c <= W - 4; c += 2) {
      const std::ptrdiff_t i = r * W + c;
      std::array<const float*, kPlanes> at;
      for (int k = 0; k < kPlanes; ++k) at[k] = dst[k] + i;
      const float gh = GradientSum<kPlanes>(at, horizontal);
      const float gv = GradientSum<kPlanes>(at, vertical);
      const float wh = static_cast<float>(1.0 / std::pow(static_cast<double>(gh) + 0.01, 4.0));
      const float wv = static_cast<float>(1.0 / std::pow(static_cast<double>(gv) + 0.01, 4.0));
      const double total = static_cast<double>(wh) + static_cast<double>(wv);
      const double k = total != 0.0 ? 0.5 / total : 1.0;
      const float nh = static_cast<float>(k * wh);
      const float nv = static_cast<float>(k * wv);
      const double blend = 2.0 * static_cast<double>(std::max(nh, nv));
      for (int p = 0; p < kPlanes; ++p) {
        const float* s = at[p];
        const float v = static_cast<float>(Pair2(s, -1, 1) * nh + Pair2(s, -W, W) * nv);
        float& target = work[p][i];
        target = static_cast<float>(static_cast<double>(target) +
                                    blend * (static_cast<double>(v) - static_cast<double>(target)));
      }
    }
  }
}

}  // namespace

template <int kPlanes>
void GradientUpscaleCorePlain(const Stencil& stencil, const std::array<const float*, kPlanes>& src,
                              std::uint32_t w, std::uint32_t h,
                              const std::array<float*, kPlanes>& dst, std::uint32_t f,
                              const char* routine, const StopFlag* stop) {
  CheckDomain(w, h, f, routine);
  const std::ptrdiff_t W = static_cast<std::ptrdiff_t>(w) * 2;
  const std::ptrdiff_t H = static_cast<std::ptrdiff_t>(h) * 2;
  const std::size_t count = static_cast<std::size_t>(W) * static_cast<std::size_t>(H);
  std::array<std::vector<float>, kPlanes> work;
  std::array<float*, kPlanes> workPlanes;
  for (int k = 0; k < kPlanes; ++k) {
    HalfSampleUpsamplePlain(src[k], w, h, dst[k]);
    work[k].assign(dst[k], dst[k] + count);
    workPlanes[k] = work[k].data();
  }
  for (int round = 0; round < stencil.rounds; ++round) {
    DiagonalPass<kPlanes>(stencil, dst, workPlanes, W, H, stop);
    for (int k = 0; k < kPlanes; ++k) std::copy(work[k].begin(), work[k].end(), dst[k]);
    AxisPass<kPlanes>(dst, workPlanes, W, H, stop);
    for (int k = 0; k < kPlanes; ++k) std::copy(work[k].begin(), work[k].end(), dst[k]);
  }
}

template void GradientUpscaleCorePlain<1>(const Stencil&, const std::array<const float*, 1>&,
                                          std::uint32_t, std::uint32_t,
                                          const std::array<float*, 1>&, std::uint32_t, const char*,
                                          const StopFlag*);
template void GradientUpscaleCorePlain<3>(const Stencil&, const std::array<const float*, 3>&,
                                          std::uint32_t, std::uint32_t,
                                          const std::array<float*, 3>&, std::uint32_t, const char*,
                                          const StopFlag*);

}  // namespace tvq::gradient
