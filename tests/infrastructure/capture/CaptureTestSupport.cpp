#include "CaptureTestSupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTest>

namespace kivo::test {
using namespace Qt::StringLiterals;

QString soundServerProblem() {
    if (qEnvironmentVariable("KIVO_TEST_SOUND_SERVER").isEmpty() ||
        qEnvironmentVariable("PULSE_SERVER").isEmpty()) {
        return u"No sound server: run the capture tests under ctest."_s;
    }
    try {
        PulseConnection().serverInfo();
    } catch (const PlatformError& error) {
        return u"The test sound server does not answer: "_s + error.description();
    }
    return {};
}

std::vector<float> CapturedSignal::between(double from, double to) const {
    const auto size = static_cast<qint64>(left.size());
    const auto first = std::clamp<qint64>(std::llround(from * 48000.0), 0, size);
    const auto last = std::clamp<qint64>(std::llround(to * 48000.0), first, size);
    return {left.begin() + first, left.begin() + last};
}

std::optional<double> CapturedSignal::firstAbove(float threshold, double from) const {
    const auto begin =
        left.begin() + std::clamp<qint64>(std::llround(from * 48000.0), 0, qint64(left.size()));
    const auto found =
        std::find_if(begin, left.end(), [&](float v) { return std::abs(v) >= threshold; });
    return found == left.end() ? std::nullopt
                               : std::optional(double(found - left.begin()) / 48000.0);
}

double CapturedSignal::usualAmplitude(double hz, double from, double to) const {
    std::vector<double> tenths;
    for (double at = from; at + 0.1 <= to + 1e-9; at += 0.1) {
        const auto samples = between(at, at + 0.1);
        if (samples.size() < 4800) {
            break;
        }
        tenths.push_back(toneAmplitude(samples, hz));
    }
    if (tenths.empty()) {
        return amplitude(hz, from, to);
    }
    std::ranges::sort(tenths);
    return tenths[tenths.size() / 2];
}

TestPlayer::TestPlayer(const QStringList& streams, const QString& name) {
    m_process.start(QStringLiteral(KIVO_TEST_PLAYER),
                    (name.isEmpty() ? QStringList() : QStringList{u"--name"_s, name}) + streams);
    m_process.waitForStarted(5000);
}

TestPlayer::~TestPlayer() {
    m_process.kill();
    m_process.waitForFinished(5000);
}

bool TestPlayer::waitFor(const QString& line) {
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        m_output += QString::fromUtf8(m_process.readAllStandardOutput());
        if (m_output.split(u'\n').contains(line)) {
            return true;
        }
        if (timer.elapsed() > 10000 ||
            (m_process.state() == QProcess::NotRunning && m_process.bytesAvailable() == 0)) {
            qWarning("test player: %s", m_process.readAllStandardError().constData());
            return false;
        }
        m_process.waitForReadyRead(50);
    }
}

bool pactl(const QStringList& arguments, QString* output) {
    QProcess process;
    process.start(u"pactl"_s, arguments);
    const bool ok = process.waitForFinished(10000) &&
                    process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (!ok) {
        qWarning("pactl %s failed: %s", qPrintable(arguments.join(u' ')),
                 process.readAllStandardError().constData());
    } else if (output != nullptr) {
        *output = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    }
    return ok;
}

// Runs scripts/sound-servers; true when it succeeded.
static bool soundServers(const QStringList& arguments) {
    QProcess script;
    script.setProcessChannelMode(QProcess::ForwardedChannels);
    script.start(QStringLiteral(KIVO_SOUND_SERVERS_SCRIPT), arguments);
    return script.waitForFinished(60000) && script.exitStatus() == QProcess::NormalExit &&
           script.exitCode() == 0;
}

PrivateServer::PrivateServer()
    : m_started(soundServers(
          {u"start"_s, qEnvironmentVariable("KIVO_TEST_SOUND_SERVER"), m_folder.path()})) {}

// The script writes the variables a client needs into the folder's env file.
QByteArray PrivateServer::address() const {
    QFile env(m_folder.filePath(u"env"_s));
    const QByteArray text = env.open(QIODevice::ReadOnly) ? '\n' + env.readAll() : QByteArray();
    const qsizetype at = text.indexOf("\nPULSE_SERVER=");
    return at < 0 ? QByteArray() : text.mid(at + 14, text.indexOf('\n', at + 1) - at - 14);
}

void PrivateServer::stop() {
    if (std::exchange(m_started, false)) {
        soundServers({u"stop"_s, m_folder.path()});
    }
}

// The server's folder is where its socket lives; its "pids" file names each started process.
QList<int> serverProcesses() {
    const auto socket = qEnvironmentVariable("PULSE_SERVER").remove(u"unix:"_s);
    QFile pids(socket.left(socket.lastIndexOf(u"/run/"_s)) + u"/pids"_s);
    QList<int> found;
    for (const auto& line :
         pids.open(QIODevice::ReadOnly) ? pids.readAll().split('\n') : QByteArrayList()) {
        const auto fields = line.split(' ');
        if (fields.size() == 2 && (fields[0] == "pulseaudio" || fields[0].startsWith("pipewire"))) {
            found.append(fields[1].toInt());
        }
    }
    return found;
}

bool waitUntil(const std::function<bool()>& condition, int timeoutMs) {
    return QTest::qWaitFor(condition, timeoutMs);
}

std::optional<quint32> sourceIndex(const QString& name) {
    std::optional<quint32> index;
    waitUntil([&] {
        for (const auto& source : PulseConnection().sources()) {
            if (source.name == name) {
                index = source.index;
            }
        }
        return index.has_value();
    });
    return index;
}

} // namespace kivo::test
