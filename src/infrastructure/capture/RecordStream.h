#pragma once

// One record stream of the sound server in 48 000 Hz, 2-channel, interleaved float32, handing on
// each fragment it receives stamped with the capture time of its first frame on the monotonic
// clock.
//
// Time stamps: see StreamClock, which this stream feeds with its fragments and the server's
// latency reports.
//
// Pulse thread only (or under PulseConnection::Lock): construction, every member, destruction.
// The handlers run on the pulse thread; they must not block and must not destroy the stream.

#include "infrastructure/capture/StreamClock.h"
#include "infrastructure/pulse/PulseConnection.h"

#include <QString>

#include <functional>
#include <optional>
#include <vector>

struct pa_operation;
struct pa_stream;

namespace kivo {

class RecordStream {
public:
    static constexpr int kChannels = 2;
    // A stream that has delivered nothing at all for this long, neither suspended nor moved
    // meanwhile, is taken to be stuck, seconds.
    static constexpr double kMaxQuiet = 3.0;

    struct Settings {
        QString streamName;                        // shown in the server's stream lists
        QString sourceName;                        // empty: the server's default source
        std::optional<quint32> monitoredSinkInput; // record only this playback stream
        qint64 fragmentFrames = 960;               // frames per delivered fragment (about)
        bool dontMove = false;                     // end instead of following a moved device
        // The stream is taken one graph cycle before the output plays its audio (an
        // application's own stream on PipeWire, whose output's monitor and the listeners of
        // that output get the same audio a cycle later): the stamps move one cycle later, so
        // that they agree with the output's monitor and with a microphone that hears it.
        bool playedOneCycleLater = false;
    };

    enum class Change { moved, suspended, resumed };

    using ChangeHandler = std::function<void(Change change)>;
    // The stream failed or was ended by the server; `error` is libpulse's error code.
    using EndHandler = std::function<void(int error)>;

    RecordStream(PulseConnection& connection, Settings settings, FragmentHandler onAudio,
                 ChangeHandler onChange, EndHandler onEnd);
    // Disconnects without calling any handler.
    ~RecordStream();

    RecordStream(const RecordStream&) = delete;
    RecordStream& operator=(const RecordStream&) = delete;

    // Creates the stream and starts connecting it; throws PlatformError when libpulse refuses.
    // `connection.signal()` is called once it is ready or has failed.
    void connect();

    // Stamps the fragments held back while the clock is measured, with what is known so far,
    // and hands them on: a recording stopped within the calibration window keeps its audio.
    void handOnHeldBack();

    // The capture time just after the last frame taken from the stream, while its clock is
    // being measured an estimate from the reports so far; empty before any frame and report.
    std::optional<HostSeconds> capturedUntil() const { return m_clock.capturedUntil(); }

    // Whether nothing came from the stream for `seconds` before `now`: no fragment since it was
    // connected, moved or resumed. Never while it is suspended or has ended.
    bool hasBeenQuietFor(double seconds, double now) const;
    bool hasDelivered() const { return m_clock.framesTaken() > 0; }

    bool isReady() const;
    // Ready, failed or ended: no longer connecting.
    bool isSettled() const;
    bool hasEnded() const { return m_ended; }
    // libpulse's error code once failed.
    int error() const { return m_error; }
    // The source it records from, once ready.
    quint32 sourceIndex() const;
    const Settings& settings() const { return m_settings; }

private:
    friend struct RecordStreamCallbacks;

    void readAvailable();
    void requestTiming();
    void timingArrived(bool success);
    // Moved, suspended or resumed: the clock is measured again.
    void remeasureClock();

    PulseConnection& m_connection;
    Settings m_settings;
    ChangeHandler m_onChange;
    EndHandler m_onEnd;

    pa_stream* m_stream = nullptr;
    pa_operation* m_timing = nullptr; // the latency report asked for, while it is on its way
    bool m_ended = false;
    int m_error = 0;
    double m_lastSign = 0.0; // when a fragment or a move or suspend last came, host seconds

    std::vector<float> m_scratch; // the fragment being handed on, reused
    StreamClock m_clock;          // stamps the audio and hands it on
};

} // namespace kivo
