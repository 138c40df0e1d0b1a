#include "display/filter_object_killer.h"

#include <pthread.h>

#include <cstring>

#include "display/filter_object.h"

VornFilterObjKiller::CKillerThread::CKillerThread(VornFilterObj *filter)
    : TVornThread(false), m_filter(filter) {
  SetPriority(tpLower);
  Resume();  // last: the body must not see a half-built thread
}

VornFilterObjKiller::CKillerThread::~CKillerThread() {
  Terminate();
  WaitFor();
}

void VornFilterObjKiller::CKillerThread::Execute() {
  static const char kName[] = "VornFilterObj KillerThread";
  // Linux keeps 15 characters of a thread name.
  char shortName[16] = {};
  std::memcpy(shortName, kName, sizeof shortName - 1);
  pthread_setname_np(pthread_self(), shortName);
  delete m_filter;
  m_filter = nullptr;
  Terminate();
  m_done.store(true, std::memory_order_release);
}

void VornFilterObjKiller::Reap(CKillerThread *thread) {
  thread->Terminate();
  thread->WaitFor();
  delete thread;
}

void VornFilterObjKiller::Kill(VornFilterObj *filter) {
  auto *thread = new CKillerThread(filter);
  CTeskAutoLock guard(m_lock);
  m_threads.PushBack(thread);
  for (auto *node = m_threads.First(); node != m_threads.End();) {
    if (node->value->Done()) {
      Reap(node->value);
      node = m_threads.Unlink(node);
    } else {
      node = node->next;
    }
  }
}

uint32_t VornFilterObjKiller::PendingThreads() {
  CTeskAutoLock guard(m_lock);
  return m_threads.Count();
}

VornFilterObjKiller::~VornFilterObjKiller() {
  CTeskAutoLock guard(m_lock);
  while (!m_threads.Empty()) {
    CKillerThread *front = m_threads.Front();
    if (!front->Done()) {
      Sleep(1);
      continue;
    }
    Reap(front);
    m_threads.PopFront();
  }
}
