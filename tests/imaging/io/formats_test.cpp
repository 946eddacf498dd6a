// The table of formats and what is derived from it: each entry's magic bytes, the
// file dialogs' filters, and the lists kept outside the code (the fuzz harnesses'
// corpus folders, README's table of formats), which must agree with the table.
#include "imaging/io/formats.h"
#include "imaging/io/rowwrite.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace tvq {
namespace {

namespace fs = std::filesystem;
using F = PictureFormat;

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

Picture SmallPicture() {
  Picture picture;
  picture.width = 3;
  picture.height = 2;
  picture.channels = 3;
  picture.samples = {0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120, 130, 140, 150, 160, 170};
  return picture;
}

// What each format's encoder writes is recognised as that format by its own entry and
// by no other.
TEST(FormatTableTest, EachEntryRecognisesWhatItsEncoderWrites) {
  ASSERT_EQ(FormatTable().size(), 6u);
  for (const FormatEntry& entry : FormatTable()) {
    SCOPED_TRACE(entry.name);
    EXPECT_EQ(FindFormat(entry.format), &entry);
    const std::vector<std::uint8_t> bytes = EncodePicture(SmallPicture(), entry.format);
    for (const FormatEntry& other : FormatTable())
      EXPECT_EQ(other.sniff(bytes.data(), bytes.size()), &other == &entry) << other.name;
    EXPECT_EQ(SniffFormat(bytes.data(), bytes.size()), entry.format);
    EXPECT_EQ(DecodePictureHeader(bytes.data(), bytes.size()).format, entry.format);
    EXPECT_EQ(FormatFromName(Lower(entry.name)), entry.format);
    EXPECT_EQ(FormatFromExtension(std::string("x") + entry.extensions[0]), entry.format);
  }
  EXPECT_EQ(FormatFromName("WEBP"), F::kWebp);
  EXPECT_EQ(FormatFromName("gif"), std::nullopt);
  EXPECT_EQ(FindFormat(static_cast<F>(6)), nullptr);
}

TEST(FormatTableTest, CapabilitiesAndFilters) {
  const struct {
    F format;
    bool alpha, sixteenBits, profile, quality, compression, rows;
  } cases[] = {
      {F::kBmp, false, false, false, false, false, true},
      {F::kPfm, false, false, false, false, false, true},
      {F::kPng, true, true, true, false, true, true},
      {F::kJpeg, false, false, true, true, false, true},
      {F::kTiff, true, true, true, false, true, true},
      {F::kWebp, true, false, true, true, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(PictureFormatName(c.format));
    EXPECT_EQ(FormatHoldsAlpha(c.format), c.alpha);
    EXPECT_EQ(FormatHolds16Bits(c.format), c.sixteenBits);
    EXPECT_EQ(FormatHoldsProfile(c.format), c.profile);
    EXPECT_EQ(FormatTakesQuality(c.format), c.quality);
    EXPECT_EQ(FormatTakesCompression(c.format), c.compression);
    EXPECT_EQ(FindFormat(c.format)->openRows != nullptr, c.rows);
    EXPECT_EQ(FormatWritesByRows(c.format), c.rows);
  }

  std::vector<std::string> filters;
  for (const PictureFileFilter& filter : PictureFileFilters()) {
    filters.push_back(filter.name + " (" + filter.patterns + ")");
    EXPECT_EQ(filter.name, PictureFormatName(filter.format));
  }
  EXPECT_EQ(filters,
            (std::vector<std::string>{"BMP (*.bmp)", "PNG (*.png)", "JPEG (*.jpg *.jpeg)",
                                      "TIFF (*.tif *.tiff)", "WebP (*.webp)", "PFM (*.pfm)"}));
  EXPECT_EQ(PicturePatterns(), "*.bmp *.pfm *.png *.jpg *.jpeg *.tif *.tiff *.webp");
}

// The decoder harnesses are built one per folder of the stored corpus (fuzz/CMakeLists.txt,
// fuzz/run.sh): the folders are the formats' names in lower case, and cli.
TEST(FormatTableTest, FuzzCorpusHasAFolderPerFormat) {
  std::set<std::string> folders;
  for (const fs::directory_entry& entry : fs::directory_iterator(TVQ_FUZZ_CORPUS))
    if (entry.is_directory()) folders.insert(entry.path().filename().string());
  std::set<std::string> expected = {"cli"};
  for (const FormatEntry& entry : FormatTable()) expected.insert(Lower(entry.name));
  EXPECT_EQ(folders, expected) << "each format needs a seed corpus folder in fuzz/corpus/";
}

// README's table of formats is the table's: one row per format in the order formats
// are named, with its extensions and what is read and written.
TEST(FormatTableTest, ReadmeTableIsTheFormatTable) {
  std::ifstream readme(TVQ_README);
  ASSERT_TRUE(readme.is_open()) << TVQ_README;
  const std::string heading = "| Extension | Read | Written |";
  std::vector<std::string> rows;
  bool inTable = false;
  for (std::string line; std::getline(readme, line);) {
    if (line == heading) {
      inTable = true;
      rows.push_back(line);
    } else if (inTable && line.rfind('|', 0) == 0) {
      rows.push_back(line);
    } else if (inTable) {
      break;
    }
  }
  std::vector<std::string> expected = {heading, "|---|---|---|"};
  for (const FormatEntry* entry : FormatsAsNamed()) {
    std::string extensions;
    for (const char* ext : entry->extensions)
      if (ext != nullptr) extensions += (extensions.empty() ? "`" : " `") + std::string(ext) + "`";
    expected.push_back("| " + extensions + " | " + entry->reads + " | " + entry->writes + " |");
  }
  EXPECT_EQ(rows, expected) << "README.md's table of formats is made of the entries' `reads` "
                               "and `writes` lines in src/imaging/io/formats.cpp";
}

}  // namespace
}  // namespace tvq
