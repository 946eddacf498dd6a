#include "commands/memorybudget.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace tvq {
namespace {

// Requests that fit are granted at once; one beyond the whole budget is cut to it;
// shrinking and growing a held reservation never waits; everything is given back.
TEST(MemoryBudgetTest, ReservationsAddUpAndAreGivenBack) {
  MemoryBudget budget(100);
  {
    MemoryReservation a(&budget), b(&budget);
    a.Wait(60, nullptr);
    b.Wait(40, nullptr);
    EXPECT_EQ(budget.Used(), 100u);
    a.Wait(30, nullptr);  // smaller: shrinks
    EXPECT_EQ(budget.Used(), 70u);
    b.Settle(90, nullptr);  // held: grows at once, beyond the capacity
    EXPECT_EQ(budget.Used(), 120u);
  }
  EXPECT_EQ(budget.Used(), 0u);
  {
    MemoryReservation alone(&budget);
    alone.Wait(500, nullptr);
    EXPECT_EQ(alone.Held(), 100u);
  }
  MemoryBudget unlimited(0);
  MemoryReservation any(&unlimited);
  any.Wait(1ull << 60, nullptr);
  EXPECT_EQ(unlimited.Used(), 1ull << 60);
  MemoryReservation none(nullptr);
  none.Wait(10, nullptr);
  EXPECT_EQ(none.Held(), 0u);
}

// A request that does not fit waits, says so once, and goes on when memory is given
// back; a stop ends the wait; a reservation that grows while another waits gives its
// bytes back first, so two growing pictures cannot hold each other up.
TEST(MemoryBudgetTest, WaitsUntilItFitsOrStops) {
  MemoryBudget budget(100);
  auto holder = std::make_unique<MemoryReservation>(&budget);
  holder->Wait(70, nullptr);

  std::atomic<int> told{0};
  std::atomic<bool> granted{false};
  std::thread waiter([&] {
    MemoryReservation mine(&budget);
    mine.Wait(50, nullptr, [&] { ++told; });
    granted = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  EXPECT_FALSE(granted.load());
  EXPECT_EQ(told.load(), 1);
  holder.reset();
  waiter.join();
  EXPECT_TRUE(granted.load());
  EXPECT_EQ(budget.Used(), 0u);

  MemoryReservation a(&budget), b(&budget);
  a.Wait(60, nullptr);
  b.Wait(40, nullptr);
  StopFlag stop{false};
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    stop = true;
  });
  // Growing `b` to 50 gives its 40 back and waits for a's 60: a stop ends the wait.
  EXPECT_THROW(b.Wait(50, &stop), OperationStopped);
  stopper.join();
  EXPECT_EQ(b.Held(), 0u);
  EXPECT_EQ(budget.Used(), 60u);
}

}  // namespace
}  // namespace tvq
