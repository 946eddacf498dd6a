// The divider of the before/after comparison.
#pragma once

#include <QAbstractSlider>

namespace tvq {

// A vertical line across the picture view with a grip in its middle. Its value is
// its position across the view in thousandths of the view's width; the view places
// it and draws the previous picture left of it. Being a slider, it can be dragged,
// moved with the arrow keys, Page Up/Down, Home and End while it has focus, and set
// by assistive technology through its value.
class CompareDivider : public QAbstractSlider {
  Q_OBJECT

 public:
  static constexpr int kRange = 1000;
  // Width of the widget; the line itself is in its middle.
  static constexpr int kWidth = 15;

  explicit CompareDivider(QWidget* parent = nullptr);

  // The x coordinate of the line in the parent's coordinates.
  int LineX() const;
  // Follows the value and the parent's size.
  void Place();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void MoveTo(int parentX);
  int grabOffset_ = 0;
};

}  // namespace tvq
