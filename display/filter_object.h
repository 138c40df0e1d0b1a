// The filter object turns the coded frames of one channel into pictures on
// the screen. Its "ProcessFrame" worker takes frames from the video queue,
// decodes them and converts the picture into the drawer's picture surface;
// its "ProcessRender" worker asks the drawer to present what was drawn. It
// does not pace playback: the playback threads do, and the viewer applies
// back pressure through GetQueueLength.
//
// Lock order, outermost first: render lock, decoder lock, video-queue lock,
// shown-times lock, drawer lock. A thread holding one never takes an
// earlier one, except that the render lock is re-entrant (the layout runs
// inside a frame step when the picture size changes).
//
// Lifetime: created by its viewer, deleted only by the filter object killer
// (on a thread of its own); the destructor stops both workers before it
// releases anything they use.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "display/display_types.h"
#include "display/drawer.h"
#include "display/worker_thread.h"
#include "media/frame.h"
#include "media/locks.h"
#include "media/picture_conversion.h"
#include "media/video_decoder.h"
#include "media/vorn_list.h"
#include "platform/wintime.h"

class VornFilterObj {
 public:
  // channel 0..3 and the video panel, both for the drawer. Starts both
  // workers; they idle while the video queue is empty.
  VornFilterObj(int channel, HWND referenceWindow);
  ~VornFilterObj();
  VornFilterObj(const VornFilterObj &) = delete;
  VornFilterObj &operator=(const VornFilterObj &) = delete;

  // Takes ownership of the frame and nulls the caller's pointer. Coded
  // pictures (types 2, 3, 4) are queued (true); a stream description is
  // acted on (true when it was a change); anything else is released
  // (false). Any thread.
  bool PushFrame(VORN_TESK::tagFrame *&frame);
  // Forgets the pending picture and the shown-times list and releases every
  // queued frame.
  void ClearQueues();
  // Frames waiting in the video queue; audio frames are never queued (0).
  void GetQueueLength(int32_t *videoFrames, int32_t *audioFrames = nullptr);
  // Forgets everything queued and the picture last shown (with its time)
  // and clears the viewer's place; layouts redraw nothing until the next
  // picture is decoded. For a source that replaced the one shown.
  void Blank();
  void Pause() { m_paused = true; }
  void Stop();
  void Resume();
  // The viewer's panel and whether a smaller picture keeps its own size,
  // centred. Lays the picture out at once.
  void SetOutputWindow(HWND window, bool centre);
  // Time of the picture last shown (FILETIME 0 before the first).
  void GetShownTime(SYSTEMTIME *out);
  void SetDisplayMode(int32_t mode);
  // The drawer's trim choice (CDDrawer::SetWholePicture); the last picture
  // is laid out and drawn again in the new view.
  void SetWholePicture(bool whole);

  // Divisor for skipping decoded pictures at a queue length (1: none).
  static uint32_t SkipDivisor(uint32_t queueLength);

  // Inspection, for tests and diagnostics.
  CVornDDrawer &Drawer() { return *m_drawer; }
  bool IsPaused() const { return m_paused; }
  bool IsHalfSize();
  void GetPictureSize(int32_t *width, int32_t *height);
  uint32_t ShownTimesLength();
  bool HasPendingPicture();
  // True when everything pushed so far has gone through: no coded frame is
  // queued, no decoded picture waits to be drawn and every drawn picture
  // has been presented. Any thread that holds none of the object's locks.
  bool AllPresented();
  // Pictures decoded and pictures presented so far (diagnostics, any thread).
  uint64_t DecodedPictures() const { return m_decodedCount.load(std::memory_order_relaxed); }
  uint64_t PresentedPictures() const { return m_presentedCount.load(std::memory_order_relaxed); }
  // Decoders opened so far: one per stream description that changed the
  // codec or the picture size, plus reopenings after a decoding fault.
  uint64_t DecoderOpens();
  // Damaged pictures the decoder met (CVideoDecoderMpeg4::DecodeErrors),
  // and whether it waits for a clean key picture after one now; while it
  // does, the drawer marks the picture (CDDrawer::SetDamageMark). Any
  // thread.
  uint64_t DecodeErrors() const { return m_decodeErrors.load(std::memory_order_relaxed); }
  bool DecoderDamaged() const { return m_decoderDamaged.load(std::memory_order_relaxed); }

 private:
  static int32_t FrameStep(void *self);
  static int32_t RenderStep(void *self);
  int32_t ProcessFrame();
  int32_t ProcessRender();
  // What a frame step that did its work returns: the step interval, or the
  // idle interval (idle flag set) when nothing is left to do.
  int32_t AfterFrameStep();
  bool HandleDescription(const VORN_TESK::tagFrame &frame);
  void SetPictureSize(int32_t width, int32_t height);
  void Layout();
  bool DrawPicture(const AVFrame *picture);
  // Render lock held: the drawer's damage mark on or off, shown at once on
  // the last picture when no new one is coming.
  void ShowDamage(bool damaged, bool pictureComing);
  // Wakes a worker whose step found nothing to do (idle set), once.
  static void WakeIfIdle(std::atomic<bool> &idle, ProcessObjThread &worker);

  static constexpr int32_t kStepIntervalMs = 10;
  // A step with nothing to do sleeps this long unless woken (a guard: every
  // change that gives it work wakes it).
  static constexpr int32_t kIdleIntervalMs = 250;

  // Members in construction order; the comment says which lock guards it.
  CTeskCriticalSection m_decoderLock;
  std::unique_ptr<CVideoDecoderMpeg4> m_decoder;  // decoder lock (and render lock)
  std::unique_ptr<CVornDDrawer> m_drawer;         // drawer's own lock, per call
  std::unique_ptr<ProcessObjThread> m_frameThread;
  std::unique_ptr<ProcessObjThread> m_renderThread;
  CTeskCriticalSection m_videoLock;
  TVornList<VORN_TESK::tagFrame *> m_videoQueue;  // video-queue lock
  CTeskCriticalSection m_shownLock;
  TVornList<FILETIME> m_shownTimes;                // shown-times lock; at most one entry
  std::unique_ptr<CPictureConverter> m_converter;  // render lock
  uint8_t m_sourceFormat = 0;                      // render lock
  FILETIME m_pendingTime{};                        // render lock
  CTeskCriticalSection m_renderLock;
  const AVFrame *m_pendingPicture = nullptr;  // render lock; owned by the decoder
  std::atomic<bool> m_paused{false};          // read without a lock
  // Set by a step that found nothing to do and sleeps until woken: the
  // frame step (set under the video-queue or shown-times lock) and the
  // render step (under the shown-times lock). Taken by whoever gives it
  // work, after making the change.
  std::atomic<bool> m_frameIdle{false};
  std::atomic<bool> m_renderIdle{false};
  VORN_TESK::StreamDescription m_description;  // render lock
  const int32_t m_stepInterval = kStepIntervalMs;
  FILETIME m_shownTime{};  // shown-times lock
  // A drawn picture waits for the shown-times list to empty: the render
  // step wakes the frame step when it has presented.
  bool m_frameAwaitsPresent = false;          // shown-times lock
  uint32_t m_skipCounter = 0;                 // render lock
  std::atomic<uint64_t> m_decodedCount{0};    // written by ProcessFrame
  std::atomic<uint64_t> m_presentedCount{0};  // written by ProcessRender
  std::atomic<uint64_t> m_decodeErrors{0};    // written by ProcessFrame, from the decoder
  std::atomic<bool> m_decoderDamaged{false};  // written by ProcessFrame, from the decoder
  bool m_halfSize = false;                    // render lock
  bool m_blank = false;                       // render lock; set by Blank()
  HWND m_window = nullptr;                    // render lock
  bool m_centre = false;                      // render lock
  int32_t m_width = 0;                        // render lock
  int32_t m_height = 0;                       // render lock
};
