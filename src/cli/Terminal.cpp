#include "cli/Terminal.h"

#include "application/AppModel.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

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
