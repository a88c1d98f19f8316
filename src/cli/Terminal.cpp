#include "cli/Terminal.h"

#include "application/AppModel.h"

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>

#include <sys/socket.h>
#include <unistd.h>

namespace kivo::cli {

namespace {

// Written by the signal handler, read by the event loop.
int g_signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(g_signalPipe[1], &byte, 1);
}

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

} // namespace

void printError(const QString& message) {
    std::fprintf(stderr, "%s\n", message.toUtf8().constData());
    std::fflush(stderr);
}

void printLine(const QString& line) {
    std::fprintf(stdout, "%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

bool stderrIsTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

void showStatus(const QString& text) {
    std::fputs((QLatin1Char('\r') + text + QStringLiteral("\033[K")).toUtf8().constData(), stderr);
    std::fflush(stderr);
}

QString meter(double level) {
    constexpr int kWidth = 12;
    const int filled = std::isfinite(level)
                           ? std::clamp(static_cast<int>(std::lround(level * kWidth)), 0, kWidth)
                           : 0;
    return QString(filled, QChar(0x2588)) + QString(kWidth - filled, QChar(0x00B7));
}

ModelMessages::ModelMessages(AppModel& model)
    : m_model(model) {
    connect(&model, &AppModel::changed, this, &ModelMessages::flush);
}

void ModelMessages::flush() {
    const auto print = [](const std::optional<QString>& now, std::optional<QString>& shown) {
        if (now && now != shown) {
            if (stderrIsTerminal()) {
                std::fputs("\r\033[K", stderr);
            }
            printError(*now);
        }
        shown = now;
    };
    print(m_model.notice(), m_notice);
    print(m_model.alertMessage(), m_alert);
}

StopSignals::StopSignals(std::function<void()> handler)
    : m_handler(std::move(handler)) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0) {
        return;
    }
    m_notifier = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] {
        char byte = 0;
        [[maybe_unused]] const auto read = ::read(g_signalPipe[0], &byte, 1);
        if (m_handler) {
            m_handler();
        }
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : kStopSignals) {
        sigaction(signal, &action, nullptr);
    }
}

StopSignals::~StopSignals() {
    for (const int signal : kStopSignals) {
        std::signal(signal, SIG_DFL);
    }
    m_notifier.reset();
    for (int& fd : g_signalPipe) {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }
}

} // namespace kivo::cli
