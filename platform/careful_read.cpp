#include "platform/careful_read.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace orvan::platform {

namespace {

constexpr size_t kSector = 512;

using Clock = std::chrono::steady_clock;

thread_local Clock::time_point t_deadline = Clock::time_point::max();

}  // namespace

bool IsGoneError(int error) {
  return error == ENODEV || error == ENXIO || error == ENOMEDIUM || error == ENOTCONN ||
         error == ESHUTDOWN;
}

ReadDeadline::ReadDeadline(std::chrono::milliseconds limit) : m_previous(t_deadline) {
  t_deadline = std::min(m_previous, Clock::now() + limit);
}

ReadDeadline::~ReadDeadline() { t_deadline = m_previous; }

Clock::time_point ReadDeadline::Current() { return t_deadline; }

bool ReadDeadline::Passed() {
  return t_deadline != Clock::time_point::max() && Clock::now() >= t_deadline;
}

void CarefulReader::Attach(ISectorDevice *device) {
  m_device = device;
  m_gone.store(false);
  m_failedInARow = 0;
  m_failedSinceProbe = 0;
  m_probeSector = UINT64_MAX;
}

void CarefulReader::Interrupt() {
  m_interrupted.store(true);
  if (m_device) m_device->WakeWaiters();
}

bool CarefulReader::Stopping() const {
  const std::atomic<bool> *stop = m_stop.load();
  return m_interrupted.load() || (stop && stop->load()) || ReadDeadline::Passed();
}

DeviceAnswer CarefulReader::Ask(uint64_t offset, void *buffer, size_t length) {
  DeviceWait wait;
  const Clock::time_point now = Clock::now();
  wait.until =
      std::min(ReadDeadline::Current(), now + std::chrono::milliseconds(m_answerLimitMs.load()));
  wait.giveUp = [this] {
    const std::atomic<bool> *stop = m_stop.load();
    return m_interrupted.load() || (stop && stop->load());
  };
  ++m_deviceReads;
  const DeviceAnswer answer = m_device->ReadAt(offset, buffer, length, wait);
  if (answer.error) m_lastFailureErrno = answer.error;
  return answer;
}

void CarefulReader::Unanswered(ReadReport &report) {
  // No stop request and no deadline of the thread's: the device itself
  // did not answer within its limit.
  if (Stopping()) {
    report.stopped = true;
  } else {
    BecomeGone();
    report.gone = true;
  }
}

void CarefulReader::NoteRead(uint64_t offset) {
  m_failedInARow = 0;
  m_failedSinceProbe = 0;
  m_probeSector = offset;
}

bool CarefulReader::NoteFailedSector(int error) {
  if (IsGoneError(error) || !m_device->Present()) {
    BecomeGone();
    return true;
  }
  const Clock::time_point now = Clock::now();
  if (m_failedInARow == 0) m_lastProbe = now;
  ++m_failedInARow;
  ++m_failedSinceProbe;
  if (m_failedInARow >= kGoneAfterFailedSectors) {
    BecomeGone();
    return true;
  }
  if (m_failedSinceProbe >= kProbeAfterFailedSectors ||
      now - m_lastProbe >= std::chrono::milliseconds(kProbeAfterFailingMs)) {
    m_failedSinceProbe = 0;
    m_lastProbe = now;
    if (!ProbeStillAnswers()) {
      BecomeGone();
      return true;
    }
  }
  return false;
}

bool CarefulReader::ProbeStillAnswers() {
  // Nothing was ever read: there is nothing to tell a bad area from a dead
  // disk by, and this many sectors failed.
  if (m_probeSector == UINT64_MAX) return false;
  uint8_t sector[kSector];
  m_device->DropCached(m_probeSector, kSector);
  const DeviceAnswer answer = Ask(m_probeSector, sector, kSector);
  return !answer.unanswered && answer.bytes == kSector;
}

bool CarefulReader::Read(uint64_t offset, void *buffer, size_t length, ReadReport &report) {
  report.Clear();
  auto *out = static_cast<uint8_t *>(buffer);
  // Every way out: the bytes from `until` on were not read and are zeros;
  // readBefore is the first byte not read.
  auto settle = [&](size_t until) {
    std::memset(out + until, 0, length - until);
    report.readBefore =
        report.lost.empty() ? until : std::min<size_t>(until, report.lost.front().offset);
    return report.Complete() && until == length;
  };
  if (length == 0) return true;
  if (!m_device || offset % kSector || length % kSector || offset > UINT64_MAX - length) {
    report.stopped = true;  // never asked: no loss of the disk's
    return settle(0);
  }
  if (Gone()) {
    report.gone = true;
    return settle(0);
  }
  if (Stopping()) {
    report.stopped = true;
    return settle(0);
  }

  size_t at = 0;  // bytes settled from the start
  // The end of the source inside the read: what was there is kept.
  auto ended = [&](size_t bytes) {
    if (bytes >= kSector) NoteRead(offset + at + (bytes / kSector - 1) * kSector);
    report.endsAt = at + bytes;
    settle(at + bytes);
    return false;
  };
  auto gone = [&]() {
    BecomeGone();
    report.gone = true;
    return settle(at);
  };
  auto lose = [&](int error) {
    std::memset(out + at, 0, kSector);
    report.AddLost(at, kSector);
    at += kSector;
    return NoteFailedSector(error);
  };

  // The whole request, and once more from where it failed.
  size_t failedAt[2] = {0, 0};
  int lastError = 0;
  for (int attempt = 0; attempt < 2; ++attempt) {
    const DeviceAnswer answer = Ask(offset + at, out + at, length - at);
    if (answer.unanswered) {
      Unanswered(report);
      return settle(at);
    }
    if (answer.bytes >= length - at) {
      NoteRead(offset + length - kSector);
      return settle(length);
    }
    if (answer.error == 0) return ended(answer.bytes);
    const size_t whole = answer.bytes / kSector * kSector;
    if (whole) NoteRead(offset + at + whole - kSector);
    at += whole;
    failedAt[attempt] = at;
    lastError = answer.error;
    if (IsGoneError(answer.error) || !m_device->Present()) return gone();
  }
  // A single sector both tries failed on is lost without a third. (A
  // longer request that failed with nothing read says only that something
  // in it failed: the split finds what.)
  if (length - at == kSector && failedAt[0] == failedAt[1] && lose(lastError)) {
    report.gone = true;
    return settle(at);
  }

  // Sector by sector; after a sector that reads, the rest whole once more.
  bool lastFailed = true;
  while (at < length) {
    if (Stopping()) {
      report.stopped = true;
      return settle(at);
    }
    const bool whole = !lastFailed && length - at > kSector;
    const size_t ask = whole ? length - at : kSector;
    const DeviceAnswer answer = Ask(offset + at, out + at, ask);
    if (answer.unanswered) {
      Unanswered(report);
      return settle(at);
    }
    if (answer.bytes >= ask) {
      NoteRead(offset + at + ask - kSector);
      at += ask;
      lastFailed = false;
      continue;
    }
    if (answer.error == 0) return ended(answer.bytes);
    if (IsGoneError(answer.error)) return gone();
    lastFailed = true;
    if (whole) {
      // Read up to the next bad sector; that one is read alone next.
      const size_t good = answer.bytes / kSector * kSector;
      if (good) NoteRead(offset + at + good - kSector);
      at += good;
      if (!m_device->Present()) return gone();
      continue;
    }
    if (lose(answer.error)) {
      report.gone = true;
      return settle(at);
    }
  }
  return settle(length);
}

bool CarefulReader::ReadBytes(uint64_t offset, void *buffer, size_t length, ReadReport &report) {
  report.Clear();
  if (length == 0) return true;
  if (offset > UINT64_MAX - length - kSector) {
    report.stopped = true;
    return false;
  }
  const uint64_t first = offset / kSector * kSector;
  const uint64_t end = (offset + length + kSector - 1) / kSector * kSector;
  const size_t head = size_t(offset - first);
  m_scratch.resize(size_t(end - first));
  ReadReport sectors;
  const bool ok = Read(first, m_scratch.data(), m_scratch.size(), sectors);
  std::memcpy(buffer, m_scratch.data() + head, length);
  // The same facts, in terms of the bytes asked for.
  report.gone = sectors.gone;
  report.stopped = sectors.stopped;
  auto within = [&](uint64_t at) { return at <= head ? 0 : std::min<uint64_t>(at - head, length); };
  for (const ByteRange &r : sectors.lost) {
    const uint64_t from = within(r.offset), to = within(r.End());
    if (to > from) report.AddLost(from, to - from);
  }
  if (sectors.endsAt != ReadReport::kNoEnd && sectors.endsAt < head + length)
    report.endsAt = size_t(within(sectors.endsAt));
  report.readBefore = size_t(within(sectors.readBefore));
  if (ok) return true;
  return report.Complete();
}

}  // namespace orvan::platform
