// Whether a file's picture can go through the commands at all, decided once when it is
// read, so that every command refuses it the same way and before any work: a command
// cannot make anything sensible of samples that are not numbers, and those that pass
// them on would blame the solver or write NaN as black.
#pragma once

#include <optional>
#include <string>

#include "imaging/io/picture.h"

namespace tvq {

// Why no command can process the picture, std::nullopt when any can: a sample that is
// NaN or infinite (only the float samples of PFM files can be), named with the first
// such pixel: "the picture holds values that are not finite (NaN or infinity), the first
// at pixel (3, 5)".
std::optional<std::string> UnprocessableReason(const Picture& picture);

// Throws FileError with UnprocessableReason's text when there is one.
void CheckProcessable(const Picture& picture);

}  // namespace tvq
