#include "display/worker_thread.h"

#include <pthread.h>

#include <chrono>
#include <cstring>

ProcessObjThread::ProcessObjThread(const char *name) : TVornThread(true), m_name(name) {
  SetPriority(tpLower);
}

ProcessObjThread::~ProcessObjThread() {
  // Owners terminate and wait first; this keeps a forgotten stop safe.
  Terminate();
  Wake();
  WaitFor();
}

void ProcessObjThread::Execute() {
  if (m_name) {
    // Linux thread names hold at most 15 characters.
    char shortName[16];
    std::strncpy(shortName, m_name, sizeof shortName - 1);
    shortName[sizeof shortName - 1] = '\0';
    pthread_setname_np(pthread_self(), shortName);
  }
  while (!Terminated()) {
    const int32_t sleepMs = m_process ? m_process(m_userData) : 10;
    std::unique_lock<std::mutex> hold(m_wakeLock);
    m_wake.wait_for(hold, std::chrono::milliseconds(sleepMs > 0 ? sleepMs : 0),
                    [this] { return m_wakePending; });
    m_wakePending = false;
  }
}

void ProcessObjThread::Wake() {
  {
    std::lock_guard<std::mutex> hold(m_wakeLock);
    m_wakePending = true;
  }
  m_wake.notify_one();
}
