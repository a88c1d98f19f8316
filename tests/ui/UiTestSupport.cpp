#include "UiTestSupport.h"
#include "ui/KivoTheme.h"

#include "infrastructure/storage/LibraryStore.h"
#include "infrastructure/storage/LinuxSessionFolders.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QTest>

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
        const QSize needs =
            label->wordWrap()
                ? QSize(0, label->heightForWidth(label->width()) - label->height() + room.height())
                : label->fontMetrics()
                      .boundingRect(QRect(0, 0, 100000, 100000), Qt::AlignLeft, label->text())
                      .size();
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

} // namespace kivo::test
