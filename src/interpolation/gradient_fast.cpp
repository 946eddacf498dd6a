// The threaded gradient-directed upscaler over split planes with its estimates in vector
// lanes, and the choice between it and the plain loops of gradient.cpp.
#include <algorithm>
#include <array>
#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

#include "imaging/dispatch.h"
#include "imaging/imagebase.h"
#include "imaging/parallel.h"
#include "interpolation/gradient.h"
#include "interpolation/gradient_kernels.h"

namespace tvq {

namespace {

using namespace gradient;

// Every even row depends on its source row only, every odd row on even rows only.
float* HalfSampleUpsampleFast(const float* src, std::uint32_t w, std::uint32_t h, float* dst) {
  const std::ptrdiff_t sw = w, sh = h;
  ParallelFor(sh, 16, [&](std::int64_t begin, std::int64_t end) {
    for (std::ptrdiff_t i = begin; i < end; ++i) HalfSampleEvenRow(src, sw, dst, i);
  });
  ParallelFor(sh, 16, [&](std::int64_t begin, std::int64_t end) {
    for (std::ptrdiff_t i = begin; i < end; ++i) HalfSampleOddRow(dst, sw, sh, 2 * i + 1);
  });
  return dst;
}

constexpr KernelPair<float*(const float*, std::uint32_t, std::uint32_t, float*)>
    kHalfSampleUpsample{HalfSampleUpsamplePlain, HalfSampleUpsampleFast};

// Runs body(begin, end) over [0, count): the plain loop with the reference kernels,
// chunks on the process arena otherwise.
void ForRange(std::ptrdiff_t count, std::ptrdiff_t grain,
              const std::function<void(std::ptrdiff_t, std::ptrdiff_t)>& body) {
  RunKernels([&] { body(0, count); }, [&] { ParallelFor(count, grain, body); });
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
  RunKernels(
      [&] { GradientUpscaleCorePlain<kPlanes>(stencil, src, w, h, dst, f, routine, stop); },
      [&] { GradientUpscaleCoreFast<kPlanes>(stencil, src, w, h, dst, f, routine, stop, memory); });
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
  return kHalfSampleUpsample(src, w, h, dst);
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
