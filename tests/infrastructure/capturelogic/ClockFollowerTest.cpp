#include "TestMain.h"

#include "infrastructure/capture/ClockFollower.h"
#include "infrastructure/capture/FractionalResampler.h"

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
        QTest::addColumn<double>("jitter");     // seconds, at most, that a report is late
        QTest::addColumn<double>("largestOff"); // seconds, once settled
        QTest::addColumn<double>("toneHz");
        QTest::addColumn<double>("shifted"); // seconds the first stamp is early, then shifted
        QTest::newRow("116 ppm fast") << 116.0 << 0.0 << 0.0002 << 100.0 << 0.0;
        QTest::newRow("300 ppm slow") << -300.0 << 0.0 << 0.0002 << 100.0 << 0.0;
        QTest::newRow("started 4 ms early, shifted") << 116.0 << 0.0 << 0.0002 << 100.0 << 0.004;
        // The earliest but one of five reports late by up to 4 ms is about 1.3 ms late.
        QTest::newRow("116 ppm fast, reports late by up to 4 ms")
            << 116.0 << 0.004 << 0.0025 << 100.0 << 0.0;
        // Read between the device's frames, a high tone keeps its level and shape.
        QTest::newRow("300 ppm slow, 15 kHz") << -300.0 << 0.0 << 0.0002 << 15000.0 << 0.0;
    }
    void followsADeviceClockWithoutBreakingTheAudio() {
        QFETCH(double, ppm);
        QFETCH(double, jitter);
        QFETCH(double, largestOff);
        QFETCH(double, toneHz);
        QFETCH(double, shifted);
        constexpr double kStart = 1000.0;
        constexpr qint64 kFragment = 960;
        constexpr int kSeconds = 180;
        // Frames the device captures per second of the monotonic clock.
        const double deviceRate = 48000.0 * (1.0 + ppm * 1e-6);
        const auto truth = [&](double time) {
            return 0.3 * std::sin(2.0 * std::numbers::pi * toneHz * (time - kStart));
        };
        std::mt19937 random(3);
        std::uniform_real_distribution<double> off(0.0, jitter);

        ClockFollower follower;
        follower.restart(kStart - shifted);
        follower.shift(shifted);
        double next = kStart - shifted;
        bool contiguous = true;
        double largestLateError = 0.0;
        float lateLevel = 0.0F;
        std::vector<float> fragment(kFragment * 2);
        qint64 captured = 0;
        const auto take = [&](const AudioFragment& out) {
            const auto [interleaved, frames, time] = out;
            contiguous = contiguous && std::abs(time - next) < 1e-9;
            next = time + static_cast<double>(frames) / 48000.0;
            for (qint64 i = 0; i < frames; ++i) {
                const double at = time + static_cast<double>(i) / 48000.0;
                // The sample stamped `at` holds what the device heard at `at`.
                if (at > kStart + kSeconds - 60) {
                    lateLevel = std::max(lateLevel, std::abs(interleaved[2 * i]));
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
                follower.steer(capturedAt + off(random) - follower.nextInputTime() -
                                   follower.shiftLeft(),
                               capturedAt);
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
        QCOMPARE_LT(largestLateError, 0.3 * 2.0 * std::numbers::pi * toneHz * largestOff);
        QCOMPARE_LT(std::abs(lateLevel - 0.3F), 0.003F);
    }

    // The resampler alone, at a fixed ratio: every output frame is the input read at its own
    // fractional position, a ratio of 1 copies, and the frames owed at the end all come out.
    void resamplesATonePreciselyAtAFixedRatio_data() {
        QTest::addColumn<double>("ratio");
        QTest::addColumn<double>("toneHz");
        QTest::addColumn<double>("largestError");
        QTest::newRow("ratio 1") << 1.0 << 15000.0 << 1e-7;
        QTest::newRow("300 ppm more, 15 kHz") << 1.0003 << 15000.0 << 6e-4;
        QTest::newRow("300 ppm less, 1 kHz") << 0.9997 << 1000.0 << 5e-5;
    }
    void resamplesATonePreciselyAtAFixedRatio() {
        QFETCH(double, ratio);
        QFETCH(double, toneHz);
        QFETCH(double, largestError);
        const auto tone = [&](double frame) {
            return 0.3 * std::sin(2.0 * std::numbers::pi * toneHz * frame / 48000.0);
        };
        FractionalResampler resampler;
        resampler.setRatio(ratio, 0);
        std::vector<float> out;
        std::vector<float> input(2 * 1000);
        constexpr qint64 kPushes = 100;
        for (qint64 push = 0; push < kPushes; ++push) {
            for (qint64 i = 0; i < 1000; ++i) {
                input[static_cast<std::size_t>(2 * i)] =
                    static_cast<float>(tone(static_cast<double>(push * 1000 + i)));
                input[static_cast<std::size_t>(2 * i + 1)] =
                    -input[static_cast<std::size_t>(2 * i)];
            }
            resampler.process(input.data(), 1000, out);
        }
        resampler.flush(out);
        const auto frames = static_cast<qint64>(out.size() / 2);
        QCOMPARE_LE(std::abs(static_cast<double>(frames) - kPushes * 1000 * ratio), 1.0);
        double largest = 0.0;
        for (qint64 j = 0; j < frames - FractionalResampler::kTaps; ++j) {
            const double expected = tone(static_cast<double>(j) / ratio);
            largest = std::max({largest, std::abs(out[static_cast<std::size_t>(2 * j)] - expected),
                                std::abs(out[static_cast<std::size_t>(2 * j + 1)] + expected)});
        }
        QCOMPARE_LE(largest, largestError);
    }
};

KIVO_TEST_CLASS(ClockFollowerTest)
#include "ClockFollowerTest.moc"
