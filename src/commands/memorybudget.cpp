#include "commands/memorybudget.h"

#include <algorithm>
#include <chrono>

namespace tvq {

std::uint64_t MemoryBudget::Used() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return used_;
}

std::uint64_t MemoryBudget::Reserve(std::uint64_t bytes, const StopFlag* stop,
                                    const std::function<void()>& waiting) {
  if (capacity_ != 0) bytes = std::min(bytes, capacity_);
  std::unique_lock<std::mutex> lock(mutex_);
  bool told = false;
  while (capacity_ != 0 && used_ + bytes > capacity_) {
    ThrowIfStopped(stop);
    if (!told && waiting) {
      told = true;
      lock.unlock();
      waiting();
      lock.lock();
      continue;
    }
    freed_.wait_for(lock, std::chrono::milliseconds(50));
  }
  ThrowIfStopped(stop);
  used_ += bytes;
  return bytes;
}

void MemoryBudget::Take(std::uint64_t bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  used_ += bytes;
}

void MemoryBudget::Release(std::uint64_t bytes) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    used_ -= std::min(bytes, used_);
  }
  freed_.notify_all();
}

void MemoryReservation::Set(std::uint64_t bytes) {
  if (budget_ == nullptr) return;
  if (bytes < held_)
    budget_->Release(held_ - bytes);
  else if (bytes > held_)
    budget_->Take(bytes - held_);
  held_ = bytes;
}

void MemoryReservation::Wait(std::uint64_t bytes, const StopFlag* stop,
                             const std::function<void()>& waiting) {
  if (budget_ == nullptr) return;
  if (budget_->Capacity() != 0) bytes = std::min(bytes, budget_->Capacity());
  if (bytes <= held_) {
    Set(bytes);
    return;
  }
  Set(0);
  held_ = budget_->Reserve(bytes, stop, waiting);
}

void MemoryReservation::Settle(std::uint64_t bytes, const StopFlag* stop,
                               const std::function<void()>& waiting) {
  if (budget_ == nullptr) return;
  if (held_ == 0)
    Wait(bytes, stop, waiting);
  else
    Set(bytes);
}

}  // namespace tvq
