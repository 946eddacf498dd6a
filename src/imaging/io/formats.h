// The one table of picture formats. Each entry says how a file of the format is
// recognised (its magic bytes), which extensions name it, what its files can hold
// and which options its encoder takes, and which codec functions read and write it.
// Everything else that lists formats is derived from this table: SniffFormat, the
// extension lookup, the list of formats in messages, the file dialogs' filters
// (PictureFileFilters), the fuzz harnesses (one per lower-case name, checked by a
// test against fuzz/corpus/) and README's table of formats (checked by a test).
//
// Internal to the codec layer and its tests: callers use imaging/io/picture.h.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "imaging/io/picture.h"

namespace tvq {

class RowWriter;

struct FormatEntry {
  PictureFormat format;
  const char* name;  // "BMP", "PFM", "PNG", "JPEG", "TIFF", "WebP"
  // Where the format stands when formats are named to a person (messages, file
  // dialogs): 0 first.
  std::int32_t namedAt;
  // The extensions that name it, with their dot; the first one is written. Unused
  // places are nullptr.
  std::array<const char*, 2> extensions;
  // Whether bytes start as a file of the format does. The formats' first bytes differ,
  // so at most one entry accepts any bytes.
  bool (*sniff)(const std::uint8_t* data, std::size_t size);

  // What files of the format hold when written.
  bool alpha;        // an alpha channel
  bool sixteenBits;  // 16-bit samples
  bool profile;      // an ICC profile
  bool bitmap;       // a picture's `bitmap` as it is, in its own depth
  // What the encoder takes from WriteOptions.
  bool quality;      // quality 1..100
  bool compression;  // a deflate level 0..9

  // One line each of README's table of formats: what is read, what is written.
  const char* reads;
  const char* writes;

  // The codec: the header alone, the whole picture, the encoder, and a writer by rows
  // (nullptr: the format is written from the whole picture only; a writer that returns
  // nullptr refuses those facts, which the whole-picture encoder then writes).
  PictureHeader (*header)(const std::uint8_t* data, std::size_t size, const DecodeLimits& limits);
  Picture (*decode)(const std::uint8_t* data, std::size_t size, const DecodeLimits& limits);
  std::vector<std::uint8_t> (*encode)(const Picture& picture, const WriteOptions& options);
  std::unique_ptr<RowWriter> (*openRows)(const std::string& path, const Picture& facts,
                                         const WriteOptions& options);
};

// Every format, entry i being PictureFormat i.
std::span<const FormatEntry> FormatTable();
// The entry of a format; nullptr for a value outside the enumeration.
const FormatEntry* FindFormat(PictureFormat format);
// The entries in the order formats are named to a person (namedAt).
std::vector<const FormatEntry*> FormatsAsNamed();

}  // namespace tvq
