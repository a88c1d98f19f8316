#pragma once

// Records what the computer plays, as one stream of 48 000 Hz stereo float buffers stamped with
// the capture time of their first frame:
// - the whole system: the monitor of the server's default output; when the user makes another
//   output the default, recording moves to that output's monitor;
// - one application: a record stream on each playback stream (sink input) of the chosen process,
//   those open at the start and those it opens later; a stream that moves to another output is
//   picked up again there. Each is made not to move, so that the end of the application's stream
//   ends the record stream instead of turning it into a recording of the whole output.
// Every record stream feeds a CaptureMixer, which sums them on one time grid. In whole-system
// mode, an output's stream that delivers nothing for RecordStream::kMaxQuiet seconds is reopened
// once, and the capture fails (kind sourceStalled) if the new one delivers nothing either.
//
// Threads: construction, start, stop and destruction on one thread (the main thread). The buffer
// and failure handlers run on the pulse thread, except that stop() hands the last buffers on from
// its own thread; they must not block (enqueue and return).

#include "infrastructure/audio/PcmBuffer.h"
#include "infrastructure/capture/CaptureFailure.h"

#include <functional>
#include <memory>
#include <optional>

namespace kivo {

class PulseConnection;

class SystemAudioCapture {
public:
    static constexpr qint64 kFragmentFrames = 960; // 20 ms

    using BufferHandler = std::function<void(PcmBuffer buffer, HostSeconds hostTime)>;
    using FailureHandler = std::function<void(const CaptureFailure& failure)>;

    // The whole system when `applicationPID` is empty, else that process's playback streams.
    SystemAudioCapture(std::shared_ptr<PulseConnection> connection,
                       std::optional<qint32> applicationPID, BufferHandler onBuffer,
                       FailureHandler onFailure);
    ~SystemAudioCapture();

    SystemAudioCapture(const SystemAudioCapture&) = delete;
    SystemAudioCapture& operator=(const SystemAudioCapture&) = delete;

    // Opens the record streams and returns once they run; does nothing while started. Throws
    // CaptureStartError: no default output (in both modes), the server gone, or the output's record
    // stream refused. An application without playback streams yet is not an error: its streams are
    // picked up when they appear.
    void start();
    // Closes every record stream and hands on what the streams and the mixer still hold. Afterwards
    // no handler runs. Safe to call more than once, and without start(); start() may follow again.
    void stop();

    // Whether every running record stream has delivered everything captured before `hostTime`
    // (false while that is not known). Main thread.
    bool hasDeliveredUntil(HostSeconds hostTime) const;

    // Record streams running now (one per followed output or application stream). Main thread.
    int streamCount() const;

private:
    class Session;
    void stopLocked();

    std::shared_ptr<PulseConnection> m_connection;
    std::optional<qint32> m_pid;
    BufferHandler m_onBuffer;
    FailureHandler m_onFailure;
    std::unique_ptr<Session> m_session; // while started; used under the connection's lock
};

} // namespace kivo
