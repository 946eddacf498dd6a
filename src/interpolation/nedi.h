// New edge-directed interpolation (NEDI), two times (see interpolation.h for the
// shared rules). Each new pixel is a linear combination of known neighbours with
// coefficients fitted by ridge least squares (SolveRidge) on a training window
// where the same geometry exists at twice the scale. Pass 1 fills (odd x, odd y)
// from the diagonal neighbours, pass 2 the remaining new pixels from the axis
// neighbours; both work in place, row by row, so where a clamped read near the
// right or bottom border lands on a pixel of the class being computed it sees
// the value already written or the destination's prior content.
//
// Order: both passes work in place, so a pixel may read pixels of its own pass. The
// fast kernels check, from the stencils, that no unclamped read of a pass lands on a
// pixel of the class it computes (true of both configurations): then pixels whose
// reads stay inside the image, off the outermost rows and columns, depend on nothing
// the pass writes and run in parallel rows with their fits in vector lanes, and the
// border pixels, whose clamped reads may see pixels written earlier in the pass, run
// afterwards one by one in the plain row-by-row order. Passes that fail the check
// run the plain loop.
#pragma once

#include <cstdint>

#include "imaging/imagefmt.h"
#include "imaging/progress.h"

namespace tvq {

// One pass: stencils, training window, the parity class it computes and the ridge term.
struct NediPassParams {
  std::int32_t n = 0;                  // neighbours in the prediction (at most 16)
  std::int32_t trainScaleDx[16] = {};  // neighbours of a training pixel
  std::int32_t trainScaleDy[16] = {};
  std::int32_t predictDx[16] = {};  // neighbours of the pixel being computed
  std::int32_t predictDy[16] = {};
  float neighbourWeight[16] = {};  // 1.0 in the used entries; not read by the pass
  std::int32_t m = 0;              // training pixels (at most 16)
  std::int32_t trainDx[16] = {};   // training pixels relative to the computed pixel
  std::int32_t trainDy[16] = {};
  float trainWeight[16] = {};  // multiplies a training pixel's equation
  std::uint8_t mask[4] = {};   // mask[(y % 2) * 2 + x % 2] != 0: computed by this pass
  float lambda = 0.0f;         // ridge term on the diagonal of the normal matrix
};

struct NediConfig {
  NediPassParams pass1;
  NediPassParams pass2;
};

// The 12-neighbour configuration when neighbours == 12, else the 4-neighbour one.
void LoadNediConfig(NediConfig& config, std::int32_t neighbours);
inline NediConfig NediConfigFor(std::int32_t neighbours) {
  NediConfig config;
  LoadNediConfig(config, neighbours);
  return config;
}

// Computes out(x, y) for every (x, y) of ref selected by the mask: the training
// system is read from train, the prediction neighbours from ref. The callers pass
// one image for all three. Throws SettingError when n or m lies
// outside 0..16 (the tables have 16 entries). With `stop`, polls it before every
// row and throws OperationStopped once it is set (out is then incomplete).
void NediPass(const TImageF& train, const TImageF& ref, TImageF& out, const NediPassParams& params,
              const StopFlag* stop = nullptr);

// Copies src(x, y) to dst(2x, 2y), then runs both passes on dst. The
// 4-neighbour configuration fills a fresh destination; the 12-neighbour pass 1
// also reads pass-2 pixels and so refines a destination that already holds a
// complete result. Destination not twice the source: returns untouched. `stop`
// as in NediPass.
void NediUpscale(const TImageF& src, TImageF& dst, NediConfig config,
                 const StopFlag* stop = nullptr);

// Four-byte variant: dst(2x, 2y) receives the source pixel with byte 3 replaced
// by its luminance byte (the source itself is not changed); training reads byte
// 3, the prediction applies the coefficients to all four bytes (ClampToByte).
// Same count check as NediPass.
void NediPassC4(const TImageC4& train, const TImageC4& ref, TImageC4& out,
                const NediPassParams& params);
void NediUpscaleC4(const TImageC4& src, TImageC4& dst, NediConfig config);

}  // namespace tvq
