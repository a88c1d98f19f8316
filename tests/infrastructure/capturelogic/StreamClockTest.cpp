#include "TestMain.h"

#include "infrastructure/capture/StreamClock.h"

#include <QTest>

#include <cmath>
#include <vector>

using namespace kivo;

// A made-up stream: fragments of 20 ms arriving 5 ms after their last frame was captured, a
// latency report whenever the clock asks for one (true to the frame unless a row shifts it), and
// one event halfway. The clock's stamps must stay whole where nothing happened, follow the
// truth after the event, and hand on every frame.
class StreamClockTest : public QObject {
    Q_OBJECT

private slots:
    void stampsFollowTheCaptureThroughDiscontinuities_data() {
        QTest::addColumn<QString>("event");
        QTest::addColumn<int>("breaks");  // where the stamps may jump: a new anchor
        QTest::addColumn<int>("settled"); // fragments after the event, from when stamps are true
        QTest::newRow("steady") << u"none"_qs << 0 << 0;
        QTest::newRow("a hole of 100 ms") << u"hole"_qs << 1 << 10;
        QTest::newRow("a stall of 1 s, as a paused application's stream") << u"stall"_qs << 1 << 10;
        QTest::newRow("one report 80 ms off") << u"one report off"_qs << 0 << 0;
        QTest::newRow("two reports in five late by up to 8 ms") << u"late"_qs << 0 << 0;
        // The first anchor 1.5 ms late: the stamps move to the true one without a break.
        QTest::newRow("the first report 6 ms early, the next two 1.5 ms late")
            << u"first reports off"_qs << 0 << 0;
        // The first anchor a cycle late: measured again at the first check, not shifted for 20 s.
        QTest::newRow("the first three reports 21 ms late") << u"first reports late"_qs << 1 << 0;
        // Frames lost without a hole: the next check tells them from the reports. A few
        // milliseconds are shifted out within seconds, without a break; a whole PipeWire cycle
        // is measured again.
        QTest::newRow("the count 11 ms off, the reports right") << u"lost 512"_qs << 0 << 170;
        QTest::newRow("the count 21 ms off") << u"lost 1024"_qs << 1 << 70;
        QTest::newRow("suspended and resumed, the clock unchanged") << u"restart"_qs << 0 << 10;
    }
    void stampsFollowTheCaptureThroughDiscontinuities() {
        QFETCH(QString, event);
        QFETCH(int, breaks);
        QFETCH(int, settled);
        // Frames lost without a hole: only the reports tell.
        const Frames lost = event.startsWith(u"lost ") ? event.mid(5).toLongLong() : 0;
        constexpr Frames kFragment = 960;
        constexpr int kFragments = 1000; // 20 s
        std::vector<std::pair<Frames, HostSeconds>> out;
        StreamClock clock([&](const AudioFragment& f) { out.emplace_back(f.frames, f.time); },
                          false);
        double offset = 0.0;      // of the capture from the count, seconds: what events add
        double reportError = 0.0; // how far the reports are off
        const auto captured = [&](Frames frame) { return 100.0 + secondsOf(frame) + offset; };
        const std::vector<float> silence(kFragment * 2);
        for (int i = 0; i < kFragments; ++i) {
            if (i == kFragments / 2) {
                if (event == u"hole") {
                    clock.skip(4800);
                } else if (event == u"stall") {
                    offset += 1.0;
                } else if (event == u"restart") {
                    clock.restart();
                } else if (event == u"one report off") {
                    reportError = 0.08;
                } else {
                    offset += secondsOf(lost);
                }
            }
            if (event == u"first reports off") {
                reportError = i == 0 ? 0.006 : i < 3 ? -0.0015 : 0.0;
            } else if (event == u"first reports late") {
                reportError = i < 3 ? -0.021 : 0.0;
            }
            if (event == u"late") {
                // A late report gives too short a latency.
                reportError = i % 5 < 2 ? -((i * 7) % 9) * 0.001 : 0.0;
            }
            const Frames end = clock.framesTaken() + kFragment;
            const HostSeconds now = captured(end) + 0.005;
            if (clock.take(silence.data(), kFragment, now)) {
                const Frames taken = clock.framesTaken();
                clock.report(now - captured(taken) + reportError, std::nullopt, now);
                if (event == u"one report off") {
                    reportError = 0.0;
                }
            }
            if (const auto until = clock.capturedUntil();
                until && (i < kFragments / 2 || i >= kFragments / 2 + settled) && i > 90) {
                // Taken from reports late by up to 8 ms, the stamps are a millisecond or two late.
                const double allowed = event == u"late" ? 0.0025 : 0.001;
                QVERIFY2(std::abs(*until - captured(clock.framesTaken())) < allowed,
                         qPrintable(u"fragment %1: %2 s off"_qs.arg(i).arg(
                             *until - captured(clock.framesTaken()))));
            }
        }
        clock.handOnHeldBack(captured(clock.framesTaken()) + 0.005);

        Frames handedOn = 0;
        int jumps = 0;
        for (std::size_t i = 1; i < out.size(); ++i) {
            handedOn += out[i - 1].first;
            if (std::abs(out[i].second - (out[i - 1].second + secondsOf(out[i - 1].first))) >
                0.0005) {
                ++jumps;
            }
        }
        handedOn += out.back().first;
        QCOMPARE(jumps, breaks);
        // Every frame, give or take what the follower's resampling adds or takes (at most 0.1 %),
        // and what a shift adds.
        const Frames taken = clock.framesTaken() - (event == u"hole" ? 4800 : 0);
        const Frames shifted = breaks == 0 ? lost : 0;
        QCOMPARE_LE(std::abs(handedOn - taken - shifted), taken / 1000);
    }

    // The audio goes on from the third report, and a stop right after the start keeps it all,
    // stamped with the reports so far.
    void aStopRightAfterTheStartKeepsTheAudio() {
        std::vector<std::pair<Frames, HostSeconds>> out;
        StreamClock clock([&](const AudioFragment& f) { out.emplace_back(f.frames, f.time); },
                          false);
        const std::vector<float> silence(960 * 2);
        for (int i = 1; i <= 4; ++i) {
            const HostSeconds now = 50.0 + 0.02 * i + 0.005;
            QVERIFY(clock.take(silence.data(), 960, now));
            clock.report(0.005, std::nullopt, now);
            QCOMPARE(clock.isAnchored(), i >= 3);
        }
        clock.handOnHeldBack(50.09);
        Frames frames = 0;
        for (const auto& [count, at] : out) {
            frames += count;
        }
        QCOMPARE(frames, 3840);
        QCOMPARE_LT(std::abs(out.front().second - 50.0), 0.001);
    }
};

KIVO_TEST_CLASS(StreamClockTest)
#include "StreamClockTest.moc"
