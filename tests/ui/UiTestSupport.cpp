#include "UiTestSupport.h"
#include "application/KivoAppDelegate.h"
#include "ui/AboutWindow.h"
#include "ui/DesktopShell.h"
#include "ui/DialogQuitQuestion.h"
#include "ui/KivoButton.h"
#include "ui/KivoDialog.h"
#include "ui/KivoTheme.h"
#include "ui/LibraryList.h"
#include "ui/LibraryListModel.h"
#include "ui/LibraryPage.h"
#include "ui/MainWindow.h"
#include "ui/NameSheet.h"
#include "ui/PresetsPage.h"

#include "infrastructure/storage/LibraryStore.h"
#include "infrastructure/storage/LinuxSessionFolders.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

#include <cmath>

namespace kivo::test {

namespace {

QString paths(const QList<QUrl>& files) {
    QStringList result;
    for (const QUrl& file : files) {
        result.append(file.toLocalFile());
    }
    return result.join(QLatin1Char(' '));
}

// A 65-second file that plays when told.
struct StatePlayer : AudioPlayer {
    bool playing = false;
    double time = 0;
    void play() override { playing = true; }
    void pause() override { playing = false; }
    void stop() override { playing = false; }
    bool isPlaying() const override { return playing; }
    double currentTime() const override { return time; }
    void setCurrentTime(double seconds) override { time = seconds; }
    double duration() const override { return 65; }
};

struct StatePlayers : AudioPlayerFactory {
    std::unique_ptr<AudioPlayer> open(const QString&) override {
        return std::make_unique<StatePlayer>();
    }
};

// Keeps the tests away from the user's real trash.
struct RemovingTrash : Trash {
    void moveToTrash(const QString& path) override { QFile::remove(path); }
};

} // namespace

void RecordingDesktop::reveal(const QList<QUrl>& files) {
    calls.append(QStringLiteral("reveal ") + paths(files));
}

void RecordingDesktop::openFolder(const QUrl& folder) {
    calls.append(QStringLiteral("open ") + folder.toLocalFile());
}

void RecordingDesktop::copyFiles(const QList<QUrl>& files) {
    calls.append(QStringLiteral("copy ") + paths(files));
}

UiFixture::UiFixture(int records, QList<int> missing)
    : m_backend(std::make_shared<FakeRecordingBackend>()) {
    const QString library = m_dir.filePath(QStringLiteral("library"));
    const QUrl output =
        QUrl::fromLocalFile(m_dir.filePath(QStringLiteral("output")) + QLatin1Char('/'));
    auto storage = std::make_unique<LibraryStore>(library, output);
    if (records > 0) {
        KivoLibrary document(output);
        for (int i = 0; i < records; ++i) {
            RecordingConfiguration configuration(output);
            configuration.mode = kAllRecordingModes[std::size_t(i) % kAllRecordingModes.size()];
            const QString path = m_dir.filePath(QStringLiteral("錄音 %1.m4a").arg(i + 1));
            if (!missing.contains(i)) {
                QFile file(path);
                file.open(QIODevice::WriteOnly);
                file.write(QByteArray(2048 * (i + 1), 'a'));
            }
            QList<QUrl> files{QUrl::fromLocalFile(path)};
            if (missing.contains(i)) {
                files.append(QUrl::fromLocalFile(path + QStringLiteral(".wav")));
                QFile(files.last().toLocalFile()).open(QIODevice::WriteOnly);
            }
            document.recordings.append(
                RecordingRecord(QUuid::createUuid(), QStringLiteral("錄音 %1").arg(i + 1),
                                Date{820000000.0 - i * 3600.0}, 65.0 + i, configuration, files));
            if (i == 1) {
                document.recordings.back().setMarkers(
                    {{10, QStringLiteral("開場")}, {42.5, QStringLiteral("問題")}});
            }
        }
        storage->lockForWriting();
        storage->save(document);
    }
    AppServices services;
    services.backend = m_backend;
    services.storage = std::move(storage);
    auto sources = std::make_unique<FakeSourceCatalog>();
    m_sources = sources.get();
    services.sources = std::move(sources);
    services.players = std::make_unique<StatePlayers>();
    services.trash = std::make_unique<RemovingTrash>();
    services.sessions = std::make_unique<LinuxSessionFolders>();
    services.defaultOutputFolder = output;
    m_model = std::make_unique<AppModel>(std::move(services));
}

void UiFixture::record() {
    m_model->start();
    QTRY_VERIFY(m_model->coordinator().state() == RecordingState::recording);
}

void UiFixture::pause() {
    record();
    m_model->coordinator().togglePause();
    QVERIFY(m_model->coordinator().state() == RecordingState::paused);
}

void UiFixture::beginSaving() {
    record();
    m_backend->stopOutcome = FakeRecordingBackend::Outcome::hold;
    m_model->stop();
    QVERIFY(m_model->coordinator().state() == RecordingState::saving);
}

void UiFixture::finishSaving() {
    auto held = std::move(m_backend->heldStop);
    QVERIFY(held);
    held(Result<RecordingRecord>::success(m_backend->record));
    QTRY_VERIFY(m_model->coordinator().state() == RecordingState::idle);
}

QAbstractButton* buttonWithText(QWidget* root, const QString& text) {
    for (QAbstractButton* button : root->findChildren<QAbstractButton*>()) {
        if (button->text() == text && button->isVisibleTo(root)) {
            return button;
        }
    }
    return nullptr;
}

QStringList visibleTexts(QWidget* root) {
    QStringList texts;
    for (QLabel* label : root->findChildren<QLabel*>()) {
        if (label->isVisibleTo(root) && !label->text().isEmpty()) {
            texts.append(label->text());
        }
    }
    return texts;
}

QStringList clippedTexts(QWidget* root) {
    QStringList clipped;
    const auto report = [&](QWidget* widget, const QString& text, QSize needs, QSize has) {
        if (needs.width() > has.width() || needs.height() > has.height()) {
            clipped << QStringLiteral("%1: needs %2x%3, has %4x%5")
                           .arg(text)
                           .arg(needs.width())
                           .arg(needs.height())
                           .arg(has.width())
                           .arg(has.height());
        } else if (QWidget* parent = widget->parentWidget();
                   parent != nullptr && !parent->rect().contains(widget->geometry())) {
            clipped << text + QStringLiteral(": outside its parent");
        }
    };
    for (QLabel* label : root->findChildren<QLabel*>()) {
        if (!label->isVisibleTo(root) || label->text().isEmpty()) {
            continue;
        }
        const QRect room = label->contentsRect();
        // A line by its advance, as eliding measures it, to the whole pixel: an elided text fills
        // its room to a fraction of one.
        const QSizeF line = QFontMetricsF(label->font()).size(0, label->text());
        const QSize needs =
            label->wordWrap()
                ? QSize(0, label->heightForWidth(label->width()) - label->height() + room.height())
                : QSize(int(line.width()), qCeil(line.height()));
        report(label, label->text(), needs, room.size());
    }
    for (QAbstractButton* button : root->findChildren<QAbstractButton*>()) {
        if (button->isVisibleTo(root) && !button->text().isEmpty()) {
            report(button, button->text(), button->minimumSizeHint(), button->size());
        }
    }
    return clipped;
}

DesktopTextSize::DesktopTextSize(int points) {
    QApplication::setFont(QFont(QStringLiteral("Noto Sans"), points));
    KivoTheme::applyTo(*qApp);
}

DesktopTextSize::~DesktopTextSize() {
    QApplication::setFont(QFont(QStringLiteral("Noto Sans"), 10));
    KivoTheme::applyTo(*qApp);
}

QPalette darkDesktopPalette() {
    QPalette dark(QColor(49, 54, 59), QColor(35, 38, 41));
    dark.setColor(QPalette::WindowText, QColor(252, 252, 252));
    dark.setColor(QPalette::Text, QColor(252, 252, 252));
    dark.setColor(QPalette::ButtonText, QColor(252, 252, 252));
    dark.setColor(QPalette::Base, QColor(27, 30, 32));
    dark.setColor(QPalette::AlternateBase, QColor(35, 38, 41));
    dark.setColor(QPalette::Highlight, QColor(61, 174, 233));
    dark.setColor(QPalette::HighlightedText, QColor(252, 252, 252));
    dark.setColor(QPalette::ToolTipBase, QColor(49, 54, 59));
    dark.setColor(QPalette::ToolTipText, QColor(252, 252, 252));
    dark.setColor(QPalette::PlaceholderText, QColor(161, 169, 177));
    return dark;
}

namespace {

void setMode(AppModel& model, RecordingMode mode) {
    RecordingConfiguration configuration = model.configuration();
    configuration.mode = mode;
    model.setConfiguration(configuration);
}

// A session folder left by a recording that never ended.
void writeLeftSession(AppModel& model) {
    RecordingConfiguration configuration(QUrl::fromLocalFile(QDir::tempPath()));
    configuration.name = QStringLiteral("週一產品會議");
    const RecoveryManifest manifest(QUuid::createUuid(), Date::now(), configuration);
    const QString folder =
        model.capturesRoot() + QLatin1Char('/') + manifest.id.toString(QUuid::WithoutBraces);
    QDir().mkpath(folder);
    QFile file(folder + QStringLiteral("/session.json"));
    file.open(QIODevice::WriteOnly);
    file.write(manifest.encoded());
}

} // namespace

void walkScenes(const SceneVisitor& visit, bool moving) {
    const auto show = [&](const QString& name, QWidget& window, QWidget* over = nullptr) {
        QTest::qWait(60);
        // Layouts that a change asked for, settled as the next frames would.
        for (int pass = 0; pass < 3; ++pass) {
            QApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
            QApplication::processEvents();
        }
        visit(name, window, over);
    };
    // A menu popped up over the window, as a right click or the tray opens it.
    const auto showMenu = [&](const QString& name, QWidget& window, QMenu* menu) {
        menu->popup(window.mapToGlobal(QPoint(40, 40)));
        show(name, window, menu);
        menu->hide();
    };
    {
        UiFixture empty;
        MainWindow window(empty.model(), empty.desktop());
        window.show();
        empty.model().setPage(KivoPage::library);
        show(QStringLiteral("library-empty"), window);
        empty.model().setPage(KivoPage::presets);
        show(QStringLiteral("presets-empty"), window);
    }

    UiFixture fixture(3, {1});
    AppModel& model = fixture.model();
    KivoAppDelegate delegate(std::make_shared<DialogQuitQuestion>());
    DesktopShell shell(model, delegate, fixture.desktop(), true);
    MainWindow& window = shell.window();
    window.show();
    show(QStringLiteral("studio-idle"), window);
    const QList<QAction*> menus = window.menuBar()->actions();
    for (qsizetype i = 0; i < menus.size(); ++i) {
        showMenu(QStringLiteral("menu-bar-%1").arg(i + 1), window, menus[i]->menu());
    }
    showMenu(QStringLiteral("tray-menu"), window, shell.trayMenu());
    window.headingButton()->click();
    if (auto* sheet = window.findChild<NameSheet*>()) {
        show(QStringLiteral("preset-name"), window, sheet);
        sheet->reject();
    }
    setMode(model, RecordingMode::application);
    show(QStringLiteral("studio-application"), window);
    setMode(model, RecordingMode::microphone);
    show(QStringLiteral("studio-microphone"), window);
    setMode(model, RecordingMode::system);

    model.setPage(KivoPage::library);
    show(QStringLiteral("library"), window);
    auto* library = window.findChild<LibraryPage*>();
    showMenu(QStringLiteral("library-row-menu"), window, library->list()->menuFor(0));
    std::unique_ptr<QMenu> fieldMenu(library->searchField()->createStandardContextMenu());
    showMenu(QStringLiteral("search-field-menu"), window, fieldMenu.get());
    library->list()->setCurrentIndex(library->listModel()->index(0));
    QTest::keyClick(library->list(), Qt::Key_Delete);
    if (QWidget* confirmation = QApplication::activeModalWidget()) {
        show(QStringLiteral("trash-confirmation"), window, confirmation);
        confirmation->close();
    }
    model.play(model.library().recordings.first());
    model.setPlaybackPosition(23);
    show(QStringLiteral("library-player-bar"), window);
    model.stopPlayback();
    model.savePreset(QStringLiteral("線上會議"));
    RecordingConfiguration wav = model.configuration();
    wav.mode = RecordingMode::microphone;
    wav.format = AudioOutputFormat::wav;
    wav.highQuality = true;
    model.setConfiguration(wav);
    model.savePreset(QStringLiteral("訪談錄音"));
    model.setPage(KivoPage::presets);
    show(QStringLiteral("presets"), window);
    auto* presets = window.findChild<PresetsPage*>();
    QTest::mouseClick(buttonWithText(presets, QStringLiteral("刪除")), Qt::LeftButton);
    if (auto* confirmation =
            presets->findChild<KivoDialog*>(QLatin1String(PresetsPage::kDeleteConfirmationName))) {
        show(QStringLiteral("preset-delete-confirmation"), window, confirmation);
        confirmation->reject();
    }
    model.setPage(KivoPage::settings);
    show(QStringLiteral("settings"), window);

    // A recording with moving meters: levels as the capture reports them, over a few ticks.
    model.setPage(KivoPage::studio);
    RecordingConfiguration both = model.configuration();
    both.mode = RecordingMode::system;
    both.includesMicrophone = true;
    model.setConfiguration(both);
    fixture.record();
    for (int step = 0; step < (moving ? AppModel::kWaveHistoryLength : 1); ++step) {
        const auto level = [step](double phase) {
            return float(0.35 + 0.3 * std::sin(step * 0.7 + phase) * std::sin(step * 0.23));
        };
        fixture.backend().onLevels(AudioLevels{level(0), level(1.3) * 0.8F});
        QTest::qWait(AppModel::kTickMilliseconds);
    }
    show(QStringLiteral("studio-recording"), window);
    showMenu(QStringLiteral("tray-menu-recording"), window, shell.trayMenu());
    window.resize(MainWindow::kMinimumSize);
    show(QStringLiteral("studio-recording-minimum-size"), window);
    window.findChild<QScrollArea*>()->verticalScrollBar()->setValue(400);
    show(QStringLiteral("studio-recording-minimum-size-scrolled"), window);
    window.resize(MainWindow::kDefaultSize);
    model.setPage(KivoPage::library);
    show(QStringLiteral("library-while-recording"), window);
    model.setPage(KivoPage::studio);
    // As the capture does when it stops: the meters fall to zero.
    fixture.backend().onLevels(AudioLevels{});
    fixture.beginSaving();
    show(QStringLiteral("studio-saving"), window);
    fixture.finishSaving();
    model.setNotice(QStringLiteral("已保存「我的錄音」。"));
    show(QStringLiteral("notice"), window);
    model.setNotice(std::nullopt);
    window.resize(MainWindow::kMinimumSize);
    show(QStringLiteral("studio-minimum-size"), window);
    window.resize(MainWindow::kDefaultSize);

    writeLeftSession(model);
    model.scanRecoveries();
    setMode(model, RecordingMode::system);
    show(QStringLiteral("recovery-panel"), window);

    model.setAlertMessage(QStringLiteral("無法保存錄音。\n磁碟已滿。"));
    if (window.alert()) {
        show(QStringLiteral("alert"), window, window.alert());
        window.alert()->close();
    }
    const std::unique_ptr<KivoDialog> question = DialogQuitQuestion::makeDialog(&window);
    question->show();
    show(QStringLiteral("quit-question"), window, question.get());
    question->hide();

    AboutWindow about;
    about.show();
    show(QStringLiteral("about"), about);
}

} // namespace kivo::test
