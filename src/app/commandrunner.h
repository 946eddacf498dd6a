// Runs one long command at a time on a worker thread.
//
// The settings dialogs are read on the user-interface thread; the pipeline then
// runs on a worker thread with a Progress that forwards the stage caption,
// position and "Show iterated image" frames to the user-interface thread through
// queued signals, and polls an atomic stop flag that STOP sets. The finished
// picture (or what the job threw) comes back to the user-interface thread as a
// value.
//
// Threads: the pipeline's kernels spread their work over all cores (the process's
// oneTBB arena) from the worker thread, and the library calls the Progress only from
// the thread that runs the command, never from those kernels. So every Progress call
// arrives on the worker thread, and the mutex and atomics below are all the sharing
// between it and the user-interface thread.
#pragma once

#include <QImage>
#include <QObject>
#include <QString>
#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "app/picturefile.h"
#include "imaging/bitmap.h"
#include "imaging/progress.h"

namespace tvq {

// A pipeline as the runner sees it: reads what it captured, reports through the
// Progress, and returns the new picture as displayed.
using DisplayedJob = std::function<DisplayedPicture(Progress&)>;
// A pipeline whose result is a bitmap alone.
using PictureJob = std::function<Bitmap(Progress&)>;

// The Progress handed to a running job. Its methods are called on the worker
// thread; it keeps the latest state and signals the user-interface thread when
// there is something new, at most one pending notice of each kind at a time, so a
// pipeline reporting thousands of lines a second cannot flood the event queue.
class RunnerProgress : public QObject, public Progress {
  Q_OBJECT

 public:
  RunnerProgress(const std::atomic<bool>& stop, bool wantsIterate);

  void ShowProgress(const std::string& stage, std::int32_t position, std::int32_t maximum) override;
  bool StopRequested() override { return stop_.load(std::memory_order_relaxed); }
  const StopFlag* SharedStopFlag() const override { return &stop_; }
  bool WantsIterate() const override { return wantsIterate_; }
  void ShowIterate(const TImageF& iterate) override;

  struct State {
    QString stage;
    int position = 0;
    int maximum = 0;
  };
  // Called on the user-interface thread when a notice arrives.
  State TakeProgress();
  QImage TakeFrame();

 signals:
  void ProgressPending();
  void FramePending();

 private:
  const std::atomic<bool>& stop_;
  const bool wantsIterate_;
  std::mutex mutex_;
  State state_;
  QImage frame_;
  std::atomic<bool> progressPending_{false};
  std::atomic<bool> framePending_{false};
};

class CommandRunner : public QObject {
  Q_OBJECT

 public:
  explicit CommandRunner(QObject* parent = nullptr);
  // Stops a running job and waits for its thread.
  ~CommandRunner() override;

  bool Running() const { return running_; }
  // Starts job on a worker thread; false (and nothing happens) while one runs.
  bool Start(DisplayedJob job, bool wantsIterate);
  // Asks the running job to stop at its next poll.
  void RequestStop() { stop_.store(true); }
  bool StopRequested() const { return stop_.load(); }

 signals:
  void ProgressChanged(const QString& stage, int position, int maximum);
  void FrameShown(const QImage& frame);
  // result is null when the job failed or was stopped; error then holds what it
  // threw (OperationStopped after a stop).
  void Finished(std::shared_ptr<DisplayedPicture> result, std::exception_ptr error);

 private:
  void DeliverProgress();
  void DeliverFrame();
  void Complete(std::shared_ptr<DisplayedPicture> result, std::exception_ptr error);

  std::atomic<bool> stop_{false};
  bool running_ = false;
  std::unique_ptr<RunnerProgress> progress_;
  std::thread worker_;
};

}  // namespace tvq
