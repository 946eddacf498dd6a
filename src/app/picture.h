// Conversions between the library's pictures and what Qt paints.
#pragma once

#include <QImage>

#include "imaging/bitmap.h"
#include "imaging/imagefmt.h"

namespace tvq {

// An opaque RGB32 copy of the picture for painting, for every depth a Bitmap can
// hold: 1, 4 and 8 bits through the palette (indices past its end show black),
// 16 bits through the masks (5-5-5 when they are zero), 24 and 32 bits (32 bits
// through the masks when they are set). The picture keeps its own depth.
QImage BitmapToQImage(const Bitmap& bitmap);

// A grey plane as an 8-bit grey image, each value through ClampToByte.
QImage GreyToQImage(const TImageF& plane);

// The start-up picture: 64 x 64, 24 bits, black straight and diagonal strokes
// and a ring on white, so that the commands' effect on edges shows at once.
Bitmap BuiltInPicture();

}  // namespace tvq
