// The tool's help and each command's, built from the commands and their options.
#include <iomanip>
#include <ostream>
#include <string>

#include "buildversion.h"
#include "cli/command.h"
#include "cli/picturecommand.h"
#include "imaging/io/formats.h"

namespace tvq::cli {

namespace {

const char kEnvironmentHelp[] =
    "Environment:\n"
    "  TVQ_KERNELS=reference  run the plain single-thread loops instead of the fast\n"
    "                         kernels, whatever --threads says; the output is the\n"
    "                         same, only slower (for tests and measurements)\n";

// Writes `text` whose first line starts at `column` (already reached), breaking it
// between words so that no line is longer than 80 characters where a word allows;
// later lines are indented to `column`.
void PrintWrapped(std::ostream& out, const std::string& text, std::size_t column) {
  constexpr std::size_t kWidth = 80;
  std::size_t at = column;
  std::size_t begin = 0;
  bool first = true;
  while (begin < text.size()) {
    std::size_t end = text.find(' ', begin);
    if (end == std::string::npos) end = text.size();
    const std::size_t length = end - begin;
    if (!first && at + 1 + length > kWidth) {
      out << "\n" << std::string(column, ' ');
      at = column;
      first = true;
    }
    if (!first) {
      out << ' ';
      ++at;
    }
    out << text.substr(begin, length);
    at += length;
    first = false;
    begin = end + 1;
  }
  out << "\n";
}

// "a BMP, PNG, JPEG, TIFF, WebP or PFM file": the formats read, from the format table.
std::string FormatsRead() {
  const auto formats = FormatsAsNamed();
  std::string text = "a";
  for (std::size_t i = 0; i < formats.size(); ++i)
    text += std::string(i == 0 ? " " : i + 1 == formats.size() ? " or " : ", ") + formats[i]->name;
  return text + " file";
}

}  // namespace

void PrintToolHelp(std::ostream& out) {
  out << "Usage: tvq COMMAND [options] ARGS...\n"
         "       tvq --help | --version\n\n";
  PrintWrapped(out,
               "Enlarges pictures by super-resolution (two times, or to any size) and removes "
               "ringing beside edges. IN may be " +
                   FormatsRead() +
                   ". OUT's extension picks the format: .bmp (32 bits), .png, .jpg or .jpeg, "
                   ".tif or .tiff, .webp, or .pfm (the float result before rounding). Alpha is "
                   "kept by PNG, TIFF and WebP. Picture commands also take IN... -o OUTDIR: "
                   "files and folders in, a mirrored tree of results out.",
               0);
  out << "\nCommands:\n";
  for (const auto& c : Commands()) {
    out << "  " << std::left << std::setw(12) << c.name;
    PrintWrapped(out, c.summary, 14);
  }
  out << "\nOptions of every command:\n";
  for (const auto& o : CommonOptions()) {
    const std::string left = "--" + o.name + (o.valueName.empty() ? "" : " " + o.valueName);
    out << "  " << std::left << std::setw(12) << left;
    // A name too long for its column puts the help on the next line.
    if (left.size() >= 12) out << "\n" << std::string(14, ' ');
    PrintWrapped(out, o.help, 14);
  }
  out << "\n" << kEnvironmentHelp;
  out << "\nRun 'tvq COMMAND --help' for the options of a command.\n";
}

void PrintVersion(std::ostream& out) {
  out << "tvq " TVQ_VERSION_TEXT "\n";
}

void PrintCommandHelp(const Command& command, std::ostream& out) {
  out << "Usage: tvq " << command.name << " [options] " << command.synopsis << "\n";
  if (command.picture) out << "       tvq " << command.name << " [options] IN... -o OUTDIR\n";
  out << "\n" << command.summary << "\n\n";
  out << "Options:\n";
  auto print = [&out](const OptionSpec& o) {
    const std::string left = "--" + o.name + (o.valueName.empty() ? "" : " " + o.valueName);
    constexpr std::size_t kColumn = 26;
    out << "  " << left;
    if (left.size() + 1 > kColumn)
      out << "\n  " << std::string(kColumn, ' ');
    else
      out << std::string(kColumn - left.size(), ' ');
    PrintWrapped(out, o.help, kColumn + 2);
  };
  for (const auto& o : command.options) print(o);
  if (command.picture)
    for (const auto& o : PictureOptions()) print(o);
  for (const auto& o : CommonOptions()) print(o);
  out << "\n" << kEnvironmentHelp;
}

}  // namespace tvq::cli
