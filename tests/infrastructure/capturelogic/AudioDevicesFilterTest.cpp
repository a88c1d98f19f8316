#include "TestMain.h"

#include "infrastructure/capture/AudioDevices.h"
#include "infrastructure/capture/PulseConnection.h"
#include "infrastructure/capture/RunningAudioApps.h"

#include <QTest>

using namespace kivo;

namespace {

constexpr qint32 kSelf = 500;

// "pid,name,binary[,connection pid,api]" each; an empty pid is none.
std::vector<PulseClientInfo> clientInfos(const QStringList& specs) {
    std::vector<PulseClientInfo> result;
    for (const QString& spec : specs) {
        const QStringList f = spec.split(u',');
        PulseClientInfo info;
        if (!f[0].isEmpty()) {
            info.processID = f[0].toInt();
        }
        info.applicationName = f[1];
        info.processBinary = f[2];
        if (f.size() > 3) {
            info.connectionProcessID = f[3].toInt();
            info.clientAPI = f[4];
        }
        result.push_back(info);
    }
    return result;
}

} // namespace

// Which of the server's sources are offered as microphones, and which of its clients as
// applications to record.
class AudioDevicesFilterTest : public QObject {
    Q_OBJECT

private slots:
    // Sources "index,description[,monitor][,no channels]"; devices "index,name".
    void listsInputsThatCanBeRecorded_data() {
        QTest::addColumn<QStringList>("sources");
        QTest::addColumn<QStringList>("expected");
        const auto row = [](const char* name, const char* sources, const char* expected) {
            QTest::newRow(name) << QString::fromLatin1(sources).split(u';')
                                << QString::fromLatin1(expected).split(u';', Qt::SkipEmptyParts);
        };
        row("only monitors of outputs", "0,Monitor of Speakers,monitor", "");
        row("a microphone among monitors", "0,Monitor of Speakers,monitor;3,USB Mic", "3,USB Mic");
        row("no readable name", "1,;2,Headset", "2,Headset");
        row("no channels", "1,Broken,no channels", "");
        row("equal names, different ids, the server's order", "7,Mic;4,Mic", "7,Mic;4,Mic");
    }
    void listsInputsThatCanBeRecorded() {
        QFETCH(QStringList, sources);
        std::vector<PulseSourceInfo> infos;
        for (const QString& source : sources) {
            PulseSourceInfo info;
            info.index = source.section(u',', 0, 0).toUInt();
            info.name = QStringLiteral("source%1").arg(info.index);
            info.description = source.section(u',', 1, 1);
            info.isMonitor = source.endsWith(u",monitor");
            info.sampleRate = 48000;
            info.channels = source.endsWith(u",no channels") ? 0 : 2;
            infos.push_back(info);
        }
        QStringList devices;
        for (const AudioInputDevice& device : AudioDevices::fromSources(infos)) {
            devices << QStringLiteral("%1,%2").arg(device.id).arg(device.name);
        }
        QTEST(devices, "expected");
    }

    void listsClientsThatNameTheirProcess_data() {
        QTest::addColumn<QStringList>("clients");
        QTest::addColumn<QStringList>("expected"); // "pid,name,binary", binary "-" for none
        const auto row = [](const char* name, const char* specs, const char* expected) {
            QTest::newRow(name) << QString::fromUtf8(specs).split(u';')
                                << QString::fromUtf8(expected).split(u';', Qt::SkipEmptyParts);
        };
        row("an application", "10,Firefox,firefox", "10,Firefox,firefox");
        row("no application name is App", "10,,mpv", "10,App,mpv");
        row("no binary, no bundle id", "10,Game,", "10,Game,-");
        row("without a process id it is left out", ",module,", "");
        row("this program is left out", "500,Kivo,kivo;11,Meet,chrome", "11,Meet,chrome");
        row("the server and its session manager are left out",
            "20,pipewire,pipewire;21,WirePlumber,wireplumber;12,Player,player,20,pipewire-pulse",
            "12,Player,player");
        row("the pulse server's process is left out whatever its binary",
            "30,server,renamed;13,Zoom,zoom,30,pipewire-pulse", "13,Zoom,zoom");
        row("one entry per process, named by the first client that names it",
            "14,,chromium;15,Other,other;14,Chromium,chromium;14,Chromium input,chromium",
            "14,Chromium,chromium;15,Other,other");
        row("the server's order is kept", "3,b,;1,A,;2,a10,", "3,b,-;1,A,-;2,a10,-");
    }
    void listsClientsThatNameTheirProcess() {
        QFETCH(QStringList, clients);
        QStringList apps;
        for (const RunningAudioApp& app :
             RunningAudioApps::fromClients(clientInfos(clients), kSelf)) {
            apps << QStringLiteral("%1,%2,%3")
                        .arg(app.id)
                        .arg(app.name, app.bundleID.value_or(QStringLiteral("-")));
        }
        QTEST(apps, "expected");
    }
};

KIVO_TEST_CLASS(AudioDevicesFilterTest)
#include "AudioDevicesFilterTest.moc"
