// What a reader of a damaged disk lost, and where: index sectors with the
// entries they held, data records with their entry, block times the search
// passed over, sectors of the event log, and plain sectors (a hash). Every
// command's JSON, every export's manifest and the warning line are made from
// one of these.
//
// Threads: a LossLog belongs to its reader's thread; readers that are asked
// from another thread copy it under their own lock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvan::recorder {

struct LostPart {
  enum class What {
    kIndex,      // index sectors: entries firstEntry..lastEntry (held wholly or in part)
    kRecord,     // the data record of entry firstEntry
    kBlockTime,  // the block time of the block at entry firstEntry, passed over by the search
    kEvents,     // event log sectors: records firstEntry..lastEntry
    kSectors,    // sectors of the source, nothing more known (a hash)
  };
  What what = What::kSectors;
  int64_t firstEntry = -1;
  int64_t lastEntry = -1;
  uint64_t byteOffset = 0;  // on the disk, or in the clip file read
  uint64_t bytes = 0;
  bool operator==(const LostPart &) const = default;
};

// "index", "record", "blockTime", "events", "sectors".
const char *LostWhatName(LostPart::What what);
// One line for the user: "index entries 281 to 358 (bytes 529920 to 531455)".
std::string DescribeLoss(const LostPart &part);

class LossLog {
 public:
  // Parts listed at most; the rest are counted.
  static constexpr size_t kListedParts = 1000;

  // Adds a loss; index or event sectors right behind the last part of the
  // same kind join it.
  void Add(const LostPart &part);
  void Merge(const LossLog &other);
  void Clear() { *this = LossLog(); }

  bool Empty() const { return m_places == 0; }
  const std::vector<LostPart> &Parts() const { return m_parts; }
  // Places that were lost (each joined run once), listed or not.
  uint64_t Places() const { return m_places; }
  uint64_t NotListed() const { return m_notListed; }
  // Index entries lost with their sectors, records lost with their entries.
  uint64_t IndexEntries() const { return m_indexEntries; }
  uint64_t Records() const { return m_records; }
  // The warning line's part: what was lost, in a few words.
  std::string Summary() const;

 private:
  std::vector<LostPart> m_parts;
  uint64_t m_places = 0;
  uint64_t m_notListed = 0;
  uint64_t m_indexEntries = 0;
  uint64_t m_records = 0;
};

}  // namespace orvan::recorder
