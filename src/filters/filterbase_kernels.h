// Internal to the filters folder: what the plain passes (filterbase.cpp) and their fast
// twins (filterbase_fast.cpp) share, the two versions of each pass that HorizontalPass and
// VerticalPass choose between, and the vector row kernels of the fast passes
// (filterbase_simd.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

#include "imaging/errors.h"
#include "imaging/imagebase.h"

namespace tvq::filterpass {

// One supported format pair. A row is seen as `kLanes` lanes per pixel (the channels that
// are filtered); lane i of a source row is element i * kMul + kOff of type S.
template <typename S, int kMul, int kOff, int kLanes, bool kByteTarget>
struct PassCase {
  using Source = S;
  static constexpr int kLaneCount = kLanes;
  static constexpr bool kBytes = kByteTarget;
  static double Load(const S* row, std::ptrdiff_t lane) {
    return static_cast<double>(row[lane * kMul + kOff]);
  }
};

using CaseC4C4 = PassCase<std::uint8_t, 1, 0, 4, true>;
using CaseF4F4 = PassCase<float, 1, 0, 4, false>;
using CaseFF = PassCase<float, 1, 0, 1, false>;
using CaseC4F = PassCase<std::uint8_t, 4, 3, 1, false>;  // the fourth byte only
using CaseByteF = PassCase<std::uint8_t, 1, 0, 1, false>;

// Calls fn with the case object of the pair; false for an unsupported pair.
template <typename Fn>
bool Dispatch(std::int32_t from, std::int32_t to, Fn&& fn) {
  if (from == ifC4 && to == ifC4) {
    fn(CaseC4C4{});
  } else if (from == ifF4 && to == ifF4) {
    fn(CaseF4F4{});
  } else if (from == ifF && to == ifF) {
    fn(CaseFF{});
  } else if (from == ifC4 && to == ifF) {
    fn(CaseC4F{});
  } else if (from == ifByte && to == ifF) {
    fn(CaseByteF{});
  } else {
    return false;
  }
  return true;
}

// One tap of a single-precision running sum.
inline float Tap(float sum, double sample, float weight) {
  return static_cast<float>(static_cast<double>(sum) + sample * static_cast<double>(weight));
}

inline std::int64_t Clamp(std::int64_t v, std::int64_t n) {
  if (v < 0) v = 0;
  if (v >= n) v = n - 1;
  return v;
}

// Lane i of a target row receives sum.
template <class C>
inline void Store(std::uint8_t* row, std::ptrdiff_t lane, float sum) {
  if constexpr (C::kBytes) {
    row[lane] = ClampToByte(sum);
  } else {
    reinterpret_cast<float*>(row)[lane] = sum;
  }
}

template <class C>
const typename C::Source* SourceRow(std::uint8_t* const* rows, std::int64_t y) {
  return reinterpret_cast<const typename C::Source*>(rows[y]);
}

// Checks the pair and the images; runs body(caseObject, sourceRows, targetRows) for a
// supported pair.
template <typename Body>
void RunPass(const TImageBase& source, TImageBase& target, Body&& body) {
  TImageBase::CheckCompatible(source, target, false);
  Dispatch(source.Format(), target.Format(), [&](auto c) {
    std::uint8_t* const* srcRows = source.Rows();
    std::uint8_t* const* dstRows = target.Rows();
    const TImageDesc s = source.GetDesc();
    const TImageDesc t = target.GetDesc();
    // The passes read the source while writing the target; a filter of an image onto
    // itself would read its own results.
    if (s.width > 0 && s.height > 0 && s.origin == t.origin)
      throw SettingError("a filter pass needs distinct source and target images");
    body(c, srcRows, dstRows);
  });
}

// The plain per-pixel horizontal pass over rows [y0, y1) of one format pair: one running
// sum per pixel and channel, every tap clamped. Defined in filterbase.cpp for the five
// supported pairs; the fast pass falls back on it for kernels far wider than the row.
template <class C>
void HorizontalPlain(std::int64_t w, std::int64_t y0, std::int64_t y1, std::uint8_t* const* srcRows,
                     std::uint8_t* const* dstRows, const float* kernel, std::int32_t size,
                     std::int32_t radius);

}  // namespace tvq::filterpass

namespace tvq {

// The plain per-pixel versions of the two passes (filterbase.cpp), the definition of
// their results, and the fast versions (filterbase_fast.cpp), which give the same bits.
// Same contract as HorizontalPass and VerticalPass (filterbase.h).
void HorizontalPassPlain(const TImageBase& source, TImageBase& target, const float* kernel,
                         std::int32_t size, std::int32_t radius);
void VerticalPassPlain(const TImageBase& source, TImageBase& target, const float* kernel,
                       std::int32_t size, std::int32_t radius);
void HorizontalPassFast(const TImageBase& source, TImageBase& target, const float* kernel,
                        std::int32_t size, std::int32_t radius);
void VerticalPassFast(const TImageBase& source, TImageBase& target, const float* kernel,
                      std::int32_t size, std::int32_t radius);

}  // namespace tvq

// Vector row kernels of the passes, compiled for every instruction set Highway supports
// and chosen at run time (SetSimdEnabled(false) selects the one-lane portable version).
// Each computes, per element, exactly the IEEE operations of the plain loop it replaces,
// in the same order, so results are bit-identical on every target.
namespace tvq::filtersimd {

// One tap of a single-precision running sum across a run of elements whose samples are
// already promoted to double: acc[i] = float(double(acc[i]) + src[i] * double(weight)).
void TapRun(float* acc, const double* src, std::size_t n, float weight);

// dst[i] = double(src[i]) for i < n.
void Promote(const float* src, double* dst, std::size_t n);

}  // namespace tvq::filtersimd
