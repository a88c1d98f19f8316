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
        // Frames after the event's first frame where the first jump falls; -1: anywhere.
        QTest::addColumn<int>("breakAt");
        QTest::newRow("steady") << u"none"_qs << 0 << 0 << -1;
        QTest::newRow("a hole of 100 ms") << u"hole"_qs << 1 << 10 << 0;
        QTest::newRow("a stall of 1 s, as a paused application's stream")
            << u"stall"_qs << 1 << 10 << 0;
        QTest::newRow("one report 80 ms off") << u"one report off"_qs << 0 << 0 << -1;
        QTest::newRow("two reports in five late by up to 8 ms") << u"late"_qs << 0 << 0 << -1;
        // The first anchor 1.5 ms late: the stamps move to the true one without a break.
        QTest::newRow("the first report 6 ms early, the next two 1.5 ms late")
            << u"first reports off"_qs << 0 << 0 << -1;
        // The first anchor a cycle late: measured again at the first check, not shifted for 20 s.
        QTest::newRow("the first three reports 21 ms late")
            << u"first reports late"_qs << 1 << 0 << -1;
        // Frames lost without a hole, which the fragments' arrivals and then the reports tell: the
        // gap goes where they went missing.
        QTest::newRow("11 ms lost") << u"lost 512"_qs << 1 << 3 << 0;
        QTest::newRow("21 ms lost") << u"lost 1024"_qs << 1 << 3 << 0;
        // After a stalled graph the fragment with the last frames before the loss comes a cycle
        // late, with the first after it: the gap goes that far into the fragment.
        QTest::newRow("21 ms lost 512 frames into a fragment a cycle late")
            << u"stalled 1024"_qs << 1 << 3 << 512;
        // In silence the gap is not heard.
        QTest::newRow("21 ms lost, a silence 10 ms after") << u"quiet 1024"_qs << 1 << 3 << 480;
        // Lost as the server's latency fell by as much, so that only the next check tells: a few
        // milliseconds are shifted out within seconds, without a break; a cycle is measured again.
        QTest::newRow("11 ms lost, the arrivals as before") << u"hidden 512"_qs << 0 << 170 << -1;
        QTest::newRow("21 ms lost, the arrivals as before") << u"hidden 1024"_qs << 1 << 70 << -1;
        // Late arrivals that lose nothing: a late wake-up (with late reports), a longer cycle.
        QTest::newRow("a fragment 25 ms late, its reports too")
            << u"late wake-up"_qs << 0 << 3 << -1;
        QTest::newRow("two fragments 11 ms late, their reports too")
            << u"late wake-ups"_qs << 0 << 3 << -1;
        QTest::newRow("the fragments 16 ms later from halfway")
            << u"longer cycle"_qs << 0 << 52 << -1;
        // Reports about a held fragment do not put off the checks that follow the device's clock.
        QTest::newRow("300 ppm fast, a fragment 25 ms late every second")
            << u"drift"_qs << 0 << 0 << -1;
        QTest::newRow("suspended and resumed, the clock unchanged")
            << u"restart"_qs << 0 << 10 << -1;
    }
    void stampsFollowTheCaptureThroughDiscontinuities() {
        QFETCH(QString, event);
        QFETCH(int, breaks);
        QFETCH(int, settled);
        QFETCH(int, breakAt);
        // Frames lost without a hole: only the arrivals and the reports tell.
        const Frames lost = event.contains(u' ') && event.back().isDigit()
                                ? event.section(u' ', 1).toLongLong()
                                : 0;
        constexpr Frames kFragment = 960;
        constexpr int kFragments = 1000; // 20 s
        std::vector<std::pair<Frames, HostSeconds>> out;
        StreamClock clock([&](const AudioFragment& f) { out.emplace_back(f.frames, f.time); },
                          false);
        double offset = 0.0;      // of the capture from the count, seconds: what events add
        double arrival = 0.005;   // of a fragment after its last frame's capture
        double reportError = 0.0; // how far the reports are off
        const double rate = event == u"drift" ? 1.0 + 300e-6 : 1.0; // the device's, against ours
        const auto captured = [&](Frames frame) {
            return 100.0 + secondsOf(frame) / rate + offset;
        };
        const std::vector<float> sound(kFragment * 2, 0.25F);
        auto quiet = sound; // silent from 10 ms on
        std::fill(quiet.begin() + kFragment, quiet.end(), 0.0F);
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
                } else if (event == u"longer cycle") {
                    arrival += 0.016;
                } else {
                    offset += secondsOf(lost);
                    if (event.startsWith(u"hidden")) {
                        arrival -= secondsOf(lost);
                    }
                }
            }
            if (event == u"first reports off") {
                reportError = i == 0 ? 0.006 : i < 3 ? -0.0015 : 0.0;
            } else if (event == u"first reports late") {
                reportError = i < 3 ? -0.021 : 0.0;
            } else if (event == u"late wake-up") {
                reportError = i >= kFragments / 2 && i < kFragments / 2 + 3 ? -0.025 : 0.0;
            } else if (event == u"late wake-ups") {
                reportError = i >= kFragments / 2 && i < kFragments / 2 + 2 ? -0.011 : 0.0;
            }
            if (event == u"late") {
                // A late report gives too short a latency.
                reportError = i % 5 < 2 ? -((i * 7) % 9) * 0.001 : 0.0;
            }
            const Frames end = clock.framesTaken() + kFragment;
            const bool wokeLate = (event == u"late wake-up" && i == kFragments / 2) ||
                                  (event == u"drift" && i % 50 == 25);
            const bool wokeLater =
                event == u"late wake-ups" && i >= kFragments / 2 && i < kFragments / 2 + 2;
            const bool cycleLate = event.startsWith(u"stalled") && i == kFragments / 2;
            const HostSeconds now = captured(end) + arrival + (wokeLate ? 0.025 : 0.0) +
                                    (wokeLater ? 0.011 : 0.0) + (cycleLate ? secondsOf(512) : 0.0);
            const bool isQuiet = event.startsWith(u"quiet") && i == kFragments / 2;
            if (clock.take((isQuiet ? quiet : sound).data(), kFragment, now)) {
                const Frames taken = clock.framesTaken();
                // Another report at once when the clock asks for it.
                for (int asked = 0; asked < 2; ++asked) {
                    if (!clock.report(now - captured(taken) + reportError, std::nullopt, now)) {
                        break;
                    }
                }
                if (event == u"one report off") {
                    reportError = 0.0;
                }
            }
            if (const auto until = clock.capturedUntil();
                until && (i < kFragments / 2 || i >= kFragments / 2 + settled) && i > 90) {
                // Taken from reports late by up to 8 ms, the stamps are a millisecond or two late;
                // a fast device is followed within a couple of milliseconds.
                const double allowed = event == u"late" || event == u"drift" ? 0.0025 : 0.001;
                QVERIFY2(std::abs(*until - captured(clock.framesTaken())) < allowed,
                         qPrintable(u"fragment %1: %2 s off"_qs.arg(i).arg(
                             *until - captured(clock.framesTaken()))));
            }
        }
        clock.handOnHeldBack(captured(clock.framesTaken()) + arrival);

        Frames handedOn = 0;
        int jumps = 0;
        for (std::size_t i = 1; i < out.size(); ++i) {
            handedOn += out[i - 1].first;
            if (std::abs(out[i].second - (out[i - 1].second + secondsOf(out[i - 1].first))) >
                0.0005) {
                // Within 10 ms of where the event happened, a gap makes one hole with it.
                QVERIFY2(breakAt < 0 || jumps > 0 ||
                             std::abs(handedOn - kFragments / 2 * kFragment - breakAt) < 48,
                         qPrintable(u"a jump after %1 frames"_qs.arg(handedOn)));
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
