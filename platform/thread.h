// The framework thread class: an object owning one worker thread that runs
// Execute() until it returns, with a terminate request, a wait for its end,
// and Synchronize(), which runs a function on the main thread while the
// worker waits.
//
// Starting: the worker is created with the object (so Handle() is valid at
// once) but runs Execute() only after Resume(). A class that should start
// running when it is made calls Resume() as the last step of its most
// derived constructor: the body must never run against a half-built object.
//
// Stopping is one protocol everywhere: Terminate(), WaitFor(), delete, and
// only then close what the thread reads. Deleting a thread whose Execute()
// is still running first terminates and waits for it.
//
// Main-thread servicing: a worker blocked in Synchronize() waits until the
// main thread runs the call, from its event loop (the wake-up hook the GUI
// installs) or from CheckSynchronize(). Every wait the main thread does on
// a worker (WaitFor, WaitWhileServicing) keeps running those calls, so a
// worker inside Synchronize() can never deadlock or stall the main thread.
#pragma once

#include <pthread.h>
#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

class TThread {
 public:
  explicit TThread(bool createSuspended);
  virtual ~TThread();
  TThread(const TThread &) = delete;
  TThread &operator=(const TThread &) = delete;

  // Lets a suspended thread run Execute(); no effect once started.
  void Resume();
  // Asks Execute() to end; it reads the request through Terminated(). Ends
  // an InterruptibleSleep() at once.
  void Terminate();
  // Ends the worker's InterruptibleSleep() early when its stop condition
  // now holds. Called by whoever changed what that condition reads.
  void WakeSleep();
  bool Terminated() const { return m_terminated.load(std::memory_order_acquire); }
  // Blocks until Execute() has returned (or, for a thread that never
  // started, returns at once). On the main thread it runs pending
  // synchronized calls while it waits. Returns ReturnValue().
  int WaitFor();
  bool Finished() const { return m_finished.load(std::memory_order_acquire); }
  bool Suspended() const;

  pthread_t Handle() const { return m_handle; }
  // Linux thread id of the worker once it has started, else 0.
  pid_t ThreadId() const { return m_tid.load(std::memory_order_acquire); }

  void SetPriority(TThreadPriority priority);
  TThreadPriority Priority() const { return m_priority.load(); }
  // Pins the worker to the CPUs whose bits are set. False when the platform
  // refuses (for example a CPU that is not available to this process).
  bool SetAffinityMask(uint64_t cpuMask);

  int ReturnValue() const { return m_returnValue.load(); }

  // Runs fn on the main thread and returns when it has run. Called on the
  // main thread, runs fn directly. Exceptions fn throws are logged and end
  // there; they never cross into the calling worker.
  static void Synchronize(const std::function<void()> &fn);
  // Main thread only: runs every pending synchronized call; with a timeout,
  // first waits up to that long for one to arrive. True if any ran.
  static bool CheckSynchronize(int timeoutMs = 0);
  // The GUI installs a hook that schedules CheckSynchronize() on its event
  // loop; it is called (from the worker) whenever a call is queued. Pass an
  // empty function to remove it.
  static void SetSynchronizeWakeup(std::function<void()> hook);
  // Main thread only: waits until done() is true or timeoutMs has passed
  // (negative: no limit), running synchronized calls meanwhile. Returns
  // done()'s last value.
  static bool WaitWhileServicing(const std::function<bool()> &done, int timeoutMs);
  // Wakes a main thread that waits in WaitWhileServicing() or
  // CheckSynchronize(timeout) so it re-checks its condition at once.
  static void WakeMainThread();

  static bool IsMainThread();
  // Names the calling thread the main thread. By default it is the thread
  // that started the process.
  static void SetMainThread();

 protected:
  virtual void Execute() = 0;
  void SetReturnValue(int value) { m_returnValue.store(value); }
  // Worker only: sleeps up to `milliseconds`, ending early when termination
  // is requested, or when `stop` (if given) holds at the start or after a
  // WakeSleep(). `stop` reads atomics only; it runs under m_sleepLock.
  void InterruptibleSleep(int64_t milliseconds, const std::function<bool()> &stop = {});

 private:
  void ThreadProc();
  void ApplyPriority();

  std::thread m_thread;
  pthread_t m_handle{};
  std::atomic<pid_t> m_tid{0};
  std::atomic<bool> m_terminated{false};
  std::atomic<bool> m_finished{false};
  std::atomic<TThreadPriority> m_priority{tpNormal};
  std::atomic<int> m_returnValue{0};

  // m_gateLock guards m_started and m_cancelled, the start gate the worker
  // waits on before Execute().
  mutable std::mutex m_gateLock;
  std::condition_variable m_gate;
  bool m_started = false;
  bool m_cancelled = false;

  // m_sleepLock orders a sleeping worker's check of its stop condition
  // against Terminate() and WakeSleep(), so a wake-up is never lost.
  std::mutex m_sleepLock;
  std::condition_variable m_sleepWake;

  // m_endLock/m_ended let non-main threads wait for m_finished.
  std::mutex m_endLock;
  std::condition_variable m_ended;
};

// Sleep for a number of milliseconds (negative counts as zero).
void Sleep(int64_t milliseconds);
