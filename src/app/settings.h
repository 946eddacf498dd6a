// What the desktop application remembers between runs: the files opened lately,
// the last folders of Open and Save As, the window's geometry and the check marks
// of the View menu. All of it lives in one QSettings store that the application
// hands to its windows (MainWindow::UseSettings); the settings dialogs remember
// nothing and open with their defaults every time.
#pragma once

#include <QString>
#include <QStringList>

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

// The window's geometry and the check marks of the checkable, enabled entries of
// its "View1" menu, by their object names.
void SaveWindowState(QSettings& settings, const QMainWindow& window);
void RestoreWindowState(const QSettings& settings, QMainWindow& window);

}  // namespace tvq
