#include "infrastructure/capture/RecordStream.h"

#include "infrastructure/capture/HostClock.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>

namespace kivo {

namespace {

constexpr qint64 kBytesPerFrame = RecordStream::kChannels * static_cast<qint64>(sizeof(float));
// Fragments kept while the anchor is measured; beyond this the anchor is settled with what is
// known (or, without any report, the arrival time).
constexpr qint64 kMaxPendingFrames = kSampleRateHz;

const QString kStreamFailed = QStringLiteral("無法建立音訊擷取串流");

} // namespace

struct RecordStreamCallbacks {
    static RecordStream* self(void* userdata) { return static_cast<RecordStream*>(userdata); }

    static void state(pa_stream* stream, void* userdata) {
        auto* s = self(userdata);
        switch (pa_stream_get_state(stream)) {
        case PA_STREAM_READY:
            s->m_connection.signal();
            break;
        case PA_STREAM_FAILED:
        case PA_STREAM_TERMINATED: {
            if (s->m_ended) {
                return;
            }
            s->m_ended = true;
            const auto error = pa_context_errno(s->m_connection.context());
            s->m_error = error == PA_OK ? PA_ERR_KILLED : error;
            s->m_connection.signal();
            if (s->m_onEnd) {
                s->m_onEnd(s->m_error);
            }
            break;
        }
        default:
            break;
        }
    }

    static void read(pa_stream*, size_t, void* userdata) {
        // The only cost of the stall watchdog on the audio path.
        self(userdata)->m_lastSign = hostNow();
        self(userdata)->readAvailable();
    }

    static void moved(pa_stream*, void* userdata) {
        auto* s = self(userdata);
        s->m_lastSign = hostNow();
        s->loseAnchor();
        if (s->m_onChange) {
            s->m_onChange(RecordStream::Change::moved);
        }
    }

    static void suspended(pa_stream* stream, void* userdata) {
        auto* s = self(userdata);
        s->m_lastSign = hostNow();
        s->loseAnchor();
        if (s->m_onChange) {
            s->m_onChange(pa_stream_is_suspended(stream) > 0 ? RecordStream::Change::suspended
                                                             : RecordStream::Change::resumed);
        }
    }

    static void timing(pa_stream*, int success, void* userdata) {
        self(userdata)->timingArrived(success != 0);
    }
};

RecordStream::RecordStream(PulseConnection& connection, Settings settings, AudioHandler onAudio,
                           ChangeHandler onChange, EndHandler onEnd)
    : m_connection(connection)
    , m_settings(std::move(settings))
    , m_onAudio(std::move(onAudio))
    , m_onChange(std::move(onChange))
    , m_onEnd(std::move(onEnd)) {}

RecordStream::~RecordStream() {
    if (m_timing != nullptr) {
        pa_operation_cancel(m_timing);
        pa_operation_unref(m_timing);
    }
    if (m_stream == nullptr) {
        return;
    }
    pa_stream_set_state_callback(m_stream, nullptr, nullptr);
    pa_stream_set_read_callback(m_stream, nullptr, nullptr);
    pa_stream_set_moved_callback(m_stream, nullptr, nullptr);
    pa_stream_set_suspended_callback(m_stream, nullptr, nullptr);
    if (pa_stream_get_state(m_stream) == PA_STREAM_READY ||
        pa_stream_get_state(m_stream) == PA_STREAM_CREATING) {
        pa_stream_disconnect(m_stream);
    }
    pa_stream_unref(m_stream);
}

void RecordStream::connect() {
    m_lastSign = hostNow();
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, kSampleRateHz, kChannels};
    pa_channel_map map;
    pa_channel_map_init_stereo(&map);
    const auto name = m_settings.streamName.toUtf8();
    m_stream = pa_stream_new(m_connection.context(), name.constData(), &spec, &map);
    if (m_stream == nullptr) {
        throw pulseError(kStreamFailed, pa_context_errno(m_connection.context()));
    }
    pa_stream_set_state_callback(m_stream, &RecordStreamCallbacks::state, this);
    pa_stream_set_read_callback(m_stream, &RecordStreamCallbacks::read, this);
    pa_stream_set_moved_callback(m_stream, &RecordStreamCallbacks::moved, this);
    pa_stream_set_suspended_callback(m_stream, &RecordStreamCallbacks::suspended, this);

    if (m_settings.monitoredSinkInput &&
        pa_stream_set_monitor_stream(m_stream, *m_settings.monitoredSinkInput) < 0) {
        throw pulseError(kStreamFailed, pa_context_errno(m_connection.context()));
    }

    // Without an explicit fragment size the server delivers about every two seconds.
    pa_buffer_attr attributes;
    attributes.maxlength = static_cast<uint32_t>(-1);
    attributes.tlength = static_cast<uint32_t>(-1);
    attributes.prebuf = static_cast<uint32_t>(-1);
    attributes.minreq = static_cast<uint32_t>(-1);
    attributes.fragsize = static_cast<uint32_t>(m_settings.fragmentFrames * kBytesPerFrame);

    auto flags = PA_STREAM_ADJUST_LATENCY;
    if (m_settings.dontMove) {
        flags = static_cast<pa_stream_flags_t>(flags | PA_STREAM_DONT_MOVE);
    }
    const auto source = m_settings.sourceName.toUtf8();
    if (pa_stream_connect_record(m_stream, source.isEmpty() ? nullptr : source.constData(),
                                 &attributes, flags) < 0) {
        throw pulseError(kStreamFailed, pa_context_errno(m_connection.context()));
    }
}

bool RecordStream::hasBeenQuietFor(double seconds, double now) const {
    if (m_stream == nullptr || m_ended ||
        (pa_stream_get_state(m_stream) == PA_STREAM_READY &&
         pa_stream_is_suspended(m_stream) > 0)) {
        return false;
    }
    return now - m_lastSign >= seconds;
}

bool RecordStream::isReady() const {
    return m_stream != nullptr && !m_ended && pa_stream_get_state(m_stream) == PA_STREAM_READY;
}

bool RecordStream::isSettled() const {
    return m_stream == nullptr || m_ended || pa_stream_get_state(m_stream) != PA_STREAM_CREATING;
}

quint32 RecordStream::sourceIndex() const {
    return isReady() ? pa_stream_get_device_index(m_stream) : PulseConnection::kNoIndex;
}

void RecordStream::readAvailable() {
    // Everything readable now goes on as one fragment: a server that renders in small pieces
    // (PulseAudio's null sink at a low latency) would otherwise hand on a few frames at a time.
    m_scratch.clear();
    const auto handOn = [this] {
        if (!m_scratch.empty()) {
            accept(m_scratch.data(), static_cast<qint64>(m_scratch.size()) / kChannels);
            m_scratch.clear();
        }
    };
    while (m_stream != nullptr && !m_ended) {
        const void* data = nullptr;
        size_t bytes = 0;
        if (pa_stream_peek(m_stream, &data, &bytes) < 0 || bytes == 0) {
            break;
        }
        const auto frames = static_cast<qint64>(bytes) / kBytesPerFrame;
        if (data == nullptr) {
            // A hole: frames the server never sent. Nothing to write; the count moves on and the
            // clock is measured again.
            handOn();
            if (m_anchor) {
                loseAnchor();
            }
            m_framesRead += frames;
        } else if (frames > 0) {
            const auto at = m_scratch.size();
            m_scratch.resize(at + static_cast<std::size_t>(frames * kChannels));
            std::memcpy(m_scratch.data() + at, data,
                        static_cast<std::size_t>(frames * kBytesPerFrame));
        }
        pa_stream_drop(m_stream);
    }
    handOn();
}

void RecordStream::accept(const float* interleaved, Frames frames) {
    const auto now = hostNow();
    if (m_anchor) {
        const auto lateness = now - m_clock.nextInputTime() - secondsOf(frames);
        if (std::abs(lateness - m_usualLateness) <= kMaxLateness) {
            m_framesRead += frames;
            m_clock.push(interleaved, frames, m_onAudio);
            if (now - m_lastCheck >= kCheckInterval) {
                requestTiming();
            }
            return;
        }
        // The fragment arrived far later (or earlier) than fragments did when the anchor was
        // taken: the stream stalled, as a paused application's stream does. It waits for a new
        // anchor.
        loseAnchor();
    }
    m_pending.push_back(
        {m_framesRead, std::vector<float>(interleaved, interleaved + frames * kChannels)});
    m_pendingFrames += frames;
    m_framesRead += frames;
    if (m_pendingFrames > kMaxPendingFrames) {
        // Without a report in time the arrival of the last frame stands for its capture time.
        settleAnchor();
        return;
    }
    requestTiming();
}

void RecordStream::requestTiming() {
    if (m_timing != nullptr || m_stream == nullptr || m_ended) {
        return;
    }
    m_timing = pa_stream_update_timing_info(m_stream, &RecordStreamCallbacks::timing, this);
}

void RecordStream::timingArrived(bool success) {
    if (m_timing != nullptr) {
        pa_operation_unref(m_timing);
        m_timing = nullptr;
    }
    const auto now = hostNow();
    m_lastCheck = now;
    pa_usec_t latency = 0;
    int negative = 0;
    if (!success || m_stream == nullptr || m_ended ||
        pa_stream_get_latency(m_stream, &latency, &negative) < 0) {
        return;
    }
    // The frame at the read position, which is every frame taken so far, was captured `latency`
    // before now.
    const auto seconds = static_cast<double>(latency) / 1e6;
    const auto measured = now - (negative != 0 ? -seconds : seconds);
    if (const auto* timing = pa_stream_get_timing_info(m_stream); timing != nullptr) {
        noteServerWrite(timing->write_index / kBytesPerFrame);
    }

    if (!m_anchor) {
        // Calibrating. The next report is asked for when the next fragment arrives: right after
        // the server wrote is when a report is closest.
        m_calibration.estimates.push_back(measured - secondsOf(m_framesRead - m_calibration.frame));
        if (m_calibration.started < 0.0) {
            m_calibration.started = now;
        }
        if (static_cast<int>(m_calibration.estimates.size()) >= kCalibrationReports &&
            now - m_calibration.started >= kCalibrationTime) {
            settleAnchor();
        }
        return;
    }

    const auto error = measured + playedLater() - m_clock.nextInputTime();
    const auto drifted = std::abs(error) > kMaxDrift;
    if (drifted && m_driftedBefore) {
        // Twice in a row: a discontinuity the server did not report.
        loseAnchor();
        return;
    }
    m_driftedBefore = drifted;
    if (!drifted) {
        m_clock.steer(error, now);
    }
}

void RecordStream::settleAnchor() {
    auto& estimates = m_calibration.estimates;
    if (estimates.empty()) {
        estimates.push_back(hostNow() - secondsOf(m_framesRead - m_calibration.frame));
    }
    // The median: the first reports of a new stream can be off either way (PipeWire changes its
    // graph cycle while the stream joins), and any report can be late.
    const auto middle = estimates.begin() + static_cast<std::ptrdiff_t>(estimates.size() / 2);
    std::nth_element(estimates.begin(), middle, estimates.end());
    m_anchor = Anchor{m_calibration.frame, *middle + playedLater()};
    m_calibration = Calibration{};
    m_driftedBefore = false;
    m_lastCheck = hostNow();
    m_usualLateness = m_lastCheck - stampOf(m_framesRead);
    auto pending = std::move(m_pending);
    m_pending.clear();
    m_pendingFrames = 0;
    m_clock.restart(stampOf(pending.empty() ? m_framesRead : pending.front().frame));
    qint64 next = pending.empty() ? m_framesRead : pending.front().frame;
    for (const auto& [frame, samples] : pending) {
        if (frame != next) {
            // A hole while the clock was measured: the audio after it starts a new run.
            m_clock.flush(m_onAudio);
            m_clock.restart(stampOf(frame));
        }
        const auto frames = static_cast<qint64>(samples.size()) / kChannels;
        m_clock.push(samples.data(), frames, m_onAudio);
        next = frame + frames;
    }
}

void RecordStream::handOnHeldBack() {
    if (!m_pending.empty()) {
        settleAnchor();
    }
    if (m_anchor) {
        m_clock.flush(m_onAudio);
    }
}

std::optional<double> RecordStream::capturedUntil() const {
    if (m_anchor) {
        return m_clock.nextInputTime();
    }
    auto estimates = m_calibration.estimates;
    if (estimates.empty()) {
        return std::nullopt;
    }
    const auto middle = estimates.begin() + static_cast<std::ptrdiff_t>(estimates.size() / 2);
    std::nth_element(estimates.begin(), middle, estimates.end());
    return *middle + playedLater() + secondsOf(m_framesRead - m_calibration.frame);
}

void RecordStream::loseAnchor() {
    if (m_anchor) {
        // What the resampler holds belongs to the clock that is being given up.
        m_clock.flush(m_onAudio);
    }
    m_anchor.reset();
    m_driftedBefore = false;
    m_calibration = Calibration{};
    m_calibration.frame = m_framesRead;
    requestTiming();
}

void RecordStream::noteServerWrite(qint64 writeIndex) {
    if (m_lastWriteIndex && writeIndex > *m_lastWriteIndex) {
        m_cycleFrames = std::gcd(m_cycleFrames, writeIndex - *m_lastWriteIndex);
    }
    m_lastWriteIndex = writeIndex;
}

double RecordStream::playedLater() const {
    return m_settings.playedOneCycleLater && m_cycleFrames <= kMaxCycleFrames
               ? secondsOf(m_cycleFrames)
               : 0.0;
}

double RecordStream::stampOf(qint64 frame) const {
    return m_anchor->time + secondsOf(frame - m_anchor->frame);
}

} // namespace kivo
