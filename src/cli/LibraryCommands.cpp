#include "cli/LibraryCommands.h"

#include "application/AppModel.h"
#include "cli/Terminal.h"
#include "domain/Text.h"
#include "infrastructure/system/StopSignals.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <cmath>
#include <functional>

namespace kivo::cli {

namespace {

QString idText(const QUuid& id) {
    return id.toString(QUuid::WithoutBraces).toUpper();
}

QString dateText(Date date) {
    return date.toDateTime().toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

// Any spelling of the UUID: upper or lower case, with or without braces.
bool sameId(const QUuid& id, const QString& text) {
    const QUuid parsed = QUuid::fromString(text.trimmed());
    return !parsed.isNull() && parsed == id;
}

std::optional<RecordingRecord> findRecord(const AppModel& model, const QString& id) {
    for (const RecordingRecord& record : model.library().recordings) {
        if (sameId(record.id(), id)) {
            return record;
        }
    }
    printError(QStringLiteral("找不到編號為 %1 的錄音。請用 kivo-cli list 查看編號。").arg(id));
    return std::nullopt;
}

// The record `id` of a library that could be read; else says why, with the exit code in `failed`.
std::optional<RecordingRecord> readableRecord(const AppModel& model, const QString& id,
                                              int& failed) {
    if (model.alertMessage() && model.library().recordings.isEmpty()) {
        printError(*model.alertMessage());
        failed = kExitLibraryUnavailable;
        return std::nullopt;
    }
    auto record = findRecord(model, id);
    if (!record) {
        failed = kExitNotFound;
    }
    return record;
}

// Writing needs the library: the model says why it is not available.
bool writable(const AppModel& model) {
    if (model.storageAvailable()) {
        return true;
    }
    printError(model.alertMessage().value_or(AppModel::kLockedMessage));
    return false;
}

// Runs the event loop until `finished` is called.
void waitFor(const std::function<void(std::function<void()> finished)>& work) {
    QEventLoop loop;
    bool done = false;
    work([&] {
        done = true;
        loop.quit();
    });
    if (!done) {
        loop.exec();
    }
}

// What an operation left: its alert is a failure, its notice a success.
int outcome(const AppModel& model) {
    if (model.alertMessage()) {
        printError(*model.alertMessage());
        return kExitFailed;
    }
    if (model.notice()) {
        printError(*model.notice());
    }
    return kExitOk;
}

// rename and trash: one record of a writable library, changed by `change`.
int changeRecord(AppModel& model, const Invocation& invocation,
                 const std::function<void(const RecordingRecord&)>& change) {
    if (!writable(model)) {
        return kExitLibraryUnavailable;
    }
    const auto record = findRecord(model, *invocation.id);
    if (!record) {
        return kExitNotFound;
    }
    change(*record);
    return outcome(model);
}

} // namespace

int listRecords(AppModel& model, const Invocation& invocation) {
    if (model.alertMessage() && model.library().recordings.isEmpty()) {
        // An unreadable library: there is nothing to list, and the user must know why.
        printError(*model.alertMessage());
        return kExitLibraryUnavailable;
    }
    model.setSearch(invocation.search);
    model.setSourceFilter(invocation.source);
    model.setNewestFirst(!invocation.oldestFirst);
    const QList<RecordingRecord> records = model.filteredRecords();
    if (invocation.json) {
        JsonValue::Array array;
        for (const RecordingRecord& record : records) {
            array.push_back(record.toJson());
        }
        std::fputs(writeSortedIndented(JsonValue(std::move(array))).constData(), stdout);
        std::fputs("\n", stdout);
        return kExitOk;
    }
    for (const RecordingRecord& record : records) {
        printLine(QStringList{idText(record.id()), dateText(record.createdAt()),
                              AppModel::clock(record.duration()),
                              record.configuration().sourceDescription(), record.name()}
                      .join(QLatin1Char('\t')));
    }
    return kExitOk;
}

int recoverSessions(AppModel& model, const Invocation& invocation) {
    if (!writable(model)) {
        return kExitLibraryUnavailable;
    }
    if (!invocation.id && !invocation.all) {
        for (const RecoveryItem& item : model.recoveries()) {
            printLine(QStringList{idText(item.manifest.id), dateText(item.manifest.startedAt),
                                  item.manifest.configuration.name}
                          .join(QLatin1Char('\t')));
        }
        return kExitOk;
    }
    QList<RecoveryItem> items;
    for (const RecoveryItem& item : model.recoveries()) {
        if (invocation.all || sameId(item.manifest.id, *invocation.id)) {
            items.append(item);
        }
    }
    if (items.isEmpty() && invocation.id) {
        printError(QStringLiteral("找不到編號為 %1 的暫存錄音。請用 kivo-cli recover 查看編號。")
                       .arg(*invocation.id));
        return kExitNotFound;
    }
    QTimer progress;
    progress.setInterval(200);
    QObject::connect(&progress, &QTimer::timeout, [&model] {
        if (const auto fraction = model.exportProgress()) {
            showStatus(QStringLiteral("正在復原 %1 %2%")
                           .arg(meter(*fraction))
                           .arg(static_cast<int>(std::floor(*fraction * 100.0))));
        }
    });
    if (stderrIsTerminal()) {
        progress.start();
    }
    // Ended by a signal: the recovery under way finishes (its files must not be left half
    // written), the others wait for the next time.
    bool interrupted = false;
    const StopSignals stopSignals([&] {
        interrupted = true;
        model.settle([](bool settled) {
            if (!settled) {
                StopSignals::endNow(kExitFailed);
            }
        });
    });
    int code = kExitOk;
    for (const RecoveryItem& item : items) {
        if (interrupted) {
            return kExitFailed;
        }
        model.setAlertMessage(std::nullopt);
        model.setNotice(std::nullopt);
        waitFor([&](std::function<void()> finished) { model.recover(item, finished); });
        if (stderrIsTerminal()) {
            showStatus(QString());
            std::fputs("\r", stderr);
        }
        if (outcome(model) != kExitOk) {
            code = kExitFailed;
        }
    }
    return code;
}

int renameRecord(AppModel& model, const Invocation& invocation) {
    if (trimmedWhitespace(invocation.name).isEmpty()) {
        printError(QStringLiteral("新名稱不可空白。"));
        return kExitUsage;
    }
    return changeRecord(model, invocation, [&](const RecordingRecord& record) {
        model.rename(record, invocation.name);
    });
}

int trashRecord(AppModel& model, const Invocation& invocation) {
    return changeRecord(model, invocation,
                        [&](const RecordingRecord& record) { model.trash(record); });
}

int listPresets(AppModel& model) {
    if (model.alertMessage() && model.library().presets.isEmpty()) {
        printError(*model.alertMessage());
        return kExitLibraryUnavailable;
    }
    for (const RecordingPreset& preset : model.library().presets) {
        printLine(
            QStringList{idText(preset.id), preset.configuration.sourceDescription(), preset.name}
                .join(QLatin1Char('\t')));
    }
    return kExitOk;
}

int playRecord(AppModel& model, const Invocation& invocation) {
    int failed = kExitOk;
    const auto record = readableRecord(model, *invocation.id, failed);
    if (!record) {
        return failed;
    }
    const auto& markers = record->markers();
    if (invocation.fromMarker && *invocation.fromMarker > markers.size()) {
        printError(QStringLiteral("這段錄音沒有第 %1 個標記。請用 kivo-cli markers %2 查看。")
                       .arg(*invocation.fromMarker)
                       .arg(*invocation.id));
        return kExitNotFound;
    }
    model.setAlertMessage(std::nullopt);
    model.play(*record);
    if (model.alertMessage()) {
        printError(*model.alertMessage());
        return kExitFailed;
    }
    if (invocation.fromMarker) {
        model.setPlaybackPosition(markers[*invocation.fromMarker - 1].at);
    }
    QEventLoop loop;
    const StopSignals stopSignals([&] {
        model.stopPlayback();
        loop.quit();
    });
    QTimer position;
    position.setInterval(200);
    QObject::connect(&position, &QTimer::timeout, [&] {
        if (stderrIsTerminal()) {
            showStatus(AppModel::clock(model.playbackPosition()) + QStringLiteral(" / ") +
                       AppModel::clock(model.playbackDuration()));
        }
    });
    // The end of the file leaves the model stopped playing, at position 0.
    QObject::connect(&model, &AppModel::changed, &loop, [&] {
        if (!model.playing()) {
            loop.quit();
        }
    });
    position.start();
    loop.exec();
    if (stderrIsTerminal()) {
        showStatus(QString());
        std::fputs("\r", stderr);
    }
    model.stopPlayback();
    return kExitOk;
}

int listMarkers(AppModel& model, const Invocation& invocation) {
    int failed = kExitOk;
    const auto record = readableRecord(model, *invocation.id, failed);
    if (!record) {
        return failed;
    }
    qsizetype number = 0;
    for (const RecordingMarker& marker : record->markers()) {
        const auto milliseconds = std::llround(marker.at * 1000.0) % 1000;
        printLine(QStringLiteral("%1\t%2.%3\t%4")
                      .arg(++number)
                      .arg(AppModel::clock(marker.at))
                      .arg(milliseconds, 3, 10, QLatin1Char('0'))
                      .arg(marker.label));
    }
    return kExitOk;
}

} // namespace kivo::cli
