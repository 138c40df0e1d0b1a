// Deletes filter objects on threads of their own: a filter object's
// teardown stops and waits for its two workers, which its owner's thread
// (the GUI thread, destroying a viewer) should not do inline. The killer's
// destructor returns only when every filter object handed to it is gone.
#pragma once

#include <atomic>

#include "media/locks.h"
#include "media/vorn_list.h"
#include "platform/vorn_thread.h"

class VornFilterObj;

class VornFilterObjKiller {
 public:
  class CKillerThread : public TVornThread {
   public:
    // Owns the filter object from here on (may be null) and starts at once.
    explicit CKillerThread(VornFilterObj *filter);
    ~CKillerThread() override;
    bool Done() const { return m_done.load(std::memory_order_acquire); }

   protected:
    void Execute() override;

   private:
    VornFilterObj *m_filter;
    std::atomic<bool> m_done{false};  // set as the body's last act; read under the killer's lock
  };

  VornFilterObjKiller() = default;
  // Waits, 1 ms at a time, until every thread has finished, and reaps them.
  ~VornFilterObjKiller();
  VornFilterObjKiller(const VornFilterObjKiller &) = delete;
  VornFilterObjKiller &operator=(const VornFilterObjKiller &) = delete;

  // Starts a thread that deletes the filter object, then reaps the threads
  // that are done. The thread that owns the killer calls it.
  void Kill(VornFilterObj *filter);

  // Threads started and not yet reaped.
  uint32_t PendingThreads();

 private:
  static void Reap(CKillerThread *thread);

  CTeskCriticalSection m_lock;  // guards m_threads
  TVornList<CKillerThread *> m_threads;
};
