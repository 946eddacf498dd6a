#include "interpolation/upscale.h"

#include <iterator>

#include "imaging/errors.h"
#include "interpolation/bilinear.h"
#include "interpolation/directional.h"
#include "interpolation/gradient.h"
#include "interpolation/interpolation.h"
#include "interpolation/lanczos.h"
#include "interpolation/nedi.h"

namespace tvq {

static_assert(std::size(kUpscaleMethodNames) == 6, "one UpscaleMethod per name");

bool UpscalesColour(UpscaleMethod method) {
  return method == UpscaleMethod::kGradientColour || method == UpscaleMethod::kDirectional;
}

void UpscaleGrey(UpscaleMethod method, const TImageF& source, TImageF& target,
                 const StopFlag* stop) {
  switch (method) {
    case UpscaleMethod::kGradient:
      GradientUpscale(source, target, 2, stop);
      return;
    case UpscaleMethod::kNedi:
      NediUpscale(source, target, NediConfigFor(4), stop);
      return;
    case UpscaleMethod::kLanczos:
      LanczosUpscale(source, target, stop);
      return;
    case UpscaleMethod::kBilinear:
      BilinearUpscale(source, target, stop);
      return;
    case UpscaleMethod::kGradientColour:
    case UpscaleMethod::kDirectional:
      break;
  }
  throw SettingError("not a grey enlarger");
}

TImageF4 UpscaleColour(UpscaleMethod method, const TImageF4& source, const StopFlag* stop) {
  if (method == UpscaleMethod::kGradientColour) {
    TImageF4 result(2 * source.Width(), 2 * source.Height());
    GradientUpscaleColor(source, result, 2, stop);
    return result;
  }
  if (method != UpscaleMethod::kDirectional) throw SettingError("not a colour enlarger");
  TImageC4 bytes(source.Width(), source.Height());
  ConvertPixels(source.GetDesc(), bytes.GetDesc());
  ThrowIfStopped(stop);
  TImageC4 enlarged(2 * source.Width(), 2 * source.Height());
  DirectionalUpscaleC4(bytes, enlarged, stop);
  ThrowIfStopped(stop);
  TImageF4 result(enlarged.Width(), enlarged.Height());
  ConvertPixels(enlarged.GetDesc(), result.GetDesc());
  return result;
}

Enlargement UpscalePicture(const PictureSource& picture, UpscaleMethod method,
                           const StopFlag* stop) {
  if (UpscalesColour(method)) {
    TImageF4 colour;
    picture.Read(ifF4, colour);
    ThrowIfStopped(stop);
    TImageF4 result = UpscaleColour(method, colour, stop);
    ThrowIfStopped(stop);
    return result;
  }
  TImageF grey;
  picture.Read(ifF, grey);
  ThrowIfStopped(stop);
  TImageF result(2 * grey.Width(), 2 * grey.Height());
  UpscaleGrey(method, grey, result, stop);
  ThrowIfStopped(stop);
  return result;
}

}  // namespace tvq
