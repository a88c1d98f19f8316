#include "domain/RecordingNames.h"

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

} // namespace

class RecordingNamesTest : public QObject {
    Q_OBJECT

private slots:
    void safeComponent_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("separators") << QStringLiteral("a/b:c") << QStringLiteral("a_b_c");
        QTest::newRow("all eight forbidden characters")
            << QStringLiteral("/\\:?\"<>|") << QStringLiteral("________");
        QTest::newRow("two slashes are two underscores")
            << QStringLiteral("//") << QStringLiteral("__");
        QTest::newRow("two spaces fall back") << QStringLiteral("  ") << QStringLiteral("錄音");
        QTest::newRow("empty falls back") << QString() << QStringLiteral("錄音");
        QTest::newRow("one dot falls back") << QStringLiteral(".") << QStringLiteral("錄音");
        QTest::newRow("two dots fall back") << QStringLiteral("..") << QStringLiteral("錄音");
        QTest::newRow("dots after trimming fall back")
            << QStringLiteral(" .. ") << QStringLiteral("錄音");
        QTest::newRow("three dots stay") << QStringLiteral("...") << QStringLiteral("...");
        QTest::newRow("tab inside") << QStringLiteral("a\tb") << QStringLiteral("a_b");
        QTest::newRow("line feed inside") << QStringLiteral("a\nb") << QStringLiteral("a_b");
        // Replaced before trimming, so these are not trimmed away.
        QTest::newRow("tab at the ends") << QStringLiteral("\ta\t") << QStringLiteral("_a_");
        QTest::newRow("line feed at the end") << QStringLiteral("a\n") << QStringLiteral("a_");
        QTest::newRow("null") << QStringLiteral("a\u0000b") << QStringLiteral("a_b");
        QTest::newRow("delete") << QStringLiteral("a\u007Fb") << QStringLiteral("a_b");
        QTest::newRow("soft hyphen") << QStringLiteral("a\u00ADb") << QStringLiteral("a_b");
        QTest::newRow("byte order mark") << QStringLiteral("\uFEFFa") << QStringLiteral("_a");
        QTest::newRow("supplementary format character (tag)")
            << QStringLiteral("a\U000E0041") << QStringLiteral("a_");
        QTest::newRow("spaces trimmed") << QStringLiteral("  會議  ") << QStringLiteral("會議");
        QTest::newRow("no-break space trimmed")
            << QStringLiteral("\u00A0會議\u00A0") << QStringLiteral("會議");
        QTest::newRow("ideographic space trimmed")
            << QStringLiteral("\u3000會議\u3000") << QStringLiteral("會議");
        QTest::newRow("line and paragraph separators trimmed")
            << QStringLiteral("\u2028會議\u2029") << QStringLiteral("會議");
        // NEL is a control character: replaced first, so never trimmed.
        QTest::newRow("next line is replaced")
            << QStringLiteral("會議\u0085") << QStringLiteral("會議_");
        QTest::newRow("inner spaces stay")
            << QStringLiteral("週會 2024 紀錄") << QStringLiteral("週會 2024 紀錄");
        QTest::newRow("other punctuation passes")
            << QStringLiteral("*%&#.'") << QStringLiteral("*%&#.'");
        QTest::newRow("three people joined by zero-width joiners")
            << QStringLiteral("👨\u200D👩\u200D👧") << QStringLiteral("👨_👩_👧");
        QTest::newRow("combining mark passes")
            << QStringLiteral("Cafe\u0301") << QStringLiteral("Cafe\u0301");
    }
    void safeComponent() {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(RecordingNames::safeComponent(text), expected);
    }

    void longNamesAreCutToEightyCharacters() {
        const QString hundred = repeated(QStringLiteral("錄"), 100);
        QCOMPARE(RecordingNames::safeComponent(hundred), repeated(QStringLiteral("錄"), 80));
        // Cut by user-perceived characters: a flag is one, an accented letter is one.
        const QString flags = repeated(QStringLiteral("🇹🇼"), 90);
        QCOMPARE(RecordingNames::safeComponent(flags), repeated(QStringLiteral("🇹🇼"), 80));
        const QString accented = repeated(QStringLiteral("e\u0301"), 81);
        QCOMPARE(RecordingNames::safeComponent(accented), repeated(QStringLiteral("e\u0301"), 80));
    }

    void cutHappensAfterTrimming() {
        const QString text =
            QStringLiteral("   ") + repeated(QStringLiteral("a"), 80) + QStringLiteral("   ");
        QCOMPARE(RecordingNames::safeComponent(text), repeated(QStringLiteral("a"), 80));
    }
};

KIVO_TEST_CLASS(RecordingNamesTest)
#include "RecordingNamesTest.moc"
