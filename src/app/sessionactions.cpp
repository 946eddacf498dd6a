// The main window's session: remembered settings and recent files, keyboard access
// to the menus, and the questions asked before a changed picture or a file is lost.
#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QInputDialog>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSet>
#include <QShortcut>

#include "app/mainwindow.h"
#include "app/settings.h"

namespace tvq {

namespace {

// The mnemonic letter of a caption ("Save &As..." -> 'a'), or a null character.
QChar Mnemonic(const QString& text) {
  for (int i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != '&') continue;
    if (text[i + 1] != '&') return text[i + 1].toLower();
    ++i;  // "&&" is a literal ampersand
  }
  return QChar();
}

// Gives every entry without a mnemonic one that no other entry of its menu uses:
// the first free initial of a word, else the first free letter or digit. Entries
// of submenus get theirs the same way within the submenu.
void AssignMnemonics(const QList<QAction*>& actions) {
  QSet<QChar> used;
  for (const QAction* action : actions) {
    const QChar key = Mnemonic(action->text());
    if (!key.isNull()) used.insert(key);
  }
  for (QAction* action : actions) {
    if (action->isSeparator()) continue;
    const QString text = action->text();
    if (Mnemonic(text).isNull()) {
      auto free = [&](int i) {
        return text[i].isLetterOrNumber() && !used.contains(text[i].toLower());
      };
      int at = -1;
      for (int i = 0; i < text.size() && at < 0; ++i)
        if (free(i) && (i == 0 || !text[i - 1].isLetterOrNumber())) at = i;
      for (int i = 0; i < text.size() && at < 0; ++i)
        if (free(i)) at = i;
      if (at >= 0) {
        used.insert(text[at].toLower());
        action->setText(text.left(at) + '&' + text.mid(at));
      }
    }
    if (QMenu* submenu = action->menu()) AssignMnemonics(submenu->actions());
  }
}

}  // namespace

void MainWindow::UseSettings(std::unique_ptr<QSettings> settings) {
  settings_ = std::move(settings);
  if (!settings_) return;
  RestoreWindowState(*settings_, *this);
  UpdateRecentMenu();
}

QMenu* MainWindow::CreateRecentMenu(QMenu* image) {
  recentMenu_ = image->addMenu("Open Recent");
  recentMenu_->setObjectName("OpenRecentMenu");
  recentMenu_->menuAction()->setObjectName("OpenRecent1");
  // A fixed set of entries, filled from the list: an entry is never deleted while
  // its own click is being handled.
  for (int i = 1; i <= kMaxRecentFiles; ++i) {
    QAction* entry = AddAction(recentMenu_, QStringLiteral("RecentFile%1").arg(i), QString());
    connect(entry, &QAction::triggered, this,
            [this, entry] { OpenRecent(entry->data().toString()); });
  }
  recentMenu_->addSeparator();
  QAction* clear = AddAction(recentMenu_, "ClearRecent1", "&Clear");
  connect(clear, &QAction::triggered, this, [this] {
    if (settings_) ClearRecentFiles(*settings_);
    UpdateRecentMenu();
  });
  // Another window of the application may have opened files meanwhile.
  connect(recentMenu_, &QMenu::aboutToShow, this, &MainWindow::UpdateRecentMenu);
  UpdateRecentMenu();
  return recentMenu_;
}

void MainWindow::UpdateRecentMenu() {
  const QStringList files = settings_ ? RecentFiles(*settings_) : QStringList();
  const QStringList captions = RecentCaptions(files);
  const QList<QAction*> entries = recentMenu_->actions();
  for (int i = 0; i < entries.size(); ++i) {
    QAction* entry = entries[i];
    if (i >= kMaxRecentFiles) {  // the separator and Clear
      entry->setVisible(!files.isEmpty());
      continue;
    }
    const bool used = i < files.size();
    entry->setVisible(used);
    entry->setText(used ? captions[i] : QString());
    entry->setData(used ? files[i] : QString());
    entry->setToolTip(used ? QDir::toNativeSeparators(files[i]) : QString());
    entry->setStatusTip(entry->toolTip());
  }
  recentMenu_->menuAction()->setEnabled(!runner_.Running() && !files.isEmpty());
}

void MainWindow::OpenRecent(const QString& path) {
  if (!QFileInfo::exists(path)) {
    if (settings_) RemoveRecentFile(*settings_, path);
    UpdateRecentMenu();
    ShowMessage(QStringLiteral("%1 no longer exists; it has been taken off the recent files.")
                    .arg(QDir::toNativeSeparators(path)),
                "Open Recent", true);
    return;
  }
  OpenFile(path);
}

void MainWindow::RememberOpenedFile(const QString& path) {
  if (!settings_) return;
  AddRecentFile(*settings_, path);
  UpdateRecentMenu();
}

void MainWindow::CreateMenuKeys() {
  AssignMnemonics(menuBar()->actions());
  // F10 opens the first menu; the arrow keys go on from there.
  auto* f10 = new QShortcut(QKeySequence(Qt::Key_F10), this);
  f10->setObjectName("MenuBarShortcut");
  connect(f10, &QShortcut::activated, this, [this] {
    for (QAction* menu : menuBar()->actions()) {
      if (menu->isVisible() && menu->isEnabled()) {
        menuBar()->setActiveAction(menu);
        return;
      }
    }
  });
}

bool MainWindow::MayDropChanges(const QString& caption) {
  if (!unsaved_) return true;
  // The window asking may be behind another (Exit closes every window).
  if (isMinimized()) showNormal();
  raise();
  activateWindow();
  QMessageBox box(QMessageBox::Question, caption, "Save changes to " + PictureName() + "?",
                  QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, this);
  box.setObjectName("SaveChangesBox");
  box.setInformativeText(
      "The picture has been changed and not saved; otherwise the changes "
      "are lost.");
  box.setDefaultButton(QMessageBox::Save);
  box.setEscapeButton(QMessageBox::Cancel);
  // Alt+S and Alt+D as well as Enter, Escape and Tab.
  box.button(QMessageBox::Save)->setText("&Save");
  box.button(QMessageBox::Discard)->setText("&Discard");
  switch (box.exec()) {
    case QMessageBox::Save:
      return SaveAs();
    case QMessageBox::Discard:
      return true;
    default:
      return false;
  }
}

bool MainWindow::ConfirmOverwrite(const QString& path) {
  QMessageBox box(QMessageBox::Warning, "Save As",
                  QStringLiteral("%1 already exists.\nDo you want to replace it?")
                      .arg(QDir::toNativeSeparators(path)),
                  QMessageBox::Yes | QMessageBox::No, this);
  box.setObjectName("ReplaceFileBox");
  box.setDefaultButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

bool MainWindow::ConfirmDropAlpha(const QString& path, PictureFormat format) {
  QMessageBox box(QMessageBox::Warning, "Save As",
                  QStringLiteral("%1 cannot hold transparency: %2 will be saved without its "
                                 "alpha channel.")
                      .arg(PictureFormatName(format), QDir::toNativeSeparators(path)),
                  QMessageBox::Save | QMessageBox::Cancel, this);
  box.setObjectName("DropAlphaBox");
  box.setInformativeText("PNG, TIFF and WebP keep it.");
  box.button(QMessageBox::Save)->setText("&Save anyway");
  box.setDefaultButton(QMessageBox::Cancel);
  box.setEscapeButton(QMessageBox::Cancel);
  return box.exec() == QMessageBox::Save;
}

std::optional<int> MainWindow::AskQuality(PictureFormat format) {
  const int last = settings_ ? SaveQuality(*settings_) : WriteOptions().quality;
  QInputDialog dialog(this);
  dialog.setObjectName("QualityDialog");
  dialog.setWindowTitle("Save As");
  dialog.setInputMode(QInputDialog::IntInput);
  dialog.setLabelText(QStringLiteral("%1 &quality (1 to 100):").arg(PictureFormatName(format)));
  dialog.setIntRange(1, 100);
  dialog.setIntValue(last);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  if (settings_) SetSaveQuality(*settings_, dialog.intValue());
  return dialog.intValue();
}

}  // namespace tvq
