#include "TestMain.h"

#include "infrastructure/PlatformError.h"
#include "infrastructure/system/FreedesktopTrash.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace kivo;
using namespace Qt::StringLiterals;

// Moving files to the user's trash, in a home folder of the test's own.
class FreedesktopTrashTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        QTest::failOnWarning(QRegularExpression(u".*"_s));
        QVERIFY(m_home.isValid());
        qputenv("HOME", QFile::encodeName(m_home.path()));
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_home.filePath(u"data"_s)));
    }

    // The data folder does not exist yet, as in a fresh home folder.
    void aFileGoesToTheTrashWithItsContents() {
        const auto path = m_home.filePath(u"會議.m4a"_s);
        QVERIFY(QFile(path).open(QIODevice::WriteOnly));

        FreedesktopTrash().moveToTrash(path);

        QVERIFY(!QFile::exists(path));
        QVERIFY(QFile::exists(m_home.filePath(u"data/Trash/files/會議.m4a"_s)));
        QVERIFY(QFile::exists(m_home.filePath(u"data/Trash/info/會議.m4a.trashinfo"_s)));
    }

    void aMissingFileIsReportedByName() {
        const auto path = m_home.filePath(u"不見了.m4a"_s);
        try {
            FreedesktopTrash().moveToTrash(path);
            QFAIL("no error");
        } catch (const PlatformError& error) {
            QCOMPARE(error.description(), u"無法將「%1」移至垃圾桶：檔案不存在"_s.arg(path));
        }
    }

private:
    QTemporaryDir m_home;
};

KIVO_TEST_CLASS(FreedesktopTrashTest)
#include "FreedesktopTrashTest.moc"
