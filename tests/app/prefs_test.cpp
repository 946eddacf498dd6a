// What the application remembers, the files named on its command line, keyboard
// access to the menus, and the questions before changes or files are lost.
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTest>

#include "app/settings.h"
#include "app/startup.h"
#include "imaging/io/bmp.h"
#include "modaldriver.h"
#include "testwindow.h"

using tvq::test::ModalDriver;
using tvq::test::TestWindow;

namespace {

// A handler that presses one button of a message box and records its text.
ModalDriver::Handler Press(QMessageBox::StandardButton button, QString* text = nullptr) {
  return [button, text](QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    if (!box) qFatal("not a message box: %s", qPrintable(w->objectName()));
    if (text) *text = box->text();
    box->button(button)->click();
  };
}

}  // namespace

class PrefsTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  QString Path(const QString& name) const { return dir_.filePath(name); }

  // A settings store of the test's own; the user's settings stay untouched.
  std::unique_ptr<QSettings> Settings() const {
    return std::make_unique<QSettings>(Path("settings.ini"), QSettings::IniFormat);
  }

  QString WriteFixture(const QString& name, int width = 5) {
    const QString path = Path(name);
    tvq::WriteBmp(tvq::test::GradientPicture(width, 3), path.toStdString());
    return path;
  }

 private slots:
  void init() { QFile::remove(Path("settings.ini")); }

  void recentFilesNewestFirstAtMostTenAndClear() {
    TestWindow window;
    window.UseSettings(Settings());
    QVERIFY(!window.Action("OpenRecent1")->isEnabled());
    QStringList opened;
    for (int i = 1; i <= 12; ++i) {
      opened.prepend(WriteFixture(QStringLiteral("f%1.bmp").arg(i)));
      QVERIFY(window.OpenFile(opened.front()));
    }
    QVERIFY(window.OpenFile(opened[4]));  // opened again: first once more
    opened.move(4, 0);
    auto* menu = window.findChild<QMenu*>("OpenRecentMenu");
    QStringList captions;
    for (QAction* a : menu->actions())
      if (!a->isSeparator() && a->isVisible()) captions << a->text();
    QCOMPARE(captions.size(), tvq::kMaxRecentFiles + 1);
    QCOMPARE(captions.front(), QString("&1 f8.bmp"));
    QCOMPARE(captions[9], QString("1&0 f3.bmp"));
    QCOMPARE(captions.back(), QString("&Clear"));
    QCOMPARE(tvq::RecentFiles(*Settings()), opened.mid(0, 10));

    // An entry opens its file; a file gone since is reported and taken off.
    window.Action("RecentFile3")->trigger();
    QCOMPARE(window.LastFileName(), opened[2]);
    QFile::remove(opened[1]);
    QString text;
    ModalDriver driver;
    driver.ThenMessage(nullptr, &text);
    window.Action("RecentFile3")->trigger();  // the list is now 3, 1, 2, ...
    QVERIFY(driver.Done());
    QVERIFY2(text.contains("f12.bmp"), qPrintable(text));
    QVERIFY(!tvq::RecentFiles(*Settings()).contains(opened[1]));

    window.Action("ClearRecent1")->trigger();
    QVERIFY(tvq::RecentFiles(*Settings()).isEmpty());
    QVERIFY(!window.Action("OpenRecent1")->isEnabled());
  }

  void geometryViewOptionsAndFoldersAreRemembered() {
    QDir(dir_.path()).mkdir("in");
    QDir(dir_.path()).mkdir("out");
    {
      TestWindow window;
      window.UseSettings(Settings());
      window.show();
      window.resize(640, 520);
      window.Action("Stretch1")->trigger();
      window.openPath = WriteFixture("in/a.bmp");
      window.Action("Open1")->trigger();
      window.savePath = Path("out/b.bmp");
      window.Action("SaveAs1")->trigger();
      QVERIFY(window.close());
    }
    TestWindow window;
    QVERIFY(window.Action("Stretch1")->isChecked());
    window.UseSettings(Settings());
    QCOMPARE(window.size(), QSize(640, 520));
    QVERIFY(!window.Action("Stretch1")->isChecked());
    const auto settings = Settings();
    QCOMPARE(tvq::LastFolder(*settings, tvq::FileFolder::kOpen), Path("in"));
    QCOMPARE(tvq::LastFolder(*settings, tvq::FileFolder::kSave), Path("out"));
  }

  void fileArgumentsOpenEachInAWindow() {
    const QString a = WriteFixture("a.bmp", 6);
    const QString b = WriteFixture("b.bmp", 9);
    const auto windows = tvq::CreateStartWindows({a, b}, [this] { return Settings(); });
    QCOMPARE(windows.size(), std::size_t(2));
    QCOMPARE(windows[0]->LastFileName(), a);
    QCOMPARE(windows[0]->Picture().Width(), 6);
    QCOMPARE(windows[1]->Picture().Width(), 9);
    QCOMPARE(tvq::RecentFiles(*Settings()), QStringList({b, a}));

    const auto plain = tvq::CreateStartWindows({}, [this] { return Settings(); });
    QCOMPARE(plain.size(), std::size_t(1));
    QVERIFY(plain[0]->LastFileName().isEmpty());
    QCOMPARE(plain[0]->Picture().Width(), 64);
  }

  void everyMenuAndItemHasItsOwnMnemonic() {
    TestWindow window;
    const QList<QAction*> bar = window.menuBar()->actions();
    QStringList titles;
    for (QAction* a : bar) titles << a->text();
    QCOMPARE(titles, QStringList({"&Image", "&Edit", "&View", "&Process", "&Debug", "&Help"}));
    for (QAction* m : bar) {
      QSet<QChar> keys;
      for (QAction* a : m->menu()->actions()) {
        if (a->isSeparator()) continue;
        const int at = a->text().indexOf('&');
        QVERIFY2(at >= 0 && at + 1 < a->text().size(), qPrintable(a->text()));
        QVERIFY2(!keys.contains(a->text()[at + 1].toLower()), qPrintable(a->text()));
        keys.insert(a->text()[at + 1].toLower());
      }
    }
    QCOMPARE(window.Action("Exit1")->text(), QString("E&xit"));
  }

  void menusOpenFromTheKeyboard() {
    TestWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    auto* image = window.findChild<QMenu*>("Image1");
    auto* process = window.findChild<QMenu*>("Process1");
    QTest::keyClick(&window, Qt::Key_F10);
    QTRY_VERIFY(image->isVisible());
    QTest::keyClick(image, Qt::Key_Escape);
    QTest::keyClick(image, Qt::Key_Escape);
    QTRY_VERIFY(!image->isVisible());
    QTest::keyClick(&window, Qt::Key_P, Qt::AltModifier);
    QTRY_VERIFY(process->isVisible());
    process->close();
  }

  void processCommandsHaveShortcutsOfTheirOwn() {
    TestWindow window;
    QList<QKeySequence> taken;
    for (QAction* a : window.findChildren<QAction*>()) taken << a->shortcuts();
    for (QAction* a : window.findChild<QMenu*>("Process1")->actions()) {
      if (a->isSeparator()) continue;
      QVERIFY2(!a->shortcut().isEmpty(), qPrintable(a->objectName()));
      QCOMPARE(taken.count(a->shortcut()), 1);
    }
  }

  void changedPictureAsksBeforeClosing_data() {
    QTest::addColumn<int>("button");
    QTest::addColumn<bool>("closed");
    QTest::addColumn<bool>("saved");
    QTest::newRow("save") << int(QMessageBox::Save) << true << true;
    QTest::newRow("discard") << int(QMessageBox::Discard) << true << false;
    QTest::newRow("cancel") << int(QMessageBox::Cancel) << false << false;
  }
  void changedPictureAsksBeforeClosing() {
    QFETCH(int, button);
    QFETCH(bool, closed);
    QFETCH(bool, saved);
    const QString target = Path(QStringLiteral("exit-%1.bmp").arg(button));
    TestWindow window;
    window.savePath = target;
    window.show();
    window.Action("Greyscale1")->trigger();
    QVERIFY(window.HasUnsavedChanges());
    QString text;
    ModalDriver driver;
    driver.Then(Press(QMessageBox::StandardButton(button), &text));
    window.Action("Exit1")->trigger();
    QVERIFY(driver.Done());
    QCOMPARE(text, QString("Save changes to Built-in picture?"));
    QCOMPARE(!window.isVisible(), closed);
    QCOMPARE(QFile::exists(target), saved);
    QCOMPARE(window.HasUnsavedChanges(), !saved);
  }

  void savedPictureClosesWithoutAsking() {
    TestWindow window;
    window.show();
    window.Action("Greyscale1")->trigger();
    window.savePath = Path("kept.bmp");
    window.Action("SaveAs1")->trigger();
    QVERIFY(!window.HasUnsavedChanges());
    // Undo brings back a picture the saved file does not hold.
    QVERIFY(window.UndoChange());
    QVERIFY(window.HasUnsavedChanges());
    QVERIFY(window.SaveFile(Path("kept.bmp")));
    ModalDriver driver;  // would answer a question with OK, which keeps the window
    driver.ThenMessage(nullptr, nullptr);
    QVERIFY(window.close());
    QCOMPARE(driver.Handled(), 0);
  }

  void replacingAFileIsConfirmed() {
    const QString path = WriteFixture("existing.bmp", 4);
    TestWindow window;
    window.SetPicture(tvq::test::GradientPicture(7, 2));
    window.savePaths = {path};  // then cancelled at the file dialog
    QString text;
    ModalDriver driver;
    driver.Then(Press(QMessageBox::No, &text));
    window.Action("SaveAs1")->trigger();
    QVERIFY(driver.Done());
    QCOMPARE(window.saveAsked, 2);  // "No" went back to the file dialog
    QVERIFY2(text.contains("existing.bmp") && text.contains("replace"), qPrintable(text));
    QCOMPARE(tvq::ReadBmp(path.toStdString()).Width(), 4);
    // SaveFile itself, as scripts and tests call it, does not ask.
    QVERIFY(window.SaveFile(path));
    QCOMPARE(tvq::ReadBmp(path.toStdString()).Width(), 7);
  }
};

QTEST_MAIN(PrefsTest)
#include "prefs_test.moc"
