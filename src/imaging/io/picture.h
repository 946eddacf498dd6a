// Pictures in files: one entry point reads any supported file, choosing the codec
// by the file's content, and one writes a picture in the format that the output's
// extension names. BMP, PFM, PNG, JPEG, TIFF and WebP are codecs of this layer;
// only this layer includes codec libraries. What the layer knows of each format
// (magic bytes, extensions, what its files hold, its codec) is one entry of the table
// in formats.cpp; the functions below answer from it.
//
// Every file is hostile input: sizes are checked with CheckPictureSize before any
// pixel memory is allocated, truncated or corrupt data is refused with FileError,
// and no picture is ever returned half filled.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "imaging/bitmap.h"
#include "imaging/io/bmp.h"
#include "imaging/io/fileio.h"

namespace tvq {

enum class PictureFormat : std::int32_t { kBmp, kPfm, kPng, kJpeg, kTiff, kWebp };

// "BMP", "PFM", "PNG", "JPEG", "TIFF", "WebP".
const char* PictureFormatName(PictureFormat format);
// The format that the path's extension names, case-insensitively: .bmp, .pfm, .png,
// .jpg or .jpeg, .tif or .tiff, .webp; std::nullopt for any other extension.
std::optional<PictureFormat> FormatFromExtension(const std::string& path);
// The extensions FormatFromExtension knows, in the order above, each with its dot.
const std::vector<std::string>& PictureExtensions();
// The format whose name is `name`, case-insensitively ("webp" is WebP);
// std::nullopt for any other name.
std::optional<PictureFormat> FormatFromName(const std::string& name);
// The format of bytes by their first bytes (magic numbers); std::nullopt if unknown.
std::optional<PictureFormat> SniffFormat(const std::uint8_t* data, std::size_t size);
// What a format can hold when written.
bool FormatHoldsAlpha(PictureFormat format);   // PNG, TIFF, WebP
bool FormatHolds16Bits(PictureFormat format);  // PNG, TIFF
// Which WriteOptions its encoder takes.
bool FormatTakesQuality(PictureFormat format);      // JPEG, WebP
bool FormatTakesCompression(PictureFormat format);  // PNG, TIFF

// One filter of a file dialog: a format's name and the patterns of its extensions.
struct PictureFileFilter {
  PictureFormat format = PictureFormat::kBmp;
  std::string name;      // "JPEG"
  std::string patterns;  // "*.jpg *.jpeg"
};
// One filter per format, in the order formats are named to a person: BMP, PNG, JPEG,
// TIFF, WebP, PFM.
std::vector<PictureFileFilter> PictureFileFilters();
// The patterns of every extension PictureExtensions lists, "*.bmp *.pfm ... *.webp".
std::string PicturePatterns();

// What only one format's files declare, kept with the picture read from such a file
// (copies of it, such as tiles, keep it too): BMP's header facts. std::monostate for
// the other formats.
using FormatDetails = std::variant<std::monostate, BmpInfo>;

// A decoded picture.
struct Picture {
  PictureFormat format = PictureFormat::kPng;  // the format of the file it came from
  std::int32_t width = 0;
  std::int32_t height = 0;
  // 1 grey, 2 grey and alpha, 3 red green blue, 4 red green blue alpha.
  std::int32_t channels = 0;
  // Depth per channel in the file: 8 or 16 (32 for the float samples of PFM files).
  // For writing: 16 asks PNG and TIFF for 16-bit samples; other values give bytes.
  std::int32_t bitsPerChannel = 8;
  // width x height x channels samples, channels interleaved, the top row first, on
  // the 0..255 scale: 8-bit values as they are, 16-bit values v as float(v / 257.0),
  // PFM floats as stored. Empty for BMP files, whose pixels are in `bitmap`.
  std::vector<float> samples;
  // The ICC colour profile as stored in the file; empty when there is none.
  std::vector<std::uint8_t> icc;
  // The EXIF orientation (1..8) the file declared, 1 when none; the samples are
  // already turned upright.
  std::int32_t orientation = 1;
  // BMP files: the picture exactly as read, in its own depth.
  std::optional<Bitmap> bitmap;
  FormatDetails details;
  // What the reader got past without refusing the file, one problem a line without
  // the path ("the ICC profile's APP2 markers are damaged (...); the profile was
  // dropped").
  std::vector<std::string> warnings;

  bool HasAlpha() const { return channels == 2 || channels == 4; }
};

// The facts of a file's header, read without decoding a pixel.
struct PictureHeader {
  PictureFormat format = PictureFormat::kPng;
  // The sides as stored, and upright: swapped for the orientations 5..8.
  std::int32_t storedWidth = 0;
  std::int32_t storedHeight = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  // Samples per pixel as the file stores them: 1 grey or palette index, 2 grey and
  // alpha, 3 colour, 4 colour and alpha or CMYK. BMP files: 1 with a palette, else 3.
  std::int32_t channels = 0;
  // Bits of one stored sample: 1, 2, 4, 8, 16, or 32 for PFM floats; the widest
  // colour field of BMP bit fields (5 for 16-bit BI_RGB files).
  std::int32_t bitsPerChannel = 0;
  bool palette = false;  // the samples are indexes into a colour table
  bool cmyk = false;     // four ink channels (JPEG CMYK or YCCK, TIFF separated)
  bool alpha = false;    // an alpha channel or a transparency chunk that becomes one
  std::size_t iccBytes = 0;
  std::int32_t orientation = 1;       // 1..8 as declared, 1 when none
  FormatDetails details;              // as Picture::details
  std::vector<std::string> warnings;  // as Picture::warnings
};

// Reads a header held in memory, choosing the codec with SniffFormat. Makes every
// check that DecodePicture makes before it decodes pixels (sizes, limits, layouts the
// codec cannot read, the file's structure where that costs no decoding) and throws
// the same errors; decodes and allocates no pixel.
PictureHeader DecodePictureHeader(const std::uint8_t* data, std::size_t size,
                                  const DecodeLimits& limits = {});
// Reads a file and its header; errors as ReadPicture.
PictureHeader ReadPictureHeader(const std::string& path, const DecodeLimits& limits = {});

// Decodes a file held in memory, choosing the codec with SniffFormat. Throws
// FileError whose what() names the problem only ("not a picture file of a supported
// format (BMP, PNG, JPEG, TIFF, WebP, PFM)", "the PNG data ends early", ...), and
// PixelLimitError for a picture over limits.maxPixels; the limits are applied to the
// header before any pixel is decoded.
Picture DecodePicture(const std::uint8_t* data, std::size_t size, const DecodeLimits& limits = {});
// Reads and decodes a file; FileError "path: problem" (PixelLimitError over the
// pixel limit). A file whose first bytes are of no supported format is refused as
// soon as they are read, so a pipe or device of endless data is not read on.
Picture ReadPicture(const std::string& path, const DecodeLimits& limits = {});

// Whether the picture's ICC profile suits its samples: a grey picture (1 or 2
// channels) takes no profile whose header names a colour space other than grey
// ('GRAY'), such as an RGB one; colour pictures take any profile, and bytes without
// a profile's header are kept as they are. Encoders write no profile that does not
// suit.
bool ProfileSuitsPicture(const Picture& picture);
// The colour space that an ICC profile's header names, without trailing spaces
// ("RGB", "GRAY", "CMYK"); empty when the bytes hold no profile header (128 bytes
// with "acsp" at 36) or the field is not printable.
std::string ProfileColourSpace(const std::vector<std::uint8_t>& icc);
// Whether files of the format carry an ICC profile: PNG, JPEG, TIFF, WebP.
bool FormatHoldsProfile(PictureFormat format);

// JPEG and WebP quality, 1..100; the deflate level of PNG and TIFF, 0..9 (unset: PNG
// level 3, TIFF the library's level 6).
struct WriteOptions {
  std::int32_t quality = 95;
  std::optional<std::int32_t> compression = std::nullopt;
};

// Encodes the picture in the given format:
// - samples become bytes with ClampToByte, or 16-bit words round(clamp(v, 0, 255) * 257)
//   when bitsPerChannel is 16 and the format holds 16 bits;
// - grey is written as grey where the format has it (PNG, JPEG, TIFF, PFM) and as three
//   equal channels elsewhere;
// - alpha is written by PNG, TIFF and WebP and dropped by the others (the caller warns);
// - the ICC profile is written by PNG (iCCP), JPEG (APP2), TIFF (tag) and WebP (ICCP)
//   when ProfileSuitsPicture;
// - BMP is a 32-bit picture with the fourth byte 0; a picture whose `bitmap` is set
//   is written as that bitmap in its own depth;
// - PFM holds the samples as floats ("Pf" for grey, "PF" for colour).
// JPEG uses 4:4:4 chroma at quality 90 or more. Throws FileError with the problem only.
std::vector<std::uint8_t> EncodePicture(const Picture& picture, PictureFormat format,
                                        const WriteOptions& options = {});
// Encodes in the format of path's extension and writes with WriteFileAtomically.
// Throws FileError "path: problem", also for an extension no codec knows.
void WritePicture(const Picture& picture, const std::string& path,
                  const WriteOptions& options = {});

}  // namespace tvq
