// The plain loops and fast twins of the Deringing pipelines (deringcommand.cpp,
// deringcommand_fast.cpp) and the SIMD row kernel of the four-float recombination
// (deringcommand_simd.cpp); internal to the folder.
#pragma once

#include <cstdint>

#include "deringing/deringcommand.h"

namespace tvq {

// Progress stages of the Deringing command.
inline constexpr std::int32_t kCommandStages = 15;

// The Deringing command after its checks: the plain conversions and loops, and the
// fast glue (which takes the plain path for bitmaps it does not handle).
TImageF4 DeringPlain(const PictureSource& picture, const DeringParams& params,
                     const EdgeMaskParams* mask, Progress& progress);
TImageF4 DeringFast(const PictureSource& picture, const DeringParams& params,
                    const EdgeMaskParams* mask, Progress& progress);

// The luma of the picture as PictureSource::Read into a float plane forms it: Read
// itself, and the conversion's row kernel on all threads for 24- and 32-bit bitmaps.
TImageF LumaPlain(const PictureSource& picture);
TImageF LumaFast(const PictureSource& picture);

// out = (src - u) + l for blue, green and red of each of w four-float pixels, the
// fourth float copied: float operations, lane by lane.
void ColourRecombineRow(const float* src, const float* u, const float* l, float* out,
                        std::int32_t w);

}  // namespace tvq
