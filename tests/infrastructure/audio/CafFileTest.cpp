#include "AudioTestSupport.h"
#include "TestMain.h"

#include "infrastructure/PlatformError.h"
#include "infrastructure/audio/CafFile.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sndfile.h>

#include <thread>

using namespace kivo;

namespace {

PcmBuffer patternBuffer(qint64 first, qint64 frames) {
    PcmBuffer buffer(kWorkingFormat, frames);
    for (qint64 i = 0; i < frames; ++i) {
        buffer.channel(0)[static_cast<std::size_t>(i)] = static_cast<float>(first + i) / 65536.0f;
        buffer.channel(1)[static_cast<std::size_t>(i)] = -static_cast<float>(first + i) / 8.0f;
    }
    buffer.setFrameLength(frames);
    return buffer;
}

bool holdsPattern(const test::StereoSamples& samples, qint64 frames) {
    if (static_cast<qint64>(samples.left.size()) != frames) {
        return false;
    }
    for (qint64 i = 0; i < frames; ++i) {
        const auto at = static_cast<std::size_t>(i);
        if (samples.left[at] != static_cast<float>(i) / 65536.0f ||
            samples.right[at] != -static_cast<float>(i) / 8.0f) {
            return false;
        }
    }
    return true;
}

void writeWithLibsndfile(const QString& path, int format, int rate, int frames) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 2;
    info.format = format;
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    QVERIFY2(file != nullptr, sf_strerror(nullptr));
    std::vector<float> interleaved(static_cast<std::size_t>(frames) * 2);
    for (int i = 0; i < frames; ++i) {
        interleaved[static_cast<std::size_t>(2 * i)] = static_cast<float>(i) / 65536.0f;
        interleaved[static_cast<std::size_t>(2 * i + 1)] = -static_cast<float>(i) / 8.0f;
    }
    QCOMPARE(sf_writef_float(file, interleaved.data(), frames), frames);
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
    void closedFileReadsBackExactly() {
        const QString path = newPath();
        CafWriter writer(path);
        writer.write(patternBuffer(0, 1000));
        writer.write(patternBuffer(1000, 3000));
        QCOMPARE(writer.frames(), 4000);
        writer.close();
        QVERIFY(!writer.isOpen());

        CafReader reader(path);
        QVERIFY(reader.isComplete());
        QCOMPARE(reader.length(), 4000);
        QVERIFY(holdsPattern(test::readTrackFile(path), 4000));
    }

    void closedFileIsReadByLibsndfile() {
        const QString path = newPath();
        CafWriter writer(path);
        writer.write(patternBuffer(0, 5000));
        writer.close();

        SF_INFO info{};
        SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
        QVERIFY2(file != nullptr, sf_strerror(nullptr));
        QCOMPARE(info.format & SF_FORMAT_TYPEMASK, SF_FORMAT_CAF);
        QCOMPARE(info.format & SF_FORMAT_SUBMASK, SF_FORMAT_FLOAT);
        QCOMPARE(info.samplerate, 48000);
        QCOMPARE(info.channels, 2);
        QCOMPARE(info.frames, 5000);
        std::vector<float> interleaved(10000);
        QCOMPARE(sf_readf_float(file, interleaved.data(), 5000), 5000);
        sf_close(file);
        test::StereoSamples samples = test::silentSamples(5000);
        for (std::size_t i = 0; i < 5000; ++i) {
            samples.left[i] = interleaved[2 * i];
            samples.right[i] = interleaved[2 * i + 1];
        }
        QVERIFY(holdsPattern(samples, 5000));
    }

    void emptyClosedFileHasNoFrames() {
        const QString path = newPath();
        CafWriter(path).close();
        CafReader reader(path);
        QVERIFY(reader.isComplete());
        QCOMPARE(reader.length(), 0);
        float left = 0;
        float right = 0;
        QCOMPARE(reader.read(&left, &right, 1), 0);
    }

    void fileBeingWrittenIsReadableUpToItsLastWrite() {
        const QString path = newPath();
        CafWriter writer(path);
        writer.write(patternBuffer(0, 1234));
        {
            CafReader reader(path);
            QVERIFY(!reader.isComplete());
            QCOMPARE(reader.length(), 1234);
        }
        writer.write(patternBuffer(1234, 766));
        QVERIFY(holdsPattern(test::readTrackFile(path), 2000));
    }

    void partialLastFrameIsIgnored() {
        const QString path = newPath();
        CafWriter writer(path);
        writer.write(patternBuffer(0, 100));
        QFile file(path);
        QVERIFY(file.open(QIODevice::Append));
        file.write("\x01\x02\x03\x04\x05", 5); // a frame cut off after 5 of its 8 bytes
        file.close();
        CafReader reader(path);
        QCOMPARE(reader.length(), 100);
        QVERIFY(holdsPattern(test::readTrackFile(path), 100));
    }

    void readsInPiecesUpToTheEnd() {
        const QString path = newPath();
        CafWriter writer(path);
        writer.write(patternBuffer(0, 10000));
        writer.close();
        CafReader reader(path);
        std::vector<float> left(10000);
        std::vector<float> right(10000);
        QCOMPARE(reader.read(left.data(), right.data(), 6000), 6000);
        QCOMPARE(reader.position(), 6000);
        QCOMPARE(reader.read(left.data() + 6000, right.data() + 6000, 6000), 4000);
        QCOMPARE(reader.position(), 10000);
        QCOMPARE(reader.read(left.data(), right.data(), 6000), 0);
        QCOMPARE(left[9999], 9999.0f / 65536.0f);
        QCOMPARE(right[6000], -6000.0f / 8.0f);
    }

    void writerRefusesAnExistingPath() {
        const QString path = newPath();
        QFile existing(path);
        QVERIFY(existing.open(QIODevice::WriteOnly));
        existing.write("keep");
        existing.close();
        QVERIFY_THROWS_EXCEPTION(PlatformError, CafWriter{path});
        QVERIFY(existing.open(QIODevice::ReadOnly));
        QCOMPARE(existing.readAll(), QByteArray("keep"));
    }

    void writerFailsInAMissingFolderNamingTheFile() {
        const QString path = m_dir.filePath(QStringLiteral("missing/system.caf"));
        try {
            CafWriter writer(path);
            QFAIL("the file was created");
        } catch (const PlatformError& error) {
            QVERIFY(error.description().startsWith(QStringLiteral("無法建立音軌檔 ") + path +
                                                   QStringLiteral("：")));
        }
    }

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
        writer.close();
        QVERIFY(holdsPattern(test::readTrackFile(path), 2000));
    }

    void syncToDiskRunsAlongsideAppends() {
        const QString path = newPath();
        CafWriter writer(path);
        std::atomic<bool> stop = false;
        std::atomic<int> syncs = 0;
        std::thread flusher([&] {
            while (!stop) {
                writer.syncToDisk();
                ++syncs;
            }
        });
        // Appends go on until the other thread has flushed several times in between.
        QElapsedTimer clock;
        clock.start();
        qint64 frames = 0;
        while ((frames < 48000 || syncs < 3) && !clock.hasExpired(10000)) {
            writer.write(patternBuffer(frames, 480));
            frames += 480;
        }
        stop = true;
        flusher.join();
        QVERIFY(syncs >= 3);
        writer.close();
        writer.syncToDisk(); // closed: nothing to do
        QVERIFY(holdsPattern(test::readTrackFile(path), frames));
    }

    void readerRefusesOtherFiles_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("missing file") << QStringLiteral("missing");
        QTest::newRow("empty file") << QStringLiteral("empty");
        QTest::newRow("WAV") << QStringLiteral("wav");
        QTest::newRow("CAF at 44.1 kHz") << QStringLiteral("caf44");
        QTest::newRow("CAF of 16-bit integers") << QStringLiteral("caf16");
        QTest::newRow("header cut short") << QStringLiteral("cut");
    }
    void readerRefusesOtherFiles() {
        QFETCH(QString, kind);
        const QString path = newPath();
        if (kind == QStringLiteral("empty")) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
        } else if (kind == QStringLiteral("wav")) {
            writeWithLibsndfile(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 10);
        } else if (kind == QStringLiteral("caf44")) {
            writeWithLibsndfile(path, SF_FORMAT_CAF | SF_FORMAT_FLOAT, 44100, 10);
        } else if (kind == QStringLiteral("caf16")) {
            writeWithLibsndfile(path, SF_FORMAT_CAF | SF_FORMAT_PCM_16, 48000, 10);
        } else if (kind == QStringLiteral("cut")) {
            CafWriter(path).close();
            QFile file(path);
            QVERIFY(file.resize(40)); // inside the audio description
        }
        QVERIFY_THROWS_EXCEPTION(PlatformError, CafReader{path});
    }

    // A float CAF written by another program (libsndfile writes big-endian samples) reads back.
    void readsFloatCafOfOtherWriters_data() {
        QTest::addColumn<int>("endian");
        QTest::newRow("big-endian") << int(SF_ENDIAN_BIG);
        QTest::newRow("little-endian") << int(SF_ENDIAN_LITTLE);
    }
    void readsFloatCafOfOtherWriters() {
        QFETCH(int, endian);
        const QString path = newPath();
        writeWithLibsndfile(path, SF_FORMAT_CAF | SF_FORMAT_FLOAT | endian, 48000, 3000);
        QVERIFY(holdsPattern(test::readTrackFile(path), 3000));
    }
};

KIVO_TEST_CLASS(CafFileTest)
#include "CafFileTest.moc"
