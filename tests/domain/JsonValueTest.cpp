#include "domain/JsonValue.h"

#include "TestMain.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QTest>

#include <bit>
#include <cstdint>
#include <limits>

using namespace kivo;

namespace {

// The number as Qt's JSON parser reads it.
double readNumber(const QByteArray& text) {
    return QJsonDocument::fromJson("[" + text + "]").array().at(0).toDouble();
}

// The one positive float whose shortest text, 7.038531e-26, reads as a double that rounds to
// the next float up: it is written with its exact double value instead.
const float kMisrounded = std::bit_cast<float>(std::uint32_t{0x15AE43FD});

} // namespace

class JsonValueTest : public QObject {
    Q_OBJECT

private slots:
    // Scalars read the same in both forms; floats in the shortest text that reads back as the
    // same float, doubles exactly.
    void writesScalars_data() {
        QTest::addColumn<QByteArray>("compact");
        QTest::addColumn<QByteArray>("sorted");
        QTest::addColumn<QByteArray>("expected");
        const auto row = [](const JsonValue& value, const char* expected) {
            QTest::newRow(expected)
                << writeCompact(value) << writeSortedIndented(value) << QByteArray(expected);
        };
        row(JsonValue(), "null");
        row(JsonValue(true), "true");
        row(JsonValue(false), "false");
        row(JsonValue(std::numeric_limits<qint32>::min()), "-2147483648");
        row(JsonValue(std::numeric_limits<quint32>::max()), "4294967295");
        row(JsonValue(std::numeric_limits<qint64>::max()), "9223372036854775807");
        row(JsonValue(QString()), "\"\"");
        row(JsonValue(0.8F), "0.8");
        row(JsonValue(1.0F), "1");
        row(JsonValue(0.0F), "0");
        row(JsonValue(16777216.0F), "16777216");
        row(JsonValue(std::numeric_limits<float>::denorm_min()), "1e-45");
        row(JsonValue(std::numeric_limits<float>::max()), "3.4028235e+38");
        row(JsonValue(kMisrounded), "7.038530691851209e-26");
        row(JsonValue(-kMisrounded), "-7.038530691851209e-26");
        row(JsonValue(1.0 / 3.0), "0.3333333333333333");
        row(JsonValue(727012345.678901), "727012345.678901");
    }
    void writesScalars() {
        QFETCH(QByteArray, compact);
        QFETCH(QByteArray, sorted);
        QTEST(compact, "expected");
        QTEST(sorted, "expected");
    }

    // A sweep across all exponents and both signs of floats, and random doubles.
    void everyNumberReadsBackThroughTheJsonParser() {
        int checked = 0;
        for (std::uint32_t bits = 0; bits < 0xFFFFFFFFu - 99991u; bits += 99991) {
            const auto value = std::bit_cast<float>(bits);
            if (std::isfinite(value)) {
                const QByteArray text = writeCompact(JsonValue(value));
                QVERIFY2(static_cast<float>(readNumber(text)) == value, text.constData());
                ++checked;
            }
        }
        QVERIFY(checked > 40000);
        QCOMPARE(static_cast<float>(readNumber(writeCompact(JsonValue(kMisrounded)))), kMisrounded);
        for (int i = 0; i < 20000; ++i) {
            const auto value = std::bit_cast<double>(QRandomGenerator::global()->generate64());
            if (std::isfinite(value)) {
                QCOMPARE(readNumber(writeCompact(JsonValue(value))), value);
            }
        }
    }

    void numbersThatJsonCannotHoldAreRefused() {
        const double inf = std::numeric_limits<double>::infinity();
        for (const double value : {std::numeric_limits<double>::quiet_NaN(), inf, -inf}) {
            QVERIFY_THROWS_EXCEPTION(JsonEncodingError, writeCompact(JsonValue(value)));
            QVERIFY_THROWS_EXCEPTION(JsonEncodingError,
                                     writeSortedIndented(JsonValue(static_cast<float>(value))));
        }
        JsonValue::Object object; // deep inside a document too
        object.emplace_back(QStringLiteral("a"), JsonValue::Array{JsonValue(float(inf))});
        QVERIFY_THROWS_EXCEPTION(JsonEncodingError, writeCompact(object));
    }

    void stringsEscapeSlashesQuotesAndControls() {
        const QString text = QStringLiteral("a/b\"c\\d\n\t\r\b\f\u0001\u001F\u007F é錄😀");
        const QByteArray written = writeCompact(JsonValue(text));
        QCOMPARE(written, QByteArray("\"a\\/b\\\"c\\\\d\\n\\t\\r\\b\\f\\u0001\\u001f\x7f \xc3\xa9"
                                     "\xe9\x8c\x84\xf0\x9f\x98\x80\""));
        QCOMPARE(QJsonDocument::fromJson("[" + written + "]").array().at(0).toString(), text);
    }
};

KIVO_TEST_CLASS(JsonValueTest)
#include "JsonValueTest.moc"
