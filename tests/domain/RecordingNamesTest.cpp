#include "domain/RecordingNames.h"

#include "TestMain.h"

#include <QTest>

using namespace kivo;

class RecordingNamesTest : public QObject {
    Q_OBJECT

private slots:
    // Forbidden and control or format characters become underscores before trimming; empty or
    // dot-only names fall back; the result is cut to eighty characters after trimming.
    void safeComponent_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* name, const QString& text, const QString& expected) {
            QTest::newRow(name) << text << expected;
        };
        const auto s = [](const char* text) { return QString::fromUtf8(text); };
        row("separators", s("a/b:c"), s("a_b_c"));
        row("all eight forbidden characters", s("/\\:?\"<>|"), s("________"));
        row("two slashes are two underscores", s("//"), s("__"));
        row("two spaces fall back", s("  "), s("錄音"));
        row("empty falls back", QString(), s("錄音"));
        row("one dot falls back", s("."), s("錄音"));
        row("two dots fall back", s(".."), s("錄音"));
        row("dots after trimming fall back", s(" .. "), s("錄音"));
        row("three dots stay", s("..."), s("..."));
        row("tab inside", s("a\tb"), s("a_b"));
        row("tab at the ends is not trimmed away", s("\ta\t"), s("_a_"));
        row("line feed at the end", s("a\n"), s("a_"));
        row("null", QStringLiteral("a\u0000b"), s("a_b"));
        row("delete", s("a\u007Fb"), s("a_b"));
        row("soft hyphen", s("a\u00ADb"), s("a_b"));
        row("byte order mark", QStringLiteral("\uFEFFa"), s("_a"));
        row("supplementary format character (tag)", s("a\U000E0041"), s("a_"));
        row("spaces trimmed", s("  會議  "), s("會議"));
        row("no-break space trimmed", s("\u00A0會議\u00A0"), s("會議"));
        row("ideographic space trimmed", s("\u3000會議\u3000"), s("會議"));
        row("line and paragraph separators trimmed", s("\u2028會議\u2029"), s("會議"));
        row("next line is a control: replaced, not trimmed", s("會議\u0085"), s("會議_"));
        row("inner spaces stay", s("週會 2024 紀錄"), s("週會 2024 紀錄"));
        row("other punctuation passes", s("*%&#.'"), s("*%&#.'"));
        row("zero-width joiners", s("👨\u200D👩\u200D👧"), s("👨_👩_👧"));
        row("combining mark passes", s("Cafe\u0301"), s("Cafe\u0301"));
        row("100 characters cut to 80", s("錄").repeated(100), s("錄").repeated(80));
        row("a flag is one character", s("🇹🇼").repeated(90), s("🇹🇼").repeated(80));
        row("an accented letter is one character", s("e\u0301").repeated(81),
            s("e\u0301").repeated(80));
        row("cut after trimming", s("   ") + s("a").repeated(80) + s("   "), s("a").repeated(80));
    }
    void safeComponent() {
        QFETCH(QString, text);
        QTEST(RecordingNames::safeComponent(text), "expected");
    }
};

KIVO_TEST_CLASS(RecordingNamesTest)
#include "RecordingNamesTest.moc"
