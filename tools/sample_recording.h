// The sample-recording maker behind orvan-mkdisk: a recorder disk image
// with real pictures encoded by libavcodec (MPEG-4 key and predicted
// pictures, or MJPEG key pictures) of a moving synthetic scene that shows
// the channel number and the running time and marks its corners, 16 kHz
// stereo PCM audio blocks, realistic per-entry delays, an event log with
// every kind, the state table, and the 300 tail entries the recorder counts
// but never plays.
//
// The same options and seed always give the same image, byte for byte.
// Data records lie back to back in the data area (unless looped).
#pragma once

#include <cstdint>
#include <string>

namespace orvan::tools {

// Every channel's scene has a grey square of kCornerMarkPixels (half that
// in a quarter of a four-way picture) in each of its corners, of these
// luma values: top left, top right, bottom left, bottom right.
constexpr int kCornerMarkPixels = 16;
constexpr uint8_t kCornerMarkLuma[4] = {235, 170, 110, 16};

struct SampleOptions {
  enum class Codec { Mpeg4, Mjpeg };

  std::string outputPath;
  int durationSeconds = 60;
  int64_t startSeconds = 1202982297;  // 2008-02-14 09:44:57 recorder time
  Codec codec = Codec::Mpeg4;
  bool altTypes = false;  // record types 18/17 (MPEG-4) or 19 (MJPEG) instead of 1/0 or 2
  bool quad = false;      // one channel carrying a 2 x 2 composed picture
  int fps = 8;            // pictures per second per channel
  int keyInterval = 0;    // pictures between key pictures; 0: two seconds' worth
  int events = 12;
  uint32_t seed = 1;
  bool audio = true;
  // Pacing delay written into every audio entry; -1: the time to the next
  // block (what playing them takes). Recorders may as well write 0.
  int audioDelayMs = -1;
  int stateSlot = 0;          // where the valid state entry goes (0..99)
  uint32_t indexAreaMiB = 0;  // 0: as small as the index allows
  // A span without recording: from gapAtSeconds into the recording (-1:
  // halfway) the recorder time jumps gapSeconds ahead.
  int gapSeconds = 0;
  int gapAtSeconds = -1;
  // Long recordings made quickly: only the first loopSeconds are encoded,
  // and every later entry points at the record of the entry one or more
  // loops before it (same channel, same place in its group of pictures),
  // so a day-long index costs minutes, not hours. Records then repeat on
  // the disk and do not lie back to back behind the loop. 0: no loop. The
  // loop is lengthened to a whole number of key-picture intervals.
  int loopSeconds = 0;
  // A still scene with one moving stretch: from motionAtSeconds into the
  // recording, for motionSeconds, the scene moves; before and after it
  // stands still (only the clock's digits change). -1: it moves all along.
  int motionAtSeconds = -1;
  int motionSeconds = 0;
  // The image's length (sparse beyond what is written); 0: as needed.
  uint64_t imageBytes = 0;
  // An earlier recording of this many seconds, written first and then
  // over by the asked one (its index from entry 0, its records from the data
  // area's first byte): its entries behind the asked index are left stale,
  // intact where the asked records do not reach, overwritten where they do.
  // It ends an hour before the asked one starts, and is recorded at 30
  // pictures a second with a key picture every 10 s, so its records are
  // smaller than the asked one's. 0: none.
  int previousSeconds = 0;
  // Index sectors first..last (counted from the index area's first sector)
  // zeroed after writing, as a damaged index leaves them; -1: none.
  int64_t loseIndexFirst = -1;
  int64_t loseIndexLast = -1;
};

struct SampleSummary {
  int64_t entries = 0;     // played entries (playEnd)
  int64_t indexCount = 0;  // entries + 300
  int64_t pictures = 0;
  int64_t audioBlocks = 0;
  uint64_t dataBytes = 0;
  uint64_t imageBytes = 0;
  uint32_t largestRecord = 0;
  uint32_t firstTime = 0;
  uint32_t lastTime = 0;
  // With an earlier recording: its index count, and its entries left behind
  // the asked index, intact or overwritten.
  int64_t previousIndexCount = 0;
  int64_t staleEntries = 0;
  int64_t staleIntact = 0;
  int64_t staleOverwritten = 0;
  // With lost index sectors: the entries whose bytes they held, wholly or
  // in part (-1: none).
  int64_t lostFirstEntry = -1;
  int64_t lostLastEntry = -1;
};

bool MakeSampleRecording(const SampleOptions &options, SampleSummary &summary, std::string *error);

}  // namespace orvan::tools
