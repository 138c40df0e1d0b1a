#include "platform/thread.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <sched.h>
#include <chrono>
#include <deque>
#include <exception>

#include "platform/log.h"

namespace {

constexpr const char *kLogCategory = "thread";

// Requests queued by Synchronize(), run by the main thread.
struct SyncRequest {
  const std::function<void()> *fn;
  bool done = false;
};

// The hub wakes the main thread for two reasons: a request was queued, or a
// worker finished (or something a main-thread wait watches changed).
struct SyncHub {
  std::mutex lock;                   // guards queue, done flags, wakeup, generation
  std::condition_variable mainWake;  // the main thread waits here
  std::condition_variable callDone;  // workers in Synchronize() wait here
  std::deque<SyncRequest *> queue;
  std::function<void()> wakeup;
  uint64_t generation = 0;  // bumped by every WakeMainThread()
};

SyncHub &Hub() {
  static SyncHub hub;
  return hub;
}

// The thread that runs static initialisation is the process's first thread.
std::atomic<std::thread::id> g_mainThread{std::this_thread::get_id()};

int NiceFor(TThreadPriority p) {
  switch (p) {
    case tpIdle:
      return 19;
    case tpLowest:
      return 10;
    case tpLower:
      return 5;
    case tpNormal:
      return 0;
    case tpHigher:
      return -5;
    case tpHighest:
      return -10;
    case tpTimeCritical:
      return -15;
  }
  return 0;
}

}  // namespace

TThread::TThread(bool createSuspended) {
  m_thread = std::thread([this] { ThreadProc(); });
  m_handle = m_thread.native_handle();
  (void)createSuspended;  // the body starts on Resume(); see the header
}

TThread::~TThread() {
  bool started;
  {
    std::lock_guard<std::mutex> g(m_gateLock);
    started = m_started;
    if (!started) m_cancelled = true;
  }
  m_gate.notify_all();
  if (started && !Finished()) {
    ORVAN_LOG_WARN(kLogCategory, "a thread object is deleted while its body still runs");
    Terminate();
    WaitFor();
  }
  if (m_thread.joinable()) m_thread.join();
}

void TThread::Resume() {
  {
    std::lock_guard<std::mutex> g(m_gateLock);
    if (m_cancelled) return;
    m_started = true;
  }
  m_gate.notify_all();
}

bool TThread::Suspended() const {
  std::lock_guard<std::mutex> g(m_gateLock);
  return !m_started;
}

void TThread::Terminate() {
  m_terminated.store(true, std::memory_order_release);
  WakeSleep();
}

void TThread::WakeSleep() {
  // Taking the lock orders this wake-up after any check a sleeper is making.
  { std::lock_guard<std::mutex> g(m_sleepLock); }
  m_sleepWake.notify_all();
}

void TThread::InterruptibleSleep(int64_t milliseconds, const std::function<bool()> &stop) {
  if (milliseconds <= 0) return;
  std::unique_lock<std::mutex> l(m_sleepLock);
  m_sleepWake.wait_for(l, std::chrono::milliseconds(milliseconds),
                       [&] { return Terminated() || (stop && stop()); });
}

int TThread::WaitFor() {
  if (std::this_thread::get_id() == m_thread.get_id()) return ReturnValue();
  {
    std::lock_guard<std::mutex> g(m_gateLock);
    if (!m_started) return ReturnValue();
  }
  if (IsMainThread()) {
    WaitWhileServicing([this] { return Finished(); }, -1);
  } else {
    std::unique_lock<std::mutex> l(m_endLock);
    m_ended.wait(l, [this] { return Finished(); });
  }
  return ReturnValue();
}

void TThread::SetPriority(TThreadPriority priority) {
  m_priority.store(priority);
  if (ThreadId() != 0) ApplyPriority();
}

void TThread::ApplyPriority() {
  const pid_t tid = ThreadId();
  if (tid == 0) return;
  // Per-thread nice value on Linux. Raising priority needs rights we may not
  // have; the thread then simply keeps the normal one.
  if (setpriority(PRIO_PROCESS, static_cast<id_t>(tid), NiceFor(m_priority.load())) != 0)
    ORVAN_LOG_DEBUG(kLogCategory, "priority %d not applied", int(m_priority.load()));
}

bool TThread::SetAffinityMask(uint64_t cpuMask) {
  if (cpuMask == 0) return false;
  cpu_set_t set;
  CPU_ZERO(&set);
  for (int cpu = 0; cpu < 64; ++cpu)
    if (cpuMask & (uint64_t(1) << cpu)) CPU_SET(cpu, &set);
  return pthread_setaffinity_np(m_handle, sizeof set, &set) == 0;
}

void TThread::ThreadProc() {
  m_tid.store(static_cast<pid_t>(syscall(SYS_gettid)), std::memory_order_release);
  {
    std::unique_lock<std::mutex> l(m_gateLock);
    m_gate.wait(l, [this] { return m_started || m_cancelled; });
    if (m_cancelled && !m_started) return;
  }
  ApplyPriority();
  try {
    Execute();
  } catch (const std::exception &e) {
    ORVAN_LOG_ERROR(kLogCategory, "thread body ended by an exception: %s", e.what());
  } catch (...) {
    ORVAN_LOG_ERROR(kLogCategory, "thread body ended by an unknown exception");
  }
  {
    std::lock_guard<std::mutex> l(m_endLock);
    m_finished.store(true, std::memory_order_release);
  }
  m_ended.notify_all();
  WakeMainThread();
}

bool TThread::IsMainThread() { return std::this_thread::get_id() == g_mainThread.load(); }

void TThread::SetMainThread() { g_mainThread.store(std::this_thread::get_id()); }

void TThread::Synchronize(const std::function<void()> &fn) {
  if (IsMainThread()) {
    fn();
    return;
  }
  SyncHub &hub = Hub();
  SyncRequest request{&fn};
  std::function<void()> wakeup;
  {
    std::lock_guard<std::mutex> l(hub.lock);
    hub.queue.push_back(&request);
    wakeup = hub.wakeup;
  }
  hub.mainWake.notify_all();
  if (wakeup) wakeup();
  std::unique_lock<std::mutex> l(hub.lock);
  hub.callDone.wait(l, [&] { return request.done; });
}

bool TThread::CheckSynchronize(int timeoutMs) {
  if (!IsMainThread()) return false;
  SyncHub &hub = Hub();
  std::deque<SyncRequest *> batch;
  {
    std::unique_lock<std::mutex> l(hub.lock);
    if (hub.queue.empty() && timeoutMs > 0) {
      const uint64_t gen = hub.generation;
      hub.mainWake.wait_for(l, std::chrono::milliseconds(timeoutMs),
                            [&] { return !hub.queue.empty() || hub.generation != gen; });
    }
    batch.swap(hub.queue);
  }
  if (batch.empty()) return false;
  for (SyncRequest *request : batch) {
    try {
      (*request->fn)();
    } catch (const std::exception &e) {
      ORVAN_LOG_ERROR(kLogCategory, "synchronized call threw: %s", e.what());
    } catch (...) {
      ORVAN_LOG_ERROR(kLogCategory, "synchronized call threw an unknown exception");
    }
    {
      std::lock_guard<std::mutex> l(hub.lock);
      request->done = true;
    }
    hub.callDone.notify_all();
  }
  return true;
}

void TThread::SetSynchronizeWakeup(std::function<void()> hook) {
  std::lock_guard<std::mutex> l(Hub().lock);
  Hub().wakeup = std::move(hook);
}

void TThread::WakeMainThread() {
  SyncHub &hub = Hub();
  {
    std::lock_guard<std::mutex> l(hub.lock);
    ++hub.generation;
  }
  hub.mainWake.notify_all();
}

bool TThread::WaitWhileServicing(const std::function<bool()> &done, int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  SyncHub &hub = Hub();
  for (;;) {
    CheckSynchronize(0);
    if (done()) return true;
    if (timeoutMs >= 0 && Clock::now() >= deadline) return done();
    std::unique_lock<std::mutex> l(hub.lock);
    const uint64_t gen = hub.generation;
    if (!hub.queue.empty()) continue;
    if (done()) return true;  // re-checked under the lock: no lost wake-up
    // A bounded slice, so a condition nobody signals is still seen soon.
    auto until = Clock::now() + std::chrono::milliseconds(10);
    if (timeoutMs >= 0 && deadline < until) until = deadline;
    hub.mainWake.wait_until(l, until, [&] { return !hub.queue.empty() || hub.generation != gen; });
  }
}

void Sleep(int64_t milliseconds) {
  if (milliseconds <= 0) {
    std::this_thread::yield();
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
