#include "domain/RecordingTimeline.h"

#include "TestMain.h"

#include <QTest>

#include <limits>
#include <optional>

using namespace kivo;

class RecordingTimelineTest : public QObject {
    Q_OBJECT

private slots:
    // `events`: s (start), p (pause), r (resume) at a time. `checks`: eT=V elapsed at T,
    // qT=V position of a moment stamped T ("-": none), "paused" or "running".
    void elapsedAndPositions_data() {
        QTest::addColumn<QString>("events");
        QTest::addColumn<QString>("checks");
        const auto row = [](const char* name, const char* events, const char* checks) {
            QTest::newRow(name) << QString::fromLatin1(events) << QString::fromLatin1(checks);
        };
        row("not started: no time, pause and resume ignored", "p10 r20",
            "e0=0 e1e9=0 q5=- q30=- running");
        row("a pause is left out", "s100 p110 r130", "e140=20 q140=20 q130=10 running");
        row("moments stamped before the latest resume have no position", "s100 p110 r130",
            "q125=- q105=-");
        row("while paused, elapsed stays at the pause", "s100 p110",
            "paused e500=10 e110=10 q105=- q500=-");
        row("a second pause does not move the pause start", "s100 p110 p120 r130", "e140=20");
        row("a resume before the pause counts as no pause", "s100 p110 r105",
            "running e120=20 q120=20 q104=-");
        row("a resume without a pause changes nothing", "s100 r150", "e160=60 q120=20");
        row("before the start: elapsed clamped, no position", "s100", "e90=0 q90=- q100=0 enan=0");
        row("a new start forgets pauses", "s100 p110 r130 p140 s200",
            "running e205=5 q205=5 q199=-");
        row("several pauses add up", "s0 p1 r3 p4 r10", "e12=4 q12=4");
    }
    void elapsedAndPositions() {
        QFETCH(QString, events);
        QFETCH(QString, checks);
        RecordingTimeline timeline;
        for (const QString& event : events.split(u' ')) {
            const double at = event.mid(1).toDouble();
            event[0] == u's' ? timeline.start(at)
                             : (event[0] == u'p' ? timeline.pause(at) : timeline.resume(at));
        }
        for (const QString& check : checks.split(u' ')) {
            if (check == u"paused" || check == u"running") {
                QCOMPARE(timeline.isPaused(), check == u"paused");
                continue;
            }
            const QStringList parts = check.mid(1).split(u'=');
            const double at =
                parts[0] == u"nan" ? std::numeric_limits<double>::quiet_NaN() : parts[0].toDouble();
            if (check[0] == u'e') {
                QCOMPARE(timeline.elapsed(at), parts[1].toDouble());
            } else {
                QCOMPARE(timeline.position(at),
                         parts[1] == u"-" ? std::nullopt : std::optional(parts[1].toDouble()));
            }
        }
    }
};

KIVO_TEST_CLASS(RecordingTimelineTest)
#include "RecordingTimelineTest.moc"
