#include "infrastructure/capture/SystemAudioCapture.h"

#include "infrastructure/capture/CaptureMixer.h"
#include "infrastructure/capture/CaptureStartError.h"
#include "infrastructure/capture/HostClock.h"
#include "infrastructure/pulse/PulseConnection.h"
#include "infrastructure/capture/QuietWatch.h"
#include "infrastructure/capture/RecordStream.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <deque>
#include <list>
#include <set>

namespace kivo {

namespace {

const QString kStartFailed = QStringLiteral("無法開始擷取系統音訊");
const QString kNoOutput = QStringLiteral("音訊伺服器沒有可錄製的預設輸出裝置");
const QString kOutputGone = QStringLiteral("錄製中的音訊輸出裝置已移除，也沒有其他預設輸出裝置");
const QString kOutputFailed = QStringLiteral("系統音訊的擷取串流一再中斷");
const QString kOutputStalled = QStringLiteral("系統音訊的擷取串流沒有送來音訊，重新開啟後也沒有");

constexpr pa_usec_t kTickMicroseconds = 50000;
// Audio captured this long ago is handed on even if some stream has not delivered it.
constexpr double kStallSeconds = 0.3;
// Reopening the output's stream more often than this within kRetryWindow gives up.
constexpr int kMaxRetries = 3;
constexpr double kRetryWindow = 2.0;
// An application stream whose record stream keeps failing is left alone after this many tries.
constexpr int kMaxStreamAttempts = 5;

QString text(const char* value) {
    return value == nullptr ? QString() : QString::fromUtf8(value);
}

std::optional<qint32> processIDOf(const pa_proplist* properties) {
    if (properties == nullptr) {
        return std::nullopt;
    }
    bool ok = false;
    const auto pid = text(pa_proplist_gets(properties, PA_PROP_APPLICATION_PROCESS_ID)).toInt(&ok);
    return ok && pid > 0 ? std::optional<qint32>(pid) : std::nullopt;
}

} // namespace

// Everything that lives on the pulse thread while the capture runs. Every member is used under
// the connection's lock or on the pulse thread.
class SystemAudioCapture::Session {
public:
    Session(PulseConnection& connection, std::optional<qint32> applicationPID, bool onPipeWire,
            BufferHandler onBuffer, FailureHandler onFailure)
        : m_connection(connection)
        , m_pid(applicationPID)
        , m_onPipeWire(onPipeWire)
        , m_onBuffer(std::move(onBuffer))
        , m_onFailure(std::move(onFailure))
        , m_mixer([this](PcmBuffer buffer, HostSeconds hostTime) {
            if (m_onBuffer) {
                m_onBuffer(std::move(buffer), hostTime);
            }
        }) {}

    ~Session() {
        if (m_listener != 0) {
            m_connection.removeListener(m_listener);
        }
        if (m_timer != nullptr) {
            pa_threaded_mainloop_get_api(m_connection.mainloop())->time_free(m_timer);
        }
        for (auto& query : m_queries) {
            if (query->operation != nullptr) {
                if (pa_operation_get_state(query->operation) == PA_OPERATION_RUNNING) {
                    pa_operation_cancel(query->operation);
                }
                pa_operation_unref(query->operation);
            }
        }
        // What the streams hold back while their clocks are measured goes to the mixer first.
        // Handing on may retire older outputs' streams, so the ids are taken beforehand.
        std::vector<quint64> ids;
        for (const auto& entry : m_sources) {
            ids.push_back(entry.first);
        }
        for (const auto id : ids) {
            if (const auto found = m_sources.find(id); found != m_sources.end()) {
                found->second.stream->handOnHeldBack();
            }
        }
        m_sources.clear();
        m_retired.clear();
        m_mixer.flushAll();
    }

    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    void listen() {
        m_listener = m_connection.addListener(
            [this](int event, quint32 index) { serverEvent(event, index); },
            [this](const QString& description) {
                fail(CaptureFailureKind::connectionLost, description);
            });
        m_timer = pa_context_rttime_new(m_connection.context(),
                                        pa_rtclock_now() + kTickMicroseconds, &Session::tick, this);
    }

    // Whole system: records `monitorName`, the monitor of the default output `sinkName`.
    // Throws PlatformError when libpulse refuses the stream.
    void beginSystem(const QString& sinkName, const QString& monitorName) {
        listen();
        openOutput(sinkName, monitorName, true);
    }

    // One application: records its playback streams open now, and later ones as they appear.
    void beginApplication() {
        listen();
        auto* query = addQuery();
        query->list = true;
        query->then = [this](const void* entry) {
            if (entry != nullptr) {
                considerSinkInput(static_cast<const pa_sink_input_info*>(entry)->index);
            }
        };
        query->operation = pa_context_get_sink_input_info_list(
            m_connection.context(), &Session::answer<pa_sink_input_info>, query);
    }

    // Queries or stream connections still outstanding.
    bool settling() const {
        const auto outstanding = std::any_of(m_queries.begin(), m_queries.end(), [](const auto& q) {
            return !q->done && q->operation != nullptr &&
                   pa_operation_get_state(q->operation) == PA_OPERATION_RUNNING;
        });
        const auto connecting =
            std::any_of(m_sources.begin(), m_sources.end(),
                        [](const auto& entry) { return !entry.second.stream->isSettled(); });
        return outstanding || connecting;
    }

    bool deliveredUntil(HostSeconds hostTime) const {
        return std::all_of(m_sources.begin(), m_sources.end(), [hostTime](const auto& entry) {
            const auto until = entry.second.stream->capturedUntil();
            return !entry.second.stream->isReady() || (until && *until >= hostTime);
        });
    }

    int liveStreams() const {
        return static_cast<int>(
            std::count_if(m_sources.begin(), m_sources.end(),
                          [](const auto& entry) { return entry.second.stream->isReady(); }));
    }

    // The error of the first output stream when none runs.
    int firstError() const { return m_firstError; }

private:
    struct Source {
        std::unique_ptr<RecordStream> stream;
        std::optional<quint32> sinkInput; // application mode: the playback stream it records
        QString sinkName;                 // whole system: the output whose monitor it records
        bool delivered = false;
    };

    struct Query {
        pa_operation* operation = nullptr;
        std::function<void(const void* info)> then; // the entry, or null when there is none
        bool list = false;                          // every entry, then null at the end
        bool done = false;
        Session* session = nullptr;
    };

    template <typename Info>
    static void answer(pa_context*, const Info* info, int eol, void* userdata) {
        auto* query = static_cast<Query*>(userdata);
        if (query->done) {
            return;
        }
        if (eol == 0 && info != nullptr) {
            if (!query->list) {
                query->done = true;
            }
            query->then(info);
        } else {
            query->done = true;
            query->then(nullptr);
        }
        query->session->m_connection.signal();
    }

    static void answerServer(pa_context*, const pa_server_info* info, void* userdata) {
        auto* query = static_cast<Query*>(userdata);
        query->done = true;
        query->then(info);
        query->session->m_connection.signal();
    }

    static void tick(pa_mainloop_api*, pa_time_event* event, const struct timeval*,
                     void* userdata) {
        auto* session = static_cast<Session*>(userdata);
        session->m_retired.clear();
        session->m_queries.remove_if([](const auto& query) {
            const auto finished = query->done || query->operation == nullptr ||
                                  pa_operation_get_state(query->operation) != PA_OPERATION_RUNNING;
            if (finished && query->operation != nullptr) {
                pa_operation_unref(query->operation);
                query->operation = nullptr;
            }
            return finished;
        });
        session->m_mixer.flushBefore(hostNow() - kStallSeconds);
        session->watch();
        pa_context_rttime_restart(session->m_connection.context(), event,
                                  pa_rtclock_now() + kTickMicroseconds);
    }

    // Whole system: an output's monitor delivers even while nothing plays, so a stream that
    // delivers nothing (without a suspend or a move) is stuck, the server perhaps hanging. It is
    // reopened once; if the new one delivers nothing either, the capture fails. An application's
    // streams are left alone: they deliver nothing while the application pauses.
    void watch() {
        if (m_pid || m_failed || !m_pendingSink.isEmpty() || m_sources.empty()) {
            return;
        }
        const auto& [id, source] = *m_sources.rbegin();
        const QuietWatch::Verdict verdict = m_quiet.check(*source.stream, hostNow());
        if (verdict == QuietWatch::Verdict::fine) {
            return;
        }
        if (verdict == QuietWatch::Verdict::giveUp) {
            fail(CaptureFailureKind::sourceStalled, kOutputStalled);
            return;
        }
        const auto sinkName = source.sinkName;
        const auto monitorName = source.stream->settings().sourceName;
        retire(id);
        openOutput(sinkName, monitorName, false);
        if (m_sources.empty()) {
            fail(CaptureFailureKind::sourceStalled, kOutputStalled);
        }
    }

    Query* addQuery() {
        m_queries.push_back(std::make_unique<Query>());
        auto* query = m_queries.back().get();
        query->session = this;
        return query;
    }

    void queryServer(std::function<void(const pa_server_info*)> then) {
        auto* query = addQuery();
        query->then = [then = std::move(then)](const void* info) {
            then(static_cast<const pa_server_info*>(info));
        };
        query->operation =
            pa_context_get_server_info(m_connection.context(), &Session::answerServer, query);
    }

    void querySinkByName(const QString& name, std::function<void(const pa_sink_info*)> then) {
        auto* query = addQuery();
        query->then = [then = std::move(then)](const void* info) {
            then(static_cast<const pa_sink_info*>(info));
        };
        query->operation =
            pa_context_get_sink_info_by_name(m_connection.context(), name.toUtf8().constData(),
                                             &Session::answer<pa_sink_info>, query);
    }

    void querySinkByIndex(quint32 index, std::function<void(const pa_sink_info*)> then) {
        auto* query = addQuery();
        query->then = [then = std::move(then)](const void* info) {
            then(static_cast<const pa_sink_info*>(info));
        };
        query->operation = pa_context_get_sink_info_by_index(m_connection.context(), index,
                                                             &Session::answer<pa_sink_info>, query);
    }

    void querySinkInput(quint32 index, std::function<void(const pa_sink_input_info*)> then) {
        auto* query = addQuery();
        query->then = [then = std::move(then)](const void* info) {
            then(static_cast<const pa_sink_input_info*>(info));
        };
        query->operation = pa_context_get_sink_input_info(
            m_connection.context(), index, &Session::answer<pa_sink_input_info>, query);
    }

    void queryClient(quint32 index, std::function<void(const pa_client_info*)> then) {
        auto* query = addQuery();
        query->then = [then = std::move(then)](const void* info) {
            then(static_cast<const pa_client_info*>(info));
        };
        query->operation = pa_context_get_client_info(m_connection.context(), index,
                                                      &Session::answer<pa_client_info>, query);
    }

    // Opens a record stream feeding the mixer; 0 when libpulse refused it (or throws, when
    // `throwing`).
    quint64 open(RecordStream::Settings settings, Source source, bool throwing) {
        const auto id = m_nextInput++;
        source.stream = std::make_unique<RecordStream>(
            m_connection, std::move(settings),
            [this, id](const float* interleaved, Frames frames, HostSeconds hostTime) {
                audio(id, interleaved, frames, hostTime);
            },
            nullptr, [this, id](int error) { ended(id, error); });
        try {
            source.stream->connect();
        } catch (const PlatformError&) {
            m_retired.push_back(std::move(source.stream));
            if (throwing) {
                throw;
            }
            return 0;
        }
        m_mixer.addInput(id);
        m_sources.emplace(id, std::move(source));
        return id;
    }

    void retire(quint64 id) {
        const auto found = m_sources.find(id);
        if (found == m_sources.end()) {
            return;
        }
        // What a stream that has delivered holds back goes to the mixer first. Never destroyed
        // here: this may run inside the stream's own callback.
        if (found->second.delivered) {
            found->second.stream->handOnHeldBack();
        }
        m_retired.push_back(std::move(found->second.stream));
        m_sources.erase(found);
        m_mixer.removeInput(id);
    }

    void fail(CaptureFailureKind kind, const QString& description) {
        if (m_failed) {
            return;
        }
        m_failed = true;
        if (m_onFailure) {
            m_onFailure(CaptureFailure{kind, description});
        }
    }

    void audio(quint64 id, const float* interleaved, Frames frames, HostSeconds hostTime) {
        const auto found = m_sources.find(id);
        if (found == m_sources.end()) {
            return;
        }
        if (!found->second.delivered) {
            found->second.delivered = true;
            if (!m_pid) {
                // The newly followed output runs: the streams of earlier outputs are done.
                std::vector<quint64> older;
                for (const auto& [other, source] : m_sources) {
                    if (other < id) {
                        older.push_back(other);
                    }
                }
                for (const auto other : older) {
                    retire(other);
                }
            }
        }
        m_mixer.push(id, interleaved, frames, hostTime);
    }

    void ended(quint64 id, int error) {
        const auto found = m_sources.find(id);
        if (found == m_sources.end()) {
            return;
        }
        const auto sinkInput = found->second.sinkInput;
        retire(id);
        if (m_firstError == PA_OK) {
            m_firstError = error;
        }
        if (!m_connection.isConnected()) {
            return; // the connection's loss is reported on its own
        }
        if (m_pid) {
            if (sinkInput) {
                m_tracked.erase(*sinkInput);
                // It moved to another output (which ends a record stream made not to move), or
                // it is ending: look again, and record it where it is now if it still exists.
                if (++m_attempts[*sinkInput] <= kMaxStreamAttempts) {
                    considerSinkInput(*sinkInput);
                }
            }
            return;
        }
        if (!m_sources.empty() || !m_pendingSink.isEmpty()) {
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
        // The recorded output went away (or the server ended the stream): follow whatever
        // output is the default now.
        queryServer([this](const pa_server_info* info) {
            const auto sink = info == nullptr ? QString() : text(info->default_sink_name);
            if (sink.isEmpty()) {
                fail(CaptureFailureKind::outputLost, kOutputGone);
                return;
            }
            follow(sink);
        });
    }

    void serverEvent(int event, quint32 index) {
        const auto facility = event & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
        const auto type = event & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
        if (!m_pid) {
            if (facility == PA_SUBSCRIPTION_EVENT_SERVER) {
                checkDefaultOutput();
            }
            return;
        }
        if (facility != PA_SUBSCRIPTION_EVENT_SINK_INPUT) {
            return;
        }
        if (type == PA_SUBSCRIPTION_EVENT_REMOVE) {
            m_foreign.erase(index);
            m_attempts.erase(index);
            const auto tracked = m_tracked.find(index);
            if (tracked != m_tracked.end()) {
                const auto id = tracked->second;
                m_tracked.erase(tracked);
                retire(id);
            }
            return;
        }
        considerSinkInput(index);
    }

    // Whole system ---------------------------------------------------------------------------

    QString followedOutput() const {
        if (!m_pendingSink.isEmpty()) {
            return m_pendingSink;
        }
        return m_sources.empty() ? QString() : m_sources.rbegin()->second.sinkName;
    }

    void checkDefaultOutput() {
        queryServer([this](const pa_server_info* info) {
            const auto sink = info == nullptr ? QString() : text(info->default_sink_name);
            // No default output for now: keep recording the current one until it goes.
            if (!sink.isEmpty() && sink != followedOutput()) {
                follow(sink);
            }
        });
    }

    void follow(const QString& sinkName) {
        m_pendingSink = sinkName;
        querySinkByName(sinkName, [this, sinkName](const pa_sink_info* sink) {
            if (m_pendingSink != sinkName) {
                return; // another switch came first
            }
            m_pendingSink.clear();
            if (sink == nullptr || sink->monitor_source_name == nullptr) {
                if (m_sources.empty()) {
                    fail(CaptureFailureKind::outputLost, kOutputGone);
                }
                return;
            }
            openOutput(sinkName, text(sink->monitor_source_name), false);
            if (m_sources.empty()) {
                fail(CaptureFailureKind::outputLost, kOutputGone);
            }
        });
    }

    void openOutput(const QString& sinkName, const QString& monitorName, bool throwing) {
        RecordStream::Settings settings;
        settings.streamName = QStringLiteral("Kivo 系統音訊");
        settings.sourceName = monitorName;
        settings.fragmentFrames = kFragmentFrames;
        // Following the default output is done here, by opening a stream on the new output:
        // the server must not move this one.
        settings.dontMove = true;
        Source source;
        source.sinkName = sinkName;
        open(std::move(settings), std::move(source), throwing);
    }

    // One application --------------------------------------------------------------------------

    void considerSinkInput(quint32 index) {
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

    void decide(quint32 index, quint32 sink, qint32 pid) {
        if (pid != *m_pid) {
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
            settings.sourceName = text(info->monitor_source_name);
            settings.monitoredSinkInput = index;
            settings.fragmentFrames = kFragmentFrames;
            // Without this, PipeWire moves the stream to the whole output's monitor when the
            // application's stream ends, and other programs' audio would be recorded.
            settings.dontMove = true;
            settings.playedOneCycleLater = m_onPipeWire;
            Source source;
            source.sinkInput = index;
            if (const auto id = open(std::move(settings), std::move(source), false); id != 0) {
                m_tracked[index] = id;
            }
        });
    }

    PulseConnection& m_connection;
    std::optional<qint32> m_pid;
    bool m_onPipeWire = false;
    BufferHandler m_onBuffer;
    FailureHandler m_onFailure;
    CaptureMixer m_mixer;

    quint64 m_listener = 0;
    pa_time_event* m_timer = nullptr;
    std::map<quint64, Source> m_sources; // by mixer input
    quint64 m_nextInput = 1;
    std::vector<std::unique_ptr<RecordStream>> m_retired; // destroyed on the next tick
    std::list<std::unique_ptr<Query>> m_queries;
    bool m_failed = false;
    int m_firstError = PA_OK;

    QString m_pendingSink;        // whole system: the output being switched to
    QuietWatch m_quiet;           // whole system: whether the stuck output's stream was reopened
    std::deque<double> m_retries; // whole system: when the output's stream was reopened

    std::map<quint32, quint64> m_tracked; // application: sink input → mixer input
    std::set<quint32> m_lookingUp;        // application: sink inputs being looked at
    std::set<quint32> m_foreign;          // application: sink inputs of other processes
    std::map<quint32, int> m_attempts;    // application: record streams opened per sink input
};

SystemAudioCapture::SystemAudioCapture(std::shared_ptr<PulseConnection> connection,
                                       std::optional<qint32> applicationPID, BufferHandler onBuffer,
                                       FailureHandler onFailure)
    : m_connection(std::move(connection))
    , m_pid(applicationPID)
    , m_onBuffer(std::move(onBuffer))
    , m_onFailure(std::move(onFailure)) {}

SystemAudioCapture::~SystemAudioCapture() {
    stop();
}

void SystemAudioCapture::start() {
    if (m_session) {
        return;
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
    m_session =
        std::make_unique<Session>(*m_connection, m_pid, onPipeWire, m_onBuffer, m_onFailure);
    try {
        if (m_pid) {
            m_session->beginApplication();
        } else {
            m_session->beginSystem(sinkName, monitorName);
        }
    } catch (const PlatformError& error) {
        stopLocked();
        throw CaptureStartError(CaptureStartProblem::streamFailed, error);
    }
    while (m_connection->isConnected() && m_session->settling()) {
        m_connection->wait();
    }
    if (!m_connection->isConnected()) {
        stopLocked();
        throw CaptureStartError(CaptureStartProblem::serverUnreachable,
                                pulseError(kStartFailed, PA_ERR_CONNECTIONTERMINATED));
    }
    if (!m_pid && m_session->liveStreams() == 0) {
        const auto error = m_session->firstError();
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
    m_session.reset();
}

bool SystemAudioCapture::hasDeliveredUntil(HostSeconds hostTime) const {
    PulseConnection::Lock lock(*m_connection);
    return !m_session || m_session->deliveredUntil(hostTime);
}

int SystemAudioCapture::streamCount() const {
    PulseConnection::Lock lock(*m_connection);
    return m_session ? m_session->liveStreams() : 0;
}

} // namespace kivo
