#include "infrastructure/pulse/PulseConnection.h"

#include <pulse/pulseaudio.h>

namespace kivo {

QString describePulseError(int error) {
    switch (error) {
    case PA_ERR_CONNECTIONREFUSED:
        return QStringLiteral("找不到正在執行的音訊伺服器");
    case PA_ERR_ACCESS:
    case PA_ERR_AUTHKEY:
        return QStringLiteral("音訊伺服器拒絕了連線");
    case PA_ERR_CONNECTIONTERMINATED:
    case PA_ERR_KILLED:
        return QStringLiteral("與音訊伺服器的連線中斷了");
    case PA_ERR_TIMEOUT:
        return QStringLiteral("音訊伺服器沒有回應");
    case PA_ERR_INVALIDSERVER:
        return QStringLiteral("音訊伺服器的位址無效");
    case PA_ERR_NOENTITY:
        return QStringLiteral("找不到指定的裝置或串流");
    case PA_ERR_BUSY:
        return QStringLiteral("裝置正在使用中");
    case PA_ERR_NOTSUPPORTED:
    case PA_ERR_NOTIMPLEMENTED:
        return QStringLiteral("音訊伺服器不支援這項操作");
    default:
        break;
    }
    return QString::fromUtf8(pa_strerror(error));
}

PlatformError pulseError(const QString& what, int error) {
    return PlatformError(what + QStringLiteral("：") + describePulseError(error));
}

namespace {

const QString kConnectFailed = QStringLiteral("無法連線到音訊伺服器");
const QString kQueryFailed = QStringLiteral("無法讀取音訊伺服器的資料");

QString text(const char* value) {
    return value == nullptr ? QString() : QString::fromUtf8(value);
}

QString property(const pa_proplist* properties, const char* key) {
    return properties == nullptr ? QString() : text(pa_proplist_gets(properties, key));
}

std::optional<qint32> processIDProperty(const pa_proplist* properties,
                                        const char* key = PA_PROP_APPLICATION_PROCESS_ID) {
    bool ok = false;
    const auto pid = property(properties, key).toInt(&ok);
    if (!ok || pid <= 0) {
        return std::nullopt;
    }
    return pid;
}

PulseSinkInfo convert(const pa_sink_info& info) {
    return {info.index, text(info.name), text(info.description), text(info.monitor_source_name)};
}

PulseSourceInfo convert(const pa_source_info& info) {
    return {info.index,
            text(info.name),
            text(info.description),
            info.monitor_of_sink != PA_INVALID_INDEX,
            info.sample_spec.rate,
            info.sample_spec.channels};
}

PulseSinkInputInfo convert(const pa_sink_input_info& info) {
    return {info.index, info.sink, info.client, processIDProperty(info.proplist),
            property(info.proplist, PA_PROP_MEDIA_NAME)};
}

PulseClientInfo convert(const pa_client_info& info) {
    return {info.index,
            text(info.name),
            processIDProperty(info.proplist),
            property(info.proplist, PA_PROP_APPLICATION_NAME),
            property(info.proplist, PA_PROP_APPLICATION_PROCESS_BINARY),
            processIDProperty(info.proplist, "pipewire.sec.pid"),
            property(info.proplist, "client.api")};
}

template <typename Item>
struct Collected {
    PulseConnection* connection = nullptr;
    std::vector<Item> items;
};

template <typename Info, typename Item>
void collect(pa_context*, const Info* info, int eol, void* userdata) {
    auto* collected = static_cast<Collected<Item>*>(userdata);
    if (eol == 0 && info != nullptr) {
        collected->items.push_back(convert(*info));
    } else {
        collected->connection->signal();
    }
}

void signalOperation(pa_operation*, void* userdata) {
    static_cast<PulseConnection*>(userdata)->signal();
}

// A server that hangs (stopped, overloaded) gets this long to answer a query.
constexpr pa_usec_t kQueryTimeout = 5 * PA_USEC_PER_SEC;

void queryExpired(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata) {
    auto* expired = static_cast<std::pair<PulseConnection*, bool>*>(userdata);
    expired->second = true;
    expired->first->signal();
}

// Waits, under the lock, until `operation` is done; throws when it was cancelled because the
// connection broke, or when the server did not answer within kQueryTimeout.
void await(PulseConnection& connection, pa_operation* operation) {
    if (operation == nullptr) {
        throw pulseError(kQueryFailed, pa_context_errno(connection.context()));
    }
    pa_operation_set_state_callback(operation, &signalOperation, &connection);
    std::pair<PulseConnection*, bool> expired{&connection, false};
    auto* timer = pa_context_rttime_new(connection.context(), pa_rtclock_now() + kQueryTimeout,
                                        &queryExpired, &expired);
    while (pa_operation_get_state(operation) == PA_OPERATION_RUNNING && !expired.second) {
        connection.wait();
    }
    pa_threaded_mainloop_get_api(connection.mainloop())->time_free(timer);
    if (pa_operation_get_state(operation) == PA_OPERATION_RUNNING) {
        pa_operation_cancel(operation);
    }
    const auto state = pa_operation_get_state(operation);
    pa_operation_set_state_callback(operation, nullptr, nullptr);
    pa_operation_unref(operation);
    if (expired.second && state != PA_OPERATION_DONE) {
        throw pulseError(kQueryFailed, PA_ERR_TIMEOUT);
    }
    if (state != PA_OPERATION_DONE) {
        const auto error = pa_context_errno(connection.context());
        throw pulseError(kQueryFailed, error == PA_OK ? PA_ERR_CONNECTIONTERMINATED : error);
    }
}

template <typename Info, typename Item, typename Start>
std::vector<Item> list(PulseConnection& connection, Start start) {
    PulseConnection::Lock lock(connection);
    if (!connection.isConnected()) {
        throw pulseError(kQueryFailed, PA_ERR_CONNECTIONTERMINATED);
    }
    Collected<Item> collected{&connection, {}};
    await(connection, start(connection.context(), &collect<Info, Item>, &collected));
    return std::move(collected.items);
}

} // namespace

struct PulseConnectionCallbacks {
    static void contextState(pa_context* context, void* userdata) {
        auto* connection = static_cast<PulseConnection*>(userdata);
        const auto state = pa_context_get_state(context);
        if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) {
            const auto error = pa_context_errno(context);
            connection->dispatchLost(
                describePulseError(error == PA_OK ? PA_ERR_CONNECTIONTERMINATED : error));
        }
        connection->signal();
    }

    static void subscription(pa_context*, pa_subscription_event_type_t event, uint32_t index,
                             void* userdata) {
        static_cast<PulseConnection*>(userdata)->dispatchEvent(static_cast<int>(event), index);
    }

    static void timeout(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata) {
        auto* expired = static_cast<std::pair<PulseConnection*, bool>*>(userdata);
        expired->second = true;
        expired->first->signal();
    }
};

PulseConnection::PulseConnection(std::chrono::milliseconds timeout) {
    m_mainloop = pa_threaded_mainloop_new();
    if (m_mainloop == nullptr) {
        throw PlatformError(kConnectFailed + QStringLiteral("：") +
                            QString::fromUtf8(pa_strerror(PA_ERR_INTERNAL)));
    }
    pa_threaded_mainloop_set_name(m_mainloop, "kivo-pulse");

    auto* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, "Kivo");
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, "kivo");
    m_context =
        pa_context_new_with_proplist(pa_threaded_mainloop_get_api(m_mainloop), "Kivo", properties);
    pa_proplist_free(properties);
    if (m_context == nullptr) {
        pa_threaded_mainloop_free(m_mainloop);
        throw PlatformError(kConnectFailed + QStringLiteral("：") +
                            QString::fromUtf8(pa_strerror(PA_ERR_INTERNAL)));
    }
    pa_context_set_state_callback(m_context, &PulseConnectionCallbacks::contextState, this);

    if (pa_threaded_mainloop_start(m_mainloop) < 0) {
        pa_context_unref(m_context);
        pa_threaded_mainloop_free(m_mainloop);
        throw PlatformError(kConnectFailed + QStringLiteral("：") +
                            QString::fromUtf8(pa_strerror(PA_ERR_INTERNAL)));
    }

    int error = PA_OK;
    {
        Lock lock(*this);
        // No autospawn: Kivo records from the server the desktop runs and never starts one.
        if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            error = pa_context_errno(m_context);
        } else {
            std::pair<PulseConnection*, bool> expired{this, false};
            auto* timer = pa_context_rttime_new(
                m_context,
                pa_rtclock_now() +
                    static_cast<pa_usec_t>(std::chrono::microseconds(timeout).count()),
                &PulseConnectionCallbacks::timeout, &expired);
            for (;;) {
                const auto state = pa_context_get_state(m_context);
                if (state == PA_CONTEXT_READY) {
                    break;
                }
                if (!PA_CONTEXT_IS_GOOD(state)) {
                    error = pa_context_errno(m_context);
                    break;
                }
                if (expired.second) {
                    error = PA_ERR_TIMEOUT;
                    break;
                }
                wait();
            }
            pa_threaded_mainloop_get_api(m_mainloop)->time_free(timer);
        }
        if (error == PA_OK) {
            pa_context_set_subscribe_callback(m_context, &PulseConnectionCallbacks::subscription,
                                              this);
            const auto mask = static_cast<pa_subscription_mask_t>(
                PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SOURCE |
                PA_SUBSCRIPTION_MASK_SINK_INPUT | PA_SUBSCRIPTION_MASK_CLIENT |
                PA_SUBSCRIPTION_MASK_SERVER);
            try {
                await(*this, pa_context_subscribe(m_context, mask, nullptr, nullptr));
            } catch (const PlatformError&) {
                error = pa_context_errno(m_context);
                if (error == PA_OK) {
                    error = PA_ERR_CONNECTIONTERMINATED;
                }
            }
        }
        if (error != PA_OK) {
            m_lostReported = true; // nobody listens yet; the teardown is not a loss
        }
    }
    if (error != PA_OK) {
        teardown();
        throw pulseError(kConnectFailed, error);
    }
}

PulseConnection::~PulseConnection() {
    teardown();
}

void PulseConnection::teardown() {
    if (m_mainloop == nullptr) {
        return;
    }
    {
        Lock lock(*this);
        m_lostReported = true;
        m_listeners.clear();
        pa_context_set_subscribe_callback(m_context, nullptr, nullptr);
        pa_context_set_state_callback(m_context, nullptr, nullptr);
        pa_context_disconnect(m_context);
        pa_context_unref(m_context);
        m_context = nullptr;
    }
    pa_threaded_mainloop_stop(m_mainloop);
    pa_threaded_mainloop_free(m_mainloop);
    m_mainloop = nullptr;
}

PulseServerInfo PulseConnection::serverInfo() {
    Lock lock(*this);
    if (!isConnected()) {
        throw pulseError(kQueryFailed, PA_ERR_CONNECTIONTERMINATED);
    }
    struct Reply {
        PulseConnection* connection;
        PulseServerInfo info;
    } reply{this, {}};
    const auto callback = [](pa_context*, const pa_server_info* info, void* userdata) {
        auto* r = static_cast<Reply*>(userdata);
        if (info != nullptr) {
            r->info = {text(info->server_name), text(info->default_sink_name),
                       text(info->default_source_name)};
        }
        r->connection->signal();
    };
    await(*this, pa_context_get_server_info(m_context, callback, &reply));
    return reply.info;
}

std::vector<PulseSinkInfo> PulseConnection::sinks() {
    return list<pa_sink_info, PulseSinkInfo>(*this, &pa_context_get_sink_info_list);
}

std::vector<PulseSourceInfo> PulseConnection::sources() {
    return list<pa_source_info, PulseSourceInfo>(*this, &pa_context_get_source_info_list);
}

std::vector<PulseSinkInputInfo> PulseConnection::sinkInputs() {
    return list<pa_sink_input_info, PulseSinkInputInfo>(*this,
                                                        &pa_context_get_sink_input_info_list);
}

std::vector<PulseClientInfo> PulseConnection::clients() {
    return list<pa_client_info, PulseClientInfo>(*this, &pa_context_get_client_info_list);
}

quint64 PulseConnection::addListener(EventHandler onEvent, LostHandler onLost) {
    const auto id = m_nextListener++;
    m_listeners.emplace(id, Listener{std::move(onEvent), std::move(onLost)});
    return id;
}

void PulseConnection::removeListener(quint64 id) {
    m_listeners.erase(id);
}

bool PulseConnection::isConnected() const {
    return m_context != nullptr && pa_context_get_state(m_context) == PA_CONTEXT_READY;
}

bool PulseConnection::inPulseThread() const {
    return pa_threaded_mainloop_in_thread(m_mainloop) != 0;
}

void PulseConnection::dispatchEvent(int event, quint32 index) {
    // A handler may remove listeners (itself included): walk the ids, not the map.
    std::vector<quint64> ids;
    for (const auto& [id, listener] : m_listeners) {
        ids.push_back(id);
    }
    for (const auto id : ids) {
        const auto found = m_listeners.find(id);
        if (found != m_listeners.end() && found->second.onEvent) {
            auto handler = found->second.onEvent;
            handler(event, index);
        }
    }
}

void PulseConnection::dispatchLost(const QString& description) {
    if (m_lostReported) {
        return;
    }
    m_lostReported = true;
    std::vector<LostHandler> handlers;
    for (const auto& [id, listener] : m_listeners) {
        if (listener.onLost) {
            handlers.push_back(listener.onLost);
        }
    }
    for (const auto& handler : handlers) {
        handler(description);
    }
}

void PulseConnection::signal() {
    pa_threaded_mainloop_signal(m_mainloop, 0);
}

void PulseConnection::wait() {
    pa_threaded_mainloop_wait(m_mainloop);
}

PulseConnection::Lock::Lock(const PulseConnection& connection) {
    if (pa_threaded_mainloop_in_thread(connection.m_mainloop) == 0) {
        m_mainloop = connection.m_mainloop;
        pa_threaded_mainloop_lock(m_mainloop);
    }
}

PulseConnection::Lock::~Lock() {
    if (m_mainloop != nullptr) {
        pa_threaded_mainloop_unlock(m_mainloop);
    }
}

} // namespace kivo
