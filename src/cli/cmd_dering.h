// The deringing and edge-mask options, which resample takes too (its deringing options
// with the prefix "dering-").
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/options.h"
#include "deringing/dering.h"
#include "deringing/edgemask.h"

namespace tvq::cli {

// Options of the edge mask, shared by dering, resample and mask.
std::vector<OptionSpec> MaskOptions();

// Deringing options; `prefix` is "" for dering and "dering-" for resample.
std::vector<OptionSpec> DeringOptions(const std::string& prefix);

// The deringing settings of the options after `prefix`, validated.
DeringParams DeringParamsFrom(const ParsedArgs& args, const std::string& prefix);

// The edge mask's settings when --mask is given; std::nullopt without it. UsageError for
// mask options without --mask.
std::optional<EdgeMaskParams> OptionalMaskParams(const ParsedArgs& args);

}  // namespace tvq::cli
