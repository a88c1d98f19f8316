#include "AudioTestSupport.h"
#include "TestMain.h"

#include "infrastructure/PlatformError.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sndfile.h>

#include <thread>

using namespace kivo;

namespace {

// Frame f holds f / 65536 on the left and −f / 8 on the right.
PcmBuffer patternBuffer(qint64 first, qint64 frames) {
    PcmBuffer buffer = test::stereoBuffer(frames, 0, 0);
    for (qint64 i = 0; i < frames; ++i) {
        buffer.channel(0)[std::size_t(i)] = static_cast<float>(first + i) / 65536.0f;
        buffer.channel(1)[std::size_t(i)] = -static_cast<float>(first + i) / 8.0f;
    }
    return buffer;
}

bool holdsPattern(const test::StereoSamples& samples, qint64 frames) {
    const auto buffer = patternBuffer(0, frames);
    return samples.frames() == frames &&
           std::equal(samples.left.begin(), samples.left.end(), buffer.channel(0).begin()) &&
           std::equal(samples.right.begin(), samples.right.end(), buffer.channel(1).begin());
}

void writeWithLibsndfile(const QString& path, int format, int rate, int frames) {
    SF_INFO info{0, rate, 2, format, 0, 0};
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    std::vector<float> interleaved;
    const auto pattern = patternBuffer(0, frames);
    for (int i = 0; i < frames; ++i) {
        interleaved.push_back(pattern.channel(0)[std::size_t(i)]);
        interleaved.push_back(pattern.channel(1)[std::size_t(i)]);
    }
    sf_writef_float(file, interleaved.data(), frames);
    sf_close(file);
}

} // namespace

class CafFileTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_count = 0;

    QString newPath() { return m_dir.filePath(QStringLiteral("track%1.caf").arg(++m_count)); }

private slots:

    // libsndfile reads our files as 48 kHz stereo float CAF; we read its float CAF files in
    // either byte order.
    void sharesFloatCafWithOtherPrograms() {
        const QString path = newPath();
        CafWriter writer(path);
        writer.write(patternBuffer(0, 5000));
        writer.close();
        SF_INFO info{};
        SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
        QVERIFY2(file != nullptr, sf_strerror(nullptr));
        QCOMPARE(info.format & (SF_FORMAT_TYPEMASK | SF_FORMAT_SUBMASK),
                 SF_FORMAT_CAF | SF_FORMAT_FLOAT);
        QCOMPARE(info.samplerate, 48000);
        QCOMPARE(info.channels, 2);
        test::StereoSamples samples = test::silentSamples(5000);
        std::vector<float> interleaved(10000);
        QCOMPARE(sf_readf_float(file, interleaved.data(), 5000), 5000);
        sf_close(file);
        for (std::size_t i = 0; i < 5000; ++i) {
            samples.left[i] = interleaved[2 * i];
            samples.right[i] = interleaved[2 * i + 1];
        }
        QVERIFY(holdsPattern(samples, 5000));
        for (const int endian : {SF_ENDIAN_BIG, SF_ENDIAN_LITTLE}) {
            const QString other = newPath();
            writeWithLibsndfile(other, SF_FORMAT_CAF | SF_FORMAT_FLOAT | endian, 48000, 3000);
            QVERIFY(holdsPattern(test::readTrackFile(other), 3000));
        }
    }

    void readerRefusesOtherFiles_data() {
        QTest::addColumn<QString>("kind");
        for (const char* kind :
             {"missing", "empty", "wav", "caf at 44.1 kHz", "caf of int16", "header cut short"}) {
            QTest::newRow(kind) << QString::fromLatin1(kind);
        }
    }
    void readerRefusesOtherFiles() {
        QFETCH(QString, kind);
        const QString path = newPath();
        if (kind == u"empty") {
            QFile(path).open(QIODevice::WriteOnly);
        } else if (kind == u"wav") {
            writeWithLibsndfile(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 10);
        } else if (kind == u"caf at 44.1 kHz") {
            writeWithLibsndfile(path, SF_FORMAT_CAF | SF_FORMAT_FLOAT, 44100, 10);
        } else if (kind == u"caf of int16") {
            writeWithLibsndfile(path, SF_FORMAT_CAF | SF_FORMAT_PCM_16, 48000, 10);
        } else if (kind == u"header cut short") {
            CafWriter(path).close();
            QVERIFY(QFile(path).resize(40)); // inside the audio description
        }
        QVERIFY_THROWS_EXCEPTION(PlatformError, CafReader{path});
    }

    // A write that fails part way (file-size limit) keeps the count and the file whole; a
    // partial frame left at the end by a crash is ignored.
    void failedWriteKeepsTheFrameCountAndTheFileWhole() {
        const QString path = newPath();
        CafWriter writer(path);
        writer.write(patternBuffer(0, 1000));
        const qint64 header = QFileInfo(path).size() - 1000 * 8;
        {
            const test::FileSizeLimit limit(header + 1500 * 8 + 3);
            QVERIFY_THROWS_EXCEPTION(PlatformError, writer.write(patternBuffer(1000, 1000)));
        }
        QCOMPARE(writer.frames(), 1000);
        QCOMPARE(QFileInfo(path).size(), header + 1000 * 8);
        writer.write(patternBuffer(1000, 1000));
        QFile file(path);
        QVERIFY(file.open(QIODevice::Append));
        file.write("\x01\x02\x03\x04\x05", 5);
        file.close();
        QVERIFY(holdsPattern(test::readTrackFile(path), 2000));
    }
};

KIVO_TEST_CLASS(CafFileTest)
#include "CafFileTest.moc"
