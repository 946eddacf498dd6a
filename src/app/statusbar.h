// The main window's status bar: the file name, width x height and bits per pixel, the
// zoom, the pixel under the mouse, and the last command with its elapsed time. Each
// part is its own label so that screen readers read it.
#pragma once

#include <QPoint>
#include <QStatusBar>
#include <QString>
#include <cstdint>
#include <vector>

#include "app/picturefile.h"
#include "imaging/bitmap.h"

class QLabel;

namespace tvq {

class PictureView;

class StatusBar : public QStatusBar {
  Q_OBJECT

 public:
  explicit StatusBar(QWidget* parent);

  QLabel* FilePart() const { return file_; }
  QLabel* SizePart() const { return size_; }
  QLabel* ZoomPart() const { return zoom_; }
  QLabel* PixelPart() const { return pixel_; }
  QLabel* CommandPart() const { return command_; }

  // The file part (`name`, the whole path as its tool tip) and the size part: the
  // bits per pixel of what the picture holds, the same for every source ("24 bpp"
  // for a JPEG shown as a 32-bit bitmap, "48 bpp" for 16-bit colour).
  void ShowPicture(const QString& name, const QString& path, const Bitmap& picture,
                   const PictureExtras& extras);
  // "400%", with " (fit)" while the view stretches the picture.
  void ShowZoom(const PictureView& view);
  // The place and colour of the pixel under the mouse: in `picture` when the view
  // shows it, else as displayed; in the previous picture while hovering it.
  void ShowPixel(const PictureView& view, QPoint pixel, const Bitmap& picture,
                 const std::vector<std::uint8_t>& alpha);
  // "Name: 2.4 s" (or "Name: failed after 2.4 s").
  void ShowCommandTime(const QString& name, qint64 milliseconds, bool succeeded);
  void ClearPixel();
  // Any text in the command part ("Resampling: stopped at iteration 8 of 40 ...").
  void ShowCommandText(const QString& text);

 private:
  // Sets a part's text and its accessible name, "caption: text", so that a screen
  // reader reads the value with what it is.
  static void SetPart(QLabel* label, const QString& text);

 private:
  QLabel* file_;
  QLabel* size_;
  QLabel* zoom_;
  QLabel* pixel_;
  QLabel* command_;
};

}  // namespace tvq
