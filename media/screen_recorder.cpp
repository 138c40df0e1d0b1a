#include "media/screen_recorder.h"

extern "C" {
#include <libswscale/swscale.h>
}

#include <algorithm>

#include "media/avi_writer.h"
#include "platform/mpeg4_encoder.h"

namespace orvan::media {

namespace {
// The source kind every player describes its pictures with.
constexpr int kPlayerSourceKind = 1;
// The AVI's picture rate: pictures are numbered by the slot they fall in.
constexpr int64_t kPicturesPerSecond = 7;
constexpr int64_t kAudioFrameBytes = 4;  // 16-bit stereo

int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}
}  // namespace

CScreenRecorder::CScreenRecorder(IScreenGrabber *grabber, Clock clock)
    : m_grabber(grabber), m_clock(clock ? std::move(clock) : Clock(SteadyMs)) {
  m_lastPictureMs = m_clock();
}

CScreenRecorder::~CScreenRecorder() { Stop(); }

CScreenRecorder::StartResult CScreenRecorder::Start(const std::string &fileName, int codec,
                                                    int flags, platform::ReplacePolicy policy) {
  auto writer = std::make_unique<CAviWriter>();
  std::lock_guard<std::mutex> l(m_aviLock);
  CloseLocked();
  m_pictures.store(0);
  m_audioBlocks.store(0);
  m_audioGaps.store(0);
  m_audioAhead.store(0);
  m_silenceSamples.store(0);
  m_sampleBytes.store(0);
  m_startMs = m_clock();
  m_lastSlot = -1;
  m_audioLine.Reset(0);
  m_audioSamples = 0;
  if (!writer->OpenFile(fileName, kWidth, kHeight, kPlayerSourceKind, codec, policy)) {
    writer->CloseFile();
    return StartResult::kFileFailed;
  }
  auto encoder = std::make_unique<orvan::platform::Mpeg4Encoder>();
  int32_t scratch = 0;
  int32_t size = kWidth * 4096 + kHeight;
  encoder->EncoderControl(orvan::platform::Mpeg4Encoder::kControlQuery, &scratch);
  encoder->EncoderControl(orvan::platform::Mpeg4Encoder::kControlSetSize, &size);
  if (encoder->InitEncoder() != 0) {
    writer->CloseFile();
    return StartResult::kEncoderFailed;
  }
  m_coded.resize(encoder->MaxCodedBytes());
  m_encoder = std::move(encoder);
  m_avi = std::move(writer);
  m_flags = flags;
  // The screen as it is now is the file's first picture: a player that is
  // paused brings no entry that would add one, and a file without a
  // picture is one no reader can make sense of.
  WritePicture(true);
  return StartResult::kStarted;
}

void CScreenRecorder::Stop() {
  std::lock_guard<std::mutex> l(m_aviLock);
  CloseLocked();
}

void CScreenRecorder::CloseLocked() {
  if (m_avi) {
    m_avi->CloseFile();
    m_avi.reset();
  }
  m_encoder.reset();
  m_flags = -1;
}

void CScreenRecorder::AudioBlock(const void *data, uint32_t bytes) {
  std::lock_guard<std::mutex> l(m_aviLock);
  if (!m_avi) return;
  // The block plays now: where the stream has got to, unless the player
  // went on without audio for a while, which the file then hears as
  // silence.
  const int64_t now = ElapsedMs();
  const size_t gaps = m_audioLine.Gaps().size();
  const size_t ahead = m_audioLine.Aheads().size();
  const int64_t first = m_audioLine.Place(now, now, int64_t(bytes) / kAudioFrameBytes);
  m_audioGaps.fetch_add(m_audioLine.Gaps().size() - gaps);
  m_audioAhead.fetch_add(m_audioLine.Aheads().size() - ahead);
  static const std::vector<uint8_t> silence(16000 * kAudioFrameBytes, 0);
  while (m_audioSamples < first) {
    const int64_t samples =
        std::min<int64_t>(first - m_audioSamples, int64_t(silence.size()) / kAudioFrameBytes);
    if (!m_avi->WriteSample(CAviWriter::kAudio, 0, silence.data(),
                            uint32_t(samples * kAudioFrameBytes), m_flags))
      return;
    m_audioSamples += samples;
    m_silenceSamples.fetch_add(uint64_t(samples));
    m_sampleBytes.fetch_add(uint64_t(samples * kAudioFrameBytes));
  }
  if (m_avi->WriteSample(CAviWriter::kAudio, static_cast<int64_t>(m_audioBlocks.load()), data,
                         bytes, m_flags) == 1)
    m_sampleBytes.fetch_add(bytes);
  m_audioSamples += int64_t(bytes) / kAudioFrameBytes;
  m_audioBlocks.fetch_add(1);
}

void CScreenRecorder::PictureTime() {
  std::lock_guard<std::mutex> l(m_aviLock);
  if (!m_avi) return;
  if (m_clock() - m_lastPictureMs <= kPictureIntervalMs) return;
  if (ElapsedMs() * kPicturesPerSecond / 1000 <= m_lastSlot) return;
  WritePicture(false);
}

void CScreenRecorder::WritePicture(bool blankWhenNoGrab) {
  m_lastPictureMs = m_clock();
  if (!m_encoder) return;
  m_picture.resize(size_t(kWidth) * kHeight * 3);
  if (!GrabScreen()) {
    if (!blankWhenNoGrab) return;
    std::fill(m_picture.begin(), m_picture.end(), uint8_t{0});
  }
  int frameKind = 0;
  int codedBytes = 0;
  if (m_encoder->Encode(m_picture.data(), m_picture.size(), m_coded.data(), m_coded.size(),
                        &codedBytes, &frameKind) != 0)
    return;
  // Numbered by its slot on the file's clock, so the pictures keep to the
  // time they were taken in.
  const int64_t slot = std::max(ElapsedMs() * kPicturesPerSecond / 1000, m_lastSlot + 1);
  m_lastSlot = slot;
  if (m_avi->WriteSample(CAviWriter::kVideo, slot, m_coded.data(),
                         static_cast<uint32_t>(codedBytes), frameKind) == 1)
    m_sampleBytes.fetch_add(uint64_t(codedBytes));
  m_pictures.fetch_add(1);
}

bool CScreenRecorder::GrabScreen() {
  if (!m_grabber) return false;
  GrabbedPicture grab;
  if (!m_grabber->GrabPicture(grab) || grab.width <= 0 || grab.height <= 0) return false;
  AVPixelFormat format;
  switch (grab.bitsPerPixel) {
    case 32:
      format = AV_PIX_FMT_BGR0;
      break;
    case 24:
      format = AV_PIX_FMT_BGR24;
      break;
    case 16:
      format = AV_PIX_FMT_RGB565LE;
      break;
    default:
      return false;
  }
  if (grab.pitchBytes <= 0 || grab.bytes.size() < size_t(grab.pitchBytes) * size_t(grab.height))
    return false;
  // Whatever size and depth the screen has, the file gets 720 x 480 of
  // B, G, R: the grab is scaled, never copied past the picture buffer.
  m_scaler.reset(sws_getCachedContext(m_scaler.release(), grab.width, grab.height, format, kWidth,
                                      kHeight, AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr,
                                      nullptr));
  if (!m_scaler) return false;
  const uint8_t *src[4] = {grab.bytes.data(), nullptr, nullptr, nullptr};
  const int srcStride[4] = {grab.pitchBytes, 0, 0, 0};
  uint8_t *dst[4] = {m_picture.data(), nullptr, nullptr, nullptr};
  const int dstStride[4] = {kWidth * 3, 0, 0, 0};
  return sws_scale(m_scaler.get(), src, srcStride, 0, grab.height, dst, dstStride) == kHeight;
}

}  // namespace orvan::media
