// The windows the desktop application starts with.
#pragma once

#include <QSettings>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

#include "app/mainwindow.h"

namespace tvq {

// One window per picture file named on the command line, each opening its file
// (a file that does not open is reported and gets no window, so there may be none),
// or one window with the built-in picture when none is named. Every window remembers its
// settings in a store made by makeSettings; later windows are set off from the first
// so that none hides another. The windows are not shown yet.
std::vector<std::unique_ptr<MainWindow>> CreateStartWindows(
    const QStringList& files, const std::function<std::unique_ptr<QSettings>()>& makeSettings);

}  // namespace tvq
