#include "commands/sizedrun.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <type_traits>
#include <utility>
#include <variant>

#include "imaging/errors.h"
#include "superres/factorsolve.h"

namespace tvq {

namespace {

// Forwards a pass's progress with its place among the passes in front of each stage
// caption; the pipeline's own closing "Idle" is left to the whole run.
class PassProgress : public Progress {
 public:
  PassProgress(Progress& inner, std::int32_t pass, std::int32_t passes)
      : inner_(inner),
        prefix_(passes > 1 ? "Pass " + std::to_string(pass) + " of " + std::to_string(passes) + ": "
                           : "") {}
  void ShowProgress(const std::string& stage, std::int32_t position,
                    std::int32_t maximum) override {
    if (stage != "Idle") inner_.ShowProgress(prefix_ + stage, position, maximum);
  }
  bool StopRequested() override { return inner_.StopRequested(); }
  bool WantsIterate() const override { return inner_.WantsIterate(); }
  void ShowIterate(const TImageF& iterate) override { inner_.ShowIterate(iterate); }
  const StopFlag* SharedStopFlag() const override { return inner_.SharedStopFlag(); }
  SharedResiduals* Residuals() override { return inner_.Residuals(); }

 private:
  Progress& inner_;
  std::string prefix_;
};

// True when an enlargement by 2^passes is already the asked size and grid.
bool NeedsNoReduction(std::int32_t passes, std::int32_t width, std::int32_t height,
                      const OutputSize& size) {
  const double factor = static_cast<double>(std::int64_t{1} << passes);
  return (std::int64_t{width} << passes) == size.width &&
         (std::int64_t{height} << passes) == size.height && size.scaleX == factor &&
         size.scaleY == factor;
}

// Refuses an enlargement whose passes would go beyond 65535 pixels a side.
void CheckPasses(std::int32_t passes, std::int32_t width, std::int32_t height) {
  const std::int64_t w = std::int64_t{width} << passes, h = std::int64_t{height} << passes;
  if (w > kMaxImageSide || h > kMaxImageSide)
    throw FileError("the " + DimensionsText(width, height) + " picture would pass through " +
                    DimensionsText(w, h) + ", more than 65535 pixels a side");
}

float ClampAlpha(float v) {
  return v > 255.0f ? 255.0f : v >= 0.0f ? v : 0.0f;
}

// The alpha plane at the result's size: `passes` enlargements and the reduction.
TImageF AlphaAtSize(const TImageF& alpha, std::int32_t passes, const OutputSize& size) {
  TImageF plane = alpha.Clone();
  for (std::int32_t k = 0; k < passes; ++k) plane = EnlargeAlpha(plane);
  if (NeedsNoReduction(passes, alpha.Width(), alpha.Height(), size)) return plane;
  const double factor = static_cast<double>(std::int64_t{1} << passes);
  TImageF reduced = Resize(plane, size.width, size.height, size.scaleX / factor,
                           size.scaleY / factor, ResizeFilter::kLanczos3);
  for (std::int32_t y = 0; y < reduced.Height(); ++y) {
    float* row = reduced.Row(y);
    for (std::int32_t x = 0; x < reduced.Width(); ++x) row[x] = ClampAlpha(row[x]);
  }
  return reduced;
}

// The input as the result's alpha sees it: the file's facts and the alpha plane at the
// result's size, so that the result takes it as a same-size command's.
CommandInput WithAlpha(const CommandInput& input, TImageF alpha) {
  CommandInput shell;
  shell.file = input.file;
  shell.file.bitmap.reset();
  shell.alpha = std::move(alpha);
  return shell;
}

// The file picture of an enlargement by 2^passes reduced to `size`; colour or grey.
template <typename Image>
Picture PictureAtSize(const Image& reduced, const CommandInput& input, std::int32_t passes,
                      const OutputSize& size, const std::string* remedy,
                      TImageF alpha = TImageF()) {
  if (!input.alpha.HasImage()) {
    if constexpr (std::is_same_v<Image, TImageF4>)
      if (remedy) return SolverResultPicture(reduced, input, AlphaTravel::kSameSize, *remedy);
    return ResultPicture(reduced, input, AlphaTravel::kSameSize);
  }
  const CommandInput shell = WithAlpha(
      input, alpha.HasImage() ? std::move(alpha) : AlphaAtSize(input.alpha, passes, size));
  if constexpr (std::is_same_v<Image, TImageF4>)
    if (remedy) return SolverResultPicture(reduced, shell, AlphaTravel::kSameSize, *remedy);
  return ResultPicture(reduced, shell, AlphaTravel::kSameSize);
}

template <typename Image>
Image Reduce(const Image& enlarged, std::int32_t passes, const OutputSize& size,
             const StopFlag* stop) {
  const double factor = static_cast<double>(std::int64_t{1} << passes);
  return Resize(enlarged, size.width, size.height, size.scaleX / factor, size.scaleY / factor,
                ResizeFilter::kLanczos3, stop);
}

// The alpha plane's solve after the colour's: silent, and a stop (seen before or during
// it) ends its iterations as it ended the colour's, so that a stopped run writes soon;
// its other stages do not stop, since the colour result so far is written.
class StopOnly : public Progress {
 public:
  explicit StopOnly(Progress& inner) : inner_(inner) {}
  void ShowProgress(const std::string&, std::int32_t, std::int32_t) override {}
  bool StopRequested() override { return inner_.StopRequested(); }
  SharedResiduals* Residuals() override { return inner_.Residuals(); }

 private:
  Progress& inner_;
};

// The alpha plane as a grey four-float picture, for the solvers.
TImageF4 GreyPicture(const TImageF& plane) {
  TImageF4 grey(plane.Width(), plane.Height());
  for (std::int32_t y = 0; y < plane.Height(); ++y)
    for (std::int32_t x = 0; x < plane.Width(); ++x) {
      float* p = grey.Row(y) + 4 * x;
      p[0] = p[1] = p[2] = plane.Row(y)[x];
      p[3] = 0.0f;
    }
  return grey;
}

// An enlarged alpha plane reduced from `factor` times to `size`, clamped to 0..255.
TImageF AlphaPlaneAtSize(TImageF plane, double factor, const OutputSize& size) {
  if (!(size.width == plane.Width() && size.height == plane.Height() && size.scaleX == factor &&
        size.scaleY == factor))
    plane = Resize(plane, size.width, size.height, size.scaleX / factor, size.scaleY / factor,
                   ResizeFilter::kLanczos3);
  for (std::int32_t y = 0; y < plane.Height(); ++y) {
    float* row = plane.Row(y);
    for (std::int32_t x = 0; x < plane.Width(); ++x) row[x] = ClampAlpha(row[x]);
  }
  return plane;
}

// Channel 0 of a grey four-float result as AlphaPlaneAtSize.
TImageF AlphaPlaneAtSize(const TImageF4& solved, double factor, const OutputSize& size) {
  TImageF plane(solved.Width(), solved.Height());
  for (std::int32_t y = 0; y < plane.Height(); ++y)
    for (std::int32_t x = 0; x < plane.Width(); ++x) plane.Row(y)[x] = solved.Row(y)[4 * x];
  return AlphaPlaneAtSize(std::move(plane), factor, size);
}

// `passes` enlargements by one interpolator, show(pass) before each; a stop throws.
Enlargement EnlargeByPasses(const PictureSource& source, UpscaleMethod method, std::int32_t passes,
                            const StopFlag* stop, const std::function<void(std::int32_t)>& show) {
  show(1);
  Enlargement result = UpscalePicture(source, method, stop);
  for (std::int32_t pass = 2; pass <= passes; ++pass) {
    show(pass);
    if (auto* grey = std::get_if<TImageF>(&result)) {
      TImageF next(2 * grey->Width(), 2 * grey->Height());
      next.Clear();
      UpscaleGrey(method, *grey, next, stop);
      result = std::move(next);
    } else {
      result = UpscaleColour(method, std::get<TImageF4>(result), stop);
    }
    ThrowIfStopped(stop);
  }
  return result;
}

// The alpha plane through the same Resample passes as the colour and the same
// reduction (see AlphaSolved).
TImageF AlphaByPasses(const TImageF& alpha, ResampleParams params, std::int32_t passes,
                      const OutputSize& size, Progress& progress) {
  params.fractalSubstitution = false;
  StopOnly quiet(progress);
  TImageF4 plane = GreyPicture(alpha);
  for (std::int32_t pass = 0; pass < passes; ++pass)
    plane = Resample(PictureSource(plane), params, nullptr, nullptr, quiet);
  return AlphaPlaneAtSize(plane, static_cast<double>(std::int64_t{1} << passes), size);
}

// The alpha plane through the same solve as the colour's luminance and the same
// reduction, clamped to 0..255: the colour, premultiplied, was sharpened by the solver,
// and an alpha plane enlarged by a plain filter would not match its edges, which
// leaves dark and light fringes where the picture turns transparent.
TImageF AlphaSolved(const TImageF& alpha, const ResampleParams& params, std::int32_t factor,
                    const OutputSize& size, Progress& progress) {
  StopOnly quiet(progress);
  return AlphaPlaneAtSize(
      ResampleByFactor(PictureSource(GreyPicture(alpha)), params, factor, quiet), factor, size);
}

// The direct route: the solver at a whole factor, then the reduction.
Picture ResampleDirect(const CommandInput& input, const OutputSize& size, std::int32_t factor,
                       const ResampleParams& params, const std::string& remedy,
                       Progress& progress) {
  TImageF4 result = ResampleByFactor(input.Source(), params, factor, progress);
  const bool cutShort = progress.StopRequested();
  const double f = factor;
  if (!(size.width == factor * input.Width() && size.height == factor * input.Height() &&
        size.scaleX == f && size.scaleY == f)) {
    progress.ShowProgress("Reduction", 0, 1);
    result = Resize(result, size.width, size.height, size.scaleX / f, size.scaleY / f,
                    ResizeFilter::kLanczos3, cutShort ? nullptr : progress.SharedStopFlag());
  }
  progress.ShowProgress("Idle", 100, 100);
  if (!input.alpha.HasImage())
    return SolverResultPicture(result, input, AlphaTravel::kSameSize, remedy);
  return SolverResultPicture(
      result, WithAlpha(input, AlphaSolved(input.alpha, params, factor, size, progress)),
      AlphaTravel::kSameSize, remedy);
}

// The picture left at its size: the input's own samples.
Picture Unchanged(const CommandInput& input) {
  if (input.FromBitmap()) {
    TImageF4 colour;
    input.Source().Read(ifF4, colour);
    return ResultPicture(colour, input, AlphaTravel::kSameSize);
  }
  return ResultPicture(input.colour, input, AlphaTravel::kSameSize);
}

std::uint64_t Pixels(std::int64_t width, std::int64_t height) {
  return static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
}

// Bytes of the reduction stage beyond the base: the enlarged result, the pass along
// rows, the reduced result and its file picture, and alpha at both sizes.
std::uint64_t ReductionBytes(const MemoryFeatures& features, std::int64_t bigWidth,
                             std::int64_t bigHeight, const OutputSize& size) {
  const std::uint64_t big = Pixels(bigWidth, bigHeight);
  const std::uint64_t rows = Pixels(size.width, bigHeight);
  const std::uint64_t out = Pixels(size.width, size.height);
  std::uint64_t bytes = 16 * big + 16 * rows + 32 * out;
  if (features.alpha) bytes += 8 * big + 8 * out;
  return bytes;
}

}  // namespace

std::uint64_t EstimateMemoryAtSize(MemoryWork work, const MemoryFeatures& features,
                                   std::int32_t width, std::int32_t height,
                                   std::uint64_t inputBytes, const OutputSize& size,
                                   SizeRoute route) {
  const std::int32_t passes = PassCount(size, width, height);
  if (passes == 0) return EstimateMemory(work, features, width, height, inputBytes);
  const std::int32_t factor = DirectFactor(size, width, height);
  if (work == MemoryWork::kResample && route == SizeRoute::kDirect && factor != 0 &&
      !features.dering && !features.fractal) {
    // Its planes are those of a two-times Resample whose result has the same size, and
    // the reduction follows.
    const std::int64_t w = (std::int64_t{width} * factor + 1) / 2;
    const std::int64_t h = (std::int64_t{height} * factor + 1) / 2;
    // With alpha, the plane goes through the same solve while the colour result is held.
    const std::uint64_t solve =
        EstimateMemory(work, features, w, h, inputBytes) +
        (features.alpha ? 16 * Pixels(std::int64_t{width} * factor, std::int64_t{height} * factor)
                        : 0);
    const std::uint64_t reduction =
        EstimateMemory(work, features, 0, 0, inputBytes) +
        ReductionBytes(features, std::int64_t{width} * factor, std::int64_t{height} * factor, size);
    return std::max(solve, reduction);
  }
  // The last pass is the largest: it enlarges the previous pass's result (four floats a
  // pixel) while the input is still held.
  const std::int64_t w = std::int64_t{width} << (passes - 1);
  const std::int64_t h = std::int64_t{height} << (passes - 1);
  // With alpha, the plane goes through the same passes while the colour result is held.
  const std::uint64_t held = inputBytes + (passes > 1 ? 16 * Pixels(w, h) : 0) +
                             (features.alpha ? 16 * Pixels(2 * w, 2 * h) : 0);
  const std::uint64_t pass = EstimateMemory(work, features, w, h, held);
  if (NeedsNoReduction(passes, width, height, size)) return pass;
  const std::uint64_t reduction =
      EstimateMemory(work, features, 0, 0, inputBytes) +
      ReductionBytes(features, std::int64_t{width} << passes, std::int64_t{height} << passes, size);
  return std::max(pass, reduction);
}

std::uint64_t EstimateResizeMemory(const MemoryFeatures& features, std::int32_t width,
                                   std::int32_t height, std::uint64_t inputBytes,
                                   const OutputSize& size) {
  // The four floats of the input (BMP files), the pass along rows, the result and its
  // file picture.
  return EstimateMemory(MemoryWork::kGrey, features, 0, 0, inputBytes) +
         16 * Pixels(width, height) + 16 * Pixels(size.width, height) +
         32 * Pixels(size.width, size.height);
}

TImageF4 ReduceToSize(const TImageF4& enlarged, std::int32_t passes, const OutputSize& size,
                      const StopFlag* stop) {
  return Reduce(enlarged, passes, size, stop);
}

std::int32_t DirectFactor(const OutputSize& size, std::int32_t width, std::int32_t height) {
  if (size.unchanged) return 0;
  const double needed =
      std::max(static_cast<double>(size.width) / width, static_cast<double>(size.height) / height);
  const auto factor = static_cast<std::int64_t>(std::ceil(needed - 1e-9));
  if (factor < 3 || factor > kMaxSolveFactor) return 0;
  if (factor * width > kMaxImageSide || factor * height > kMaxImageSide) return 0;
  return static_cast<std::int32_t>(factor);
}

Picture ResampleAtSize(const CommandInput& input, const OutputSize& size,
                       const ResampleParams& params, const DeringParams* dering,
                       const EdgeMaskParams* mask, const std::string& remedy, Progress& progress,
                       SizeRoute route) {
  const std::int32_t w = input.Width(), h = input.Height();
  const std::int32_t passes = PassCount(size, w, h);
  if (passes == 0) return Unchanged(input);
  if (route == SizeRoute::kDirect && dering == nullptr && !params.fractalSubstitution)
    if (const std::int32_t factor = DirectFactor(size, w, h); factor != 0)
      return ResampleDirect(input, size, factor, params, remedy, progress);
  CheckPasses(passes, w, h);
  if (passes == 1 && NeedsNoReduction(1, w, h, size)) {
    // Two times: exactly the result without a size.
    const TImageF4 result = Resample(input.Source(), params, dering, mask, progress);
    return SolverResultPicture(result, input, AlphaTravel::kEnlarged, remedy);
  }
  TImageF4 result;
  for (std::int32_t pass = 1; pass <= passes; ++pass) {
    const bool last = pass == passes;
    ResampleParams p = params;
    if (!last) p.fractalSubstitution = false;
    PassProgress passProgress(progress, pass, passes);
    TImageF4 next = Resample(pass == 1 ? input.Source() : PictureSource(result), p,
                             last ? dering : nullptr, last ? mask : nullptr, passProgress);
    result = std::move(next);
    // An earlier pass cut short is no result: the later passes would enlarge it.
    if (!last && progress.StopRequested()) throw OperationStopped();
  }
  // The reduction is short; a stop seen in the last iterations still gets it, so the
  // result so far is written at the asked size.
  const bool cutShort = progress.StopRequested();
  if (!NeedsNoReduction(passes, w, h, size)) {
    progress.ShowProgress("Reduction", 0, 1);
    result = Reduce(result, passes, size, cutShort ? nullptr : progress.SharedStopFlag());
  }
  progress.ShowProgress("Idle", 100, 100);
  // Alpha goes through the same passes; the solver's edges and a plain enlargement's
  // would not match (see AlphaSolved).
  TImageF alpha;
  if (input.alpha.HasImage()) alpha = AlphaByPasses(input.alpha, params, passes, size, progress);
  return PictureAtSize(result, input, passes, size, &remedy, std::move(alpha));
}

Picture UpscaleAtSize(const CommandInput& input, const OutputSize& size, UpscaleMethod method,
                      Progress& progress) {
  const std::int32_t w = input.Width(), h = input.Height();
  const std::int32_t passes = PassCount(size, w, h);
  if (passes == 0) return Unchanged(input);
  CheckPasses(passes, w, h);
  const StopFlag* stop = progress.SharedStopFlag();
  const auto show = [&](std::int32_t pass) {
    progress.ShowProgress(passes > 1
                              ? "Pass " + std::to_string(pass) + " of " + std::to_string(passes)
                              : std::string("Enlarging"),
                          pass - 1, passes);
  };
  const Enlargement result = EnlargeByPasses(input.Source(), method, passes, stop, show);
  const bool reduce = !NeedsNoReduction(passes, w, h, size);
  if (passes == 1 && !reduce)
    return std::visit(
        [&](const auto& image) { return ResultPicture(image, input, AlphaTravel::kEnlarged); },
        result);
  // Alpha goes through the same enlarger, as a grey picture, and the same reduction.
  TImageF alpha;
  if (input.alpha.HasImage()) {
    const TImageF4 grey = GreyPicture(input.alpha);
    const Enlargement enlarged = EnlargeByPasses(grey, method, passes, stop, [](std::int32_t) {});
    const double factor = static_cast<double>(std::int64_t{1} << passes);
    if (const auto* plane = std::get_if<TImageF>(&enlarged))
      alpha = AlphaPlaneAtSize(plane->Clone(), factor, size);
    else
      alpha = AlphaPlaneAtSize(std::get<TImageF4>(enlarged), factor, size);
  }
  if (reduce) progress.ShowProgress("Reduction", 0, 1);
  return std::visit(
      [&](const auto& image) {
        if (!reduce) return PictureAtSize(image, input, passes, size, nullptr, std::move(alpha));
        return PictureAtSize(Reduce(image, passes, size, stop), input, passes, size, nullptr,
                             std::move(alpha));
      },
      result);
}

Picture ResizeAtSize(const CommandInput& input, const OutputSize& size, ResizeFilter filter,
                     Progress& progress) {
  if (size.unchanged) return Unchanged(input);
  const StopFlag* stop = progress.SharedStopFlag();
  progress.ShowProgress("Resizing", 0, 1);
  TImageF4 read;
  if (input.FromBitmap()) input.Source().Read(ifF4, read);
  const TImageF4& colour = input.FromBitmap() ? read : input.colour;
  // The fourth channel holds alpha (premultiplied colour beside it): it is resized with
  // the colour by the same weights.
  const TImageF4 result =
      Resize(colour, size.width, size.height, size.scaleX, size.scaleY, filter, stop);
  progress.ShowProgress("Idle", 1, 1);
  return ResultPicture(result, input, AlphaTravel::kFourthChannel);
}

}  // namespace tvq
