// One memory budget for a process that works on several pictures at once (a batch's
// files under --jobs): a picture's work starts only when its estimated peak fits
// beside the reservations of the pictures already running.
//
// No deadlock: a picture waits only while it holds nothing, and a picture that holds a
// reservation never waits (it may shrink it, or grow it at once), so the pictures that
// hold memory always finish and release it. A request larger than the whole budget is
// cut to the budget: such a picture runs alone (refusing pictures too large for the
// limit is the estimate's check, not the budget's).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

#include "imaging/progress.h"

namespace tvq {

class MemoryBudget {
 public:
  // `capacity` bytes; 0 is no limit (every request is granted at once).
  explicit MemoryBudget(std::uint64_t capacity) : capacity_(capacity) {}
  MemoryBudget(const MemoryBudget&) = delete;
  MemoryBudget& operator=(const MemoryBudget&) = delete;

  std::uint64_t Capacity() const { return capacity_; }
  // The bytes reserved now.
  std::uint64_t Used() const;

  // Waits until `bytes` (cut to the capacity) fit beside the bytes reserved, then
  // reserves them and returns the amount reserved. `waiting` is called once, before
  // the first wait, when the bytes do not fit at once. Throws OperationStopped when
  // `stop` is set while waiting (it is polled every few hundredths of a second, since
  // a signal handler cannot wake the wait).
  std::uint64_t Reserve(std::uint64_t bytes, const StopFlag* stop,
                        const std::function<void()>& waiting = {});
  // Reserves `bytes` at once, beyond the capacity if it must, for a picture that already
  // holds a reservation and needs more: waiting while holding could deadlock.
  void Take(std::uint64_t bytes);
  // Gives back bytes reserved by Reserve or Take.
  void Release(std::uint64_t bytes);

 private:
  const std::uint64_t capacity_;
  mutable std::mutex mutex_;
  std::condition_variable freed_;
  std::uint64_t used_ = 0;
};

// One picture's share of a MemoryBudget (none: no budget), given back when it ends.
class MemoryReservation {
 public:
  explicit MemoryReservation(MemoryBudget* budget) : budget_(budget) {}
  ~MemoryReservation() { Set(0); }
  MemoryReservation(const MemoryReservation&) = delete;
  MemoryReservation& operator=(const MemoryReservation&) = delete;

  std::uint64_t Held() const { return held_; }
  // Holds `bytes`: a smaller reservation than the one held shrinks it; a larger one is
  // waited for with nothing held (the reservation held is given back first).
  void Wait(std::uint64_t bytes, const StopFlag* stop, const std::function<void()>& waiting = {});
  // Holds `bytes` without waiting when some bytes are held already (growing beyond the
  // capacity if it must); with nothing held, Wait.
  void Settle(std::uint64_t bytes, const StopFlag* stop, const std::function<void()>& waiting = {});

 private:
  void Set(std::uint64_t bytes);

  MemoryBudget* budget_;
  std::uint64_t held_ = 0;
};

}  // namespace tvq
