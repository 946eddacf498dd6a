// The zoom and comparison items of the View menu, and the zoom and pixel parts of
// the status bar.
#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPoint>
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "app/imageview.h"
#include "app/mainwindow.h"

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

void MainWindow::CreateViewActions(QMenu* view) {
  QAction* zoomIn = AddAction(view, "ZoomIn1", "Zoom &In");
  QList<QKeySequence> zoomInKeys = QKeySequence::keyBindings(QKeySequence::ZoomIn);
  if (!zoomInKeys.contains(QKeySequence(Qt::CTRL | Qt::Key_Equal)))
    zoomInKeys << QKeySequence(Qt::CTRL | Qt::Key_Equal);
  zoomIn->setShortcuts(zoomInKeys);
  connect(zoomIn, &QAction::triggered, view_, &ImageView::ZoomIn);
  QAction* zoomOut = AddAction(view, "ZoomOut1", "Zoom &Out");
  zoomOut->setShortcuts(QKeySequence::ZoomOut);
  connect(zoomOut, &QAction::triggered, view_, &ImageView::ZoomOut);
  QAction* actual = AddAction(view, "ActualSize1", "&Actual Size");
  actual->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_0));
  connect(actual, &QAction::triggered, view_, &ImageView::ActualSize);

  view->addSeparator()->setObjectName("CompareSeparator");
  compare_ = AddAction(view, "ComparewithPrevious1", "&Compare with Previous");
  compare_->setCheckable(true);
  compare_->setShortcut(QKeySequence(Qt::Key_C));
  connect(compare_, &QAction::toggled, this, [this](bool on) {
    const Bitmap* previous = PreviousPicture();
    view_->SetPreviousImage(on && previous ? DisplayImage(*previous, {}) : QImage());
    view_->SetComparing(on && previous);
  });
  connect(this, &MainWindow::HistoryChanged, this, &MainWindow::UpdateComparison);

  // Zooming leaves the fitted mode, and "Stretch" shows it.
  connect(view_, &ImageView::ZoomChanged, this, [this] {
    if (stretch_->isChecked() != view_->Stretch()) stretch_->setChecked(view_->Stretch());
    ShowZoomStatus();
  });
  // The zoom keeps one width, so that the parts after it do not shift. The pixel
  // part takes the room its text needs where the status bar has it, and is cut
  // short in a narrow window rather than widening it.
  zoomStatus_->setMinimumWidth(zoomStatus_->fontMetrics().horizontalAdvance("8888.8% (fit)"));
  pixelStatus_->setMinimumWidth(1);
  connect(view_, &ImageView::PixelHovered, this, &MainWindow::ShowPixelStatus);
  connect(view_, &ImageView::PixelLeft, pixelStatus_, &QLabel::clear);
  UpdateComparison();
  ShowZoomStatus();
}

void MainWindow::UpdateComparison() {
  const Bitmap* previous = PreviousPicture();
  compare_->setEnabled(previous != nullptr);
  if (!previous) {
    compare_->setChecked(false);
  } else if (compare_->isChecked()) {
    view_->SetPreviousImage(DisplayImage(*previous, {}));
  }
}

void MainWindow::ShowZoomStatus() {
  const QString zoom = Percent(view_->Zoom());
  zoomStatus_->setText(view_->Stretch() ? zoom + " (fit)" : zoom);
}

void MainWindow::ShowPixelStatus(QPoint pixel) {
  int x = pixel.x();
  int y = pixel.y();
  const QImage& shown = view_->Image();
  QRgb colour = 0;
  QString place;
  if (view_->HoveringPrevious()) {
    // The previous picture is drawn at the current one's size: its own pixel.
    const QImage& previous = view_->PreviousImage();
    x = static_cast<int>(static_cast<qint64>(x) * previous.width() / std::max(1, shown.width()));
    y = static_cast<int>(static_cast<qint64>(y) * previous.height() / std::max(1, shown.height()));
    if (!previous.valid(x, y)) {
      pixelStatus_->clear();
      return;
    }
    colour = previous.pixel(x, y);
    place = QStringLiteral("Previous %1, %2").arg(x).arg(y);
  } else {
    const bool ownPicture = shown.width() == picture_.Width() &&
                            shown.height() == picture_.Height() &&
                            (picture_.BitsPerPixel() == 24 || picture_.BitsPerPixel() == 32);
    // A command's iterates, and pictures of other depths, are read as displayed.
    if (!ownPicture && !shown.valid(x, y)) {
      pixelStatus_->clear();
      return;
    }
    colour = ownPicture ? BitmapPixel(picture_, x, y) : shown.pixel(x, y);
    place = QStringLiteral("%1, %2").arg(x).arg(y);
  }
  QString text = QStringLiteral("%1: R %2, G %3, B %4")
                     .arg(place)
                     .arg(qRed(colour))
                     .arg(qGreen(colour))
                     .arg(qBlue(colour));
  const std::size_t index = static_cast<std::size_t>(y) * picture_.Width() + x;
  if (!view_->HoveringPrevious() && shown.size() == QSize(picture_.Width(), picture_.Height()) &&
      index < extras_.alpha.size())
    text += QStringLiteral(", A %1").arg(extras_.alpha[index]);
  pixelStatus_->setText(text);
}

}  // namespace tvq
