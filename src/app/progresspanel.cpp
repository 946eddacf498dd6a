#include "app/progresspanel.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace tvq {

namespace {

// "0:07", "12:40", "1:02:03".
QString Duration(qint64 milliseconds) {
  const qint64 seconds = milliseconds / 1000;
  const QString secondsPart = QStringLiteral("%1").arg(seconds % 60, 2, 10, QChar('0'));
  if (seconds < 3600) return QStringLiteral("%1:%2").arg(seconds / 60).arg(secondsPart);
  return QStringLiteral("%1:%2:%3")
      .arg(seconds / 3600)
      .arg(seconds / 60 % 60, 2, 10, QChar('0'))
      .arg(secondsPart);
}

}  // namespace

ProgressPanel::ProgressPanel(QWidget* parent) : QGroupBox("Progress", parent) {
  setObjectName("ProgressPanel");
  // Drawn over the picture, so it paints its own background.
  setAutoFillBackground(true);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 4, 8, 6);
  layout->setSpacing(3);
  progressBar_ = new QProgressBar(this);
  progressBar_->setObjectName("ProgressBar");
  progressBar_->setRange(0, 10000);
  progressBar_->setValue(0);
  progressBar_->setTextVisible(false);
  progressBar_->setFixedSize(137, 25);
  progressBar_->setAccessibleName("Progress");
  statusLabel_ = new QLabel("Idle", this);
  statusLabel_->setObjectName("StatusLabel");
  // The stage caption stays as the pipeline words it; the times go below it, each
  // on its own line. Sample texts give the panel its size.
  elapsedLabel_ = new QLabel("Elapsed 0:00", this);
  elapsedLabel_->setObjectName("ElapsedLabel");
  elapsedLabel_->setAccessibleName("Elapsed time");
  remainingLabel_ = new QLabel("About 00:00 left", this);
  remainingLabel_->setObjectName("RemainingLabel");
  remainingLabel_->setAccessibleName("Time remaining");
  ticker_ = new QTimer(this);
  ticker_->setInterval(250);
  connect(ticker_, &QTimer::timeout, this, &ProgressPanel::UpdateTimeLabels);
  stopButton_ = new QPushButton("STOP", this);
  stopButton_->setObjectName("StopButton");
  connect(stopButton_, &QPushButton::clicked, this, [this] {
    emit StopPressed();
    stopButton_->setEnabled(false);
  });
  layout->addWidget(progressBar_);
  layout->addWidget(statusLabel_);
  layout->addWidget(elapsedLabel_);
  layout->addWidget(remainingLabel_);
  layout->addWidget(stopButton_);
  setFixedSize(sizeHint().expandedTo(QSize(153, 105)));
  elapsedLabel_->clear();
  remainingLabel_->clear();
  hide();
}

void ProgressPanel::ShowProgress(const QString& text, int position, int maximum, bool running) {
  statusLabel_->setText(text);
  progressBar_->setMaximum(maximum);
  progressBar_->setValue(position);
  if (!running) return;
  // A new maximum or a step back starts a stage whose rate is measured afresh.
  if (maximum != stageMaximum_ || position < stagePosition_) {
    stageClock_.start();
    stageStart_ = position;
    stageMaximum_ = maximum;
  }
  stagePosition_ = position;
  UpdateTimeLabels();
}

void ProgressPanel::ShowText(const QString& text) {
  statusLabel_->setText(text);
}

void ProgressPanel::Begin(const QWidget* window) {
  stopButton_->setEnabled(true);
  stageMaximum_ = stageStart_ = stagePosition_ = 0;
  remainingLabel_->clear();
  Place(window);
  show();
  runClock_.start();
  UpdateTimeLabels();
  ticker_->start();
}

void ProgressPanel::PressStop() {
  if (isVisible() && stopButton_->isEnabled()) stopButton_->click();
}

void ProgressPanel::End() {
  ticker_->stop();
  ShowProgress("Idle", 100, 100, false);
  hide();
}

void ProgressPanel::Place(const QWidget* window) {
  const QSize outer = window->frameGeometry().size();
  move(outer.width() / 2 - 75, outer.height() / 2 - 50);
  raise();
}

void ProgressPanel::UpdateTimeLabels() {
  elapsedLabel_->setText("Elapsed " + Duration(runClock_.elapsed()));
  // Linear in the position: the rest of the stage at the rate seen so far.
  const int done = stagePosition_ - stageStart_;
  if (done <= 0 || stageMaximum_ <= stagePosition_) {
    remainingLabel_->clear();
    return;
  }
  const double left =
      static_cast<double>(stageClock_.elapsed()) * (stageMaximum_ - stagePosition_) / done;
  remainingLabel_->setText("About " + Duration(static_cast<qint64>(left) + 999) + " left");
}

}  // namespace tvq
