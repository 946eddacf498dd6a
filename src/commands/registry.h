// The registry of the picture commands: for each, its name, the tables that bind its
// settings' descriptors to the fields of its settings structs, how alpha travels, what
// its memory estimate counts, and its work on a prepared picture. The C++ API and the
// Python module are built from it; the command-line tool's option names and messages
// are the ones used here ("--iterations: 1e+09 is too large: the range is 0 to 100000").
//
// Settings come in by their command-line names (flag, with its prefix, such as
// "dering-iterations") as a switch, a number or a text. A choice takes one of its
// command-line names, one of its captions, or its index as a number; a number setting
// takes a number only. Spelled as on the command line (Spelling::kCommandLine), every
// value is the text typed after its option (a switch: true): numbers are parsed as the
// tool parses them and quoted as typed in messages, and a choice takes its command-line
// names only (a choice without names: its captions or its index).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "commands/filepicture.h"
#include "commands/memoryestimate.h"
#include "commands/sizedrun.h"
#include "commands/sizes.h"
#include "deringing/dering.h"
#include "deringing/edgemask.h"
#include "imaging/progress.h"
#include "imaging/settingdesc.h"
#include "superres/resample.h"
#include "utility/metrics.h"
#include "utility/resize.h"

namespace tvq {

// Strict number parsing of a whole text ("+3", "-1e2"; no spaces, no hexadecimal);
// std::nullopt when it is not a finite number.
std::optional<double> ParseNumber(const std::string& text);

// ParseNumber that also takes numbers beyond double's range and "inf" as infinities (and
// numbers too small for it as 0 or their nearest value), so that a range can refuse them
// as too large or too small; std::nullopt for "nan" and text that is no number.
std::optional<double> ParseAnyNumber(const std::string& text);

// How the values of a command's settings are spelled: by callers of the library, or as
// typed on the command line.
enum class Spelling { kCallers, kCommandLine };

// A setting's value as a caller gives it: a switch, a number, or a text.
using SettingInput = std::variant<bool, double, std::string>;
// Settings by their command-line names.
using SettingInputs = std::map<std::string, SettingInput, std::less<>>;

// One field of a settings struct bound to its descriptor: `set` stores a number, or a
// choice's index, converted to the field's type; `get` reads the field (its default in
// a default-constructed struct).
template <typename Params>
struct FieldBinding {
  const SettingDesc* number = nullptr;
  const ChoiceDesc* choice = nullptr;
  std::function<void(Params&, double)> set{};
  std::function<double(const Params&)> get{};

  const char* Flag() const { return number ? number->flag : choice->flag; }
};

template <typename Params>
using SettingsTable = std::vector<FieldBinding<Params>>;

// The tables of the settings structs, in the order of the command-line options.
const SettingsTable<ResampleParams>& ResampleTable();
const SettingsTable<DeringParams>& DeringTable();
const SettingsTable<EdgeMaskParams>& EdgeMaskTable();

// One setting of a command as callers name it.
struct CommandSetting {
  std::string flag{};                   // with its prefix: "dering-iterations"
  const SettingDesc* number = nullptr;  // a number setting
  const ChoiceDesc* choice = nullptr;   // a choice (for resample's "dering": the method)
  std::string help{};                   // switches, texts, and settings whose help differs
  std::string valueName{};              // with `help`: the value's name in the help ("GEOMETRY")
  bool isSwitch = false;                // on or off; a choice may also be a switch
  bool isText = false;                  // a text (--size's geometry)
  std::string needs{};                  // the switch it needs: "mask", "dering or mask"
};

// What a command's settings prepare: the work on one prepared picture, returning the
// file picture of its result, and what it needs.
struct PreparedCommand {
  std::function<Picture(const CommandInput&, Progress&)> work{};
  MemoryWork memory = MemoryWork::kGrey;
  MemoryFeatures features{};
  bool doubles = false;  // the result is twice the input's size
  // The deringing method the work runs (the dering command, resample's --dering or
  // --mask), -1 for none: tiles keep to its block grid, and whole-line methods refuse them.
  std::int32_t deringMethod = -1;
  // Why the work cannot run in tiles (its result depends on the whole picture at every
  // step), as the --tile refusal says it; empty when it can.
  std::string untiled{};
  // Commands whose result size the settings set (scale, size): refuses a width x
  // height picture whose result cannot be made, in place of `doubles`, and estimates
  // the peak memory in place of `memory` (from the features, the size and the bytes
  // the input holds).
  std::function<void(std::int32_t, std::int32_t)> checkSize{};
  std::function<std::uint64_t(const MemoryFeatures&, std::int32_t, std::int32_t, std::uint64_t)>
      estimate{};

  // Refuses (FileError) a width x height input whose result cannot be made.
  void CheckSize(std::int32_t width, std::int32_t height) const;
  // The peak memory of the work on a width x height input holding inputBytes.
  std::uint64_t Estimate(const MemoryFeatures& features, std::int32_t width, std::int32_t height,
                         std::uint64_t inputBytes) const;
};

struct CommandEntry {
  std::string name{};  // the command line's: "resample", "mask", "noise", ...
  std::string summary{};
  std::vector<CommandSetting> settings{};
  AlphaTravel travel = AlphaTravel::kSameSize;
  // Reads and checks the settings before any picture is read: SettingError whose
  // what() is the command line's message ("--step: 2000 is too large: the range is 0
  // to 1000", "unknown option --foo", "mask options need --mask").
  std::function<PreparedCommand(const SettingInputs&, Spelling)> prepare{};
};

// The picture commands, in the order of the tool's help.
const std::vector<CommandEntry>& CommandRegistry();
// The entry of that name; nullptr when there is none.
const CommandEntry* FindCommand(std::string_view name);

// How a command's messages name its settings: by their command-line flags ("lower
// --factor"), or by their dialog captions ("lower \"Factor\"").
enum class SettingNames { kFlags, kCaptions };

// What a result that is not a number asks the user to change: "lower --step, --maximum
// or --btv-base" (and "or raise --factor" in the Conditional mode), "lower --factor".
std::string SolverRemedy(ConvergenceMode convergence, SettingNames names);
std::string DeringRemedy(SettingNames names);

// The commands' work from settings structs already read and validated (the
// application's dialogs): the same work, memory model and estimate, alpha travel and
// result conversion that each entry's `prepare` builds from its flags, which call these.
// `size` not Given(): two times.
PreparedCommand PrepareResample(const ResampleParams& params,
                                const std::optional<DeringParams>& dering,
                                const std::optional<EdgeMaskParams>& mask,
                                const OutputSizeParams& size, SizeRoute route, SettingNames names);
PreparedCommand PrepareDering(const DeringParams& params, const std::optional<EdgeMaskParams>& mask,
                              SettingNames names);
PreparedCommand PrepareEdgeMask(const EdgeMaskParams& params);
PreparedCommand PrepareResize(const OutputSizeParams& size, ResizeFilter filter);

// The compare command's work on two pictures' colours, the first the reference: their
// sizes, the parts measured and every measure. FileError naming both pictures when the
// sizes differ (unless `crop`: then the top-left part both share is measured) or the
// border of `shave` pixels leaves nothing.
struct ComparedPictures {
  std::int32_t widthA = 0, heightA = 0, widthB = 0, heightB = 0;
  bool cropped = false;
  MetricsOptions options{};
  TImageF4 partA{}, partB{};  // the parts measured (views of the colours)
  Metrics metrics{};
};
ComparedPictures ComparePictures(const TImageF4& colourA, const TImageF4& colourB,
                                 std::int32_t shave, bool crop, const std::string& nameA,
                                 const std::string& nameB);

// Refuses (FileError) a picture of width x height pixels that cannot be doubled: "a
// 40000x10 picture cannot be enlarged beyond 65535 pixels a side".
void CheckDoubling(std::int64_t width, std::int64_t height);

}  // namespace tvq
