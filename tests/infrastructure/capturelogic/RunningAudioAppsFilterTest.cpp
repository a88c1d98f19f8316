#include "TestMain.h"

#include "infrastructure/capture/PulseConnection.h"
#include "infrastructure/capture/RunningAudioApps.h"

#include <QTest>

using namespace kivo;

Q_DECLARE_METATYPE(std::vector<PulseClientInfo>)
Q_DECLARE_METATYPE(std::vector<RunningAudioApp>)

namespace {

constexpr qint32 kSelf = 500;

PulseClientInfo client(std::optional<qint32> pid, const QString& name, const QString& binary,
                       std::optional<qint32> connection = std::nullopt,
                       const QString& api = QString()) {
    PulseClientInfo info;
    info.processID = pid;
    info.applicationName = name;
    info.processBinary = binary;
    info.connectionProcessID = connection;
    info.clientAPI = api;
    return info;
}

RunningAudioApp app(qint32 pid, const QString& name, std::optional<QString> binary) {
    return {pid, name, std::move(binary)};
}

const QString kPulse = QStringLiteral("pipewire-pulse");

} // namespace

// Which of the server's clients are offered as applications to record.
class RunningAudioAppsFilterTest : public QObject {
    Q_OBJECT

private slots:
    void listsClientsThatNameTheirProcess_data() {
        QTest::addColumn<std::vector<PulseClientInfo>>("clients");
        QTest::addColumn<std::vector<RunningAudioApp>>("expected");

        QTest::newRow("an application")
            << std::vector{client(10, QStringLiteral("Firefox"), QStringLiteral("firefox"))}
            << std::vector{app(10, QStringLiteral("Firefox"), QStringLiteral("firefox"))};
        QTest::newRow("no application name is App")
            << std::vector{client(10, QString(), QStringLiteral("mpv"))}
            << std::vector{app(10, QStringLiteral("App"), QStringLiteral("mpv"))};
        QTest::newRow("no binary, no bundle id")
            << std::vector{client(10, QStringLiteral("Game"), QString())}
            << std::vector{app(10, QStringLiteral("Game"), std::nullopt)};
        QTest::newRow("without a process id it is left out")
            << std::vector{client(std::nullopt, QStringLiteral("module"), QString())}
            << std::vector<RunningAudioApp>{};
        QTest::newRow("this program is left out")
            << std::vector{client(kSelf, QStringLiteral("Kivo"), QStringLiteral("kivo")),
                           client(11, QStringLiteral("Meet"), QStringLiteral("chrome"))}
            << std::vector{app(11, QStringLiteral("Meet"), QStringLiteral("chrome"))};
        QTest::newRow("the server and its session manager are left out")
            << std::vector{client(20, QStringLiteral("pipewire"), QStringLiteral("pipewire")),
                           client(21, QStringLiteral("WirePlumber"), QStringLiteral("wireplumber")),
                           client(12, QStringLiteral("Player"), QStringLiteral("player"), 20,
                                  kPulse)}
            << std::vector{app(12, QStringLiteral("Player"), QStringLiteral("player"))};
        QTest::newRow("the pulse server's process is left out whatever its binary")
            << std::vector{client(30, QStringLiteral("server"), QStringLiteral("renamed")),
                           client(13, QStringLiteral("Zoom"), QStringLiteral("zoom"), 30, kPulse)}
            << std::vector{app(13, QStringLiteral("Zoom"), QStringLiteral("zoom"))};
        QTest::newRow("one entry per process, named by the first client that names it")
            << std::vector{client(14, QString(), QStringLiteral("chromium")),
                           client(15, QStringLiteral("Other"), QStringLiteral("other")),
                           client(14, QStringLiteral("Chromium"), QStringLiteral("chromium")),
                           client(14, QStringLiteral("Chromium input"), QStringLiteral("chromium"))}
            << std::vector{app(14, QStringLiteral("Chromium"), QStringLiteral("chromium")),
                           app(15, QStringLiteral("Other"), QStringLiteral("other"))};
        QTest::newRow("the server's order is kept")
            << std::vector{client(3, QStringLiteral("b"), QString()),
                           client(1, QStringLiteral("A"), QString()),
                           client(2, QStringLiteral("a10"), QString())}
            << std::vector{app(3, QStringLiteral("b"), std::nullopt),
                           app(1, QStringLiteral("A"), std::nullopt),
                           app(2, QStringLiteral("a10"), std::nullopt)};
    }

    void listsClientsThatNameTheirProcess() {
        QFETCH(std::vector<PulseClientInfo>, clients);
        QFETCH(std::vector<RunningAudioApp>, expected);
        QCOMPARE(RunningAudioApps::fromClients(clients, kSelf), expected);
    }
};

KIVO_TEST_CLASS(RunningAudioAppsFilterTest)
#include "RunningAudioAppsFilterTest.moc"
