#include "imaging/parallel.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#if defined(__SANITIZE_THREAD__)
#define TVQ_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define TVQ_THREAD_SANITIZER 1
#endif
#endif

#include <hwy/targets.h>
#include <tbb/blocked_range.h>
#include <tbb/global_control.h>
#include <tbb/info.h>
#include <tbb/parallel_for.h>
#include <tbb/partitioner.h>
#include <tbb/task_arena.h>
#include <tbb/task_group.h>

#include "imaging/dispatch.h"

namespace tvq {

namespace {

bool ReferenceFromEnvironment() {
  const char* value = std::getenv("TVQ_KERNELS");
  return value != nullptr && std::strcmp(value, "reference") == 0;
}

std::atomic<bool>& ReferenceFlag() {
  static std::atomic<bool> flag{ReferenceFromEnvironment()};
  return flag;
}

std::atomic<bool> simdEnabled{true};

// The process arena. It is created on first use with the requested concurrency and
// replaced only by SetThreadCount, which callers use while no command runs.
struct Arena {
  std::mutex mutex;
  std::int32_t requested = 0;
  std::unique_ptr<tbb::task_arena> arena;
  // oneTBB lets the process run at most one thread per core unless told otherwise;
  // more threads than cores (used to prove that results do not depend on the thread
  // count) raise that limit for as long as they are asked for.
  std::unique_ptr<tbb::global_control> limit;
};

Arena& TheArena() {
  static Arena instance;
  return instance;
}

std::int32_t EffectiveThreads(std::int32_t requested) {
  return requested > 0 ? requested : HardwareThreads();
}

tbb::task_arena& ArenaForUse() {
  Arena& a = TheArena();
  std::lock_guard<std::mutex> lock(a.mutex);
  if (!a.arena) {
    const std::int32_t threads = EffectiveThreads(a.requested);
    if (threads > HardwareThreads())
      a.limit = std::make_unique<tbb::global_control>(tbb::global_control::max_allowed_parallelism,
                                                      static_cast<std::size_t>(threads));
    a.arena = std::make_unique<tbb::task_arena>(threads);
  }
  return *a.arena;
}

}  // namespace

bool ReferenceKernels() {
  return ReferenceFlag().load(std::memory_order_relaxed);
}

void SetReferenceKernels(bool reference) {
  ReferenceFlag().store(reference, std::memory_order_relaxed);
}

std::int32_t HardwareThreads() {
  return std::max(1, tbb::info::default_concurrency());
}

std::int32_t UsefulThreads() {
  return 4 * HardwareThreads();
}

void SetThreadCount(std::int32_t threads) {
  Arena& a = TheArena();
  std::lock_guard<std::mutex> lock(a.mutex);
  const std::int32_t requested = std::max(0, threads);
  if (a.arena && EffectiveThreads(requested) == EffectiveThreads(a.requested)) {
    a.requested = requested;
    return;
  }
  a.requested = requested;
  a.arena.reset();
  a.limit.reset();
}

std::int32_t ThreadCount() {
  Arena& a = TheArena();
  std::lock_guard<std::mutex> lock(a.mutex);
  return EffectiveThreads(a.requested);
}

void SetSimdEnabled(bool enabled) {
  simdEnabled.store(enabled);
  // The portable scalar lanes are always compiled in as Highway's baseline on this
  // build (no -march flags), so restricting the dispatch to them is always possible.
  if (enabled)
    hwy::SetSupportedTargetsForTest(0);
  else
    hwy::SetSupportedTargetsForTest(HWY_BASELINE_SCALAR);
}

bool SimdEnabled() {
  return simdEnabled.load();
}

std::string SimdTargetName() {
  const std::int64_t targets = hwy::SupportedTargets() & HWY_TARGETS;
  // The best target is the lowest set bit.
  const std::int64_t best = targets & -targets;
  return hwy::TargetName(best);
}

void ParallelFor(std::int64_t count, std::int64_t grain,
                 const std::function<void(std::int64_t, std::int64_t)>& body) {
  if (count <= 0) return;
  grain = std::max<std::int64_t>(1, grain);
  if (count <= grain || ThreadCount() == 1) {
    body(0, count);
    return;
  }
#if TVQ_THREAD_SANITIZER
  // ThreadSanitizer cannot see the synchronisation inside the uninstrumented oneTBB
  // library and reports its task hand-offs as data races. Under it the same chunks
  // (at most grain items each) run on plain threads joined at the end, which it does
  // understand, so it still checks what matters: that no two chunks touch the same
  // memory unsynchronised.
  const std::int64_t chunks = (count + grain - 1) / grain;
  const std::int64_t threads = std::min<std::int64_t>(ThreadCount(), chunks);
  const std::int64_t base = count / chunks, extra = count % chunks;
  auto chunkBegin = [&](std::int64_t c) { return c * base + std::min(c, extra); };
  std::exception_ptr error;
  std::mutex errorMutex;
  std::vector<std::thread> workers;
  for (std::int64_t t = 0; t < threads; ++t)
    workers.emplace_back([&, t] {
      for (std::int64_t c = t; c < chunks; c += threads) {
        try {
          body(chunkBegin(c), chunkBegin(c + 1));
        } catch (...) {
          std::lock_guard<std::mutex> lock(errorMutex);
          if (!error) error = std::current_exception();
        }
      }
    });
  for (auto& w : workers) w.join();
  if (error) std::rethrow_exception(error);
  return;
#endif
  tbb::task_arena& arena = ArenaForUse();
  arena.execute([&] {
    tbb::parallel_for(
        tbb::blocked_range<std::int64_t>(0, count, static_cast<std::size_t>(grain)),
        [&](const tbb::blocked_range<std::int64_t>& r) { body(r.begin(), r.end()); },
        tbb::auto_partitioner());
  });
}

void ForEachRow(std::int32_t rows, const std::function<void(std::int32_t)>& row) {
  RunKernels(
      [&] {
        for (std::int32_t y = 0; y < rows; ++y) row(y);
      },
      [&] {
        ParallelFor(rows, 16, [&row](std::int64_t begin, std::int64_t end) {
          for (std::int64_t y = begin; y < end; ++y) row(static_cast<std::int32_t>(y));
        });
      });
}

bool ParallelBands(std::int64_t count, std::int64_t band, std::int64_t grain,
                   const std::function<bool(std::int64_t)>& before,
                   const std::function<void(std::int64_t, std::int64_t)>& body) {
  band = std::max<std::int64_t>(1, band);
  for (std::int64_t start = 0; start < count; start += band) {
    if (!before(start)) return false;
    const std::int64_t end = std::min(count, start + band);
    ParallelFor(end - start, grain,
                [&](std::int64_t lo, std::int64_t hi) { body(start + lo, start + hi); });
  }
  return true;
}

void ParallelJobs(std::int64_t count, std::int32_t jobs,
                  const std::function<void(std::int64_t)>& body) {
  if (count <= 0) return;
  const std::int64_t workers = std::min<std::int64_t>(std::max(1, jobs), count);
  if (workers == 1) {
    for (std::int64_t i = 0; i < count; ++i) body(i);
    return;
  }
  // Each worker takes the next item until none is left or a body has failed.
  std::atomic<std::int64_t> next{0};
  std::atomic<bool> failed{false};
  std::exception_ptr error;
  std::mutex errorMutex;
  auto work = [&](auto&& run) {
    for (std::int64_t i = next++; i < count && !failed.load(); i = next++) {
      try {
        run(i);
      } catch (...) {
        std::lock_guard<std::mutex> lock(errorMutex);
        if (!error) error = std::current_exception();
        failed = true;
      }
    }
  };
#if TVQ_THREAD_SANITIZER
  // Plain joined threads, for the same reason as in ParallelFor.
  std::vector<std::thread> threads;
  for (std::int64_t t = 0; t < workers; ++t)
    threads.emplace_back([&] { work([&](std::int64_t i) { body(i); }); });
  for (auto& t : threads) t.join();
#else
  tbb::task_arena& arena = ArenaForUse();
  arena.execute([&] {
    tbb::task_group group;
    for (std::int64_t t = 0; t < workers; ++t)
      group.run([&] {
        // Isolation keeps a thread that waits for the loops inside one body from
        // taking another worker's task, which would hold that body's file up until
        // the other worker ran out of items.
        work([&](std::int64_t i) { tbb::this_task_arena::isolate([&] { body(i); }); });
      });
    group.wait();
  });
#endif
  if (error) std::rethrow_exception(error);
}

}  // namespace tvq
