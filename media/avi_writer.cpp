#include "media/avi_writer.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

extern "C" {
#include <libavutil/error.h>
#include <libavutil/macros.h>
}

namespace {

std::mutex g_defaultHandlerLock;  // guards g_defaultHandler
CAviWriter::MessageHandler g_defaultHandler;

void PrintToStderr(const std::string &text, const std::string &caption) {
  std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
}

CAviWriter::MessageHandler DefaultHandler() {
  std::lock_guard<std::mutex> hold(g_defaultHandlerLock);
  return g_defaultHandler ? g_defaultHandler : CAviWriter::MessageHandler(PrintToStderr);
}

}  // namespace

void CAviWriter::SetDefaultMessageHandler(MessageHandler handler) {
  std::lock_guard<std::mutex> hold(g_defaultHandlerLock);
  g_defaultHandler = std::move(handler);
}

CAviWriter::CAviWriter() : m_handler(DefaultHandler()) {}
CAviWriter::CAviWriter(MessageHandler handler)
    : m_handler(handler ? std::move(handler) : DefaultHandler()) {}

CAviWriter::~CAviWriter() { CloseFile(); }

bool CAviWriter::Fail(const std::string &text) {
  m_failed = true;
  if (m_lastResult == 0) m_lastResult = AVERROR_UNKNOWN;
  m_handler(text, "Warning");
  return false;
}

bool CAviWriter::OpenFile(const std::string &path, int width, int height, int /*sourceKind*/,
                          int /*codec*/, orvan::platform::ReplacePolicy policy) {
  CTeskAutoLock hold(m_lock);
  m_file.Close();
  m_lastResult = 0;
  if (!m_file.Create(path, policy)) {
    // A refusal names the files; a plain failure keeps the system's text.
    if (m_file.Status() != orvan::platform::OutputStatus::kFailed) return Fail(m_file.Error());
    return Fail("AVIFileOpen[Create] Error");
  }
  m_failed = false;
  if (!m_file.CreateVideoStream()) return Fail("AVIFileCreateStream[Video] Error");
  // Stream descriptions may carry a negative height (bottom-up pictures).
  const int w = width < 0 ? -width : width;
  const int h = height < 0 ? -height : height;
  if (!m_file.SetVideoFormat(w, h, MKTAG('D', 'I', 'V', 'X'), kVideoRate))
    return Fail("AVIStreamSetFormat[Video] Error");
  if (!m_file.CreateAudioStream()) return Fail("AVIFileCreateStream[Audio] Error");
  if (!m_file.SetAudioFormat(kAudioChannels, kAudioRate, kAudioBits))
    return Fail("AVIStreamSetFormat[Audio] Error");
  return true;
}

int CAviWriter::WriteSample(int stream, int64_t position, const void *data, uint32_t length,
                            int frameKind) {
  CTeskAutoLock hold(m_lock);
  if (m_failed || !m_file.HasFile() || (stream != kVideo && stream != kAudio)) return 0;
  bool written;
  const char *failure;
  if (stream == kAudio) {
    written = m_file.WriteAudio(data, length);
    failure = "AVIStreamWrite[P,B-frame] Error";
  } else if (frameKind == kKeyFrame) {
    written = m_file.WriteVideo(position, data, length, true);
    failure = "AVIStreamWrite[I-frame] Error";
  } else {
    written = m_file.WriteVideo(position, data, length, false);
    failure = "AVIStreamWrite[P,B-frame] Error";
  }
  if (!written) {
    Fail(failure);
    return 0;
  }
  m_lastResult = 0;
  return 1;
}

bool CAviWriter::CloseFile() {
  CTeskAutoLock hold(m_lock);
  const bool failedBefore = m_failed;
  if (m_file.Close()) return true;
  if (!failedBefore) Fail("The AVI file could not be finished: " + m_file.Error());
  return false;
}

bool CAviWriter::Failed() const {
  CTeskAutoLock hold(m_lock);
  return m_failed;
}

int CAviWriter::LastResult() const {
  CTeskAutoLock hold(m_lock);
  return m_lastResult;
}
