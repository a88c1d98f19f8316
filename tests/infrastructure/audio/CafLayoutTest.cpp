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
                             bigEndian(bigEndianSamples ? 1 : 3, 4) + // 1 float, 2 little-endian
                             bigEndian(4 * channels, 4) + bigEndian(1, 4) + bigEndian(channels, 4) +
                             bigEndian(32, 4));
}

QByteArray data(bool bigEndianSamples, qint64 size = -2) {
    QByteArray body = bigEndian(0, 4); // edit count
    for (std::size_t i = 0; i < kLeft.size(); ++i) {
        for (const float sample : {kLeft[i], kRight[i]}) {
            QByteArray bytes = bigEndian(std::bit_cast<std::uint32_t>(sample), 4);
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

// Chunks a reader skips, of odd sizes so that nothing after them is aligned.
const QByteArray kFree = chunk("free", QByteArray(13, 'f'));
const QByteArray kInfo = chunk("info", bigEndian(1, 4) + QByteArray("title\0Kivo\0", 11));
const QByteArray kUuid = chunk("uuid", QByteArray(21, '\x7f'));
const QByteArray kPakt = chunk("pakt", QByteArray(24, '\0'));

} // namespace

class CafLayoutTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_folder;

private slots:
    void readsAnyValidChunkLayoutSampleExact_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("complete"); // the data chunk carries its size
        QTest::addColumn<bool>("valid");
        const auto row = [](const char* name, const QByteArray& chunks, bool complete,
                            bool valid = true) {
            QTest::newRow(name) << caf(chunks) << complete << valid;
        };
        row("little-endian", desc(false) + data(false), true);
        row("big-endian", desc(true) + data(true), true);
        row("data before desc", data(false) + desc(false), true);
        row("big-endian data before desc, pakt between", data(true) + kPakt + desc(true), true);
        row("other chunks before and after",
            kFree + desc(false) + kInfo + data(false) + kUuid + kFree, true);
        row("unknown-size data last", kInfo + desc(false) + kFree + data(false, -1), false);
        row("refused: unknown-size data before desc", data(false, -1) + desc(false), false, false);
        row("refused: no desc", kFree + data(false) + kInfo, true, false);
    }
    void readsAnyValidChunkLayoutSampleExact() {
        QFETCH(QByteArray, file);
        QFETCH(bool, complete);
        QFETCH(bool, valid);
        QFile written(m_folder.filePath(QString::fromLatin1(QTest::currentDataTag())));
        QVERIFY(written.open(QIODevice::WriteOnly) && written.write(file) == file.size());
        written.close();
        if (!valid) {
            QVERIFY_THROWS_EXCEPTION(PlatformError, CafReader reader(written.fileName()));
            return;
        }
        QCOMPARE(CafReader(written.fileName()).isComplete(), complete);
        const test::StereoSamples samples = test::readTrackFile(written.fileName());
        QCOMPARE(samples.left, kLeft);
        QCOMPARE(samples.right, kRight);
    }
};

KIVO_TEST_CLASS(CafLayoutTest)
#include "CafLayoutTest.moc"
