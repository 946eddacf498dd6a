// The picture view: zoom steps and shortcuts, the fitted mode, scrolling, the pixel
// under the mouse, sharp pixels when zoomed in, and the before/after comparison.
// Written for any device pixel ratio; ctest runs it at 1 and at 2.
#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QClipboard>
#include <QScrollBar>
#include <QTest>
#include <set>

#include "app/comparedivider.h"
#include "app/pictureview.h"
#include "imaging/io/bmp.h"
#include "testwindow.h"

using tvq::Bitmap;
using tvq::PictureView;
using tvq::test::TestWindow;

namespace {

// Black and white pixels in a checkerboard.
Bitmap Checkerboard(int side) {
  Bitmap bitmap(side, side, 24);
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x)
      std::fill_n(bitmap.ScanLine(y) + 3 * x, 3, (x + y) % 2 ? 255 : 0);
  return bitmap;
}

// Moves the mouse over the view without a button.
void Hover(PictureView* view, QPointF at) {
  QMouseEvent move(QEvent::MouseMove, at, view->viewport()->mapToGlobal(at), Qt::NoButton,
                   Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(view->viewport(), &move);
}

// The colour of GradientPicture's pixel (x, y).
QRgb GradientColour(int x, int y) {
  return qRgb(x * y + 50, y * 29 + 3, x * 17 + y);
}

// The screen colour at the centre of picture pixel (x, y) of the view's image.
QRgb ShownColour(PictureView* view, int x, int y) {
  const QImage shown = view->viewport()->grab().toImage();
  const QRect r = view->ImageRect();
  const double scale = double(r.width()) / view->Image().width();
  const double ratio = shown.devicePixelRatio();
  return shown.pixel(int((r.x() + (x + 0.5) * scale) * ratio),
                     int((r.y() + (y + 0.5) * scale) * ratio));
}

}  // namespace

class ViewTest : public QObject {
  Q_OBJECT

 private:
  // A shown and active window, so that its shortcuts work.
  static void Show(TestWindow& window) {
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
  }

 private slots:
  void zoomStepsAndShortcuts_data() {
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("zoom");
    QTest::newRow("actual size") << "Ctrl+0"
                                 << "100%";
    QTest::newRow("in") << "Ctrl+0,Ctrl++"
                        << "150%";
    QTest::newRow("in with =") << "Ctrl+0,Ctrl+=,Ctrl+="
                               << "200%";
    QTest::newRow("out") << "Ctrl+0,Ctrl+-"
                         << "66.7%";
    QTest::newRow("lowest step") << "Ctrl+0" + QString(",Ctrl+-").repeated(7) << "12.5%";
    QTest::newRow("highest step") << "Ctrl+0" + QString(",Ctrl++").repeated(11) << "3200%";
  }
  void zoomStepsAndShortcuts() {
    QFETCH(QString, keys);
    QFETCH(QString, zoom);
    TestWindow window;
    Show(window);
    for (const QString& key : keys.split(',')) QTest::keySequence(&window, QKeySequence(key));
    QCOMPARE(window.ZoomStatus()->text(), zoom);
    QVERIFY(!window.Action("Stretch1")->isChecked());
  }

  void stretchIsTheFittedMode() {
    TestWindow window;
    Show(window);
    PictureView* view = window.View();
    QVERIFY(window.ZoomStatus()->text().endsWith("% (fit)"));
    const double fitted = view->Zoom();
    window.Action("ZoomIn1")->trigger();
    QVERIFY(view->Zoom() > fitted);
    QVERIFY(!window.Action("Stretch1")->isChecked());
    QVERIFY(!window.ZoomStatus()->text().contains("fit"));
    window.Action("Stretch1")->trigger();
    QVERIFY(view->Stretch());
    const QRect r = view->ImageRect();
    QVERIFY(r.width() == view->viewport()->width() || r.height() == view->viewport()->height());
    QVERIFY(window.ZoomStatus()->text().endsWith("% (fit)"));
    window.Action("Stretch1")->trigger();
    QCOMPARE(window.ZoomStatus()->text(), QString("100%"));
  }

  // Dragging and the arrow keys scroll; Ctrl+wheel zooms about the cursor.
  void panningAndWheelZoom() {
    TestWindow window;
    Show(window);
    window.SetPicture(tvq::test::GradientPicture(300, 200));
    PictureView* view = window.View();
    view->SetZoom(8);
    QScrollBar* h = view->horizontalScrollBar();
    QScrollBar* v = view->verticalScrollBar();
    QTRY_VERIFY(h->isVisible() && v->isVisible());
    h->setValue(500);
    v->setValue(300);
    QWidget* port = view->viewport();
    QTest::mousePress(port, Qt::LeftButton, {}, QPoint(200, 200));
    QTest::mouseMove(port, QPoint(100, 150));
    QTest::mouseRelease(port, Qt::LeftButton, {}, QPoint(100, 150));
    QCOMPARE(h->value(), 600);
    QCOMPARE(v->value(), 350);
    view->setFocus();
    QTest::keyClick(view, Qt::Key_Right);
    QCOMPARE(h->value(), 600 + h->singleStep());

    h->setValue(200);
    v->setValue(100);
    const QPointF at(150, 120);
    const auto pictureAt = [view, at] {
      const QRect r = view->ImageRect();
      return (at - r.topLeft()) * view->Image().width() / r.width();
    };
    const QPointF before = pictureAt();
    QWheelEvent wheel(at, port->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton,
                      Qt::ControlModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(port, &wheel);
    QCOMPARE(window.ZoomStatus()->text(), QString("1200%"));
    QVERIFY((pictureAt() - before).manhattanLength() < 0.5);
  }

  void pixelUnderTheMouse() {
    TestWindow window;
    Show(window);
    window.SetPicture(tvq::test::GradientPicture(7, 4));
    PictureView* view = window.View();
    const QRect r = view->ImageRect();
    const double scale = double(r.width()) / 7;
    Hover(view, r.topLeft() + QPointF(5.5 * scale, 2.5 * scale));
    const QRgb c = GradientColour(5, 2);
    QCOMPARE(window.PixelStatus()->text(),
             QString("5, 2: R %1, G %2, B %3").arg(qRed(c)).arg(qGreen(c)).arg(qBlue(c)));
    // The wide picture leaves bands above and below it.
    Hover(view, QPointF(r.center().x(), r.top() - 3));
    QCOMPARE(window.PixelStatus()->text(), QString());
  }

  void sharpPixelsFromTwoHundredPercent_data() {
    QTest::addColumn<double>("zoom");
    QTest::addColumn<bool>("sharp");
    QTest::newRow("150%") << 1.5 << false;
    QTest::newRow("200%") << 2.0 << true;
    QTest::newRow("400%") << 4.0 << true;
  }
  void sharpPixelsFromTwoHundredPercent() {
    QFETCH(double, zoom);
    QFETCH(bool, sharp);
    TestWindow window;
    Show(window);
    window.SetPicture(Checkerboard(16));
    PictureView* view = window.View();
    view->SetZoom(zoom);
    QCOMPARE(view->SmoothDrawing(), !sharp);
    const QImage shown = view->viewport()->grab().toImage();
    const double ratio = shown.devicePixelRatio();
    const QRect r = view->ImageRect();
    const QRect inside(r.topLeft() * ratio, r.size() * ratio);
    std::set<QRgb> colours;
    for (int y = inside.top() + 2; y < inside.bottom() - 2; ++y)
      for (int x = inside.left() + 2; x < inside.right() - 2; ++x)
        colours.insert(shown.pixel(x, y) & 0xFFFFFF);
    QCOMPARE(colours.size() == 2, sharp);
  }

  // Open is undoable: after two opens the first file is the previous picture.
  void compareWithPrevious() {
    QTemporaryDir dir;
    const QString small = dir.filePath("small.bmp");
    tvq::WriteBmp(tvq::test::GradientPicture(4, 3), small.toStdString());
    TestWindow window;
    Show(window);
    QAction* compare = window.Action("ComparewithPrevious1");
    QCOMPARE(compare->shortcut(), QKeySequence(Qt::Key_C));
    QVERIFY(!compare->isEnabled());
    QVERIFY(window.OpenFile(small));
    QVERIFY(!compare->isEnabled());  // a file opened has nothing before it
    QImage large(8, 6, QImage::Format_RGB32);
    large.fill(qRgb(7, 8, 9));
    QApplication::clipboard()->setImage(large);
    QVERIFY(window.PasteFromClipboard());
    QVERIFY(compare->isEnabled());
    QTest::keyClick(&window, Qt::Key_C);
    PictureView* view = window.View();
    QVERIFY(compare->isChecked() && view->Comparing());
    tvq::CompareDivider* divider = view->Divider();
    QVERIFY(divider->isVisible());
    QVERIFY(!divider->accessibleName().isEmpty() && !divider->accessibleDescription().isEmpty());

    // The 4 x 3 picture is drawn at 8 x 6, each pixel on a 2 x 2 square, left of
    // the divider; the current picture right of it.
    view->SetZoom(16);
    QVERIFY(qAbs(divider->LineX() - view->viewport()->width() / 2) <= 1);
    QCOMPARE(ShownColour(view, 3, 0), GradientColour(1, 0));
    QCOMPARE(ShownColour(view, 1, 5), GradientColour(0, 2));
    QCOMPARE(ShownColour(view, 6, 5), qRgb(7, 8, 9));

    // Dragged, stepped with ] in the view, and set through the accessible value.
    const QPoint grip = divider->rect().center();
    QTest::mousePress(divider, Qt::LeftButton, {}, grip);
    QTest::mouseMove(divider, grip - QPoint(view->viewport()->width() / 4, 0));
    QTest::mouseRelease(divider, Qt::LeftButton, {}, divider->rect().center());
    QVERIFY(qAbs(divider->value() - 250) <= 2);
    QCOMPARE(ShownColour(view, 3, 0), qRgb(7, 8, 9));
    view->setFocus();
    QTest::keyClick(view, Qt::Key_BracketRight);
    QVERIFY(qAbs(divider->value() - 300) <= 2);
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(divider);
    QVERIFY(accessible && accessible->valueInterface());
    accessible->valueInterface()->setCurrentValue(1000);
    QCOMPARE(divider->LineX(), view->viewport()->width());
    QCOMPARE(ShownColour(view, 6, 5), GradientColour(3, 2));
    // The status bar reads the picture the mouse is over.
    const QRect r = view->ImageRect();
    Hover(view, r.topLeft() + QPointF(6.5, 5.5) * (r.width() / 8.0));
    const QRgb c = GradientColour(3, 2);
    QCOMPARE(window.PixelStatus()->text(),
             QString("Previous 3, 2: R %1, G %2, B %3").arg(qRed(c)).arg(qGreen(c)).arg(qBlue(c)));

    // Without a previous picture the item is off and disabled.
    QVERIFY(window.UndoChange());
    QVERIFY(!compare->isEnabled() && !compare->isChecked() && !view->Comparing());
  }
};

QTEST_MAIN(ViewTest)
#include "view_test.moc"
