#include "imaging/source.h"

#include <memory>

namespace tvq {

std::int32_t PictureSource::Width() const {
  return bitmap_ != nullptr ? bitmap_->Width() : colour_->Width();
}

std::int32_t PictureSource::Height() const {
  return bitmap_ != nullptr ? bitmap_->Height() : colour_->Height();
}

void PictureSource::Read(std::int32_t format, TImageBase& image) const {
  if (bitmap_ != nullptr) {
    ImageFromBitmap(*bitmap_, format, image);
    return;
  }
  image.Adopt(std::make_unique<TImageContainer>(colour_->GetDesc(), format, true));
}

}  // namespace tvq
