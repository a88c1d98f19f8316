#include "infrastructure/capture/WholeSystemStreams.h"

#include "infrastructure/capture/HostClock.h"
#include "infrastructure/pulse/PulseConnection.h"

#include <pulse/pulseaudio.h>

namespace kivo {

namespace {

const QString kOutputGone = QStringLiteral("錄製中的音訊輸出裝置已移除，也沒有其他預設輸出裝置");
const QString kOutputFailed = QStringLiteral("系統音訊的擷取串流一再中斷");
const QString kOutputStalled = QStringLiteral("系統音訊的擷取串流沒有送來音訊，重新開啟後也沒有");

QString defaultSinkOf(const pa_server_info* info) {
    return info == nullptr || info->default_sink_name == nullptr
               ? QString()
               : QString::fromUtf8(info->default_sink_name);
}

} // namespace

WholeSystemStreams::WholeSystemStreams(PulseConnection& connection, QString sinkName,
                                       QString monitorName, FragmentHandler onFragment,
                                       CaptureSource::FailureHandler onFailure)
    : MonitorStreams(connection, std::move(onFragment), std::move(onFailure))
    , m_firstSink(std::move(sinkName))
    , m_firstMonitor(std::move(monitorName)) {}

void WholeSystemStreams::openFirst() {
    openOutput(m_firstSink, m_firstMonitor, true);
}

void WholeSystemStreams::openOutput(const QString& sinkName, const QString& monitorName,
                                    bool throwing) {
    RecordStream::Settings settings;
    settings.streamName = QStringLiteral("Kivo 系統音訊");
    settings.sourceName = monitorName;
    settings.fragmentFrames = kFragmentFrames;
    // Following the default output is done here, by opening a stream on the new output: the
    // server must not move this one.
    settings.dontMove = true;
    if (const auto id = open(std::move(settings), throwing); id != 0) {
        m_outputOf[id] = sinkName;
    }
}

void WholeSystemStreams::serverEvent(int event, quint32) {
    if ((event & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) != PA_SUBSCRIPTION_EVENT_SERVER) {
        return;
    }
    queryServer([this](const pa_server_info* info) {
        const auto sink = defaultSinkOf(info);
        // No default output for now: keep recording the current one until it goes.
        if (!sink.isEmpty() && sink != followedOutput()) {
            follow(sink);
        }
    });
}

void WholeSystemStreams::delivering(quint64 id) {
    // The newly followed output runs: the streams of earlier outputs are done.
    std::vector<quint64> older;
    for (const auto& entry : m_streams) {
        if (entry.first < id) {
            older.push_back(entry.first);
        }
    }
    for (const auto other : older) {
        retire(other);
        m_outputOf.erase(other);
    }
}

void WholeSystemStreams::ended(quint64 id, const RecordStream::Settings&, int error) {
    m_outputOf.erase(id);
    if (!m_streams.empty() || !m_pendingSink.isEmpty()) {
        return; // another output's stream runs or is being opened
    }
    const auto now = hostNow();
    m_retries.push_back(now);
    while (!m_retries.empty() && now - m_retries.front() > kRetryWindow) {
        m_retries.pop_front();
    }
    if (static_cast<int>(m_retries.size()) > kMaxRetries) {
        fail(CaptureFailureKind::outputLost,
             kOutputFailed + QStringLiteral("：") + describePulseError(error));
        return;
    }
    // The recorded output went away (or the server ended the stream): follow whatever output is
    // the default now.
    queryServer([this](const pa_server_info* info) {
        const auto sink = defaultSinkOf(info);
        if (sink.isEmpty()) {
            fail(CaptureFailureKind::outputLost, kOutputGone);
            return;
        }
        follow(sink);
    });
}

QString WholeSystemStreams::followedOutput() const {
    if (!m_pendingSink.isEmpty()) {
        return m_pendingSink;
    }
    return m_streams.empty() ? QString() : m_outputOf.at(m_streams.rbegin()->first);
}

void WholeSystemStreams::follow(const QString& sinkName) {
    m_pendingSink = sinkName;
    querySinkByName(sinkName, [this, sinkName](const pa_sink_info* sink) {
        if (m_pendingSink != sinkName) {
            return; // another switch came first
        }
        m_pendingSink.clear();
        if (sink != nullptr && sink->monitor_source_name != nullptr) {
            openOutput(sinkName, QString::fromUtf8(sink->monitor_source_name), false);
        }
        if (m_streams.empty()) {
            fail(CaptureFailureKind::outputLost, kOutputGone);
        }
    });
}

void WholeSystemStreams::tick() {
    if (hasFailed() || !m_pendingSink.isEmpty() || m_streams.empty()) {
        return;
    }
    const auto& [id, stream] = *m_streams.rbegin();
    const QuietWatch::Verdict verdict = m_quiet.check(*stream, hostNow());
    if (verdict == QuietWatch::Verdict::fine) {
        return;
    }
    if (verdict == QuietWatch::Verdict::giveUp) {
        fail(CaptureFailureKind::sourceStalled, kOutputStalled);
        return;
    }
    const auto sinkName = m_outputOf.at(id);
    const auto monitorName = stream->settings().sourceName;
    const auto stuck = id; // `stream` goes with the retirement
    retire(stuck);
    m_outputOf.erase(stuck);
    openOutput(sinkName, monitorName, false);
    if (m_streams.empty()) {
        fail(CaptureFailureKind::sourceStalled, kOutputStalled);
    }
}

} // namespace kivo
