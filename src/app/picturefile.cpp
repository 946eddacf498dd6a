#include "app/picturefile.h"

#include <QColorSpace>
#include <algorithm>
#include <cstddef>
#include <new>
#include <type_traits>
#include <utility>

#include "app/picture.h"
#include "imaging/imagebase.h"

namespace tvq {

namespace {

std::size_t PixelCount(const Bitmap& bitmap) {
  return static_cast<std::size_t>(bitmap.Width()) * static_cast<std::size_t>(bitmap.Height());
}

// Drops an alpha plane that is 255 everywhere: such a picture is opaque.
void DropOpaqueAlpha(std::vector<std::uint8_t>& alpha) {
  if (std::all_of(alpha.begin(), alpha.end(), [](std::uint8_t a) { return a == 255; }))
    alpha.clear();
}

}  // namespace

DisplayedPicture DisplayFilePicture(Picture picture) {
  DisplayedPicture shown;
  if (picture.bitmap) {
    shown.bitmap = std::move(*picture.bitmap);
    return shown;
  }
  const int width = picture.width;
  const int height = picture.height;
  const int channels = picture.channels;
  if (channels < 1 || channels > 4 ||
      picture.samples.size() != static_cast<std::size_t>(width) * height * channels)
    throw FileError("the decoded picture does not hold the samples its size needs");
  if (picture.bitsPerChannel > 8) shown.deep = std::make_shared<const Picture>(picture);
  shown.bitmap = Bitmap(width, height, 32);
  const bool alpha = picture.HasAlpha();
  if (alpha) shown.alpha.resize(static_cast<std::size_t>(width) * height);
  const float* in = picture.samples.data();
  for (int y = 0; y < height; ++y) {
    std::uint8_t* out = shown.bitmap.ScanLine(y);
    std::uint8_t* a = alpha ? shown.alpha.data() + static_cast<std::size_t>(y) * width : nullptr;
    for (int x = 0; x < width; ++x, in += channels, out += 4) {
      if (channels <= 2) {
        out[0] = out[1] = out[2] = ClampToByte(in[0]);
      } else {
        out[0] = ClampToByte(in[2]);
        out[1] = ClampToByte(in[1]);
        out[2] = ClampToByte(in[0]);
      }
      out[3] = 0;
      if (a) a[x] = ClampToByte(in[channels - 1]);
    }
  }
  DropOpaqueAlpha(shown.alpha);
  shown.grey = channels <= 2;
  return shown;
}

Picture FilePictureOf(const Bitmap& bitmap, const PictureExtras& extras) {
  if (extras.deep && extras.deep->width == bitmap.Width() &&
      extras.deep->height == bitmap.Height()) {
    Picture picture = *extras.deep;
    picture.bitsPerChannel = 16;
    picture.icc = extras.icc;
    if (picture.format == PictureFormat::kBmp) picture.format = PictureFormat::kPng;
    return picture;
  }
  const QImage shown = BitmapToQImage(bitmap);
  if (shown.isNull() && !bitmap.Empty()) throw std::bad_alloc();
  const int width = bitmap.Width();
  const int height = bitmap.Height();
  const bool alpha = !extras.alpha.empty() && extras.alpha.size() == PixelCount(bitmap);
  bool grey = extras.grey;
  for (int y = 0; grey && y < height; ++y) {
    const QRgb* row = reinterpret_cast<const QRgb*>(shown.constScanLine(y));
    for (int x = 0; x < width; ++x) {
      if (qRed(row[x]) != qGreen(row[x]) || qGreen(row[x]) != qBlue(row[x])) {
        grey = false;
        break;
      }
    }
  }

  Picture picture;
  // A BMP's picture leaves the BMP codec's own path once it is a file picture.
  picture.format = extras.format.value_or(PictureFormat::kPng);
  if (picture.format == PictureFormat::kBmp) picture.format = PictureFormat::kPng;
  picture.width = width;
  picture.height = height;
  picture.channels = (grey ? 1 : 3) + (alpha ? 1 : 0);
  picture.bitsPerChannel = 8;
  picture.icc = extras.icc;
  picture.samples.resize(PixelCount(bitmap) * static_cast<std::size_t>(picture.channels));
  float* out = picture.samples.data();
  for (int y = 0; y < height; ++y) {
    const QRgb* row = reinterpret_cast<const QRgb*>(shown.constScanLine(y));
    const std::uint8_t* a =
        alpha ? extras.alpha.data() + static_cast<std::size_t>(y) * width : nullptr;
    for (int x = 0; x < width; ++x) {
      if (grey) {
        *out++ = static_cast<float>(qRed(row[x]));
      } else {
        *out++ = static_cast<float>(qRed(row[x]));
        *out++ = static_cast<float>(qGreen(row[x]));
        *out++ = static_cast<float>(qBlue(row[x]));
      }
      if (a) *out++ = static_cast<float>(a[x]);
    }
  }
  return picture;
}

DisplayedPicture DisplayClipboardImage(const QImage& image, std::vector<std::uint8_t>* icc) {
  if (image.isNull()) throw FileError("the clipboard holds no picture");
  CheckPictureSize(image.width(), image.height(), 4);
  const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
  if (argb.isNull()) throw std::bad_alloc();
  DisplayedPicture shown;
  shown.bitmap = Bitmap(argb.width(), argb.height(), 32);
  const bool alpha = image.hasAlphaChannel();
  if (alpha) shown.alpha.resize(PixelCount(shown.bitmap));
  for (int y = 0; y < argb.height(); ++y) {
    const QRgb* row = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
    std::uint8_t* out = shown.bitmap.ScanLine(y);
    for (int x = 0; x < argb.width(); ++x, out += 4) {
      out[0] = static_cast<std::uint8_t>(qBlue(row[x]));
      out[1] = static_cast<std::uint8_t>(qGreen(row[x]));
      out[2] = static_cast<std::uint8_t>(qRed(row[x]));
      out[3] = 0;
      if (alpha)
        shown.alpha[static_cast<std::size_t>(y) * argb.width() + x] =
            static_cast<std::uint8_t>(qAlpha(row[x]));
    }
  }
  DropOpaqueAlpha(shown.alpha);
  if (icc) {
    const QByteArray profile =
        image.colorSpace().isValid() ? image.colorSpace().iccProfile() : QByteArray();
    icc->assign(profile.begin(), profile.end());
  }
  return shown;
}

void CropPicture(const Bitmap& bitmap, const PictureExtras& extras, const QRect& rect,
                 Bitmap& cropped, PictureExtras& croppedExtras) {
  const QRect area = rect.intersected(QRect(0, 0, bitmap.Width(), bitmap.Height()));
  const QImage part = BitmapToQImage(bitmap).copy(area);
  if (part.isNull()) throw std::bad_alloc();
  DisplayedPicture shown = DisplayClipboardImage(part, nullptr);
  cropped = std::move(shown.bitmap);
  croppedExtras = PictureExtras();
  croppedExtras.icc = extras.icc;
  croppedExtras.format = extras.format;
  croppedExtras.bitsPerChannel = extras.bitsPerChannel;
  croppedExtras.grey = extras.grey;
  const std::size_t width = static_cast<std::size_t>(bitmap.Width());
  if (extras.alpha.size() == PixelCount(bitmap)) {
    for (int y = area.top(); y <= area.bottom(); ++y) {
      const auto row = extras.alpha.begin() + static_cast<std::ptrdiff_t>(y * width + area.left());
      croppedExtras.alpha.insert(croppedExtras.alpha.end(), row, row + area.width());
    }
  }
  if (extras.deep && extras.deep->width == bitmap.Width() &&
      extras.deep->height == bitmap.Height()) {
    auto deep = std::make_shared<Picture>();
    deep->format = extras.deep->format;
    deep->width = area.width();
    deep->height = area.height();
    deep->channels = extras.deep->channels;
    deep->bitsPerChannel = extras.deep->bitsPerChannel;
    const std::size_t channels = static_cast<std::size_t>(deep->channels);
    for (int y = area.top(); y <= area.bottom(); ++y) {
      const auto row = extras.deep->samples.begin() +
                       static_cast<std::ptrdiff_t>((y * width + area.left()) * channels);
      deep->samples.insert(deep->samples.end(), row,
                           row + static_cast<std::ptrdiff_t>(area.width() * channels));
    }
    croppedExtras.deep = std::move(deep);
  }
}

QImage DisplayImage(const Bitmap& bitmap, const std::vector<std::uint8_t>& alpha) {
  QImage image = BitmapToQImage(bitmap);
  if (image.isNull() || alpha.size() != PixelCount(bitmap)) return image;
  image = image.convertToFormat(QImage::Format_ARGB32);
  for (int y = 0; y < image.height(); ++y) {
    QRgb* row = reinterpret_cast<QRgb*>(image.scanLine(y));
    const std::uint8_t* a = alpha.data() + static_cast<std::size_t>(y) * image.width();
    for (int x = 0; x < image.width(); ++x)
      row[x] = (row[x] & 0x00FFFFFFu) | (static_cast<QRgb>(a[x]) << 24);
  }
  return image;
}

CommandSource::CommandSource(const Bitmap& bitmap, const PictureExtras& extras)
    : bitmap_(bitmap), extras_(extras) {}

void CommandSource::Prepare() {
  if (extras_.alpha.empty() && !extras_.deep) {
    // 24- and 32-bit pictures are read as they are.
    if (bitmap_.BitsPerPixel() != 24 && bitmap_.BitsPerPixel() != 32)
      bitmap_ = ProcessableBitmap(bitmap_);
    return;
  }
  input_ = std::make_shared<const CommandInput>(PrepareInput(FilePictureOf(bitmap_, extras_)));
  bitmap_ = Bitmap();
}

PictureSource CommandSource::Source() const {
  return input_ ? input_->Source() : PictureSource(bitmap_);
}

template <typename Image>
DisplayedPicture CommandSource::ResultOf(const Image& result, AlphaTravel travel) const {
  if (input_) return DisplayFilePicture(ResultPicture(result, *input_, travel));
  DisplayedPicture shown;
  ImageToBitmap(result, shown.bitmap);
  shown.grey = std::is_same_v<Image, TImageF>;
  return shown;
}

DisplayedPicture CommandSource::Result(const TImageF4& result, AlphaTravel travel) const {
  return ResultOf(result, travel);
}

DisplayedPicture CommandSource::Result(const TImageF& result, AlphaTravel travel) const {
  return ResultOf(result, travel);
}

DisplayedPicture CommandSource::SolverResult(const TImageF4& result, AlphaTravel travel,
                                             const std::string& remedy) const {
  if (input_) return DisplayFilePicture(SolverResultPicture(result, *input_, travel, remedy));
  CheckSolverResult(result, remedy);
  return ResultOf(result, travel);
}

}  // namespace tvq
