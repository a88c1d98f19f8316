#include "ui/LibraryPage.h"
#include "TestMain.h"
#include "UiTestSupport.h"
#include "ui/KivoButton.h"
#include "ui/KivoPicker.h"
#include "ui/LibraryRow.h"
#include "ui/PlayerBar.h"

#include <QLineEdit>
#include <QMenu>
#include <QSlider>
#include <QTest>
#include <QToolButton>

using namespace kivo;
using namespace kivo::test;
using namespace Qt::StringLiterals;

namespace {

// The texts of `expected` that `root` shows, in the order shown.
QStringList shownOf(QWidget* root, const QStringList& expected) {
    QStringList texts = visibleTexts(root);
    texts.removeIf([&](const QString& text) { return !expected.contains(text); });
    return texts;
}

} // namespace

class LibraryPageTest : public QObject {
    Q_OBJECT

private slots:
    void listFollowsTheFiltersAndSaysWhyItIsEmpty_data() {
        QTest::addColumn<int>("records");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("source");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("system, oldest first")
            << 4 << QString() << 1 << QStringList{u"錄音 4"_s, u"錄音 1"_s};
        QTest::newRow("search") << 3 << u"2"_s << 0 << QStringList{u"錄音 2"_s};
        QTest::newRow("nothing matches")
            << 3 << u"x"_s << 0
            << QStringList{u"沒有符合條件的錄音"_s, u"試著更換關鍵字或來源。"_s};
        QTest::newRow("empty library")
            << 0 << QString() << 0
            << QStringList{u"還沒有錄音"_s, u"開始一段新錄音，把想留的聲音保存下來。"_s};
    }

    void listFollowsTheFiltersAndSaysWhyItIsEmpty() {
        QFETCH(int, records);
        QFETCH(QString, typed);
        QFETCH(int, source);
        QFETCH(QStringList, shown);
        UiFixture fixture(records);
        LibraryPage page(fixture.model(), fixture.desktop());
        QTest::keyClicks(page.searchField(), typed);
        page.sourcePicker()->setCurrentIndex(source);
        page.orderPicker()->setCurrentIndex(1);
        QCOMPARE(shownOf(&page, shown), shown);
    }

    void aMissingFirstFileBlocksPlayAndShareButStillReveals_data() {
        QTest::addColumn<bool>("missing");
        QTest::newRow("present") << false;
        QTest::newRow("merged file missing") << true;
    }

    void aMissingFirstFileBlocksPlayAndShareButStillReveals() {
        QFETCH(bool, missing);
        UiFixture fixture(2, {1});
        LibraryPage page(fixture.model(), fixture.desktop());
        LibraryRow* row = page.rows().at(missing ? 1 : 0);
        QCOMPARE(visibleTexts(row).contains(u"檔案不存在"_s), missing);
        QCOMPARE(row->playButton()->isEnabled(), !missing);
        QCOMPARE(row->shareAction()->isEnabled(), !missing);
        QTest::mouseClick(row->revealButton(), Qt::LeftButton);
        row->shareAction()->trigger();
        const QString file = row->record().files().at(missing ? 1 : 0).toLocalFile();
        const QStringList calls{u"reveal "_s + file, u"copy "_s + file};
        QCOMPARE(fixture.desktop().calls, calls.mid(0, missing ? 1 : 2));
        QCOMPARE(fixture.model().notice().has_value(), !missing);
    }

    void playsOnlyWhenIdleWithThePlayerBarFollowing_data() {
        QTest::addColumn<QString>("step");
        QTest::addColumn<bool>("playing");
        QTest::addColumn<double>("position");
        QTest::newRow("recording: no play") << u"record"_s << false << 0.0;
        QTest::newRow("plays") << QString() << true << 0.0;
        QTest::newRow("pause") << u"toggle"_s << false << 0.0;
        QTest::newRow("seek to the end") << u"seek"_s << true << 65.0;
        QTest::newRow("close") << u"close"_s << false << 0.0;
    }

    void playsOnlyWhenIdleWithThePlayerBarFollowing() {
        QFETCH(QString, step);
        QFETCH(bool, playing);
        QFETCH(double, position);
        UiFixture fixture(2);
        LibraryPage page(fixture.model(), fixture.desktop());
        if (step == u"record") {
            fixture.record();
        }
        LibraryRow* row = page.rows().at(1);
        QCOMPARE(row->playButton()->isEnabled(), step != u"record");
        QTest::mouseClick(row->playButton(), Qt::LeftButton);
        PlayerBar* bar = page.playerBar();
        if (step == u"seek") {
            QTest::keyClick(bar->slider(), Qt::Key_End);
        } else if (step == u"toggle" || step == u"close") {
            QTest::mouseClick(step == u"toggle" ? bar->toggleButton() : bar->closeButton(),
                              Qt::LeftButton);
        }
        QCOMPARE(fixture.model().playing(), playing);
        QCOMPARE(fixture.model().playbackPosition(), position);
        QCOMPARE(page.rows().at(1), row); // updated in place, not built again
        QCOMPARE(row->playSymbol(), playing ? u"pause.circle"_s : u"play.circle"_s);
        const bool shown = step != u"record" && step != u"close";
        const QStringList texts{u"錄音 2"_s, AppModel::clock(position) + u" / 00:01:05"_s};
        QCOMPARE(bar->isVisibleTo(&page) ? visibleTexts(bar) : QStringList(),
                 shown ? texts : QStringList());
    }

    void renameAndTrashAskFirst_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("button");
        QTest::addColumn<QStringList>("names");
        const QStringList kept{u"錄音 1"_s, u"錄音 2"_s};
        QTest::newRow("rename") << u"週會"_s << u"儲存"_s << QStringList{u"週會"_s, u"錄音 2"_s};
        QTest::newRow("rename cancelled") << u"週會"_s << u"取消"_s << kept;
        QTest::newRow("only spaces") << u"  "_s << u"儲存"_s << kept;
        QTest::newRow("trash") << QString() << u"移至垃圾桶"_s << QStringList{u"錄音 2"_s};
        QTest::newRow("trash cancelled") << QString() << u"取消"_s << kept;
    }

    void renameAndTrashAskFirst() {
        QFETCH(QString, typed);
        QFETCH(QString, button);
        QFETCH(QStringList, names);
        UiFixture fixture(2);
        LibraryPage page(fixture.model(), fixture.desktop());
        page.rows().at(0)->menu()->actions().at(typed.isNull() ? 3 : 0)->trigger();
        QWidget* dialog = QApplication::activeModalWidget();
        const QString trash =
            u"合併音檔與分軌音檔會一起移至垃圾桶，可以從檔案管理員的垃圾桶復原。"_s;
        QVERIFY(visibleTexts(dialog).contains(typed.isNull() ? trash : u"重新命名錄音"_s));
        if (auto* field = dialog->findChild<QLineEdit*>(); field && !typed.isNull()) {
            field->setText(typed);
        }
        QTest::mouseClick(buttonWithText(dialog, button), Qt::LeftButton);
        QCOMPARE(shownOf(&page, {u"週會"_s, u"錄音 1"_s, u"錄音 2"_s}), names);
    }
};

KIVO_TEST_CLASS(LibraryPageTest)
#include "LibraryPageTest.moc"
