// Choosing between a kernel family's plain loops and their fast twins.
//
// Every long routine exists twice: the plain single-thread loop in X.cpp, which is the
// definition of the result and is read first, and the threaded and vectorised twin in
// X_fast.cpp (with its SIMD rows in X_simd.cpp), which must give the same bits. Both are
// declared in the family's internal X_kernels.h; the public entry point, in X_fast.cpp
// beside the threads, names the pair once and calls it:
//
//   constexpr KernelPair<void(const TImageF&, TImageF&, const StopFlag*)> kUpscale{
//       UpscalePlain, UpscaleFast};
//   void Upscale(const TImageF& src, TImageF& dst, const StopFlag* stop) {
//     kUpscale(src, dst, stop);
//   }
//
// The choice follows ReferenceKernels() (TVQ_KERNELS=reference, SetReferenceKernels()
// in tests), so the tests that compare the two run the same entry point both ways.
#pragma once

#include <utility>

#include "imaging/parallel.h"

namespace tvq {

template <class Signature>
struct KernelPair;

template <class R, class... Args>
struct KernelPair<R(Args...)> {
  R (*plain)(Args...);
  R (*fast)(Args...);

  // The routine the process runs now: the plain loop when the reference kernels are
  // selected, the fast twin otherwise.
  [[nodiscard]] R (*Selected() const)(Args...) { return ReferenceKernels() ? plain : fast; }

  R operator()(Args... args) const { return Selected()(std::forward<Args>(args)...); }
};

// For the few routines whose fast path is not a single function (a fast twin that
// only covers some settings, say): runs plain() or fast() as the reference switch says.
template <class Plain, class Fast>
decltype(auto) RunKernels(Plain&& plain, Fast&& fast) {
  if (ReferenceKernels()) return std::forward<Plain>(plain)();
  return std::forward<Fast>(fast)();
}

}  // namespace tvq
