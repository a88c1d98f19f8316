#pragma once

// The audio that kivo_track_writer_child writes, known to the test that kills it: silence for
// the first kLeadInFrames frames of the file, then at file frame f the sample values below.

#include <QtGlobal>

namespace kivo::test::trackwriter {

inline constexpr qint64 kLeadInFrames = 480;
inline constexpr qint64 kBufferFrames = 480;

inline float sample(qint64 fileFrame, int channel) {
    return static_cast<float>((fileFrame * 7 + channel * 3) % 2001 - 1000) / 1024.0f;
}

} // namespace kivo::test::trackwriter
