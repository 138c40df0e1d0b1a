#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "display/worker_thread.h"
#include "tests/support/test_support.h"

namespace {
struct Counter {
  std::atomic<int> calls{0};
  int32_t sleepMs = 0;
  char threadName[16] = {};
  static int32_t Step(void *self) {
    auto *c = static_cast<Counter *>(self);
    if (c->calls++ == 0) pthread_getname_np(pthread_self(), c->threadName, sizeof c->threadName);
    return c->sleepMs;
  }
};
}  // namespace

TEST(ProcessObjThread, runsTheFunctionRepeatedlyUnderItsName) {
  Counter counter;
  auto *t = new ProcessObjThread("ProcessFrameWithALongName");
  t->SetProcessFunction(&Counter::Step);
  t->SetUserData(&counter);
  EXPECT_EQ(counter.calls.load(), 0);  // made suspended
  EXPECT_EQ(t->Priority(), tpLower);
  t->Resume();
  ASSERT_TRUE(orvan::test::WaitUntil([&] { return counter.calls.load() >= 100; }));
  t->Terminate();
  t->WaitFor();
  delete t;
  EXPECT_STREQ(counter.threadName, "ProcessFrameWit");  // cut to 15 characters
}

TEST(ProcessObjThread, terminate_endsAfterTheCurrentCallAndItsSleep) {
  Counter counter;
  counter.sleepMs = 500;
  ProcessObjThread t("ProcessRender");
  t.SetProcessFunction(&Counter::Step);
  t.SetUserData(&counter);
  t.Resume();
  ASSERT_TRUE(orvan::test::WaitUntil([&] { return counter.calls.load() == 1; }));
  t.Terminate();
  EXPECT_FALSE(t.Finished());  // still in the 500 ms sleep
  t.WaitFor();
  EXPECT_TRUE(t.Finished());
  EXPECT_EQ(counter.calls.load(), 1);  // no call after the terminate request
}
