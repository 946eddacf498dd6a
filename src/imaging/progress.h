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
#include <string>

#include "imaging/imagefmt.h"

namespace tvq {

// A stop request that any thread may read.
using StopFlag = std::atomic<bool>;

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
