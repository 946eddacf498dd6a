// Portable float maps: the exact float results before byte rounding.
//
// "Pf" files hold one channel, "PF" files three channels in red, green, blue order.
// Rows run from the bottom of the picture to the top; a negative scale in the
// header marks little-endian floats, a positive one big-endian. Both byte orders
// are read; files are written little-endian with the scale -1.0. The scale's
// magnitude is not applied: the floats are returned as stored.
#pragma once

#include <string>

#include "imaging/imagefmt.h"
#include "imaging/io/fileio.h"

namespace tvq {

// Writes a one-channel "Pf" file. Throws FileError "path: problem".
void WritePfm(const TImageF& image, const std::string& path);
// Writes a three-channel "PF" file of channels 2, 1, 0 as red, green, blue.
void WritePfm(const TImageF4& image, const std::string& path);
// Reads a "Pf" file. Throws FileError "path: problem" (also for a "PF" file).
TImageF ReadPfmGrey(const std::string& path);
// Reads a "PF" file: red, green, blue into channels 2, 1, 0; channel 3 is 0.
TImageF4 ReadPfmColour(const std::string& path);

}  // namespace tvq
