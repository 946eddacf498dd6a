#include "commands/filepicture.h"

#include <cmath>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "imaging/errors.h"
#include "imaging/parallel.h"
#include "interpolation/gradient.h"

namespace tvq {

namespace {

bool HasPlane(const TImageBase& image) {
  return image.HasImage() && image.Width() > 0 && image.Height() > 0;
}

// 0..255; NaN gives 0.
float ClampAlpha(float v) {
  if (v > 255.0f) return 255.0f;
  if (!(v >= 0.0f)) return 0.0f;
  return v;
}

// A premultiplied colour value divided by alpha / 255: 0 where alpha is 0, the value
// itself where alpha is 255.
float Unpremultiply(float v, float alpha) {
  if (alpha == 255.0f) return v;
  if (!(alpha > 0.0f)) return 0.0f;
  return static_cast<float>(static_cast<double>(v) / (static_cast<double>(alpha) / 255.0));
}

void CheckAlphaSize(const TImageF& alpha, const TImageBase& result, const char* what) {
  if (alpha.Width() != result.Width() || alpha.Height() != result.Height())
    throw EZorException(ecBadSize, std::string("the ") + what + " of " + SizeText(alpha) +
                                       " pixels does not match the result of " + SizeText(result) +
                                       " pixels");
}

// The alpha plane that goes with a result: nullptr when the picture is opaque, the
// input's own plane for same-size commands, otherwise a plane made in `made`.
const TImageF* ResultAlpha(const TImageBase& result, const TImageF4* colour,
                           const CommandInput& input, AlphaTravel travel, TImageF& made) {
  if (!HasPlane(input.alpha)) return nullptr;
  TImageF& alpha = made;
  switch (travel) {
    case AlphaTravel::kSameSize:
      CheckAlphaSize(input.alpha, result, "alpha plane");
      return &input.alpha;
    case AlphaTravel::kEnlarged:
      alpha = EnlargeAlpha(input.alpha);
      CheckAlphaSize(alpha, result, "enlarged alpha plane");
      break;
    case AlphaTravel::kFourthChannel: {
      if (colour == nullptr)
        throw EZorException(ecBadFormat, "a grey result carries no fourth channel for alpha");
      alpha = TImageF(colour->Width(), colour->Height());
      for (std::int32_t y = 0; y < colour->Height(); ++y) {
        const float* in = colour->Row(y);
        float* out = alpha.Row(y);
        for (std::int32_t x = 0; x < colour->Width(); ++x) out[x] = ClampAlpha(in[4 * x + 3]);
      }
      break;
    }
  }
  return &alpha;
}

// The picture's facts that every result shares: format, size, depth, profile.
Picture ResultShell(const TImageBase& result, const CommandInput& input, std::int32_t channels) {
  if (!result.HasImage()) throw EZorException(ecNoImage, "the command gave no picture");
  Picture picture;
  picture.format = input.file.format;
  picture.width = result.Width();
  picture.height = result.Height();
  picture.channels = channels;
  picture.bitsPerChannel = input.file.bitsPerChannel > 8 ? 16 : 8;
  picture.icc = input.file.icc;
  picture.samples.resize(static_cast<std::size_t>(result.Width()) *
                         static_cast<std::size_t>(result.Height()) *
                         static_cast<std::size_t>(channels));
  return picture;
}

bool InputIsGrey(const CommandInput& input) {
  return !input.FromBitmap() && (input.file.channels == 1 || input.file.channels == 2);
}

// Blue, green and red equal in every pixel.
bool ChannelsEqual(const TImageF4& result) {
  for (std::int32_t y = 0; y < result.Height(); ++y) {
    const float* row = result.Row(y);
    for (std::int32_t x = 0; x < result.Width(); ++x, row += 4)
      if (!(row[0] == row[1] && row[1] == row[2])) return false;
  }
  return true;
}

// The first sample of row y of a file picture.
float* RowStart(Picture& picture, std::int32_t y) {
  return picture.samples.data() + static_cast<std::size_t>(y) *
                                      static_cast<std::size_t>(picture.width) *
                                      static_cast<std::size_t>(picture.channels);
}

// The sample farthest from 0 among the first `used` of every `stride` samples of
// `count` groups; NaN as soon as one is not a number. So the samples are all finite
// exactly when it is finite.
float Extreme(const float* samples, std::int32_t count, std::int32_t stride, std::int32_t used) {
  float extreme = 0.0f;
  for (std::int32_t x = 0; x < count; ++x, samples += stride)
    for (std::int32_t k = 0; k < used; ++k) {
      if (std::isnan(samples[k])) return samples[k];
      if (std::fabs(samples[k]) > std::fabs(extreme)) extreme = samples[k];
    }
  return extreme;
}

// Of the extremes of two stretches of samples, the first before the second, the one
// Extreme gives for both together: a NaN of the first, else the second when it is NaN
// or farther from 0, else the first.
float Farther(float first, float second) {
  if (std::isnan(first)) return first;
  if (std::isnan(second) || std::fabs(second) > std::fabs(first)) return second;
  return first;
}

// Extreme over every row of image, in row order.
template <typename Image>
float Extreme(const Image& image, std::int32_t stride, std::int32_t used) {
  float extreme = 0.0f;
  if (!image.HasImage()) return extreme;
  for (std::int32_t y = 0; y < image.Height() && !std::isnan(extreme); ++y)
    extreme = Farther(extreme, Extreme(image.Row(y), image.Width(), stride, used));
  return extreme;
}

// Extreme of rows whose extremes are `rows`, in row order.
float Extreme(const std::vector<float>& rows) {
  float extreme = 0.0f;
  for (const float row : rows) extreme = Farther(extreme, row);
  return extreme;
}

void CheckExtreme(float extreme, const std::string& remedy) {
  std::string what;
  if (!std::isfinite(extreme)) {
    what = "is not finite";
  } else if (std::fabs(extreme) > kRunawayLimit) {
    char value[32];
    std::snprintf(value, sizeof value, "%.3g", static_cast<double>(extreme));
    what = std::string("runs away to ") + value;
  } else {
    return;
  }
  throw FileError("the solver diverged (its result " + what + ")" +
                  (remedy.empty() ? "" : "; " + remedy));
}

// A picture whose samples are not all finite (`samples` is their Extreme) is not
// written: the input's own samples are blamed when they are the cause, the command
// otherwise.
void CheckResultSamples(float samples, const CommandInput& input) {
  if (std::isfinite(samples)) return;
  if (!input.FromBitmap() && !std::isfinite(Extreme(input.colour, 4, 3)))
    throw FileError("the picture holds values that are not finite (NaN or infinity)");
  throw FileError("the result is not finite (it holds NaN or infinity)");
}

// The file picture of a colour result; with `remedy`, the result is refused as
// CheckSolverResult refuses it, from the same pass over its rows.
Picture ColourResult(const TImageF4& result, const CommandInput& input, AlphaTravel travel,
                     const std::string* remedy) {
  TImageF made;
  const TImageF* alpha = ResultAlpha(result, &result, input, travel, made);
  const bool transparent = alpha != nullptr;
  const bool withAlpha = input.file.HasAlpha();
  const bool grey = InputIsGrey(input) && ChannelsEqual(result);
  const std::int32_t colourChannels = grey ? 1 : 3;
  const std::int32_t channels = colourChannels + (withAlpha ? 1 : 0);
  Picture picture = ResultShell(result, input, channels);
  const auto rows = static_cast<std::size_t>(result.Height());
  std::vector<float> sampleExtremes(rows), resultExtremes(remedy ? rows : 0);
  ForEachRow(result.Height(), [&](std::int32_t y) {
    float* const start = RowStart(picture, y);
    float* out = start;
    const float* in = result.Row(y);
    const float* alphaRow = transparent ? alpha->Row(y) : nullptr;
    for (std::int32_t x = 0; x < result.Width(); ++x, in += 4) {
      const float a = transparent ? alphaRow[x] : 255.0f;
      if (grey) {
        *out++ = Unpremultiply(in[0], a);
      } else {
        *out++ = Unpremultiply(in[2], a);
        *out++ = Unpremultiply(in[1], a);
        *out++ = Unpremultiply(in[0], a);
      }
      if (withAlpha) *out++ = a;
    }
    const auto row = static_cast<std::size_t>(y);
    sampleExtremes[row] = Extreme(start, result.Width() * channels, 1, 1);
    if (remedy) resultExtremes[row] = Extreme(result.Row(y), result.Width(), 4, 3);
  });
  if (remedy) CheckExtreme(Extreme(resultExtremes), *remedy);
  CheckResultSamples(Extreme(sampleExtremes), input);
  return picture;
}

}  // namespace

void CheckSolverResult(const TImageF4& result, const std::string& remedy) {
  CheckExtreme(Extreme(result, 4, 3), remedy);
}

void CheckSolverResult(const TImageF& result, const std::string& remedy) {
  CheckExtreme(Extreme(result, 1, 1), remedy);
}

PictureSource CommandInput::Source() const {
  if (FromBitmap()) return PictureSource(bitmap);
  return PictureSource(colour);
}

std::int32_t CommandInput::Width() const {
  return FromBitmap() ? bitmap.Width() : colour.Width();
}

std::int32_t CommandInput::Height() const {
  return FromBitmap() ? bitmap.Height() : colour.Height();
}

CommandInput PrepareInput(Picture picture) {
  CommandInput input;
  input.file = std::move(picture);
  Picture& file = input.file;
  if (file.bitmap.has_value()) {
    const std::int32_t bits = file.bitmap->BitsPerPixel();
    if (bits == 24 || bits == 32) {
      input.bitmap = std::move(*file.bitmap);
    } else {
      input.bitmap = ProcessableBitmap(*file.bitmap);
    }
    file.bitmap.reset();
    std::vector<float>().swap(file.samples);
    return input;
  }

  const std::int32_t width = file.width;
  const std::int32_t height = file.height;
  const std::int32_t channels = file.channels;
  if (channels < 1 || channels > 4)
    throw EZorException(ecBadFormat,
                        "a picture of " + std::to_string(channels) + " channels cannot be read");
  const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  if (width <= 0 || height <= 0 ||
      file.samples.size() != count * static_cast<std::size_t>(channels))
    throw EZorException(ecBadSize, "the picture's samples do not match its size of " +
                                       std::to_string(width) + " x " + std::to_string(height));

  const bool grey = channels <= 2;
  const bool hasAlpha = file.HasAlpha();
  const float* samples = file.samples.data();
  bool transparent = false;
  if (hasAlpha)
    for (std::size_t i = 0; i < count && !transparent; ++i)
      transparent = samples[i * channels + channels - 1] < 255.0f;

  input.colour = TImageF4(width, height);
  if (transparent) input.alpha = TImageF(width, height);
  for (std::int32_t y = 0; y < height; ++y) {
    const float* in = samples + static_cast<std::size_t>(y) * width * channels;
    float* out = input.colour.Row(y);
    float* alphaRow = transparent ? input.alpha.Row(y) : nullptr;
    for (std::int32_t x = 0; x < width; ++x, in += channels, out += 4) {
      const float r = in[0];
      const float g = grey ? in[0] : in[1];
      const float b = grey ? in[0] : in[2];
      const float a = hasAlpha ? in[channels - 1] : 0.0f;
      out[3] = a;
      if (transparent) {
        alphaRow[x] = a;
        const double scale = static_cast<double>(a) / 255.0;
        out[0] = static_cast<float>(static_cast<double>(b) * scale);
        out[1] = static_cast<float>(static_cast<double>(g) * scale);
        out[2] = static_cast<float>(static_cast<double>(r) * scale);
      } else {
        out[0] = b;
        out[1] = g;
        out[2] = r;
      }
    }
  }
  std::vector<float>().swap(file.samples);
  return input;
}

TImageF EnlargeAlpha(const TImageF& alpha) {
  TImageF enlarged(2 * alpha.Width(), 2 * alpha.Height());
  if (alpha.Width() < 2 || alpha.Height() < 2) {
    // Too narrow for the gradient enlarger's borders: each sample becomes 2 x 2.
    for (std::int32_t y = 0; y < enlarged.Height(); ++y)
      for (std::int32_t x = 0; x < enlarged.Width(); ++x)
        enlarged.Row(y)[x] = ClampAlpha(alpha.Row(y / 2)[x / 2]);
    return enlarged;
  }
  GradientUpscale(alpha, enlarged, 2);
  for (std::int32_t y = 0; y < enlarged.Height(); ++y) {
    float* row = enlarged.Row(y);
    for (std::int32_t x = 0; x < enlarged.Width(); ++x) row[x] = ClampAlpha(row[x]);
  }
  return enlarged;
}

Picture ResultPicture(const TImageF4& result, const CommandInput& input, AlphaTravel travel) {
  return ColourResult(result, input, travel, nullptr);
}

Picture SolverResultPicture(const TImageF4& result, const CommandInput& input, AlphaTravel travel,
                            const std::string& remedy) {
  return ColourResult(result, input, travel, &remedy);
}

Picture ResultPicture(const TImageF& result, const CommandInput& input, AlphaTravel travel) {
  TImageF made;
  const TImageF* alpha = ResultAlpha(result, nullptr, input, travel, made);
  const bool transparent = alpha != nullptr;
  const bool withAlpha = input.file.HasAlpha();
  Picture picture = ResultShell(result, input, withAlpha ? 2 : 1);
  const std::int32_t channels = picture.channels;
  std::vector<float> sampleExtremes(static_cast<std::size_t>(result.Height()));
  ForEachRow(result.Height(), [&](std::int32_t y) {
    float* const start = RowStart(picture, y);
    float* out = start;
    const float* in = result.Row(y);
    const float* alphaRow = transparent ? alpha->Row(y) : nullptr;
    for (std::int32_t x = 0; x < result.Width(); ++x) {
      const float a = transparent ? alphaRow[x] : 255.0f;
      *out++ = Unpremultiply(in[x], a);
      if (withAlpha) *out++ = a;
    }
    sampleExtremes[static_cast<std::size_t>(y)] = Extreme(start, result.Width() * channels, 1, 1);
  });
  CheckResultSamples(Extreme(sampleExtremes), input);
  return picture;
}

}  // namespace tvq
