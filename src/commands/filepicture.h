// How a picture read from a file goes through a command and back into a file:
// low-depth BMP pictures made processable, the alpha rule, grey and 16-bit results.
//
// Alpha: a picture whose alpha is 255 everywhere is processed as if it had none.
// Otherwise the colour is multiplied by alpha / 255 before the command; after it,
// the alpha plane is brought to the result's size (enlarged by GradientUpscale and
// clamped to 0..255, kept as it is by same-size commands, or taken from the fourth
// channel that the command carried along) and the colour is divided by alpha / 255,
// 0 where alpha is 0. Multiplying first keeps the colour of transparent pixels out
// of the visible ones, so edges get no dark fringe.
#pragma once

#include <cstdint>
#include <string>

#include "imaging/bitmap.h"
#include "imaging/imagefmt.h"
#include "imaging/io/picture.h"
#include "imaging/source.h"

namespace tvq {

// What a command reads, prepared from a file's picture.
struct CommandInput {
  // The file's facts: format, size, channels, bits, ICC profile, orientation; the
  // samples are moved into `colour` and the bitmap into `bitmap`.
  Picture file;
  // BMP files: the picture as read, converted by ProcessableBitmap.
  Bitmap bitmap;
  // Other files: blue, green and red (grey repeated) multiplied by alpha / 255 when
  // `alpha` is set, and alpha in the fourth channel (0 for pictures without alpha).
  TImageF4 colour;
  // The alpha plane (0..255) when some alpha is below 255; Empty otherwise.
  TImageF alpha;

  bool FromBitmap() const { return !bitmap.Empty(); }
  PictureSource Source() const;
  std::int32_t Width() const;
  std::int32_t Height() const;
};

CommandInput PrepareInput(Picture picture);

// How the alpha plane reaches the result.
enum class AlphaTravel {
  kSameSize,       // the command keeps the size: alpha as read
  kEnlarged,       // the command doubles the size: EnlargeAlpha
  kFourthChannel,  // the command carried alpha in the fourth channel (Downsampling)
};

// GradientUpscale of the alpha plane to twice its size, clamped to 0..255 (planes less
// than 2 pixels wide or high: each sample repeated 2 x 2).
TImageF EnlargeAlpha(const TImageF& alpha);

// The largest magnitude a solver's result may reach: 100000, about 400 times the
// 0..255 range of its input. Overshoot beside edges stays within a few hundred levels
// even with settings far from the defaults; a result beyond this has run away.
inline constexpr float kRunawayLimit = 100000.0f;

// A solver result that holds NaN or infinity, or has run away beyond kRunawayLimit, is
// never written nor shown. CheckSolverResult throws FileError when a colour
// sample (channels 0..2 of a four-float result) or a grey sample is either: "the solver
// diverged (its result is not finite); <remedy>" or "the solver diverged (its result
// runs away to -2.8e+09); <remedy>", where `remedy` says in the caller's words (option
// flags or dialog captions) which settings bring the solver back ("lower --step or
// --maximum"). Without a remedy the message ends after the parenthesis.
void CheckSolverResult(const TImageF4& result, const std::string& remedy = {});
void CheckSolverResult(const TImageF& result, const std::string& remedy = {});

// The file picture of a command's result: colour (blue, green, red, fourth) or grey.
// It keeps the input's ICC profile, has 16 bits per channel when the input had more
// than 8, has an alpha channel when the input had one (255 everywhere when the
// input's alpha was), and is grey when the result is grey (always for a grey plane;
// for colour, when the input was grey and the three channels are equal). Throws
// FileError when a sample it would hold is not finite (NaN or infinity), naming the
// input as the cause when the input itself holds such values.
Picture ResultPicture(const TImageF4& result, const CommandInput& input, AlphaTravel travel);
Picture ResultPicture(const TImageF& result, const CommandInput& input, AlphaTravel travel);

// CheckSolverResult(result, remedy) and then ResultPicture, in one pass over the result.
Picture SolverResultPicture(const TImageF4& result, const CommandInput& input, AlphaTravel travel,
                            const std::string& remedy);

}  // namespace tvq
