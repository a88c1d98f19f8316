#pragma once

// What the capture tests share: the sound server the test command started, the test player
// process, and pactl for changing the server while a capture runs. Main thread.

#include "audio/AudioTestSupport.h"
#include "infrastructure/pulse/PulseConnection.h"

#include <QProcess>
#include <QTemporaryDir>

#include <functional>
#include <optional>

namespace kivo::test {

// Why the test cannot use the test command's sound server, or an empty text when it can.
QString soundServerProblem();
// Fails the calling test (not skips) unless the test command gave it a sound server.
#define KIVO_REQUIRE_SOUND_SERVER()                                                                \
    QVERIFY2(::kivo::test::soundServerProblem().isEmpty(),                                         \
             qPrintable(::kivo::test::soundServerProblem()))

// The left channel of a recording: sample i was recorded at start + i / 48 000 seconds.
struct CapturedSignal {
    double start = 0.0;
    std::vector<float> left;

    // Samples from `from` to `to` seconds after `start`.
    std::vector<float> between(double from, double to) const;
    // Seconds after `start` of the first sample whose magnitude reaches `threshold` at or after
    // `from`, or empty.
    std::optional<double> firstAbove(float threshold, double from) const;
    // The amplitude of `hz` from `from` to `to` seconds after `start`.
    double amplitude(double hz, double from, double to) const {
        return toneAmplitude(between(from, to), hz);
    }
    // The amplitude of `hz` in most tenths of a second from `from` to `to` (their median). A
    // server starved on a loaded machine leaves its players' tones with a jump in phase, which a
    // single measure over the stretch adds up against itself; a tone that is there holds this.
    double usualAmplitude(double hz, double from, double to) const;
};

// The test player (helpers/TestPlayer.cpp) as a child process; killed when destroyed.
class TestPlayer {
public:
    // `streams`: one "DEVICE,SIGNAL,FREQUENCY,AMPLITUDE,START,DURATION" each.
    explicit TestPlayer(const QStringList& streams, const QString& name = QString());
    ~TestPlayer();
    qint32 pid() const { return static_cast<qint32>(m_process.processId()); }
    // Waits until stream `number` has opened, or is done; false on timeout or failure.
    bool waitPlaying(int number) { return waitFor(QStringLiteral("playing %1").arg(number)); }
    bool waitDone(int number) { return waitFor(QStringLiteral("done %1").arg(number)); }

private:
    bool waitFor(const QString& line);
    QProcess m_process;
    QString m_output;
};

// Runs pactl against the test server; true when it succeeded.
bool pactl(const QStringList& arguments, QString* output = nullptr);

// A module loaded with pactl for one test, unloaded when destroyed.
class LoadedModule {
public:
    LoadedModule(const QString& name, const QStringList& arguments) {
        pactl(QStringList{QStringLiteral("load-module"), name} + arguments, &m_index);
    }
    ~LoadedModule() { unload(); }
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;
    void unload() {
        if (!m_index.isEmpty()) {
            pactl({QStringLiteral("unload-module"), std::exchange(m_index, {})});
        }
    }

private:
    QString m_index;
};

// A sound server of this run's kind that only one test uses, so that it can stop it.
class PrivateServer {
public:
    PrivateServer();
    ~PrivateServer() { stop(); }
    bool started() const { return m_started; }
    QByteArray address() const; // the value of PULSE_SERVER that reaches it
    void stop();

private:
    QTemporaryDir m_folder{QStringLiteral("/tmp/kivo-server-XXXXXX")};
    bool m_started = false;
};

// Points PULSE_SERVER at another server while it lives; new connections go there.
class ScopedPulseServer {
public:
    explicit ScopedPulseServer(const QByteArray& address)
        : m_previous(qgetenv("PULSE_SERVER")) {
        qputenv("PULSE_SERVER", address);
    }
    ~ScopedPulseServer() { qputenv("PULSE_SERVER", m_previous); }

private:
    QByteArray m_previous;
};

// The processes of the test command's sound server that clients talk to or that run its graph.
QList<int> serverProcesses();

// Polls until `condition` holds or `timeoutMs` passes; spins the event loop meanwhile.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 5000);

// The index of the named source on the test server, waiting up to five seconds for it.
std::optional<quint32> sourceIndex(const QString& name);

} // namespace kivo::test
