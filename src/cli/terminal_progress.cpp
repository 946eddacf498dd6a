#include "cli/terminal_progress.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>

namespace tvq::cli {

namespace {

std::atomic<bool> gInterrupted{false};

extern "C" void OnInterrupt(int) {
  if (gInterrupted.exchange(true)) {
    // Second Ctrl+C: leave at once with the conventional status.
    std::signal(SIGINT, SIG_DFL);
    std::raise(SIGINT);
  }
}

}  // namespace

TerminalProgress::TerminalProgress(bool quiet) : enabled_(!quiet && isatty(STDERR_FILENO)) {
  gInterrupted = false;
  std::signal(SIGINT, OnInterrupt);
}

TerminalProgress::~TerminalProgress() {
  Finish();
  std::signal(SIGINT, SIG_DFL);
}

void TerminalProgress::ShowProgress(const std::string& stage, std::int32_t position,
                                    std::int32_t maximum) {
  if (!enabled_) return;
  const double fraction = maximum > 0 ? static_cast<double>(position) / maximum : 0.0;
  ShowStatus(stage, fraction, "", position == 0 || position >= maximum);
}

void TerminalProgress::ShowStatus(const std::string& caption, double fraction,
                                  const std::string& suffix, bool force) {
  if (!enabled_) return;
  fraction = std::clamp(fraction, 0.0, 1.0);
  constexpr int kWidth = 30;
  const int filled = static_cast<int>(fraction * kWidth + 0.5);
  std::string line = caption;
  line.resize(std::max<std::size_t>(line.size(), 20), ' ');
  line += " [" + std::string(filled, '#') + std::string(kWidth - filled, '-') + "] ";
  line += std::to_string(static_cast<int>(fraction * 100.0 + 0.5)) + "%";
  if (!suffix.empty()) line += " " + suffix;
  // Redraw at most 20 times a second unless the text changed in substance.
  const auto now = std::chrono::steady_clock::now();
  if (line == lastLine_ || (now - lastDraw_ < std::chrono::milliseconds(50) && !force)) return;
  lastLine_ = line;
  lastDraw_ = now;
  std::fprintf(stderr, "\r%s\033[K", line.c_str());
  std::fflush(stderr);
  lineOpen_ = true;
}

bool TerminalProgress::StopRequested() {
  return gInterrupted.load();
}

void TerminalProgress::Finish() {
  if (lineOpen_) {
    std::fputc('\n', stderr);
    lineOpen_ = false;
  }
}

void TerminalProgress::Clear() {
  if (lineOpen_) {
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    lineOpen_ = false;
    lastLine_.clear();
  }
}

}  // namespace tvq::cli
