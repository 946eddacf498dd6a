// A main window whose file dialogs answer with prepared paths, plus small helpers
// shared by the application tests.
#pragma once

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>
#include <cstdint>

#include "app/mainwindow.h"
#include "common/pictures.h"
#include "imaging/bitmap.h"

namespace tvq::test {

class TestWindow : public MainWindow {
 public:
  QString openPath;  // empty = the user cancels
  QString savePath;
  QStringList savePaths;  // answered first, one per question, before savePath
  QString suggestedPath;  // what the last Save As suggested
  int openAsked = 0;
  int saveAsked = 0;

  QAction* Action(const char* name) const { return findChild<QAction*>(name); }
  QString Status() const { return findChild<QLabel*>("StatusLabel")->text(); }
  // Triggers an action and waits until the command it started, if any, has ended.
  bool Run(const char* name) {
    Action(name)->trigger();
    return QTest::qWaitFor([this] { return !CommandRunning(); }, 60000);
  }

 protected:
  QString AskOpenPath() override {
    ++openAsked;
    return openPath;
  }
  QString AskSavePath(const QString& suggested) override {
    ++saveAsked;
    suggestedPath = suggested;
    if (!savePaths.isEmpty()) return savePaths.takeFirst();
    return savePath;
  }
};

// Drags the file at `path` onto the window and, when the window accepts it, drops it
// there; returns whether it was accepted.
inline bool DropFile(QWidget& window, const QString& path) {
  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile(path)});
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  enter.setAccepted(false);
  QApplication::sendEvent(&window, &enter);
  if (!enter.isAccepted()) return false;
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&window, &drop);
  return true;
}

// A 24-bit picture with a different colour in every pixel.
inline Bitmap GradientPicture(int width, int height) {
  Bitmap bitmap(width, height, 24);
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = bitmap.ScanLine(y);
    for (int x = 0; x < width; ++x) {
      row[3 * x] = static_cast<std::uint8_t>(x * 17 + y);
      row[3 * x + 1] = static_cast<std::uint8_t>(y * 29 + 3);
      row[3 * x + 2] = static_cast<std::uint8_t>(x * y + 50);
    }
  }
  return bitmap;
}

}  // namespace tvq::test
