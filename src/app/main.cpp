// The tvq desktop application. Picture files named on the command line open each
// in a window (so that file managers can open pictures with it); without any, one
// window shows the built-in picture.
#include <QApplication>
#include <QCommandLineParser>

#include "app/startup.h"
#include "buildversion.h"
#include "imaging/imagebase.h"

int main(int argc, char* argv[]) {
  tvq::UseLargeBlockMemorySettings();
  QApplication app(argc, argv);
  // Where QSettings keeps what the application remembers.
  QApplication::setOrganizationName("tvq");
  QApplication::setApplicationName("tvq");
  QApplication::setDesktopFileName("tvq-app");
  QApplication::setApplicationVersion(TVQ_VERSION_TEXT);

  QCommandLineParser parser;
  parser.setApplicationDescription(
      "Enlarges pictures two times by super-resolution and removes ringing.");
  parser.addHelpOption();
  parser.addVersionOption();
  parser.addPositionalArgument("files", "Pictures to open, each in its own window.", "[files...]");
  parser.process(app);

  const auto windows = tvq::CreateStartWindows(parser.positionalArguments(),
                                               [] { return std::make_unique<QSettings>(); });
  // Every file named failed to open (each was reported).
  if (windows.empty()) return 1;
  for (const auto& window : windows) window->show();
  return QApplication::exec();
}
