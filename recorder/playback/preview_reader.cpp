#include "recorder/playback/preview_reader.h"

#include <algorithm>

#include "media/frame.h"
#include "media/picture_conversion.h"
#include "media/video_decoder.h"

namespace orvan::recorder {

CPreviewReader::~CPreviewReader() {
  {
    std::lock_guard<std::mutex> hold(m_lock);
    m_quit = true;
  }
  m_wake.notify_all();
  if (m_worker.joinable()) m_worker.join();
}

bool CPreviewReader::Open(const std::string &path) {
  if (m_worker.joinable()) return false;
  if (m_disk.OpenPath(path) != DriveOpenStatus::Ok ||
      ReadGeometry(m_disk, m_geometry) != GeometryStatus::Ok)
    return false;
  m_worker = std::thread([this] { Work(); });
  return true;
}

void CPreviewReader::Ask(int64_t entry) {
  {
    std::lock_guard<std::mutex> hold(m_lock);
    const int64_t place = PlaceOf(std::max<int64_t>(entry, 0));
    if (m_cache.count(place)) return;
    m_asked = place;
  }
  m_wake.notify_all();
}

bool CPreviewReader::Find(int64_t entry, Preview &out) const {
  std::lock_guard<std::mutex> hold(m_lock);
  const auto it = m_cache.find(PlaceOf(std::max<int64_t>(entry, 0)));
  if (it == m_cache.end()) return false;
  out = it->second;
  return true;
}

uint64_t CPreviewReader::Decoded() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_decoded;
}

void CPreviewReader::Work() {
  for (;;) {
    int64_t place = -1;
    {
      std::unique_lock<std::mutex> hold(m_lock);
      m_wake.wait(hold, [this] { return m_quit || m_asked >= 0; });
      if (m_quit) return;
      place = m_asked;
      m_asked = -1;
    }
    Preview preview = Make(place);
    {
      std::lock_guard<std::mutex> hold(m_lock);
      if (m_quit) return;
      if (!m_cache.count(place)) {
        m_order.push_back(place);
        if (m_order.size() > kCachedPreviews) {
          m_cache.erase(m_order.front());
          m_order.pop_front();
        }
      }
      m_cache[place] = std::move(preview);
      ++m_decoded;
    }
    if (onReady) onReady(place);
  }
}

Preview CPreviewReader::Make(int64_t place) {
  Preview preview;
  preview.place = place;
  const int64_t total = m_geometry.playEnd;
  if (total <= 0) return preview;
  const int64_t from = std::clamp<int64_t>(place + kSpanEntries / 2, 0, total - 1);
  std::array<int64_t, 4> key{-1, -1, -1, -1};
  std::array<IndexEntry, 4> keyEntry{};
  IndexEntry e;
  int found = 0;
  for (int64_t k = from; k >= 0 && k > from - kKeySearchEntries && found < 4; --k) {
    if (!ReadIndexEntry(m_disk, k, e)) break;
    if (e.channel >= 4 || key[e.channel] >= 0 || !IsKeyPicture(e.type)) continue;
    if (FrameTypeOfRecord(e.type) != VORN_TESK::FT_IFRAME) continue;
    key[e.channel] = k;
    keyEntry[e.channel] = e;
    ++found;
  }
  std::vector<uint8_t> record(kMaxRecordBytes);
  for (int ch = 0; ch < 4; ++ch) {
    if (key[ch] < 0) continue;
    const IndexEntry &k = keyEntry[ch];
    if (ReadRecord(m_disk, m_geometry, k, record.data()) != RecordRead::kRead) continue;
    CVideoDecoderMpeg4 decoder(IsMjpegRecord(k.type) ? kCodecMjpeg : kCodecMpeg4);
    const SYSTEMTIME time = TimeToCalendar(k.time);
    VORN_TESK::tagFrame *frame =
        VORN_TESK::Frames().Create(VORN_TESK::FT_IFRAME, k.size, &time, record.data());
    if (!frame) continue;
    int32_t width = 0, height = 0;
    uint8_t format = 0;
    AVFrame *picture = decoder.Decode(frame, &width, &height, &format);
    VORN_TESK::Frames().Release(frame);
    if (!picture || width <= 1 || height <= 1 || width > 4096 || height > 4096) continue;
    PreviewPicture &out = preview.channels[size_t(ch)];
    out.width = width / 2;
    out.height = height / 2;
    out.bgr32.assign(
        size_t(out.width) * size_t(out.height) * 4 + orvan::media::kConversionSlackBytes, 0);
    orvan::media::SurfaceView view;
    view.bits = out.bgr32.data();
    view.bitCount = 32;
    view.pitch = out.width * 4;
    view.rows = out.height;
    view.slackBytes = orvan::media::kConversionSlackBytes;
    CPictureConverter converter;
    if (!converter.DrawInto(view, picture, format, width, height, true)) {
      out = PreviewPicture{};
      continue;
    }
    out.bgr32.resize(size_t(out.width) * size_t(out.height) * 4);
    out.seconds = k.time;
    out.entry = key[ch];
  }
  return preview;
}

}  // namespace orvan::recorder
