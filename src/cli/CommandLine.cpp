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
    // "--seconds --name x" is a missing value, not a name for the seconds.
    if (i + 1 >= arguments.size() || arguments[i + 1].startsWith(QStringLiteral("--"))) {
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

Invocation parseRecord(const QStringList& arguments) {
    Invocation invocation;
    invocation.command = Command::record;
    bool modeGiven = false;
    bool applicationGiven = false;
    const auto change = [&](std::function<void(RecordingConfiguration&)> setter) {
        invocation.changes.push_back(std::move(setter));
    };

    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& option = arguments[i];
        if (option == u"--mode") {
            const QString mode = valueOf(arguments, i);
            const auto parsed = recordingModeFromRawValue(mode);
            if (!parsed) {
                reject(QStringLiteral("未知的錄音模式：%1（可用 system、application、microphone）")
                           .arg(mode));
            }
            change([mode = *parsed](RecordingConfiguration& c) { c.mode = mode; });
            modeGiven = true;
        } else if (option == u"--app") {
            const QString text = valueOf(arguments, i);
            bool ok = false;
            const int pid = text.toInt(&ok);
            if (!ok || pid <= 0) {
                reject(QStringLiteral("選項 --app 需要一個行程編號：%1").arg(text));
            }
            change([pid](RecordingConfiguration& c) { c.applicationPID = pid; });
            applicationGiven = true;
        } else if (option == u"--mic" || option == u"--no-mic") {
            change([on = option == u"--mic"](RecordingConfiguration& c) {
                c.includesMicrophone = on;
            });
        } else if (option == u"--device") {
            const QString text = valueOf(arguments, i);
            bool ok = false;
            const uint id = text.toUInt(&ok);
            if (!ok) {
                reject(QStringLiteral("選項 --device 需要一個裝置編號：%1").arg(text));
            }
            change([id](RecordingConfiguration& c) { c.microphoneDeviceID = id; });
        } else if (option == u"--format") {
            const QString text = valueOf(arguments, i);
            if (text != u"aac" && text != u"wav") {
                reject(QStringLiteral("未知的格式：%1（可用 aac、wav）").arg(text));
            }
            const auto format = text == u"aac" ? AudioOutputFormat::aac : AudioOutputFormat::wav;
            change([format](RecordingConfiguration& c) { c.format = format; });
        } else if (option == u"--high-quality" || option == u"--standard-quality") {
            change([on = option == u"--high-quality"](RecordingConfiguration& c) {
                c.highQuality = on;
            });
        } else if (option == u"--separate-tracks" || option == u"--no-separate-tracks") {
            change([on = option == u"--separate-tracks"](RecordingConfiguration& c) {
                c.saveSeparateTracks = on;
            });
        } else if (option == u"--system-gain") {
            const float gain = gainOf(option, valueOf(arguments, i));
            change([gain](RecordingConfiguration& c) { c.systemGain = gain; });
        } else if (option == u"--mic-gain") {
            const float gain = gainOf(option, valueOf(arguments, i));
            change([gain](RecordingConfiguration& c) { c.microphoneGain = gain; });
        } else if (option == u"--name") {
            change([name = valueOf(arguments, i)](RecordingConfiguration& c) { c.name = name; });
        } else if (option == u"--output") {
            const QString folder = valueOf(arguments, i);
            if (folder.isEmpty()) {
                reject(QStringLiteral("選項 --output 需要一個資料夾。"));
            }
            change(
                [url = folderUrl(folder)](RecordingConfiguration& c) { c.outputDirectory = url; });
        } else if (option == u"--seconds") {
            const QString text = valueOf(arguments, i);
            bool ok = false;
            const double seconds = text.toDouble(&ok);
            if (!ok || !std::isfinite(seconds) || seconds <= 0.0 || seconds > kMaximumSeconds) {
                reject(QStringLiteral("選項 --seconds 需要一個大於 0、不超過 %1 的秒數：%2")
                           .arg(QString::number(kMaximumSeconds, 'f', 0), text));
            }
            invocation.seconds = seconds;
        } else {
            reject(QStringLiteral("未知的選項：%1").arg(option));
        }
    }
    // Naming an application implies recording it.
    if (applicationGiven && !modeGiven) {
        change([](RecordingConfiguration& c) { c.mode = RecordingMode::application; });
    }
    return invocation;
}

Invocation withCommand(Command command) {
    Invocation invocation;
    invocation.command = command;
    return invocation;
}

Invocation parseList(const QStringList& arguments) {
    Invocation invocation;
    invocation.command = Command::list;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& option = arguments[i];
        if (option == u"--search") {
            invocation.search = valueOf(arguments, i);
        } else if (option == u"--source") {
            invocation.source = valueOf(arguments, i);
            if (invocation.source != u"all" && !recordingModeFromRawValue(invocation.source)) {
                reject(QStringLiteral("未知的來源：%1（可用 all、system、application、microphone）")
                           .arg(invocation.source));
            }
        } else if (option == u"--oldest-first") {
            invocation.oldestFirst = true;
        } else if (option == u"--json") {
            invocation.json = true;
        } else {
            reject(QStringLiteral("未知的選項：%1").arg(option));
        }
    }
    return invocation;
}

// Commands of the form `command ID [NAME]`: exactly `count` arguments after the command.
Invocation parseWithArguments(Command command, const QStringList& arguments, qsizetype count) {
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments[i].startsWith(QStringLiteral("--"))) {
            reject(QStringLiteral("未知的選項：%1").arg(arguments[i]));
        }
    }
    if (arguments.size() - 1 != count) {
        reject(count == 1 ? QStringLiteral("%1 需要一個錄音編號。").arg(arguments.front())
                          : QStringLiteral("%1 需要錄音編號與新名稱。").arg(arguments.front()));
    }
    Invocation invocation;
    invocation.command = command;
    invocation.id = arguments[1];
    if (count == 2) {
        invocation.name = arguments[2];
    }
    return invocation;
}

Invocation parseRecover(const QStringList& arguments) {
    Invocation invocation;
    invocation.command = Command::recover;
    if (arguments.size() == 2 && arguments[1] == u"--all") {
        invocation.all = true;
    } else if (arguments.size() == 2 && !arguments[1].startsWith(QStringLiteral("--"))) {
        invocation.id = arguments[1];
    } else if (arguments.size() > 1) {
        reject(QStringLiteral("用法：kivo-cli recover [編號 | --all]"));
    }
    return invocation;
}

} // namespace

QString usage() {
    return QStringLiteral(
        "用法：\n"
        "  kivo-cli record [--mode system|application|microphone] [--app PID] [--mic|--no-mic]\n"
        "                  [--device ID] [--format aac|wav] [--high-quality|--standard-quality]\n"
        "                  [--separate-tracks|--no-separate-tracks] [--system-gain G]\n"
        "                  [--mic-gain G] [--name NAME] [--output DIR] [--seconds N]\n"
        "      錄音，直到 N 秒過去，或按下 Ctrl+C；錄音中按 m 加入標記。\n"
        "      結束時在標準輸出印出錄音紀錄（JSON）。\n"
        "      從 Kivo 設定頁儲存的預設值開始，每個選項只改它那一項設定。\n"
        "      錄音中來源中斷時，會保存已錄製的內容並以代碼 3 結束。\n"
        "      錄音會保存到錄音資料庫，與 Kivo 視窗共用。Kivo 視窗開著時，改由視窗錄音，\n"
        "      這裡顯示時間與音量，時間到或按下 Ctrl+C 時由視窗停止並保存。\n"
        "  kivo-cli status [--json]\n"
        "      顯示 Kivo 的狀態、錄音時間與上次保存的錄音；--json 印出 JSON。\n"
        "  kivo-cli devices   列出可用的麥克風：編號<TAB>名稱\n"
        "  kivo-cli apps      列出可錄音的 App：行程編號<TAB>名稱<TAB>識別碼\n"
        "  kivo-cli list [--search 文字] [--source all|system|application|microphone]\n"
        "                [--oldest-first] [--json]\n"
        "      列出資料庫中的錄音；--json 印出錄音紀錄的 JSON 陣列。\n"
        "  kivo-cli recover [編號 | --all]\n"
        "      不帶參數時列出可復原的暫存錄音；帶編號或 --all 時復原。\n"
        "  kivo-cli rename 編號 新名稱   為錄音改名\n"
        "  kivo-cli trash 編號           把錄音的音檔移至垃圾桶，並從資料庫移除\n"
        "  kivo-cli presets              列出預設組合\n"
        "  kivo-cli play 編號 [--from-marker N]\n"
        "                                播放錄音（從第 N 個標記開始），直到結束或按下 Ctrl+C\n"
        "  kivo-cli markers 編號         列出錄音的標記：編號<TAB>時間<TAB>名稱\n"
        "桌面快速鍵：\n"
        "  在桌面設定的自訂快速鍵中加入指令 kivo --toggle-record（開始或停止錄音），\n"
        "  或 kivo --toggle-pause（暫停或繼續）。也可用 --record、--pause、--resume、--stop。\n"
        "結束代碼：\n"
        "  0 成功　1 操作失敗　2 參數錯誤　3 錄音因來源中斷而提早結束（已保存）\n"
        "  4 找不到指定的錄音或暫存錄音　5 錄音資料庫無法使用（另一個 Kivo "
        "正在使用，或無法讀取）\n");
}

RecordingConfiguration Invocation::recordingFrom(RecordingConfiguration defaults) const {
    for (const auto& change : changes) {
        change(defaults);
    }
    return defaults;
}

Invocation parse(const QStringList& arguments) {
    if (arguments.isEmpty() || arguments.front() == u"help" || arguments.front() == u"--help" ||
        arguments.front() == u"-h") {
        return {};
    }
    const QString& command = arguments.front();
    if (command == u"record") {
        return parseRecord(arguments);
    }
    if (arguments.size() > 1 && (command == u"devices" || command == u"apps")) {
        reject(QStringLiteral("%1 不接受選項：%2").arg(command, arguments[1]));
    }
    if (command == u"devices") {
        return withCommand(Command::devices);
    }
    if (command == u"apps") {
        return withCommand(Command::apps);
    }
    if (command == u"list") {
        return parseList(arguments);
    }
    if (command == u"recover") {
        return parseRecover(arguments);
    }
    if (command == u"rename") {
        return parseWithArguments(Command::rename, arguments, 2);
    }
    if (command == u"trash") {
        return parseWithArguments(Command::trash, arguments, 1);
    }
    if (command == u"play") {
        // play ID [--from-marker N]
        QStringList rest = arguments;
        std::optional<qsizetype> fromMarker;
        if (const auto at = rest.indexOf(QStringLiteral("--from-marker")); at > 0) {
            bool ok = false;
            const qsizetype number = at + 1 < rest.size() ? rest[at + 1].toLongLong(&ok) : 0;
            if (!ok || number < 1) {
                reject(QStringLiteral("選項 --from-marker 需要一個從 1 起算的標記編號。"));
            }
            fromMarker = number;
            rest.remove(at, 2);
        }
        Invocation invocation = parseWithArguments(Command::play, rest, 1);
        invocation.fromMarker = fromMarker;
        return invocation;
    }
    if (command == u"markers") {
        return parseWithArguments(Command::markers, arguments, 1);
    }
    if (command == u"status") {
        Invocation invocation = withCommand(Command::status);
        for (qsizetype i = 1; i < arguments.size(); ++i) {
            if (arguments[i] != u"--json") {
                reject(QStringLiteral("未知的選項：%1").arg(arguments[i]));
            }
            invocation.json = true;
        }
        return invocation;
    }
    if (command == u"presets") {
        if (arguments.size() > 1) {
            reject(QStringLiteral("presets 不接受選項：%1").arg(arguments[1]));
        }
        return withCommand(Command::presets);
    }
    reject(QStringLiteral("未知的指令：%1").arg(command));
}

} // namespace kivo::cli
