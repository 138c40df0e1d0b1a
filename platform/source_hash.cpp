#include "platform/source_hash.h"

#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/digest.h"

namespace orvan::platform {

namespace {

constexpr size_t kRingBlocks = 3;

struct Block {
  std::vector<uint8_t> data;
  size_t length = 0;
};

// Blocks pass from the reader to the hasher in order: block n lives in
// slot n % kRingBlocks. A slot's bytes belong to the reader from when it
// takes the slot until it counts it filled, then to the hasher until it
// counts it hashed; the counters, under `lock`, hand them over.
struct Ring {
  std::mutex lock;
  std::condition_variable changed;
  uint64_t filled = 0;      // guarded by lock
  uint64_t hashed = 0;      // guarded by lock
  bool readerDone = false;  // guarded by lock
  Block blocks[kRingBlocks];
};

// What the reader met; read by the hasher only after the reader is joined.
struct ReaderReport {
  uint64_t unreadableSectors = 0;
  std::vector<std::string> errors;
  std::vector<ByteRange> runs;  // unreadable runs, neighbours joined
  bool gone = false;

  void Unreadable(uint64_t offset, uint64_t length, const std::string &message) {
    unreadableSectors += (length + kSectorBytes - 1) / kSectorBytes;
    if (!runs.empty() && runs.back().End() == offset) {
      runs.back().bytes += length;
      return;
    }
    runs.push_back(ByteRange{offset, length});
    if (m_messages.size() < kMaxReportedReadErrors) m_messages.push_back(message);
  }
  void Flush() {
    for (size_t i = 0; i < runs.size() && i < kMaxReportedReadErrors; ++i)
      errors.push_back("bytes " + std::to_string(runs[i].offset) + " to " +
                       std::to_string(runs[i].End() - 1) +
                       " cannot be read (hashed as zeros): " + m_messages[i]);
  }

 private:
  std::vector<std::string> m_messages;
};

// Fills block with the source's bytes [offset, offset + length): one
// careful read, zeros for the sectors it lost. False when the source
// stopped answering (or the read was given up).
bool ReadBlock(DiskSource &source, uint64_t offset, size_t length, Block &block,
               ReaderReport &report) {
  const size_t request = (length + kSectorBytes - 1) / kSectorBytes * kSectorBytes;
  block.length = length;
  ReadReport read;
  if (!source.Seek(offset)) return false;
  if (source.ReadSectors(block.data.data(), request, read)) return true;
  if (read.gone || read.stopped) {
    report.gone = read.gone;
    block.length = std::min(length, read.readBefore);
    return false;
  }
  const std::string why = source.LastError().empty()
                              ? "read error at byte " + std::to_string(offset)
                              : source.LastError();
  // Bytes past the end of a file cut inside its last sector are not asked for.
  for (const ByteRange &r : read.lost) {
    if (r.offset >= length) break;
    report.Unreadable(offset + r.offset, std::min<uint64_t>(r.End(), length) - r.offset, why);
  }
  return true;
}

}  // namespace

SourceHashes HashSource(DiskSource &source, const HashOptions &options) {
  SourceHashes result;
  const uint64_t total = source.SizeBytes();
  const size_t blockBytes =
      std::max<size_t>(kSectorBytes, options.blockBytes / kSectorBytes * kSectorBytes);
  const uint64_t blockCount = (total + blockBytes - 1) / blockBytes;
  auto stopped = [&] { return options.stop && options.stop->load(std::memory_order_relaxed); };

  // A stop ends a read in progress too.
  if (options.stop) source.SetStopFlag(options.stop);
  Ring ring;
  for (Block &b : ring.blocks) b.data.resize(blockBytes);
  ReaderReport report;
  std::thread reader([&] {
    for (uint64_t n = 0; n < blockCount && !stopped(); ++n) {
      {
        std::unique_lock<std::mutex> hold(ring.lock);
        ring.changed.wait(hold, [&] { return ring.filled - ring.hashed < kRingBlocks; });
      }
      const uint64_t offset = n * blockBytes;
      const bool more =
          ReadBlock(source, offset, size_t(std::min<uint64_t>(blockBytes, total - offset)),
                    ring.blocks[n % kRingBlocks], report);
      std::lock_guard<std::mutex> hold(ring.lock);
      ++ring.filled;
      ring.changed.notify_all();
      // What was read before the disk went away is hashed; nothing after.
      if (!more) break;
    }
    report.Flush();
    std::lock_guard<std::mutex> hold(ring.lock);
    ring.readerDone = true;
    ring.changed.notify_all();
  });

  Digest sha256(DigestKind::kSha256), md5(DigestKind::kMd5), sha1(DigestKind::kSha1);
  for (uint64_t n = 0;; ++n) {
    {
      std::unique_lock<std::mutex> hold(ring.lock);
      ring.changed.wait(hold, [&] { return ring.filled > n || ring.readerDone; });
      if (ring.filled <= n) break;
    }
    const Block &block = ring.blocks[n % kRingBlocks];
    sha256.Update(block.data.data(), block.length);
    md5.Update(block.data.data(), block.length);
    if (options.sha1) sha1.Update(block.data.data(), block.length);
    result.bytes += block.length;
    {
      std::lock_guard<std::mutex> hold(ring.lock);
      ++ring.hashed;
      ring.changed.notify_all();
    }
    if (options.progress) options.progress(result.bytes);
  }
  reader.join();
  if (options.stop) source.SetStopFlag(nullptr);

  result.complete = result.bytes == total;
  result.sha256 = HexOf(sha256.Final());
  result.md5 = HexOf(md5.Final());
  if (options.sha1) result.sha1 = HexOf(sha1.Final());
  result.unreadableSectors = report.unreadableSectors;
  result.readErrors = std::move(report.errors);
  result.unreadable = std::move(report.runs);
  result.gone = report.gone;
  return result;
}

}  // namespace orvan::platform
