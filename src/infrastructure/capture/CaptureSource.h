#pragma once

#include "infrastructure/audio/AudioFragment.h"
#include "infrastructure/capture/CaptureFailure.h"

#include <functional>

namespace kivo {

// A source of a recording's audio: the microphone, or what the computer plays. It delivers its
// audio as fragments (AudioFragment: 48 000 Hz stereo float, interleaved, stamped with the host
// time of the first frame), and reports at most one failure of each kind.
//
// Threads: start, stop, hasDeliveredUntil and destruction on one thread (the main thread). The
// handlers run on the pulse thread, except that stop() hands the last fragments on from its own
// thread; they must not block (copy and return).
class CaptureSource {
public:
    using FailureHandler = std::function<void(const CaptureFailure& failure)>;

    virtual ~CaptureSource() = default;

    // Opens the source and returns once it runs; from then on its fragments go to `onFragment`
    // and its failures to `onFailure`. Does nothing while started. Throws CaptureStartError.
    virtual void start(FragmentHandler onFragment, FailureHandler onFailure) = 0;
    // Hands on what the source still holds and closes it; afterwards no handler runs. Safe to
    // call more than once and without start(); start() may follow again.
    virtual void stop() = 0;
    // Whether the source has delivered everything captured before `hostTime` (false while that
    // is not known).
    virtual bool hasDeliveredUntil(HostSeconds hostTime) const = 0;

protected:
    CaptureSource() = default;
    CaptureSource(const CaptureSource&) = delete;
    CaptureSource& operator=(const CaptureSource&) = delete;
};

} // namespace kivo
