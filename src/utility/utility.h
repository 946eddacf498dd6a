// Utility commands: Downsampling, Add Gaussian Noise, Greyscale, MSE/PSNR of two grey
// images and the distance of a picture from the reference kept by Downsampling.
//
// Sums over images visit the column x in the outer loop and the row y in the inner loop;
// differences are rounded to float, their squares summed in double.
//
// Order: two loops depend on it.
// - The MSE sum: a double rounding after every term, so it stays one chain in x-outer,
//   y-inner order. The fast version computes the terms in parallel vector lanes and only
//   the chain runs serially.
// - The noise sequence: pixel number x * h + y takes the next accepted attempt of the
//   polar method from the generator. Every attempt takes exactly two draws, so attempt j
//   always uses draws 2j and 2j + 1; the fast version jumps the generator ahead to any
//   attempt, tests attempts in parallel chains, finds each pixel's attempt by counting,
//   and leaves the generator where the plain loop leaves it.
// Downsampling and Greyscale are per pixel. ReferenceKernels() selects the plain loops.
#pragma once

#include <cstdint>

#include "imaging/bitmap.h"
#include "imaging/imagefmt.h"
#include "imaging/progress.h"
#include "imaging/source.h"

namespace tvq {

struct DownsampleResult {
  TImageF reference;  // the grey version of the picture before halving
  TImageF4 halved;    // (W div 2) x (H div 2): pixel (x, y) of the smoothed picture at (2x, 2y)
};

// Smooths the picture (four float channels, GaussSmooth sigma 1, radius 4) and keeps the
// even-numbered columns and rows. Throws EZorException ecFormatMismatch for bitmaps that
// are not 24 or 32 bits per pixel. With `stop`, polls it between the reads and the
// smoothing and throws OperationStopped once it is set.
DownsampleResult Downsample(const PictureSource& picture, const StopFlag* stop = nullptr);

// The noise generator: state = state * 134775813 + 1 (mod 2^32), draw = state / 2^32.
class NoiseGenerator {
 public:
  // One uniform draw in [0, 1).
  double Uniform();
  // One normal sample by the polar method; only the first of the two variates is used.
  double Normal(double mean, double deviation);
  std::uint32_t state = 0;
};

// The grey version of the picture with a normal sample of deviation 5 added to every pixel
// (x outer, y inner; the sum is stored as a float).
TImageF AddGaussianNoise(const PictureSource& picture, NoiseGenerator& generator);

// The grey version (ifF) of the picture: the Greyscale command's result, and the plane
// stored or read for a PSNR comparison.
TImageF Greyscale(const PictureSource& picture);

struct PsnrResult {
  double mse;
  double psnr;  // +infinity when mse == 0
};

// MSE = sum of (float(a - b))^2 / (W * H); PSNR = 10 * log10(255^2 / MSE). Throws
// SettingError when the sizes differ or the images hold no pixels.
PsnrResult ComparePsnr(const TImageF& a, const TImageF& b);

// Root mean square difference between the grey version of the picture and the reference;
// 0 without a reference, when the sizes differ or there are no pixels.
double RmseToReference(const TImageF* reference, const PictureSource& picture);

}  // namespace tvq
