#include "TestMain.h"

#include "infrastructure/system/PulseSourceCatalog.h"

#include <QTest>

using namespace kivo;
using namespace Qt::StringLiterals;

// The order in which running applications are offered.
class PulseSourceCatalogTest : public QObject {
    Q_OBJECT

private slots:
    void applicationsAreOrderedByNameAsPeopleReadThem_data() {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QList<qint32>>("order"); // positions in `names`
        QTest::newRow("case ignored, digits by value")
            << QStringList{u"b"_s, u"A"_s, u"a10"_s, u"a9"_s} << QList<qint32>{1, 3, 2, 0};
        QStringList same;
        QList<qint32> listed;
        for (qint32 i = 0; i < 40; ++i) { // enough for a sort that is not stable to show it
            same << QStringList{u"app"_s, u"App"_s, u"APP"_s}[i % 3];
            listed << i;
        }
        QTest::newRow("equal names keep their order") << same << listed;
    }

    void applicationsAreOrderedByNameAsPeopleReadThem() {
        QFETCH(QStringList, names);
        QFETCH(QList<qint32>, order);
        std::vector<RunningAudioApp> apps;
        for (qint32 i = 0; i < names.size(); ++i) {
            apps.push_back({i, names[i], std::nullopt});
        }
        QList<qint32> sorted;
        for (const auto& app : PulseSourceCatalog::sortedByName(apps)) {
            sorted << app.id;
        }
        QCOMPARE(sorted, order);
    }
};

KIVO_TEST_CLASS(PulseSourceCatalogTest)
#include "PulseSourceCatalogTest.moc"
