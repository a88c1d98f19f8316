#include "AudioTestSupport.h"
#include "TestMain.h"

#include "domain/KivoError.h"
#include "infrastructure/audio/SampleConverter.h"

#include "support/SignalAnalysis.h"

#include <QTest>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

using namespace kivo;

namespace {

// A buffer of `format` whose sample (channel c, frame i) is given in float; int formats store
// value × 2^15 or × 2^31.
template <typename Value>
PcmBuffer filledBuffer(PcmFormat format, qint64 frames, Value value) {
    PcmBuffer buffer(format, frames);
    const int size = bytesPerSample(format.sampleFormat);
    for (int channel = 0; channel < format.channels; ++channel) {
        for (qint64 i = 0; i < frames; ++i) {
            const double sample = value(channel, i);
            std::byte* at = format.interleaved
                                ? buffer.plane(0) + (i * format.channels + channel) * size
                                : buffer.plane(channel) + i * size;
            if (format.sampleFormat == SampleFormat::float32) {
                const auto v = static_cast<float>(sample);
                std::memcpy(at, &v, sizeof v);
            } else if (format.sampleFormat == SampleFormat::int16) {
                const auto v = static_cast<qint16>(std::lround(sample * 32768.0));
                std::memcpy(at, &v, sizeof v);
            } else {
                const auto v = static_cast<qint32>(std::llround(sample * 2147483648.0));
                std::memcpy(at, &v, sizeof v);
            }
        }
    }
    buffer.setFrameLength(frames);
    return buffer;
}

} // namespace

class SampleConverterTest : public QObject {
    Q_OBJECT

private slots:
    void refusesFormatsItCannotConvert_data() {
        QTest::addColumn<double>("rate");
        QTest::addColumn<int>("channels");
        QTest::newRow("rate 0") << 0.0 << 2;
        QTest::newRow("negative rate") << -44100.0 << 2;
        QTest::newRow("rate not a number") << std::numeric_limits<double>::quiet_NaN() << 2;
        QTest::newRow("infinite rate") << std::numeric_limits<double>::infinity() << 2;
        QTest::newRow("below 1000 Hz") << 999.0 << 2;
        QTest::newRow("above 768 000 Hz") << 768001.0 << 2;
        QTest::newRow("no channels") << 48000.0 << 0;
    }
    void refusesFormatsItCannotConvert() {
        QFETCH(double, rate);
        QFETCH(int, channels);
        try {
            SampleConverter converter(PcmFormat{rate, channels, SampleFormat::float32, false});
            QFAIL("a converter was made");
        } catch (const KivoError& error) {
            QCOMPARE(error.text(), QStringLiteral("此音訊格式無法轉換。"));
        }
    }

    void refusesABufferOfAnotherFormat() {
        SampleConverter converter(kWorkingFormat);
        const PcmBuffer mono = filledBuffer(PcmFormat{48000.0, 1, SampleFormat::float32, false}, 10,
                                            [](int, qint64) { return 0.25; });
        QVERIFY_THROWS_EXCEPTION(KivoError, converter.convert(mono));
    }

    void workingFormatPassesThroughSampleForSample() {
        SampleConverter converter(kWorkingFormat);
        std::mt19937 random(7);
        std::uniform_real_distribution<float> sample(-1.5f, 1.5f);
        for (int call = 0; call < 5; ++call) {
            PcmBuffer input(kWorkingFormat, 1024);
            for (int channel = 0; channel < 2; ++channel) {
                for (auto& value : input.channel(channel)) {
                    value = sample(random);
                }
            }
            input.setFrameLength(1000 + call);
            const PcmBuffer output = converter.convert(input);
            QCOMPARE(output.format(), kWorkingFormat);
            QCOMPARE(output.frameLength(), 1000 + call);
            for (int channel = 0; channel < 2; ++channel) {
                QVERIFY(std::memcmp(output.channel(channel).data(), input.channel(channel).data(),
                                    static_cast<std::size_t>(output.frameLength()) *
                                        sizeof(float)) == 0);
            }
        }
        QCOMPARE(converter.latencyFrames(), 0);
    }

    void samplesOfEveryLayoutAreDecoded_data() {
        QTest::addColumn<int>("sampleFormat");
        QTest::addColumn<bool>("interleaved");
        for (const auto format :
             {SampleFormat::float32, SampleFormat::int16, SampleFormat::int32}) {
            for (const bool interleaved : {false, true}) {
                const char* names[] = {"float32", "int16", "int32"};
                QTest::addRow("%s %s", names[static_cast<int>(format)],
                              interleaved ? "interleaved" : "planar")
                    << static_cast<int>(format) << interleaved;
            }
        }
    }
    void samplesOfEveryLayoutAreDecoded() {
        QFETCH(int, sampleFormat);
        QFETCH(bool, interleaved);
        const PcmFormat format{48000.0, 2, static_cast<SampleFormat>(sampleFormat), interleaved};
        // Values that every sample format holds exactly: multiples of 2^-8 within [-1, 1), -1.0
        // (full-scale negative integers) included.
        const auto value = [](int channel, qint64 i) {
            return (static_cast<double>((i * 5 + channel * 101) % 512) - 256.0) / 256.0;
        };
        SampleConverter converter(format);
        const PcmBuffer output = converter.convert(filledBuffer(format, 300, value));
        QCOMPARE(output.frameLength(), 300);
        for (qint64 i = 0; i < 300; ++i) {
            QCOMPARE(output.channel(0)[static_cast<std::size_t>(i)], value(0, i));
            QCOMPARE(output.channel(1)[static_cast<std::size_t>(i)], value(1, i));
        }
    }

    void channelsAreMappedOntoLeftAndRight_data() {
        QTest::addColumn<int>("channels");
        QTest::addColumn<QList<double>>("frame");
        QTest::addColumn<double>("left");
        QTest::addColumn<double>("right");
        const double w = 1.0 / std::sqrt(2.0);
        QTest::newRow("1: mono goes to both") << 1 << QList<double>{0.5} << 0.5 << 0.5;
        QTest::newRow("3: front left only")
            << 3 << QList<double>{0.5, 0, 0} << 0.5 / (1 + w) << 0.0;
        QTest::newRow("3: third channel in the middle")
            << 3 << QList<double>{0, 0, 0.5} << 0.5 * w / (1 + w) << 0.5 * w / (1 + w);
        QTest::newRow("6: all equal keep their level")
            << 6 << QList<double>{0.5, 0.5, 0.5, 0.5, 0.5, 0.5} << 0.5 << 0.5;
        QTest::newRow("4: full scale everywhere stays full scale")
            << 4 << QList<double>{-1, -1, -1, -1} << -1.0 << -1.0;
        QTest::newRow("8: front right only")
            << 8 << QList<double>{0, 0.75, 0, 0, 0, 0, 0, 0} << 0.0 << 0.75 / (1 + 6 * w);
    }
    void channelsAreMappedOntoLeftAndRight() {
        QFETCH(int, channels);
        QFETCH(QList<double>, frame);
        QFETCH(double, left);
        QFETCH(double, right);
        for (const bool interleaved : {false, true}) {
            const PcmFormat format{48000.0, channels, SampleFormat::float32, interleaved};
            const PcmBuffer output = SampleConverter(format).convert(
                filledBuffer(format, 4, [&](int channel, qint64) { return frame[channel]; }));
            QCOMPARE(output.frameLength(), 4);
            for (std::size_t i = 0; i < 4; ++i) {
                QVERIFY(std::fabs(output.channel(0)[i] - left) < 1e-6);
                QVERIFY(std::fabs(output.channel(1)[i] - right) < 1e-6);
            }
        }
    }

    void monoBufferAt44kComesOutAsStereoWithTheCapacity() {
        const PcmFormat mono{44100.0, 1, SampleFormat::float32, false};
        SampleConverter converter(mono);
        const PcmBuffer output = converter.convert(test::toneBuffer(mono, 0, 441, 1000.0));
        QCOMPARE(output.format(), kWorkingFormat);
        QCOMPARE(output.frameCapacity(), 736);
        QCOMPARE(output.frameLength(), 480);
    }

    // Whatever the sizes of the buffers, the outputs add up to the input's length at 48 kHz
    // after every call, and the tone comes out whole (no frames dropped or repeated) after a
    // constant delay of silence, under 20 ms from 44.1 kHz up.
    void irregularBuffersComeOutWholeAtEveryRate_data() {
        QTest::addColumn<double>("rate");
        QTest::addColumn<int>("largest");
        for (const double rate : {8000.0, 11025.0, 16000.0, 22050.0, 32000.0, 44100.0, 47999.0,
                                  88200.0, 96000.0, 192000.0}) {
            QTest::addRow("%g Hz, 1 to 64 frames", rate) << rate << 64;
            QTest::addRow("%g Hz, 1 to 5000 frames", rate) << rate << 5000;
        }
        QTest::newRow("lowest, 1000 Hz") << 1000.0 << 500;
        QTest::newRow("highest, 768 000 Hz") << 768000.0 << 5000;
    }
    void irregularBuffersComeOutWholeAtEveryRate() {
        QFETCH(double, rate);
        QFETCH(int, largest);
        const PcmFormat format{rate, 1, SampleFormat::float32, false};
        SampleConverter converter(format);
        const double hz = std::min(440.0, rate / 20.0); // well below the input's Nyquist
        const qint64 latency = converter.latencyFrames();
        std::mt19937 random(static_cast<unsigned>(rate) + static_cast<unsigned>(largest));
        std::uniform_int_distribution<qint64> size(1, largest);
        std::vector<float> out;
        qint64 fed = 0;
        while (fed < static_cast<qint64>(rate * 2.0)) {
            const qint64 frames = size(random);
            const PcmBuffer output = converter.convert(test::toneBuffer(format, fed, frames, hz));
            fed += frames;
            out.insert(out.end(), output.channel(0).begin(),
                       output.channel(0).begin() + output.frameLength());
            QCOMPARE(static_cast<qint64>(out.size()),
                     std::llround(static_cast<double>(fed) * 48000.0 / rate));
        }
        QCOMPARE(converter.latencyFrames(), latency);
        QVERIFY(latency > 0);
        QVERIFY2(rate < 44100.0 || latency < 960, "more than 20 ms of delay");
        QVERIFY(test::peakLevel(test::window(out, 0, std::max<qint64>(latency - 64, 0))) < 1e-4f);
        const double error = test::largestToneError(out, latency + 400, latency, hz);
        QVERIFY2(error < 2e-3, qPrintable(QStringLiteral("largest error %1").arg(error)));
    }

    void integerInputIsResampledLikeFloat() {
        const PcmFormat int16{44100.0, 1, SampleFormat::int16, true};
        const PcmFormat int32{44100.0, 2, SampleFormat::int32, true};
        SampleConverter fromInt16(int16);
        SampleConverter fromInt32(int32);
        const auto value = [](int, qint64 i) {
            return static_cast<double>(test::tone(1000.0, 44100.0, i));
        };
        std::vector<float> a;
        std::vector<float> b;
        for (int call = 0; call < 40; ++call) {
            const auto shifted = [&](int channel, qint64 i) {
                return value(channel, call * 441 + i);
            };
            const PcmBuffer outA = fromInt16.convert(filledBuffer(int16, 441, shifted));
            const PcmBuffer outB = fromInt32.convert(filledBuffer(int32, 441, shifted));
            QCOMPARE(outA.frameLength(), 480);
            QCOMPARE(outB.frameLength(), 480);
            a.insert(a.end(), outA.channel(1).begin(), outA.channel(1).begin() + 480);
            b.insert(b.end(), outB.channel(1).begin(), outB.channel(1).begin() + 480);
        }
        QCOMPARE(fromInt16.latencyFrames(), fromInt32.latencyFrames());
        const qint64 latency = fromInt16.latencyFrames();
        QVERIFY(test::largestToneError(a, latency + 200, latency, 1000.0) < 1e-3);
        QVERIFY(test::largestToneError(b, latency + 200, latency, 1000.0) < 1e-3);
    }
};

KIVO_TEST_CLASS(SampleConverterTest)
#include "SampleConverterTest.moc"
