// Previews under the play bar's pointer: for a place of the recording, each
// channel's key picture nearest before it, decoded at half size into BGR32
// pixels. Decoded on a thread of its own from a source handle of its own,
// never through the players or their viewers; the last kCachedPreviews are
// kept, so moving back and forth decodes nothing again.
//
// Threads: Open(), Ask(), Find() and the destructor on the owner's thread
// (the window's); the worker decodes. m_lock guards m_asked, m_cache,
// m_order and m_quit; onReady is set before Open() and called on the
// worker after a preview has been kept.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/disk_source.h"
#include "recorder/layout/disk_layout.h"

namespace orvan::recorder {

struct PreviewPicture {
  int width = 0, height = 0;   // 0: the channel has no key picture near
  std::vector<uint8_t> bgr32;  // width * height * 4
  uint32_t seconds = 0;
  int64_t entry = -1;
};

struct Preview {
  int64_t place = -1;  // the first entry of the span the preview stands for
  std::array<PreviewPicture, 4> channels;
};

class CPreviewReader {
 public:
  static constexpr int64_t kSpanEntries = 256;  // one preview stands for this many entries
  static constexpr size_t kCachedPreviews = 48;
  // How far back a channel's key picture is looked for.
  static constexpr int64_t kKeySearchEntries = 4096;

  CPreviewReader() = default;
  ~CPreviewReader();
  CPreviewReader(const CPreviewReader &) = delete;
  CPreviewReader &operator=(const CPreviewReader &) = delete;

  // Opens the disk read-only on a handle of its own and starts the worker.
  bool Open(const std::string &path);
  // The preview of the span holding `entry` is wanted: it replaces one
  // asked for before and not yet begun.
  void Ask(int64_t entry);
  // The kept preview of the span holding `entry`; false when there is none
  // (yet).
  bool Find(int64_t entry, Preview &out) const;
  static int64_t PlaceOf(int64_t entry) { return entry - entry % kSpanEntries; }
  uint64_t Decoded() const;  // previews made so far

  std::function<void(int64_t place)> onReady;

 private:
  void Work();
  Preview Make(int64_t place);

  DiskSource m_disk;  // the worker's only
  DiskGeometry m_geometry;
  std::thread m_worker;
  mutable std::mutex m_lock;
  std::condition_variable m_wake;
  int64_t m_asked = -1;
  bool m_quit = false;
  std::map<int64_t, Preview> m_cache;
  std::deque<int64_t> m_order;  // oldest first
  uint64_t m_decoded = 0;
};

}  // namespace orvan::recorder
