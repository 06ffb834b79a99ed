// Named mutexes and instance locks shared by the processes of one machine.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "platform/ErrorCodes.h"
#include "platform/sim/SimPlatform.h"

namespace tv2::sim {
namespace {

constexpr uint32_t kShortMs = 20;

class SimNamedMutexTest : public ::testing::Test {
 protected:
  std::unique_ptr<NamedMutex> open(SimPlatform& platform, bool* existed = nullptr) {
    uint32_t error = 1;
    auto mutex = platform.createNamedMutex("driver-lock", existed, &error);
    EXPECT_NE(mutex, nullptr);
    EXPECT_EQ(error, kOk);
    return mutex;
  }

  // Result of a wait from a new thread, which releases what it got.
  static uint32_t waitFromOtherThread(NamedMutex& mutex, uint32_t timeoutMs) {
    uint32_t result = kWaitFailed;
    std::thread([&] {
      result = mutex.wait(timeoutMs);
      if (result == kWaitObject0 || result == kWaitAbandoned) {
        mutex.release();
      }
    }).join();
    return result;
  }

  std::shared_ptr<SimMachine> m_machine =
      std::make_shared<SimMachine>(SimMachine::preset("nehalem").value());
  SimPlatform m_platform{m_machine};
};

TEST_F(SimNamedMutexTest, OwnerRecursesOthersTimeOut) {
  bool existed = true;
  auto mutex = open(m_platform, &existed);
  EXPECT_FALSE(existed);
  auto again = open(m_platform, &existed);
  EXPECT_TRUE(existed);

  ASSERT_EQ(mutex->wait(0), kWaitObject0);
  ASSERT_EQ(again->wait(kShortMs), kWaitObject0);  // same thread, other handle
  EXPECT_EQ(waitFromOtherThread(*mutex, 0), kWaitTimeout);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(waitFromOtherThread(*mutex, kShortMs), kWaitTimeout);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(kShortMs));

  // Every wait needs its release; only then may another thread have it.
  EXPECT_TRUE(mutex->release());
  EXPECT_EQ(waitFromOtherThread(*mutex, 0), kWaitTimeout);
  EXPECT_TRUE(again->release());
  EXPECT_FALSE(mutex->release());
  EXPECT_EQ(waitFromOtherThread(*mutex, 0), kWaitObject0);
}

TEST_F(SimNamedMutexTest, ReleaseByNonOwnerFails) {
  auto mutex = open(m_platform);
  EXPECT_FALSE(mutex->release());
  ASSERT_EQ(mutex->wait(0), kWaitObject0);
  bool released = true;
  std::thread([&] { released = mutex->release(); }).join();
  EXPECT_FALSE(released);
  // The same thread in another process on the machine is not the owner either.
  SimPlatform other(m_machine);
  auto foreign = open(other);
  EXPECT_FALSE(foreign->release());
  EXPECT_EQ(foreign->wait(0), kWaitTimeout);
  EXPECT_TRUE(mutex->release());
  EXPECT_EQ(foreign->wait(0), kWaitObject0);
  EXPECT_TRUE(foreign->release());
}

TEST_F(SimNamedMutexTest, HeldElsewhereUntilLetGo) {
  m_platform.holdMutexElsewhere("driver-lock", true);
  bool existed = false;
  auto mutex = open(m_platform, &existed);
  EXPECT_TRUE(existed);
  EXPECT_EQ(mutex->wait(kShortMs), kWaitTimeout);

  // A waiter gets it as soon as the other process lets go.
  std::atomic<uint32_t> result{kWaitFailed};
  std::thread waiter([&] {
    result = mutex->wait(0xFFFFFFFF);  // no timeout
    mutex->release();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  m_platform.holdMutexElsewhere("driver-lock", false);
  waiter.join();
  EXPECT_EQ(result.load(), kWaitObject0);
}

TEST_F(SimNamedMutexTest, AbandonedMutexPassesToTheNextWaiter) {
  auto mutex = open(m_platform);
  ASSERT_EQ(mutex->wait(0), kWaitObject0);
  m_platform.abandonMutex("driver-lock");
  // The dead owner's release no longer counts.
  EXPECT_FALSE(mutex->release());

  std::atomic<bool> ownedByWaiter{false};
  std::thread([&] {
    EXPECT_EQ(mutex->wait(kShortMs), kWaitAbandoned);
    EXPECT_EQ(mutex->wait(0), kWaitObject0);  // the waiter owns it now
    ownedByWaiter = mutex->release() && mutex->release();
  }).join();
  EXPECT_TRUE(ownedByWaiter.load());
  EXPECT_EQ(mutex->wait(0), kWaitObject0);  // abandonment reported once
  EXPECT_TRUE(mutex->release());

  // Held elsewhere and abandoned there: the other process died holding it.
  m_platform.holdMutexElsewhere("driver-lock", true);
  EXPECT_EQ(mutex->wait(0), kWaitTimeout);
  m_platform.abandonMutex("driver-lock");
  EXPECT_EQ(mutex->wait(0), kWaitAbandoned);
  EXPECT_TRUE(mutex->release());
}

TEST_F(SimNamedMutexTest, ThreadsOfTwoProcessesExcludeEachOther) {
  SimPlatform other(m_machine);
  auto first = open(m_platform);
  auto second = open(other);
  int counter = 0;  // guarded by the named mutex alone
  auto worker = [&counter](NamedMutex* mutex) {
    for (int i = 0; i < 500; ++i) {
      ASSERT_EQ(mutex->wait(10000), kWaitObject0);
      const int seen = counter;
      std::this_thread::yield();
      counter = seen + 1;
      ASSERT_TRUE(mutex->release());
    }
  };
  std::vector<std::thread> threads;
  threads.emplace_back(worker, first.get());
  threads.emplace_back(worker, first.get());
  threads.emplace_back(worker, second.get());
  for (auto& t : threads) {
    t.join();
  }
  EXPECT_EQ(counter, 1500);
}

TEST_F(SimNamedMutexTest, NamesAreLocalToTheMachine) {
  SimPlatform elsewhere(std::make_shared<SimMachine>(SimMachine::preset("atom").value()));
  auto here = open(m_platform);
  bool existed = true;
  auto there = open(elsewhere, &existed);
  EXPECT_FALSE(existed);
  ASSERT_EQ(here->wait(0), kWaitObject0);
  EXPECT_EQ(waitFromOtherThread(*there, 0), kWaitObject0);
  EXPECT_TRUE(here->release());

  // Once every handle is closed the name is gone.
  here.reset();
  there.reset();
  auto fresh = open(m_platform, &existed);
  EXPECT_FALSE(existed);
}

TEST_F(SimNamedMutexTest, CreationFailures) {
  uint32_t error = kOk;
  EXPECT_EQ(m_platform.createNamedMutex("", nullptr, &error), nullptr);
  EXPECT_EQ(error, kErrorInvalidParameter);
  m_platform.setCreateMutexError(kErrorAccessDenied);
  EXPECT_EQ(m_platform.createNamedMutex("driver-lock", nullptr, &error), nullptr);
  EXPECT_EQ(error, kErrorAccessDenied);
  m_platform.setCreateMutexError(kOk);
  EXPECT_NE(m_platform.createNamedMutex("driver-lock", nullptr, nullptr), nullptr);
}

TEST(SimInstanceLockTest, OneHolderPerNameOnAMachine) {
  auto machine = std::make_shared<SimMachine>(SimMachine::preset("nehalem").value());
  SimPlatform first(machine), second(machine);
  auto lock = first.acquireInstanceLock("tarvelle2");
  ASSERT_NE(lock, nullptr);
  EXPECT_EQ(second.acquireInstanceLock("tarvelle2"), nullptr);
  EXPECT_EQ(first.acquireInstanceLock("tarvelle2"), nullptr);
  EXPECT_NE(second.acquireInstanceLock("other"), nullptr);
  lock.reset();  // the holder ends
  lock = second.acquireInstanceLock("tarvelle2");
  EXPECT_NE(lock, nullptr);
  lock.reset();

  first.setInstanceLockHeldElsewhere("tarvelle2", true);
  EXPECT_EQ(second.acquireInstanceLock("tarvelle2"), nullptr);
  first.setInstanceLockHeldElsewhere("tarvelle2", false);
  EXPECT_NE(second.acquireInstanceLock("tarvelle2"), nullptr);
}

}  // namespace
}  // namespace tv2::sim
