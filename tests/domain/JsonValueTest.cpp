#include "domain/JsonValue.h"

#include "TestMain.h"

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
    const auto document = QJsonDocument::fromJson(QByteArrayLiteral("[") + text + "]");
    return document.array().at(0).toDouble();
}

} // namespace

class JsonValueTest : public QObject {
    Q_OBJECT

private slots:
    void writesScalarsTheSameInBothForms() {
        const std::pair<JsonValue, QByteArray> cases[] = {
            {JsonValue(), "null"},
            {JsonValue(true), "true"},
            {JsonValue(false), "false"},
            {JsonValue(std::numeric_limits<qint32>::min()), "-2147483648"},
            {JsonValue(std::numeric_limits<quint32>::max()), "4294967295"},
            {JsonValue(std::numeric_limits<qint64>::max()), "9223372036854775807"},
            {JsonValue(QString()), "\"\""},
        };
        for (const auto& [value, expected] : cases) {
            QCOMPARE(writeCompact(value), expected);
            QCOMPARE(writeSortedIndented(value), expected);
        }
    }

    void floatsAreWrittenInTheShortestTextThatReadsBackAsTheSameFloat_data() {
        QTest::addColumn<float>("value");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("system gain") << 0.8F << QByteArrayLiteral("0.8");
        QTest::newRow("one") << 1.0F << QByteArrayLiteral("1");
        QTest::newRow("zero") << 0.0F << QByteArrayLiteral("0");
        QTest::newRow("two to the 24th") << 16777216.0F << QByteArrayLiteral("16777216");
        QTest::newRow("smallest subnormal")
            << std::numeric_limits<float>::denorm_min() << QByteArrayLiteral("1e-45");
        QTest::newRow("largest") << std::numeric_limits<float>::max()
                                 << QByteArrayLiteral("3.4028235e+38");
        // The one positive float whose shortest text, 7.038531e-26, reads as a double that
        // rounds to the next float up: it is written with its exact double value instead.
        const auto misrounded = std::bit_cast<float>(std::uint32_t{0x15AE43FD});
        QTest::newRow("misrounded by a double reader")
            << misrounded << QByteArrayLiteral("7.038530691851209e-26");
        QTest::newRow("negative, misrounded by a double reader")
            << -misrounded << QByteArrayLiteral("-7.038530691851209e-26");
    }
    void floatsAreWrittenInTheShortestTextThatReadsBackAsTheSameFloat() {
        QFETCH(float, value);
        QFETCH(QByteArray, expected);
        const QByteArray text = writeCompact(JsonValue(value));
        QCOMPARE(text, expected);
        QCOMPARE(static_cast<float>(readNumber(text)), value);
    }

    void everyFloatReadsBackThroughTheJsonParser() {
        // A sweep across all exponents and both signs, in steps that hit varied mantissas.
        std::uint32_t bits = 0;
        int checked = 0;
        do {
            const auto value = std::bit_cast<float>(bits);
            if (std::isfinite(value)) {
                const QByteArray text = writeCompact(JsonValue(value));
                // -0 reads back as 0, which compares equal.
                QVERIFY2(static_cast<float>(readNumber(text)) == value, text.constData());
                ++checked;
            }
            bits += 99991;
        } while (bits >= 99991);
        QVERIFY(checked > 40000);
    }

    void doublesReadBackExactly() {
        auto* random = QRandomGenerator::global();
        for (int i = 0; i < 20000; ++i) {
            const auto value = std::bit_cast<double>(random->generate64());
            if (!std::isfinite(value)) {
                continue;
            }
            const QByteArray text = writeCompact(JsonValue(value));
            QCOMPARE(readNumber(text), value);
        }
        QCOMPARE(writeCompact(JsonValue(1.0 / 3.0)), QByteArrayLiteral("0.3333333333333333"));
        QCOMPARE(writeCompact(JsonValue(727012345.678901)), QByteArrayLiteral("727012345.678901"));
    }

    void numbersThatJsonCannotHoldAreRefused() {
        for (const auto value :
             {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
              -std::numeric_limits<double>::infinity()}) {
            QVERIFY_THROWS_EXCEPTION(JsonEncodingError, writeCompact(JsonValue(value)));
            QVERIFY_THROWS_EXCEPTION(JsonEncodingError,
                                     writeSortedIndented(JsonValue(static_cast<float>(value))));
        }
        // Deep inside a document too.
        JsonValue::Object object;
        object.emplace_back(QStringLiteral("a"),
                            JsonValue::Array{JsonValue(std::numeric_limits<float>::infinity())});
        QVERIFY_THROWS_EXCEPTION(JsonEncodingError, writeCompact(object));
    }

    void stringsEscapeSlashesQuotesAndControls() {
        const QString text = QStringLiteral("a/b\"c\\d\n\t\r\b\f\u0001\u001F\u007F é錄😀");
        QCOMPARE(writeCompact(JsonValue(text)),
                 QByteArray("\"a\\/b\\\"c\\\\d\\n\\t\\r\\b\\f\\u0001\\u001f\x7f \xc3\xa9"
                            "\xe9\x8c\x84\xf0\x9f\x98\x80\""));
        // And Qt's parser reads it back unchanged.
        const auto document = QJsonDocument::fromJson("[" + writeCompact(JsonValue(text)) + "]");
        QCOMPARE(document.array().at(0).toString(), text);
    }

    // Compact keeps insertion order; sorted-indented sorts every object and indents by two.
    void objectsAndArraysInBothForms() {
        JsonValue::Object inner;
        inner.emplace_back(QStringLiteral("z"), true);
        inner.emplace_back(QStringLiteral("a"), nullptr);
        JsonValue::Object element;
        element.emplace_back(QStringLiteral("y"), 1);
        element.emplace_back(QStringLiteral("x"), 2.5);
        JsonValue::Object object;
        object.emplace_back(QStringLiteral("name"), QStringLiteral("x"));
        object.emplace_back(QStringLiteral("list"),
                            JsonValue::Array{element, 3, JsonValue::Array{}});
        object.emplace_back(QStringLiteral("inner"), inner);
        object.emplace_back(QStringLiteral("empty"), JsonValue::Object{});
        QCOMPARE(writeCompact(object),
                 QByteArrayLiteral(R"({"name":"x","list":[{"y":1,"x":2.5},3,[]],)"
                                   R"("inner":{"z":true,"a":null},"empty":{}})"));
        QCOMPARE(writeSortedIndented(object), QByteArrayLiteral("{\n"
                                                                "  \"empty\" : {},\n"
                                                                "  \"inner\" : {\n"
                                                                "    \"a\" : null,\n"
                                                                "    \"z\" : true\n"
                                                                "  },\n"
                                                                "  \"list\" : [\n"
                                                                "    {\n"
                                                                "      \"x\" : 2.5,\n"
                                                                "      \"y\" : 1\n"
                                                                "    },\n"
                                                                "    3,\n"
                                                                "    []\n"
                                                                "  ],\n"
                                                                "  \"name\" : \"x\"\n"
                                                                "}"));
    }

    void keysSortByCodePoint() {
        JsonValue::Object object;
        for (const auto& key : {QStringLiteral("😀"), QStringLiteral("\uFF21"), QStringLiteral("b"),
                                QStringLiteral("a"), QStringLiteral("B"), QStringLiteral("ab")}) {
            object.emplace_back(key, 0);
        }
        // Upper case before lower case; U+FF21 before U+1F600, although its UTF-16 unit is
        // larger than the emoji's leading surrogate.
        QCOMPARE(writeSortedIndented(object),
                 QString::fromUtf8("{\n  \"B\" : 0,\n  \"a\" : 0,\n  \"ab\" : 0,\n  \"b\" : 0,\n"
                                   "  \"\uFF21\" : 0,\n  \"😀\" : 0\n}")
                     .toUtf8());
    }
};

KIVO_TEST_CLASS(JsonValueTest)
#include "JsonValueTest.moc"
