// Progress on a terminal: one line on stderr with the stage caption, a bar and
// the percentage, redrawn in place. Silent when stderr is not a terminal or
// when quiet. Ctrl+C asks the running command to stop (a second one ends the
// program).
#pragma once

#include <chrono>
#include <string>

#include "imaging/progress.h"

namespace tvq::cli {

class TerminalProgress : public Progress {
 public:
  explicit TerminalProgress(bool quiet);
  ~TerminalProgress() override;
  TerminalProgress(const TerminalProgress&) = delete;
  TerminalProgress& operator=(const TerminalProgress&) = delete;

  void ShowProgress(const std::string& stage, std::int32_t position, std::int32_t maximum) override;
  bool StopRequested() override;
  // A line of `caption`, a bar filled to `fraction` (0..1), the percentage and
  // `suffix`. Redrawn at most 20 times a second unless `force`.
  void ShowStatus(const std::string& caption, double fraction, const std::string& suffix,
                  bool force);
  // Ends the progress line so that later messages start on a fresh line.
  void Finish();
  // Erases the progress line, so that a message can take its place; the next
  // status draws it again.
  void Clear();

 private:
  bool enabled_;
  bool lineOpen_ = false;
  std::string lastLine_;
  std::chrono::steady_clock::time_point lastDraw_{};
};

}  // namespace tvq::cli
