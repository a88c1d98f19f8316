#pragma once

// Record streams on outputs' monitors, summed by one CaptureMixer into the fragments of what the
// computer plays. Two kinds decide which streams run: WholeSystemStreams follows the default
// output, ApplicationStreams follows one process's playback streams. This base owns the streams,
// the mixer, the server queries on their way and a tick every 50 ms that flushes what a stalled
// stream holds up.
//
// Pulse thread only (or under PulseConnection::Lock): construction, every member, destruction.

#include "infrastructure/capture/CaptureMixer.h"
#include "infrastructure/capture/CaptureSource.h"
#include "infrastructure/capture/RecordStream.h"

#include <functional>
#include <list>
#include <map>
#include <memory>
#include <set>
#include <vector>

struct pa_client_info;
struct pa_context;
struct pa_mainloop_api;
struct pa_operation;
struct pa_server_info;
struct pa_sink_info;
struct pa_sink_input_info;
struct pa_time_event;
struct timeval;

namespace kivo {

class PulseConnection;

class MonitorStreams {
public:
    static constexpr qint64 kFragmentFrames = 960; // 20 ms, each stream's

    MonitorStreams(PulseConnection& connection, FragmentHandler onFragment,
                   CaptureSource::FailureHandler onFailure);
    // Cancels the queries and closes the streams; call close() first to keep what they hold.
    virtual ~MonitorStreams();

    MonitorStreams(const MonitorStreams&) = delete;
    MonitorStreams& operator=(const MonitorStreams&) = delete;

    // Listens to the server's events and opens the first streams. Throws PlatformError when
    // libpulse refuses a stream that must run.
    void begin();
    // Hands on what the streams hold back and what the mixer holds. Nothing is delivered after.
    void close();

    // Queries or stream connections still outstanding.
    bool settling() const;
    bool deliveredUntil(HostSeconds hostTime) const;
    int liveStreams() const;
    // libpulse's error of the first stream that ended or failed.
    int firstError() const { return m_firstError; }

protected:
    // Opens the streams that run from the start (under begin()).
    virtual void openFirst() = 0;
    // A subscription event of the server (`event` carries facility and type).
    virtual void serverEvent(int event, quint32 index) = 0;
    // The stream `id` delivered its first fragment.
    virtual void delivering(quint64 id) { Q_UNUSED(id); }
    // The stream `id` failed or was ended by the server, and is retired already; not called once
    // the connection is lost (which is reported on its own).
    virtual void ended(quint64 id, const RecordStream::Settings& settings, int error) = 0;
    // Every tick, after the mixer was flushed.
    virtual void tick() {}

    // Opens a record stream feeding the mixer and returns its id; 0 when libpulse refused it (or
    // throws PlatformError, when `throwing`).
    quint64 open(RecordStream::Settings settings, bool throwing);
    // Closes the stream `id` (what it delivered and holds back stays in the mixer). It is
    // destroyed on the next tick, never here: this may run inside the stream's own callback.
    void retire(quint64 id);
    // Reports the failure, once for the whole capture.
    void fail(CaptureFailureKind kind, const QString& description);
    bool hasFailed() const { return m_failed; }

    void queryServer(std::function<void(const pa_server_info*)> then);
    void querySinkByName(const QString& name, std::function<void(const pa_sink_info*)> then);
    void querySinkByIndex(quint32 index, std::function<void(const pa_sink_info*)> then);
    void querySinkInputs(std::function<void(const pa_sink_input_info*)> each);
    void querySinkInput(quint32 index, std::function<void(const pa_sink_input_info*)> then);
    void queryClient(quint32 index, std::function<void(const pa_client_info*)> then);

    PulseConnection& m_connection;
    std::map<quint64, std::unique_ptr<RecordStream>> m_streams; // by id, oldest first

private:
    struct Query {
        pa_operation* operation = nullptr;
        std::function<void(const void* info)> then; // the entry, or null when there is none
        bool list = false;                          // every entry, then null at the end
        bool done = false;
        MonitorStreams* owner = nullptr;
    };

    template <typename Info>
    static void answer(pa_context*, const Info* info, int eol, void* userdata);
    static void answerServer(pa_context*, const pa_server_info* info, void* userdata);
    static void onTick(pa_mainloop_api*, pa_time_event* event, const struct timeval*,
                       void* userdata);
    Query* addQuery(std::function<void(const void* info)> then);
    void audio(quint64 id, const AudioFragment& fragment);
    void streamEnded(quint64 id, int error);

    CaptureSource::FailureHandler m_onFailure;
    CaptureMixer m_mixer;
    quint64 m_listener = 0;
    pa_time_event* m_timer = nullptr;
    quint64 m_nextId = 1;
    std::set<quint64> m_delivered;                        // ids of streams that delivered
    std::vector<std::unique_ptr<RecordStream>> m_retired; // destroyed on the next tick
    std::list<std::unique_ptr<Query>> m_queries;
    bool m_failed = false;
    int m_firstError = 0;
};

} // namespace kivo
