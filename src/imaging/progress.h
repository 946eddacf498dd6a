// Progress and STOP for long work. Every long routine takes a Progress& and
// reports its stage and position through it, polls StopRequested() where it may
// end early, and may hand intermediate results to ShowIterate(). The library
// keeps no global flag; the caller decides what the calls do.
#pragma once

#include <cstdint>
#include <string>

#include "imaging/imagefmt.h"

namespace tvq {

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
};

// Ignores progress and never stops; for tests and batch work.
class NullProgress : public Progress {
 public:
  void ShowProgress(const std::string&, std::int32_t, std::int32_t) override {}
  bool StopRequested() override { return false; }
};

}  // namespace tvq
