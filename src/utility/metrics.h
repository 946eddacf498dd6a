// Image quality measures of a picture against a reference, as super-resolution and
// image-quality research reports them: PSNR on RGB and on luma, SSIM, MS-SSIM, GMSD, and
// two figures of the neighbourhood of the reference's edges, where ringing lives.
//
// Rules shared by every measure here:
// - The first picture is the reference, the second the one measured; both have the same
//   size. Colour pictures are TImageF4 (blue, green, red, fourth) on the 0..255 scale; the
//   fourth channel is ignored.
// - Luma is BT.601 with studio swing, computed in double and never rounded:
//   Y = 16 + (65.481 R + 128.553 G + 24.966 B) / 255 (ITU-R BT.601; 16..235 for R, G, B
//   in 0..255), the luma of super-resolution evaluations. A grey picture (R = G = B = v)
//   has Y = 16 + 219 v / 255, so its Y-PSNR lies 20 log10(255 / 219) = 1.32 dB above the
//   PSNR of its grey levels.
// - Every PSNR has the peak 255: 10 log10(255^2 / MSE), +infinity when MSE is 0.
// - A border `shave` pixels wide is left out of every measure (the super-resolution
//   convention is the scale factor); see MetricsOptions.
// - Means are taken in one order: each row summed in x order in double, the row sums
//   added in y order. Every other operation is per pixel, so the fast kernels (threads
//   over rows, vector lanes over x) give the same bits as the plain loops, which
//   ReferenceKernels() selects.
// - A measure the picture is too small for (SSIM needs 11 x 11 pixels, MS-SSIM 161 x 161,
//   GMSD 3 pixels on one side) or whose pixel set is empty (an edge band of a picture
//   without edges) is NaN.
#pragma once

#include <cstdint>
#include <vector>

#include "imaging/imagefmt.h"

namespace tvq {

// A plane of doubles, row-major with the top row first: luma, kept in double so that the
// measures agree with float64 computations to far below their printed precision.
struct LumaPlane {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::vector<double> values;

  double At(std::int32_t x, std::int32_t y) const {
    return values[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                  static_cast<std::size_t>(x)];
  }
  const double* Row(std::int32_t y) const {
    return values.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
  }
  double* Row(std::int32_t y) {
    return values.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
  }
};

// The BT.601 luma of the picture without a border `shave` pixels wide. SettingError when
// the border leaves no pixel.
LumaPlane Luma(const TImageF4& picture, std::int32_t shave = 0);

struct PsnrFigures {
  double mse = 0.0;
  double psnr = 0.0;  // +infinity when mse == 0
};

// MSE over the red, green and blue samples (3 W H of them, the border left out) and its
// PSNR. SettingError when the sizes differ or the border leaves no pixel.
PsnrFigures PsnrRgb(const TImageF4& reference, const TImageF4& test, std::int32_t shave = 0);

// MSE and PSNR of two planes of the same size (with W H > 0).
PsnrFigures PsnrLuma(const LumaPlane& reference, const LumaPlane& test);

// SSIM (Z. Wang, A. C. Bovik, H. R. Sheikh, E. P. Simoncelli, "Image quality assessment:
// from error visibility to structural similarity", IEEE Trans. Image Processing 13(4),
// 2004): local means, variances and covariance under a Gaussian window of 11 x 11 taps,
// deviation 1.5, normalised to sum 1, with C1 = (0.01 * 255)^2 and C2 = (0.03 * 255)^2;
// the map over the valid region (windows wholly inside the picture, (W - 10) x (H - 10)
// of them) and its mean. Variances are the window's weighted moments E[x^2] - E[x]^2, as
// in the paper. The window is separable: every moment is filtered along rows first (taps
// in order, from 0.0), then along columns.
double Ssim(const LumaPlane& reference, const LumaPlane& test);

// The weights of the five MS-SSIM scales, finest first.
inline constexpr double kMsSsimWeights[5] = {0.0448, 0.2856, 0.3001, 0.2363, 0.1333};

// MS-SSIM (Z. Wang, E. P. Simoncelli, A. C. Bovik, "Multi-scale structural similarity for
// image quality assessment", 37th Asilomar Conference on Signals, Systems and Computers,
// 2003): at scales 1..4 the mean contrast-structure term cs = (2 s_xy + C2) / (s_x^2 +
// s_y^2 + C2) under the SSIM window, at scale 5 the mean SSIM; MS-SSIM = prod cs_j^w_j *
// ssim_5^w_5 with kMsSsimWeights. Between scales both pictures are averaged over 2 x 2
// blocks and subsampled (the authors' code: the 2 x 2 box filter with symmetric borders,
// every second pixel from the first), ceil(W / 2) x ceil(H / 2) pixels, the last row and
// column repeated for odd sides. A term below 0 counts as 0.
double MsSsim(const LumaPlane& reference, const LumaPlane& test);

// GMSD (W. Xue, L. Zhang, X. Mou, A. C. Bovik, "Gradient magnitude similarity deviation:
// a highly efficient perceptual image quality index", IEEE Trans. Image Processing 23(2),
// 2014), as the authors' code computes it: both pictures averaged over 2 x 2 blocks and
// subsampled (pixel (x, y) the mean of (2x..2x+1, 2y..2y+1), zeros beyond the picture),
// Prewitt gradients ([1 0 -1] / 3 across, [1 1 1] along; zeros beyond the picture),
// magnitudes m, the similarity map (2 m_r m_t + 170) / (m_r^2 + m_t^2 + 170), and the
// standard deviation of the map (normalised by N - 1; the map's mean first, in the order
// of the rule above). Lower is better; 0 for identical pictures.
double Gmsd(const LumaPlane& reference, const LumaPlane& test);

// The neighbourhood of the reference's edges.
struct EdgeBandOptions {
  // Edge pixels of the reference: the Sobel gradient magnitude sqrt(gx^2 + gy^2) / 8
  // (levels of luma per pixel; borders replicated) above this threshold. A sharp step of
  // height h gives h / 2 on the two pixels beside it.
  double threshold = 16.0;
  // The band: pixels whose chessboard distance to the nearest edge pixel lies in
  // [inner, outer] (the edge pixels dilated by outer squares, without those dilated by
  // inner - 1). Ringing of an enlarged edge lies there; the edge's own transition does not.
  std::int32_t inner = 2;
  std::int32_t outer = 6;
};

struct EdgeBandFigures {
  std::int64_t edgePixels = 0;  // pixels above the threshold
  std::int64_t bandPixels = 0;  // pixels of the band
  double mse = 0.0;             // of the luma over the band (NaN when it is empty)
  double psnr = 0.0;
  // Mean over the band of how far the measured luma lies beyond the range of the
  // reference's 5 x 5 neighbourhood (max(0, t - max) + max(0, min - t), the window
  // clipped to the picture): the overshoot that ringing adds beside an edge. NaN when the
  // band is empty.
  double overshoot = 0.0;
};

// The band's figures. SettingError when the sizes differ or the options are out of range
// (threshold >= 0, 1 <= inner <= outer <= 50).
EdgeBandFigures EdgeBand(const LumaPlane& reference, const LumaPlane& test,
                         const EdgeBandOptions& options = {});

struct MetricsOptions {
  // Border left out of every measure, 0 to 32767 (super-resolution papers: the scale).
  std::int32_t shave = 0;
  EdgeBandOptions edges{};
};

// Every measure of two pictures, the first the reference.
struct Metrics {
  std::int32_t width = 0;  // of the pictures measured, without the border
  std::int32_t height = 0;
  PsnrFigures rgb;
  PsnrFigures y;
  double ssim = 0.0;
  double msSsim = 0.0;
  double gmsd = 0.0;
  EdgeBandFigures edges;
};

// SettingError when the sizes differ, the options are out of range or the border leaves
// no pixel.
Metrics CompareMetrics(const TImageF4& reference, const TImageF4& test,
                       const MetricsOptions& options = {});

// The difference map of two planes of the same size: |Y_reference - Y_test| / fullScale
// (clipped to 1) through the viridis colour map (perceptually uniform: dark blue for 0,
// yellow for fullScale and more). Blue, green, red in 0..255 (whole numbers) and 255 in
// the fourth channel. SettingError for sizes that differ or a fullScale not above 0.
TImageF4 DifferenceMap(const LumaPlane& reference, const LumaPlane& test, double fullScale);

// The viridis colour of t in [0, 1] (clipped), red, green, blue in 0..1: the polynomial
// fit of the colour map (degree 6, within about 0.01 of its table).
void Viridis(double t, double rgb[3]);

}  // namespace tvq
