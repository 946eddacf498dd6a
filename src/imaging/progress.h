// Progress and STOP for long work. Every long routine takes a Progress& and
// reports its stage and position through it, polls StopRequested() where it may
// end early, and may hand intermediate results to ShowIterate(). The library
// keeps no global flag; the caller decides what the calls do.
//
// Two kinds of routine stop early. Those whose partial work is a result (the
// solver's iterations, deringing) poll StopRequested() on the calling thread and
// return what they have. Those that have nothing worth returning until they finish
// (the enlargers, filters, the colour stage of a resample) poll the SharedStopFlag()
// instead, from any thread, between rows or row blocks, and throw OperationStopped.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "imaging/imagefmt.h"

namespace tvq {

// A stop request that any thread may read.
using StopFlag = std::atomic<bool>;

// Whether a step schedule, fed a series of mean residuals, has decided every later step:
// kSettled once it no longer reads residuals (or never did), kUndecided while a later
// residual may still change a step, kUnshareable when its decisions keep reading
// residuals that only a run under those very decisions gives.
enum class ScheduleOutlook { kSettled, kUndecided, kUnshareable };
using ScheduleCheck = std::function<ScheduleOutlook(const std::vector<float>&)>;

// The sum, in double, of the absolute residuals |D H X - Y| of a solve's current iterate
// over the columns [x0, x1) and rows [y0, y1) of its low-resolution grid: the parts of a
// picture solved apart add up the whole picture's residual from the parts each owns.
// Empty where the schedule reads no residual (data norms other than 1: always 0).
using ResidualSum =
    std::function<double(std::int32_t x0, std::int32_t y0, std::int32_t x1, std::int32_t y1)>;

// The residuals that the solver's step schedule reads when a picture is solved in parts
// (tiles) that are to step as the whole picture does. Each solve of a run (a pass, the
// alpha plane) announces itself with its low-resolution grid and a way to sum its
// residuals, then hands over its own mean residual after every iteration and gets back
// the one its schedule reads: the whole picture's when it is known. Iteration k's
// residual is that of the iterate it started from, which `sum` sees before the first
// iteration and after each one. Residual() may throw SolveProbed to end the run once it
// has seen enough.
class SharedResiduals {
 public:
  virtual ~SharedResiduals() = default;
  // A solve on a gridWidth x gridHeight low-resolution grid starts; `check` judges its
  // schedule, `sum` adds up the residuals of the current iterate over a rectangle of the
  // grid while the solve runs. Returns the solve's number in the run.
  virtual std::int32_t BeginSolve(const ScheduleCheck& check, std::int32_t gridWidth,
                                  std::int32_t gridHeight, const ResidualSum& sum) = 0;
  // Iteration k of solve `solve` ended with the part's mean residual `own`.
  virtual float Residual(std::int32_t solve, std::int32_t k, float own) = 0;
};

// Thrown through the work by SharedResiduals::Residual when a probing run has given the
// residuals it was run for.
struct SolveProbed {};

class Progress {
 public:
  virtual ~Progress() = default;
  // Stage caption and position within 0..maximum.
  virtual void ShowProgress(const std::string& stage, std::int32_t position,
                            std::int32_t maximum) = 0;
  // True once the user asked the running command to stop.
  virtual bool StopRequested() = 0;
  // Whether ShowIterate() wants frames; callers skip building them otherwise.
  virtual bool WantsIterate() const { return false; }
  // An intermediate grey result ("Show iterated image").
  virtual void ShowIterate(const TImageF& /*iterate*/) {}
  // The flag behind StopRequested(), for routines that poll it from worker threads;
  // none (the default) when stops are to be seen through StopRequested() alone.
  virtual const StopFlag* SharedStopFlag() const { return nullptr; }
  // The residuals shared with the other parts of a picture solved in parts; none (the
  // default) when the solver's schedule reads its own.
  virtual SharedResiduals* Residuals() { return nullptr; }
};

// Thrown by a routine stopped before it had a result worth returning.
class OperationStopped : public std::exception {
 public:
  const char* what() const noexcept override { return "stopped"; }
};

// Throws OperationStopped once stop is set; no flag never stops.
inline void ThrowIfStopped(const StopFlag* stop) {
  if (stop != nullptr && stop->load(std::memory_order_relaxed)) throw OperationStopped();
}

// Ignores progress and never stops; for tests and batch work.
class NullProgress : public Progress {
 public:
  void ShowProgress(const std::string&, std::int32_t, std::int32_t) override {}
  bool StopRequested() override { return false; }
};

}  // namespace tvq
