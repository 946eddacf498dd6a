#include "app/settings.h"

#include <QAction>
#include <QFileInfo>
#include <QMainWindow>
#include <QMenu>
#include <QScreen>
#include <QSettings>

namespace tvq {

namespace {

constexpr const char* kRecentKey = "recentFiles";
constexpr const char* kGeometryKey = "window/geometry";
constexpr const char* kQualityKey = "save/quality";

QString FolderKey(FileFolder which) {
  return which == FileFolder::kOpen ? QStringLiteral("folders/open")
                                    : QStringLiteral("folders/save");
}

QString ViewKey(const QAction* action) {
  return "view/" + action->objectName();
}

// The checkable entries of the View menu that are worth remembering.
QList<QAction*> ViewOptions(const QMainWindow& window) {
  QList<QAction*> options;
  const QMenu* view = window.findChild<QMenu*>("View1");
  if (!view) return options;
  for (QAction* action : view->actions()) {
    // Full screen is a state of the moment, not a preference.
    if (action->isCheckable() && !action->objectName().isEmpty() &&
        action->objectName() != "FullScreen1")
      options << action;
  }
  return options;
}

void StoreRecent(QSettings& settings, QStringList files) {
  while (files.size() > kMaxRecentFiles) files.removeLast();
  settings.setValue(kRecentKey, files);
}

}  // namespace

QStringList RecentFiles(const QSettings& settings) {
  QStringList files = settings.value(kRecentKey).toStringList();
  files.removeAll(QString());
  while (files.size() > kMaxRecentFiles) files.removeLast();
  return files;
}

void AddRecentFile(QSettings& settings, const QString& path) {
  const QString absolute = QFileInfo(path).absoluteFilePath();
  QStringList files = RecentFiles(settings);
  files.removeAll(absolute);
  files.prepend(absolute);
  StoreRecent(settings, std::move(files));
}

void RemoveRecentFile(QSettings& settings, const QString& path) {
  QStringList files = RecentFiles(settings);
  files.removeAll(QFileInfo(path).absoluteFilePath());
  StoreRecent(settings, std::move(files));
}

void ClearRecentFiles(QSettings& settings) {
  settings.remove(kRecentKey);
}

QStringList RecentCaptions(const QStringList& paths) {
  QStringList names;
  for (const QString& path : paths) names << QFileInfo(path).fileName();
  QStringList captions;
  for (int i = 0; i < paths.size(); ++i) {
    // "&1" .. "&9", then "1&0": the last digit is the mnemonic.
    const QString number = QString::number(i + 1);
    const QString key = number.left(number.size() - 1) + '&' + number.right(1);
    QString shown = names.count(names[i]) > 1 ? paths[i] : names[i];
    shown.replace('&', "&&");
    captions << key + ' ' + shown;
  }
  return captions;
}

QString LastFolder(const QSettings& settings, FileFolder which) {
  return settings.value(FolderKey(which)).toString();
}

void SetLastFolder(QSettings& settings, FileFolder which, const QString& filePath) {
  settings.setValue(FolderKey(which), QFileInfo(filePath).absolutePath());
}

void SaveWindowState(QSettings& settings, const QMainWindow& window) {
  settings.setValue(kGeometryKey, window.saveGeometry());
  for (const QAction* action : ViewOptions(window)) {
    // An entry that cannot be used now (comparing without a previous picture)
    // keeps what was remembered before.
    if (action->isEnabled()) settings.setValue(ViewKey(action), action->isChecked());
  }
}

void RestoreWindowState(const QSettings& settings, QMainWindow& window) {
  const QByteArray geometry = settings.value(kGeometryKey).toByteArray();
  if (!geometry.isEmpty()) window.restoreGeometry(geometry);
  // A window remembered on a larger screen is fitted to this one.
  if (const QScreen* screen = window.screen()) {
    const QRect available = screen->availableGeometry();
    const QRect frame = window.frameGeometry();
    const QSize margins = frame.size() - window.size();
    if (frame.width() > available.width() || frame.height() > available.height()) {
      window.resize(window.size().boundedTo(available.size() - margins));
      window.move(available.topLeft());
    }
  }
  for (QAction* action : ViewOptions(window)) {
    const QVariant checked = settings.value(ViewKey(action));
    if (checked.isValid() && action->isEnabled()) action->setChecked(checked.toBool());
  }
}

int SaveQuality(const QSettings& settings) {
  bool ok = false;
  const int quality = settings.value(kQualityKey).toInt(&ok);
  return ok && quality >= 1 && quality <= 100 ? quality : 95;
}

void SetSaveQuality(QSettings& settings, int quality) {
  settings.setValue(kQualityKey, quality);
}

QVariantMap DialogValues(const QSettings& settings, const QString& dialog) {
  return settings.value("dialogs/" + dialog).toMap();
}

void SetDialogValues(QSettings& settings, const QString& dialog, const QVariantMap& values) {
  settings.setValue("dialogs/" + dialog, values);
}

}  // namespace tvq
