// The lock classes every queue of the pipeline is guarded with.
#pragma once

#include <mutex>

// Abstract lock.
class CLockable {
 public:
  virtual ~CLockable() = default;
  virtual void Lock() = 0;
  virtual void Unlock() = 0;
};

// A re-entrant lock: the thread that holds it may take it again (the filter
// object relies on this).
class CTeskCriticalSection : public CLockable {
 public:
  CTeskCriticalSection() = default;
  CTeskCriticalSection(const CTeskCriticalSection &) = delete;
  CTeskCriticalSection &operator=(const CTeskCriticalSection &) = delete;
  void Lock() override { m_mutex.lock(); }
  void Unlock() override { m_mutex.unlock(); }
  // Lets std::lock_guard / std::scoped_lock take it too.
  void lock() { Lock(); }
  void unlock() { Unlock(); }

 private:
  std::recursive_mutex m_mutex;
};

class NonCapyable {
 protected:
  NonCapyable() = default;
  ~NonCapyable() = default;

 public:
  NonCapyable(const NonCapyable &) = delete;
  NonCapyable &operator=(const NonCapyable &) = delete;
};

// Scoped lock: locks in the constructor, unlocks in the destructor, so every
// path out of the block (exceptions included) releases it.
class CTeskAutoLock : private NonCapyable {
 public:
  explicit CTeskAutoLock(CLockable *lockable) : m_lockable(lockable) { m_lockable->Lock(); }
  explicit CTeskAutoLock(CLockable &lockable) : CTeskAutoLock(&lockable) {}
  ~CTeskAutoLock() { m_lockable->Unlock(); }

 private:
  CLockable *m_lockable;
};
