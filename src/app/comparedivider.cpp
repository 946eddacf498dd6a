#include "app/comparedivider.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

namespace tvq {

CompareDivider::CompareDivider(QWidget* parent) : QAbstractSlider(parent) {
  setObjectName("CompareDivider");
  setOrientation(Qt::Horizontal);
  setRange(0, kRange);
  setSingleStep(10);
  setPageStep(50);
  setValue(kRange / 2);
  setFocusPolicy(Qt::StrongFocus);
  setCursor(Qt::SplitHCursor);
  setAccessibleName("Comparison divider");
  setAccessibleDescription(
      "Left of the divider the picture before the last command, right of it the current "
      "picture. Drag it, or press [ and ] in the picture or the arrow keys here, to move it.");
  setToolTip("Previous picture | current picture");
  connect(this, &QAbstractSlider::valueChanged, this, &CompareDivider::Place);
}

int CompareDivider::LineX() const {
  const int width = parentWidget() ? parentWidget()->width() : 0;
  return static_cast<int>(std::lround(static_cast<double>(value()) * width / kRange));
}

void CompareDivider::Place() {
  if (!parentWidget()) return;
  setGeometry(LineX() - kWidth / 2, 0, kWidth, parentWidget()->height());
  // The view draws the two pictures on either side of the line.
  parentWidget()->update();
}

void CompareDivider::MoveTo(int parentX) {
  const int width = std::max(1, parentWidget() ? parentWidget()->width() : 1);
  setValue(static_cast<int>(std::lround(static_cast<double>(parentX) * kRange / width)));
}

void CompareDivider::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const int mid = kWidth / 2;
  const QColor accent = hasFocus() ? palette().color(QPalette::Highlight) : QColor(255, 255, 255);
  // A light line with dark edges shows on every picture.
  painter.fillRect(QRect(mid - 2, 0, 5, height()), QColor(0, 0, 0, 140));
  painter.fillRect(QRect(mid - 1, 0, 3, height()), accent);
  // The grip: a disc with two arrows.
  const QPointF centre(mid + 0.5, height() / 2.0);
  const double radius = kWidth / 2.0 - 0.5;
  painter.setPen(QPen(QColor(0, 0, 0, 160), 1));
  painter.setBrush(accent);
  painter.drawEllipse(centre, radius, radius);
  QPainterPath arrows;
  arrows.moveTo(centre + QPointF(-1.5, -3.5));
  arrows.lineTo(centre + QPointF(-5, 0));
  arrows.lineTo(centre + QPointF(-1.5, 3.5));
  arrows.closeSubpath();
  arrows.moveTo(centre + QPointF(1.5, -3.5));
  arrows.lineTo(centre + QPointF(5, 0));
  arrows.lineTo(centre + QPointF(1.5, 3.5));
  arrows.closeSubpath();
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(40, 40, 40));
  painter.drawPath(arrows);
}

void CompareDivider::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    event->ignore();
    return;
  }
  grabOffset_ = event->position().toPoint().x() - kWidth / 2;
  setSliderDown(true);
  event->accept();
}

void CompareDivider::mouseMoveEvent(QMouseEvent* event) {
  if (!isSliderDown()) {
    event->ignore();
    return;
  }
  MoveTo(mapToParent(event->position().toPoint()).x() - grabOffset_);
  event->accept();
}

void CompareDivider::mouseReleaseEvent(QMouseEvent* event) {
  if (!isSliderDown()) {
    event->ignore();
    return;
  }
  setSliderDown(false);
  event->accept();
}

}  // namespace tvq
