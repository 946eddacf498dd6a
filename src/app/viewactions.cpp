// The zoom and comparison items of the View menu.
#include <QAction>
#include <QLabel>
#include <QMenu>

#include "app/mainwindow.h"
#include "app/pictureview.h"
#include "app/statusbar.h"

namespace tvq {

void MainWindow::CreateViewActions(QMenu* view) {
  QAction* zoomIn = AddAction(view, "ZoomIn1", "Zoom &In");
  QList<QKeySequence> zoomInKeys = QKeySequence::keyBindings(QKeySequence::ZoomIn);
  if (!zoomInKeys.contains(QKeySequence(Qt::CTRL | Qt::Key_Equal)))
    zoomInKeys << QKeySequence(Qt::CTRL | Qt::Key_Equal);
  zoomIn->setShortcuts(zoomInKeys);
  connect(zoomIn, &QAction::triggered, view_, &PictureView::ZoomIn);
  QAction* zoomOut = AddAction(view, "ZoomOut1", "Zoom &Out");
  zoomOut->setShortcuts(QKeySequence::ZoomOut);
  connect(zoomOut, &QAction::triggered, view_, &PictureView::ZoomOut);
  QAction* actual = AddAction(view, "ActualSize1", "&Actual Size");
  actual->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_0));
  connect(actual, &QAction::triggered, view_, &PictureView::ActualSize);

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
  // The quality measures against a stored picture (compareactions.cpp).
  QAction* store = AddAction(view, "StoreForComparison1", "Store Image for Comparison");
  store->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_T));
  connect(store, &QAction::triggered, this, [this] { StoreImage(1); });
  QAction* measure = AddAction(view, "ComparewithStored1", "Compare with Stored Image...");
  measure->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C));
  connect(measure, &QAction::triggered, this, &MainWindow::CompareWithStored);

  // Zooming leaves the fitted mode, and "Stretch" shows it.
  connect(view_, &PictureView::ZoomChanged, this, [this] {
    if (stretch_->isChecked() != view_->Stretch()) stretch_->setChecked(view_->Stretch());
    statusBar_->ShowZoom(*view_);
  });
  connect(view_, &PictureView::PixelHovered, this,
          [this](QPoint pixel) { statusBar_->ShowPixel(*view_, pixel, picture_, extras_.alpha); });
  connect(view_, &PictureView::PixelLeft, statusBar_, &StatusBar::ClearPixel);
  UpdateComparison();
  statusBar_->ShowZoom(*view_);
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

}  // namespace tvq
