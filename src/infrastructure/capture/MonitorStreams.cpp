#include "infrastructure/capture/MonitorStreams.h"

#include "infrastructure/capture/HostClock.h"
#include "infrastructure/pulse/PulseConnection.h"

#include <pulse/pulseaudio.h>

#include <algorithm>

namespace kivo {

namespace {

constexpr pa_usec_t kTickMicroseconds = 50000;
// Audio captured this long ago is handed on even if some stream has not delivered it.
constexpr double kStallSeconds = 0.3;

} // namespace

MonitorStreams::MonitorStreams(PulseConnection& connection, FragmentHandler onFragment,
                               CaptureSource::FailureHandler onFailure)
    : m_connection(connection)
    , m_onFailure(std::move(onFailure))
    , m_mixer(std::move(onFragment)) {}

MonitorStreams::~MonitorStreams() {
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
}

void MonitorStreams::begin() {
    m_listener =
        m_connection.addListener([this](int event, quint32 index) { serverEvent(event, index); },
                                 [this](const QString& description) {
                                     fail(CaptureFailureKind::connectionLost, description);
                                 });
    m_timer = pa_context_rttime_new(m_connection.context(), pa_rtclock_now() + kTickMicroseconds,
                                    &MonitorStreams::onTick, this);
    openFirst();
}

void MonitorStreams::close() {
    // What the streams hold back while their clocks are measured goes to the mixer first.
    // Handing on may retire older outputs' streams, so the ids are taken beforehand.
    std::vector<quint64> ids;
    for (const auto& entry : m_streams) {
        ids.push_back(entry.first);
    }
    for (const auto id : ids) {
        if (const auto found = m_streams.find(id); found != m_streams.end()) {
            found->second->handOnHeldBack();
        }
    }
    m_streams.clear();
    m_retired.clear();
    m_mixer.flushAll();
}

bool MonitorStreams::settling() const {
    const auto outstanding = std::any_of(m_queries.begin(), m_queries.end(), [](const auto& q) {
        return !q->done && q->operation != nullptr &&
               pa_operation_get_state(q->operation) == PA_OPERATION_RUNNING;
    });
    const auto connecting = std::any_of(m_streams.begin(), m_streams.end(), [](const auto& entry) {
        return !entry.second->isSettled();
    });
    return outstanding || connecting;
}

bool MonitorStreams::deliveredUntil(HostSeconds hostTime) const {
    return std::all_of(m_streams.begin(), m_streams.end(), [hostTime](const auto& entry) {
        const auto until = entry.second->capturedUntil();
        return !entry.second->isReady() || (until && *until >= hostTime);
    });
}

int MonitorStreams::liveStreams() const {
    return static_cast<int>(
        std::count_if(m_streams.begin(), m_streams.end(),
                      [](const auto& entry) { return entry.second->isReady(); }));
}

quint64 MonitorStreams::open(RecordStream::Settings settings, bool throwing) {
    const auto id = m_nextId++;
    auto stream = std::make_unique<RecordStream>(
        m_connection, std::move(settings),
        [this, id](const AudioFragment& fragment) { audio(id, fragment); }, nullptr,
        [this, id](int error) { streamEnded(id, error); });
    try {
        stream->connect();
    } catch (const PlatformError&) {
        m_retired.push_back(std::move(stream));
        if (throwing) {
            throw;
        }
        return 0;
    }
    m_mixer.addInput(id);
    m_streams.emplace(id, std::move(stream));
    return id;
}

void MonitorStreams::retire(quint64 id) {
    const auto found = m_streams.find(id);
    if (found == m_streams.end()) {
        return;
    }
    if (m_delivered.erase(id) != 0) {
        found->second->handOnHeldBack();
    }
    m_retired.push_back(std::move(found->second));
    m_streams.erase(found);
    m_mixer.removeInput(id);
}

void MonitorStreams::fail(CaptureFailureKind kind, const QString& description) {
    if (m_failed) {
        return;
    }
    m_failed = true;
    if (m_onFailure) {
        m_onFailure(CaptureFailure{kind, description});
    }
}

void MonitorStreams::audio(quint64 id, const AudioFragment& fragment) {
    if (m_streams.count(id) == 0) {
        return;
    }
    if (m_delivered.insert(id).second) {
        delivering(id);
    }
    m_mixer.push(id, fragment);
}

void MonitorStreams::streamEnded(quint64 id, int error) {
    const auto found = m_streams.find(id);
    if (found == m_streams.end()) {
        return;
    }
    const auto settings = found->second->settings();
    retire(id);
    if (m_firstError == PA_OK) {
        m_firstError = error;
    }
    if (m_connection.isConnected()) {
        ended(id, settings, error);
    }
}

void MonitorStreams::onTick(pa_mainloop_api*, pa_time_event* event, const struct timeval*,
                            void* userdata) {
    auto* self = static_cast<MonitorStreams*>(userdata);
    self->m_retired.clear();
    self->m_queries.remove_if([](const auto& query) {
        const auto finished = query->done || query->operation == nullptr ||
                              pa_operation_get_state(query->operation) != PA_OPERATION_RUNNING;
        if (finished && query->operation != nullptr) {
            pa_operation_unref(query->operation);
            query->operation = nullptr;
        }
        return finished;
    });
    self->m_mixer.flushBefore(hostNow() - kStallSeconds);
    self->tick();
    pa_context_rttime_restart(self->m_connection.context(), event,
                              pa_rtclock_now() + kTickMicroseconds);
}

// Server queries ---------------------------------------------------------------------------------

template <typename Info>
void MonitorStreams::answer(pa_context*, const Info* info, int eol, void* userdata) {
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
    query->owner->m_connection.signal();
}

void MonitorStreams::answerServer(pa_context*, const pa_server_info* info, void* userdata) {
    auto* query = static_cast<Query*>(userdata);
    query->done = true;
    query->then(info);
    query->owner->m_connection.signal();
}

MonitorStreams::Query* MonitorStreams::addQuery(std::function<void(const void* info)> then) {
    m_queries.push_back(std::make_unique<Query>());
    auto* query = m_queries.back().get();
    query->owner = this;
    query->then = std::move(then);
    return query;
}

void MonitorStreams::queryServer(std::function<void(const pa_server_info*)> then) {
    auto* query = addQuery([then = std::move(then)](const void* info) {
        then(static_cast<const pa_server_info*>(info));
    });
    query->operation =
        pa_context_get_server_info(m_connection.context(), &MonitorStreams::answerServer, query);
}

void MonitorStreams::querySinkByName(const QString& name,
                                     std::function<void(const pa_sink_info*)> then) {
    auto* query = addQuery([then = std::move(then)](const void* info) {
        then(static_cast<const pa_sink_info*>(info));
    });
    query->operation =
        pa_context_get_sink_info_by_name(m_connection.context(), name.toUtf8().constData(),
                                         &MonitorStreams::answer<pa_sink_info>, query);
}

void MonitorStreams::querySinkByIndex(quint32 index,
                                      std::function<void(const pa_sink_info*)> then) {
    auto* query = addQuery([then = std::move(then)](const void* info) {
        then(static_cast<const pa_sink_info*>(info));
    });
    query->operation = pa_context_get_sink_info_by_index(
        m_connection.context(), index, &MonitorStreams::answer<pa_sink_info>, query);
}

void MonitorStreams::querySinkInputs(std::function<void(const pa_sink_input_info*)> each) {
    auto* query = addQuery([each = std::move(each)](const void* info) {
        if (info != nullptr) {
            each(static_cast<const pa_sink_input_info*>(info));
        }
    });
    query->list = true;
    query->operation = pa_context_get_sink_input_info_list(
        m_connection.context(), &MonitorStreams::answer<pa_sink_input_info>, query);
}

void MonitorStreams::querySinkInput(quint32 index,
                                    std::function<void(const pa_sink_input_info*)> then) {
    auto* query = addQuery([then = std::move(then)](const void* info) {
        then(static_cast<const pa_sink_input_info*>(info));
    });
    query->operation = pa_context_get_sink_input_info(
        m_connection.context(), index, &MonitorStreams::answer<pa_sink_input_info>, query);
}

void MonitorStreams::queryClient(quint32 index, std::function<void(const pa_client_info*)> then) {
    auto* query = addQuery([then = std::move(then)](const void* info) {
        then(static_cast<const pa_client_info*>(info));
    });
    query->operation = pa_context_get_client_info(m_connection.context(), index,
                                                  &MonitorStreams::answer<pa_client_info>, query);
}

} // namespace kivo
