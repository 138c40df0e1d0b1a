#include "recorder/recovery/recovery_export.h"

#include <algorithm>
#include <filesystem>
#include <memory>

#include "recorder/export/frames_table.h"
#include "recorder/export/media_export.h"
#include "recorder/export/span_plan.h"
#include "recorder/recovery/forward_reader.h"

namespace orvan::recorder {

std::string SpanFilePath(const std::string &path, int span) {
  const std::string ext = std::filesystem::path(path).extension().string();
  return ExportBaseName(path) + "_S" + std::to_string(span) + ext;
}

namespace {

// The entries of one span that the options take.
struct SpanWork {
  int span = 0;  // into the survey's spans
  std::vector<const RecoverableEntry *> entries;
};

// Each span's channels, looked over before writing: where each channel's
// file starts (its first key picture in the span) and what it holds.
SpanPlan PlanOf(const SpanWork &work) {
  SpanPlan plan;
  plan.firstEntry = work.entries.empty() ? 0 : work.entries.front()->number;
  RecordingClock clock;
  for (const RecoverableEntry *r : work.entries) {
    const IndexEntry &e = r->entry;
    const int64_t ms = clock.Stamp(e);
    SpanPlan::Channel &c = plan.channels[e.channel & 3];
    if (e.type == kTypeAudio) {
      if (c.startKeyEntry >= 0) {
        c.audio = true;
        c.lastAudioMs = ms;
      }
      continue;
    }
    if (c.startKeyEntry < 0 && IsKeyPicture(e.type)) {
      c.startKeyEntry = r->number;
      c.startKeyMs = ms;
      c.firstAskedMs = ms;
    }
    if (c.startKeyEntry >= 0) {
      ++c.pictures;
      c.lastPictureMs = ms;
    }
  }
  return plan;
}

void Merge(ChannelSummary &into, const ChannelSummary &c) {
  if (c.Empty() && !c.corrupt && !c.beforeFirstKey) return;
  into.pictures += c.pictures;
  into.keyPictures += c.keyPictures;
  into.audioBlocks += c.audioBlocks;
  if (c.firstMs >= 0 && (into.firstMs < 0 || c.firstMs < into.firstMs)) into.firstMs = c.firstMs;
  into.lastMs = std::max(into.lastMs, c.lastMs);
  into.gaps.insert(into.gaps.end(), c.gaps.begin(), c.gaps.end());
  into.beforeFirstKey += c.beforeFirstKey;
  into.corrupt += c.corrupt;
  into.audioGaps.insert(into.audioGaps.end(), c.audioGaps.begin(), c.audioGaps.end());
  into.audioAhead.insert(into.audioAhead.end(), c.audioAhead.begin(), c.audioAhead.end());
}

class Recovery {
 public:
  Recovery(ByteSource &source, const DiskSurvey &survey, const SourceIdentity &identity,
           const std::string &path, const RecoverOptions &options)
      : m_source(source), m_survey(survey), m_identity(identity), m_path(path), m_o(options) {}

  RecoveryResult Run() {
    Select();
    if (m_work.empty()) {
      m_r.error = "Nothing recoverable was found in the chosen span";
      return m_r;
    }
    if (!CheckNames() || !Begin()) return Fail();
    ForwardReader reader(m_source, m_survey.diskBytes);
    uint64_t done = 0;
    for (size_t w = 0; w < m_work.size(); ++w) {
      const SpanWork &work = m_work[w];
      IExportSink *sink = SinkOf(w);
      if (!sink) return Fail();
      RecordingClock clock;
      RecoveredSpanRecord &record = m_r.spans[w];
      const int64_t before = m_o.format == ExportFormat::kClip ? sink->Written() : 0;
      for (const RecoverableEntry *r : work.entries) {
        if (m_o.stop && m_o.stop->load(std::memory_order_acquire)) {
          m_r.stopped = true;
          m_r.error = "The recovery was stopped";
          return Fail();
        }
        const IndexEntry &e = r->entry;
        const uint64_t at = m_survey.geometry.dataBase + e.offset;
        ForwardReader::Piece piece;
        const ForwardReader::Got got = reader.Get(at, e.size, piece);
        if (got == ForwardReader::Got::kGone) {
          m_r.gone = true;
          m_r.error = kDiskStoppedText;
          return Fail();
        }
        if (got == ForwardReader::Got::kStopped) {
          m_r.stopped = true;
          m_r.error = "The recovery was stopped";
          return Fail();
        }
        const bool readable = piece.bytes == e.size && piece.lost.empty();
        if (!readable) ++m_r.unreadable;
        SpanEntry s{e, clock.Stamp(e), readable ? piece.data : nullptr, r->number, !readable};
        if (!sink->Take(s)) {
          m_r.error = sink->Error();
          return Fail();
        }
        if (m_frames && !m_frames->Row(s, sink->LastPlacement())) {
          m_r.error = m_framesFile.Error();
          return Fail();
        }
        // The layout is the pictures' (a held-back span is mostly audio,
        // all of channel 1).
        if (e.type != kTypeAudio && m_decision.See(e.channel)) m_layout = m_decision.Value();
        if (m_o.progress && (++done & 1023) == 0) m_o.progress(done, m_total);
      }
      record.entries = sink->Written() - before;
    }
    if (m_o.progress) m_o.progress(m_total, m_total);
    return Finish();
  }

 private:
  void Select() {
    std::vector<int> order;
    for (const RecoverableEntry &r : m_survey.recoverable) {
      const IndexEntry &e = r.entry;
      if (!(m_o.channelMask & (1u << (e.channel & 3)))) continue;
      if (m_o.from && e.time < *m_o.from) continue;
      if (m_o.to && e.time >= *m_o.to) continue;
      if (m_work.empty() || m_work.back().span != r.span) m_work.push_back(SpanWork{r.span, {}});
      m_work.back().entries.push_back(&r);
      ++m_total;
    }
    for (const SpanWork &w : m_work) {
      const SurveySpan &span = m_survey.spans[size_t(w.span)];
      RecoveredSpanRecord record;
      record.number = w.span + 1;
      record.origin = OriginName(span.origin);
      record.firstEntry = w.entries.front()->number;
      record.lastEntry = w.entries.back()->number;
      record.firstSeconds = w.entries.front()->entry.time;
      record.lastSeconds = w.entries.back()->entry.time;
      for (const RecoverableEntry *r : w.entries) {
        record.firstSeconds = std::min(record.firstSeconds, r->entry.time);
        record.lastSeconds = std::max(record.lastSeconds, r->entry.time);
      }
      m_r.spans.push_back(record);
    }
  }

  bool CheckNames() {
    std::vector<std::string> names = {ManifestPathOf(m_path)};
    if (m_o.framesTable) names.push_back(FramesTablePathOf(m_path));
    if (m_o.format == ExportFormat::kClip) {
      names.push_back(m_path);
    } else {
      for (const SpanWork &w : m_work)
        for (int c = 0; c < 4; ++c)
          if (m_o.channelMask & (1u << c))
            names.push_back(ChannelFilePath(SpanFilePath(m_path, w.span + 1), c));
    }
    for (const std::string &name : names) {
      std::string error;
      if (platform::CheckOutputPath(name, m_o.policy, &error) != platform::OutputStatus::kOk) {
        m_r.error = error.empty() ? "cannot write " + name : error;
        return false;
      }
    }
    return true;
  }

  bool Begin() {
    if (m_o.format == ExportFormat::kClip) {
      auto clip = std::make_unique<ClipExportSink>();
      if (!clip->Create(m_path, m_o.policy, &m_r.error)) return false;
      m_sinks.push_back(std::move(clip));
    }
    if (m_o.framesTable) {
      const std::string path = FramesTablePathOf(m_path);
      if (!m_framesFile.Create(path, m_o.policy)) {
        m_r.error = m_framesFile.Error().empty() ? "cannot write " + path : m_framesFile.Error();
        return false;
      }
      m_framesFile.ComputeSha256();
      m_frames = std::make_unique<BackgroundFramesTable>(
          FramesTable::Format::kCsv,
          [this](const char *data, size_t length) { return m_framesFile.Write(data, length); },
          m_survey.geometry, /*hashes=*/true, nullptr);
      if (!m_frames->Begin()) {
        m_r.error = m_framesFile.Error();
        return false;
      }
    }
    return true;
  }

  // The sink of the w-th span: the one clip, or the span's media files.
  IExportSink *SinkOf(size_t w) {
    if (m_o.format == ExportFormat::kClip) return m_sinks.front().get();
    const SpanWork &work = m_work[w];
    m_plans.push_back(std::make_unique<SpanPlan>(PlanOf(work)));
    uint32_t askedStart = UINT32_MAX;
    for (const RecoverableEntry *r : work.entries) askedStart = std::min(askedStart, r->entry.time);
    m_sinks.push_back(std::make_unique<MediaExportSink>(
        m_o.format, SpanFilePath(m_path, work.span + 1), m_o.channelMask, m_o.policy,
        *m_plans.back(), askedStart));
    return m_sinks.back().get();
  }

  RecoveryResult Finish() {
    platform::FolderSyncs folders;
    int64_t written = 0;
    for (size_t i = 0; i < m_sinks.size(); ++i) {
      IExportSink &sink = *m_sinks[i];
      written += sink.Written();
      if (sink.Written() == 0) {
        sink.Abandon();
        continue;
      }
      if (!sink.Finish(m_layout, folders)) {
        m_r.error = sink.Error();
        return Fail();
      }
      for (const ExportedFile &f : sink.Files()) {
        m_r.files.push_back(f);
        const std::string name = std::filesystem::path(f.path).filename().string();
        if (m_o.format == ExportFormat::kClip) {
          for (RecoveredSpanRecord &r : m_r.spans) r.files.push_back(name);
        } else {
          m_r.spans[i].files.push_back(name);
        }
      }
      for (int c = 0; c < 4; ++c)
        Merge(m_channels[size_t(c)], sink.Statistics().Channels()[size_t(c)]);
    }
    if (written == 0) {
      m_r.error = m_o.format == ExportFormat::kClip
                      ? "Nothing recoverable could be read"
                      : "No recoverable span holds a key picture to start a file at";
      return Fail();
    }
    if (m_frames) {
      const std::string path = FramesTablePathOf(m_path);
      if (!m_frames->End() || !m_framesFile.Commit(&folders)) {
        m_r.error = m_framesFile.Error().empty() ? "cannot write " + path : m_framesFile.Error();
        return Fail();
      }
      m_r.files.push_back(ExportedFileOf(m_framesFile, "frames table"));
    }
    ExportManifest m;
    m.createdUtc = UtcNow();
    m.source = m_identity;
    m.geometry = m_survey.geometry;
    m.layout = m_layout;
    m.format = m_o.format;
    uint32_t from = UINT32_MAX, to = 0;
    for (const RecoveredSpanRecord &r : m_r.spans) {
      from = std::min(from, r.firstSeconds);
      to = std::max(to, r.lastSeconds);
    }
    m.askedFromSeconds = m_o.from.value_or(from);
    m.askedToSeconds = m_o.to ? int64_t{*m_o.to} : int64_t{to} + 1;
    m.startEntry = m_r.spans.front().firstEntry;
    m.complete = m_r.unreadable == 0;
    m.channels = m_channels;
    m.skippedRecords = m_r.unreadable;
    for (const auto &sink : m_sinks) {
      m.skippedRecords += sink->CorruptRecords();
      for (const std::string &note : sink->Notes()) m.notes.push_back(note);
    }
    m.notes.push_back(
        "Recovered: entries the live index does not play (held back, or stale and intact), "
        "not the live recording");
    m.files = m_r.files;
    m.recovered = true;
    m.recoveredSpans = m_r.spans;
    const std::string manifest = ManifestPathOf(m_path);
    if (!WriteManifest(manifest, m, m_o.policy, &m_r.error, &folders)) {
      if (m_r.error.empty()) m_r.error = "cannot write " + manifest;
      folders.SyncAll();
      return m_r;  // the files are whole and in place; their manifest is missing
    }
    folders.SyncAll();
    ExportedFile mf;
    mf.path = manifest;
    mf.role = "manifest";
    m_r.files.push_back(mf);
    m_r.manifestPath = manifest;
    m_r.written = written;
    m_r.ok = true;
    return m_r;
  }

  RecoveryResult Fail() {
    for (auto &sink : m_sinks) sink->Abandon();
    m_frames.reset();
    m_framesFile.Abandon();
    m_r.ok = false;
    m_r.files.clear();
    return m_r;
  }

  ByteSource &m_source;
  const DiskSurvey &m_survey;
  const SourceIdentity &m_identity;
  const std::string m_path;
  const RecoverOptions &m_o;
  std::vector<SpanWork> m_work;
  uint64_t m_total = 0;
  std::vector<std::unique_ptr<SpanPlan>> m_plans;
  std::vector<std::unique_ptr<IExportSink>> m_sinks;
  platform::OutputFile m_framesFile;
  std::unique_ptr<BackgroundFramesTable> m_frames;
  LayoutDecider m_decision;
  int m_layout = 0;
  std::array<ChannelSummary, 4> m_channels{};
  RecoveryResult m_r;
};

}  // namespace

RecoveryResult RecoverEntries(ByteSource &source, const DiskSurvey &survey,
                              const SourceIdentity &identity, const std::string &outputPath,
                              const RecoverOptions &options) {
  return Recovery(source, survey, identity, outputPath, options).Run();
}

}  // namespace orvan::recorder
