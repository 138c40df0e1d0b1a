// Base of the program's own long-running workers that are not playback
// threads (the display workers and the filter-object killers). Every new
// thread is pinned to one processor, the processors handed out in turn.
#pragma once

#include <cstdint>

#include "platform/thread.h"

class TVornThread : public TThread {
 public:
  // Creates the thread (see TThread on starting) and pins it to the next
  // processor of the rotation.
  explicit TVornThread(bool createSuspended);

  // The mask this thread asked for, and whether the platform took it.
  uint32_t RequestedAffinityMask() const { return m_requestedMask; }
  bool Pinned() const { return m_pinned; }

  // One step of the process-wide rotation: shift the mask one bit left; if
  // the result, as an unsigned number, is above the active-processor mask
  // (or the shift ran off the top), start again at 1. Returns the new mask.
  static uint32_t NextAffinityMask(uint32_t activeProcessorMask);
  // The processors this process may run on, as a 32-bit mask (CPUs 0..31).
  static uint32_t ActiveProcessorMask();
  // Tests: pretend the active mask is this (0 restores the real one), and
  // start the rotation again from 1.
  static void SetActiveProcessorMaskForTesting(uint32_t mask);
  static void ResetAffinityRotation();

 private:
  uint32_t m_requestedMask = 0;
  bool m_pinned = false;
};
