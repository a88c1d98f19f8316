#include "TestMain.h"

#include "infrastructure/capture/ClockFollower.h"

#include <QTest>

#include <cmath>
#include <numbers>
#include <random>

using namespace kivo;

// A device whose clock runs apart from the monotonic clock, reporting once a second when its
// frames were captured: the stamps follow the reports, and the audio comes out whole and in
// time.
class ClockFollowerTest : public QObject {
    Q_OBJECT

private slots:
    void followsADeviceClockWithoutBreakingTheAudio_data() {
        QTest::addColumn<double>("ppm");
        QTest::addColumn<double>("jitter");     // seconds, either way, on each report
        QTest::addColumn<double>("largestOff"); // seconds, once settled
        QTest::newRow("116 ppm fast") << 116.0 << 0.0 << 0.0002;
        QTest::newRow("300 ppm slow") << -300.0 << 0.0 << 0.0002;
        QTest::newRow("116 ppm fast, reports off by up to 4 ms") << 116.0 << 0.004 << 0.0015;
    }
    void followsADeviceClockWithoutBreakingTheAudio() {
        QFETCH(double, ppm);
        QFETCH(double, jitter);
        QFETCH(double, largestOff);
        constexpr double kStart = 1000.0;
        constexpr double kHz = 100.0;
        constexpr qint64 kFragment = 960;
        constexpr int kSeconds = 180;
        // Frames the device captures per second of the monotonic clock.
        const double deviceRate = 48000.0 * (1.0 + ppm * 1e-6);
        const auto truth = [&](double time) {
            return 0.3 * std::sin(2.0 * std::numbers::pi * kHz * (time - kStart));
        };
        std::mt19937 random(3);
        std::uniform_real_distribution<double> off(-jitter, jitter);

        ClockFollower follower;
        follower.restart(kStart);
        double next = kStart;
        bool contiguous = true;
        double largestLateError = 0.0;
        std::vector<float> fragment(kFragment * 2);
        qint64 captured = 0;
        const auto take = [&](const float* interleaved, qint64 frames, double time) {
            contiguous = contiguous && std::abs(time - next) < 1e-9;
            next = time + static_cast<double>(frames) / 48000.0;
            for (qint64 i = 0; i < frames; ++i) {
                const double at = time + static_cast<double>(i) / 48000.0;
                // The sample stamped `at` holds what the device heard at `at`.
                if (at > kStart + kSeconds - 60) {
                    largestLateError = std::max<double>(largestLateError,
                                                        std::abs(interleaved[2 * i] - truth(at)));
                }
            }
        };
        for (int block = 0; block < kSeconds * 50; ++block) {
            for (qint64 i = 0; i < kFragment; ++i) {
                const auto value = static_cast<float>(
                    truth(kStart + static_cast<double>(captured + i) / deviceRate));
                fragment[static_cast<std::size_t>(2 * i)] = value;
                fragment[static_cast<std::size_t>(2 * i + 1)] = value;
            }
            follower.push(fragment.data(), kFragment, take);
            captured += kFragment;
            if (block % 50 == 49) {
                const double capturedAt = kStart + static_cast<double>(captured) / deviceRate;
                follower.steer(capturedAt + off(random) - follower.nextInputTime(), capturedAt);
            }
        }
        // A fast device gives fewer frames out than in.
        QCOMPARE_LT(std::abs(follower.correction() + ppm * 1e-6), jitter > 0 ? 400e-6 : 30e-6);
        follower.flush(take);

        QVERIFY(contiguous);
        QCOMPARE_LT(std::abs(kStart + static_cast<double>(captured) / deviceRate -
                             follower.nextInputTime()),
                    0.002);
        // In time once settled: the tone `largestOff` late is off by about 0.3 · 2π · f · that.
        QCOMPARE_LT(largestLateError, 0.3 * 2.0 * std::numbers::pi * kHz * largestOff);
    }
};

KIVO_TEST_CLASS(ClockFollowerTest)
#include "ClockFollowerTest.moc"
