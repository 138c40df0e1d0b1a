#include "recorder/layout/read_losses.h"

namespace orvan::recorder {

namespace {

std::string Bytes(const LostPart &p) {
  return "bytes " + std::to_string(p.byteOffset) + " to " +
         std::to_string(p.byteOffset + (p.bytes ? p.bytes - 1 : 0));
}

std::string Range(int64_t first, int64_t last) {
  return first == last ? std::to_string(first)
                       : std::to_string(first) + " to " + std::to_string(last);
}

}  // namespace

const char *LostWhatName(LostPart::What what) {
  switch (what) {
    case LostPart::What::kIndex:
      return "index";
    case LostPart::What::kRecord:
      return "record";
    case LostPart::What::kBlockTime:
      return "blockTime";
    case LostPart::What::kEvents:
      return "events";
    case LostPart::What::kSectors:
      return "sectors";
  }
  return "sectors";
}

std::string DescribeLoss(const LostPart &p) {
  switch (p.what) {
    case LostPart::What::kIndex:
      return "index entries " + Range(p.firstEntry, p.lastEntry) + " (" + Bytes(p) + ")";
    case LostPart::What::kRecord:
      return "the record of entry " + std::to_string(p.firstEntry) + " (" + Bytes(p) + ")";
    case LostPart::What::kBlockTime:
      return "the block time at entry " + std::to_string(p.firstEntry) + " (" + Bytes(p) + ")";
    case LostPart::What::kEvents:
      return "events " + Range(p.firstEntry + 1, p.lastEntry + 1) + " (" + Bytes(p) + ")";
    case LostPart::What::kSectors:
      return Bytes(p);
  }
  return Bytes(p);
}

void LossLog::Add(const LostPart &part) {
  if (part.what == LostPart::What::kIndex && part.lastEntry >= part.firstEntry)
    m_indexEntries += uint64_t(part.lastEntry - part.firstEntry + 1);
  if (part.what == LostPart::What::kRecord) ++m_records;
  const bool runs = part.what == LostPart::What::kIndex || part.what == LostPart::What::kEvents ||
                    part.what == LostPart::What::kSectors;
  if (runs && !m_parts.empty() && m_notListed == 0) {
    LostPart &last = m_parts.back();
    if (last.what == part.what && last.byteOffset + last.bytes == part.byteOffset) {
      last.bytes += part.bytes;
      // Neighbouring index sectors share the entry that runs across them.
      if (part.lastEntry > last.lastEntry) last.lastEntry = part.lastEntry;
      return;
    }
  }
  ++m_places;
  if (m_parts.size() < kListedParts) {
    m_parts.push_back(part);
  } else {
    ++m_notListed;
  }
}

void LossLog::Merge(const LossLog &other) {
  const uint64_t entries = m_indexEntries + other.m_indexEntries;
  const uint64_t records = m_records + other.m_records;
  for (const LostPart &p : other.m_parts) Add(p);
  m_places += other.m_notListed;
  m_notListed += other.m_notListed;
  m_indexEntries = entries;
  m_records = records;
}

std::string LossLog::Summary() const {
  std::string text;
  auto add = [&](const std::string &s) { text += (text.empty() ? "" : ", ") + s; };
  uint64_t blockTimes = 0, eventRuns = 0, sectors = 0;
  for (const LostPart &p : m_parts) {
    if (p.what == LostPart::What::kBlockTime) ++blockTimes;
    if (p.what == LostPart::What::kEvents) ++eventRuns;
    if (p.what == LostPart::What::kSectors) sectors += p.bytes / 512;
  }
  if (m_indexEntries) add(std::to_string(m_indexEntries) + " index entries");
  if (m_records) add(std::to_string(m_records) + " records");
  if (blockTimes) add(std::to_string(blockTimes) + " block times");
  if (eventRuns) add("event log sectors");
  if (sectors) add(std::to_string(sectors) + " sectors");
  if (text.empty()) return text;
  std::string where;
  for (size_t i = 0; i < m_parts.size() && i < 3; ++i)
    where += (i ? "; " : "") + DescribeLoss(m_parts[i]);
  if (m_places > 3) where += "; and " + std::to_string(m_places - 3) + " more";
  return "unreadable sectors cost " + text + ": " + where;
}

}  // namespace orvan::recorder
