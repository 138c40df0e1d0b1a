// A byte source whose every single Seek and every single Read runs under a
// lock the reader owns. A Seek and the Read behind it are not one locked
// unit: a reader shared by two threads relies on its callers pausing it
// before they move its position.
#pragma once

#include "media/locks.h"
#include "platform/disk_source.h"

namespace orvan::recorder {

class LockedSource final : public ByteSource {
 public:
  // Neither is owned; both outlive this object.
  LockedSource(ByteSource &inner, CTeskCriticalSection &lock) : m_inner(inner), m_lock(lock) {}
  bool Seek(uint64_t offset) override {
    CTeskAutoLock l(m_lock);
    return m_inner.Seek(offset);
  }
  bool Read(void *buffer, size_t length, size_t *got = nullptr) override {
    CTeskAutoLock l(m_lock);
    return m_inner.Read(buffer, length, got);
  }
  bool ReadSectors(void *buffer, size_t length, ReadReport &report) override {
    CTeskAutoLock l(m_lock);
    return m_inner.ReadSectors(buffer, length, report);
  }
  // Without the lock: a source's gone flag is read from any thread.
  bool Gone() const override { return m_inner.Gone(); }

 private:
  ByteSource &m_inner;
  CTeskCriticalSection &m_lock;
};

}  // namespace orvan::recorder
