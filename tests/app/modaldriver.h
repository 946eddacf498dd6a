// Drives modal dialogs and message boxes from tests: each handler in the queue is
// called with the next modal widget that becomes active, the usual Qt way (a timer
// that finds QApplication::activeModalWidget()), so a test never blocks in exec().
#pragma once

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <deque>
#include <functional>

namespace tvq::test {

class ModalDriver : public QObject {
 public:
  using Handler = std::function<void(QWidget*)>;

  ModalDriver() {
    timer_.setInterval(5);
    connect(&timer_, &QTimer::timeout, this, &ModalDriver::Poll);
  }

  // Queues a handler for the next modal widget.
  ModalDriver& Then(Handler handler) {
    handlers_.push_back(std::move(handler));
    timer_.start();
    return *this;
  }

  // Queues a handler that records a message box (title and text) and presses OK.
  ModalDriver& ThenMessage(QString* title, QString* text) {
    return Then([title, text](QWidget* w) {
      auto* box = qobject_cast<QMessageBox*>(w);
      if (title) *title = w->windowTitle();
      if (text)
        *text = box ? box->text() : QStringLiteral("<not a message box: %1>").arg(w->objectName());
      if (box)
        box->done(QMessageBox::Ok);
      else if (auto* dialog = qobject_cast<QDialog*>(w))
        dialog->reject();
    });
  }

  // True once every queued handler has run.
  bool Done() const { return handlers_.empty(); }
  int Handled() const { return handled_; }

 private:
  void Poll() {
    QWidget* w = QApplication::activeModalWidget();
    if (!w || !w->isVisible() || w == last_) return;
    if (handlers_.empty()) {
      timer_.stop();
      return;
    }
    Handler handler = std::move(handlers_.front());
    handlers_.pop_front();
    last_ = w;
    ++handled_;
    handler(w);
    if (handlers_.empty()) timer_.stop();
  }

  QTimer timer_;
  std::deque<Handler> handlers_;
  QPointer<QWidget> last_;
  int handled_ = 0;
};

}  // namespace tvq::test
