// The tvq desktop application.
#include <QApplication>

#include "app/mainwindow.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("tvq");
  tvq::MainWindow window;
  window.show();
  return QApplication::exec();
}
