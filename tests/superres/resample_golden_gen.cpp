// Writes the reference output of the end-to-end resampling test. Run by hand
// only, and only when a change of the numbers has been reviewed and is intended:
//
//   cmake --build <build> --target resample_golden_gen
//   <build>/tests/superres/resample_golden_gen tests/data/resample_golden.pfm
//
// then commit the new file together with the reason for the change.
#include <cstdio>
#include <exception>

#include "common/pictures.h"
#include "imaging/io/pfm.h"
#include "superres/resample.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUT.pfm\n", argv[0]);
    return 2;
  }
  try {
    tvq::NullProgress progress;
    const tvq::TImageF4 result = tvq::Resample(tvq::test::GoldenPicture(), tvq::ResampleParams{},
                                               nullptr, nullptr, progress);
    tvq::WritePfm(result, argv[1]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
