// The library benchmark's harness (bench/library-benchmark runs it):
//   kivo_library_window generate N FOLDER   writes a library of N records into FOLDER/data/Kivo,
//                                            with their files in FOLDER/music/Kivo
//   kivo_library_window measure FOLDER...    for each FOLDER's library in turn, in this one
//                                            process: the window as `kivo` builds it, measured
// For each library `measure` prints, as `name: value` lines: the milliseconds from choosing the
// library page to its list on screen, from a key in the search field to the list redrawn, the CPU
// share of the idle window with the page shown, and the CPU seconds of a recording of the system
// and the microphone with the page shown (against the sound server PULSE_SERVER names).

#include "application/AppModel.h"
#include "infrastructure/storage/LibraryStore.h"
#include "infrastructure/system/LinuxServices.h"
#include "ui/KivoTheme.h"
#include "ui/LibraryList.h"
#include "ui/LibraryPage.h"
#include "ui/LinuxDesktopActions.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTimer>

#include <cstdio>

#include <sys/resource.h>

using namespace kivo;

namespace {

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Runs the event loop for `milliseconds`, sleeping while it has nothing to do.
void spin(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

// Milliseconds from `action` to the next paint of `target`.
double untilPainted(QWidget* target, const std::function<void()>& action) {
    QEventLoop loop;
    QElapsedTimer timer;
    double milliseconds = -1;
    struct Watch : QObject {
        std::function<void()> painted;
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::Paint && painted) {
                std::exchange(painted, nullptr)();
            }
            return false;
        }
    } watch;
    watch.painted = [&] {
        milliseconds = double(timer.nsecsElapsed()) / 1e6;
        loop.quit();
    };
    target->installEventFilter(&watch);
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    timer.start();
    action();
    if (milliseconds < 0) {
        loop.exec();
    }
    target->removeEventFilter(&watch);
    return milliseconds;
}

int generate(int count, const QString& folder) {
    const QString music = folder + QStringLiteral("/music/Kivo");
    QDir().mkpath(music);
    const QUrl output = QUrl::fromLocalFile(music + QLatin1Char('/'));
    KivoLibrary library(output);
    for (int i = 0; i < count; ++i) {
        RecordingConfiguration configuration(output);
        configuration.mode = kAllRecordingModes[std::size_t(i) % kAllRecordingModes.size()];
        configuration.name = QStringLiteral("週會紀錄 %1").arg(i + 1);
        const QString file = music + QStringLiteral("/週會紀錄 %1.m4a").arg(i + 1);
        QFile(file).open(QIODevice::WriteOnly);
        library.recordings.append(RecordingRecord(QUuid::createUuid(), configuration.name,
                                                  Date{820000000.0 - i * 3600.0}, 1800.0 + i,
                                                  configuration, {QUrl::fromLocalFile(file)}));
    }
    LibraryStore(folder + QStringLiteral("/data/Kivo"), output).save(library);
    return 0;
}

void measure(const QString& folder) {
    LinuxServices::Options options;
    options.libraryFolder = folder + QStringLiteral("/data/Kivo");
    options.outputFolder =
        QUrl::fromLocalFile(folder + QStringLiteral("/music/Kivo") + QLatin1Char('/'));
    AppModel model(LinuxServices::make(options));
    LinuxDesktopActions desktop([] { return SoundServerState::connected; });
    MainWindow window(model, desktop);
    window.show();
    spin(1500);
    auto* page = static_cast<LibraryPage*>(window.page(KivoPage::library));

    const double show =
        untilPainted(page->list()->viewport(), [&] { model.setPage(KivoPage::library); });
    spin(1000);
    page->searchField()->setFocus();
    const double keystroke = untilPainted(page->list()->viewport(), [&] {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_7, Qt::NoModifier, QStringLiteral("7"));
        QApplication::sendEvent(page->searchField(), &press);
    });
    model.setSearch(QString());
    spin(3000);

    double before = cpuSeconds();
    spin(10000);
    const double idle = (cpuSeconds() - before) / 10.0 * 100.0;

    QEventLoop starting;
    model.start([&] { starting.quit(); });
    starting.exec();
    spin(1000);
    before = cpuSeconds();
    spin(10000);
    const double recording = cpuSeconds() - before;
    QEventLoop stopping;
    model.stop([&] { stopping.quit(); });
    stopping.exec();

    std::printf("records: %lld\n", static_cast<long long>(model.library().recordings.size()));
    std::printf("show_library_page_ms: %.1f\n", show);
    std::printf("search_keystroke_ms: %.1f\n", keystroke);
    std::printf("idle_cpu_percent_library_shown: %.3f\n", idle);
    std::printf("recording_cpu_seconds_library_shown: %.3f\n", recording);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kivo"));
    QFont font = QApplication::font();
    font.setFamily(QString::fromLatin1(KivoTheme::kFontFamily));
    QApplication::setFont(font);
    const QStringList arguments = QApplication::arguments().mid(1);
    if (arguments.size() == 3 && arguments[0] == u"generate") {
        return generate(arguments[1].toInt(), arguments[2]);
    }
    if (arguments.size() >= 2 && arguments[0] == u"measure") {
        for (const QString& folder : arguments.mid(1)) {
            measure(folder);
        }
        return 0;
    }
    std::fprintf(stderr, "usage: kivo_library_window generate N FOLDER | measure FOLDER...\n");
    return 2;
}
