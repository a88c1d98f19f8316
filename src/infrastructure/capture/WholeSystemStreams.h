#pragma once

// What the whole system plays: a record stream on the monitor of the server's default output.
// When the user makes another output the default, a stream opens on that output's monitor, and
// the older one is retired as soon as the new one delivers. The stream of an output that goes
// away is replaced by one on whatever output is the default then; one that keeps failing
// (kMaxRetries within kRetryWindow) fails the capture (kind outputLost). A monitor delivers even
// while nothing plays, so a stream that delivers nothing for RecordStream::kMaxQuiet seconds is
// reopened once, and the capture fails (kind sourceStalled) if the new one delivers nothing
// either.
//
// Pulse thread only (or under PulseConnection::Lock).

#include "infrastructure/capture/MonitorStreams.h"
#include "infrastructure/capture/QuietWatch.h"

#include <deque>

namespace kivo {

class WholeSystemStreams final : public MonitorStreams {
public:
    static constexpr int kMaxRetries = 3;
    static constexpr double kRetryWindow = 2.0;

    // Starts on `monitorName`, the monitor of the default output `sinkName`.
    WholeSystemStreams(PulseConnection& connection, QString sinkName, QString monitorName,
                       FragmentHandler onFragment, CaptureSource::FailureHandler onFailure);

private:
    void openFirst() override;
    void serverEvent(int event, quint32 index) override;
    void delivering(quint64 id) override;
    void ended(quint64 id, const RecordStream::Settings& settings, int error) override;
    void tick() override;

    // The output recorded now, or being switched to.
    QString followedOutput() const;
    void follow(const QString& sinkName);
    void openOutput(const QString& sinkName, const QString& monitorName, bool throwing);

    QString m_firstSink;
    QString m_firstMonitor;
    std::map<quint64, QString> m_outputOf; // stream id → the output whose monitor it records
    QString m_pendingSink;                 // the output being switched to
    QuietWatch m_quiet;                    // whether the stuck output's stream was reopened
    std::deque<double> m_retries;          // when the output's stream was reopened
};

} // namespace kivo
