#include "domain/RecordingTimeline.h"

#include "TestMain.h"

#include <QTest>

#include <cmath>
#include <limits>
#include <optional>

using namespace kivo;

class RecordingTimelineTest : public QObject {
    Q_OBJECT

private slots:
    void newTimelineHasNoTimeAndIgnoresPauseAndResume() {
        RecordingTimeline timeline;
        QCOMPARE(timeline.elapsed(0), 0.0);
        QCOMPARE(timeline.elapsed(1e9), 0.0);
        QCOMPARE(timeline.position(5), std::nullopt);
        QVERIFY(!timeline.isPaused());
        timeline.pause(10);
        QVERIFY(!timeline.isPaused());
        timeline.resume(20);
        QCOMPARE(timeline.elapsed(30), 0.0);
        QCOMPARE(timeline.position(30), std::nullopt);
    }

    void pauseLeavesThePausedStretchOut() {
        RecordingTimeline timeline;
        timeline.start(100);
        timeline.pause(110);
        timeline.resume(130);
        QCOMPARE(timeline.elapsed(140), 20.0);
        QCOMPARE(timeline.position(140), std::optional<double>(20.0));
        QCOMPARE(timeline.position(130), std::optional<double>(10.0));
        // Stamped before the latest resume: no position, even when it arrives later.
        QCOMPARE(timeline.position(125), std::nullopt);
        QCOMPARE(timeline.position(105), std::nullopt);
    }

    void whilePausedElapsedStaysAtThePauseMoment() {
        RecordingTimeline timeline;
        timeline.start(100);
        timeline.pause(110);
        QVERIFY(timeline.isPaused());
        QCOMPARE(timeline.elapsed(500), 10.0);
        QCOMPARE(timeline.elapsed(110), 10.0);
        QCOMPARE(timeline.position(105), std::nullopt);
        QCOMPARE(timeline.position(500), std::nullopt);
    }

    void secondPauseDoesNotMoveThePauseStart() {
        RecordingTimeline timeline;
        timeline.start(100);
        timeline.pause(110);
        timeline.pause(120);
        QCOMPARE(timeline.elapsed(200), 10.0);
        timeline.resume(130);
        QCOMPARE(timeline.elapsed(140), 20.0);
    }

    void resumeBeforeThePauseCountsAsNoPause() {
        RecordingTimeline timeline;
        timeline.start(100);
        timeline.pause(110);
        timeline.resume(105);
        QVERIFY(!timeline.isPaused());
        QCOMPARE(timeline.elapsed(120), 20.0);
        QCOMPARE(timeline.position(120), std::optional<double>(20.0));
        QCOMPARE(timeline.position(104), std::nullopt);
    }

    void resumeWithoutPauseChangesNothing() {
        RecordingTimeline timeline;
        timeline.start(100);
        timeline.resume(150);
        QCOMPARE(timeline.elapsed(160), 60.0);
        QCOMPARE(timeline.position(120), std::optional<double>(20.0));
    }

    void elapsedIsClampedButPositionIsAbsentBeforeTheStart() {
        RecordingTimeline timeline;
        timeline.start(100);
        QCOMPARE(timeline.elapsed(90), 0.0);
        QCOMPARE(timeline.position(90), std::nullopt);
        QCOMPARE(timeline.position(100), std::optional<double>(0.0));
    }

    void elapsedOfNotANumberIsZero() {
        RecordingTimeline timeline;
        timeline.start(100);
        QCOMPARE(timeline.elapsed(std::numeric_limits<double>::quiet_NaN()), 0.0);
    }

    void startAgainForgetsThePauseAndThePausedTime() {
        RecordingTimeline timeline;
        timeline.start(100);
        timeline.pause(110);
        timeline.resume(130);
        timeline.pause(140);
        timeline.start(200);
        QVERIFY(!timeline.isPaused());
        QCOMPARE(timeline.elapsed(205), 5.0);
        QCOMPARE(timeline.position(205), std::optional<double>(5.0));
        QCOMPARE(timeline.position(199), std::nullopt);
    }

    void severalPausesAddUp() {
        RecordingTimeline timeline;
        timeline.start(0);
        timeline.pause(1);
        timeline.resume(3);
        timeline.pause(4);
        timeline.resume(10);
        QCOMPARE(timeline.elapsed(12), 4.0);
        QCOMPARE(timeline.position(12), std::optional<double>(4.0));
    }
};

KIVO_TEST_CLASS(RecordingTimelineTest)
#include "RecordingTimelineTest.moc"
