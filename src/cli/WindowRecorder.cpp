#include "cli/WindowRecorder.h"

#include "application/AppModel.h"
#include "application/MainThread.h"
#include "cli/CommandLine.h"
#include "cli/Terminal.h"
#include "domain/KivoError.h"
#include "infrastructure/system/LinuxServices.h"
#include "infrastructure/system/RunningKivo.h"
#include "infrastructure/system/StopSignals.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace kivo::cli {

namespace {

constexpr int kPollMilliseconds = 200;

} // namespace

WindowRecorder::WindowRecorder(RecordingConfiguration configuration, std::optional<double> seconds)
    : m_configuration(std::move(configuration))
    , m_seconds(seconds)
    , m_terminal(stderrIsTerminal()) {
    m_deadline.setSingleShot(true);
    m_deadline.setTimerType(Qt::PreciseTimer);
    connect(&m_deadline, &QTimer::timeout, this, &WindowRecorder::stop);
    m_poll.setInterval(kPollMilliseconds);
    connect(&m_poll, &QTimer::timeout, this, &WindowRecorder::poll);
}

int WindowRecorder::run() {
    const StopSignals stopSignals([this] { stop(); });
    const TerminalKeys keys([](char key) {
        if (key == 'm' || key == 'M') {
            const auto answer = RunningKivo::call(QStringLiteral("Mark"), {QString()});
            if (answer.outcome != RunningKivo::Outcome::taken) {
                printError(answer.message);
            }
        }
    });
    MainThread::post(this, [this] { begin(); });
    return QCoreApplication::exec();
}

void WindowRecorder::begin() {
    m_lastRecordBefore = RunningKivo::properties().value(QStringLiteral("LastRecordId")).toString();
    const auto answer = RunningKivo::call(
        QStringLiteral("RecordWith"), {QString::fromUtf8(writeCompact(m_configuration.toJson()))});
    if (answer.outcome != RunningKivo::Outcome::taken) {
        printError(answer.message);
        QCoreApplication::exit(kExitFailed);
        return;
    }
    printError(QStringLiteral("Kivo 視窗正在執行，由視窗錄音。"));
    m_poll.start();
    poll();
}

void WindowRecorder::stop() {
    m_deadline.stop();
    if (m_started) {
        // Refused when the window's recording has ended already: the poll sees it finish.
        RunningKivo::call(QStringLiteral("Stop"));
    } else {
        m_seconds = 0.0; // stopped as soon as it runs
    }
}

void WindowRecorder::poll() {
    m_properties = RunningKivo::properties();
    if (m_properties.isEmpty()) {
        printError(QStringLiteral("Kivo 視窗已結束。"));
        QCoreApplication::exit(kExitFailed);
        return;
    }
    const QString state = m_properties.value(QStringLiteral("State")).toString();
    if (!m_started && (state == u"recording" || state == u"paused")) {
        m_started = true;
        if (m_seconds) {
            m_deadline.start(static_cast<int>(std::ceil(*m_seconds * 1000.0)));
        }
    }
    if (state == u"idle") {
        finish();
        return;
    }
    if (!m_terminal) {
        return;
    }
    const double progress = m_properties.value(QStringLiteral("SaveProgress")).toDouble();
    showStatus(recordingLine(progress >= 0.0 ? std::optional(progress) : std::nullopt,
                             m_properties.value(QStringLiteral("Elapsed")).toDouble(),
                             m_properties.value(QStringLiteral("SystemLevel")).toDouble(),
                             m_properties.value(QStringLiteral("MicrophoneLevel")).toDouble()));
}

void WindowRecorder::finish() {
    m_poll.stop();
    if (m_terminal) {
        showStatus(QString());
    }
    const QString last = m_properties.value(QStringLiteral("LastRecordId")).toString();
    if (last.isEmpty() || last == m_lastRecordBefore) {
        printError(QStringLiteral("Kivo 視窗沒有保存這段錄音，原因請見視窗中的訊息。"));
        QCoreApplication::exit(kExitFailed);
        return;
    }
    // The record as the library keeps it, read now that the window has stored it.
    LinuxServices::Options options;
    options.viewOnly = true;
    options.systemEvents = false;
    options.soundServer = false;
    try {
        const AppModel library(LinuxServices::make(options));
        for (const RecordingRecord& record : library.library().recordings) {
            if (record.id() == QUuid::fromString(last)) {
                printLine(QString::fromUtf8(writeCompact(record.toJson())));
            }
        }
    } catch (const KivoError& error) {
        printError(error.text()); // saved all the same: the window has stored it
    }
    QCoreApplication::exit(kExitOk);
}

int printStatus(const AppModel& model, bool json) {
    QVariantMap properties = RunningKivo::properties();
    const bool running = !properties.isEmpty();
    if (!running) {
        const auto& records = model.library().recordings;
        properties.insert(QStringLiteral("State"), QStringLiteral("idle"));
        properties.insert(QStringLiteral("Elapsed"), 0.0);
        properties.insert(QStringLiteral("LastRecordName"),
                          records.isEmpty() ? QString() : records.front().name());
        properties.insert(QStringLiteral("LastRecordId"),
                          records.isEmpty() ? QString()
                                            : records.front().id().toString(QUuid::WithoutBraces));
    }
    const QString state = properties.value(QStringLiteral("State")).toString();
    const double elapsed = properties.value(QStringLiteral("Elapsed")).toDouble();
    const QString name = properties.value(QStringLiteral("LastRecordName")).toString();
    const QString id = properties.value(QStringLiteral("LastRecordId")).toString();
    if (json) {
        QJsonObject status{{QStringLiteral("running"), running},
                           {QStringLiteral("state"), state},
                           {QStringLiteral("elapsed"), elapsed}};
        status.insert(QStringLiteral("lastRecord"),
                      id.isEmpty() ? QJsonValue()
                                   : QJsonObject{{QStringLiteral("id"), id.toUpper()},
                                                 {QStringLiteral("name"), name}});
        printLine(QString::fromUtf8(QJsonDocument(status).toJson(QJsonDocument::Compact)));
        return kExitOk;
    }
    // The running Kivo's own status line ("錄音中", "正在復原", …).
    const QString shown = running ? properties.value(QStringLiteral("Status")).toString()
                                  : QStringLiteral("準備就緒");
    printLine(QStringLiteral("狀態：") + shown +
              (running ? QString() : QStringLiteral("（Kivo 視窗沒有在執行）")));
    printLine(QStringLiteral("時間：") + AppModel::clock(elapsed));
    printLine(QStringLiteral("上次錄音：") + (name.isEmpty() ? QStringLiteral("（沒有）") : name));
    return kExitOk;
}

} // namespace kivo::cli
