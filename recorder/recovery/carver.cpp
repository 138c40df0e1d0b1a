#include "recorder/recovery/carver.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <mutex>
#include <thread>

#include <nlohmann/json.hpp>

#include "media/still_picture.h"
#include "platform/digest.h"
#include "platform/wintime.h"
#include "recorder/export/export_manifest.h"
#include "recorder/recovery/carve_scanner.h"
#include "recorder/recovery/forward_reader.h"

#ifndef ORVAN_VERSION
#define ORVAN_VERSION "unknown"
#endif

namespace orvan::recorder {

namespace {

using Json = nlohmann::ordered_json;

constexpr size_t kStepBytes = ForwardReader::kWindowBytes;
// A picture that starts in one step is read whole with the next bytes.
constexpr size_t kOverlapBytes = kMaxCarvedBytes + 8192;

std::string Sha256Hex(const uint8_t *data, size_t size) {
  platform::Sha256 d;
  d.Update(data, size);
  return platform::HexOf(d.Final());
}

Json TimeJson(uint32_t t) { return t ? Json(FormatRecorderTime(int64_t{t})) : Json(nullptr); }

bool WriteBytes(const std::string &path, const std::vector<uint8_t> &bytes,
                platform::ReplacePolicy policy, std::string &error) {
  platform::OutputFile out;
  if (out.Create(path, policy) && out.Write(bytes.data(), bytes.size()) && out.Commit())
    return true;
  error = out.Error().empty() ? "cannot write " + path : out.Error();
  return false;
}

// The decoder check and the PNG of each candidate, on worker threads beside
// the reading: a carve keeps up with the disk as far as the processors let
// it. m_lock guards the queue, the closed flag, the results, the count of
// refused candidates and the error; the work itself runs outside it.
class PictureWorkers {
 public:
  struct Job {
    uint64_t offset = 0;
    std::vector<uint8_t> bytes;
    bool mpeg4 = true;
    std::vector<uint8_t> headers;  // borrowed stream headers; empty when it has its own
  };

  PictureWorkers(const CarveOptions &options) : m_options(options) {
    const unsigned cores = std::max(1u, std::min(4u, std::thread::hardware_concurrency()));
    for (unsigned i = 0; i < cores; ++i) m_threads.emplace_back([this] { Work(); });
  }
  ~PictureWorkers() { Finish(); }

  // False once a picture could not be written: the carve ends.
  bool Push(Job job) {
    std::unique_lock<std::mutex> hold(m_lock);
    m_changed.wait(hold, [this] { return m_jobs.size() < kQueued || !m_error.empty(); });
    if (!m_error.empty()) return false;
    m_jobs.push_back(std::move(job));
    m_changed.notify_all();
    return true;
  }
  // Every job done and the workers joined.
  void Finish() {
    {
      std::lock_guard<std::mutex> hold(m_lock);
      m_closed = true;
    }
    m_changed.notify_all();
    for (std::thread &t : m_threads) t.join();
    m_threads.clear();
  }
  // After Finish().
  std::vector<CarvedPicture> &Pictures() { return m_done; }
  uint64_t Rejected() const { return m_rejected; }
  const std::string &Error() const { return m_error; }

 private:
  static constexpr size_t kQueued = 16;

  void Work() {
    for (;;) {
      Job job;
      {
        std::unique_lock<std::mutex> hold(m_lock);
        m_changed.wait(hold, [this] { return !m_jobs.empty() || m_closed || !m_error.empty(); });
        if (m_jobs.empty() || !m_error.empty()) return;
        job = std::move(m_jobs.front());
        m_jobs.pop_front();
      }
      m_changed.notify_all();
      CarvedPicture p;
      std::string error;
      const bool kept = Make(job, p, error);
      std::lock_guard<std::mutex> hold(m_lock);
      if (!error.empty()) {
        if (m_error.empty()) m_error = error;
        m_changed.notify_all();
      } else if (kept) {
        m_done.push_back(std::move(p));
      } else {
        ++m_rejected;
      }
    }
  }

  bool Make(const Job &job, CarvedPicture &p, std::string &error) const {
    media::StillPicture picture;
    if (!media::DecodeStillPicture(
            job.mpeg4 ? media::StillCodec::kMpeg4 : media::StillCodec::kMjpeg, job.bytes.data(),
            job.bytes.size(), picture, job.headers))
      return false;
    p.offset = job.offset;
    p.size = job.bytes.size();
    p.kind = job.mpeg4 ? "mpeg4 key picture" : "jpeg";
    p.sha256 = Sha256Hex(job.bytes.data(), job.bytes.size());
    p.width = picture.width;
    p.height = picture.height;
    p.headersFromBefore = !job.headers.empty();
    if (m_options.outputDir.empty()) return true;
    std::vector<uint8_t> png;
    if (!media::EncodePng(picture, png)) {
      error = "cannot encode the picture at " + std::to_string(p.offset);
      return false;
    }
    p.file =
        (std::filesystem::path(m_options.outputDir) / (std::to_string(p.offset) + ".png")).string();
    if (!WriteBytes(p.file, png, m_options.policy, error)) return false;
    p.fileSha256 = Sha256Hex(png.data(), png.size());
    return true;
  }

  const CarveOptions &m_options;
  std::mutex m_lock;
  std::condition_variable m_changed;
  std::deque<Job> m_jobs;
  bool m_closed = false;
  std::vector<CarvedPicture> m_done;
  uint64_t m_rejected = 0;
  std::string m_error;
  std::vector<std::thread> m_threads;
};

}  // namespace

nlohmann::ordered_json CarvedPictureJson(const CarvedPicture &p, bool fileNameOnly) {
  return {{"offset", p.offset},
          {"size", p.size},
          {"kind", p.kind},
          {"sha256", p.sha256},
          {"width", p.width},
          {"height", p.height},
          {"headersFromBefore", p.headersFromBefore},
          {"timeBefore", TimeJson(p.timeBefore)},
          {"timeAfter", TimeJson(p.timeAfter)},
          {"recordBeforeEnd", p.recordBeforeEnd},
          {"recordAfterStart", p.recordAfterStart},
          {"file", fileNameOnly ? std::filesystem::path(p.file).filename().string() : p.file},
          {"fileSha256", p.fileSha256}};
}

CarveResult CarveDisk(ByteSource &source, const DiskSurvey &survey, const SourceIdentity &identity,
                      const CarveOptions &o) {
  CarveResult r;
  const uint64_t dataBase = survey.geometry.dataBase;
  const uint64_t diskEnd = survey.diskBytes;
  r.fromOffset = std::max(o.fromOffset, dataBase);
  r.toOffset = o.toOffset ? std::min(o.toOffset, diskEnd) : diskEnd;
  if (diskEnd == 0) {
    r.error = "The disk's length cannot be told";
    return r;
  }
  if (r.toOffset <= r.fromOffset) {
    r.error = "The range holds no part of the data area";
    return r;
  }
  if (!o.outputDir.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(o.outputDir, ec);
    if (!std::filesystem::is_directory(o.outputDir)) {
      r.error = "cannot make the folder " + o.outputDir;
      return r;
    }
  }
  // The stretches no valid entry points into, inside the range.
  struct Stretch {
    uint64_t begin, end;
  };
  std::vector<Stretch> stretches;
  uint64_t total = 0;
  survey.referenced.ForEachGap(r.fromOffset, r.toOffset, [&](uint64_t b, uint64_t e) {
    stretches.push_back({b, e});
    total += e - b;
  });
  ForwardReader reader(source, diskEnd, kStepBytes + kOverlapBytes + 2 * kSectorBytes);
  std::vector<uint8_t> headers;  // the last MPEG-4 stream headers met
  std::vector<CarveCandidate> found;
  uint64_t done = 0;
  PictureWorkers workers(o);
  bool writeFailed = false;  // a worker could not write a picture
  for (const Stretch &s : stretches) {
    ++r.stretches;
    for (uint64_t pos = s.begin; pos < s.end; pos += kStepBytes) {
      if (o.stop && o.stop->load(std::memory_order_acquire)) {
        r.stopped = true;
        r.error = "The carve was stopped";
        break;
      }
      const size_t want = size_t(std::min<uint64_t>(kStepBytes + kOverlapBytes, s.end - pos));
      ForwardReader::Piece piece;
      const ForwardReader::Got got = reader.Get(pos, want, piece);
      if (got == ForwardReader::Got::kGone) {
        r.gone = true;
        r.error = kDiskStoppedText;
        break;
      }
      if (got == ForwardReader::Got::kStopped) {
        r.stopped = true;
        r.error = "The carve was stopped";
        break;
      }
      if (!piece.data) break;  // the disk ends here
      const size_t step = size_t(std::min<uint64_t>(kStepBytes, s.end - pos));
      r.bytesScanned += std::min(step, piece.bytes);
      found.clear();
      ScanForPictures(piece.data, piece.bytes, step, found);
      for (const CarveCandidate &c : found) {
        ++r.candidates;
        if (piece.LostWithin(c.at, c.bytes)) {
          ++r.skippedLost;
          continue;
        }
        const uint8_t *bytes = piece.data + c.at;
        const bool mpeg4 = c.kind == CarveCandidate::Kind::kMpeg4Key;
        if (mpeg4 && c.hasHeaders) headers.assign(bytes, bytes + (c.vopAt - c.at));
        PictureWorkers::Job job;
        job.offset = pos + c.at;
        job.bytes.assign(bytes, bytes + c.bytes);
        job.mpeg4 = mpeg4;
        if (mpeg4 && !c.hasHeaders) job.headers = headers;
        if (!workers.Push(std::move(job))) {
          writeFailed = true;
          break;
        }
      }
      if (writeFailed) break;
      done += step;
      if (o.progress) o.progress(done, total);
    }
    if (r.gone || r.stopped || writeFailed) break;
  }
  workers.Finish();
  r.backwardReads = reader.BackwardReads();
  r.rejected = workers.Rejected();
  if (!workers.Error().empty()) {
    r.error = workers.Error();
    return r;
  }
  r.pictures = std::move(workers.Pictures());
  std::sort(r.pictures.begin(), r.pictures.end(),
            [](const CarvedPicture &a, const CarvedPicture &b) { return a.offset < b.offset; });
  // Each picture between the referenced records on either side of it.
  for (CarvedPicture &p : r.pictures) {
    if (const ByteRuns::Run *before = survey.referenced.Before(p.offset)) {
      p.timeBefore = before->endTime;
      p.recordBeforeEnd = before->end;
    }
    if (const ByteRuns::Run *after = survey.referenced.After(p.offset)) {
      p.timeAfter = after->beginTime;
      p.recordAfterStart = after->begin;
    }
  }
  if (o.outputDir.empty()) {
    r.ok = !r.gone && !r.stopped;
    return r;
  }
  Json pictures = Json::array();
  for (const CarvedPicture &p : r.pictures) pictures.push_back(CarvedPictureJson(p, true));
  Json m = {{"program", {{"name", "ORVAN Viewer"}, {"version", ORVAN_VERSION}}},
            {"created", UtcNow()},
            {"source",
             {{"path", identity.path}, {"kind", identity.kind}, {"sizeBytes", identity.sizeBytes}}},
            {"carved", true},
            {"fromOffset", r.fromOffset},
            {"toOffset", r.toOffset},
            {"stretches", r.stretches},
            {"bytesScanned", r.bytesScanned},
            {"candidates", r.candidates},
            {"rejected", r.rejected},
            {"skippedLost", r.skippedLost},
            {"complete", !r.gone && !r.stopped},
            {"pictures", pictures}};
  r.manifestPath = (std::filesystem::path(o.outputDir) / "carve.manifest.json").string();
  const std::string text = m.dump(2) + "\n";
  if (!WriteBytes(r.manifestPath, std::vector<uint8_t>(text.begin(), text.end()), o.policy,
                  r.error)) {
    r.manifestPath.clear();
    return r;
  }
  r.ok = !r.gone && !r.stopped;
  return r;
}

}  // namespace orvan::recorder
