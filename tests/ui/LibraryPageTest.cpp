#include "ui/LibraryPage.h"
#include "TestMain.h"
#include "UiTestSupport.h"
#include "ui/KivoButton.h"
#include "ui/KivoPicker.h"
#include "ui/LibraryList.h"
#include "ui/LibraryListModel.h"
#include "ui/Panel.h"
#include "ui/PlayerBar.h"

#include <QApplication>
#include <QHelpEvent>
#include <QLineEdit>
#include <QMenu>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <QToolTip>

using namespace kivo;
using namespace kivo::test;
using namespace Qt::StringLiterals;
using Button = LibraryRowDelegate::Button;

namespace {

// What the page lists: the names of its rows, or the texts of its empty state.
QStringList shown(LibraryPage& page) {
    QStringList names;
    for (int row = 0; row < page.listModel()->rowCount(); ++row) {
        names.append(page.listModel()->record(row).name());
    }
    if (names.isEmpty()) {
        names = visibleTexts(&page);
        names.removeIf([](const QString& text) {
            return !text.contains(u"錄音"_s) && !text.contains(u"試著"_s);
        });
    }
    return names;
}

// Shown at a size that lays the list out, with the files of every row looked for.
void showPage(LibraryPage& page) {
    page.resize(900, 600);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    QTRY_VERIFY(page.listModel()->rowCount() == 0 || page.listModel()->files(0).checked);
}

void click(LibraryPage& page, int row, Button button) {
    QTest::mouseClick(page.list()->viewport(), Qt::LeftButton, {},
                      page.list()->buttonRect(row, button).center());
}

} // namespace

class LibraryPageTest : public QObject {
    Q_OBJECT

private slots:
    void listFollowsTheFiltersAndSaysWhyItIsEmpty_data() {
        QTest::addColumn<int>("records");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("source");
        QTest::addColumn<QStringList>("listed");
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
        QFETCH(QStringList, listed);
        UiFixture fixture(records);
        LibraryPage page(fixture.model(), fixture.desktop());
        page.show();
        QTest::keyClicks(page.searchField(), typed);
        page.sourcePicker()->setCurrentIndex(source);
        page.orderPicker()->setCurrentIndex(1);
        QCOMPARE(shown(page), listed);
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
        showPage(page);
        const int row = missing ? 1 : 0;
        QCOMPARE(page.listModel()->files(row).missing(), missing);
        QCOMPARE(page.listModel()->canPlay(row), !missing);
        click(page, row, Button::reveal);
        QMenu* menu = page.list()->menuFor(row);
        QAction* share = menu->actions().at(1);
        QCOMPARE(share->isEnabled(), !missing);
        share->trigger();
        const QString file = page.listModel()->record(row).files().at(row).toLocalFile();
        const QStringList calls{u"reveal "_s + file, u"copy "_s + file};
        QCOMPARE(fixture.desktop().calls, calls.mid(0, missing ? 1 : 2));
        QCOMPARE(fixture.model().notice().has_value(), !missing);
        delete menu;
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
        QTest::newRow("Return plays") << u"key"_s << true << 0.0;
        QTest::newRow("the second marker") << u"marker"_s << true << 42.5;
    }

    void playsOnlyWhenIdleWithThePlayerBarFollowing() {
        QFETCH(QString, step);
        QFETCH(bool, playing);
        QFETCH(double, position);
        UiFixture fixture(2);
        LibraryPage page(fixture.model(), fixture.desktop());
        showPage(page);
        if (step == u"record") {
            fixture.record();
        }
        QCOMPARE(page.listModel()->canPlay(1), step != u"record");
        if (step == u"key") {
            page.list()->setCurrentIndex(page.listModel()->index(1));
            QTest::keyClick(page.list(), Qt::Key_Return);
        } else {
            click(page, 1, Button::play);
        }
        PlayerBar* bar = page.playerBar();
        if (step == u"marker") {
            // The list of markers opens as a menu; its second entry jumps there.
            QTimer::singleShot(0, [] {
                QWidget* menu = QApplication::activePopupWidget();
                QVERIFY(menu);
                menu->actions().at(1)->trigger();
                menu->close();
            });
            QTest::mouseClick(bar->markersButton(), Qt::LeftButton);
        } else if (step == u"seek") {
            QTest::keyClick(bar->slider(), Qt::Key_End);
        } else if (step == u"toggle" || step == u"close") {
            QTest::mouseClick(step == u"toggle" ? bar->toggleButton() : bar->closeButton(),
                              Qt::LeftButton);
        }
        QCOMPARE(fixture.model().playing(), playing);
        QCOMPARE(fixture.model().playbackPosition(), position);
        QCOMPARE(page.listModel()->isPlaying(1), playing);
        const bool barShown = step != u"record" && step != u"close";
        const QStringList texts{u"錄音 2"_s, AppModel::clock(position) + u" / 00:01:05"_s};
        QCOMPARE(bar->isVisibleTo(&page) ? visibleTexts(bar) : QStringList(),
                 barShown ? texts : QStringList());
    }

    // By keyboard: F2 renames, Delete asks before moving to the trash. A long name is cut with
    // "…" and shown whole, as written, in the row's tooltip.
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
        QTest::newRow("trash, Return") << QString() << QString() << kept;
        QTest::newRow("markup as a name")
            << u"<b>週會</b>"_s << u"儲存"_s << QStringList{u"<b>週會</b>"_s, u"錄音 2"_s};
    }

    void renameAndTrashAskFirst() {
        QFETCH(QString, typed);
        QFETCH(QString, button);
        QFETCH(QStringList, names);
        UiFixture fixture(2);
        LibraryPage page(fixture.model(), fixture.desktop());
        page.show();
        page.list()->setCurrentIndex(page.listModel()->index(0));
        QTest::keyClick(page.list(), typed.isNull() ? Qt::Key_Delete : Qt::Key_F2);
        QWidget* dialog = QApplication::activeModalWidget();
        const QString trash =
            u"合併音檔與分軌音檔會一起移至垃圾桶，可以從檔案管理員的垃圾桶復原。"_s;
        QVERIFY(visibleTexts(dialog).contains(typed.isNull() ? trash : u"重新命名錄音"_s));
        if (auto* field = dialog->findChild<QLineEdit*>(); field && !typed.isNull()) {
            field->setText(typed);
        }
        if (button.isEmpty()) {
            QTest::keyClick(dialog, Qt::Key_Return);
        } else {
            QTest::mouseClick(buttonWithText(dialog, button), Qt::LeftButton);
        }
        QCOMPARE(shown(page), names);
        if (typed.startsWith(u'<')) {
            showPage(page);
            const QRect row = page.list()->visualRect(page.listModel()->index(0));
            QHelpEvent help(QEvent::ToolTip, row.topLeft() + QPoint(80, 20),
                            page.list()->viewport()->mapToGlobal(row.topLeft()));
            QApplication::sendEvent(page.list()->viewport(), &help);
            QCOMPARE(QToolTip::text(), plainToolTip(typed));
        }
    }
};

KIVO_TEST_CLASS(LibraryPageTest)
#include "LibraryPageTest.moc"
