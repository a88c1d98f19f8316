#include "AudioTestSupport.h"
#include "TestMain.h"

#include "infrastructure/PlatformError.h"
#include "infrastructure/audio/CafFile.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <bit>
#include <cstdint>

using namespace kivo;

namespace {

// Five frames whose bytes differ in every position, so a byte-order or offset mistake shows.
const std::vector<float> kLeft{0.5F, -0.25F, 1.0e-3F, -1.0F, 0.123456F};
const std::vector<float> kRight{-0.75F, 0.0625F, 3.0e-7F, 1.0F, -0.654321F};

QByteArray bigEndian(std::uint64_t value, int bytes) {
    QByteArray out(bytes, '\0');
    for (int i = bytes - 1; i >= 0; --i, value >>= 8) {
        out[i] = static_cast<char>(value & 0xFF);
    }
    return out;
}

// A chunk with its header; `size` -1 writes the unknown size.
QByteArray chunk(const char* type, const QByteArray& body, qint64 size = -2) {
    return QByteArray(type, 4) +
           bigEndian(static_cast<std::uint64_t>(size == -2 ? body.size() : size), 8) + body;
}

QByteArray desc(bool bigEndianSamples, double rate = 48000.0, int channels = 2) {
    return chunk("desc", bigEndian(std::bit_cast<std::uint64_t>(rate), 8) + "lpcm" +
                             bigEndian(bigEndianSamples ? 1 : 3, 4) + // float, little-endian
                             bigEndian(4 * channels, 4) + bigEndian(1, 4) + bigEndian(channels, 4) +
                             bigEndian(32, 4));
}

QByteArray data(bool bigEndianSamples, qint64 size = -2) {
    QByteArray body = bigEndian(0, 4); // edit count
    for (std::size_t i = 0; i < kLeft.size(); ++i) {
        for (const float sample : {kLeft[i], kRight[i]}) {
            const auto bits = std::bit_cast<std::uint32_t>(sample);
            QByteArray bytes = bigEndian(bits, 4);
            if (!bigEndianSamples) {
                std::reverse(bytes.begin(), bytes.end());
            }
            body += bytes;
        }
    }
    return chunk("data", body, size);
}

QByteArray caf(const QByteArray& chunks) {
    return QByteArray("caff") + bigEndian(1, 2) + bigEndian(0, 2) + chunks;
}

const QByteArray kFree = chunk("free", QByteArray(13, 'f'));
const QByteArray kInfo = chunk("info", bigEndian(1, 4) + QByteArray("title\0Kivo\0", 11));
const QByteArray kUuid = chunk("uuid", QByteArray(16, '\x7f') + "extra");
const QByteArray kPakt = chunk("pakt", QByteArray(24, '\0'));
const QByteArray kChan = chunk("chan", bigEndian((101u << 16) | 2u, 4) + QByteArray(8, '\0'));

} // namespace

class CafLayoutTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_folder;

    QString written(const QByteArray& bytes) {
        const QString path = m_folder.filePath(QString::fromLatin1(QTest::currentDataTag()));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
            return {};
        }
        return path;
    }

private slots:
    void readsEveryValidLayoutSampleExact_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("complete");
        QTest::newRow("little-endian, desc chan data")
            << caf(desc(false) + kChan + data(false)) << true;
        QTest::newRow("big-endian") << caf(desc(true) + data(true)) << true;
        QTest::newRow("data before desc") << caf(data(false) + desc(false)) << true;
        QTest::newRow("big-endian data before desc, pakt between")
            << caf(data(true) + kPakt + desc(true)) << true;
        QTest::newRow("other chunks before and after")
            << caf(kFree + desc(false) + kInfo + data(false) + kUuid + kFree) << true;
        QTest::newRow("unknown-size data last")
            << caf(kInfo + desc(false) + kFree + data(false, -1)) << false;
        QTest::newRow("unknown-size big-endian data last")
            << caf(desc(true) + kUuid + data(true, -1)) << false;
    }
    void readsEveryValidLayoutSampleExact() {
        QFETCH(QByteArray, file);
        QFETCH(bool, complete);
        const QString path = written(file);
        QVERIFY(!path.isEmpty());
        QCOMPARE(CafReader(path).isComplete(), complete);
        const test::StereoSamples samples = test::readTrackFile(path);
        QCOMPARE(samples.left, kLeft);
        QCOMPARE(samples.right, kRight);
    }

    void rejectsWhatIsNotAStereoFloatTrack_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("reason");
        const QString notCaf = QStringLiteral("不是 CAF 音訊檔。");
        const QString wrongFormat = QStringLiteral("不是 48 kHz 雙聲道 32 位元浮點音訊。");
        QTest::newRow("44.1 kHz") << caf(desc(false, 44100.0) + data(false)) << wrongFormat;
        QTest::newRow("mono") << caf(data(false) + desc(false, 48000.0, 1)) << wrongFormat;
        QTest::newRow("unknown-size data before desc")
            << caf(data(false, -1) + desc(false)) << notCaf;
        QTest::newRow("no data chunk") << caf(desc(false) + kFree) << notCaf;
        QTest::newRow("no desc chunk") << caf(kFree + data(false)) << notCaf;
    }
    void rejectsWhatIsNotAStereoFloatTrack() {
        QFETCH(QByteArray, file);
        QFETCH(QString, reason);
        const QString path = written(file);
        QVERIFY(!path.isEmpty());
        try {
            CafReader reader(path);
            QFAIL("the file was read");
        } catch (const PlatformError& error) {
            QVERIFY2(error.description().endsWith(reason), qPrintable(error.description()));
        }
    }
};

KIVO_TEST_CLASS(CafLayoutTest)
#include "CafLayoutTest.moc"
