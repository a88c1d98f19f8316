#include "AudioTestSupport.h"
#include "TestMain.h"

#include "infrastructure/audio/SampleConverter.h"

#include <QTest>

using namespace kivo;

class SampleConverterTest : public QObject {
    Q_OBJECT

private slots:
    // Values every sample format holds exactly: multiples of 2^-8 within [-1, 1), -1.0
    // (full-scale negative integers) included.
    void samplesOfEveryLayoutAreDecoded_data() {
        QTest::addColumn<int>("sampleFormat");
        QTest::addColumn<bool>("interleaved");
        for (const int format : {0, 1, 2}) {
            for (const bool interleaved : {false, true}) {
                QTest::addRow("%s %s", std::array{"float32", "int16", "int32"}[std::size_t(format)],
                              interleaved ? "interleaved" : "planar")
                    << format << interleaved;
            }
        }
    }
    void samplesOfEveryLayoutAreDecoded() {
        QFETCH(int, sampleFormat);
        QFETCH(bool, interleaved);
        const PcmFormat format{48000.0, 2, static_cast<SampleFormat>(sampleFormat), interleaved};
        const auto value = [](int channel, qint64 i) {
            return (static_cast<double>((i * 5 + channel * 101) % 512) - 256.0) / 256.0;
        };
        const PcmBuffer output =
            SampleConverter(format).convert(test::filledBuffer(format, 300, value));
        QCOMPARE(output.frameLength(), 300);
        for (qint64 i = 0; i < 300; ++i) {
            QCOMPARE(output.channel(0)[std::size_t(i)], value(0, i));
            QCOMPARE(output.channel(1)[std::size_t(i)], value(1, i));
        }
    }

    void channelsAreMappedOntoLeftAndRight_data() {
        QTest::addColumn<QList<double>>("frame");
        QTest::addColumn<double>("left");
        QTest::addColumn<double>("right");
        const double w = 1.0 / std::sqrt(2.0);
        QTest::newRow("mono goes to both") << QList<double>{0.5} << 0.5 << 0.5;
        QTest::newRow("3: front left only") << QList<double>{0.5, 0, 0} << 0.5 / (1 + w) << 0.0;
        QTest::newRow("3: third channel in the middle")
            << QList<double>{0, 0, 0.5} << 0.5 * w / (1 + w) << 0.5 * w / (1 + w);
        QTest::newRow("6: all equal keep their level") << QList<double>(6, 0.5) << 0.5 << 0.5;
        QTest::newRow("4: full scale stays full scale") << QList<double>(4, -1) << -1.0 << -1.0;
        QTest::newRow("8: front right only")
            << QList<double>{0, 0.75, 0, 0, 0, 0, 0, 0} << 0.0 << 0.75 / (1 + 6 * w);
    }
    void channelsAreMappedOntoLeftAndRight() {
        QFETCH(QList<double>, frame);
        QFETCH(double, left);
        QFETCH(double, right);
        for (const bool interleaved : {false, true}) {
            const PcmFormat format{48000.0, int(frame.size()), SampleFormat::float32, interleaved};
            const PcmBuffer output = SampleConverter(format).convert(
                test::filledBuffer(format, 4, [&](int channel, qint64) { return frame[channel]; }));
            QCOMPARE(output.frameLength(), 4);
            QVERIFY(std::fabs(output.channel(0)[3] - left) < 1e-6);
            QVERIFY(std::fabs(output.channel(1)[3] - right) < 1e-6);
        }
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
        for (qint64 fed = 0; fed < static_cast<qint64>(rate * 2.0);) {
            const qint64 frames = size(random);
            const PcmBuffer output = converter.convert(test::filledBuffer(
                format, frames, [&](int, qint64 i) { return test::tone(hz, rate, fed + i); }));
            fed += frames;
            out.insert(out.end(), output.channel(0).begin(),
                       output.channel(0).begin() + output.frameLength());
            QCOMPARE(qint64(out.size()), std::llround(double(fed) * 48000.0 / rate));
        }
        QCOMPARE(converter.latencyFrames(), latency);
        QVERIFY(latency > 0);
        QVERIFY2(rate < 44100.0 || latency < 960, "more than 20 ms of delay");
        QVERIFY(test::peakLevel(test::window(out, 0, std::max<qint64>(latency - 64, 0))) < 1e-4f);
        QVERIFY(test::largestToneError(out, latency + 400, latency, hz) < 2e-3);
    }
};

KIVO_TEST_CLASS(SampleConverterTest)
#include "SampleConverterTest.moc"
