#include "platform/muxer_output.h"

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

namespace orvan::platform {

namespace {

constexpr int kIoBufferBytes = 256 * 1024;

#if LIBAVFORMAT_VERSION_MAJOR >= 61
using IoWriteBuffer = const uint8_t *;
#else
using IoWriteBuffer = uint8_t *;
#endif

int WriteToOutput(void *opaque, IoWriteBuffer data, int length) {
  auto *output = static_cast<OutputFile *>(opaque);
  return length >= 0 && output->Write(data, size_t(length)) ? length : AVERROR(EIO);
}

int64_t SeekOutput(void *opaque, int64_t offset, int whence) {
  auto *output = static_cast<OutputFile *>(opaque);
  if (whence & AVSEEK_SIZE) {
    const int64_t size = output->SizeBytes();
    return size < 0 ? AVERROR(EIO) : size;
  }
  const int64_t at = output->Seek(offset, whence & ~AVSEEK_FORCE);
  return at < 0 ? AVERROR(EIO) : at;
}

}  // namespace

void MuxerOutput::IoContextDeleter::operator()(AVIOContext *io) const {
  if (!io) return;
  av_freep(&io->buffer);
  avio_context_free(&io);
}

MuxerOutput::~MuxerOutput() { Abandon(); }

bool MuxerOutput::Create(const std::string &path, ReplacePolicy policy, Kind kind) {
  Abandon();
  if (!m_output.Create(path, policy)) return false;
  const bool streaming = kind == Kind::kStreaming;
  if (streaming)
    m_output.ComputeSha256();
  else if (kind == Kind::kSeekableDigest)
    m_output.ComputeSha256AtCommit();
  auto *buffer = static_cast<unsigned char *>(av_malloc(kIoBufferBytes));
  // A streaming context has no seek call: the muxer sees a pipe and never
  // goes back over bytes already digested.
  AVIOContext *io = buffer ? avio_alloc_context(buffer, kIoBufferBytes, 1, &m_output, nullptr,
                                                WriteToOutput, streaming ? nullptr : SeekOutput)
                           : nullptr;
  if (!io) {
    av_free(buffer);
    m_output.Abandon();
    return false;
  }
  if (streaming) io->seekable = 0;
  m_io.reset(io);
  return true;
}

bool MuxerOutput::Flush() {
  if (!m_io) return false;
  avio_flush(m_io.get());
  if (m_io->error < 0) return false;
  m_output.StartWriteback();
  return true;
}

bool MuxerOutput::Commit(FolderSyncs *later) {
  const bool written = Flush();
  m_io.reset();
  if (!written) {
    m_output.Abandon();
    return false;
  }
  return m_output.Commit(later);
}

void MuxerOutput::Abandon() {
  m_io.reset();
  m_output.Abandon();
}

}  // namespace orvan::platform
