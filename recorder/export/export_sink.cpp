#include "recorder/export/export_sink.h"

#include <algorithm>
#include <cctype>

namespace orvan::recorder {

namespace {

std::string LowerExtension(const std::string &path) {
  const size_t slash = path.find_last_of('/');
  const size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  std::string ext = path.substr(dot);
  for (char &c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

}  // namespace

ExportedFile ExportedFileOf(const platform::OutputFile &file, const std::string &role) {
  ExportedFile f;
  f.path = file.Path();
  f.role = role;
  f.sizeBytes = file.WrittenBytes();
  platform::Sha256Digest digest{};
  if (file.Sha256Of(digest)) f.sha256 = platform::HexOf(digest);
  return f;
}

ExportFormat ExportFormatOfName(const std::string &path) {
  const std::string ext = LowerExtension(path);
  if (ext == ".mkv") return ExportFormat::kMatroska;
  if (ext == ".mp4") return ExportFormat::kMp4;
  return ExportFormat::kClip;
}

const char *ExportFormatName(ExportFormat format) {
  switch (format) {
    case ExportFormat::kMatroska:
      return "matroska";
    case ExportFormat::kMp4:
      return "mp4";
    default:
      return "clip";
  }
}

std::string ExportBaseName(const std::string &path) {
  const std::string ext = LowerExtension(path);
  if (ext == ".in" || ext == ".mkv" || ext == ".mp4")
    return path.substr(0, path.size() - ext.size());
  return path;
}

std::string ManifestPathOf(const std::string &path) {
  return ExportBaseName(path) + ".manifest.json";
}

std::string FramesTablePathOf(const std::string &path) {
  return ExportBaseName(path) + ".frames.csv";
}

std::string ChannelFilePath(const std::string &path, int channel) {
  const std::string ext = LowerExtension(path);
  return ExportBaseName(path) + "_CH" + std::to_string(channel + 1) + ext;
}

void ExportStatistics::Written(const IndexEntry &e, int64_t timeMs) {
  ChannelSummary &c = Channel(e.channel);
  const size_t ch = size_t(e.channel & 3);
  if (e.type == kTypeAudio) {
    ++c.audioBlocks;
  } else if (IsKnownRecordType(e.type)) {
    ++c.pictures;
    if (IsKeyPicture(e.type)) ++c.keyPictures;
    if (m_lastPictureMs[ch] >= 0 && timeMs - m_lastPictureMs[ch] > kGapMs)
      c.gaps.emplace_back(m_lastPictureMs[ch], timeMs);
    m_lastPictureMs[ch] = timeMs;
  }
  if (c.firstMs < 0 || timeMs < c.firstMs) c.firstMs = timeMs;
  c.lastMs = std::max(c.lastMs, timeMs);
}

bool ClipExportSink::Create(const std::string &indexPath, platform::ReplacePolicy policy,
                            std::string *error) {
  m_indexPath = indexPath;
  return m_writer.Create(indexPath, policy, error);
}

bool ClipExportSink::Take(const SpanEntry &s) {
  if (s.unreadable || !s.record) {
    m_placement = Placement{Placement::Kind::kUnreadable, -1};
    return true;
  }
  if (!m_writer.WriteEntry(s.entry, s.record)) {
    m_error = "Writing the clip failed: " + m_indexPath;
    m_placement = Placement{Placement::Kind::kFailed, -1};
    return false;
  }
  // A clip plays from its first entry, at the recording's pace.
  if (m_firstMs < 0) m_firstMs = s.timeMs;
  m_placement = Placement{Placement::Kind::kWritten, (s.timeMs - m_firstMs) * 1000};
  ++m_written;
  m_statistics.Written(s.entry, s.timeMs);
  return true;
}

bool ClipExportSink::Finish(int layout, platform::FolderSyncs &later) {
  const bool trailer = m_writer.WriteTrailer(MagicOfLayout(layout),
                                             uint32_t(std::min<int64_t>(m_written, UINT32_MAX)));
  std::string why;
  if (!trailer) m_writer.Abandon();
  if (!trailer || !m_writer.Close(&why, &later)) {
    m_error = "Writing the clip failed: " + m_indexPath + (why.empty() ? "" : " (" + why + ")");
    return false;
  }
  m_files = {ExportedFileOf(m_writer.IndexFile(), "clip index"),
             ExportedFileOf(m_writer.DataFile(), "clip data")};
  return true;
}

}  // namespace orvan::recorder
