#include "app/imageview.h"

#include <QPainter>
#include <QPixmap>

namespace tvq {

ImageView::ImageView(QWidget* parent) : QWidget(parent) {
  setObjectName("Image1");
  setAttribute(Qt::WA_OpaquePaintEvent);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  setAccessibleName("Picture");
}

void ImageView::SetImage(const QImage& image) {
  image_ = image;
  update();
}

void ImageView::SetStretch(bool stretch) {
  if (stretch_ == stretch) return;
  stretch_ = stretch;
  update();
}

QRect ImageView::ImageRect() const {
  if (image_.isNull()) return QRect();
  QSize size = image_.size();
  const QSize area = this->size();
  if (stretch_ || size.width() > area.width() || size.height() > area.height())
    size.scale(area, Qt::KeepAspectRatio);
  if (size.isEmpty()) size = size.expandedTo(QSize(1, 1));
  // Centred in the view.
  return QRect(QPoint((area.width() - size.width()) / 2, (area.height() - size.height()) / 2),
               size);
}

void ImageView::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().window());
  if (image_.isNull()) return;
  const QRect target = ImageRect();
  const bool shrinking = target.width() < image_.width();
  painter.setRenderHint(QPainter::SmoothPixmapTransform, shrinking);
  if (image_.hasAlphaChannel()) {
    // Transparent parts show a grey checkerboard of 8-pixel squares behind them.
    QPixmap tile(16, 16);
    tile.fill(QColor(204, 204, 204));
    QPainter tilePainter(&tile);
    tilePainter.fillRect(0, 0, 8, 8, QColor(153, 153, 153));
    tilePainter.fillRect(8, 8, 8, 8, QColor(153, 153, 153));
    tilePainter.end();
    painter.fillRect(target, QBrush(tile));
  }
  painter.drawImage(target, image_);
}

}  // namespace tvq
