// Kernel selection, threads and SIMD for every long routine of the library.
//
// - Every fast kernel (threaded, vectorised) gives results bit-identical to its plain
//   single-thread loop, which stays in the code as the reference. ReferenceKernels()
//   selects the plain loops for the whole process: the environment variable
//   TVQ_KERNELS=reference sets it at start-up, SetReferenceKernels() in tests.
// - Threads come from one oneTBB arena for the process. Work submitted from inside
//   the arena (a batch's file jobs, the loops inside each command) shares its threads,
//   so nested parallel loops never oversubscribe the machine.
// - SIMD comes from Highway with dynamic dispatch: the best instruction set of the
//   running processor (SSE2 baseline, AVX2, AVX-512). SetSimdEnabled(false) keeps the
//   fast kernels but runs them with Highway's portable scalar lanes.
// - The settings are process-wide; change them only while no command runs.
// - A ThreadSanitizer build runs ParallelFor's chunks on plain joined threads instead
//   of the arena: the sanitizer cannot see the synchronisation inside the
//   uninstrumented oneTBB library and would report its task hand-offs as races.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace tvq {

// True when the plain single-thread reference loops run instead of the fast kernels.
bool ReferenceKernels();
void SetReferenceKernels(bool reference);

// Number of threads of the arena; 0 (the default) means one per core.
void SetThreadCount(std::int32_t threads);
// The arena's concurrency (at least 1).
std::int32_t ThreadCount();
// The number of cores the process may use.
std::int32_t HardwareThreads();
// The most threads worth asking for: four per core. Beyond that the threads only take
// turns on the cores and hand work to each other: a 640 x 640 resample on 2 cores took
// 0.87 s on 2 threads, 0.90 s on 8, 1.26 s on 64 and 20 s on 1024.
std::int32_t UsefulThreads();

// Whether Highway may use the processor's SIMD instruction sets.
void SetSimdEnabled(bool enabled);
bool SimdEnabled();
// Name of the instruction set the dispatched kernels use, such as "AVX2".
std::string SimdTargetName();

// Runs body(begin, end) over disjoint chunks covering [0, count), on the process
// arena. `grain` is the smallest chunk worth a task (oneTBB may hand out larger
// ones); results must not depend on how the range is cut. Any order of
// chunks may run at once, so the body must write only what its own items own. With
// one thread, or fewer than two chunks, the body runs once on the calling thread.
// An exception thrown by the body is passed on to the caller.
void ParallelFor(std::int64_t count, std::int64_t grain,
                 const std::function<void(std::int64_t, std::int64_t)>& body);

// Runs row(y) for every y in [0, rows): through ParallelFor, or in order on the calling
// thread when the reference loops are selected. For per-row conversions whose rows
// write only their own output, so that the order cannot change a result.
void ForEachRow(std::int32_t rows, const std::function<void(std::int32_t)>& row);

// Work in bands: [0, count) is cut into consecutive bands of `band` items; before
// each band, on the calling thread, before(bandStart) is called and may return false
// to stop (a STOP poll and a progress report); the band's items then run through
// ParallelFor with `grain`. Returns false when stopped. Bands keep STOP responsive
// and progress honest while each band fills every core.
bool ParallelBands(std::int64_t count, std::int64_t band, std::int64_t grain,
                   const std::function<bool(std::int64_t)>& before,
                   const std::function<void(std::int64_t, std::int64_t)>& body);

// Runs body(i) for every i in [0, count), at most `jobs` at a time, on the process
// arena: independent jobs (a batch's files) share the arena's threads with the
// parallel loops inside each body, and a thread waiting inside one body never picks
// up another job. Items are started in increasing order. With one job, or one item,
// the bodies run one after another on the calling thread. The first exception a body
// throws is passed on to the caller once the running bodies have returned; no item is
// started after it.
void ParallelJobs(std::int64_t count, std::int32_t jobs,
                  const std::function<void(std::int64_t)>& body);

}  // namespace tvq
