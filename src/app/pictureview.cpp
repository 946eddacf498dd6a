#include "app/pictureview.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QScrollBar>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <vector>

#include "app/comparedivider.h"

namespace tvq {

namespace {

constexpr double kEpsilon = 1e-9;

// The image at `size`, each pixel taken from the source pixel it falls in, so that
// a picture half the size lines up with the 2x grid of the larger one.
QImage RepeatPixels(const QImage& source, QSize size) {
  if (source.isNull() || source.size() == size) return source;
  const QImage from = source.convertToFormat(source.hasAlphaChannel() ? QImage::Format_ARGB32
                                                                      : QImage::Format_RGB32);
  QImage to(size, from.format());
  if (to.isNull()) return to;
  std::vector<int> columns(static_cast<std::size_t>(size.width()));
  for (int x = 0; x < size.width(); ++x)
    columns[static_cast<std::size_t>(x)] =
        static_cast<int>(static_cast<qint64>(x) * from.width() / size.width());
  for (int y = 0; y < size.height(); ++y) {
    const int sy = static_cast<int>(static_cast<qint64>(y) * from.height() / size.height());
    const QRgb* in = reinterpret_cast<const QRgb*>(from.constScanLine(sy));
    QRgb* out = reinterpret_cast<QRgb*>(to.scanLine(y));
    for (int x = 0; x < size.width(); ++x) out[x] = in[columns[static_cast<std::size_t>(x)]];
  }
  return to;
}

// The next zoom step above (up) or below the zoom; the zoom itself at the ends.
double NextZoomStep(double zoom, bool up) {
  const auto& steps = PictureView::kZoomSteps;
  if (up) {
    for (double step : steps)
      if (step > zoom * (1 + kEpsilon)) return step;
  } else {
    for (auto it = steps.rbegin(); it != steps.rend(); ++it)
      if (*it < zoom * (1 - kEpsilon)) return *it;
  }
  return zoom;
}

}  // namespace

PictureView::PictureView(QWidget* parent) : QAbstractScrollArea(parent) {
  setObjectName("Image1");
  setFrameShape(QFrame::NoFrame);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  setFocusPolicy(Qt::StrongFocus);
  setAccessibleName("Picture");
  setAccessibleDescription(
      "Zoom with Ctrl+plus and Ctrl+minus, scroll with the arrow and page keys.");
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  viewport()->setMouseTracking(true);
  horizontalScrollBar()->setAccessibleName("Horizontal scroll");
  verticalScrollBar()->setAccessibleName("Vertical scroll");
  divider_ = new CompareDivider(viewport());
  divider_->hide();
  UpdateScrollBars();
}

void PictureView::SetImage(const QImage& image) {
  const bool resized = image.size() != image_.size();
  image_ = image;
  if (resized) {
    UpdateScrollBars();
    if (stretch_) emit ZoomChanged();
  }
  viewport()->update();
  // The pixel under the mouse is read again from the new picture.
  hovered_ = QPoint(-2, -2);
  UpdateHover();
}

void PictureView::SetStretch(bool stretch) {
  if (stretch_ == stretch) return;
  if (!stretch) {
    SetZoom(1.0);
    return;
  }
  stretch_ = true;
  UpdateScrollBars();
  viewport()->update();
  UpdateHover();
  emit ZoomChanged();
}

double PictureView::DeviceRatio() const {
  return std::max(viewport()->devicePixelRatioF(), 0.01);
}

double PictureView::FitScale() const {
  if (image_.isNull()) return 1.0;
  const QSize area = viewport()->size();
  return std::max(std::min(static_cast<double>(area.width()) / image_.width(),
                           static_cast<double>(area.height()) / image_.height()),
                  kEpsilon);
}

double PictureView::Scale() const {
  return stretch_ ? FitScale() : zoom_ / DeviceRatio();
}

double PictureView::Zoom() const {
  return Scale() * DeviceRatio();
}

bool PictureView::SmoothDrawing() const {
  const double zoom = Zoom();
  return zoom < 2 - kEpsilon && std::abs(zoom - 1) > kEpsilon;
}

QRect PictureView::VisibleImageRect() const {
  const QRectF target = TargetRect();
  const double scale = Scale();
  if (target.isEmpty() || scale <= 0) return QRect();
  const QRectF shown = target.intersected(QRectF(QPointF(0, 0), QSizeF(viewport()->size())));
  const QRect pixels(
      QPoint(static_cast<int>(std::floor((shown.left() - target.left()) / scale)),
             static_cast<int>(std::floor((shown.top() - target.top()) / scale))),
      QPoint(static_cast<int>(std::ceil((shown.right() - target.left()) / scale)) - 1,
             static_cast<int>(std::ceil((shown.bottom() - target.top()) / scale)) - 1));
  return pixels.intersected(image_.rect());
}

QRectF PictureView::TargetRect() const {
  if (image_.isNull()) return QRectF();
  const double scale = Scale();
  const double width = image_.width() * scale;
  const double height = image_.height() * scale;
  const QSize area = viewport()->size();
  double x = width <= area.width() ? (area.width() - width) / 2 : -horizontalScrollBar()->value();
  double y = height <= area.height() ? (area.height() - height) / 2 : -verticalScrollBar()->value();
  // On the device-pixel grid, so that at actual size pixels map one to one.
  const double ratio = DeviceRatio();
  x = std::round(x * ratio) / ratio;
  y = std::round(y * ratio) / ratio;
  return QRectF(x, y, width, height);
}

QRect PictureView::ImageRect() const {
  const QRectF r = TargetRect();
  return QRect(qRound(r.x()), qRound(r.y()), qRound(r.width()), qRound(r.height()));
}

void PictureView::UpdateScrollBars() {
  const Qt::ScrollBarPolicy policy =
      stretch_ || image_.isNull() ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAsNeeded;
  if (horizontalScrollBarPolicy() != policy) setHorizontalScrollBarPolicy(policy);
  if (verticalScrollBarPolicy() != policy) setVerticalScrollBarPolicy(policy);
  const QSize area = viewport()->size();
  const double scale = Scale();
  const auto extent = [scale](int pixels) {
    return static_cast<int>(std::ceil(pixels * scale - 1e-6));
  };
  const int width = image_.isNull() || stretch_ ? 0 : extent(image_.width());
  const int height = image_.isNull() || stretch_ ? 0 : extent(image_.height());
  QScrollBar* h = horizontalScrollBar();
  QScrollBar* v = verticalScrollBar();
  h->setRange(0, std::max(0, width - area.width()));
  h->setPageStep(std::max(1, area.width()));
  h->setSingleStep(std::max(1, area.width() / 20));
  v->setRange(0, std::max(0, height - area.height()));
  v->setPageStep(std::max(1, area.height()));
  v->setSingleStep(std::max(1, area.height() / 20));
  UpdateCursor();
}

void PictureView::SetZoom(double zoom, QPointF anchor) {
  zoom = std::clamp(zoom, kZoomSteps.front(), kZoomSteps.back());
  if (anchor.x() < 0 || anchor.y() < 0) anchor = QRectF(viewport()->rect()).center();
  // The picture point under the anchor stays under it.
  const QRectF before = TargetRect();
  const double oldScale = Scale();
  const QPointF point = image_.isNull() ? QPointF() : (anchor - before.topLeft()) / oldScale;
  const bool changed = stretch_ || std::abs(zoom - zoom_) > kEpsilon;
  stretch_ = false;
  zoom_ = zoom;
  UpdateScrollBars();
  const double scale = Scale();
  horizontalScrollBar()->setValue(static_cast<int>(std::lround(point.x() * scale - anchor.x())));
  verticalScrollBar()->setValue(static_cast<int>(std::lround(point.y() * scale - anchor.y())));
  viewport()->update();
  UpdateHover();
  if (changed) emit ZoomChanged();
}

void PictureView::ZoomIn() {
  SetZoom(NextZoomStep(Zoom(), true));
}
void PictureView::ZoomOut() {
  SetZoom(NextZoomStep(Zoom(), false));
}
void PictureView::ActualSize() {
  SetZoom(1.0);
}

void PictureView::SetPreviousImage(const QImage& previous) {
  previous_ = previous;
  previousSized_ = QImage();
  reducedKey_[1] = 0;
  viewport()->update();
}

void PictureView::SetComparing(bool on) {
  comparing_ = on;
  divider_->setVisible(on);
  if (on) {
    divider_->Place();
  } else {
    previousSized_ = QImage();
    reduced_[1] = QImage();
    reducedKey_[1] = 0;
  }
  viewport()->update();
}

void PictureView::DrawImage(QPainter& painter, const QImage& image, const QRectF& target,
                            const QRectF& clip, bool previous) {
  const QRectF visible = target & clip;
  if (visible.isEmpty()) return;
  painter.save();
  painter.setClipRect(visible);
  if (image.hasAlphaChannel()) {
    // Transparent parts show a grey checkerboard of 8-pixel squares behind them.
    QPixmap tile(16, 16);
    tile.fill(QColor(204, 204, 204));
    QPainter tilePainter(&tile);
    tilePainter.fillRect(0, 0, 8, 8, QColor(153, 153, 153));
    tilePainter.fillRect(8, 8, 8, 8, QColor(153, 153, 153));
    tilePainter.end();
    painter.fillRect(visible, QBrush(tile));
  }
  const double ratio = DeviceRatio();
  const double scale = Scale();
  const double zoom = scale * ratio;
  if (zoom < 1 - kEpsilon) {
    // Reduced once with area averaging, then drawn as it is.
    const QSize size(std::max(1, static_cast<int>(std::lround(image.width() * zoom))),
                     std::max(1, static_cast<int>(std::lround(image.height() * zoom))));
    QImage& reduced = reduced_[previous ? 1 : 0];
    qint64& key = reducedKey_[previous ? 1 : 0];
    if (key != image.cacheKey() || reduced.size() != size) {
      reduced = image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
      key = image.cacheKey();
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter.drawImage(target, reduced, QRectF(reduced.rect()));
  } else {
    // Only the picture pixels that show, one more on each side for smoothing.
    const auto span = [scale](double from, double to, double origin, int limit) {
      const int first = std::max(0, static_cast<int>(std::floor((from - origin) / scale)) - 1);
      const int last = std::min(limit, static_cast<int>(std::ceil((to - origin) / scale)) + 1);
      return std::pair(first, last);
    };
    const auto [x0, x1] = span(visible.left(), visible.right(), target.left(), image.width());
    const auto [y0, y1] = span(visible.top(), visible.bottom(), target.top(), image.height());
    const QRectF source(x0, y0, x1 - x0, y1 - y0);
    const QRectF dest(target.left() + x0 * scale, target.top() + y0 * scale, source.width() * scale,
                      source.height() * scale);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, SmoothDrawing());
    painter.drawImage(dest, image, source);
  }
  painter.restore();
}

void PictureView::paintEvent(QPaintEvent* event) {
  QPainter painter(viewport());
  painter.fillRect(event->rect(), palette().window());
  if (image_.isNull()) return;
  const QRectF target = TargetRect();
  const QRectF area(viewport()->rect());
  if (!comparing_ || previous_.isNull()) {
    DrawImage(painter, image_, target, area, false);
    return;
  }
  if (previousSized_.size() != image_.size()) {
    previousSized_ = RepeatPixels(previous_, image_.size());
    reducedKey_[1] = 0;
  }
  const int line = divider_->LineX();
  DrawImage(painter, previousSized_, target,
            QRectF(area.left(), area.top(), line - area.left(), area.height()), true);
  DrawImage(painter, image_, target,
            QRectF(line, area.top(), area.right() + 1 - line, area.height()), false);

  // Small captions beside the top of the divider.
  const QFontMetrics metrics = painter.fontMetrics();
  const auto caption = [&](const QString& text, bool left) {
    const int width = metrics.horizontalAdvance(text) + 10;
    const int height = metrics.height() + 4;
    const QRect box(left ? line - 10 - width : line + 10, 8, width, height);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, 150));
    painter.drawRoundedRect(box, 4, 4);
    painter.setPen(Qt::white);
    painter.drawText(box, Qt::AlignCenter, text);
  };
  caption(leftCaption_, true);
  caption(rightCaption_, false);
}

void PictureView::SetComparisonCaptions(const QString& left, const QString& right) {
  leftCaption_ = left;
  rightCaption_ = right;
  viewport()->update();
}

void PictureView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdateScrollBars();
  divider_->Place();
  if (stretch_) emit ZoomChanged();
}

void PictureView::scrollContentsBy(int /*dx*/, int /*dy*/) {
  // Everything is drawn from the scroll bars' values; the divider stays.
  viewport()->update();
  UpdateHover();
}

bool PictureView::Scrollable() const {
  return horizontalScrollBar()->maximum() > 0 || verticalScrollBar()->maximum() > 0;
}

void PictureView::UpdateCursor() {
  viewport()->setCursor(panning_       ? Qt::ClosedHandCursor
                        : Scrollable() ? Qt::OpenHandCursor
                                       : Qt::ArrowCursor);
}

void PictureView::wheelEvent(QWheelEvent* event) {
  if ((event->modifiers() & Qt::ShiftModifier) && !(event->modifiers() & Qt::ControlModifier)) {
    // Shift turns the wheel sideways, as in common viewers.
    const QPoint delta = event->angleDelta();
    const int steps = delta.x() != 0 ? delta.x() : delta.y();
    QScrollBar* bar = horizontalScrollBar();
    bar->setValue(bar->value() - steps * bar->singleStep() / 40);
    event->accept();
    return;
  }
  if (!(event->modifiers() & Qt::ControlModifier)) {
    QAbstractScrollArea::wheelEvent(event);
    return;
  }
  // Whole notches zoom one step each; finer wheels add up.
  wheelSteps_ += event->angleDelta().y() / 120.0;
  double zoom = Zoom();
  for (; wheelSteps_ >= 1; wheelSteps_ -= 1) zoom = NextZoomStep(zoom, true);
  for (; wheelSteps_ <= -1; wheelSteps_ += 1) zoom = NextZoomStep(zoom, false);
  if (std::abs(zoom - Zoom()) > kEpsilon) SetZoom(zoom, event->position());
  event->accept();
}

void PictureView::keyPressEvent(QKeyEvent* event) {
  if (comparing_ && (event->key() == Qt::Key_BracketLeft || event->key() == Qt::Key_BracketRight)) {
    divider_->triggerAction(event->key() == Qt::Key_BracketLeft
                                ? QAbstractSlider::SliderPageStepSub
                                : QAbstractSlider::SliderPageStepAdd);
    event->accept();
    return;
  }
  QAbstractScrollArea::keyPressEvent(event);
}

void PictureView::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !Scrollable()) {
    QAbstractScrollArea::mousePressEvent(event);
    return;
  }
  panning_ = true;
  panStart_ = event->position().toPoint();
  panScroll_ = QPoint(horizontalScrollBar()->value(), verticalScrollBar()->value());
  UpdateCursor();
  event->accept();
}

void PictureView::mouseMoveEvent(QMouseEvent* event) {
  if (panning_) {
    const QPoint moved = event->position().toPoint() - panStart_;
    horizontalScrollBar()->setValue(panScroll_.x() - moved.x());
    verticalScrollBar()->setValue(panScroll_.y() - moved.y());
  }
  HoverAt(event->position());
  event->accept();
}

void PictureView::mouseReleaseEvent(QMouseEvent* event) {
  if (!panning_ || event->button() != Qt::LeftButton) {
    QAbstractScrollArea::mouseReleaseEvent(event);
    return;
  }
  panning_ = false;
  UpdateCursor();
  event->accept();
}

bool PictureView::viewportEvent(QEvent* event) {
  if (event->type() == QEvent::Leave && hovered_ != QPoint(-1, -1)) {
    hovered_ = QPoint(-1, -1);
    emit PixelLeft();
  }
  return QAbstractScrollArea::viewportEvent(event);
}

void PictureView::HoverAt(QPointF position) {
  const QRectF target = TargetRect();
  QPoint pixel(-1, -1);
  if (target.contains(position)) {
    const double scale = Scale();
    pixel = QPoint(
        std::clamp(static_cast<int>((position.x() - target.left()) / scale), 0, image_.width() - 1),
        std::clamp(static_cast<int>((position.y() - target.top()) / scale), 0,
                   image_.height() - 1));
  }
  const bool previous = comparing_ && !previous_.isNull() && position.x() < divider_->LineX();
  if (pixel == hovered_ && previous == hoveringPrevious_) return;
  hovered_ = pixel;
  hoveringPrevious_ = previous;
  if (pixel == QPoint(-1, -1)) {
    emit PixelLeft();
  } else {
    emit PixelHovered(pixel);
  }
}

void PictureView::UpdateHover() {
  if (viewport()->underMouse()) HoverAt(viewport()->mapFromGlobal(QCursor::pos()));
}

}  // namespace tvq
