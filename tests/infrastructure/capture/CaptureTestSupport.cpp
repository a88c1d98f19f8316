#include "CaptureTestSupport.h"

#include "infrastructure/capture/PulseConnection.h"
#include "support/SignalAnalysis.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kivo::test {

QString soundServerName() {
    return qEnvironmentVariable("KIVO_TEST_SOUND_SERVER");
}

QString soundServerProblem() {
    if (soundServerName().isEmpty() || qEnvironmentVariable("PULSE_SERVER").isEmpty()) {
        return QStringLiteral(
            "No sound server: the capture tests run under ctest, which starts a private "
            "PulseAudio and PipeWire for them (scripts/sound-servers).");
    }
    try {
        PulseConnection connection;
        connection.serverInfo();
    } catch (const PlatformError& error) {
        return QStringLiteral("The test sound server (%1 at %2) does not answer: %3")
            .arg(soundServerName(), qEnvironmentVariable("PULSE_SERVER"), error.description());
    }
    return {};
}

std::function<void(PcmBuffer, double)> CaptureRecorder::bufferHandler() {
    return [this](PcmBuffer buffer, double hostTime) {
        const std::lock_guard lock(m_lock);
        m_buffers.push_back({std::move(buffer), hostTime});
    };
}

std::function<void(const CaptureFailure&)> CaptureRecorder::failureHandler() {
    return [this](const CaptureFailure& failure) {
        const std::lock_guard lock(m_lock);
        m_failures.push_back(failure);
    };
}

std::vector<CaptureRecorder::Buffer> CaptureRecorder::buffers() const {
    const std::lock_guard lock(m_lock);
    return m_buffers;
}

std::vector<CaptureFailure> CaptureRecorder::failures() const {
    const std::lock_guard lock(m_lock);
    return m_failures;
}

qint64 CaptureRecorder::frames() const {
    const std::lock_guard lock(m_lock);
    qint64 total = 0;
    for (const auto& buffer : m_buffers) {
        total += buffer.buffer.frameLength();
    }
    return total;
}

void CaptureRecorder::clear() {
    const std::lock_guard lock(m_lock);
    m_buffers.clear();
    m_failures.clear();
}

CapturedSignal assemble(const std::vector<CaptureRecorder::Buffer>& buffers) {
    CapturedSignal signal;
    if (buffers.empty()) {
        return signal;
    }
    signal.start = buffers.front().hostTime;
    std::optional<qint64> previousEnd;
    std::optional<double> previousTime;
    for (const auto& [buffer, hostTime] : buffers) {
        if (previousTime && hostTime <= *previousTime) {
            signal.ordered = false;
        }
        previousTime = hostTime;
        const auto start = std::llround((hostTime - signal.start) * kWorkingSampleRate);
        const auto frames = buffer.frameLength();
        if (previousEnd) {
            signal.largestGap = std::max(signal.largestGap, start - *previousEnd);
            signal.largestOverlap = std::max(signal.largestOverlap, *previousEnd - start);
        }
        previousEnd = start + frames;
        if (start < 0) {
            continue;
        }
        const auto needed = static_cast<std::size_t>(start + frames);
        if (signal.left.size() < needed) {
            signal.left.resize(needed, 0.0F);
        }
        const auto left = buffer.channel(0);
        std::copy(left.begin(), left.begin() + frames,
                  signal.left.begin() + static_cast<std::ptrdiff_t>(start));
    }
    return signal;
}

std::vector<float> CapturedSignal::between(double from, double to) const {
    const auto size = static_cast<qint64>(left.size());
    const auto first = std::clamp<qint64>(std::llround(from * kWorkingSampleRate), 0, size);
    const auto last = std::clamp<qint64>(std::llround(to * kWorkingSampleRate), first, size);
    return {left.begin() + static_cast<std::ptrdiff_t>(first),
            left.begin() + static_cast<std::ptrdiff_t>(last)};
}

std::optional<double> CapturedSignal::firstAbove(float threshold, double from) const {
    const auto first = std::max<qint64>(std::llround(from * kWorkingSampleRate), 0);
    for (auto i = static_cast<std::size_t>(first); i < left.size(); ++i) {
        if (std::abs(left[i]) >= threshold) {
            return static_cast<double>(i) / kWorkingSampleRate;
        }
    }
    return std::nullopt;
}

double amplitudeOf(const std::vector<float>& samples, double frequency) {
    return toneAmplitude(std::span<const float>(samples), frequency);
}

TestPlayer::TestPlayer(const QStringList& streams, const QString& name) {
    QStringList arguments;
    if (!name.isEmpty()) {
        arguments << QStringLiteral("--name") << name;
    }
    arguments << streams;
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.start(QStringLiteral(KIVO_TEST_PLAYER), arguments);
    m_process.waitForStarted(5000);
}

TestPlayer::~TestPlayer() {
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

qint32 TestPlayer::pid() const {
    return static_cast<qint32>(m_process.processId());
}

bool TestPlayer::waitPlaying(int number, int timeoutMs) {
    return waitFor(QStringLiteral("playing %1").arg(number), timeoutMs);
}

bool TestPlayer::waitDone(int number, int timeoutMs) {
    return waitFor(QStringLiteral("done %1").arg(number), timeoutMs);
}

QString TestPlayer::errors() {
    return QString::fromUtf8(m_process.readAllStandardError());
}

bool TestPlayer::waitFor(const QString& line, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        m_output += QString::fromUtf8(m_process.readAllStandardOutput());
        if (m_output.split(QLatin1Char('\n')).contains(line)) {
            return true;
        }
        if (timer.elapsed() > timeoutMs ||
            (m_process.state() == QProcess::NotRunning && m_process.bytesAvailable() == 0)) {
            return false;
        }
        m_process.waitForReadyRead(50);
    }
}

QString pactl(const QStringList& arguments, bool* ok) {
    QProcess process;
    process.start(QStringLiteral("pactl"), arguments);
    const auto finished = process.waitForFinished(10000);
    const auto success =
        finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (ok != nullptr) {
        *ok = success;
    }
    if (!success) {
        qWarning("pactl %s failed: %s", qPrintable(arguments.join(QLatin1Char(' '))),
                 process.readAllStandardError().constData());
        return {};
    }
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

LoadedModule::LoadedModule(const QString& name, const QStringList& arguments) {
    bool ok = false;
    const auto index = pactl(QStringList{QStringLiteral("load-module"), name} + arguments, &ok);
    if (ok) {
        m_index = index;
    }
}

LoadedModule::~LoadedModule() {
    unload();
}

void LoadedModule::unload() {
    if (!m_index.isEmpty()) {
        pactl({QStringLiteral("unload-module"), m_index});
        m_index.clear();
    }
}

namespace {

// The sink's current latency in microseconds, as pactl reports it, or -1.
qint64 sinkLatency(const QString& name) {
    bool found = false;
    for (const auto& line :
         pactl({QStringLiteral("list"), QStringLiteral("sinks")}).split(QLatin1Char('\n'))) {
        const auto fields = line.trimmed().split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (fields.size() >= 2 && fields[0] == QLatin1String("Name:")) {
            found = fields[1] == name;
        } else if (found && fields.size() >= 2 && fields[0] == QLatin1String("Latency:")) {
            return fields[1].toLongLong();
        }
    }
    return -1;
}

} // namespace

TestSink::TestSink(const QString& name)
    : m_module(QStringLiteral("module-null-sink"),
               {QStringLiteral("sink_name=") + name, QStringLiteral("format=float32le"),
                QStringLiteral("rate=48000"), QStringLiteral("channels=2")}) {
    if (!m_module.isLoaded()) {
        return;
    }
    m_keeper =
        std::make_unique<TestPlayer>(QStringList{name + QStringLiteral(",tone,0,0,0,forever")},
                                     QStringLiteral("Kivo Test Keeper"));
    m_ready = m_keeper->waitPlaying(0) && waitUntil(
                                              [&] {
                                                  const auto latency = sinkLatency(name);
                                                  return latency >= 0 && latency < 100000;
                                              },
                                              10000);
}

TestSink::~TestSink() {
    m_keeper.reset();
}

bool waitForDefaultSink(const QString& sinkName, int timeoutMs) {
    return waitUntil(
        [&] {
            try {
                PulseConnection connection;
                return connection.serverInfo().defaultSinkName == sinkName;
            } catch (const PlatformError&) {
                return false;
            }
        },
        timeoutMs);
}

bool waitUntil(const std::function<bool()>& condition, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs) {
            return false;
        }
        QTest::qWait(20);
    }
    return true;
}

std::optional<quint32> sourceIndex(const QString& name) {
    PulseConnection connection;
    for (const auto& source : connection.sources()) {
        if (source.name == name) {
            return source.index;
        }
    }
    return std::nullopt;
}

namespace {

bool runSoundServersScript(const QStringList& arguments) {
    QProcess script;
    script.setProcessChannelMode(QProcess::ForwardedChannels);
    script.start(QStringLiteral(KIVO_SOUND_SERVERS_SCRIPT), arguments);
    return script.waitForFinished(60000) && script.exitStatus() == QProcess::NormalExit &&
           script.exitCode() == 0;
}

} // namespace

PrivateServer::PrivateServer() {
    m_started =
        runSoundServersScript({QStringLiteral("start"), soundServerName(), m_folder.path()});
}

PrivateServer::~PrivateServer() {
    stop();
}

QByteArray PrivateServer::address() const {
    // The script writes the variables a client needs into the folder's env file.
    QFile env(m_folder.filePath(QStringLiteral("env")));
    if (env.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : env.readAll().split('\n')) {
            if (line.startsWith("PULSE_SERVER=")) {
                return line.mid(static_cast<qsizetype>(std::strlen("PULSE_SERVER=")));
            }
        }
    }
    return {};
}

void PrivateServer::stop() {
    if (m_started) {
        runSoundServersScript({QStringLiteral("stop"), m_folder.path()});
        m_started = false;
    }
}

ScopedPulseServer::ScopedPulseServer(const QByteArray& address)
    : m_previous(qgetenv("PULSE_SERVER")) {
    qputenv("PULSE_SERVER", address);
}

ScopedPulseServer::~ScopedPulseServer() {
    qputenv("PULSE_SERVER", m_previous);
}

RemappedSource::RemappedSource(const QString& name, const QString& master)
    : m_module(QStringLiteral("module-remap-source"),
               {QStringLiteral("source_name=") + name, QStringLiteral("master=") + master}) {
    if (m_module.isLoaded()) {
        waitUntil([&] { return (m_index = sourceIndex(name)).has_value(); }, 5000);
    }
}

} // namespace kivo::test
