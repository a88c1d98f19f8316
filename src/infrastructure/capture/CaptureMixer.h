#pragma once

// Sums the stamped fragments of several record streams (an application's playback streams, or
// the outputs' monitors while the default output changes) into one stream of fragments, each
// stamped with the capture time of its first frame.
//
// The streams deliver independently and their fragments start at different moments, so the
// mixer places every fragment on one grid of frames of the monotonic clock (frame n is the
// instant n / 48 000 s) and adds it into an accumulation span that starts at the first frame not
// yet handed on. A frame is handed on once every input has delivered past it, or once the newest
// data lies kMaxWaitFrames beyond it (an input that has stalled or not yet started does not hold
// the others up longer than that). Fragments of one input that follow each other within
// kJoinFrames are joined without a gap, so rounding to the grid never tears a stream; a fragment
// that reaches back into what its input already delivered loses that part. Audio that arrives for
// frames already handed on is dropped. Frames no input delivered are silence inside a
// buffer; a stretch longer than kMaxSpanFrames with no data at all is not filled but left as a
// jump in the stamps, which the writer fills.
//
// Not thread-safe: one thread (the pulse thread) drives it; the output runs synchronously on it.

#include "infrastructure/AudioUnits.h"
#include "infrastructure/audio/AudioFragment.h"

#include <QtGlobal>

#include <functional>
#include <map>
#include <optional>
#include <vector>

namespace kivo {

class CaptureMixer {
public:
    static constexpr qint64 kMaxWaitFrames = 7200;          // 150 ms
    static constexpr qint64 kMaxSpanFrames = kSampleRateHz; // 1 s held at most
    static constexpr qint64 kMinOutputFrames = 480;         // smaller ready stretches wait for more
    static constexpr qint64 kJoinFrames = 2;

    explicit CaptureMixer(FragmentHandler output);

    // An input the mixer waits for. Adding an input twice changes nothing.
    void addInput(quint64 input);
    // The mixer no longer waits for the input; what it delivered stays.
    void removeInput(quint64 input);
    bool hasInput(quint64 input) const { return m_inputs.count(input) != 0; }

    // Adds a fragment of `input`. Fragments of unknown inputs are ignored.
    void push(quint64 input, const AudioFragment& fragment);

    // Hands on every frame that lies before `hostTime`, whoever has delivered it (for when no
    // input delivers at all).
    void flushBefore(HostSeconds hostTime);
    // Hands on everything held.
    void flushAll();

    // The grid frame of a time: nearest frame, halves away from zero.
    static qint64 frameAt(HostSeconds hostTime);

private:
    void place(const float* interleaved, Frames frames, qint64 start);
    void emitUpTo(qint64 frame);
    void emitReady();

    FragmentHandler m_output;
    struct Input {
        std::optional<qint64> next; // grid frame after its last delivered frame
    };
    std::map<quint64, Input> m_inputs;
    std::optional<qint64> m_start; // grid frame of the first frame held
    qint64 m_end = 0;              // grid frame after the last frame held
    std::vector<float> m_held;     // held frames, interleaved, from m_start
};

} // namespace kivo
