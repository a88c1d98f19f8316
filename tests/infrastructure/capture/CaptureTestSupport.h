#pragma once

// What the capture tests share: the sound server the test command started, a recorder for the
// stamped buffers a capture delivers, the test player process, and pactl for changing the
// server while a capture runs.

#include "infrastructure/audio/PcmBuffer.h"
#include "infrastructure/capture/CaptureFailure.h"

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace kivo::test {

// The server the test command started for this run ("pulseaudio" or "pipewire"), or an empty
// text when the test runs without one.
QString soundServerName();
// Why the test cannot use the test command's sound server, or an empty text when it can.
QString soundServerProblem();
// Fails the calling test (not skips) unless the test command gave it a sound server.
#define KIVO_REQUIRE_SOUND_SERVER()                                                                \
    do {                                                                                           \
        const auto problem = ::kivo::test::soundServerProblem();                                   \
        if (!problem.isEmpty()) {                                                                  \
            QFAIL(qPrintable(problem));                                                            \
        }                                                                                          \
    } while (false)

// Buffers handed on by a capture (from the pulse thread), and failures it reported.
class CaptureRecorder {
public:
    struct Buffer {
        PcmBuffer buffer;
        double hostTime = 0.0;
    };

    std::function<void(PcmBuffer, double)> bufferHandler();
    std::function<void(const CaptureFailure&)> failureHandler();

    std::vector<Buffer> buffers() const;
    std::vector<CaptureFailure> failures() const;
    qint64 frames() const;
    void clear();

private:
    mutable std::mutex m_lock;
    std::vector<Buffer> m_buffers;
    std::vector<CaptureFailure> m_failures;
};

// Buffers laid out on their stamps: sample i of `left` was captured at start + i / 48 000.
struct CapturedSignal {
    double start = 0.0;
    std::vector<float> left;
    qint64 largestGap = 0;     // frames between the end of one buffer and the next one's stamp
    qint64 largestOverlap = 0; // frames a buffer's stamp lay before the previous one's end
    bool ordered = true;       // stamps increase buffer by buffer

    // Samples from `from` to `to` seconds after `start`.
    std::vector<float> between(double from, double to) const;
    // Seconds after `start` of the first sample whose magnitude reaches `threshold` at or after
    // `from`, or empty.
    std::optional<double> firstAbove(float threshold, double from) const;
};
CapturedSignal assemble(const std::vector<CaptureRecorder::Buffer>& buffers);

// The amplitude of a sine of `frequency` Hz in `samples` (full scale: 1.0).
double amplitudeOf(const std::vector<float>& samples, double frequency);

// The test player (helpers/TestPlayer.cpp) as a child process; killed when destroyed.
class TestPlayer {
public:
    // `streams`: one "DEVICE,SIGNAL,FREQUENCY,AMPLITUDE,START,DURATION" each.
    explicit TestPlayer(const QStringList& streams, const QString& name = QString());
    ~TestPlayer();

    qint32 pid() const;
    // Waits until stream `number` has opened; false on timeout or when the player failed.
    bool waitPlaying(int number, int timeoutMs = 5000);
    bool waitDone(int number, int timeoutMs = 10000);
    QString errors();

private:
    bool waitFor(const QString& line, int timeoutMs);
    QProcess m_process;
    QString m_output;
};

// Runs pactl against the test server; the output, or empty with `ok` false on failure.
QString pactl(const QStringList& arguments, bool* ok = nullptr);

// A module loaded with pactl for one test, unloaded when destroyed.
class LoadedModule {
public:
    LoadedModule(const QString& name, const QStringList& arguments);
    ~LoadedModule();
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

    bool isLoaded() const { return !m_index.isEmpty(); }
    void unload();

private:
    QString m_index;
};

// A source remapped from `master` for one test (a microphone that hears what `master`
// carries), removed when destroyed.
class RemappedSource {
public:
    RemappedSource(const QString& name, const QString& master);

    // The source's index once the server lists it; empty when it could not be made.
    const std::optional<quint32>& index() const { return m_index; }
    void unload() { m_module.unload(); }

private:
    LoadedModule m_module;
    std::optional<quint32> m_index;
};

// A null sink made for one test, removed when destroyed. Like the test command's own sinks it
// gets a silent low-latency stream: PulseAudio's null sink otherwise renders two seconds ahead
// while idle, and a recording of its monitor would see nothing for that long.
class TestSink {
public:
    explicit TestSink(const QString& name);
    ~TestSink();
    TestSink(const TestSink&) = delete;
    TestSink& operator=(const TestSink&) = delete;

    // Loaded, kept busy, and no longer far ahead.
    bool isReady() const { return m_ready; }

private:
    LoadedModule m_module;
    std::unique_ptr<TestPlayer> m_keeper;
    bool m_ready = false;
};

// A sound server of this run's kind that only one test uses, so that it can stop it.
class PrivateServer {
public:
    PrivateServer();
    ~PrivateServer();
    PrivateServer(const PrivateServer&) = delete;
    PrivateServer& operator=(const PrivateServer&) = delete;

    bool started() const { return m_started; }
    // The value of PULSE_SERVER that reaches it.
    QByteArray address() const;
    void stop();

private:
    QTemporaryDir m_folder{QStringLiteral("/tmp/kivo-server-XXXXXX")};
    bool m_started = false;
};

// Points PULSE_SERVER at another server while it lives; new connections go there.
class ScopedPulseServer {
public:
    explicit ScopedPulseServer(const QByteArray& address);
    ~ScopedPulseServer();
    ScopedPulseServer(const ScopedPulseServer&) = delete;
    ScopedPulseServer& operator=(const ScopedPulseServer&) = delete;

private:
    QByteArray m_previous;
};

// Waits until the server names `sinkName` as its default output (PipeWire applies it a moment
// later).
bool waitForDefaultSink(const QString& sinkName, int timeoutMs = 5000);

// Polls until `condition` holds or `timeoutMs` passes; spins the event loop meanwhile.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs);

// The index of the named source on the test server, or empty.
std::optional<quint32> sourceIndex(const QString& name);

} // namespace kivo::test
