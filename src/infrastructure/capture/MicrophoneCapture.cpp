#include "infrastructure/capture/MicrophoneCapture.h"

#include "infrastructure/capture/CaptureStartError.h"
#include "infrastructure/capture/HostClock.h"
#include "infrastructure/capture/RecordStream.h"
#include "infrastructure/pulse/PulseConnection.h"

#include <pulse/pulseaudio.h>

namespace kivo {

namespace {

const QString kMissing = QStringLiteral("找不到選定的麥克風（音訊來源 %1）");
const QString kNoInput = QStringLiteral("音訊伺服器沒有可用的音訊輸入");
const QString kWithoutInput = QStringLiteral("麥克風的音訊來源沒有聲道或取樣率");
const QString kOpenFailed = QStringLiteral("無法開啟麥克風的音訊來源");
const QString kMoved = QStringLiteral("麥克風改用了另一個音訊來源");
const QString kSuspended = QStringLiteral("麥克風的音訊來源已暫停");
const QString kEnded = QStringLiteral("麥克風的音訊來源已中斷");
const QString kStalled = QStringLiteral("麥克風的音訊來源沒有送來音訊，重新開啟後也沒有");

constexpr pa_usec_t kWatchInterval = 250000;

} // namespace

MicrophoneCapture::MicrophoneCapture(std::shared_ptr<PulseConnection> connection,
                                     std::optional<quint32> sourceIndex)
    : m_connection(std::move(connection))
    , m_sourceIndex(sourceIndex) {}

MicrophoneCapture::~MicrophoneCapture() {
    stop();
}

void MicrophoneCapture::start(FragmentHandler onFragment, FailureHandler onFailure) {
    {
        PulseConnection::Lock lock(*m_connection);
        if (m_stream) {
            return;
        }
    }
    std::optional<PulseSourceInfo> source;
    try {
        const auto defaultName =
            m_sourceIndex ? QString() : m_connection->serverInfo().defaultSourceName;
        for (const auto& candidate : m_connection->sources()) {
            if (m_sourceIndex ? candidate.index == *m_sourceIndex : candidate.name == defaultName) {
                source = candidate;
            }
        }
    } catch (const PlatformError& error) {
        throw CaptureStartError(CaptureStartProblem::serverUnreachable, error);
    }
    if (!source) {
        if (m_sourceIndex) {
            throw CaptureStartError(CaptureStartProblem::microphoneMissing,
                                    kMissing.arg(*m_sourceIndex));
        }
        throw CaptureStartError(CaptureStartProblem::microphoneWithoutInput, kNoInput);
    }
    if (source->sampleRate == 0 || source->channels == 0) {
        throw CaptureStartError(CaptureStartProblem::microphoneWithoutInput, kWithoutInput);
    }

    PulseConnection::Lock lock(*m_connection);
    m_onFragment = std::move(onFragment);
    m_onFailure = std::move(onFailure);
    RecordStream::Settings settings;
    settings.streamName = QStringLiteral("Kivo 麥克風");
    // Without a choice the stream goes to the default input and, like it, follows the user's
    // change of default (reported as a change of the microphone).
    settings.sourceName = m_sourceIndex ? source->name : QString();
    settings.fragmentFrames = kFragmentFrames;
    m_stream = makeStream(settings);
    m_listener = m_connection->addListener(nullptr, [this](const QString& description) {
        if (m_onFailure) {
            m_onFailure(CaptureFailure{CaptureFailureKind::connectionLost, description});
        }
    });
    try {
        m_stream->connect();
    } catch (const PlatformError& error) {
        stopLocked();
        throw CaptureStartError(CaptureStartProblem::microphoneUnusable, error);
    }
    while (!m_stream->isSettled()) {
        m_connection->wait();
    }
    if (!m_stream->isReady()) {
        const auto lost = !m_connection->isConnected();
        const auto error = m_stream->error();
        stopLocked();
        if (lost) {
            throw CaptureStartError(CaptureStartProblem::serverUnreachable,
                                    pulseError(kOpenFailed, PA_ERR_CONNECTIONTERMINATED));
        }
        throw CaptureStartError(CaptureStartProblem::microphoneUnusable,
                                pulseError(kOpenFailed, error));
    }
    m_running = true;
    m_quiet.reset();
    m_watchdog = pa_context_rttime_new(m_connection->context(), pa_rtclock_now() + kWatchInterval,
                                       &MicrophoneCapture::watch, this);
}

std::unique_ptr<RecordStream>
MicrophoneCapture::makeStream(const RecordStream::Settings& settings) {
    return std::make_unique<RecordStream>(
        *m_connection, settings,
        [this](const AudioFragment& fragment) {
            if (m_onFragment) {
                m_onFragment(fragment);
            }
        },
        [this](RecordStream::Change what) {
            if (what == RecordStream::Change::moved) {
                change(kMoved);
            } else if (what == RecordStream::Change::suspended) {
                change(kSuspended);
            }
        },
        [this](int error) {
            if (m_connection->isConnected()) {
                change(kEnded + QStringLiteral("：") + describePulseError(error));
            }
        });
}

void MicrophoneCapture::watch(pa_mainloop_api*, pa_time_event* event, const struct timeval*,
                              void* userdata) {
    auto* self = static_cast<MicrophoneCapture*>(userdata);
    self->checkStall();
    pa_context_rttime_restart(self->m_connection->context(), event,
                              pa_rtclock_now() + kWatchInterval);
}

// A microphone delivers even in silence, so a stream that delivers nothing (without a suspend or
// a move, which are reported as changes) is stuck, the server perhaps hanging. It is reopened
// once; if the new one delivers nothing either, the capture fails.
void MicrophoneCapture::checkStall() {
    if (!m_stream || !m_running) {
        return;
    }
    const QuietWatch::Verdict verdict = m_quiet.check(*m_stream, hostNow());
    if (verdict == QuietWatch::Verdict::fine) {
        return;
    }
    if (verdict == QuietWatch::Verdict::reopen) {
        m_stream->handOnHeldBack();
        auto stream = makeStream(m_stream->settings());
        try {
            stream->connect();
            m_stream = std::move(stream);
            return;
        } catch (const PlatformError&) {
            // Reported as stuck below: the old stream stays, delivering nothing.
        }
    }
    m_running = false; // reported once
    if (m_onFailure) {
        m_onFailure(CaptureFailure{CaptureFailureKind::sourceStalled, kStalled});
    }
}

void MicrophoneCapture::stop() {
    PulseConnection::Lock lock(*m_connection);
    stopLocked();
}

void MicrophoneCapture::stopLocked() {
    if (m_watchdog != nullptr) {
        pa_threaded_mainloop_get_api(m_connection->mainloop())->time_free(m_watchdog);
        m_watchdog = nullptr;
    }
    if (m_listener != 0) {
        m_connection->removeListener(m_listener);
        m_listener = 0;
    }
    if (m_stream) {
        // Held back until the stream's clock is known; the stop ends the wait.
        m_stream->handOnHeldBack();
    }
    m_stream.reset();
    m_running = false;
    m_onFragment = nullptr;
    m_onFailure = nullptr;
}

bool MicrophoneCapture::hasDeliveredUntil(HostSeconds hostTime) const {
    PulseConnection::Lock lock(*m_connection);
    const auto until = m_stream ? m_stream->capturedUntil() : std::nullopt;
    return until && *until >= hostTime;
}

std::optional<quint32> MicrophoneCapture::recordedSource() const {
    PulseConnection::Lock lock(*m_connection);
    if (!m_stream || !m_stream->isReady()) {
        return std::nullopt;
    }
    return m_stream->sourceIndex();
}

void MicrophoneCapture::change(const QString& description) {
    if (m_running && m_onFailure) {
        m_onFailure(CaptureFailure{CaptureFailureKind::microphoneChanged, description});
    }
}

} // namespace kivo
