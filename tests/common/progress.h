// A progress that records what a routine reports and can ask it to stop.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "imaging/imagefmt.h"
#include "imaging/progress.h"

namespace tvq::test {

// Records every ShowProgress call and, when it wants them, the sizes of the iterates
// shown. StopRequested() answers true from poll number stopAfter + 1 on (never when
// stopAfter is negative), and once stopAfterShows ShowProgress calls were made (never
// when it is 0).
class RecordingProgress : public Progress {
 public:
  struct Call {
    std::string stage;
    std::int32_t position, maximum;
    bool operator==(const Call&) const = default;
  };
  explicit RecordingProgress(std::int64_t stopAfter = -1) : stopAfter_(stopAfter) {}
  void ShowProgress(const std::string& stage, std::int32_t position,
                    std::int32_t maximum) override {
    calls.push_back({stage, position, maximum});
  }
  bool StopRequested() override {
    ++polls;
    return (stopAfter_ >= 0 && polls > stopAfter_) ||
           (stopAfterShows > 0 && calls.size() >= stopAfterShows);
  }
  bool WantsIterate() const override { return wantsIterate; }
  void ShowIterate(const TImageF& iterate) override {
    frameSizes.emplace_back(iterate.Width(), iterate.Height());
  }
  std::vector<Call> calls;
  std::int64_t polls = 0;
  std::size_t stopAfterShows = 0;
  bool wantsIterate = false;
  std::vector<std::pair<std::int32_t, std::int32_t>> frameSizes;

 private:
  std::int64_t stopAfter_;
};

}  // namespace tvq::test
