#include "app/statusbar.h"

#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <algorithm>
#include <cmath>

#include "app/pictureview.h"

namespace tvq {

namespace {

// "400%", "12.5%", "66.7%".
QString Percent(double zoom) {
  const double percent = std::round(zoom * 1000) / 10;
  return QString::number(percent, 'f', percent == std::round(percent) ? 0 : 1) + "%";
}

// The colour of pixel (x, y) of a 24- or 32-bit picture, rows counted from the top.
QRgb BitmapPixel(const Bitmap& bitmap, int x, int y) {
  const std::uint8_t* row = bitmap.ScanLine(y);
  if (bitmap.BitsPerPixel() == 24) return qRgb(row[3 * x + 2], row[3 * x + 1], row[3 * x]);
  const std::uint8_t* px = row + 4 * x;
  const auto& masks = bitmap.Masks();
  if ((masks[0] | masks[1] | masks[2]) == 0) return qRgb(px[2], px[1], px[0]);
  const std::uint32_t p = px[0] | (static_cast<std::uint32_t>(px[1]) << 8) |
                          (static_cast<std::uint32_t>(px[2]) << 16) |
                          (static_cast<std::uint32_t>(px[3]) << 24);
  return qRgb(BitMaskChannel(masks[0]).Read(p), BitMaskChannel(masks[1]).Read(p),
              BitMaskChannel(masks[2]).Read(p));
}

}  // namespace

StatusBar::StatusBar(QWidget* parent) : QStatusBar(parent) {
  setObjectName("StatusBar");
  auto part = [this](QLabel*& label, const char* name, const char* accessibleName, int stretch) {
    label = new QLabel(this);
    label->setObjectName(name);
    label->setProperty("caption", QString::fromUtf8(accessibleName));
    label->setAccessibleName(accessibleName);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    addWidget(label, stretch);
  };
  part(file_, "FileStatus", "File", 1);
  part(size_, "SizeStatus", "Size and bits per pixel", 0);
  part(zoom_, "ZoomStatus", "Zoom", 0);
  part(pixel_, "PixelStatus", "Pixel", 0);
  part(command_, "CommandStatus", "Last command", 1);
  // The zoom keeps one width, so that the parts after it do not shift. The pixel
  // part takes the room its text needs where the status bar has it, and is cut
  // short in a narrow window rather than widening it.
  zoom_->setMinimumWidth(zoom_->fontMetrics().horizontalAdvance("8888.8% (fit)"));
  pixel_->setMinimumWidth(1);
}

void StatusBar::SetPart(QLabel* label, const QString& text) {
  label->setText(text);
  const QString caption = label->property("caption").toString();
  label->setAccessibleName(text.isEmpty() ? caption : caption + ": " + text);
}

void StatusBar::ShowPicture(const QString& name, const QString& path, const Bitmap& picture,
                            const PictureExtras& extras) {
  SetPart(file_, name);
  file_->setToolTip(path);
  // A picture that did not come from a BMP file (or the built-in one) is held in a
  // 32-bit bitmap whose fourth byte is unused: its depth is that of its channels.
  int bits = picture.BitsPerPixel();
  const bool fromBmp = extras.format ? *extras.format == PictureFormat::kBmp : !extras.pasted;
  if (!fromBmp && bits == 32) {
    const int channels = (extras.grey ? 1 : 3) + (extras.alpha.empty() ? 0 : 1);
    bits = channels * (extras.deep ? 16 : 8);
  }
  QString size =
      QStringLiteral("%1 \u00d7 %2, %3 bpp").arg(picture.Width()).arg(picture.Height()).arg(bits);
  if (!extras.alpha.empty()) size += QStringLiteral(", alpha");
  if (extras.format && *extras.format != PictureFormat::kBmp && extras.bitsPerChannel > 8)
    size += QStringLiteral(" (%1 bits per channel in the file)").arg(extras.bitsPerChannel);
  SetPart(size_, size);
}

void StatusBar::ShowZoom(const PictureView& view) {
  const QString zoom = Percent(view.Zoom());
  SetPart(zoom_, view.Stretch() ? zoom + " (fit)" : zoom);
}

void StatusBar::ShowPixel(const PictureView& view, QPoint pixel, const Bitmap& picture,
                          const std::vector<std::uint8_t>& alpha) {
  int x = pixel.x();
  int y = pixel.y();
  const QImage& shown = view.Image();
  QRgb colour = 0;
  QString place;
  if (view.HoveringPrevious()) {
    // The previous picture is drawn at the current one's size: its own pixel.
    const QImage& previous = view.PreviousImage();
    x = static_cast<int>(static_cast<qint64>(x) * previous.width() / std::max(1, shown.width()));
    y = static_cast<int>(static_cast<qint64>(y) * previous.height() / std::max(1, shown.height()));
    if (!previous.valid(x, y)) {
      SetPart(pixel_, QString());
      return;
    }
    colour = previous.pixel(x, y);
    place = QStringLiteral("Previous %1, %2").arg(x).arg(y);
  } else {
    const bool ownPicture = shown.width() == picture.Width() &&
                            shown.height() == picture.Height() &&
                            (picture.BitsPerPixel() == 24 || picture.BitsPerPixel() == 32);
    // A command's iterates, and pictures of other depths, are read as displayed.
    if (!ownPicture && !shown.valid(x, y)) {
      SetPart(pixel_, QString());
      return;
    }
    colour = ownPicture ? BitmapPixel(picture, x, y) : shown.pixel(x, y);
    place = QStringLiteral("%1, %2").arg(x).arg(y);
  }
  QString text = QStringLiteral("%1: R %2, G %3, B %4")
                     .arg(place)
                     .arg(qRed(colour))
                     .arg(qGreen(colour))
                     .arg(qBlue(colour));
  const std::size_t index = static_cast<std::size_t>(y) * picture.Width() + x;
  if (!view.HoveringPrevious() && shown.size() == QSize(picture.Width(), picture.Height()) &&
      index < alpha.size())
    text += QStringLiteral(", A %1").arg(alpha[index]);
  SetPart(pixel_, text);
}

void StatusBar::ShowCommandTime(const QString& name, qint64 milliseconds, bool succeeded) {
  const QString seconds = QString::number(milliseconds / 1000.0, 'f', 1);
  SetPart(command_, succeeded ? QStringLiteral("%1: %2 s").arg(name, seconds)
                              : QStringLiteral("%1: failed after %2 s").arg(name, seconds));
}

void StatusBar::ClearPixel() {
  SetPart(pixel_, QString());
}

void StatusBar::ShowCommandText(const QString& text) {
  SetPart(command_, text);
}

}  // namespace tvq
