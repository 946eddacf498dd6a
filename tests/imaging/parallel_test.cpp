// ParallelFor and ParallelBands: coverage of every item, exceptions and stopping.
#include "imaging/parallel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "common/kernel_modes.h"

namespace tvq {
namespace {

// Runs ParallelFor and counts how often each item was visited and how many chunks ran.
struct Coverage {
  std::vector<int> hits;
  int chunks = 0;
  bool emptyChunk = false;
};

Coverage Cover(std::int64_t count, std::int64_t grain) {
  std::vector<std::atomic<int>> hits(static_cast<std::size_t>(count));
  std::atomic<int> chunks{0};
  std::atomic<bool> emptyChunk{false};
  ParallelFor(count, grain, [&](std::int64_t begin, std::int64_t end) {
    ++chunks;
    if (begin >= end) emptyChunk = true;
    for (std::int64_t i = begin; i < end; ++i) ++hits[static_cast<std::size_t>(i)];
  });
  Coverage c;
  for (auto& h : hits) c.hits.push_back(h.load());
  c.chunks = chunks;
  c.emptyChunk = emptyChunk;
  return c;
}

TEST(ParallelForTest, EveryItemRunsExactlyOnce) {
  for (std::int32_t threads : {1, 2, 3, 8}) {
    test::ScopedKernels kernels({false, threads, true});
    for (std::int64_t count : {0, 1, 2, 7, 100, 1000, 12345})
      for (std::int64_t grain : {0, 1, 3, 64, 5000}) {
        const Coverage c = Cover(count, grain);
        EXPECT_EQ(c.hits, std::vector<int>(static_cast<std::size_t>(count), 1))
            << threads << " threads, " << count << " items, grain " << grain;
        EXPECT_FALSE(c.emptyChunk);
        // One thread, or no more items than a chunk: a single call (none for no items).
        if (threads == 1 || count <= std::max<std::int64_t>(grain, 1)) {
          EXPECT_EQ(c.chunks, count > 0 ? 1 : 0) << threads << " threads, " << count;
        }
      }
  }
}

TEST(ParallelForTest, OneThreadRunsOnTheCallingThread) {
  test::ScopedKernels kernels({false, 1, true});
  const std::thread::id caller = std::this_thread::get_id();
  std::thread::id ran;
  ParallelFor(1000, 1, [&](std::int64_t, std::int64_t) { ran = std::this_thread::get_id(); });
  EXPECT_EQ(ran, caller);
}

TEST(ParallelForTest, AnExceptionReachesTheCaller) {
  for (std::int32_t threads : {1, 2, 3, 8}) {
    test::ScopedKernels kernels({false, threads, true});
    for (std::int64_t bad : {0, 517, 999}) {
      EXPECT_THROW(ParallelFor(1000, 7,
                               [bad](std::int64_t begin, std::int64_t end) {
                                 if (begin <= bad && bad < end) throw std::runtime_error("item");
                               }),
                   std::runtime_error)
          << threads << " threads, item " << bad;
    }
    // The arena stays usable.
    EXPECT_EQ(Cover(500, 3).hits, std::vector<int>(500, 1));
  }
}

struct BandCase {
  std::int64_t count;
  std::int64_t band;
  std::int64_t stopAt;  // the band start at which `before` says stop; -1 never
};

TEST(ParallelBandsTest, BandsRunInOrderAndStopBeforeTheRefusedBand) {
  const BandCase cases[] = {{100, 10, -1}, {100, 10, 50}, {100, 10, 0}, {101, 10, 100},
                            {7, 3, -1},    {7, 100, -1},  {0, 5, -1},   {1000, 1, 999}};
  for (std::int32_t threads : {1, 2, 3, 8}) {
    test::ScopedKernels kernels({false, threads, true});
    for (const BandCase& c : cases) {
      const std::thread::id caller = std::this_thread::get_id();
      std::vector<std::int64_t> starts;
      bool otherThread = false;
      std::mutex mutex;
      std::int64_t highestDone = -1;  // highest item of the bands finished so far
      bool ranAhead = false;
      std::vector<int> hits(static_cast<std::size_t>(c.count), 0);
      const bool finished = ParallelBands(
          c.count, c.band, 2,
          [&](std::int64_t start) {
            otherThread |= std::this_thread::get_id() != caller;
            starts.push_back(start);
            highestDone = start - 1;
            return start != c.stopAt;
          },
          [&](std::int64_t begin, std::int64_t end) {
            std::lock_guard<std::mutex> lock(mutex);
            for (std::int64_t i = begin; i < end; ++i) {
              ++hits[static_cast<std::size_t>(i)];
              // An item of a later band than the one announced last.
              ranAhead |= i >= highestDone + 1 + c.band;
            }
          });
      const std::int64_t stop = c.stopAt < 0 ? c.count : c.stopAt;
      std::vector<std::int64_t> expectedStarts;
      for (std::int64_t s = 0; s < c.count && s <= stop; s += c.band) expectedStarts.push_back(s);
      std::vector<int> expectedHits(static_cast<std::size_t>(c.count), 0);
      for (std::int64_t i = 0; i < std::min(stop, c.count); ++i)
        expectedHits[static_cast<std::size_t>(i)] = 1;
      const std::string name = std::to_string(threads) + " threads, " + std::to_string(c.count) +
                               " items, band " + std::to_string(c.band) + ", stop " +
                               std::to_string(c.stopAt);
      EXPECT_EQ(finished, c.stopAt < 0) << name;
      EXPECT_EQ(starts, expectedStarts) << name;
      EXPECT_EQ(hits, expectedHits) << name;
      EXPECT_FALSE(otherThread) << name;
      EXPECT_FALSE(ranAhead) << name;
    }
  }
}

}  // namespace
}  // namespace tvq
