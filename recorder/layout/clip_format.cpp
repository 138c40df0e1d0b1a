#include "recorder/layout/clip_format.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/log.h"

namespace orvan::recorder {

const char kClipTooShortText[] = "The file too short to play video.";
const char kClipTooShortCaption[] = "Alarm";

namespace {

constexpr const char *kLogCategory = "clip";

RecordRead ReadAt(platform::CarefulReader &reader, uint64_t offset, void *buffer, size_t length) {
  if (offset > uint64_t(INT64_MAX) - length) return RecordRead::kInvalid;
  ReadReport report;
  if (reader.ReadBytes(offset, buffer, length, report)) return RecordRead::kRead;
  if (report.gone) return RecordRead::kGone;
  if (report.stopped) return RecordRead::kStopped;
  return report.lost.empty() ? RecordRead::kEnded : RecordRead::kLost;
}

}  // namespace

ClipStatus ParseClipTrailer(uint64_t fileSize, std::span<const uint8_t> lastBytes,
                            ClipTrailer &trailer) {
  if (fileSize < kClipTrailerSearchBytes) return ClipStatus::TooShort;
  if (lastBytes.size() < kClipTrailerSearchBytes) return ClipStatus::ReadError;
  const uint64_t base = fileSize - kClipTrailerSearchBytes;
  constexpr size_t kWords = kClipTrailerSearchBytes / 4;
  bool sawMagic = false;
  for (size_t i = 0; i < kWords; ++i) {
    const uint32_t word = LoadU32(lastBytes.data() + 4 * i);
    if (word != kClipMagicInterleaved && word != kClipMagicSingle) continue;
    sawMagic = true;
    if (i + 1 >= kWords) break;  // no count word behind it
    const uint32_t count = LoadU32(lastBytes.data() + 4 * (i + 1));
    const uint64_t countOffset = base + 4 * (i + 1);
    if (uint64_t(count) != countOffset / kEntryBytes) continue;
    trailer.magic = word;
    trailer.count = count;
    trailer.layout = LayoutOfMagic(word);
    trailer.countOffset = countOffset;
    return ClipStatus::Ok;
  }
  return sawMagic ? ClipStatus::BadCount : ClipStatus::NoMagic;
}

std::string CompanionDataName(const std::string &indexPath) {
  const size_t slash = indexPath.find_last_of('/');
  const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  std::string name = indexPath.substr(nameStart);
  const size_t cut = name.find(".in");
  if (cut != std::string::npos) name.resize(cut);
  return indexPath.substr(0, nameStart) + name + ".da";
}

std::string DefaultClipName(const SYSTEMTIME &start) {
  char text[64];
  std::snprintf(text, sizeof text, "%d%.2d%.2d_%.2d%.2d%.2d.in", start.wYear, start.wMonth,
                start.wDay, start.wHour, start.wMinute, start.wSecond);
  return text;
}

CClipReader::~CClipReader() { Close(); }

bool CClipReader::OpenPart(const std::string &path, int &fd,
                           platform::SourceRegistration &registration,
                           std::unique_ptr<platform::FdDevice> &device,
                           platform::CarefulReader &reader) {
  const platform::SourceOpenResult opened = platform::OpenSource(path, platform::SourceKind::kFile);
  if (opened.fd < 0) {
    m_lastError = opened.wrongKind ? path + " is not a clip file"
                                   : "Cannot open " + path + ": " + std::strerror(opened.error);
    return false;
  }
  fd = opened.fd;
  registration = platform::RegisterSource(fd, path);
  device = std::make_unique<platform::FdDevice>(opened.fd, path);
  reader.Attach(device.get());
  reader.ClearInterrupt();
  return true;
}

bool CClipReader::OpenIndexOnly(const std::string &indexPath) {
  Close();
  if (!OpenPart(indexPath, m_index, m_indexRegistration, m_indexDevice, m_indexReader))
    return false;
  struct stat st {};
  if (fstat(m_index, &st) != 0) {
    m_lastError = "Cannot read " + indexPath;
    Close();
    return false;
  }
  m_indexBytes = uint64_t(st.st_size);
  return true;
}

bool CClipReader::Open(const std::string &indexPath) {
  if (!OpenIndexOnly(indexPath)) return false;
  if (!OpenPart(CompanionDataName(indexPath), m_data, m_dataRegistration, m_dataDevice,
                m_dataReader)) {
    const std::string error = m_lastError;
    Close();
    m_lastError = error;
    return false;
  }
  return true;
}

std::string ClipRefusal(const CClipReader &clip, const std::string &indexPath, bool *unreadable) {
  if (unreadable) *unreadable = false;
  ClipTrailer trailer;
  switch (clip.ReadClipTrailer(trailer)) {
    case ClipStatus::Ok:
      break;
    case ClipStatus::TooShort:
      return indexPath + ": " + kClipTooShortText;
    case ClipStatus::NoMagic:
      return "No clip trailer in " + indexPath;
    case ClipStatus::BadCount:
      return "The clip trailer's count does not match its place in " + indexPath;
    case ClipStatus::ReadError:
      if (unreadable) *unreadable = true;
      return "Cannot read " + indexPath;
  }
  if (trailer.count == 0) return "The clip holds no entries: " + indexPath;
  IndexEntry entry;
  if (!clip.ReadEntry(0, entry) || !clip.ReadEntry(trailer.count - 1, entry))
    return "Cannot read the clip's entries in " + indexPath;
  return {};
}

uint64_t CClipReader::DataFileBytes() const {
  struct stat st {};
  if (m_data < 0 || fstat(m_data, &st) != 0) return 0;
  return uint64_t(st.st_size);
}

void CClipReader::Close() {
  m_indexRegistration.Reset();
  m_dataRegistration.Reset();
  // The devices close the descriptors (a read still in the kernel keeps
  // its own until it returns).
  m_indexReader.Attach(nullptr);
  m_dataReader.Attach(nullptr);
  m_indexDevice.reset();
  m_dataDevice.reset();
  m_index = m_data = -1;
  m_indexBytes = 0;
}

ClipStatus CClipReader::ReadClipTrailer(ClipTrailer &trailer) const {
  if (m_index < 0) return ClipStatus::ReadError;
  if (m_indexBytes < kClipTrailerSearchBytes) return ClipStatus::TooShort;
  std::vector<uint8_t> last(kClipTrailerSearchBytes);
  if (ReadAt(m_indexReader, m_indexBytes - kClipTrailerSearchBytes, last.data(), last.size()) !=
      RecordRead::kRead)
    return ClipStatus::ReadError;
  return ParseClipTrailer(m_indexBytes, last, trailer);
}

RecordRead CClipReader::ReadEntryChecked(uint64_t k, IndexEntry &entry) const {
  if (m_index < 0 || k > (uint64_t(INT64_MAX) - kEntryBytes) / kEntryBytes)
    return RecordRead::kInvalid;
  uint8_t bytes[kEntryBytes];
  const RecordRead read = ReadAt(m_indexReader, kEntryBytes * k, bytes, sizeof bytes);
  if (read == RecordRead::kRead) entry = IndexEntry::Parse(bytes);
  return read;
}

bool CClipReader::ReadEntry(uint64_t k, IndexEntry &entry) const {
  return ReadEntryChecked(k, entry) == RecordRead::kRead;
}

RecordRead CClipReader::ReadRecordChecked(const IndexEntry &entry, uint64_t baseOffset,
                                          uint8_t *buffer) const {
  if (m_data < 0 || entry.size > kMaxRecordBytes || entry.offset < baseOffset)
    return RecordRead::kInvalid;
  return ReadAt(m_dataReader, entry.offset - baseOffset, buffer, entry.size);
}

bool CClipReader::ReadRecord(const IndexEntry &entry, uint64_t baseOffset, uint8_t *buffer) const {
  return ReadRecordChecked(entry, baseOffset, buffer) == RecordRead::kRead;
}

bool CClipWriter::Create(const std::string &indexPath, platform::ReplacePolicy policy,
                         std::string *error) {
  Abandon();
  const std::string dataPath = CompanionDataName(indexPath);
  if (dataPath == indexPath) {
    if (error) *error = "The index and data file names are the same: " + indexPath;
    return false;
  }
  std::string refusal;
  // Both names are checked before either file is made.
  if (platform::CheckOutputPath(indexPath, policy, &refusal) != platform::OutputStatus::kOk ||
      platform::CheckOutputPath(dataPath, policy, &refusal) != platform::OutputStatus::kOk) {
    if (error) *error = refusal;
    return false;
  }
  if (!m_index.Create(indexPath, policy) || !m_data.Create(dataPath, policy)) {
    if (error) *error = m_index.IsOpen() ? m_data.Error() : m_index.Error();
    Abandon();
    return false;
  }
  m_index.ComputeSha256();
  m_data.ComputeSha256();
  m_dataPath = dataPath;
  m_policy = policy;
  return true;
}

bool CClipWriter::Flush() {
  if (!m_dataPending.empty() && !m_data.Write(m_dataPending.data(), m_dataPending.size()))
    m_failed = true;
  if (!m_indexPending.empty() && !m_index.Write(m_indexPending.data(), m_indexPending.size()))
    m_failed = true;
  m_dataPending.clear();
  m_indexPending.clear();
  return !m_failed;
}

bool CClipWriter::WriteEntry(const IndexEntry &entry, const uint8_t *data) {
  if (!IsOpen() || m_failed) return false;
  m_dataPending.insert(m_dataPending.end(), data, data + entry.size);
  uint8_t bytes[kEntryBytes];
  entry.Serialize(bytes);
  m_indexPending.insert(m_indexPending.end(), bytes, bytes + kEntryBytes);
  if (m_dataPending.size() + m_indexPending.size() >= kGatherBytes) return Flush();
  return true;
}

bool CClipWriter::WriteTrailer(uint32_t magic, uint32_t count) {
  if (!IsOpen()) return false;
  uint8_t trailer[12] = {};
  StoreU32(trailer, magic);
  StoreU32(trailer + 4, count);
  m_indexPending.insert(m_indexPending.end(), trailer, trailer + sizeof trailer);
  return Flush();
}

bool CClipWriter::Close(std::string *error, platform::FolderSyncs *later) {
  if (!IsOpen()) return true;
  bool ok = Flush();
  if (ok) {
    m_data.StartWriteback();
    m_index.StartWriteback();
  }
  std::string why =
      ok ? std::string() : (m_data.Error().empty() ? m_index.Error() : m_data.Error());
  if (ok && !m_data.Commit(later)) {
    ok = false;
    why = m_data.Error();
  }
  if (ok && !m_index.Commit(later)) {
    ok = false;
    why = m_index.Error();
    // A data file without its index is no clip. One this writer made new is
    // taken back; one it replaced is gone already.
    if (m_policy == platform::ReplacePolicy::kKeepExisting)
      ::unlink(m_dataPath.c_str());
    else
      ORVAN_LOG_WARN(kLogCategory, "%s is left without its index file", m_dataPath.c_str());
  }
  if (!ok && error) *error = why;
  Abandon();
  return ok;
}

void CClipWriter::Abandon() {
  m_index.Abandon();
  m_data.Abandon();
  m_failed = false;
  m_dataPending.clear();
  m_indexPending.clear();
}

}  // namespace orvan::recorder
