// Renders the window in each of its states into PNG files, for people to look at:
//   kivo_screenshots <folder>
// Run under a real X server (scripts/screenshots uses Xvfb) so the fonts and icon theme are the
// desktop's.

#include "UiTestSupport.h"
#include "ui/AboutWindow.h"
#include "ui/DialogQuitQuestion.h"
#include "ui/KivoDialog.h"
#include "ui/KivoTheme.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QIcon>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

#include <cmath>

using namespace kivo;
using namespace kivo::test;

namespace {

QString g_folder;

void save(QWidget& widget, const QString& name) {
    QTest::qWait(80);
    widget.grab().save(QDir(g_folder).filePath(name + QStringLiteral(".png")));
}

// The window with its dialog drawn over it, as a person sees them.
void saveWithDialog(QWidget& window, QWidget& dialog, const QString& name) {
    QTest::qWait(80);
    QPixmap picture = window.grab();
    QPainter painter(&picture);
    const QPixmap box = dialog.grab();
    painter.fillRect(picture.rect(), QColor(0, 0, 0, 60));
    painter.drawPixmap((picture.width() - box.width()) / 2, (picture.height() - box.height()) / 3,
                       box);
    painter.end();
    picture.save(QDir(g_folder).filePath(name + QStringLiteral(".png")));
}

void setMode(AppModel& model, RecordingMode mode) {
    RecordingConfiguration configuration = model.configuration();
    configuration.mode = mode;
    model.setConfiguration(configuration);
}

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

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        return 2;
    }
    g_folder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(g_folder);
    if (QIcon::themeName().isEmpty() || QIcon::themeName() == QStringLiteral("hicolor")) {
        QIcon::setThemeName(QStringLiteral("Adwaita"));
    }
    // The desktop as scripts/screenshots describes it: its text size, and light or dark.
    const int points = qEnvironmentVariableIntValue("KIVO_TEST_DESKTOP_POINTS");
    QApplication::setFont(QFont(QStringLiteral("Noto Sans"), points > 0 ? points : 10));
    if (qgetenv("KIVO_TEST_DESKTOP") == "dark") {
        QApplication::setStyle(QStringLiteral("Windows"));
        QApplication::setPalette(darkDesktopPalette());
    }
    KivoTheme::applyTo(app);
    QLocale::setDefault(
        QLocale(QLocale::Chinese, QLocale::TraditionalChineseScript, QLocale::Taiwan));

    {
        UiFixture empty;
        MainWindow window(empty.model(), empty.desktop());
        window.show();
        empty.model().setPage(KivoPage::library);
        save(window, QStringLiteral("library-empty"));
        empty.model().setPage(KivoPage::presets);
        save(window, QStringLiteral("presets-empty"));
    }

    UiFixture fixture(3, {1});
    AppModel& model = fixture.model();
    MainWindow window(model, fixture.desktop());
    window.show();
    save(window, QStringLiteral("studio-idle"));
    setMode(model, RecordingMode::application);
    save(window, QStringLiteral("studio-application"));
    setMode(model, RecordingMode::microphone);
    save(window, QStringLiteral("studio-microphone"));
    setMode(model, RecordingMode::system);

    model.setPage(KivoPage::library);
    save(window, QStringLiteral("library"));
    model.play(model.library().recordings.first());
    model.setPlaybackPosition(23);
    save(window, QStringLiteral("library-player-bar"));
    model.stopPlayback();
    model.savePreset(QStringLiteral("線上會議"));
    RecordingConfiguration wav = model.configuration();
    wav.mode = RecordingMode::microphone;
    wav.format = AudioOutputFormat::wav;
    wav.highQuality = true;
    model.setConfiguration(wav);
    model.savePreset(QStringLiteral("訪談錄音"));
    model.setPage(KivoPage::presets);
    save(window, QStringLiteral("presets"));
    model.setPage(KivoPage::settings);
    save(window, QStringLiteral("settings"));

    // A recording with moving meters: levels as the capture reports them, over a few ticks.
    model.setPage(KivoPage::studio);
    RecordingConfiguration both = model.configuration();
    both.mode = RecordingMode::system;
    both.includesMicrophone = true;
    model.setConfiguration(both);
    fixture.record();
    for (int step = 0; step < AppModel::kWaveHistoryLength; ++step) {
        const auto level = [step](double phase) {
            return float(0.35 + 0.3 * std::sin(step * 0.7 + phase) * std::sin(step * 0.23));
        };
        fixture.backend().onLevels(AudioLevels{level(0), level(1.3) * 0.8F});
        QTest::qWait(AppModel::kTickMilliseconds);
    }
    save(window, QStringLiteral("studio-recording"));
    window.resize(MainWindow::kMinimumSize);
    save(window, QStringLiteral("studio-recording-minimum-size"));
    window.findChild<QScrollArea*>()->verticalScrollBar()->setValue(400);
    save(window, QStringLiteral("studio-recording-minimum-size-scrolled"));
    window.resize(MainWindow::kDefaultSize);
    model.setPage(KivoPage::library);
    save(window, QStringLiteral("library-while-recording"));
    model.setPage(KivoPage::studio);
    // As the capture does when it stops: the meters fall to zero.
    fixture.backend().onLevels(AudioLevels{});
    fixture.beginSaving();
    save(window, QStringLiteral("studio-saving"));
    fixture.finishSaving();
    model.setNotice(QStringLiteral("已保存「我的錄音」。"));
    save(window, QStringLiteral("notice"));
    model.setNotice(std::nullopt);
    window.resize(MainWindow::kMinimumSize);
    save(window, QStringLiteral("studio-minimum-size"));
    window.resize(MainWindow::kDefaultSize);

    writeLeftSession(model);
    model.scanRecoveries();
    model.setPage(KivoPage::studio);
    setMode(model, RecordingMode::system);
    save(window, QStringLiteral("recovery-panel"));

    model.setAlertMessage(QStringLiteral("無法保存錄音。\n磁碟已滿。"));
    if (window.alert()) {
        saveWithDialog(window, *window.alert(), QStringLiteral("alert"));
        window.alert()->close();
    }

    const std::unique_ptr<KivoDialog> question = DialogQuitQuestion::makeDialog(&window);
    question->show();
    saveWithDialog(window, *question, QStringLiteral("quit-question"));
    question->hide();

    AboutWindow about;
    about.show();
    save(about, QStringLiteral("about"));
    return 0;
}
