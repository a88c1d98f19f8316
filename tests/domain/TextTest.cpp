#include "domain/Text.h"

#include "TestMain.h"

#include <QTest>

using namespace kivo;

namespace {

const QString kFamily =
    QStringLiteral("👨‍👩‍👧‍👦");      // four people joined by three ZWJ
const QString kAccentedE = QStringLiteral("e\u0301"); // e + combining acute
const QString kTaiwanFlag = QStringLiteral("🇹🇼");     // two regional indicators

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
        QTest::newRow("rainbow flag sequence") << QStringLiteral("🏳️‍🌈");
        QTest::newRow("skin tone modifier") << QStringLiteral("👍🏽");
        QTest::newRow("hangul jamo syllable") << QStringLiteral("\u1100\u1161\u11A8");
        QTest::newRow("carriage return line feed") << QStringLiteral("\r\n");
        QTest::newRow("CJK ideograph") << QStringLiteral("錄");
        QTest::newRow("supplementary ideograph") << QStringLiteral("𠀋");
    }
    void oneUserPerceivedCharacterIsKeptWhole() {
        QFETCH(QString, character);
        QCOMPARE(firstCharacters(character + QStringLiteral("x"), 1), character);
        QCOMPARE(firstCharacters(character.repeated(5), 3), character.repeated(3));
    }

    void cutsAfterTheGivenNumberOfCharacters_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* name, const QString& text, int count,
                            const QString& expected) {
            QTest::newRow(name) << text << count << expected;
        };
        const auto s = [](const char* text) { return QString::fromUtf8(text); };
        row("ascii", s("abcdef"), 3, s("abc"));
        row("shorter than the limit", s("ab"), 3, s("ab"));
        row("zero", s("ab"), 0, QString());
        row("empty", QString(), 3, QString());
        row("mixed clusters", kFamily + kAccentedE + s("x") + kTaiwanFlag, 3,
            kFamily + kAccentedE + s("x"));
        row("80 families", kFamily.repeated(81), 80, kFamily.repeated(80));
        row("79 families", kFamily.repeated(80), 79, kFamily.repeated(79));
        row("odd regional indicators: a flag, then a lone one", s("🇹🇼🇹"), 1, kTaiwanFlag);
        row("a flag after an emoji pairs its own indicators", s("🏳") + kTaiwanFlag + s("x"), 2,
            s("🏳") + kTaiwanFlag);
        row("emoji after devanagari stays whole", s("\u0915\u0937🧑🏽z"), 3,
            s("\u0915\u0937🧑🏽"));
        row("emoji after thai", s("a\u0E33🧑x"), 2, s("a\u0E33🧑"));
        row("zero-width joiner between letters stays with the first", s("a\u200Dbc"), 1,
            s("a\u200D"));
    }
    void cutsAfterTheGivenNumberOfCharacters() {
        QFETCH(QString, text);
        QFETCH(int, count);
        QTEST(firstCharacters(text, count), "expected");
    }
};

KIVO_TEST_CLASS(TextTest)
#include "TextTest.moc"
