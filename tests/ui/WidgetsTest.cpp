#include "TestMain.h"
#include "UiTestSupport.h"
#include "ui/KivoButton.h"
#include "ui/KivoTheme.h"
#include "ui/NameSheet.h"

#include <QFontInfo>
#include <QLineEdit>
#include <QTest>

using namespace kivo;
using namespace kivo::test;

class WidgetsTest : public QObject {
    Q_OBJECT

private slots:
    // Han characters take their Traditional (Taiwan) forms only in the TC face of Noto CJK.
    void interfaceTextUsesTheTraditionalChineseFace() {
        const QFontInfo face(KivoTheme::font(12));
        QCOMPARE(face.family(), QStringLiteral("Noto Sans CJK TC"));
    }

    void nameSheetPassesTheNameAsTyped_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("saves");
        QTest::newRow("plain") << QStringLiteral("訪談") << true;
        QTest::newRow("surrounding spaces kept") << QStringLiteral("  訪談 ") << true;
        QTest::newRow("only spaces") << QStringLiteral("   ") << false;
        QTest::newRow("ideographic space and line break") << QStringLiteral("\u3000\n") << false;
        QTest::newRow("empty") << QString() << false;
    }

    void nameSheetPassesTheNameAsTyped() {
        QFETCH(QString, typed);
        QFETCH(bool, saves);
        QWidget parent;
        QStringList saved;
        NameSheet sheet(
            QStringLiteral("儲存錄音方案"), QStringLiteral("我的錄音方案"),
            [&](const QString& name) { saved.append(name); }, &parent);
        sheet.field()->setText(typed);
        QCOMPARE(sheet.saveButton()->isEnabled(), saves);
        QTest::keyClick(sheet.field(), Qt::Key_Return);
        QCOMPARE(saved, saves ? QStringList{typed} : QStringList{});
    }
};

KIVO_TEST_CLASS(WidgetsTest)
#include "WidgetsTest.moc"
