// The displayed picture and what a file or the clipboard adds to it: an alpha
// plane, a colour profile, the format and depth it came in.
//
// The application shows one bitmap. A BMP file is shown as read, in its own depth.
// Every other file becomes a 32-bit bitmap of blue, green and red bytes (samples
// through ClampToByte) with the fourth byte 0; its alpha, when some of it is below
// 255, is kept beside the bitmap as a plane of bytes. A file deeper than 8 bits per
// channel also keeps its decoded samples beside the bitmap (`deep`): commands read
// those and saving writes them, 16 bits per channel where the format holds them, as
// the command-line tool does. Commands on a picture with alpha or deep samples run as
// the command-line tool runs them (see commands/filepicture.h); otherwise they run on
// the bitmap as they always did.
#pragma once

#include <QImage>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "commands/filepicture.h"
#include "imaging/bitmap.h"
#include "imaging/imagefmt.h"
#include "imaging/io/picture.h"

namespace tvq {

// A bitmap as displayed, with its alpha.
struct DisplayedPicture {
  Bitmap bitmap;
  // One byte per pixel, the top row first; empty when the picture is opaque.
  std::vector<std::uint8_t> alpha;
  // The picture is grey: one channel, or a grey command's result.
  bool grey = false;
  // The samples of a picture deeper than 8 bits per channel; null otherwise.
  std::shared_ptr<const Picture> deep;
};

// What the application keeps beside the displayed bitmap.
struct PictureExtras {
  std::vector<std::uint8_t> alpha;  // as in DisplayedPicture
  std::vector<std::uint8_t> icc;    // the colour profile; empty when there is none
  // The file the picture came from: its format and depth per channel. Unset for the
  // start-up picture and pasted pictures.
  std::optional<PictureFormat> format;
  std::int32_t bitsPerChannel = 8;
  // Written as grey while its three channels stay equal.
  bool grey = false;
  // As in DisplayedPicture: what commands read and saving writes when set.
  std::shared_ptr<const Picture> deep;
  // The picture came from the clipboard (it has no file).
  bool pasted = false;
  // How many times commands have doubled the picture since it was read (for the name
  // Save As suggests).
  int enlargements = 0;
};

// A decoded file picture, or a command's result picture, as displayed; a picture of
// more than 8 bits per channel is kept as `deep` too.
DisplayedPicture DisplayFilePicture(Picture picture);

// The file picture of the displayed one. With deep samples of the bitmap's size:
// those, 16 bits per channel, with the colour profile. Otherwise 8 bits per
// channel: the colours as shown
// (BitmapToQImage's rules, for every depth), the alpha plane as a fourth channel,
// one grey channel when extras.grey is set and every pixel is grey, and the
// colour profile.
Picture FilePictureOf(const Bitmap& bitmap, const PictureExtras& extras);

// A clipboard image as displayed: 32 bits, alpha kept when some is below 255, the
// colour profile in *icc. Throws FileError for a picture too large to hold.
DisplayedPicture DisplayClipboardImage(const QImage& image, std::vector<std::uint8_t>* icc);

// The part `rect` of a displayed picture (clipped to it) with its alpha and deep
// samples, as a 32-bit bitmap: what a preview runs on.
void CropPicture(const Bitmap& bitmap, const PictureExtras& extras, const QRect& rect,
                 Bitmap& cropped, PictureExtras& croppedExtras);

// What the view paints: BitmapToQImage, or with an alpha plane an ARGB32 image.
QImage DisplayImage(const Bitmap& bitmap, const std::vector<std::uint8_t>& alpha);

// What a command reads. Taken from the displayed picture on the user-interface
// thread; Prepare() does the conversions on the thread that runs the command.
class CommandSource {
 public:
  CommandSource(const Bitmap& bitmap, const PictureExtras& extras);

  // Without alpha: the bitmap, a 1-, 4-, 8- or 16-bit picture converted to 32 bits.
  // With alpha: the four-float picture with colour multiplied by alpha.
  void Prepare();
  PictureSource Source() const;

  // The displayed result of a command run on Source(). Without alpha the result
  // becomes the bitmap as commands always made it; with alpha it goes through
  // ResultPicture with the command's travel.
  DisplayedPicture Result(const TImageF4& result, AlphaTravel travel) const;
  DisplayedPicture Result(const TImageF& result, AlphaTravel travel) const;
  // Result() of a solver's result, refused first as CheckSolverResult refuses it (with
  // alpha, in the same pass that converts it).
  DisplayedPicture SolverResult(const TImageF4& result, AlphaTravel travel,
                                const std::string& remedy) const;

 private:
  // Both Result()s; a grey plane makes a grey picture.
  template <typename Image>
  DisplayedPicture ResultOf(const Image& result, AlphaTravel travel) const;

  Bitmap bitmap_;
  PictureExtras extras_;
  // Shared so that a source can be copied into a job; set only by Prepare().
  std::shared_ptr<const CommandInput> input_;
};

}  // namespace tvq
