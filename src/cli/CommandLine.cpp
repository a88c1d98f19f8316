#include "cli/CommandLine.h"

#include "domain/KivoError.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include <cmath>
#include <limits>

namespace kivo::cli {

namespace {

[[noreturn]] void reject(const QString& message) {
    throw KivoError(message);
}

QString valueOf(const QStringList& arguments, qsizetype& i) {
    const QString option = arguments[i];
    if (i + 1 >= arguments.size()) {
        reject(QStringLiteral("選項 %1 需要一個值。").arg(option));
    }
    return arguments[++i];
}

float gainOf(const QString& option, const QString& text) {
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value) || value < 0.0 || value > 1.0) {
        reject(QStringLiteral("選項 %1 的增益必須是 0 到 1 之間的數字：%2").arg(option, text));
    }
    return static_cast<float>(value);
}

// A folder URL ends in "/", so that the exported files go inside it.
QUrl folderUrl(const QString& path) {
    QString absolute = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    if (!absolute.endsWith(QLatin1Char('/'))) {
        absolute += QLatin1Char('/');
    }
    return QUrl::fromLocalFile(absolute);
}

Invocation parseRecord(const QStringList& arguments, const QString& defaultOutput) {
    RecordingConfiguration configuration(folderUrl(defaultOutput));
    Invocation invocation;
    invocation.command = Command::record;
    bool modeGiven = false;

    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& option = arguments[i];
        if (option == u"--mode") {
            const QString mode = valueOf(arguments, i);
            const auto parsed = recordingModeFromRawValue(mode);
            if (!parsed) {
                reject(QStringLiteral("未知的錄音模式：%1（可用 system、application、microphone）")
                           .arg(mode));
            }
            configuration.mode = *parsed;
            modeGiven = true;
        } else if (option == u"--app") {
            const QString text = valueOf(arguments, i);
            bool ok = false;
            const int pid = text.toInt(&ok);
            if (!ok || pid <= 0) {
                reject(QStringLiteral("選項 --app 需要一個行程編號：%1").arg(text));
            }
            configuration.applicationPID = pid;
        } else if (option == u"--no-mic") {
            configuration.includesMicrophone = false;
        } else if (option == u"--device") {
            const QString text = valueOf(arguments, i);
            bool ok = false;
            const uint id = text.toUInt(&ok);
            if (!ok) {
                reject(QStringLiteral("選項 --device 需要一個裝置編號：%1").arg(text));
            }
            configuration.microphoneDeviceID = id;
        } else if (option == u"--format") {
            const QString format = valueOf(arguments, i);
            if (format == u"aac") {
                configuration.format = AudioOutputFormat::aac;
            } else if (format == u"wav") {
                configuration.format = AudioOutputFormat::wav;
            } else {
                reject(QStringLiteral("未知的格式：%1（可用 aac、wav）").arg(format));
            }
        } else if (option == u"--high-quality") {
            configuration.highQuality = true;
        } else if (option == u"--separate-tracks") {
            configuration.saveSeparateTracks = true;
        } else if (option == u"--system-gain") {
            configuration.systemGain = gainOf(option, valueOf(arguments, i));
        } else if (option == u"--mic-gain") {
            configuration.microphoneGain = gainOf(option, valueOf(arguments, i));
        } else if (option == u"--name") {
            configuration.name = valueOf(arguments, i);
        } else if (option == u"--output") {
            const QString folder = valueOf(arguments, i);
            if (folder.isEmpty()) {
                reject(QStringLiteral("選項 --output 需要一個資料夾。"));
            }
            configuration.outputDirectory = folderUrl(folder);
        } else if (option == u"--seconds") {
            const QString text = valueOf(arguments, i);
            bool ok = false;
            const double seconds = text.toDouble(&ok);
            if (!ok || !std::isfinite(seconds) || seconds <= 0.0) {
                reject(QStringLiteral("選項 --seconds 需要一個大於 0 的秒數：%1").arg(text));
            }
            invocation.seconds = seconds;
        } else {
            reject(QStringLiteral("未知的選項：%1").arg(option));
        }
    }
    // Naming an application implies recording it.
    if (configuration.applicationPID && !modeGiven) {
        configuration.mode = RecordingMode::application;
    }
    invocation.configuration = configuration;
    return invocation;
}

} // namespace

QString usage() {
    return QStringLiteral(
        "用法：\n"
        "  kivo-cli record [--mode system|application|microphone] [--app PID] [--no-mic]\n"
        "                  [--device ID] [--format aac|wav] [--high-quality] [--separate-tracks]\n"
        "                  [--system-gain G] [--mic-gain G] [--name NAME] [--output DIR]\n"
        "                  [--seconds N]\n"
        "      錄音，直到 N 秒過去，或按下 Ctrl+C。結束時在標準輸出印出錄音紀錄（JSON）。\n"
        "      錄音中來源中斷時，會保存已錄製的內容並以代碼 3 結束。\n"
        "  kivo-cli devices   列出可用的麥克風：編號<TAB>名稱\n"
        "  kivo-cli apps      列出可錄音的 App：行程編號<TAB>名稱<TAB>識別碼\n");
}

Invocation parse(const QStringList& arguments, const QString& defaultOutput) {
    if (arguments.isEmpty() || arguments.front() == u"help" || arguments.front() == u"--help" ||
        arguments.front() == u"-h") {
        return {};
    }
    const QString& command = arguments.front();
    if (command == u"record") {
        return parseRecord(arguments, defaultOutput);
    }
    if (arguments.size() > 1 && (command == u"devices" || command == u"apps")) {
        reject(QStringLiteral("%1 不接受選項：%2").arg(command, arguments[1]));
    }
    if (command == u"devices") {
        return {Command::devices, std::nullopt, std::nullopt};
    }
    if (command == u"apps") {
        return {Command::apps, std::nullopt, std::nullopt};
    }
    reject(QStringLiteral("未知的指令：%1").arg(command));
}

} // namespace kivo::cli
