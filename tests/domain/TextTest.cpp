#include "domain/Text.h"

#include "TestMain.h"

#include <QTest>

using namespace kivo;

namespace {

QString repeated(const QString& piece, int times) {
    QString text;
    for (int i = 0; i < times; ++i) {
        text += piece;
    }
    return text;
}

const QString kFamily =
    QStringLiteral("👨‍👩‍👧‍👦");                  // four people joined by three ZWJ
const QString kAccentedE = QStringLiteral("e\u0301");             // e + combining acute
const QString kTaiwanFlag = QStringLiteral("🇹🇼");                 // two regional indicators
const QString kRainbowFlag = QStringLiteral("🏳️‍🌈");    // flag, VS16, ZWJ, rainbow
const QString kThumbsUpMedium = QStringLiteral("👍🏽");       // emoji + skin tone modifier
const QString kHangulJamo = QStringLiteral("\u1100\u1161\u11A8"); // L V T syllable

} // namespace

class TextTest : public QObject {
    Q_OBJECT

private slots:
    void oneUserPerceivedCharacterIsKeptWhole_data() {
        QTest::addColumn<QString>("character");
        QTest::newRow("family joined by zero-width joiners") << kFamily;
        QTest::newRow("base letter with combining mark") << kAccentedE;
        QTest::newRow("letter with two combining marks") << QStringLiteral("a\u0308\u0323");
        QTest::newRow("flag of regional indicators") << kTaiwanFlag;
        QTest::newRow("rainbow flag sequence") << kRainbowFlag;
        QTest::newRow("skin tone modifier") << kThumbsUpMedium;
        QTest::newRow("hangul jamo syllable") << kHangulJamo;
        QTest::newRow("carriage return line feed") << QStringLiteral("\r\n");
        QTest::newRow("CJK ideograph") << QStringLiteral("錄");
        QTest::newRow("supplementary ideograph") << QStringLiteral("𠀋");
    }
    void oneUserPerceivedCharacterIsKeptWhole() {
        QFETCH(QString, character);
        QCOMPARE(firstCharacters(character + QStringLiteral("x"), 1), character);
        QCOMPARE(firstCharacters(repeated(character, 5), 3), repeated(character, 3));
    }

    void cutsAfterTheGivenNumberOfCharacters_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("expected");
        QTest::newRow("ascii") << QStringLiteral("abcdef") << 3 << QStringLiteral("abc");
        QTest::newRow("shorter than the limit")
            << QStringLiteral("ab") << 3 << QStringLiteral("ab");
        QTest::newRow("zero") << QStringLiteral("ab") << 0 << QString();
        QTest::newRow("empty") << QString() << 3 << QString();
        QTest::newRow("mixed clusters")
            << (kFamily + kAccentedE + QStringLiteral("x") + kTaiwanFlag) << 3
            << (kFamily + kAccentedE + QStringLiteral("x"));
        // Three regional indicators: a flag, then a lone indicator.
        QTest::newRow("odd regional indicators") << QStringLiteral("🇹🇼🇹") << 1 << kTaiwanFlag;
        // A flag that follows an emoji still pairs its own two indicators.
        QTest::newRow("flag after emoji")
            << (QStringLiteral("🏳") + kTaiwanFlag + QStringLiteral("x")) << 2
            << (QStringLiteral("🏳") + kTaiwanFlag);
        // Next to Devanagari an emoji's surrogate pair must not be split.
        QTest::newRow("emoji after devanagari") << QStringLiteral("\u0915\u0937🧑🏽z") << 3
                                                << QStringLiteral("\u0915\u0937🧑🏽");
        QTest::newRow("emoji after thai")
            << QStringLiteral("a\u0E33🧑x") << 2 << QStringLiteral("a\u0E33🧑");
        QTest::newRow("zero-width joiner between letters stays with the first")
            << QStringLiteral("a\u200Dbc") << 1 << QStringLiteral("a\u200D");
    }
    void cutsAfterTheGivenNumberOfCharacters() {
        QFETCH(QString, text);
        QFETCH(int, count);
        QFETCH(QString, expected);
        QCOMPARE(firstCharacters(text, count), expected);
    }

    void eightyEmojiFamiliesAreEightyCharacters() {
        const QString text = repeated(kFamily, 80);
        QCOMPARE(firstCharacters(text, 80), text);
        QCOMPARE(firstCharacters(text + kFamily, 80), text);
        QCOMPARE(firstCharacters(text, 79), repeated(kFamily, 79));
    }

    void trimsUnicodeWhiteSpaceAndLineBreaks_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("spaces") << QStringLiteral("  名稱  ") << QStringLiteral("名稱");
        QTest::newRow("line breaks")
            << QStringLiteral("\n\r\u000B\u000C\u0085名稱\r\n") << QStringLiteral("名稱");
        QTest::newRow("tab") << QStringLiteral("\t名稱\t") << QStringLiteral("名稱");
        QTest::newRow("no-break and ideographic spaces")
            << QStringLiteral("\u00A0\u3000名稱\u3000\u202F") << QStringLiteral("名稱");
        QTest::newRow("en quad to hair space, ogham mark")
            << QStringLiteral("\u2000\u200A\u1680名稱\u205F") << QStringLiteral("名稱");
        QTest::newRow("line and paragraph separators")
            << QStringLiteral("\u2028名稱\u2029") << QStringLiteral("名稱");
        QTest::newRow("inner white space stays")
            << QStringLiteral(" a \n b ") << QStringLiteral("a \n b");
        QTest::newRow("only white space") << QStringLiteral(" \n\u3000\t") << QString();
        // Not white space: zero-width space, zero-width joiner, byte order mark, a control.
        QTest::newRow("zero-width characters are not white space")
            << QStringLiteral("\u200B名稱\uFEFF") << QStringLiteral("\u200B名稱\uFEFF");
        QTest::newRow("other controls are not white space")
            << QStringLiteral("\u0001名稱\u001F") << QStringLiteral("\u0001名稱\u001F");
        QTest::newRow("emoji at the ends stay") << (kFamily + QStringLiteral(" ")) << kFamily;
    }
    void trimsUnicodeWhiteSpaceAndLineBreaks() {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(trimmedWhitespace(text), expected);
    }
};

KIVO_TEST_CLASS(TextTest)
#include "TextTest.moc"
