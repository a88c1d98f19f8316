#pragma once

// Records what the computer plays, as one stream of 48 000 Hz stereo float fragments stamped with
// the capture time of their first frame: the whole system (WholeSystemStreams, the default
// output's monitor) or the playback streams of one application (ApplicationStreams).
//
// Threads: as CaptureSource.

#include "infrastructure/capture/CaptureSource.h"

#include <memory>
#include <optional>

namespace kivo {

class MonitorStreams;
class PulseConnection;

class SystemAudioCapture final : public CaptureSource {
public:
    // The whole system when `applicationPID` is empty, else that process's playback streams.
    SystemAudioCapture(std::shared_ptr<PulseConnection> connection,
                       std::optional<qint32> applicationPID);
    ~SystemAudioCapture() override;

    // Throws CaptureStartError: no default output (in both modes), the server gone, or the
    // output's record stream refused. An application without playback streams yet is not an
    // error: its streams are picked up when they appear.
    void start(FragmentHandler onFragment, FailureHandler onFailure) override;
    void stop() override;
    // Every running record stream has delivered what was captured before `hostTime`.
    bool hasDeliveredUntil(HostSeconds hostTime) const override;

    // Record streams running now (one per followed output or application stream). Main thread.
    int streamCount() const;

private:
    void stopLocked();

    std::shared_ptr<PulseConnection> m_connection;
    std::optional<qint32> m_pid;
    std::unique_ptr<MonitorStreams> m_streams; // while started; used under the connection's lock
};

} // namespace kivo
