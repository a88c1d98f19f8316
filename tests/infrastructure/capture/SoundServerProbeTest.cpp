#include "CaptureTestSupport.h"
#include "TestMain.h"

#include "infrastructure/capture/SoundServerProbe.h"

#include <QTest>

using namespace kivo;

// The settings page's question "is the sound server there", asked of the test server, of a
// socket path with no server and of a port nobody listens on.
class SoundServerProbeTest : public QObject {
    Q_OBJECT

private slots:
    void tellsWhetherTheServerAnswers_data() {
        QTest::addColumn<QByteArray>("address"); // empty: the test server
        QTest::addColumn<SoundServerReach>("expected");
        QTest::newRow("the test server") << QByteArray() << SoundServerReach::connected;
        QTest::newRow("nobody on the port")
            << QByteArray("tcp:127.0.0.1:1") << SoundServerReach::unreachable;
        QTest::newRow("no server on the socket")
            << QByteArray("unix:/tmp/kivo-no-server/native") << SoundServerReach::unreachable;
    }

    void tellsWhetherTheServerAnswers() {
        QFETCH(QByteArray, address);
        QFETCH(SoundServerReach, expected);
        KIVO_REQUIRE_SOUND_SERVER();
        const test::ScopedPulseServer server(address.isEmpty() ? qgetenv("PULSE_SERVER") : address);
        QCOMPARE(probeSoundServer(), expected);
    }
};

KIVO_TEST_CLASS(SoundServerProbeTest)
#include "SoundServerProbeTest.moc"
