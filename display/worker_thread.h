// The pipeline's one kind of worker loop: a named thread that calls a
// process function again and again and sleeps, between two calls, for the
// milliseconds it returned. The filter object runs "ProcessFrame" and
// "ProcessRender" on two of these.
//
// Wake() cuts the current sleep short (or the next one, when it comes
// while the function runs), so a function with nothing to do can ask for a
// long sleep and be woken when work arrives. m_wakeLock guards
// m_wakePending.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "platform/vorn_thread.h"

class ProcessObjThread : public TVornThread {
 public:
  using ProcessFunction = int32_t (*)(void *userData);

  // Made suspended with lower priority. The name is not copied: it must
  // outlive the thread. The creator sets the function and the user data,
  // then calls Resume(). The owner stops it with Terminate(), WaitFor(),
  // delete.
  explicit ProcessObjThread(const char *name);
  ~ProcessObjThread() override;

  void SetProcessFunction(ProcessFunction fn) { m_process = fn; }
  void SetUserData(void *userData) { m_userData = userData; }
  // Ends the sleep after the current call early. Any thread.
  void Wake();

 protected:
  // Until terminated: call the function, then sleep for what it returned
  // or until woken. The flag is tested before every call, so a call that
  // has begun finishes and its sleep is taken (or cut short by Wake) before
  // the loop ends.
  void Execute() override;

 private:
  const char *m_name;
  ProcessFunction m_process = nullptr;
  void *m_userData = nullptr;
  std::mutex m_wakeLock;
  std::condition_variable m_wake;
  bool m_wakePending = false;  // m_wakeLock
};
