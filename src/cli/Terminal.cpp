#include "cli/Terminal.h"

#include "application/AppModel.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include <QSocketNotifier>

#include <termios.h>
#include <unistd.h>

namespace kivo::cli {

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

struct TerminalKeys::Saved {
    termios settings{};
};

TerminalKeys::TerminalKeys(std::function<void(char key)> pressed)
    : m_pressed(std::move(pressed)) {
    termios settings{};
    if (::isatty(STDIN_FILENO) != 1 || ::tcgetattr(STDIN_FILENO, &settings) != 0) {
        return;
    }
    m_saved = std::make_unique<Saved>(Saved{settings});
    settings.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    ::tcsetattr(STDIN_FILENO, TCSANOW, &settings);
    auto* notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this, notifier] {
        char key = 0;
        if (::read(STDIN_FILENO, &key, 1) != 1) {
            notifier->setEnabled(false); // the terminal went away
            return;
        }
        if (m_pressed) {
            m_pressed(key);
        }
    });
}

TerminalKeys::~TerminalKeys() {
    if (m_saved) {
        ::tcsetattr(STDIN_FILENO, TCSANOW, &m_saved->settings);
    }
}

QString recordingLine(std::optional<double> saving, double elapsed, double system,
                      double microphone) {
    if (saving) {
        return QStringLiteral("正在保存 %1 %2%")
            .arg(meter(*saving))
            .arg(static_cast<int>(std::floor(*saving * 100.0)));
    }
    return QStringLiteral("%1  系統 %2  麥克風 %3")
        .arg(AppModel::clock(elapsed), meter(system), meter(microphone));
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

} // namespace kivo::cli
