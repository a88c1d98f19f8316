#pragma once

// One connection to the sound server (PulseAudio, or PipeWire's pulse server) over libpulse, with
// its own thread: the pulse thread, on which every libpulse callback runs. Other threads query the
// server through the blocking helpers below or take `Lock` before touching libpulse objects.
// Capture streams, the device list and the application list are built on it.

#include "infrastructure/PlatformError.h"

#include <QString>

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <vector>

struct pa_context;
struct pa_threaded_mainloop;

namespace kivo {

// A failed libpulse call as a PlatformError: "<what>：<pa_strerror(error)>".
PlatformError pulseError(const QString& what, int error);
// A libpulse error code in words: Traditional Chinese for the common causes (no server, refused,
// connection lost, no answer), libpulse's own text for the others.
QString describePulseError(int error);

struct PulseServerInfo {
    QString serverName;        // "pulseaudio", "PulseAudio (on PipeWire …)"
    QString defaultSinkName;   // empty when the server has no default output
    QString defaultSourceName; // empty when the server has no default input
};

struct PulseSinkInfo {
    quint32 index = 0;
    QString name;
    QString description;
    QString monitorSourceName; // empty when the sink has no monitor
};

struct PulseSourceInfo {
    quint32 index = 0;
    QString name;
    QString description;
    bool isMonitor = false; // the monitor of a sink
    quint32 sampleRate = 0; // frames per second
    int channels = 0;
};

struct PulseSinkInputInfo {
    quint32 index = 0;
    quint32 sink = 0;   // index of the sink it plays to
    quint32 client = 0; // index of its client; kNoIndex when it has none
    std::optional<qint32> processID;
    QString mediaName; // media.name: what the stream plays, empty when absent
};

struct PulseClientInfo {
    quint32 index = 0;
    QString name;
    std::optional<qint32> processID; // application.process.id
    QString applicationName;         // application.name, empty when absent
    QString processBinary;           // application.process.binary, empty when absent
    // PipeWire only: the process at the other end of the client's connection to PipeWire (the
    // pulse server itself for a client of the pulse server), and the API the client speaks.
    std::optional<qint32> connectionProcessID; // pipewire.sec.pid
    QString clientAPI;                         // client.api, "pipewire-pulse" for pulse clients
};

class PulseConnection {
public:
    // libpulse's invalid index.
    static constexpr quint32 kNoIndex = 0xffffffffU;
    static constexpr std::chrono::milliseconds kConnectTimeout{3000};

    // Connects to the server the environment names (PULSE_SERVER, else the user's own server)
    // without starting one, waiting at most `timeout`. Throws PlatformError naming the failure.
    explicit PulseConnection(std::chrono::milliseconds timeout = kConnectTimeout);
    // Disconnects and ends the pulse thread. Never on the pulse thread.
    ~PulseConnection();

    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    // Blocking queries. Any thread but the pulse thread, never while holding `Lock` (the wait
    // would keep the lock); each throws PlatformError when the connection is gone.
    PulseServerInfo serverInfo();
    std::vector<PulseSinkInfo> sinks();
    std::vector<PulseSourceInfo> sources();
    std::vector<PulseSinkInputInfo> sinkInputs();
    std::vector<PulseClientInfo> clients();

    // Events of the server: facility and type as libpulse's pa_subscription_event_type_t bits,
    // and the object's index. Sinks, sources, sink inputs, clients and the server are subscribed.
    using EventHandler = std::function<void(int event, quint32 index)>;
    // The connection broke; the text is libpulse's.
    using LostHandler = std::function<void(const QString& description)>;
    // Handlers run on the pulse thread. Call with `Lock` held (or on the pulse thread).
    quint64 addListener(EventHandler onEvent, LostHandler onLost);
    void removeListener(quint64 id);

    // False once the connection broke. Under `Lock` or on the pulse thread.
    bool isConnected() const;

    // For the capture streams: the raw objects. Under `Lock` or on the pulse thread.
    pa_context* context() const noexcept { return m_context; }
    pa_threaded_mainloop* mainloop() const noexcept { return m_mainloop; }
    bool inPulseThread() const;

    // Holds the pulse thread's lock for its lifetime; does nothing on the pulse thread itself,
    // which holds it already.
    class Lock {
    public:
        explicit Lock(const PulseConnection& connection);
        ~Lock();
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        pa_threaded_mainloop* m_mainloop = nullptr;
    };

    // Wakes every thread waiting in `wait`. Pulse thread (or under `Lock`).
    void signal();
    // Releases the lock until `signal` is called, then takes it again. Under `Lock`, never on
    // the pulse thread.
    void wait();

private:
    friend struct PulseConnectionCallbacks;
    void dispatchEvent(int event, quint32 index);
    void dispatchLost(const QString& description);
    void teardown();

    pa_threaded_mainloop* m_mainloop = nullptr;
    pa_context* m_context = nullptr;
    bool m_lostReported = false;
    quint64 m_nextListener = 1;
    struct Listener {
        EventHandler onEvent;
        LostHandler onLost;
    };
    std::map<quint64, Listener> m_listeners; // pulse thread or under Lock
};

} // namespace kivo
