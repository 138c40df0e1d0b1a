#include "display/filter_object.h"

#include <cstring>

#include "display/drawer_surface.h"
#include "display/video_window.h"

namespace {

constexpr int32_t kCropSourceFirst = 90;
constexpr int32_t kCropSourceLast = 92;

}  // namespace

VornFilterObj::VornFilterObj(int channel, HWND referenceWindow)
    : m_decoder(std::make_unique<CVideoDecoderMpeg4>(kCodecClosed)),
      m_drawer(std::make_unique<CVornDDrawer>(channel, referenceWindow)),
      m_frameThread(std::make_unique<ProcessObjThread>("ProcessFrame")),
      m_renderThread(std::make_unique<ProcessObjThread>("ProcessRender")),
      m_converter(std::make_unique<CPictureConverter>()) {
  // All 0xFF, so the first description always counts as a change.
  std::memset(&m_description, 0xFF, sizeof m_description);
  m_frameThread->SetProcessFunction(&VornFilterObj::FrameStep);
  m_frameThread->SetUserData(this);
  m_renderThread->SetProcessFunction(&VornFilterObj::RenderStep);
  m_renderThread->SetUserData(this);
  m_frameThread->Resume();
  m_renderThread->Resume();
}

VornFilterObj::~VornFilterObj() {
  ClearQueues();
  m_frameThread->Terminate();
  m_renderThread->Terminate();
  m_frameThread->Wake();
  m_renderThread->Wake();
  m_frameThread->WaitFor();
  m_renderThread->WaitFor();
  m_frameThread.reset();
  m_renderThread.reset();
  // Only now that no worker runs: the decoder, the drawer, the converter.
  m_decoder.reset();
  m_drawer.reset();
  m_converter.reset();
}

int32_t VornFilterObj::FrameStep(void *self) {
  return static_cast<VornFilterObj *>(self)->ProcessFrame();
}
int32_t VornFilterObj::RenderStep(void *self) {
  return static_cast<VornFilterObj *>(self)->ProcessRender();
}

uint32_t VornFilterObj::SkipDivisor(uint32_t n) {
  static const uint32_t kDivisors[] = {1, 2, 6, 12, 20, 30, 42, 56, 72, 90};
  if (n >= 100) return 100;
  return kDivisors[n / 10];
}

bool VornFilterObj::PushFrame(VORN_TESK::tagFrame *&frame) {
  VORN_TESK::tagFrame *owned = frame;
  frame = nullptr;
  if (!owned) return false;
  switch (VORN_TESK::FrameKind(owned->dwType)) {
    case VORN_TESK::FT_IFRAME:
    case VORN_TESK::FT_PFRAME:
    case VORN_TESK::FT_BFRAME: {
      {
        CTeskAutoLock guard(m_videoLock);
        m_videoQueue.PushBack(owned);
      }
      WakeIfIdle(m_frameIdle, *m_frameThread);
      return true;
    }
    case VORN_TESK::FT_INFO: {
      const bool changed = HandleDescription(*owned);
      VORN_TESK::Frames().Release(owned);
      return changed;
    }
    default:
      VORN_TESK::Frames().Release(owned);
      return false;
  }
}

bool VornFilterObj::HandleDescription(const VORN_TESK::tagFrame &frame) {
  // A description shorter than its 48 bytes is damaged: ignored.
  if (frame.dwSize < VORN_TESK::kFrameHeaderBytes ||
      frame.PayloadBytes() < sizeof(VORN_TESK::StreamDescription))
    return false;
  VORN_TESK::StreamDescription incoming;
  std::memcpy(&incoming, frame.Data(), sizeof incoming);

  // No frame step runs while the decoder is flushed or reopened.
  CTeskAutoLock render(m_renderLock);
  if (VORN_TESK::SameDescription(incoming, m_description)) {
    CTeskAutoLock decoder(m_decoderLock);
    m_decoder->Flush();
    return false;
  }
  ClearQueues();
  {
    CTeskAutoLock drawer(m_drawer->GetLock());
    const bool crop =
        incoming.sourceKind >= kCropSourceFirst && incoming.sourceKind <= kCropSourceLast;
    m_drawer->SetCropBorder(crop ? 1 : 0);
  }
  if (incoming.videoCodec != m_description.videoCodec || incoming.width != m_description.width ||
      incoming.height != m_description.height) {
    {
      CTeskAutoLock decoder(m_decoderLock);
      m_decoder->SetCodec(incoming.videoCodec != 0 ? kCodecMpeg4 : kCodecMjpeg);
    }
    SetPictureSize(incoming.width, incoming.height);
  }
  m_description = incoming;
  return true;
}

void VornFilterObj::ClearQueues() {
  {
    CTeskAutoLock render(m_renderLock);
    m_pendingPicture = nullptr;
  }
  {
    CTeskAutoLock shown(m_shownLock);
    m_shownTimes.Clear();
  }
  CTeskAutoLock video(m_videoLock);
  while (!m_videoQueue.Empty()) {
    VORN_TESK::tagFrame *f = m_videoQueue.Front();
    m_videoQueue.PopFront();
    VORN_TESK::Frames().Release(f);
  }
}

void VornFilterObj::GetQueueLength(int32_t *videoFrames, int32_t *audioFrames) {
  if (videoFrames) {
    CTeskAutoLock video(m_videoLock);
    *videoFrames = int32_t(m_videoQueue.Count());
  }
  if (audioFrames) *audioFrames = 0;
}

void VornFilterObj::Stop() {
  m_paused = true;
  ClearQueues();
}

void VornFilterObj::Blank() {
  // The render lock keeps the frame step out until the place is cleared.
  CTeskAutoLock render(m_renderLock);
  ClearQueues();
  m_blank = true;
  {
    CTeskAutoLock shown(m_shownLock);
    m_shownTime = FILETIME{};
  }
  Layout();
}

void VornFilterObj::Resume() {
  m_paused = false;
  WakeIfIdle(m_renderIdle, *m_renderThread);
}

void VornFilterObj::SetOutputWindow(HWND window, bool centre) {
  CTeskAutoLock render(m_renderLock);
  m_window = window;
  m_centre = centre;
  Layout();
}

void VornFilterObj::GetShownTime(SYSTEMTIME *out) {
  FILETIME shown;
  {
    CTeskAutoLock guard(m_shownLock);
    shown = m_shownTime;
  }
  if (!FileTimeToSystemTime(&shown, out)) *out = SYSTEMTIME{1601, 1, 1, 1, 0, 0, 0, 0};
}

void VornFilterObj::SetDisplayMode(int32_t mode) {
  CTeskAutoLock drawer(m_drawer->GetLock());
  m_drawer->SetDisplayMode(mode);
}

void VornFilterObj::SetWholePicture(bool whole) {
  CTeskAutoLock render(m_renderLock);
  {
    CTeskAutoLock drawer(m_drawer->GetLock());
    if (m_drawer->GetWholePicture() == whole) return;
    m_drawer->SetWholePicture(whole);
  }
  Layout();
}

void VornFilterObj::SetPictureSize(int32_t width, int32_t height) {
  CTeskAutoLock render(m_renderLock);
  if (width == m_width && height == m_height) return;
  m_width = width;
  m_height = height;
  {
    CTeskAutoLock drawer(m_drawer->GetLock());
    m_drawer->SetPictureRect(RECT{0, 0, width, height});
  }
  Layout();
}

void VornFilterObj::Layout() {
  CTeskAutoLock render(m_renderLock);
  if (!m_window) return;
  const RECT windowRect = m_window->ScreenRect();
  const int32_t ww = windowRect.Width(), wh = windowRect.Height();
  int32_t x = 0, y = 0, placedW = ww, placedH = wh;
  if (m_centre && m_width != 0 && m_height != 0 && m_width < ww && m_height < wh) {
    x = (ww - m_width) / 2;
    y = (wh - m_height) / 2;
    placedW = m_width;
    placedH = m_height;
  }

  m_pendingPicture = nullptr;
  {
    CTeskAutoLock shown(m_shownLock);
    m_shownTimes.Clear();
  }
  {
    CTeskAutoLock drawer(m_drawer->GetLock());
    m_drawer->Clear(nullptr);
    m_drawer->Clear(&windowRect);
    const RECT dest{windowRect.left + x, windowRect.top + y, windowRect.left + x + placedW,
                    windowRect.top + y + placedH};
    m_drawer->SetWindow(m_window, dest);
    if (m_width != 0 && m_width / 2 >= placedW) {
      m_drawer->SetPictureRect(RECT{0, 0, m_width / 2, m_height / 2});
      m_halfSize = true;
    } else {
      m_drawer->SetPictureRect(RECT{0, 0, m_width, m_height});
      m_halfSize = false;
    }
  }

  // Redraw the last picture at the new place and size.
  const AVFrame *last = m_blank ? nullptr : m_decoder->GetLastPicture();
  if (last && DrawPicture(last)) {
    FILETIME shown;
    {
      CTeskAutoLock guard(m_shownLock);
      shown = m_shownTime;
    }
    CTeskAutoLock drawer(m_drawer->GetLock());
    m_drawer->Present(shown);
  }
}

void VornFilterObj::ShowDamage(bool damaged, bool pictureComing) {
  CTeskAutoLock drawer(m_drawer->GetLock());
  m_drawer->SetDamageMark(damaged);
  // A decoder that waits for a key picture shows nothing new: the mark goes
  // on the picture already shown. (A picture that comes carries it itself.)
  if (!pictureComing && !m_blank) {
    FILETIME shown;
    {
      CTeskAutoLock guard(m_shownLock);
      shown = m_shownTime;
    }
    if (shown.dwLowDateTime != 0 || shown.dwHighDateTime != 0) m_drawer->Present(shown);
  }
}

bool VornFilterObj::DrawPicture(const AVFrame *picture) {
  CDrawerPictureSurface surface(*m_drawer);
  return m_converter->Draw(surface, picture, m_sourceFormat, m_width, m_height, m_halfSize);
}

void VornFilterObj::WakeIfIdle(std::atomic<bool> &idle, ProcessObjThread &worker) {
  if (idle.exchange(false)) worker.Wake();
}

int32_t VornFilterObj::ProcessFrame() {
  CTeskAutoLock render(m_renderLock);
  m_frameIdle.store(false);
  if (!m_pendingPicture) {
    VORN_TESK::tagFrame *frame = nullptr;
    uint32_t queued = 0;
    {
      CTeskAutoLock video(m_videoLock);
      if (m_videoQueue.Empty()) {
        // PushFrame wakes the step; the flag is set under the queue's lock,
        // so a frame pushed after this look always finds it.
        m_frameIdle.store(true);
        return kIdleIntervalMs;
      }
      queued = m_videoQueue.Count();
      frame = m_videoQueue.Front();
      m_videoQueue.PopFront();
    }
    int32_t width = 0, height = 0;
    bool damaged = false;
    {
      CTeskAutoLock decoder(m_decoderLock);
      m_pendingPicture = m_decoder->Decode(frame, &width, &height, &m_sourceFormat);
      m_decodeErrors.store(m_decoder->DecodeErrors(), std::memory_order_relaxed);
      damaged = m_decoder->Damaged();
    }
    if (damaged != m_decoderDamaged.exchange(damaged, std::memory_order_relaxed))
      ShowDamage(damaged, m_pendingPicture != nullptr);
    if (!m_pendingPicture) {
      VORN_TESK::Frames().Release(frame);
      return AfterFrameStep();
    }
    m_blank = false;
    // A new size lays out and redraws this very picture (the shown time
    // stays), which forgets it as pending.
    SetPictureSize(width, height);
    if (!m_pendingPicture) {
      VORN_TESK::Frames().Release(frame);
      return AfterFrameStep();
    }
    m_pendingTime = frame->ftTime;
    const bool decodeOnly = (frame->dwType & VORN_TESK::FT_DECODE_ONLY) != 0;
    VORN_TESK::Frames().Release(frame);
    m_decodedCount.fetch_add(1, std::memory_order_relaxed);
    if (decodeOnly) {
      // A reference for the picture a step shows: on to the next at once.
      m_pendingPicture = nullptr;
      return 0;
    }

    const uint32_t divisor = SkipDivisor(queued);
    if (divisor > 1) {
      if (m_skipCounter % divisor != 0) m_pendingPicture = nullptr;
      ++m_skipCounter;
    }
  }
  if (m_pendingPicture) {
    {
      CTeskAutoLock shown(m_shownLock);
      if (m_shownTimes.Count() != 0) {
        // The render step wakes this one once it has presented.
        m_frameAwaitsPresent = true;
        m_frameIdle.store(true);
        return kIdleIntervalMs;
      }
    }
    if (DrawPicture(m_pendingPicture)) {
      m_pendingPicture = nullptr;
      {
        CTeskAutoLock shown(m_shownLock);
        m_shownTimes.PushBack(m_pendingTime);
      }
      WakeIfIdle(m_renderIdle, *m_renderThread);
    }
  }
  return AfterFrameStep();
}

int32_t VornFilterObj::AfterFrameStep() {
  // With a frame queued, or a picture pending, the next step comes after
  // the step interval, which keeps the pace the skip rule counts with.
  // With neither, the next step would only find nothing to do: sleep until
  // PushFrame wakes it (the flag is set under the queue's lock, as in the
  // step's own look at an empty queue).
  if (m_pendingPicture) return m_stepInterval;
  CTeskAutoLock video(m_videoLock);
  if (!m_videoQueue.Empty()) return m_stepInterval;
  m_frameIdle.store(true);
  return kIdleIntervalMs;
}

int32_t VornFilterObj::ProcessRender() {
  bool presented = false;
  bool nothingLeft = false;
  bool wakeFrame = false;
  {
    CTeskAutoLock shown(m_shownLock);
    // Resume and the frame step wake this step; both set what it looks at
    // before they look at the flag, which is set here under the lock they
    // take (the shown-times lock), or before m_paused is read again.
    m_renderIdle.store(true);
    if (m_paused || m_shownTimes.Empty()) return kIdleIntervalMs;
    m_renderIdle.store(false);
    const FILETIME time = m_shownTimes.Front();
    {
      CTeskAutoLock drawer(m_drawer->GetLock());
      presented = m_drawer->Present(time);
    }
    if (presented) {
      m_presentedCount.fetch_add(1, std::memory_order_relaxed);
      m_shownTime = time;
      m_shownTimes.PopFront();
      // The list held this one entry: the next comes with the frame step's
      // next drawing, which wakes this step. Sleep until then rather than
      // look again after the step interval.
      nothingLeft = m_shownTimes.Empty();
      if (nothingLeft) m_renderIdle.store(true);
      wakeFrame = m_frameAwaitsPresent;
      m_frameAwaitsPresent = false;
    }
  }
  // A drawn picture waited for the list to empty. (A frame step idle for
  // an empty queue is PushFrame's to wake.)
  if (wakeFrame) WakeIfIdle(m_frameIdle, *m_frameThread);
  return nothingLeft ? kIdleIntervalMs : m_stepInterval;
}

bool VornFilterObj::IsHalfSize() {
  CTeskAutoLock render(m_renderLock);
  return m_halfSize;
}

void VornFilterObj::GetPictureSize(int32_t *width, int32_t *height) {
  CTeskAutoLock render(m_renderLock);
  *width = m_width;
  *height = m_height;
}

uint64_t VornFilterObj::DecoderOpens() {
  CTeskAutoLock decoder(m_decoderLock);
  return m_decoder->OpenCount();
}

uint32_t VornFilterObj::ShownTimesLength() {
  CTeskAutoLock shown(m_shownLock);
  return m_shownTimes.Count();
}

bool VornFilterObj::AllPresented() {
  // The render lock keeps a frame step from holding a frame that is in
  // neither the queue nor the pending picture while we look.
  CTeskAutoLock render(m_renderLock);
  if (m_pendingPicture) return false;
  {
    CTeskAutoLock video(m_videoLock);
    if (!m_videoQueue.Empty()) return false;
  }
  CTeskAutoLock shown(m_shownLock);
  return m_shownTimes.Empty();
}

bool VornFilterObj::HasPendingPicture() {
  CTeskAutoLock render(m_renderLock);
  return m_pendingPicture != nullptr;
}
