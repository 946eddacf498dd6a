// The picture area of the main window.
#pragma once

#include <QImage>
#include <QWidget>

namespace tvq {

// Shows one image, always keeping its aspect ratio. With stretch on, the image is
// scaled to fill the view; with stretch off it is shown at natural size and only
// shrunk when larger than the view. Enlargement shows the pixels as they are
// (nearest neighbour), reduction is smoothed. An image with an alpha channel is
// drawn over a checkerboard.
class ImageView : public QWidget {
  Q_OBJECT

 public:
  explicit ImageView(QWidget* parent = nullptr);

  void SetImage(const QImage& image);
  const QImage& Image() const { return image_; }

  void SetStretch(bool stretch);
  bool Stretch() const { return stretch_; }

  // The rectangle the image occupies in the view.
  QRect ImageRect() const;

  QSize sizeHint() const override { return QSize(320, 240); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QImage image_;
  bool stretch_ = true;
};

}  // namespace tvq
