#include "application/AppModel.h"

#include "application/MainThread.h"

#include "application/Background.h"
#include "domain/KivoError.h"
#include "domain/Text.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>

#include <algorithm>
#include <cmath>

namespace kivo {

namespace {

const QString kSavedButNotStored =
    QStringLiteral("音檔已輸出，但錄音紀錄尚未保存。可從復原暫存重新加入紀錄。\n");
const QString kNotCleanedUp = QStringLiteral("音檔已保存，暫存資料尚未清理。");
const QString kRecoveryFailed = QStringLiteral("無法復原，暫存資料已保留。\n");
const QString kTrashFailed =
    QStringLiteral("未完成刪除。部分音檔可能已移至垃圾桶，紀錄仍可用來檢查保存位置。\n");
const QString kPlaybackFailed = QStringLiteral("無法播放音檔，檔案可能已移動。\n");
const QString kSettingsSaved = QStringLiteral("已儲存設定。");
const QString kSleepNotice = QStringLiteral("電腦即將睡眠，正在保存錄音。");
const QString kApplicationEndedNotice = QStringLiteral("選定 App 已結束，正在保存錄音。");

bool isOpen(RecordingState state) {
    return state == RecordingState::recording || state == RecordingState::paused;
}

QList<float> silentHistory() {
    return QList<float>(AppModel::kWaveHistoryLength, 0.0F);
}

bool allFilesExist(const RecordingRecord& record) {
    return std::all_of(record.files().begin(), record.files().end(),
                       [](const QUrl& file) { return QFileInfo::exists(file.toLocalFile()); });
}

} // namespace

const QString AppModel::kLockedMessage =
    QStringLiteral("另一個 Kivo 正在使用錄音資料庫，目前只能檢視。請先結束另一個 Kivo。");
const QString AppModel::kLockFailedMessage =
    QStringLiteral("無法鎖定錄音資料庫。為了不和另一個 Kivo 同時寫入，目前只能檢視。\n");

AppModel::AppModel(AppServices services, QObject* parent)
    : QObject(parent)
    , m_services(std::move(services))
    , m_configuration(m_services.defaultOutputFolder)
    , m_defaultConfiguration(m_services.defaultOutputFolder)
    , m_library(m_services.defaultOutputFolder)
    , m_waveHistory(silentHistory()) {
    m_coordinator = std::make_unique<RecordingCoordinator>(
        m_services.backend, m_services.clock ? m_services.clock : monotonicSeconds);

    // One process at a time writes the library and the sessions; the others only look.
    takeWriterLock();
    m_lockRetry.setInterval(kLockRetryMilliseconds);
    connect(&m_lockRetry, &QTimer::timeout, this, &AppModel::retryWriterLock);
    LibraryStorage* storage = m_services.storage.get();
    const auto load = [storage] {
        return Result<KivoLibrary>::capture([storage] { return storage->load(); });
    };
    if (m_services.loadInBackground) {
        m_loading = true;
        m_storageAvailable = false;
        m_readOnlyReason = QStringLiteral("正在讀取錄音資料庫，請稍候。");
        m_loader.setMaxThreadCount(1);
        Background::run(
            this, load, [this](const Result<KivoLibrary>& library) { finishLoading(library); },
            &m_loader);
        refreshSources();
    } else {
        finishLoading(load());
    }

    connect(m_coordinator.get(), &RecordingCoordinator::changed, this, &AppModel::changed);
    m_clock.start();
    connect(m_coordinator.get(), &RecordingCoordinator::levelsChanged, this,
            [this](AudioLevels levels) {
                const qint64 now = m_clock.elapsed();
                if (levels.system >= kFullScale) {
                    m_systemClippedAt = now;
                    m_clippedSinceStart.system = true;
                }
                if (levels.microphone >= kFullScale) {
                    m_microphoneClippedAt = now;
                    m_clippedSinceStart.microphone = true;
                }
            });
    connect(m_coordinator.get(), &RecordingCoordinator::stateChanged, this,
            &AppModel::followRecordingState);

    // The stop triggers only queue their work: it runs on a later turn of the event loop.
    const QPointer<AppModel> self(this);
    m_coordinator->onUnexpectedStop = [self] { MainThread::post(self, [self] { self->stop(); }); };
    if (m_services.sleep) {
        m_services.sleep->onWillSleep = [self] {
            MainThread::post(self, [self] { self->onWillSleep(); });
        };
    }
    if (m_services.processes) {
        m_services.processes->onExit = [self](qint32 pid) {
            MainThread::post(self, [self, pid] { self->onProcessExit(pid); });
        };
    }
    if (m_services.sources) {
        m_services.sources->onClientRemoved = [self] {
            if (self) {
                self->refreshSourcesInBackground();
                if (self->m_services.processes) {
                    self->m_services.processes->soundServerClientRemoved();
                }
            }
        };
    }
    m_services.backend->onExportProgress = [self](double progress) {
        if (self && self->m_stopsInProgress > 0) {
            self->setExportProgress(progress);
        }
    };

    m_timer.setInterval(kTickMilliseconds);
    connect(&m_timer, &QTimer::timeout, this, &AppModel::tick);
    m_timer.start();
}

AppModel::~AppModel() {
    // A library still being read is read to its end: the reading uses the storage.
    m_loader.waitForDone();
    m_timer.stop();
    if (m_player) {
        m_player->onFinished = nullptr;
        m_player->stop();
    }
    m_services.backend->onExportProgress = nullptr;
    if (m_services.sleep) {
        m_services.sleep->releaseSleep();
    }
}

void AppModel::finishLoading(const Result<KivoLibrary>& loaded) {
    m_loading = false;
    try {
        m_library = loaded.get();
        listChanged();
        m_configuration = m_library.settings;
        m_defaultConfiguration = m_library.settings;
        m_storageAvailable = m_writerLock == WriterLock::held;
        m_readOnlyReason = lockReason();
        if (!m_storageAvailable && m_writerLock != WriterLock::notWanted) {
            m_alertMessage = m_readOnlyReason;
        }
    } catch (const std::exception& error) {
        m_storageAvailable = false;
        m_readOnlyReason = describe(error);
        m_alertMessage = m_readOnlyReason;
    }
    if (m_writerLock == WriterLock::heldByAnother) {
        m_lockRetry.start();
    }
    refreshSources();
    scanRecoveries();
    emit changed();
}

void AppModel::takeWriterLock() {
    if (m_services.viewOnly) {
        m_writerLock = WriterLock::notWanted;
        return;
    }
    try {
        m_writerLock =
            m_services.storage->lockForWriting() ? WriterLock::held : WriterLock::heldByAnother;
    } catch (const std::exception& error) {
        // Writing without the lock could overwrite what another Kivo has just saved.
        m_writerLock = WriterLock::failed;
        m_lockFailure = kLockFailedMessage + describe(error);
    }
}

QString AppModel::lockReason() const {
    switch (m_writerLock) {
    case WriterLock::notWanted:
        return QStringLiteral("目前只能檢視錄音資料庫。");
    case WriterLock::held:
    case WriterLock::heldByAnother:
        return kLockedMessage;
    case WriterLock::failed:
        break;
    }
    return m_lockFailure;
}

void AppModel::retryWriterLock() {
    try {
        if (!m_services.storage->lockForWriting()) {
            return;
        }
    } catch (const std::exception&) {
        return; // asked again at the next retry
    }
    m_lockRetry.stop();
    m_writerLock = WriterLock::held;
    const bool showingReason = m_alertMessage == m_readOnlyReason;
    try {
        // The other Kivo may have changed it. The studio keeps what the user set up.
        m_library = m_services.storage->load();
        listChanged();
        m_defaultConfiguration = m_library.settings;
        m_storageAvailable = true;
        if (showingReason) {
            m_alertMessage.reset();
        }
    } catch (const std::exception& error) {
        m_readOnlyReason = describe(error);
        m_alertMessage = m_readOnlyReason;
    }
    scanRecoveries();
    emit changed();
}

bool AppModel::refusedWhileReadOnly() {
    if (m_storageAvailable) {
        return false;
    }
    setAlertMessage(m_readOnlyReason);
    return true;
}

// --- Fields ---

void AppModel::setPage(KivoPage page) {
    if (m_page != page) {
        m_page = page;
        emit changed();
    }
}

void AppModel::setConfiguration(RecordingConfiguration configuration) {
    if (!(m_configuration == configuration)) {
        m_configuration = std::move(configuration);
        emit changed();
    }
}

void AppModel::setDefaultConfiguration(RecordingConfiguration configuration) {
    if (!(m_defaultConfiguration == configuration)) {
        m_defaultConfiguration = std::move(configuration);
        emit changed();
    }
}

void AppModel::setAlertMessage(std::optional<QString> message) {
    if (m_alertMessage != message) {
        m_alertMessage = std::move(message);
        emit changed();
    }
}

void AppModel::setNotice(std::optional<QString> notice) {
    if (m_notice != notice) {
        m_notice = std::move(notice);
        emit changed();
    }
}

void AppModel::setSearch(QString search) {
    if (m_search != search) {
        m_search = std::move(search);
        listChanged();
        emit changed();
    }
}

void AppModel::setSourceFilter(QString filter) {
    if (m_sourceFilter != filter) {
        m_sourceFilter = std::move(filter);
        listChanged();
        emit changed();
    }
}

void AppModel::setNewestFirst(bool newestFirst) {
    if (m_newestFirst != newestFirst) {
        m_newestFirst = newestFirst;
        listChanged();
        emit changed();
    }
}

void AppModel::setMicrophoneMuted(bool muted) {
    if (m_microphoneMuted != muted) {
        m_microphoneMuted = muted;
        emit changed();
    }
}

void AppModel::setPlaybackPosition(double seconds) {
    if (m_player) {
        m_player->setCurrentTime(seconds);
    }
    m_playbackPosition = seconds;
    emit changed();
}

void AppModel::setExportProgress(std::optional<double> progress) {
    if (m_exportProgress != progress) {
        m_exportProgress = progress;
        emit changed();
    }
}

QString AppModel::capturesRoot() const {
    return m_services.storage->directory() + QStringLiteral("/Captures");
}

void AppModel::tick() {
    bool changedSomething = false;
    if (m_player) {
        const double position = m_player->currentTime();
        const bool playing = m_player->isPlaying();
        changedSomething = position != m_playbackPosition || playing != m_playing;
        m_playbackPosition = position;
        m_playing = playing;
    }
    if (m_coordinator->state() == RecordingState::recording) {
        const AudioLevels levels = m_coordinator->levels();
        m_waveHistory.removeFirst();
        m_waveHistory.append(std::max(levels.system, levels.microphone));
        changedSomething = true;
    }
    if (changedSomething) {
        emit changed();
    }
}

AppModel::Clipping AppModel::clippingNow() const {
    const qint64 now = m_clock.elapsed();
    const auto recent = [now](const std::optional<qint64>& at) {
        return at && now - *at < kClipShowMilliseconds;
    };
    return {recent(m_systemClippedAt), recent(m_microphoneClippedAt)};
}

// --- Recording ---

bool AppModel::canRecord() const {
    return m_coordinator->state() == RecordingState::idle && !m_recovering && m_storageAvailable;
}

bool AppModel::canMark() const {
    return canStop(m_coordinator->state());
}

void AppModel::addMarker(const QString& label) {
    if (!canMark()) {
        return;
    }
    if (m_markersAsked >= RecordingMarker::kMaximumCount) {
        setNotice(QStringLiteral("一段錄音最多 %1 個標記，無法再加入。")
                      .arg(RecordingMarker::kMaximumCount));
        return;
    }
    ++m_markersAsked;
    QString cleaned = RecordingMarker::cleanLabel(label);
    if (cleaned.isEmpty()) {
        cleaned = RecordingMarker::defaultLabel(m_markersAsked);
    }
    const QPointer<AppModel> self(this);
    m_coordinator->addMarker(cleaned, [self](Result<RecordingMarker> result) {
        if (!self) {
            return;
        }
        if (!result) {
            --self->m_markersAsked;
            self->setAlertMessage(QStringLiteral("無法加入標記：") + result.errorDescription());
            return;
        }
        self->m_markers.append(result.value());
        self->m_notice = QStringLiteral("已加入標記「%1」。").arg(result.value().label);
        emit self->changed();
    });
}

void AppModel::relabelLastMarker(const QString& label) {
    if (m_markers.isEmpty() || !canMark()) {
        return;
    }
    const qsizetype index = m_markers.size() - 1;
    QString cleaned = RecordingMarker::cleanLabel(label);
    if (cleaned.isEmpty()) {
        cleaned = RecordingMarker::defaultLabel(index + 1);
    }
    if (cleaned == m_markers[index].label) {
        return;
    }
    const QPointer<AppModel> self(this);
    m_coordinator->relabelMarker(index, cleaned, [self, index, cleaned](Result<> result) {
        if (!self) {
            return;
        }
        if (!result) {
            self->setAlertMessage(QStringLiteral("無法更改標記名稱：") + result.errorDescription());
            return;
        }
        if (index < self->m_markers.size()) {
            self->m_markers[index].label = cleaned;
            self->m_notice = QStringLiteral("已將標記改名為「%1」。").arg(cleaned);
            emit self->changed();
        }
    });
}

std::optional<QString> AppModel::recordRefusal() const {
    if (m_recovering) {
        return QStringLiteral("正在復原錄音，請稍候。");
    }
    switch (m_coordinator->state()) {
    case RecordingState::idle:
        break;
    case RecordingState::starting:
        return QStringLiteral("錄音正在啟動。");
    case RecordingState::recording:
    case RecordingState::paused:
        return QStringLiteral("已經在錄音。");
    case RecordingState::saving:
        return QStringLiteral("正在保存上一段錄音，請稍候。");
    }
    if (m_settling) {
        return QStringLiteral("Kivo 正在結束。");
    }
    if (!m_storageAvailable) {
        return m_readOnlyReason.isEmpty() ? QStringLiteral("無法寫入錄音資料庫。")
                                          : m_readOnlyReason;
    }
    return std::nullopt;
}

bool AppModel::busy() const {
    return m_coordinator->state() != RecordingState::idle || m_recovering;
}

QString AppModel::status() const {
    switch (m_coordinator->state()) {
    case RecordingState::idle:
        return m_recovering ? QStringLiteral("正在復原") : QStringLiteral("準備就緒");
    case RecordingState::starting:
        return QStringLiteral("正在啟動");
    case RecordingState::recording:
        return QStringLiteral("錄音中");
    case RecordingState::paused:
        return QStringLiteral("已暫停");
    case RecordingState::saving:
        return QStringLiteral("正在保存");
    }
    return {};
}

QString AppModel::clock(double seconds) {
    const double whole = std::isfinite(seconds) ? std::trunc(seconds) : 0.0;
    const qint64 total = whole > 0 ? static_cast<qint64>(std::min(whole, 9.0e15)) : 0;
    return QStringLiteral("%1:%2:%3")
        .arg(total / 3600, 2, 10, QLatin1Char('0'))
        .arg(total / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(total % 60, 2, 10, QLatin1Char('0'));
}

void AppModel::applicationSelected() {
    if (!m_configuration.applicationPID) {
        return;
    }
    const auto found =
        std::find_if(m_applications.begin(), m_applications.end(), [&](const RunningAudioApp& app) {
            return app.id == *m_configuration.applicationPID;
        });
    if (found == m_applications.end()) {
        return;
    }
    RecordingConfiguration configuration = m_configuration;
    configuration.applicationName = found->name;
    configuration.applicationBundleID = found->bundleID;
    setConfiguration(std::move(configuration));
}

void AppModel::updateGains() {
    m_coordinator->setGains(m_configuration.systemGain,
                            m_microphoneMuted ? 0.0F : m_configuration.microphoneGain);
}

void AppModel::start(std::function<void()> done) {
    if (!canRecord() || m_settling) {
        if (done) {
            done();
        }
        return;
    }
    stopPlayback();
    m_microphoneMuted = false;
    m_waveHistory = silentHistory();
    m_markers.clear();
    m_markersAsked = 0;
    m_clippedSinceStart = {};
    m_systemClippedAt.reset();
    m_microphoneClippedAt.reset();
    m_notice.reset();
    m_alertMessage.reset();
    applicationSelected();
    emit changed();

    // Held from the start, so that a computer going to sleep waits for the save.
    if (m_services.sleep) {
        m_services.sleep->holdSleep();
    }
    // The exit of this process ends the recording, whatever the lists say of it meanwhile.
    const std::optional<qint32> recorded = m_configuration.mode == RecordingMode::application
                                               ? m_configuration.applicationPID
                                               : std::nullopt;
    const QPointer<AppModel> self(this);
    m_coordinator->start(m_configuration, [self, recorded, done = std::move(done)] {
        if (!self) {
            return;
        }
        if (const auto& error = self->m_coordinator->error()) {
            self->setAlertMessage(*error);
        }
        if (isOpen(self->m_coordinator->state())) {
            self->m_recordedProcess = recorded;
            if (self->m_services.processes && recorded) {
                self->m_services.processes->watch(recorded);
            }
            if (self->m_settling) {
                self->stop(); // the program is ending
            }
        } else if (self->m_services.sleep) {
            self->m_services.sleep->releaseSleep();
        }
        if (done) {
            done();
        }
        if (self) {
            self->checkSettled();
        }
    });
}

void AppModel::stop(std::function<void()> done) {
    if (!isOpen(m_coordinator->state())) {
        if (m_stopsInProgress > 0) {
            if (done) {
                m_afterStops.push_back(std::move(done));
            }
        } else if (done) {
            done();
        }
        return;
    }
    ++m_stopsInProgress;
    if (done) {
        m_afterStops.push_back(std::move(done));
    }
    setExportProgress(0.0);
    const QPointer<AppModel> self(this);
    m_coordinator->stop([self](std::optional<RecordingRecord> record) {
        if (self) {
            self->finishStop(record);
        }
    });
}

void AppModel::finishStop(const std::optional<RecordingRecord>& record) {
    setExportProgress(std::nullopt);
    if (!record) {
        m_alertMessage = m_coordinator->error();
    } else {
        storeRecord(*record);
    }
    if (const auto& error = m_coordinator->error()) {
        m_alertMessage = *error;
    }
    if (m_services.processes) {
        m_services.processes->watch(std::nullopt);
    }
    m_recordedProcess.reset();
    findChosenSources();
    scanRecoveries();
    emit changed();
    emit recordingFinished(record);
    if (m_services.sleep) {
        m_services.sleep->releaseSleep();
    }
    if (m_services.idle) {
        m_services.idle->releaseIdle();
    }
    --m_stopsInProgress;
    settleStops();
    checkSettled();
}

void AppModel::storeRecord(const RecordingRecord& record) {
    KivoLibrary updated = withRecordFirst(m_library, record);
    try {
        m_services.storage->save(updated);
    } catch (const std::exception& error) {
        // The session folder, whose manifest holds the exported record, stays for recovery.
        m_services.backend->releaseAfterIndexFailure();
        m_alertMessage = kSavedButNotStored + describe(error);
        return;
    }
    m_library = std::move(updated);
    listChanged();
    try {
        m_coordinator->acknowledgeSaved();
        m_notice = QStringLiteral("已保存「") + record.name() + QStringLiteral("」。");
    } catch (const std::exception&) {
        // The folder stays, but is not offered for recovery: the library holds its id.
        m_notice = kNotCleanedUp;
        m_services.backend->releaseAfterIndexFailure();
    }
}

void AppModel::settleStops() {
    if (m_stopsInProgress > 0) {
        return;
    }
    for (auto& done : std::exchange(m_afterStops, {})) {
        done();
    }
}

KivoLibrary AppModel::withRecordFirst(KivoLibrary library, const RecordingRecord& record) {
    library.recordings.removeIf(
        [&](const RecordingRecord& stored) { return stored.id() == record.id(); });
    library.recordings.prepend(record);
    return library;
}

void AppModel::onWillSleep() {
    if (isOpen(m_coordinator->state())) {
        setNotice(kSleepNotice);
        stop();
    }
}

void AppModel::followRecordingState() {
    // The desktop stays awake while audio is being recorded, and until it is saved.
    if (!m_services.idle) {
        return;
    }
    const RecordingState state = m_coordinator->state();
    if (state == RecordingState::recording) {
        m_services.idle->inhibitIdle();
    } else if (state == RecordingState::paused) {
        m_services.idle->releaseIdle();
    }
}

void AppModel::settle(std::function<void(bool settled)> done) {
    m_settling = true;
    m_whenSettled.push_back(std::move(done));
    QTimer::singleShot(kSettleLimitMilliseconds, this, [this] { finishSettling(false); });
    stop();
    checkSettled();
}

void AppModel::checkSettled() {
    if (!m_whenSettled.empty() && m_coordinator->state() == RecordingState::idle && !m_recovering &&
        m_stopsInProgress == 0) {
        finishSettling(true);
    }
}

void AppModel::finishSettling(bool settled) {
    for (auto& done : std::exchange(m_whenSettled, {})) {
        done(settled);
    }
}

void AppModel::onProcessExit(qint32 pid) {
    if (m_recordedProcess == pid && isOpen(m_coordinator->state())) {
        setNotice(kApplicationEndedNotice);
        stop();
    }
    refreshSourcesInBackground();
}

// --- Sources ---

void AppModel::refreshSources() {
    SourceCatalog::Lists lists;
    if (m_services.sources) {
        lists = {m_services.sources->applications(), m_services.sources->inputs()};
    }
    takeSources(std::move(lists));
}

void AppModel::refreshSourcesInBackground() {
    if (!m_services.sources) {
        return;
    }
    if (m_listing) {
        m_listAgain = true;
        return;
    }
    m_listing = true;
    m_services.sources->listInBackground(this, [this](SourceCatalog::Lists lists) {
        m_listing = false;
        takeSources(std::move(lists));
        if (std::exchange(m_listAgain, false)) {
            refreshSourcesInBackground();
        }
    });
}

void AppModel::takeSources(SourceCatalog::Lists lists) {
    m_applications = std::move(lists.applications);
    m_devices = std::move(lists.inputs);
    findChosenSources();
    emit changed();
}

void AppModel::findChosenSources() {
    if (m_coordinator->state() != RecordingState::idle) {
        return;
    }
    RecordingConfiguration& configuration = m_configuration;
    const auto hasPid = [&](qint32 pid) {
        return std::any_of(m_applications.begin(), m_applications.end(),
                           [&](const RunningAudioApp& app) { return app.id == pid; });
    };
    if (!configuration.applicationPID || !hasPid(*configuration.applicationPID)) {
        const auto sameProgram = std::find_if(
            m_applications.begin(), m_applications.end(), [&](const RunningAudioApp& app) {
                return configuration.applicationBundleID && app.bundleID &&
                       *app.bundleID == *configuration.applicationBundleID;
            });
        configuration.applicationPID = sameProgram != m_applications.end()
                                           ? std::optional<qint32>(sameProgram->id)
                                           : std::nullopt;
    }
    if (configuration.microphoneDeviceID &&
        std::none_of(m_devices.begin(), m_devices.end(), [&](const AudioInputDevice& device) {
            return device.id == *configuration.microphoneDeviceID;
        })) {
        configuration.microphoneDeviceID.reset();
    }
}

// --- Recovery ---

void AppModel::scanRecoveries() {
    QList<RecoveryItem> items;
    // Another process's sessions may be recording right now: they are not ours to offer.
    if (m_writerLock == WriterLock::held) {
        const QDir root(capturesRoot());
        const QStringList entries = root.entryList(
            QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::NoSort);
        for (const QString& entry : entries) {
            const QString directory = root.filePath(entry);
            QFile file(directory + QStringLiteral("/session.json"));
            if (!QFileInfo(directory).isDir() || !file.open(QIODevice::ReadOnly)) {
                continue;
            }
            try {
                RecoveryManifest manifest = RecoveryManifest::decoded(file.readAll());
                const bool stored = std::any_of(
                    m_library.recordings.begin(), m_library.recordings.end(),
                    [&](const RecordingRecord& record) { return record.id() == manifest.id; });
                if (!stored) {
                    items.append(RecoveryItem{directory, std::move(manifest)});
                }
            } catch (const std::exception&) {
                // Not a session of ours, or one whose manifest was damaged: not listed.
            }
        }
        std::stable_sort(items.begin(), items.end(), [](const auto& a, const auto& b) {
            return a.manifest.startedAt.secondsSinceReferenceDate <
                   b.manifest.startedAt.secondsSinceReferenceDate;
        });
    }
    if (items != m_recoveries) {
        m_recoveries = std::move(items);
        emit changed();
    }
}

void AppModel::recover(const RecoveryItem& item, std::function<void()> done) {
    if (m_coordinator->state() != RecordingState::idle || m_recovering || m_settling ||
        refusedWhileReadOnly()) {
        if (done) {
            done();
        }
        return;
    }
    m_recovering = true;
    emit changed();

    if (!m_services.sessions) {
        finishRecovery(item, Result<RecordingRecord>::failure(
                                 KivoError(QStringLiteral("這個程式無法處理暫存錄音。"))));
        if (done) {
            done();
        }
        return;
    }
    if (item.manifest.exported && allFilesExist(*item.manifest.exported)) {
        // Exported before, but the record never reached the library: nothing to export again.
        finishRecovery(item, Result<RecordingRecord>::success(*item.manifest.exported));
        if (done) {
            done();
        }
        return;
    }
    setExportProgress(0.0);
    const QPointer<AppModel> self(this);
    // `done` is shared: a failure to begin (no thread to export on) finishes here instead.
    auto finished = std::make_shared<std::function<void()>>(std::move(done));
    try {
        m_services.sessions->exportSession(
            item,
            [self](double progress) {
                if (self && self->m_recovering) {
                    self->setExportProgress(progress);
                }
            },
            [self, item, finished](Result<RecordingRecord> result) {
                if (!self) {
                    return;
                }
                self->finishRecovery(item, result);
                if (*finished) {
                    (*finished)();
                }
            });
    } catch (const std::exception&) {
        finishRecovery(item, Result<RecordingRecord>::failure(std::current_exception()));
        if (*finished) {
            (*finished)();
        }
    }
}

void AppModel::finishRecovery(const RecoveryItem& item, const Result<RecordingRecord>& result) {
    m_exportProgress.reset();
    try {
        const RecordingRecord record = result.get();
        KivoLibrary updated = withRecordFirst(m_library, record);
        m_services.storage->save(updated);
        m_library = std::move(updated);
        listChanged();
        m_services.sessions->remove(item.directory);
        m_notice = QStringLiteral("已復原「") + record.name() + QStringLiteral("」。");
    } catch (const std::exception& error) {
        m_alertMessage = kRecoveryFailed + describe(error);
    }
    m_recovering = false;
    scanRecoveries();
    emit changed();
    checkSettled();
}

// --- Library ---

void AppModel::listChanged() {
    m_filtered.reset();
    ++m_listRevision;
}

QList<RecordingRecord> AppModel::filteredRecords() const {
    // Computed once per change of the library, the search, the filter or the order: the window
    // reads it on every change of anything, many times a second while recording.
    if (m_filtered) {
        return *m_filtered;
    }
    QList<RecordingRecord> records;
    for (const RecordingRecord& record : m_library.recordings) {
        const bool matchesSearch =
            m_search.isEmpty() || record.name().contains(m_search, Qt::CaseInsensitive) ||
            std::any_of(record.markers().begin(), record.markers().end(), [&](const auto& marker) {
                return marker.label.contains(m_search, Qt::CaseInsensitive);
            });
        const bool matchesSource =
            m_sourceFilter == u"all" || m_sourceFilter == rawValue(record.configuration().mode);
        if (matchesSearch && matchesSource) {
            records.append(record);
        }
    }
    std::stable_sort(records.begin(), records.end(), [this](const auto& a, const auto& b) {
        const double left = a.createdAt().secondsSinceReferenceDate;
        const double right = b.createdAt().secondsSinceReferenceDate;
        return m_newestFirst ? left > right : left < right;
    });
    m_filtered = records;
    return records;
}

bool AppModel::persistLibrary() {
    if (!m_storageAvailable) {
        return false;
    }
    try {
        m_services.storage->save(m_library);
    } catch (const std::exception& error) {
        try {
            m_library = m_services.storage->load();
            listChanged();
        } catch (const std::exception&) {
            // The in-memory library stays as it is.
        }
        m_alertMessage = describe(error);
        emit changed();
        return false;
    }
    m_notice = kSettingsSaved;
    emit changed();
    return true;
}

void AppModel::saveDefaults() {
    if (busy() || refusedWhileReadOnly()) {
        return;
    }
    m_library.settings = m_defaultConfiguration;
    if (!persistLibrary()) {
        return;
    }
    m_configuration = m_library.settings;
    refreshSources();
}

void AppModel::savePreset(const QString& name) {
    if (busy() || trimmedWhitespace(name).isEmpty() || refusedWhileReadOnly()) {
        return;
    }
    m_library.presets.append(RecordingPreset(name, m_configuration));
    persistLibrary();
}

void AppModel::applyPreset(const RecordingPreset& preset) {
    if (busy()) {
        return;
    }
    m_configuration = preset.configuration;
    refreshSources();
    m_page = KivoPage::studio;
    m_notice = QStringLiteral("已套用「") + preset.name + QStringLiteral("」。");
    emit changed();
}

void AppModel::removePreset(const RecordingPreset& preset) {
    if (refusedWhileReadOnly()) {
        return;
    }
    m_library.presets.removeIf(
        [&](const RecordingPreset& stored) { return stored.id == preset.id; });
    persistLibrary();
}

void AppModel::rename(const RecordingRecord& record, const QString& name) {
    const QString trimmed = trimmedWhitespace(name);
    if (trimmed.isEmpty() || refusedWhileReadOnly()) {
        return;
    }
    const auto found =
        std::find_if(m_library.recordings.begin(), m_library.recordings.end(),
                     [&](const RecordingRecord& stored) { return stored.id() == record.id(); });
    if (found == m_library.recordings.end()) {
        return;
    }
    found->setName(firstCharacters(trimmed, RecordingConfiguration::kMaximumNameLength));
    listChanged();
    persistLibrary();
}

void AppModel::renameMarker(const RecordingRecord& record, qsizetype index, const QString& label) {
    const QString cleaned = RecordingMarker::cleanLabel(label);
    changeMarkers(record, index, [&](QList<RecordingMarker>& markers) {
        if (cleaned.isEmpty()) {
            return false;
        }
        markers[index].label = cleaned;
        return true;
    });
}

void AppModel::removeMarker(const RecordingRecord& record, qsizetype index) {
    changeMarkers(record, index, [&](QList<RecordingMarker>& markers) {
        markers.removeAt(index);
        return true;
    });
}

void AppModel::changeMarkers(const RecordingRecord& record, qsizetype index,
                             const std::function<bool(QList<RecordingMarker>&)>& change) {
    if (refusedWhileReadOnly()) {
        return;
    }
    const auto found =
        std::find_if(m_library.recordings.begin(), m_library.recordings.end(),
                     [&](const RecordingRecord& stored) { return stored.id() == record.id(); });
    if (found == m_library.recordings.end() || index < 0 || index >= found->markers().size()) {
        return;
    }
    QList<RecordingMarker> markers = found->markers();
    if (!change(markers)) {
        return;
    }
    found->setMarkers(markers);
    listChanged();
    persistLibrary();
}

void AppModel::trash(const RecordingRecord& record) {
    // Another Kivo may have saved a newer library: ours must not overwrite it.
    if (refusedWhileReadOnly()) {
        return;
    }
    if (m_playbackID == record.id()) {
        stopPlayback();
    }
    try {
        for (const QUrl& file : record.files()) {
            const QString path = file.toLocalFile();
            if (!QFileInfo::exists(path)) {
                continue;
            }
            if (!m_services.trash) {
                throw KivoError(QStringLiteral("這台電腦沒有可用的垃圾桶。"));
            }
            m_services.trash->moveToTrash(path);
        }
        KivoLibrary updated = m_library;
        updated.recordings.removeIf(
            [&](const RecordingRecord& stored) { return stored.id() == record.id(); });
        m_services.storage->save(updated);
        m_library = std::move(updated);
        listChanged();
        m_notice = QStringLiteral("已移至垃圾桶。");
    } catch (const std::exception& error) {
        m_alertMessage = kTrashFailed + describe(error);
    }
    emit changed();
}

void AppModel::play(const RecordingRecord& record) {
    if (!canPlay()) {
        return;
    }
    if (m_playbackID == record.id() && m_player) {
        if (m_player->isPlaying()) {
            m_player->pause();
            m_playing = false;
        } else {
            m_player->play();
            m_playing = true;
        }
        emit changed();
        return;
    }
    stopPlayback();
    try {
        if (record.files().isEmpty()) {
            throw KivoError(QStringLiteral("這筆錄音沒有音檔。"));
        }
        if (!m_services.players) {
            throw KivoError(QStringLiteral("這個程式無法播放音檔。"));
        }
        m_player = m_services.players->open(record.files().first().toLocalFile());
    } catch (const std::exception& error) {
        setAlertMessage(kPlaybackFailed + describe(error));
        return;
    }
    const QPointer<AppModel> self(this);
    m_player->onFinished = [self, player = m_player.get()](const std::optional<QString>& failure) {
        if (!self) {
            return;
        }
        if (!failure) {
            self->audioPlayerDidFinishPlaying(true);
            return;
        }
        // Not from within the player's own notice: the player goes.
        MainThread::post(self, [self, player, why = *failure] {
            if (self->m_player.get() == player) {
                self->playbackFailed(why);
            }
        });
    };
    m_playbackID = record.id();
    m_playbackDuration = m_player->duration();
    m_playbackPosition = 0;
    m_player->play();
    m_playing = true;
    emit changed();
}

void AppModel::stopPlayback() {
    if (m_player) {
        m_player->onFinished = nullptr;
        m_player->stop();
    }
    const bool hadPlayback = m_player || m_playbackID || m_playing || m_playbackPosition != 0;
    m_player.reset();
    m_playbackID.reset();
    m_playing = false;
    m_playbackPosition = 0;
    if (hadPlayback) {
        emit changed();
    }
}

void AppModel::playbackFailed(const QString& why) {
    // A player that broke off plays no more: the next press opens the file afresh.
    stopPlayback();
    setAlertMessage(kPlaybackFailed + why);
}

void AppModel::audioPlayerDidFinishPlaying(bool /*successfully*/) {
    // The player stays, so that playing the same record again starts from the beginning.
    if (m_player) {
        m_player->setCurrentTime(0);
    }
    m_playing = false;
    m_playbackPosition = 0;
    emit changed();
}

void AppModel::selectFolder(bool forDefaults) {
    if (!m_services.folderChooser) {
        return;
    }
    RecordingConfiguration& configuration = forDefaults ? m_defaultConfiguration : m_configuration;
    if (const auto folder = m_services.folderChooser->chooseFolder(configuration.outputDirectory)) {
        configuration.outputDirectory = *folder;
        emit changed();
    }
}

} // namespace kivo
