#pragma once

// Records the microphone: a record stream on the chosen input (a source of the sound server) or,
// without a choice, on the server's default input, in 48 000 Hz stereo float buffers of about
// 1024 frames, each stamped with the capture time of its first frame. A stream that is moved to
// another source, suspended, or loses its source is reported as a change of the microphone; the
// recording itself goes on as long as the stream delivers.
//
// Failures: every change of the microphone (kind microphoneChanged), once when the connection
// breaks (kind connectionLost), and once when the stream delivered nothing for
// RecordStream::kMaxQuiet seconds, nor after being reopened once (kind sourceStalled).
//
// Threads: as CaptureSource.

#include "infrastructure/capture/CaptureSource.h"
#include "infrastructure/capture/QuietWatch.h"
#include "infrastructure/capture/RecordStream.h"

#include <memory>
#include <optional>
#include <vector>

struct pa_mainloop_api;
struct pa_time_event;
struct timeval;

namespace kivo {

class PulseConnection;

class MicrophoneCapture final : public CaptureSource {
public:
    static constexpr qint64 kFragmentFrames = 1024;

    // `sourceIndex` is the chosen input's id (AudioInputDevice::id); empty for the default input.
    MicrophoneCapture(std::shared_ptr<PulseConnection> connection,
                      std::optional<quint32> sourceIndex);
    ~MicrophoneCapture() override;

    // Throws CaptureStartError: the chosen source missing (microphoneMissing), no input or one
    // without channels or rate (microphoneWithoutInput), the stream refused (microphoneUnusable),
    // the server gone (serverUnreachable).
    void start(FragmentHandler onFragment, FailureHandler onFailure) override;
    void stop() override;
    bool hasDeliveredUntil(HostSeconds hostTime) const override;

    // The source the stream records from while it runs, else empty. Main thread.
    std::optional<quint32> recordedSource() const;

private:
    std::unique_ptr<RecordStream> makeStream(const RecordStream::Settings& settings);
    static void watch(pa_mainloop_api* api, pa_time_event* event, const struct timeval* time,
                      void* userdata);
    void checkStall();
    void stopLocked();
    void change(const QString& description);

    std::shared_ptr<PulseConnection> m_connection;
    std::optional<quint32> m_sourceIndex;
    // Under the connection's lock:
    FragmentHandler m_onFragment;
    FailureHandler m_onFailure;
    std::unique_ptr<RecordStream> m_stream;
    quint64 m_listener = 0;
    bool m_running = false;              // start() succeeded; changes are reported only then
    pa_time_event* m_watchdog = nullptr; // checks for a stuck stream while running
    QuietWatch m_quiet;                  // whether the stuck stream was reopened
};

} // namespace kivo
