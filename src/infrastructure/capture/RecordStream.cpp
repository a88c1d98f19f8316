#include "infrastructure/capture/RecordStream.h"

#include "infrastructure/capture/HostClock.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kivo {

namespace {

constexpr qint64 kBytesPerFrame = RecordStream::kChannels * static_cast<qint64>(sizeof(float));

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
        s->remeasureClock();
        if (s->m_onChange) {
            s->m_onChange(RecordStream::Change::moved);
        }
    }

    static void suspended(pa_stream* stream, void* userdata) {
        auto* s = self(userdata);
        s->remeasureClock();
        if (s->m_onChange) {
            s->m_onChange(pa_stream_is_suspended(stream) > 0 ? RecordStream::Change::suspended
                                                             : RecordStream::Change::resumed);
        }
    }

    static void timing(pa_stream*, int success, void* userdata) {
        self(userdata)->timingArrived(success != 0);
    }
};

RecordStream::RecordStream(PulseConnection& connection, Settings settings, FragmentHandler onAudio,
                           ChangeHandler onChange, EndHandler onEnd)
    : m_connection(connection)
    , m_settings(std::move(settings))
    , m_onChange(std::move(onChange))
    , m_onEnd(std::move(onEnd))
    , m_clock(std::move(onAudio), m_settings.playedOneCycleLater) {}

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
    const auto passToClock = [this] {
        if (!m_scratch.empty()) {
            if (m_clock.take(m_scratch.data(), static_cast<Frames>(m_scratch.size()) / kChannels,
                             hostNow())) {
                requestTiming();
            }
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
            passToClock();
            if (m_clock.skip(frames)) {
                requestTiming();
            }
        } else if (frames > 0) {
            const auto at = m_scratch.size();
            m_scratch.resize(at + static_cast<std::size_t>(frames * kChannels));
            std::memcpy(m_scratch.data() + at, data,
                        static_cast<std::size_t>(frames * kBytesPerFrame));
        }
        pa_stream_drop(m_stream);
    }
    passToClock();
}

void RecordStream::remeasureClock() {
    m_lastSign = hostNow();
    m_clock.restart();
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
    pa_usec_t latency = 0;
    int negative = 0;
    std::optional<double> seconds;
    std::optional<Frames> written;
    if (success && m_stream != nullptr && !m_ended &&
        pa_stream_get_latency(m_stream, &latency, &negative) >= 0) {
        seconds = static_cast<double>(latency) / 1e6 * (negative != 0 ? -1.0 : 1.0);
        if (const auto* timing = pa_stream_get_timing_info(m_stream); timing != nullptr) {
            written = timing->write_index / kBytesPerFrame;
        }
    }
    if (m_clock.report(seconds, written, now)) {
        requestTiming();
    }
}

void RecordStream::handOnHeldBack() {
    m_clock.handOnHeldBack(hostNow());
}

} // namespace kivo
