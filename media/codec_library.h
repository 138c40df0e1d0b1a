// One-time set-up of the codec libraries for the whole process.
#pragma once

namespace orvan::media {

// Routes libavcodec/libswscale/libavformat messages into the developer log
// (category "ffmpeg"): their errors at info level, since damaged recordings
// make them routinely, their warnings at debug level. Safe to call from any
// thread, any number of times; the decoder calls it when it is made.
void InitCodecLibrary();

}  // namespace orvan::media
