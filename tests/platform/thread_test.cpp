#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "platform/thread.h"
#include "platform/vorn_thread.h"
#include "tests/support/test_support.h"

namespace {

class LambdaThread : public TThread {
 public:
  explicit LambdaThread(std::function<void(LambdaThread &)> body, bool suspended = true)
      : TThread(true), m_body(std::move(body)) {
    if (!suspended) Resume();
  }
  ~LambdaThread() override {
    Terminate();
    WaitFor();
  }
  using TThread::InterruptibleSleep;
  using TThread::Terminated;

 protected:
  void Execute() override { m_body(*this); }

 private:
  std::function<void(LambdaThread &)> m_body;
};

}  // namespace

TEST(TThread, suspendedThread_runsOnlyAfterResume) {
  std::atomic<int> runs{0};
  LambdaThread t([&](LambdaThread &) { ++runs; });
  EXPECT_TRUE(t.Suspended());
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(runs.load(), 0);
  t.Resume();
  t.WaitFor();
  EXPECT_EQ(runs.load(), 1);
  EXPECT_TRUE(t.Finished());
  EXPECT_NE(t.Handle(), pthread_t{});
}

TEST(TThread, deletingANeverStartedThread_neverRunsItsBody) {
  std::atomic<int> runs{0};
  {
    LambdaThread t([&](LambdaThread &) { ++runs; });
  }
  EXPECT_EQ(runs.load(), 0);
}

TEST(TThread, terminate_isSeenByTheBodyAndWaitForReturnsValue) {
  struct Looper : TThread {
    Looper() : TThread(true) { Resume(); }
    ~Looper() override { WaitFor(); }
    void Execute() override {
      while (!Terminated()) Sleep(1);
      SetReturnValue(42);
    }
  } t;
  EXPECT_FALSE(t.Terminated());
  t.Terminate();
  EXPECT_TRUE(t.Terminated());
  EXPECT_EQ(t.WaitFor(), 42);
}

// A minute's sleep ends as soon as it is asked to: the 20 s guard of
// WaitUntil is only reached if the wake-up were lost.
TEST(TThread, interruptibleSleep_endsOnTerminate_orOnWakeWhenItsStopHolds) {
  std::atomic<bool> stop{false};
  std::atomic<int> sleeps{0};
  LambdaThread waker([&](LambdaThread &self) {
    ++sleeps;
    self.InterruptibleSleep(60000, [&] { return stop.load(); });
  });
  waker.Resume();
  ASSERT_TRUE(orvan::test::WaitUntil([&] { return sleeps.load() == 1; }));
  stop.store(true);
  waker.WakeSleep();
  EXPECT_TRUE(orvan::test::WaitUntil([&] { return waker.Finished(); }));

  LambdaThread sleeper([&](LambdaThread &self) {
    ++sleeps;
    self.InterruptibleSleep(60000);
  });
  sleeper.Resume();
  ASSERT_TRUE(orvan::test::WaitUntil([&] { return sleeps.load() == 2; }));
  sleeper.Terminate();
  EXPECT_TRUE(orvan::test::WaitUntil([&] { return sleeper.Finished(); }));
}

TEST(TThread, exceptionInBody_endsThreadWithoutTakingTheProcessDown) {
  LambdaThread t([](LambdaThread &) { throw std::runtime_error("boom"); }, false);
  t.WaitFor();
  EXPECT_TRUE(t.Finished());
}

TEST(TThread, synchronize_runsOnMainThreadAndWaits) {
  std::atomic<bool> ranOnMain{false};
  std::atomic<bool> after{false};
  LambdaThread t(
      [&](LambdaThread &) {
        TThread::Synchronize([&] { ranOnMain = TThread::IsMainThread(); });
        after = true;
      },
      false);
  // Nothing runs the call until the main thread services it.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(after.load());
  ASSERT_TRUE(TThread::WaitWhileServicing([&] { return after.load(); }, 20000));
  EXPECT_TRUE(ranOnMain.load());
}

TEST(TThread, workerInSynchronizeWhileMainWaitsFor_doesNotDeadlock) {
  int counter = 0;  // touched on the main thread only
  LambdaThread t(
      [&](LambdaThread &) {
        for (int i = 0; i < 50; ++i) TThread::Synchronize([&] { ++counter; });
      },
      false);
  t.WaitFor();  // services the 50 calls while it waits
  EXPECT_EQ(counter, 50);
}

TEST(TThread, synchronizeOnMainThread_runsDirectly) {
  bool ran = false;
  TThread::Synchronize([&] { ran = true; });
  EXPECT_TRUE(ran);
}

TEST(TThread, synchronizedCallThatThrows_releasesTheWorker) {
  std::atomic<bool> after{false};
  LambdaThread t(
      [&](LambdaThread &) {
        TThread::Synchronize([] { throw std::runtime_error("fails on the main thread"); });
        after = true;
      },
      false);
  t.WaitFor();
  EXPECT_TRUE(after.load());
}

TEST(TThread, wakeupHook_isCalledWhenACallIsQueued) {
  std::atomic<int> wakeups{0};
  TThread::SetSynchronizeWakeup([&] { ++wakeups; });
  LambdaThread t([](LambdaThread &) { TThread::Synchronize([] {}); }, false);
  t.WaitFor();
  TThread::SetSynchronizeWakeup({});
  EXPECT_GE(wakeups.load(), 1);
}

TEST(TThread, checkSynchronize_offMainThreadDoesNothing) {
  std::atomic<bool> result{true};
  LambdaThread t([&](LambdaThread &) { result = TThread::CheckSynchronize(0); }, false);
  t.WaitFor();
  EXPECT_FALSE(result.load());
}

TEST(TThread, waitWhileServicing_timesOutOnAConditionThatNeverHolds) {
  EXPECT_FALSE(TThread::WaitWhileServicing([] { return false; }, 30));
}

TEST(TThread, waitForFromAnotherWorker_blocksUntilTheEnd) {
  std::atomic<bool> release{false};
  LambdaThread slow(
      [&](LambdaThread &) {
        while (!release) Sleep(1);
      },
      false);
  std::atomic<bool> waited{false};
  LambdaThread waiter(
      [&](LambdaThread &) {
        slow.WaitFor();
        waited = true;
      },
      false);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(waited.load());
  release = true;
  waiter.WaitFor();
  EXPECT_TRUE(waited.load());
}

// Affinity rotation of the worker base.

namespace {
struct PinnedThread : TVornThread {
  PinnedThread() : TVornThread(true) {}
  void Execute() override {}
};

std::vector<uint32_t> MasksFor(uint32_t active, int count) {
  TVornThread::SetActiveProcessorMaskForTesting(active);
  TVornThread::ResetAffinityRotation();
  std::vector<uint32_t> masks;
  for (int i = 0; i < count; ++i) {
    PinnedThread t;
    masks.push_back(t.RequestedAffinityMask());
  }
  TVornThread::SetActiveProcessorMaskForTesting(0);
  TVornThread::ResetAffinityRotation();
  return masks;
}
}  // namespace

TEST(TVornThread, affinityRotation_followsTheActiveMask) {
  EXPECT_EQ(MasksFor(1, 3), (std::vector<uint32_t>{1, 1, 1}));
  EXPECT_EQ(MasksFor(3, 5), (std::vector<uint32_t>{2, 1, 2, 1, 2}));
  EXPECT_EQ(MasksFor(15, 6), (std::vector<uint32_t>{2, 4, 8, 1, 2, 4}));
  EXPECT_EQ(MasksFor(5, 4), (std::vector<uint32_t>{2, 4, 1, 2}));
  // All 32 processors: the shift runs off the top and wraps to 1.
  const auto all = MasksFor(0xFFFFFFFFu, 33);
  EXPECT_EQ(all[30], 0x80000000u);
  EXPECT_EQ(all[31], 1u);
}

TEST(TVornThread, maskNamingAnUnavailableProcessor_keepsDefaultAffinity) {
  TVornThread::SetActiveProcessorMaskForTesting(5);
  TVornThread::ResetAffinityRotation();
  PinnedThread first;  // asks for processor 1, which mask 5 does not have
  EXPECT_EQ(first.RequestedAffinityMask(), 2u);
  EXPECT_FALSE(first.Pinned());
  TVornThread::SetActiveProcessorMaskForTesting(0);
  TVornThread::ResetAffinityRotation();
  PinnedThread real;  // the real machine: mask 2 if it has two processors, else 1
  const uint32_t active = TVornThread::ActiveProcessorMask();
  EXPECT_EQ(real.Pinned(), (real.RequestedAffinityMask() & ~active) == 0);
  TVornThread::ResetAffinityRotation();
}
