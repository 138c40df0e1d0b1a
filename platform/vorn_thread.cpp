#include "platform/vorn_thread.h"

#include <sched.h>

#include <atomic>

namespace {
// The process-wide rotation. Threads are made from the user-interface
// thread, but an atomic keeps a stray creation elsewhere well-defined.
std::atomic<uint32_t> g_affinityMask{1};
std::atomic<uint32_t> g_activeMaskOverride{0};
}  // namespace

uint32_t TVornThread::NextAffinityMask(uint32_t activeProcessorMask) {
  uint32_t mask = g_affinityMask.load() << 1;
  // A mask shifted past bit 31 is 0; it wraps to processor 0 as well.
  if (mask == 0 || mask > activeProcessorMask) mask = 1;
  g_affinityMask.store(mask);
  return mask;
}

uint32_t TVornThread::ActiveProcessorMask() {
  if (uint32_t forced = g_activeMaskOverride.load()) return forced;
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
  uint32_t mask = 0;
  for (int cpu = 0; cpu < 32; ++cpu)
    if (CPU_ISSET(cpu, &set)) mask |= uint32_t(1) << cpu;
  return mask ? mask : 1;
}

void TVornThread::SetActiveProcessorMaskForTesting(uint32_t mask) {
  g_activeMaskOverride.store(mask);
}

void TVornThread::ResetAffinityRotation() { g_affinityMask.store(1); }

TVornThread::TVornThread(bool createSuspended) : TThread(createSuspended) {
  const uint32_t active = ActiveProcessorMask();
  m_requestedMask = NextAffinityMask(active);
  // A mask naming a processor that is not available is refused, and the
  // thread keeps the default affinity, as the platform call would.
  if ((m_requestedMask & ~active) == 0) m_pinned = SetAffinityMask(m_requestedMask);
}
