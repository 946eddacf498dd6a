// What the desktop application remembers between runs: the files opened lately,
// the last folders of Open and Save As, the window's geometry and the check marks
// of the View menu. All of it lives in one QSettings store that the application
// hands to its windows (MainWindow::UseSettings), with the JPEG and WebP quality
// and the values each settings dialog was last accepted with.
#pragma once

#include <QString>
#include <QStringList>
#include <QVariantMap>

class QMainWindow;
class QSettings;

namespace tvq {

inline constexpr int kMaxRecentFiles = 10;

// The files opened lately, most recent first, at most kMaxRecentFiles.
QStringList RecentFiles(const QSettings& settings);
// Puts the file first (moving it up when it is listed already) and drops the
// oldest beyond kMaxRecentFiles. Paths are kept absolute.
void AddRecentFile(QSettings& settings, const QString& path);
void RemoveRecentFile(QSettings& settings, const QString& path);
void ClearRecentFiles(QSettings& settings);

// The menu captions of recent files: "&1 photo.bmp", ..., "1&0 ..."; the whole
// path where two files share a name.
QStringList RecentCaptions(const QStringList& paths);

enum class FileFolder { kOpen, kSave };
// The folder of the last file opened or saved through the file dialogs; empty
// before the first.
QString LastFolder(const QSettings& settings, FileFolder which);
void SetLastFolder(QSettings& settings, FileFolder which, const QString& filePath);

// The JPEG and WebP quality Save As asked last (95, the command-line default, before).
int SaveQuality(const QSettings& settings);
void SetSaveQuality(QSettings& settings, int quality);

// The values a settings dialog was last accepted with, by its object name: each
// control's state by the control's object name. Empty before the first.
QVariantMap DialogValues(const QSettings& settings, const QString& dialog);
void SetDialogValues(QSettings& settings, const QString& dialog, const QVariantMap& values);

// The window's geometry and the check marks of the checkable, enabled entries of
// its "View1" menu, by their object names.
void SaveWindowState(QSettings& settings, const QMainWindow& window);
void RestoreWindowState(const QSettings& settings, QMainWindow& window);

}  // namespace tvq
