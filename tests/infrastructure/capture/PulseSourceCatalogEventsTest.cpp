#include "CaptureTestSupport.h"
#include "TestMain.h"

#include "infrastructure/system/PulseSourceCatalog.h"

#include <QTest>

#include <algorithm>
#include <array>
#include <memory>

using namespace kivo;
using namespace Qt::StringLiterals;
using test::TestPlayer;

// Programs quitting, as the sound server reports them to the source catalog.
class PulseSourceCatalogEventsTest : public QObject {
    Q_OBJECT

private slots:
    void init() { KIVO_REQUIRE_SOUND_SERVER(); }

    void programsQuittingTogetherAreReportedOnceAfterTheyLeft() {
        PulseSourceCatalog catalog;
        const auto listed = [&](qint32 pid) {
            const auto apps = catalog.applications();
            return std::any_of(apps.begin(), apps.end(),
                               [&](const auto& app) { return app.id == pid; });
        };
        auto first = std::make_unique<TestPlayer>(QStringList{u"default,tone,440,0.1,0,forever"_s});
        auto second =
            std::make_unique<TestPlayer>(QStringList{u"default,tone,440,0.1,0,forever"_s});
        QVERIFY(first->waitPlaying(0));
        QVERIFY(second->waitPlaying(0));
        const std::array pids{first->pid(), second->pid()};
        QVERIFY(test::waitUntil([&] { return listed(pids[0]) && listed(pids[1]); }, 5000));
        // Listing does not count as a program quitting; neither does anything before the test.
        QTest::qWait(2 * static_cast<int>(PulseSourceCatalog::kCoalesceDelay.count()));

        int reports = 0;
        bool stillListed = false;
        catalog.onClientRemoved = [&] {
            ++reports;
            for (const auto pid : pids) {
                stillListed = stillListed || listed(pid);
            }
        };
        first.reset();
        second.reset();
        QTRY_COMPARE(reports, 1);
        QTest::qWait(2 * static_cast<int>(PulseSourceCatalog::kCoalesceDelay.count()));
        QCOMPARE(reports, 1);
        QVERIFY(!stillListed);
    }
};

KIVO_TEST_CLASS(PulseSourceCatalogEventsTest)
#include "PulseSourceCatalogEventsTest.moc"
