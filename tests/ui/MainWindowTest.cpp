#include "ui/MainWindow.h"
#include "TestMain.h"
#include "UiTestSupport.h"
#include "application/KivoAppDelegate.h"
#include "infrastructure/storage/LibraryStore.h"
#include "ui/DesktopShell.h"
#include "ui/KivoButton.h"
#include "ui/NameSheet.h"
#include "ui/Panel.h"
#include "ui/RecordingControlsView.h"
#include "ui/SidebarButton.h"
#include "ui/WaveformView.h"
#include "ui/WindowFitting.h"
#include "ui/WindowMemory.h"

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QScrollArea>
#include <QTest>

using namespace kivo;
using namespace kivo::test;
using namespace Qt::StringLiterals;

namespace {

class AnsweringQuestion : public QuitQuestion {
public:
    bool answer = true;
    int asked = 0;
    bool confirmStopAndQuit() override {
        ++asked;
        return answer;
    }
};

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void sidebarSwitchesPagesAndHeadings_data() {
        QTest::addColumn<int>("page");
        QTest::addColumn<QString>("eyebrow");
        QTest::addColumn<QString>("button");
        QTest::newRow("studio") << 0 << QStringLiteral("YOUR SOUND, SAVED.")
                                << QStringLiteral("儲存為方案");
        QTest::newRow("library") << 1 << QStringLiteral("A PLACE FOR EVERY SOUND.")
                                 << QStringLiteral("＋ 新錄音");
        QTest::newRow("presets") << 2 << QStringLiteral("READY WHEN YOU ARE.")
                                 << QStringLiteral("儲存為方案");
        QTest::newRow("settings") << 3 << QStringLiteral("MAKE IT YOURS.")
                                  << QStringLiteral("儲存設定");
    }

    void sidebarSwitchesPagesAndHeadings() {
        QFETCH(int, page);
        QFETCH(QString, eyebrow);
        QFETCH(QString, button);
        UiFixture fixture(3);
        MainWindow window(fixture.model(), fixture.desktop());
        const auto kivoPage = static_cast<KivoPage>(page);
        QTest::mouseClick(window.pageButton(kivoPage), Qt::LeftButton);
        QCOMPARE(fixture.model().page(), kivoPage);
        QVERIFY(window.page(kivoPage)->isVisibleTo(&window));
        QCOMPARE(visibleTexts(&window).count(eyebrow), 1);
        QCOMPARE(window.headingButton()->text(), button);
        QCOMPARE(window.pageButton(KivoPage::library)->count(), std::optional<int>(3));
    }

    // Saving settings or a preset needs an idle recorder and a writable library; the controls
    // bar leaves the other pages once the recording is saved.
    void enablingFollowsTheRecording_data() {
        QTest::addColumn<QString>("state");
        QTest::addColumn<bool>("saveEnabled");
        QTest::addColumn<bool>("barOnLibrary");
        QTest::newRow("idle") << QStringLiteral("idle") << true << false;
        QTest::newRow("recording") << QStringLiteral("recording") << false << true;
        QTest::newRow("paused") << QStringLiteral("paused") << false << true;
        QTest::newRow("saving") << QStringLiteral("saving") << false << true;
        QTest::newRow("saved") << QStringLiteral("saved") << true << false;
        QTest::newRow("storage unavailable") << QStringLiteral("locked") << false << false;
    }

    void enablingFollowsTheRecording() {
        QFETCH(QString, state);
        QFETCH(bool, saveEnabled);
        QFETCH(bool, barOnLibrary);
        UiFixture fixture;
        std::unique_ptr<AppModel> second;
        AppModel* model = &fixture.model();
        if (state == QStringLiteral("locked")) {
            AppServices services;
            services.backend = std::make_shared<FakeRecordingBackend>();
            services.storage = std::make_unique<LibraryStore>(
                fixture.folder() + QStringLiteral("/library"), QUrl());
            second = std::make_unique<AppModel>(std::move(services));
            model = second.get();
            QVERIFY(!model->storageAvailable());
        } else if (state == QStringLiteral("recording")) {
            fixture.record();
        } else if (state == QStringLiteral("paused")) {
            fixture.pause();
        } else if (state == QStringLiteral("saving") || state == QStringLiteral("saved")) {
            fixture.beginSaving();
            if (state == QStringLiteral("saved")) {
                fixture.finishSaving();
            }
        }
        MainWindow window(*model, fixture.desktop());
        for (KivoPage page : {KivoPage::settings, KivoPage::presets}) {
            model->setPage(page);
            QCOMPARE(window.headingButton()->isEnabled(), saveEnabled);
        }
        model->setPage(KivoPage::library);
        QVERIFY(window.headingButton()->isEnabled());
        QCOMPARE(window.controls()->isVisibleTo(&window), barOnLibrary);
        model->setPage(KivoPage::studio);
        QVERIFY(window.controls()->isVisibleTo(&window));
    }

    void presetSheetSavesTheTypedName() {
        UiFixture fixture;
        MainWindow window(fixture.model(), fixture.desktop());
        window.show();
        QTest::mouseClick(window.headingButton(), Qt::LeftButton);
        auto* sheet = window.findChild<NameSheet*>();
        QVERIFY(sheet);
        QCOMPARE(sheet->field()->text(), QStringLiteral("我的錄音方案"));
        sheet->field()->setText(QStringLiteral(" 訪談 "));
        QTest::mouseClick(sheet->saveButton(), Qt::LeftButton);
        QCOMPARE(fixture.model().library().presets.size(), 1);
        QCOMPARE(fixture.model().library().presets.first().name, QStringLiteral(" 訪談 "));
    }

    // A name is shown as typed, never as markup. A session exported before is recovered at once,
    // from within the click on its own row's button.
    void noticeAlertAndRecoveryPanelFollowTheModel() {
        UiFixture fixture;
        RecordingConfiguration configuration(QUrl::fromLocalFile(fixture.folder()));
        configuration.name = QStringLiteral("<b>週會</b>");
        RecoveryManifest manifest(QUuid::createUuid(), Date{800000000}, configuration);
        const QString exported = fixture.folder() + QStringLiteral("/週會.m4a");
        QVERIFY(QFile(exported).open(QIODevice::WriteOnly));
        manifest.exported = RecordingRecord(manifest.id, configuration.name, manifest.startedAt,
                                            1.0, configuration, {QUrl::fromLocalFile(exported)});
        const QString session = fixture.model().capturesRoot() + QLatin1Char('/') +
                                manifest.id.toString(QUuid::WithoutBraces);
        QVERIFY(QDir().mkpath(session));
        QFile file(session + QStringLiteral("/session.json"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(manifest.encoded()) > 0);
        file.close();
        MainWindow window(fixture.model(), fixture.desktop());
        window.show();
        QVERIFY(!window.recoveryPanel()->isVisible());
        fixture.model().scanRecoveries();
        QVERIFY(window.recoveryPanel()->isVisible());
        for (QLabel* label : window.recoveryPanel()->findChildren<QLabel*>()) {
            QVERIFY(label->text() != configuration.name || label->textFormat() == Qt::PlainText);
        }
        QVERIFY(visibleTexts(window.recoveryPanel()).contains(configuration.name));
        fixture.record();
        QAbstractButton* recover =
            buttonWithText(window.recoveryPanel(), QStringLiteral("復原音檔"));
        QVERIFY(!recover->isEnabled());
        fixture.model().stop();
        QTRY_VERIFY(recover->isEnabled());
        QTest::mouseClick(recover, Qt::LeftButton);
        QCOMPARE(*fixture.model().notice(), QStringLiteral("已復原「<b>週會</b>」。"));
        QVERIFY(!window.recoveryPanel()->isVisible());

        fixture.model().setNotice(std::nullopt);
        QTest::qWait(20); // the layouts' turn
        const int controlsAt = window.controls()->y();
        fixture.model().setNotice(QStringLiteral("已保存"));
        QVERIFY(window.noticeLine()->isVisible());
        QTest::qWait(20);
        QCOMPARE(window.controls()->y(), controlsAt); // the notice moves nothing
        QTest::mouseClick(window.findChild<KivoButton*>(QStringLiteral("closeNotice")),
                          Qt::LeftButton);
        QVERIFY(!fixture.model().notice());
        QVERIFY(!window.noticeLine()->isVisible());

        fixture.model().setAlertMessage(QStringLiteral("無法保存錄音。"));
        QVERIFY(window.alert());
        QCOMPARE(window.alert()->text(), QStringLiteral("無法保存錄音。"));
        buttonWithText(window.alert(), QStringLiteral("好"))->click();
        QVERIFY(!fixture.model().alertMessage());
    }

    void windowIsFittedIntoTheScreen_data() {
        QTest::addColumn<QRect>("frame");
        QTest::addColumn<QRect>("fitted");
        const QRect screen(0, 0, 1280, 800);
        QTest::newRow("inside") << QRect(100, 50, 1000, 600) << QRect(100, 50, 1000, 600);
        QTest::newRow("too large") << QRect(0, 0, 1400, 900) << QRect(8, 8, 1264, 784);
        QTest::newRow("off the right") << QRect(600, 100, 1000, 600) << QRect(272, 100, 1000, 600);
        QTest::newRow("above the top") << QRect(-50, -30, 1000, 600) << QRect(8, 8, 1000, 600);
        QTest::newRow("second screen") << QRect(1200, 900, 800, 500) << QRect(1288, 908, 800, 500);
    }

    void windowIsFittedIntoTheScreen() {
        QFETCH(QRect, frame);
        QFETCH(QRect, fitted);
        const QRect screen =
            QLatin1String(QTest::currentDataTag()) == QLatin1String("second screen")
                ? QRect(1280, 900, 1920, 1080)
                : QRect(0, 0, 1280, 800);
        QCOMPARE(WindowFitting::fitted(frame, screen), fitted);
    }

    void commandsFollowTheStateAndQuitAsks() {
        UiFixture fixture;
        auto question = std::make_shared<AnsweringQuestion>();
        KivoAppDelegate delegate(question);
        DesktopShell shell(fixture.model(), delegate, fixture.desktop(), true);
        QVERIFY(shell.startAction()->isEnabled());
        QVERIFY(!shell.stopAction()->isEnabled());
        fixture.pause();
        QCOMPARE(shell.pauseAction()->text(), QStringLiteral("繼續錄音(&P)"));
        QVERIFY(shell.trayMenu());
        QStringList trayTexts;
        for (QAction* action : shell.trayMenu()->actions()) {
            trayTexts.append(action->text());
        }
        QVERIFY(trayTexts.contains(QStringLiteral("Kivo · 已暫停")));
        QVERIFY(trayTexts.contains(QStringLiteral("繼續錄音(&P)")));
        shell.pauseAction()->trigger();
        QCOMPARE(fixture.model().coordinator().state(), RecordingState::recording);

        question->answer = false;
        shell.quitAction()->trigger();
        QCOMPARE(question->asked, 1);
        QCOMPARE(fixture.model().coordinator().state(), RecordingState::recording);
        question->answer = true;
        shell.quitAction()->trigger();
        QTRY_COMPARE(fixture.model().coordinator().state(), RecordingState::idle);
        QCOMPARE(fixture.backend().calls.count(QStringLiteral("stop")), 1);
    }

    // The recording commands work from the about window and the tray's menu with the main window
    // hidden; Escape closes the about window. Tab follows the screen, rows built later included.
    void commandsWorkFromEveryWindowAndTabFollowsTheScreen() {
        UiFixture fixture(1);
        KivoAppDelegate delegate(std::make_shared<AnsweringQuestion>());
        DesktopShell shell(fixture.model(), delegate, fixture.desktop(), true);
        const auto press = [](QWidget* target, char key) {
            QTest::keyClick(target, Qt::Key(key), Qt::ControlModifier | Qt::ShiftModifier);
        };
        shell.showAbout();
        QVERIFY(QTest::qWaitForWindowActive(shell.aboutWindow()));
        press(shell.aboutWindow(), 'R');
        QTRY_COMPARE(fixture.model().coordinator().state(), RecordingState::recording);
        QTest::keyClick(shell.aboutWindow(), Qt::Key_Escape);
        QTRY_VERIFY(!shell.aboutWindow());
        shell.trayMenu()->popup(QPoint(10, 10));
        QVERIFY(QTest::qWaitForWindowExposed(shell.trayMenu()));
        press(shell.trayMenu(), 'P');
        QCOMPARE(fixture.model().coordinator().state(), RecordingState::paused);
        press(shell.trayMenu(), 'S');
        QTRY_COMPARE(fixture.model().coordinator().state(), RecordingState::idle);
        shell.trayMenu()->hide();

        MainWindow& window = shell.window();
        shell.showWindow();
        QTest::qWait(20); // the window's own ordering has run: the rows come after it
        RecordingConfiguration configuration(QUrl::fromLocalFile(fixture.folder()));
        const RecoveryManifest manifest(QUuid::createUuid(), Date{800000000}, configuration);
        const QString session = fixture.model().capturesRoot() + QStringLiteral("/x");
        QVERIFY(QDir().mkpath(session));
        QFile file(session + QStringLiteral("/session.json"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(manifest.encoded()) > 0);
        file.close();
        fixture.model().scanRecoveries();
        QTest::qWait(0);
        QList<QWidget*> chain;
        for (QWidget* w = window.pageButton(KivoPage::studio); !chain.contains(w);
             w = w->nextInFocusChain()) {
            chain.append(w);
        }
        const QList<QWidget*> expected{window.headingButton(),
                                       buttonWithText(window.recoveryPanel(), u"復原音檔"_s),
                                       window.findChild<QWidget*>(u"modeCard_system"_s),
                                       window.findChild<QWidget*>(u"playButton"_s),
                                       window.findChild<QWidget*>(u"mainButton"_s)};
        for (qsizetype i = 1; i < expected.size(); ++i) {
            QVERIFY2(chain.indexOf(expected[i - 1]) < chain.indexOf(expected[i]),
                     qPrintable(QString::number(i)));
        }
    }

    // While recording, the meters and the level history are on screen at the default size; at
    // the smallest size nothing is cut off at the right.
    void studioFitsTheWindowWhileRecording_data() {
        QTest::addColumn<QSize>("size");
        QTest::newRow("default size") << MainWindow::kDefaultSize;
        QTest::newRow("smallest size") << MainWindow::kMinimumSize;
    }
    void studioFitsTheWindowWhileRecording() {
        QFETCH(QSize, size);
        UiFixture fixture;
        MainWindow window(fixture.model(), fixture.desktop());
        window.show();
        QTest::qWait(50); // fitted into the (small) test screen; sized below, before it fits again
        window.resize(size);
        fixture.record();
        QTest::qWait(20);
        QCOMPARE(window.size(), size);
        const QWidget* viewport = window.findChild<QScrollArea*>()->viewport();
        const QWidget* page = window.page(KivoPage::studio);
        const auto shown = [](const QWidget* widget, const QWidget* in) {
            return QRect(widget->mapTo(in, QPoint(0, 0)), widget->size());
        };
        // Nothing cut off at the right, and nothing squeezed below the room it needs.
        for (const char* name : {"systemGainRow", "microphoneGainRow", "savingPanel"}) {
            const QWidget* widget = window.findChild<QWidget*>(QLatin1String(name));
            QVERIFY2(shown(widget, page).right() < page->width(), name);
            QVERIFY2(widget->width() >= widget->minimumSizeHint().width(), name);
        }
        if (size == MainWindow::kDefaultSize) {
            // Once the recording's controls are laid out, which a loaded machine can delay.
            QTRY_VERIFY(
                viewport->rect().contains(shown(window.findChild<WaveformView*>(), viewport)));
        }
    }

    // Every page, idle and while recording, on a desktop with the usual text size and with text
    // half as large again: no text has less room than it needs.
    void everyTextHasRoom_data() {
        QTest::addColumn<int>("points");
        QTest::addColumn<QSize>("size");
        QTest::newRow("usual text, default size") << 10 << MainWindow::kDefaultSize;
        QTest::newRow("usual text, smallest size") << 10 << MainWindow::kMinimumSize;
        QTest::newRow("text 1.5, default size") << 15 << MainWindow::kDefaultSize;
        QTest::newRow("text 1.5, smallest size") << 15 << MainWindow::kMinimumSize;
    }
    void everyTextHasRoom() {
        QFETCH(int, points);
        QFETCH(QSize, size);
        const DesktopTextSize text(points);
        UiFixture fixture(3, {1});
        MainWindow window(fixture.model(), fixture.desktop());
        window.show();
        QTest::qWait(50);
        window.resize(size);
        for (const bool recording : {false, true}) {
            if (recording) {
                fixture.model().setPage(KivoPage::studio);
                fixture.record();
            }
            for (int page = 0; page < 4; ++page) {
                fixture.model().setPage(static_cast<KivoPage>(page));
                QTest::qWait(20);
                const QStringList clipped = clippedTexts(&window);
                QVERIFY2(clipped.isEmpty(),
                         qPrintable(u"page %1: "_s.arg(page) + clipped.join(u"; "_s)));
            }
        }
    }

    // The size and maximised state are kept across launches, within this screen; the first
    // launch keeps the default size.
    void windowRemembersItsSize_data() {
        QTest::addColumn<QSize>("size"); // the size left at the last launch; empty: none
        QTest::addColumn<bool>("maximized");
        QTest::addColumn<QSize>("restored"); // on a 1280 × 800 screen
        QTest::newRow("first launch") << QSize() << false << MainWindow::kDefaultSize;
        QTest::newRow("resized") << QSize(1100, 700) << false << QSize(1100, 700);
        QTest::newRow("left on a larger monitor") << QSize(1900, 1150) << false << QSize(1264, 784);
        QTest::newRow("maximised") << QSize(1000, 600) << true << QSize(1000, 600);
    }
    void windowRemembersItsSize() {
        QFETCH(QSize, size);
        QFETCH(bool, maximized);
        QFETCH(QSize, restored);
        UiFixture fixture;
        const QString file = fixture.folder() + u"/config/Kivo/window.conf"_s;
        if (size.isValid()) {
            MainWindow last(fixture.model(), fixture.desktop());
            last.show();
            QTest::qWait(50);
            WindowMemory memory(last, file);
            last.resize(size);
            if (maximized) {
                last.setWindowState(Qt::WindowMaximized);
            }
            QTest::qWait(50);
        } // saved as the window goes
        MainWindow window(fixture.model(), fixture.desktop());
        WindowMemory memory(window, file);
        QCOMPARE(memory.restore(QRect(0, 0, 1280, 800)), maximized);
        QCOMPARE(window.size(), restored);
    }

    // Without a tray a closed window would leave a recording running out of sight: closing
    // asks the quit flow instead.
    void closingTheWindowWithoutATrayAsksToQuit() {
        UiFixture fixture;
        auto question = std::make_shared<AnsweringQuestion>();
        question->answer = false;
        KivoAppDelegate delegate(question);
        DesktopShell shell(fixture.model(), delegate, fixture.desktop(), false);
        shell.showWindow();
        fixture.record();
        shell.window().close();
        QTRY_COMPARE(question->asked, 1);
        QVERIFY(shell.window().isVisible());
        QCOMPARE(fixture.model().coordinator().state(), RecordingState::recording);
    }
};

KIVO_TEST_CLASS(MainWindowTest)
#include "MainWindowTest.moc"
