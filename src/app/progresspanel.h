// The progress panel: drawn over the picture while a long command runs, with the
// stage caption, a progress bar, the elapsed time, an estimate of the time left and
// STOP.
#pragma once

#include <QElapsedTimer>
#include <QGroupBox>
#include <QString>

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace tvq {

class ProgressPanel : public QGroupBox {
  Q_OBJECT

 public:
  explicit ProgressPanel(QWidget* parent);

  // Stage caption and progress bar; while `running`, also the elapsed time and, once
  // the position has advanced, an estimate of the time left.
  void ShowProgress(const QString& text, int position, int maximum, bool running);
  // The stage caption alone ("Stopping...", a note after saving).
  void ShowText(const QString& text);
  // Shows the panel over `window` with STOP enabled and starts the run's clock.
  void Begin(const QWidget* window);
  // Presses STOP when it is enabled (Escape does).
  void PressStop();
  // Stops the clock, shows "Idle" and hides the panel.
  void End();
  // Centred on `window`, from its outer size.
  void Place(const QWidget* window);

 signals:
  // STOP was pressed (it is disabled until the next run).
  void StopPressed();

 private:
  void UpdateTimeLabels();

  QProgressBar* progressBar_;
  QLabel* statusLabel_;
  QPushButton* stopButton_;
  QLabel* elapsedLabel_;
  QLabel* remainingLabel_;
  QTimer* ticker_;
  QElapsedTimer runClock_;
  // Where the current stage's rate is measured from: its clock, first position and
  // maximum, and the latest position.
  QElapsedTimer stageClock_;
  int stageStart_ = 0;
  int stageMaximum_ = 0;
  int stagePosition_ = 0;
};

}  // namespace tvq
