#include "interpolation/gradient.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "imaging/imagebase.h"
#include "imaging/parallel.h"
#include "interpolation/gradient_kernels.h"

namespace tvq {

namespace {

// Two samples whose absolute difference enters a gradient sum, as (row, column)
// offsets from the sample being estimated.
struct Pair {
  int r1, c1, r2, c2;
};

// Direction order everywhere below: horizontal, vertical, down-right diagonal,
// down-left diagonal, steep down-left, shallow down-left, shallow down-right,
// steep down-right.
enum Direction { kH, kV, kD, kA, kSA, kHA, kHD, kSD, kDirections };

// Diagonal pass, grey form.
constexpr Pair kGreyH[] = {{-1, -1, -1, 1}, {-1, -3, -1, -1}, {-1, 1, -1, 3},
                           {1, -1, 1, 1},   {1, -3, 1, -1},   {1, 1, 1, 3}};
constexpr Pair kGreyV[] = {{-1, -1, 1, -1}, {-3, -1, -1, -1}, {1, -1, 3, -1},
                           {-1, 1, 1, 1},   {-3, 1, -1, 1},   {1, 1, 3, 1}};
constexpr Pair kGreyD[] = {{-1, -1, 1, 1}, {-3, -3, -1, -1}, {1, 1, 3, 3},  {-3, -1, -1, 1},
                           {-1, 1, 1, 3},  {-1, -3, 1, -1},  {1, -1, 3, 1}, {-1, -1, 0, 0},
                           {0, 0, 1, 1},   {0, -1, 1, 0},    {-1, 0, 0, 1}};
constexpr Pair kGreyA[] = {{1, -1, -1, 1},  {3, -3, 1, -1}, {-1, 1, -3, 3}, {1, -3, -1, -1},
                           {-1, -1, -3, 1}, {3, -1, 1, 1},  {1, 1, -1, 3},  {1, -1, 0, 0},
                           {0, 0, -1, 1},   {0, -1, -1, 0}, {1, 0, 0, 1}};
constexpr Pair kGreySA[] = {{3, -3, -1, -1}, {1, -1, -3, 1}, {3, -1, -1, 1}, {1, 1, -3, 3},
                            {1, -1, -1, 0},  {2, -1, 0, 0},  {0, 0, -2, 1},  {1, 0, -1, 1}};
constexpr Pair kGreyHA[] = {{-1, -1, -3, 3}, {1, -3, -1, 1}, {1, -1, -1, 3}, {3, -3, 1, 1},
                            {0, -1, -1, 1},  {1, -2, 0, 0},  {0, 0, -1, 2},  {1, -1, 0, 1}};
constexpr Pair kGreyHD[] = {{-3, -3, -1, 1}, {-1, -3, 1, 1}, {-1, -1, 1, 3}, {1, -1, 3, 3},
                            {-1, -1, 0, 1},  {-1, -2, 0, 0}, {0, 0, 1, 2},   {0, -1, 1, 1}};
constexpr Pair kGreySD[] = {{-3, -3, 1, -1}, {-3, -1, 1, 1}, {-1, -1, 3, 1}, {-1, 1, 3, 3},
                            {-1, -1, 1, 0},  {-2, -1, 0, 0}, {0, 0, 2, 1},   {-1, 0, 1, 1}};

// Diagonal pass, colour form: D and A extend the grey pairs by four each.
constexpr Pair kColourD[] = {{-1, -1, 1, 1},  {-3, -3, -1, -1}, {1, 1, 3, 3},  {-3, -1, -1, 1},
                             {-1, 1, 1, 3},   {-1, -3, 1, -1},  {1, -1, 3, 1}, {-1, -1, 0, 0},
                             {0, 0, 1, 1},    {0, -1, 1, 0},    {-1, 0, 0, 1}, {-2, -1, -1, 0},
                             {-1, -2, 0, -1}, {1, 0, 2, 1},     {0, 1, 1, 2}};
constexpr Pair kColourA[] = {{1, -1, -1, 1},  {3, -3, 1, -1}, {-1, 1, -3, 3}, {1, -3, -1, -1},
                             {-1, -1, -3, 1}, {3, -1, 1, 1},  {1, 1, -1, 3},  {1, -1, 0, 0},
                             {0, 0, -1, 1},   {0, -1, -1, 0}, {1, 0, 0, 1},   {-1, 0, -2, 1},
                             {0, 1, -1, 2},   {1, -2, 0, -1}, {2, -1, 1, 0}};
constexpr Pair kColourSA[] = {{3, -3, -1, -1}, {1, -1, -3, 1}, {3, -1, -1, 1}, {1, 1, -3, 3},
                              {1, -1, -2, 0},  {2, -1, -1, 0}, {0, 0, -3, 1},  {1, 0, -2, 1},
                              {3, -1, 0, 0},   {2, 0, -1, 1}};
constexpr Pair kColourHA[] = {{-1, -1, -3, 3}, {1, -3, -1, 1}, {1, -1, -1, 3}, {3, -3, 1, 1},
                              {0, -1, -1, 2},  {1, -2, 0, 1},  {0, 0, -1, 3},  {1, -1, 0, 2},
                              {1, -3, 0, 0},   {0, -2, -1, 1}};
constexpr Pair kColourHD[] = {{-3, -3, -1, 1}, {-1, -3, 1, 1}, {-1, -1, 1, 3}, {1, -1, 3, 3},
                              {-1, -1, 0, 2},  {-1, -2, 0, 1}, {0, 0, 1, 3},   {0, -1, 1, 2},
                              {-1, -3, 0, 0},  {0, -2, 1, 1}};
constexpr Pair kColourSD[] = {{-3, -3, 1, -1}, {-3, -1, 1, 1}, {-1, -1, 3, 1}, {-1, 1, 3, 3},
                              {-1, -1, 2, 0},  {-2, -1, 1, 0}, {0, 0, 3, 1},   {-1, 0, 2, 1},
                              {-3, -1, 0, 0},  {-2, 0, 1, 1}};

// Axis pass, both forms.
constexpr Pair kAxisH[] = {{0, -1, 0, 1},  {0, -3, 0, -1}, {0, 1, 0, 3}, {-1, -2, -1, 0},
                           {-1, 0, -1, 2}, {1, -2, 1, 0},  {1, 0, 1, 2}};
constexpr Pair kAxisV[] = {{-1, 0, 1, 0},  {-3, 0, -1, 0}, {1, 0, 3, 0}, {-2, -1, 0, -1},
                           {0, -1, 2, -1}, {-2, 1, 0, 1},  {0, 1, 2, 1}};

template <std::size_t N>
std::vector<Pair> ToVector(const Pair (&pairs)[N]) {
  return std::vector<Pair>(pairs, pairs + N);
}

// The data that tells the grey and the colour form apart.
struct Stencil {
  std::array<std::vector<Pair>, kDirections> diagonal;
  std::array<double, kDirections> scale;
  std::ptrdiff_t diagonalFrame;  // first and (from the far border) last row/column visited
  int rounds;
};

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

inline double Pair2(const float* p, std::ptrdiff_t a, std::ptrdiff_t b) {
  return static_cast<double>(p[a]) + static_cast<double>(p[b]);
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

// The plain loops of HalfSampleUpsample (w, h and f already checked).
float* HalfSampleUpsampleReference(const float* src, std::uint32_t w, std::uint32_t h, float* dst) {
  const std::ptrdiff_t sw = w, sh = h;
  const std::ptrdiff_t H = 2 * sh;
  // Placement and horizontal pass on the even rows, then every odd row from the
  // completed even rows (each depends on even rows only), in memory order.
  for (std::ptrdiff_t i = 0; i < sh; ++i) HalfSampleEvenRow(src, sw, dst, i);
  for (std::ptrdiff_t r = 1; r < H; r += 2) HalfSampleOddRow(dst, sw, sh, r);
  return dst;
}

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

template <int kPlanes>
void GradientUpscaleCoreReference(const Stencil& stencil,
                                  const std::array<const float*, kPlanes>& src, std::uint32_t w,
                                  std::uint32_t h, const std::array<float*, kPlanes>& dst,
                                  std::uint32_t f, const char* routine, const StopFlag* stop) {
  CheckDomain(w, h, f, routine);
  const std::ptrdiff_t W = static_cast<std::ptrdiff_t>(w) * 2;
  const std::ptrdiff_t H = static_cast<std::ptrdiff_t>(h) * 2;
  const std::size_t count = static_cast<std::size_t>(W) * static_cast<std::size_t>(H);
  std::array<std::vector<float>, kPlanes> work;
  std::array<float*, kPlanes> workPlanes;
  for (int k = 0; k < kPlanes; ++k) {
    HalfSampleUpsampleReference(src[k], w, h, dst[k]);
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

// Runs body(begin, end) over [0, count): the plain loop with the reference kernels,
// chunks on the process arena otherwise.
void ForRange(std::ptrdiff_t count, std::ptrdiff_t grain,
              const std::function<void(std::ptrdiff_t, std::ptrdiff_t)>& body) {
  if (ReferenceKernels())
    body(0, count);
  else
    ParallelFor(count, grain, body);
}

// Offset, in a split plane of width W, from a sample of column parity p to the sample
// dr rows and dc columns away (see gradient_kernels.h for the layout).
std::ptrdiff_t SplitOffset(int dr, int dc, int p, std::ptrdiff_t W) {
  const int column = p + dc;
  const int q = column & 1;
  return dr * W + (q - p) * (W / 2) + (column - q) / 2;
}

gradientsimd::DiagonalOffsets DiagonalSplitOffsets(const Stencil& stencil, std::ptrdiff_t W) {
  gradientsimd::DiagonalOffsets o;
  for (int d = 0; d < kDirections; ++d) {
    o.count[d] = static_cast<int>(stencil.diagonal[d].size());
    for (int j = 0; j < o.count[d]; ++j) {
      const Pair& pair = stencil.diagonal[d][static_cast<std::size_t>(j)];
      o.a[d][j] = SplitOffset(pair.r1, pair.c1, 1, W);
      o.b[d][j] = SplitOffset(pair.r2, pair.c2, 1, W);
    }
    o.scale[d] = stencil.scale[d];
  }
  constexpr int kInterp[6][4] = {{-1, -1, 1, 1}, {1, -1, -1, 1}, {3, -1, -3, 1},
                                 {1, -3, -1, 3}, {-1, -3, 1, 3}, {-3, -1, 3, 1}};
  for (int d = 0; d < 6; ++d) {
    o.interp[d][0] = SplitOffset(kInterp[d][0], kInterp[d][1], 1, W);
    o.interp[d][1] = SplitOffset(kInterp[d][2], kInterp[d][3], 1, W);
  }
  constexpr int kCorner[4][2] = {{-1, -1}, {1, 1}, {1, -1}, {-1, 1}};  // nw, se, sw, ne
  for (int c = 0; c < 4; ++c) o.corner[c] = SplitOffset(kCorner[c][0], kCorner[c][1], 1, W);
  return o;
}

gradientsimd::AxisOffsets AxisSplitOffsets(int p, std::ptrdiff_t W) {
  gradientsimd::AxisOffsets o;
  for (int j = 0; j < 7; ++j) {
    o.hA[j] = SplitOffset(kAxisH[j].r1, kAxisH[j].c1, p, W);
    o.hB[j] = SplitOffset(kAxisH[j].r2, kAxisH[j].c2, p, W);
    o.vA[j] = SplitOffset(kAxisV[j].r1, kAxisV[j].c1, p, W);
    o.vB[j] = SplitOffset(kAxisV[j].r2, kAxisV[j].c2, p, W);
  }
  o.left = SplitOffset(0, -1, p, W);
  o.right = SplitOffset(0, 1, p, W);
  o.up = SplitOffset(-1, 0, p, W);
  o.down = SplitOffset(1, 0, p, W);
  return o;
}

// Rows per parallel chunk of a pass over a 1024-wide plane: 2 rows of the colour
// diagonal pass take about 0.1 ms (85 ms for the 512 x 512 colour enlargement on one
// thread in bench_interpolation, half of it in that pass), far above a task's cost.
constexpr std::ptrdiff_t kPassGrain = 2;

// The same passes over split planes (see gradient_kernels.h): the destination planes
// are split in place, each pass writes its estimates into a compact buffer (every
// estimate reads only the planes as they were before the pass, so rows run in
// parallel and samples in vector lanes), and the estimates are then stored back into
// the planes; finally the planes are joined in place.
//
// Measured on a 512 x 512 source, one thread (bench_interpolation, CPU time): with two
// whole split planes per channel and a full copy between them before each pass, 83 ms
// colour and 16.5 ms grey, a fifth of it in page faults and copies; with the compact
// buffers 64.5 and 12.5 ms.
// Floats of one plane's estimates buffer: the larger pass of a w x h source.
std::size_t EstimateFloats(std::uint32_t w, std::uint32_t h, std::ptrdiff_t frame) {
  const std::ptrdiff_t W = static_cast<std::ptrdiff_t>(w) * 2;
  const std::ptrdiff_t H = static_cast<std::ptrdiff_t>(h) * 2;
  const std::ptrdiff_t half = W / 2;
  const std::ptrdiff_t diagonalRows = H - frame > frame ? (H - 2 * frame + 1) / 2 : 0;
  const std::ptrdiff_t diagonalColumns = W - frame > frame ? (W - 2 * frame + 1) / 2 : 0;
  const std::ptrdiff_t axisRows = std::max<std::ptrdiff_t>(H - 6, 0);
  const std::ptrdiff_t axisColumns = std::max<std::ptrdiff_t>(half - 3, 0);
  return static_cast<std::size_t>(std::max(diagonalRows * diagonalColumns, axisRows * axisColumns));
}

template <int kPlanes>
void GradientUpscaleCoreFast(const Stencil& stencil, const std::array<const float*, kPlanes>& src,
                             std::uint32_t w, std::uint32_t h,
                             const std::array<float*, kPlanes>& dst, std::uint32_t f,
                             const char* routine, const StopFlag* stop, UpscaleMemory* memory) {
  CheckDomain(w, h, f, routine);
  const std::ptrdiff_t W = static_cast<std::ptrdiff_t>(w) * 2;
  const std::ptrdiff_t H = static_cast<std::ptrdiff_t>(h) * 2;
  const std::ptrdiff_t half = W / 2;
  const float* planes[3] = {};
  for (int k = 0; k < kPlanes; ++k) {
    ThrowIfStopped(stop);
    HalfSampleUpsample(src[k], w, h, dst[k], f);
    planes[k] = dst[k];
  }
  if (memory != nullptr && memory->sourcesRead) memory->sourcesRead();
  // Splits (join = false) or joins the rows of every plane in place.
  const auto reorder = [&](bool join) {
    ParallelFor(H, 16, [&](std::int64_t begin, std::int64_t end) {
      std::vector<float> row(static_cast<std::size_t>(W));
      for (int k = 0; k < kPlanes; ++k)
        for (std::ptrdiff_t r = begin; r < end; ++r) {
          float* p = dst[k] + r * W;
          std::copy(p, p + W, row.begin());
          for (std::ptrdiff_t m = 0; m < half; ++m) {
            if (join) {
              p[2 * m] = row[static_cast<std::size_t>(m)];
              p[2 * m + 1] = row[static_cast<std::size_t>(half + m)];
            } else {
              p[m] = row[static_cast<std::size_t>(2 * m)];
              p[half + m] = row[static_cast<std::size_t>(2 * m + 1)];
            }
          }
        }
    });
  };
  reorder(false);
  const gradientsimd::DiagonalOffsets diagonal = DiagonalSplitOffsets(stencil, W);
  const gradientsimd::AxisOffsets axisOddRows = AxisSplitOffsets(0, W);
  const gradientsimd::AxisOffsets axisEvenRows = AxisSplitOffsets(1, W);
  // Diagonal pass: odd rows and columns in [frame, side - frame); the column c = 2m + 1
  // is element m of the odd half.
  const std::ptrdiff_t frame = stencil.diagonalFrame;
  const std::ptrdiff_t diagonalRows = H - frame > frame ? (H - 2 * frame + 1) / 2 : 0;
  const std::ptrdiff_t diagonalColumns = W - frame > frame ? (W - 2 * frame + 1) / 2 : 0;
  const auto diagonalRow = [&](std::ptrdiff_t j) { return frame + 2 * j; };
  const std::ptrdiff_t diagonalColumn = half + (frame - 1) / 2;
  // Axis pass: rows 3..H-4; odd rows estimate the even columns 4..W-4 (elements
  // 2..W/2-2 of the even half), even rows the odd columns 3..W-5 (elements 1..W/2-3 of
  // the odd half): W/2 - 3 samples per row either way.
  const std::ptrdiff_t axisRows = std::max<std::ptrdiff_t>(H - 6, 0);
  const std::ptrdiff_t axisColumns = std::max<std::ptrdiff_t>(half - 3, 0);
  const auto axisColumn = [&](std::ptrdiff_t r) { return r % 2 == 1 ? 2 : half + 1; };
  // One buffer per plane for the estimates of either pass.
  const std::size_t estimates = EstimateFloats(w, h, stencil.diagonalFrame);
  std::array<std::unique_ptr<float[]>, kPlanes> buffer;
  float* out[3] = {};
  for (int k = 0; k < kPlanes; ++k) {
    if (memory != nullptr &&
        (static_cast<std::size_t>(k) + 1) * estimates <= memory->scratchFloats) {
      out[k] = memory->scratch + static_cast<std::size_t>(k) * estimates;
    } else {
      buffer[k].reset(new float[estimates]);
      out[k] = buffer[k].get();
    }
  }
  // Stores the estimates of rows [0, rows) back: row j goes to plane row row(j) from
  // element column(row(j)) on.
  const auto storeBack = [&](std::ptrdiff_t rows, std::ptrdiff_t columns, auto row, auto column) {
    ParallelFor(rows, 16, [&](std::int64_t begin, std::int64_t end) {
      for (int k = 0; k < kPlanes; ++k)
        for (std::ptrdiff_t j = begin; j < end; ++j) {
          const std::ptrdiff_t r = row(j);
          std::copy(out[k] + j * columns, out[k] + (j + 1) * columns, dst[k] + r * W + column(r));
        }
    });
  };
  for (int round = 0; round < stencil.rounds; ++round) {
    if (diagonalColumns > 0) {
      ParallelFor(diagonalRows, kPassGrain, [&](std::int64_t begin, std::int64_t end) {
        for (std::ptrdiff_t j = begin; j < end; ++j) {
          ThrowIfStopped(stop);
          gradientsimd::DiagonalSpan(kPlanes, planes, diagonalRow(j) * W + diagonalColumn, out,
                                     j * diagonalColumns, diagonalColumns, diagonal);
        }
      });
      storeBack(diagonalRows, diagonalColumns, diagonalRow,
                [&](std::ptrdiff_t) { return diagonalColumn; });
    }
    if (axisColumns > 0) {
      ParallelFor(axisRows, kPassGrain, [&](std::int64_t begin, std::int64_t end) {
        for (std::ptrdiff_t j = begin; j < end; ++j) {
          ThrowIfStopped(stop);
          const std::ptrdiff_t r = 3 + j;
          gradientsimd::AxisSpan(kPlanes, planes, r * W + axisColumn(r), out, j * axisColumns,
                                 axisColumns, r % 2 == 1 ? axisOddRows : axisEvenRows);
        }
      });
      storeBack(
          axisRows, axisColumns, [](std::ptrdiff_t j) { return 3 + j; }, axisColumn);
    }
  }
  reorder(true);
}

template <int kPlanes>
void GradientUpscaleCore(const Stencil& stencil, const std::array<const float*, kPlanes>& src,
                         std::uint32_t w, std::uint32_t h, const std::array<float*, kPlanes>& dst,
                         std::uint32_t f, const char* routine, const StopFlag* stop,
                         UpscaleMemory* memory = nullptr) {
  if (ReferenceKernels())
    GradientUpscaleCoreReference<kPlanes>(stencil, src, w, h, dst, f, routine, stop);
  else
    GradientUpscaleCoreFast<kPlanes>(stencil, src, w, h, dst, f, routine, stop, memory);
}

// A compact (row stride = width) plane of an image: the image's own storage
// when its rows are contiguous, otherwise a copy.
class CompactPlane {
 public:
  explicit CompactPlane(const TImageF& image) : image_(image) {
    const TImageDesc desc = image.GetDesc();
    if (desc.stride == static_cast<std::ptrdiff_t>(desc.width) * 4 && desc.height > 0) {
      data_ = image.Row(0);
    } else {
      copy_.resize(static_cast<std::size_t>(desc.width) * static_cast<std::size_t>(desc.height));
      for (std::int32_t y = 0; y < desc.height; ++y)
        std::copy(image.Row(y), image.Row(y) + desc.width, copy_.data() + Index(0, y));
      data_ = copy_.data();
    }
  }
  float* data() const { return data_; }
  // Writes a copy back into the image's rows.
  void Store() const {
    if (copy_.empty()) return;
    for (std::int32_t y = 0; y < image_.Height(); ++y)
      std::copy(copy_.data() + Index(0, y), copy_.data() + Index(0, y) + image_.Width(),
                image_.Row(y));
  }

 private:
  std::size_t Index(std::int32_t x, std::int32_t y) const {
    return static_cast<std::size_t>(y) * static_cast<std::size_t>(image_.Width()) +
           static_cast<std::size_t>(x);
  }
  const TImageF& image_;
  std::vector<float> copy_;
  float* data_ = nullptr;
};

}  // namespace

float* HalfSampleUpsample(const float* src, std::uint32_t w, std::uint32_t h, float* dst,
                          std::uint32_t f) {
  CheckDomain(w, h, f, "HalfSampleUpsample");
  if (ReferenceKernels()) return HalfSampleUpsampleReference(src, w, h, dst);
  // Every even row depends on its source row only, every odd row on even rows only.
  const std::ptrdiff_t sw = w, sh = h;
  ParallelFor(sh, 16, [&](std::int64_t begin, std::int64_t end) {
    for (std::ptrdiff_t i = begin; i < end; ++i) HalfSampleEvenRow(src, sw, dst, i);
  });
  ParallelFor(sh, 16, [&](std::int64_t begin, std::int64_t end) {
    for (std::ptrdiff_t i = begin; i < end; ++i) HalfSampleOddRow(dst, sw, sh, 2 * i + 1);
  });
  return dst;
}

void GradientUpscalePlane(const float* src, std::uint32_t w, std::uint32_t h, float* dst,
                          std::uint32_t f, const StopFlag* stop) {
  static const Stencil stencil = GreyStencil();
  GradientUpscaleCore<1>(stencil, {src}, w, h, {dst}, f, "GradientUpscalePlane", stop);
}

void GradientUpscalePlanes3(const float* src0, const float* src1, const float* src2,
                            std::uint32_t w, std::uint32_t h, float* dst0, float* dst1, float* dst2,
                            std::uint32_t f, const StopFlag* stop) {
  static const Stencil stencil = ColourStencil();
  GradientUpscaleCore<3>(stencil, {src0, src1, src2}, w, h, {dst0, dst1, dst2}, f,
                         "GradientUpscalePlanes3", stop);
}

void GradientUpscalePlanes3(const float* src0, const float* src1, const float* src2,
                            std::uint32_t w, std::uint32_t h, float* dst0, float* dst1, float* dst2,
                            std::uint32_t f, const StopFlag* stop, UpscaleMemory& memory) {
  static const Stencil stencil = ColourStencil();
  GradientUpscaleCore<3>(stencil, {src0, src1, src2}, w, h, {dst0, dst1, dst2}, f,
                         "GradientUpscalePlanes3", stop, &memory);
}

std::size_t GradientEstimateFloats(std::uint32_t w, std::uint32_t h) {
  static const Stencil stencil = ColourStencil();
  return EstimateFloats(w, h, stencil.diagonalFrame);
}

void GradientUpscale(const TImageF& src, TImageF& dst, std::uint32_t f, const StopFlag* stop) {
  CheckDomain(static_cast<std::uint32_t>(std::max(src.Width(), 0)),
              static_cast<std::uint32_t>(std::max(src.Height(), 0)), f, "GradientUpscale");
  if (!IsTwiceSize(src, dst)) return;
  const CompactPlane in(src);
  const CompactPlane out(dst);
  GradientUpscalePlane(in.data(), static_cast<std::uint32_t>(src.Width()),
                       static_cast<std::uint32_t>(src.Height()), out.data(), f, stop);
  out.Store();
}

void GradientUpscaleColor(const TImageF4& src, TImageF4& dst, std::uint32_t f,
                          const StopFlag* stop) {
  CheckDomain(static_cast<std::uint32_t>(std::max(src.Width(), 0)),
              static_cast<std::uint32_t>(std::max(src.Height(), 0)), f, "GradientUpscaleColor");
  if (!IsTwiceSize(src, dst)) return;
  const std::int32_t w = src.Width(), h = src.Height();
  const std::int32_t W = dst.Width(), H = dst.Height();
  // Channel planes, every element written before it is read (no zeroing).
  std::array<std::unique_ptr<float[]>, 3> in, out;
  for (int k = 0; k < 3; ++k) {
    in[k].reset(new float[static_cast<std::size_t>(w) * static_cast<std::size_t>(h)]);
    out[k].reset(new float[static_cast<std::size_t>(W) * static_cast<std::size_t>(H)]);
  }
  ForRange(h, 16, [&](std::ptrdiff_t begin, std::ptrdiff_t end) {
    for (std::ptrdiff_t y = begin; y < end; ++y) {
      ThrowIfStopped(stop);
      const float* row = src.Row(static_cast<std::int32_t>(y));
      for (std::int32_t x = 0; x < w; ++x)
        for (int k = 0; k < 3; ++k)
          in[k][static_cast<std::size_t>(y) * static_cast<std::size_t>(w) + x] = row[4 * x + k];
    }
  });
  GradientUpscalePlanes3(in[0].get(), in[1].get(), in[2].get(), static_cast<std::uint32_t>(w),
                         static_cast<std::uint32_t>(h), out[0].get(), out[1].get(), out[2].get(), f,
                         stop);
  ForRange(H, 16, [&](std::ptrdiff_t begin, std::ptrdiff_t end) {
    for (std::ptrdiff_t y = begin; y < end; ++y) {
      float* row = dst.Row(static_cast<std::int32_t>(y));
      for (std::int32_t x = 0; x < W; ++x)
        for (int k = 0; k < 3; ++k)
          row[4 * x + k] = out[k][static_cast<std::size_t>(y) * static_cast<std::size_t>(W) + x];
    }
  });
}

}  // namespace tvq
