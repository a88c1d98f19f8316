#include "TestMain.h"
#include "UiTestSupport.h"
#include "infrastructure/storage/LibraryStore.h"
#include "ui/KivoDialog.h"
#include "ui/PresetsPage.h"
#include "ui/SettingsPage.h"

#include <QComboBox>
#include <QTest>

using namespace kivo;
using namespace kivo::test;
using namespace Qt::StringLiterals;

namespace {

// Saves a preset in the format, quality and saving mode its card's `detail` names.
void savePreset(AppModel& model, const QString& name, const QString& detail = {}) {
    auto configuration = model.configuration();
    configuration.format =
        detail.startsWith(u"WAV"_s) ? AudioOutputFormat::wav : AudioOutputFormat::aac;
    configuration.highQuality = detail.contains(u"高品質"_s);
    configuration.saveSeparateTracks = detail.contains(u"分軌"_s);
    model.setConfiguration(configuration);
    model.savePreset(name);
}

} // namespace

// The presets and settings pages over a model on real library files, driven by clicks.
class PagesTest : public QObject {
    Q_OBJECT

private slots:
    void presetsPageShowsCardsOrTheEmptyState_data() {
        QTest::addColumn<QString>("detail"); // empty: no preset saved
        QTest::newRow("none") << QString();
        QTest::newRow("AAC") << u"AAC · 標準品質\n合併音檔"_s;
        QTest::newRow("WAV high") << u"WAV · 高品質\n合併音檔"_s;
        QTest::newRow("tracks") << u"AAC · 高品質\n合併＋分軌保存"_s;
    }

    void presetsPageShowsCardsOrTheEmptyState() {
        QFETCH(QString, detail);
        UiFixture fixture;
        PresetsPage page(fixture.model(), fixture.desktop());
        const bool saved = !detail.isEmpty();
        if (saved) {
            savePreset(fixture.model(), u"訪談"_s, detail);
        }
        const QStringList texts = visibleTexts(&page);
        QCOMPARE(texts.contains(u"把常用設定存成錄音方案"_s), !saved);
        QCOMPARE(texts.contains(
                     u"套用方案後會回到錄音工作室。App 與麥克風若已關閉或拔除，請重新選擇來源。"_s),
                 saved);
        QCOMPARE(texts.contains(u"訪談"_s) && texts.contains(detail), saved);
    }

    void editingOnlyWhileIdle_data() {
        QTest::addColumn<QString>("state");
        QTest::addColumn<bool>("presetsEditable");
        QTest::addColumn<bool>("libraryWritable"); // deleting a preset, storing the defaults
        QTest::newRow("idle") << u"idle"_s << true << true;
        QTest::newRow("recording") << u"recording"_s << false << false;
        QTest::newRow("saving") << u"saving"_s << false << false;
        QTest::newRow("library locked by another") << u"locked"_s << true << false;
    }

    void editingOnlyWhileIdle() {
        QFETCH(QString, state);
        QFETCH(bool, presetsEditable);
        QFETCH(bool, libraryWritable);
        UiFixture fixture;
        savePreset(fixture.model(), u"會議"_s, u"WAV"_s);
        // The fixture's model holds the library's writer lock: a second one cannot take it.
        AppServices services;
        services.backend = std::make_shared<FakeRecordingBackend>();
        services.storage = std::make_unique<LibraryStore>(fixture.folder() + u"/library"_s, QUrl());
        const auto second =
            state == u"locked"_s ? std::make_unique<AppModel>(std::move(services)) : nullptr;
        AppModel& model = second ? *second : fixture.model();
        PresetsPage presets(model, fixture.desktop());
        SettingsPage settings(model, fixture.desktop());
        if (state == u"recording"_s) {
            fixture.record();
        } else if (state == u"saving"_s) {
            fixture.beginSaving();
        }
        auto* apply = buttonWithText(&presets, u"套用方案 →"_s);
        QCOMPARE(apply->isEnabled(), presetsEditable);
        QCOMPARE(buttonWithText(&presets, u"刪除"_s)->isEnabled(), libraryWritable);
        QCOMPARE(settings.findChild<QComboBox*>()->isEnabled(), libraryWritable);
        QCOMPARE(buttonWithText(&settings, u"選擇資料夾…"_s)->isEnabled(), libraryWritable);
        if (state == u"saving"_s) {
            fixture.finishSaving(); // the same card, enabled again
            QVERIFY(apply->isEnabled());
        }
        model.setPage(KivoPage::presets);
        QTest::mouseClick(apply, Qt::LeftButton);
        QCOMPARE(model.page() == KivoPage::studio, apply->isEnabled());
    }

    void deleteAsksFirst_data() {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<int>("left");
        QTest::newRow("delete") << u"刪除方案"_s << 1;
        QTest::newRow("cancel") << u"取消"_s << 2;
        QTest::newRow("Return keeps it") << u"Return"_s << 2;
        QTest::newRow("Escape keeps it") << u"Escape"_s << 2;
    }

    void deleteAsksFirst() {
        QFETCH(QString, answer);
        QFETCH(int, left);
        UiFixture fixture;
        savePreset(fixture.model(), u"會議"_s);
        savePreset(fixture.model(), u"訪談"_s);
        PresetsPage page(fixture.model(), fixture.desktop());
        QTest::mouseClick(buttonWithText(&page, u"刪除"_s), Qt::LeftButton);
        auto* box =
            page.findChild<KivoDialog*>(QLatin1String(PresetsPage::kDeleteConfirmationName));
        QVERIFY(box && box->isVisible() && box->title() == u"刪除錄音方案？"_s);
        // A dialog, not a window to minimise or maximise.
        QVERIFY(
            !(box->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        if (answer == u"Return" || answer == u"Escape") {
            QTest::keyClick(box, answer == u"Return" ? Qt::Key_Return : Qt::Key_Escape);
        } else {
            QTest::mouseClick(buttonWithText(box, answer), Qt::LeftButton);
        }
        QCOMPARE(fixture.model().library().presets.size(), left);
        QCOMPARE(fixture.model().library().presets.last().name, u"訪談"_s);
    }

    // The server's state is asked each time the page is shown, not on every refresh.
    void settingsPageAsksTheDesktopOnShowAndCallsIt_data() {
        QTest::addColumn<SoundServerState>("server");
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("call"); // empty: no sound settings program, the button hidden
        QTest::newRow("sound settings") << SoundServerState::connected << u"已連線"_s
                                        << u"開啟音效設定…"_s << u"soundSettings"_s;
        QTest::newRow("no sound settings program")
            << SoundServerState::unreachable << u"未連線"_s << u"開啟音效設定…"_s << QString();
        QTest::newRow("library location") << SoundServerState::refused << u"已拒絕"_s
                                          << u"顯示錄音資料位置"_s << u"open %1/library"_s;
    }

    void settingsPageAsksTheDesktopOnShowAndCallsIt() {
        QFETCH(SoundServerState, server);
        QFETCH(QString, state);
        QFETCH(QString, button);
        QFETCH(QString, call);
        UiFixture fixture;
        fixture.desktop().soundSettings = !call.isEmpty();
        SettingsPage page(fixture.model(), fixture.desktop());
        page.show();
        fixture.desktop().server = server;
        savePreset(fixture.model(), u"會議"_s); // a change: the page refreshes
        QVERIFY(visibleTexts(&page).contains(u"已連線"_s));
        page.hide();
        page.show();
        QVERIFY(visibleTexts(&page).contains(state));
        QAbstractButton* found = buttonWithText(&page, button);
        QCOMPARE(found != nullptr, !call.isEmpty());
        if (found) {
            QTest::mouseClick(found, Qt::LeftButton);
            QCOMPARE(fixture.desktop().calls, QStringList{call.arg(fixture.folder())});
        }
    }
};

KIVO_TEST_CLASS(PagesTest)
#include "PagesTest.moc"
