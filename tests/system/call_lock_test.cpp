// The engine call lock: recursion for its owner, first come first served for the others, and
// closing and making it again.
#include "system/call_lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/win32/kernel.h"

namespace {

void WaitForWaiters(int count) {
  while (GetEngineCallLockWaiterCount() < count) Sleep(1);
}

TEST(EngineCallLock, IsRecursiveForItsOwnerAndFreeAfterTheLastRelease) {
  AcquireEngineCallLock();
  AcquireEngineCallLock();
  AcquireEngineCallLock();
  EXPECT_EQ(IsEngineCallLockHeldByCaller(), 1);
  std::atomic<int> entered{0};
  std::thread other([&] {
    AcquireEngineCallLock();
    entered = 1;
    ReleaseEngineCallLock();
  });
  WaitForWaiters(1);
  ReleaseEngineCallLock();
  ReleaseEngineCallLock();
  Sleep(20);
  EXPECT_EQ(entered.load(), 0);  // nobody is let in before the last release
  EXPECT_EQ(IsEngineCallLockHeldByCaller(), 1);
  ReleaseEngineCallLock();
  other.join();
  EXPECT_EQ(entered.load(), 1);
  EXPECT_EQ(IsEngineCallLockHeldByCaller(), 0);
  EXPECT_EQ(GetEngineCallLockWaiterCount(), 0);
}

TEST(EngineCallLock, WaitersAreServedInArrivalOrderAndANewcomerQueuesBehindThem) {
  std::mutex orderLock;
  std::vector<int> order;
  auto worker = [&](int id) {
    AcquireEngineCallLock();
    {
      std::lock_guard<std::mutex> guard(orderLock);
      order.push_back(id);
    }
    Sleep(5);
    ReleaseEngineCallLock();
  };
  AcquireEngineCallLock();
  std::thread second(worker, 2);
  WaitForWaiters(1);
  std::thread third(worker, 3);
  WaitForWaiters(2);
  ReleaseEngineCallLock();
  std::thread fourth(worker, 4);
  second.join();
  third.join();
  fourth.join();
  EXPECT_EQ(order, (std::vector<int>{2, 3, 4}));
}

TEST(EngineCallLock, ManyThreadsEachGetTheLockAlone) {
  int inside = 0;
  int most = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 200; ++i) {
        AcquireEngineCallLock();
        ++inside;
        if (inside > most) most = inside;
        --inside;
        ReleaseEngineCallLock();
      }
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(most, 1);
  EXPECT_EQ(GetEngineCallLockWaiterCount(), 0);
}

TEST(EngineCallLock, CanBeClosedAndMadeAgain) {
  AcquireEngineCallLock();
  ReleaseEngineCallLock();
  CloseEngineCallLock();
  CloseEngineCallLock();
  std::atomic<int> entered{0};
  AcquireEngineCallLock();
  std::thread other([&] {
    AcquireEngineCallLock();
    entered = 1;
    ReleaseEngineCallLock();
  });
  WaitForWaiters(1);
  ReleaseEngineCallLock();
  other.join();
  EXPECT_EQ(entered.load(), 1);
  CloseEngineCallLock();
}

TEST(EngineCallLock, ClosingWhileHeldOrWaitedOnLeavesItWorking) {
  AcquireEngineCallLock();
  std::atomic<int> entered{0};
  std::thread other([&] {
    AcquireEngineCallLock();
    entered = 1;
    ReleaseEngineCallLock();
  });
  WaitForWaiters(1);
  CloseEngineCallLock();
  ReleaseEngineCallLock();
  other.join();
  EXPECT_EQ(entered.load(), 1);
}

TEST(EngineCallLock, FirstUseFromManyThreadsAtOnceMakesItOnce) {
  // Run in a fresh process, where the lock has never been made.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        std::atomic<int> inside{0};
        std::atomic<int> most{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 8; ++t)
          threads.emplace_back([&] {
            AcquireEngineCallLock();
            const int now = ++inside;
            if (now > most) most = now;
            --inside;
            ReleaseEngineCallLock();
          });
        for (auto& thread : threads) thread.join();
        std::exit(most == 1 ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(EngineCallLock, AReleaseByAThreadThatDoesNotHoldItIsIgnored) {
  AcquireEngineCallLock();
  std::thread stranger([] { ReleaseEngineCallLock(); });
  stranger.join();
  EXPECT_EQ(IsEngineCallLockHeldByCaller(), 1);
  ReleaseEngineCallLock();
  EXPECT_EQ(IsEngineCallLockHeldByCaller(), 0);
}

}  // namespace
