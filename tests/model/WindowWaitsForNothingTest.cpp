#include "CaptureTestSupport.h"
#include "ModelTestSupport.h"
#include "TestMain.h"

#include "infrastructure/capture/SoundServerProbe.h"
#include "ui/LinuxDesktopActions.h"
#include "ui/SettingsPage.h"
#include "ui/StudioPage.h"

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QLabel>
#include <QTest>

#include <csignal>

using namespace kivo;
using namespace kivo::test;
using namespace Qt::StringLiterals;

// The window never waits for the sound server: with the server stopped for two seconds, the
// settings page asks how it answers and the studio's refresh asks for the devices, while a 5 ms
// timer of the main thread keeps ticking.
class WindowWaitsForNothingTest : public QObject {
    Q_OBJECT

private slots:
    void init() { KIVO_REQUIRE_SOUND_SERVER(); }

    void aStoppedServerNeverStallsTheWindow() {
        UserFolders folders;
        auto model = folders.model();
        LinuxDesktopActions desktop([] {
            return probeSoundServer() == SoundServerReach::connected
                       ? SoundServerState::connected
                       : SoundServerState::unreachable;
        });
        StudioPage studio(*model, desktop);
        SettingsPage settings(*model, desktop);
        studio.show();
        QAbstractButton* refresh = nullptr;
        for (auto* button : studio.findChildren<QAbstractButton*>()) {
            refresh = button->accessibleName() == u"重新整理裝置"_s ? button : refresh;
        }
        QVERIFY(refresh && refresh->isVisible());

        const QList<int> server = serverProcesses();
        QVERIFY(!server.isEmpty());
        QElapsedTimer clock;
        qint64 last = 0;
        qint64 longest = 0;
        QTimer tick;
        tick.setInterval(5);
        connect(&tick, &QTimer::timeout, [&] {
            longest = std::max(longest, clock.elapsed() - last);
            last = clock.elapsed();
        });
        for (const int pid : server) {
            ::kill(pid, SIGSTOP);
        }
        clock.start();
        tick.start();
        settings.show();
        QTest::mouseClick(refresh, Qt::LeftButton);
        QTest::qWait(2000);
        tick.stop();
        for (const int pid : server) {
            ::kill(pid, SIGCONT);
        }
        QVERIFY2(longest < 50, qPrintable(u"the main thread stalled for %1 ms"_s.arg(longest)));
        // The stopped server did not answer the settings page in time; shown again, the page
        // asks again and the running server answers.
        const auto says = [&](const QString& text) {
            const QList<QLabel*> labels = settings.findChildren<QLabel*>();
            return std::any_of(labels.begin(), labels.end(),
                               [&](QLabel* label) { return label->text() == text; });
        };
        QTRY_VERIFY(says(u"未連線"_s));
        settings.hide();
        settings.show();
        QTRY_VERIFY_WITH_TIMEOUT(says(u"已連線"_s), 10000);
    }
};

KIVO_TEST_CLASS(WindowWaitsForNothingTest)
#include "WindowWaitsForNothingTest.moc"
