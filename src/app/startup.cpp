#include "app/startup.h"

#include <QFileInfo>

namespace tvq {

std::vector<std::unique_ptr<MainWindow>> CreateStartWindows(
    const QStringList& files, const std::function<std::unique_ptr<QSettings>()>& makeSettings) {
  std::vector<std::unique_ptr<MainWindow>> windows;
  const int count = std::max<int>(1, static_cast<int>(files.size()));
  for (int i = 0; i < count; ++i) {
    auto window = std::make_unique<MainWindow>();
    window->UseSettings(makeSettings());
    const int shown = static_cast<int>(windows.size());
    if (shown > 0) window->move(window->pos() + QPoint(32, 32) * shown);
    // A file that does not open has been reported; it gets no window.
    if (i < files.size() && !window->OpenFile(QFileInfo(files[i]).absoluteFilePath())) continue;
    windows.push_back(std::move(window));
  }
  return windows;
}

}  // namespace tvq
