#include "infrastructure/capture/ApplicationStreams.h"

#include "infrastructure/pulse/PulseConnection.h"

#include <pulse/pulseaudio.h>

namespace kivo {

namespace {

std::optional<qint32> processIDOf(const pa_proplist* properties) {
    const char* value = properties == nullptr
                            ? nullptr
                            : pa_proplist_gets(properties, PA_PROP_APPLICATION_PROCESS_ID);
    bool ok = false;
    const auto pid = value == nullptr ? 0 : QString::fromUtf8(value).toInt(&ok);
    return ok && pid > 0 ? std::optional<qint32>(pid) : std::nullopt;
}

} // namespace

ApplicationStreams::ApplicationStreams(PulseConnection& connection, qint32 applicationPID,
                                       bool onPipeWire, FragmentHandler onFragment,
                                       CaptureSource::FailureHandler onFailure)
    : MonitorStreams(connection, std::move(onFragment), std::move(onFailure))
    , m_pid(applicationPID)
    , m_onPipeWire(onPipeWire) {}

void ApplicationStreams::openFirst() {
    querySinkInputs([this](const pa_sink_input_info* info) { consider(info->index); });
}

void ApplicationStreams::serverEvent(int event, quint32 index) {
    if ((event & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) != PA_SUBSCRIPTION_EVENT_SINK_INPUT) {
        return;
    }
    if ((event & PA_SUBSCRIPTION_EVENT_TYPE_MASK) != PA_SUBSCRIPTION_EVENT_REMOVE) {
        consider(index);
        return;
    }
    m_foreign.erase(index);
    m_attempts.erase(index);
    if (const auto tracked = m_tracked.find(index); tracked != m_tracked.end()) {
        const auto id = tracked->second;
        m_tracked.erase(tracked);
        retire(id);
    }
}

void ApplicationStreams::ended(quint64, const RecordStream::Settings& settings, int) {
    const auto sinkInput = settings.monitoredSinkInput;
    if (!sinkInput) {
        return;
    }
    m_tracked.erase(*sinkInput);
    // It moved to another output (which ends a record stream made not to move), or it is ending:
    // look again, and record it where it is now if it still exists.
    if (++m_attempts[*sinkInput] <= kMaxStreamAttempts) {
        consider(*sinkInput);
    }
}

void ApplicationStreams::consider(quint32 index) {
    if (m_tracked.count(index) != 0 || m_lookingUp.count(index) != 0 ||
        m_foreign.count(index) != 0) {
        return;
    }
    m_lookingUp.insert(index);
    querySinkInput(index, [this, index](const pa_sink_input_info* info) {
        if (info == nullptr) {
            m_lookingUp.erase(index);
            return;
        }
        const auto sink = info->sink;
        if (const auto pid = processIDOf(info->proplist)) {
            decide(index, sink, *pid);
        } else if (info->client != PA_INVALID_INDEX) {
            queryClient(info->client, [this, index, sink](const pa_client_info* client) {
                const auto clientPID =
                    client == nullptr ? std::nullopt : processIDOf(client->proplist);
                decide(index, sink, clientPID.value_or(0));
            });
        } else {
            decide(index, sink, 0);
        }
    });
}

void ApplicationStreams::decide(quint32 index, quint32 sink, qint32 pid) {
    if (pid != m_pid) {
        m_lookingUp.erase(index);
        m_foreign.insert(index);
        return;
    }
    querySinkByIndex(sink, [this, index](const pa_sink_info* info) {
        m_lookingUp.erase(index);
        if (info == nullptr || info->monitor_source_name == nullptr ||
            m_tracked.count(index) != 0) {
            return;
        }
        RecordStream::Settings settings;
        settings.streamName = QStringLiteral("Kivo App 音訊");
        settings.sourceName = QString::fromUtf8(info->monitor_source_name);
        settings.monitoredSinkInput = index;
        settings.fragmentFrames = kFragmentFrames;
        // Without this, PipeWire moves the stream to the whole output's monitor when the
        // application's stream ends, and other programs' audio would be recorded.
        settings.dontMove = true;
        settings.playedOneCycleLater = m_onPipeWire;
        if (const auto id = open(std::move(settings), false); id != 0) {
            m_tracked[index] = id;
        }
    });
}

} // namespace kivo
