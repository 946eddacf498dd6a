// The picture area of the main window.
#pragma once

#include <QAbstractScrollArea>
#include <QImage>
#include <QPoint>
#include <array>

namespace tvq {

class CompareDivider;

// Shows one image, always keeping its aspect ratio, either fitted to the view
// ("stretch") or at a zoom factor counted in device pixels per picture pixel, so
// that a zoom of 1 shows every picture pixel on one screen pixel on high-density
// screens too. A picture larger than the view scrolls: scroll bars, the arrow and
// page keys, the mouse wheel, and dragging with the left button. Ctrl+wheel zooms
// about the cursor. From two screen pixels per picture pixel up the pixels are
// drawn as sharp squares (nearest neighbour); below that the picture is smoothed.
// An image with an alpha channel is drawn over a checkerboard.
//
// Comparing, a divider splits the view: left of it the previous image, drawn at the
// current image's size by repeating its pixels, right of it the current image, both
// with the same zoom and scroll position.
class PictureView : public QAbstractScrollArea {
  Q_OBJECT

 public:
  // The zoom steps of Zoom In and Zoom Out.
  static constexpr std::array<double, 17> kZoomSteps = {
      1.0 / 8, 1.0 / 6, 1.0 / 4, 1.0 / 3, 1.0 / 2, 2.0 / 3, 1.0,  1.5, 2.0,
      3.0,     4.0,     6.0,     8.0,     12.0,    16.0,    24.0, 32.0};

  explicit PictureView(QWidget* parent = nullptr);

  void SetImage(const QImage& image);
  const QImage& Image() const { return image_; }

  // On: fit the view. Off after being on: actual size (zoom 1).
  void SetStretch(bool stretch);
  bool Stretch() const { return stretch_; }

  // The zoom as shown, fitted or not, in device pixels per picture pixel.
  double Zoom() const;
  // These leave the fitted mode. SetZoom keeps the picture point under `anchor`
  // (viewport coordinates; the viewport's centre when null) where it is.
  void SetZoom(double zoom, QPointF anchor = QPointF(-1, -1));
  void ZoomIn();
  void ZoomOut();
  void ActualSize();

  // The rectangle the image occupies in the viewport's coordinates; it reaches
  // past the viewport when the picture is larger.
  QRect ImageRect() const;
  // The pixels of the image that the viewport shows (all of them when it fits).
  QRect VisibleImageRect() const;
  // True when the picture is drawn with smoothing at the current zoom.
  bool SmoothDrawing() const;

  // The image shown left of the divider while comparing.
  void SetPreviousImage(const QImage& previous);
  const QImage& PreviousImage() const { return previous_; }
  void SetComparing(bool on);
  bool Comparing() const { return comparing_; }
  // The captions beside the divider: "Previous" and "Current" unless set ("Before"
  // and "After" for a preview).
  void SetComparisonCaptions(const QString& left, const QString& right);
  CompareDivider* Divider() const { return divider_; }
  // True while the mouse is over the previous picture, left of the divider.
  bool HoveringPrevious() const { return hoveringPrevious_; }

  QSize sizeHint() const override { return QSize(320, 240); }

 signals:
  // The zoom or the fitted mode has changed.
  void ZoomChanged();
  // The mouse is over the picture pixel (x, y) of Image() (also when the previous
  // picture is shown there); PixelLeft when it is not over the picture any more.
  void PixelHovered(QPoint pixel);
  void PixelLeft();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  bool viewportEvent(QEvent* event) override;

 private:
  // Logical pixels per picture pixel.
  double Scale() const;
  double FitScale() const;
  double DeviceRatio() const;
  // The image's place in viewport coordinates, its corner on the device-pixel grid.
  QRectF TargetRect() const;
  void UpdateScrollBars();
  void DrawImage(QPainter& painter, const QImage& image, const QRectF& target, const QRectF& clip,
                 bool previous);
  void HoverAt(QPointF position);
  void UpdateHover();
  void UpdateCursor();
  bool Scrollable() const;

  QImage image_;
  QImage previous_;       // as given
  QImage previousSized_;  // at image_'s size, pixels repeated
  bool stretch_ = true;
  double zoom_ = 1.0;
  bool comparing_ = false;
  QString leftCaption_ = QStringLiteral("Previous");
  QString rightCaption_ = QStringLiteral("Current");
  CompareDivider* divider_ = nullptr;
  // Smoothed reductions, kept while zoom and image stay.
  QImage reduced_[2];
  qint64 reducedKey_[2] = {0, 0};
  // Dragging the picture.
  bool panning_ = false;
  QPoint panStart_;
  QPoint panScroll_;
  double wheelSteps_ = 0;
  QPoint hovered_{-1, -1};
  bool hoveringPrevious_ = false;
};

}  // namespace tvq
