#pragma once

// One record stream of the sound server in 48 000 Hz, 2-channel, interleaved float32, handing on
// each fragment it receives stamped with the capture time of its first frame on the monotonic
// clock.
//
// Time stamps: each stream is anchored from the server's latency reports (the frame at the read
// position was captured `latency` seconds before the report arrived) and every fragment is then
// stamped by counting frames from that anchor, so consecutive fragments join without gaps or
// overlaps; a ClockFollower resamples the audio ever so slightly so that the count keeps up with
// the reports when the device's clock runs faster or slower than the monotonic clock. Single
// reports can be off by some milliseconds (late by the time since the server last wrote, up to a
// PipeWire graph cycle; off either way while a new PipeWire stream joins the graph), so the anchor
// is the median estimate over a short calibration window (kCalibrationTime and
// kCalibrationReports); fragments that arrive meanwhile are held back and stamped when it ends. The
// anchor is measured again after a discontinuity: a hole in the data, a suspend, a move to another
// device, a fragment that arrives more than kMaxLateness later or earlier after its capture than
// fragments did when the anchor was taken (the stream stalled, as a paused application's stream
// does), or a count that is off by more than kMaxDrift from the reports in two checks in a row (one
// check about every kCheckInterval; each check within it steers the ClockFollower).
//
// Pulse thread only (or under PulseConnection::Lock): construction, every member, destruction.
// The handlers run on the pulse thread; they must not block and must not destroy the stream.

#include "infrastructure/capture/ClockFollower.h"
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
    // Largest accepted difference between the counted and the reported capture time, seconds.
    static constexpr double kMaxDrift = 0.050;
    // Largest graph cycle taken as one, frames: PipeWire's limit on its quantum.
    static constexpr qint64 kMaxCycleFrames = 8192;
    // Largest accepted change of the time between a fragment's capture and its arrival, seconds.
    static constexpr double kMaxLateness = 0.5;
    // The anchor is the median estimate of at least this many reports over at least this long.
    static constexpr int kCalibrationReports = 7;
    static constexpr double kCalibrationTime = 0.12;
    // How often the counted time is checked against the server's report, seconds.
    static constexpr double kCheckInterval = 1.0;
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

    // `interleaved` holds frames × 2 samples; `hostTime` is the capture time of the first one.
    using AudioHandler =
        std::function<void(const float* interleaved, Frames frames, HostSeconds hostTime)>;
    using ChangeHandler = std::function<void(Change change)>;
    // The stream failed or was ended by the server; `error` is libpulse's error code.
    using EndHandler = std::function<void(int error)>;

    RecordStream(PulseConnection& connection, Settings settings, AudioHandler onAudio,
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
    std::optional<double> capturedUntil() const;

    // Whether nothing came from the stream for `seconds` before `now`: no fragment since it was
    // connected, moved or resumed. Never while it is suspended or has ended.
    bool hasBeenQuietFor(double seconds, double now) const;
    bool hasDelivered() const { return m_framesRead > 0; }

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
    void accept(const float* interleaved, Frames frames);
    void requestTiming();
    void timingArrived(bool success);
    void settleAnchor();
    void loseAnchor();
    void noteServerWrite(qint64 writeIndex);
    // How much later than the stream delivers its audio is played, seconds.
    double playedLater() const;
    double stampOf(qint64 frame) const;

    PulseConnection& m_connection;
    Settings m_settings;
    AudioHandler m_onAudio;
    ChangeHandler m_onChange;
    EndHandler m_onEnd;

    pa_stream* m_stream = nullptr;
    pa_operation* m_timing = nullptr; // the latency report asked for, while it is on its way
    bool m_ended = false;
    int m_error = 0;
    double m_lastSign = 0.0; // when a fragment or a move or suspend last came, host seconds

    qint64 m_framesRead = 0; // frames taken from the stream since it started, holes included
    struct Anchor {
        qint64 frame = 0;  // a frame index of this stream
        double time = 0.0; // its capture time, seconds of the monotonic clock
    };
    std::optional<Anchor> m_anchor;
    struct Calibration {
        qint64 frame = 0;              // the frame whose capture time is being measured
        std::vector<double> estimates; // of its capture time, one per report
        double started = -1.0;         // when the first report arrived
    };
    Calibration m_calibration;    // while there is no anchor
    double m_lastCheck = 0.0;     // when the last latency report arrived
    double m_usualLateness = 0.0; // arrival minus capture time when the anchor was taken, s
    bool m_driftedBefore = false; // the last check found the count off by more than kMaxDrift
    struct Pending {
        qint64 frame = 0;           // its first frame's index
        std::vector<float> samples; // interleaved
    };
    // The server writes into the stream once per graph cycle, so the frames it has written
    // advance by whole cycles between reports: the greatest common divisor of the advances is
    // the cycle (the shortest one, when the server changed it).
    std::optional<qint64> m_lastWriteIndex; // frames the server had written, at the last report
    qint64 m_cycleFrames = 0;               // 0 until measured
    std::vector<Pending> m_pending;         // fragments read while there is no anchor
    qint64 m_pendingFrames = 0;
    std::vector<float> m_scratch; // the fragment being handed on, reused
    ClockFollower m_clock;        // stamps and hands on the audio while there is an anchor
};

} // namespace kivo
