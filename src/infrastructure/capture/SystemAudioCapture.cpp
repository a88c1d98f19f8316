#include "infrastructure/capture/SystemAudioCapture.h"

#include "infrastructure/capture/ApplicationStreams.h"
#include "infrastructure/capture/CaptureStartError.h"
#include "infrastructure/capture/WholeSystemStreams.h"
#include "infrastructure/pulse/PulseConnection.h"

#include <pulse/pulseaudio.h>

namespace kivo {

namespace {

const QString kStartFailed = QStringLiteral("無法開始擷取系統音訊");
const QString kNoOutput = QStringLiteral("音訊伺服器沒有可錄製的預設輸出裝置");

} // namespace

SystemAudioCapture::SystemAudioCapture(std::shared_ptr<PulseConnection> connection,
                                       std::optional<qint32> applicationPID)
    : m_connection(std::move(connection))
    , m_pid(applicationPID) {}

SystemAudioCapture::~SystemAudioCapture() {
    stop();
}

void SystemAudioCapture::start(FragmentHandler onFragment, FailureHandler onFailure) {
    {
        PulseConnection::Lock lock(*m_connection);
        if (m_streams) {
            return;
        }
    }
    QString sinkName;
    QString monitorName;
    bool onPipeWire = false;
    try {
        const auto server = m_connection->serverInfo();
        sinkName = server.defaultSinkName;
        onPipeWire = server.serverName.contains(u"PipeWire");
        if (!sinkName.isEmpty()) {
            for (const auto& sink : m_connection->sinks()) {
                if (sink.name == sinkName) {
                    monitorName = sink.monitorSourceName;
                }
            }
        }
    } catch (const PlatformError& error) {
        throw CaptureStartError(CaptureStartProblem::serverUnreachable, error);
    }
    if (monitorName.isEmpty()) {
        throw CaptureStartError(CaptureStartProblem::noOutputDevice, kNoOutput);
    }

    PulseConnection::Lock lock(*m_connection);
    if (m_pid) {
        m_streams = std::make_unique<ApplicationStreams>(
            *m_connection, *m_pid, onPipeWire, std::move(onFragment), std::move(onFailure));
    } else {
        m_streams = std::make_unique<WholeSystemStreams>(
            *m_connection, sinkName, monitorName, std::move(onFragment), std::move(onFailure));
    }
    try {
        m_streams->begin();
    } catch (const PlatformError& error) {
        stopLocked();
        throw CaptureStartError(CaptureStartProblem::streamFailed, error);
    }
    while (m_connection->isConnected() && m_streams->settling()) {
        m_connection->wait();
    }
    if (!m_connection->isConnected()) {
        stopLocked();
        throw CaptureStartError(CaptureStartProblem::serverUnreachable,
                                pulseError(kStartFailed, PA_ERR_CONNECTIONTERMINATED));
    }
    if (!m_pid && m_streams->liveStreams() == 0) {
        const auto error = m_streams->firstError();
        stopLocked();
        throw CaptureStartError(CaptureStartProblem::streamFailed,
                                pulseError(kStartFailed, error == PA_OK ? PA_ERR_UNKNOWN : error));
    }
}

void SystemAudioCapture::stop() {
    PulseConnection::Lock lock(*m_connection);
    stopLocked();
}

void SystemAudioCapture::stopLocked() {
    if (m_streams) {
        m_streams->close();
        m_streams.reset();
    }
}

bool SystemAudioCapture::hasDeliveredUntil(HostSeconds hostTime) const {
    PulseConnection::Lock lock(*m_connection);
    return !m_streams || m_streams->deliveredUntil(hostTime);
}

int SystemAudioCapture::streamCount() const {
    PulseConnection::Lock lock(*m_connection);
    return m_streams ? m_streams->liveStreams() : 0;
}

} // namespace kivo
