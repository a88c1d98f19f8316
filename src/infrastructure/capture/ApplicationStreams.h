#pragma once

// What one application plays: a record stream on each playback stream (sink input) of the chosen
// process, those open at the start and those it opens later; a stream that moves to another
// output is picked up again there (at most kMaxStreamAttempts times). Each record stream is made
// not to move, so that the end of the application's stream ends it instead of turning it into a
// recording of the whole output. An application's streams deliver nothing while it pauses, so
// no quiet watch applies.
//
// Pulse thread only (or under PulseConnection::Lock).

#include "infrastructure/capture/MonitorStreams.h"

#include <set>

namespace kivo {

class ApplicationStreams final : public MonitorStreams {
public:
    static constexpr int kMaxStreamAttempts = 5;

    // `onPipeWire`: the server is PipeWire, which hands an application's own stream to its
    // record streams one graph cycle before the output plays it.
    ApplicationStreams(PulseConnection& connection, qint32 applicationPID, bool onPipeWire,
                       FragmentHandler onFragment, CaptureSource::FailureHandler onFailure);

private:
    void openFirst() override;
    void serverEvent(int event, quint32 index) override;
    void ended(quint64 id, const RecordStream::Settings& settings, int error) override;

    // Records the playback stream `index` if it is the application's and not recorded yet.
    void consider(quint32 index);
    void decide(quint32 index, quint32 sink, qint32 pid);

    qint32 m_pid = 0;
    bool m_onPipeWire = false;
    std::map<quint32, quint64> m_tracked; // sink input → stream id
    std::set<quint32> m_lookingUp;        // sink inputs being looked at
    std::set<quint32> m_foreign;          // sink inputs of other processes
    std::map<quint32, int> m_attempts;    // record streams opened per sink input
};

} // namespace kivo
