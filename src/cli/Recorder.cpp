#include "cli/Recorder.h"

#include "application/RecordingCoordinator.h"
#include "domain/KivoError.h"
#include "infrastructure/capture/AudioCaptureService.h"
#include "infrastructure/storage/KivoFolders.h"

#include <QCoreApplication>

#include <cmath>
#include <csignal>
#include <cstdio>

#include <sys/socket.h>
#include <unistd.h>

namespace kivo::cli {

namespace {

// Written by the signal handler, read by the event loop: the self-pipe that turns Ctrl+C and
// SIGTERM into an ordinary event.
int g_signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(g_signalPipe[1], &byte, 1);
}

QString clock(double seconds) {
    const auto total = static_cast<long long>(std::isfinite(seconds) && seconds > 0 ? seconds : 0);
    return QString::asprintf("%02lld:%02lld:%02lld", total / 3600, total / 60 % 60, total % 60);
}

QString meter(float level) {
    constexpr int kWidth = 12;
    const int filled = std::clamp(static_cast<int>(std::lround(level * kWidth)), 0, kWidth);
    return QString(filled, QChar(0x2588)) + QString(kWidth - filled, QChar(0x00B7));
}

void printError(const QString& message) {
    std::fprintf(stderr, "%s\n", message.toUtf8().constData());
    std::fflush(stderr);
}

} // namespace

Recorder::Recorder(RecordingConfiguration configuration, std::optional<double> seconds)
    : m_configuration(std::move(configuration))
    , m_seconds(seconds)
    , m_service(std::make_shared<AudioCaptureService>(KivoFolders::captures()))
    , m_coordinator(std::make_unique<RecordingCoordinator>(m_service))
    , m_terminal(::isatty(STDERR_FILENO) == 1) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) == 0) {
        m_signals = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
        connect(m_signals.get(), &QSocketNotifier::activated, this, [this] {
            char byte = 0;
            [[maybe_unused]] const auto read = ::read(g_signalPipe[0], &byte, 1);
            stop();
        });
        struct sigaction action {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(SIGINT, &action, nullptr);
        sigaction(SIGTERM, &action, nullptr);
    }

    m_deadline.setSingleShot(true);
    // A coarse timer may fire 5 % early, which would cut a timed recording short.
    m_deadline.setTimerType(Qt::PreciseTimer);
    connect(&m_deadline, &QTimer::timeout, this, &Recorder::stop);
    m_progress.setInterval(200);
    connect(&m_progress, &QTimer::timeout, this, &Recorder::showProgress);

    // A capture that breaks down stops and saves what it has, as the desktop program does.
    m_coordinator->onUnexpectedStop = [this] {
        m_captureFailed = true;
        if (m_terminal) {
            std::fputs("\n", stderr);
        }
        printError(m_coordinator->error().value_or(QString()));
        stop();
    };
}

Recorder::~Recorder() {
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    m_signals.reset();
    for (int& fd : g_signalPipe) {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }
}

int Recorder::run() {
    // Started from the event loop, so that even a start that fails at once can end it.
    QTimer::singleShot(0, this, [this] { begin(); });
    return QCoreApplication::exec();
}

void Recorder::begin() {
    m_coordinator->start(m_configuration, [this] {
        if (m_coordinator->state() != RecordingState::recording) {
            printError(m_coordinator->error().value_or(QStringLiteral("無法開始錄音。")));
            finish(1);
            return;
        }
        if (m_stopRequested) {
            stop();
            return;
        }
        if (m_seconds) {
            m_deadline.start(static_cast<int>(std::ceil(*m_seconds * 1000.0)));
        }
        if (m_terminal) {
            m_progress.start();
            showProgress();
        }
    });
}

void Recorder::stop() {
    m_stopRequested = true;
    if (!canStop(m_coordinator->state())) {
        return; // still starting: stopped as soon as it runs; already saving: nothing to do
    }
    m_deadline.stop();
    m_progress.stop();
    if (m_terminal) {
        showProgress();
        std::fputs("\n正在保存…\n", stderr);
    }
    m_coordinator->stop([this](std::optional<RecordingRecord> record) {
        if (!record) {
            printError(m_coordinator->error().value_or(QStringLiteral("無法保存錄音。")));
            finish(1);
            return;
        }
        std::fprintf(stdout, "%s\n", writeCompact(record->toJson()).constData());
        std::fflush(stdout);
        // The record is printed: the session's temporary data is no longer needed.
        try {
            m_coordinator->acknowledgeSaved();
        } catch (const std::exception& error) {
            printError(QStringLiteral("錄音已保存，但暫存資料未能清除：") + describe(error));
        }
        finish(m_captureFailed ? 3 : 0);
    });
}

void Recorder::showProgress() {
    const AudioLevels levels = m_coordinator->levels();
    const QString line =
        QStringLiteral("\r%1  系統 %2  麥克風 %3 ")
            .arg(clock(m_coordinator->elapsed()), meter(levels.system), meter(levels.microphone));
    std::fputs(line.toUtf8().constData(), stderr);
    std::fflush(stderr);
}

void Recorder::finish(int code) {
    QCoreApplication::exit(code);
}

} // namespace kivo::cli
