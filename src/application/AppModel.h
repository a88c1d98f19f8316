#pragma once

// The one observable object behind Kivo's window and kivo-cli: it owns the recording coordinator,
// the capture backend and the library storage; holds the configuration being edited, the
// library, the lists of applications and microphones, the recoverable sessions, the playback
// state and the waveform history; and turns the computer going to sleep, the recorded
// application exiting and a capture failure into an orderly stop that saves the recording.
//
// Main thread only. Every change of a field, and every change of the coordinator, is announced
// by changed(). The asynchronous operations (start, stop, recover) return at once and call
// their `done` on the main thread when finished.

#include "application/PlatformServices.h"
#include "application/RecordingCoordinator.h"
#include "application/RecoveryItem.h"
#include "domain/KivoLibrary.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QThreadPool>
#include <QTimer>
#include <QUuid>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace kivo {

enum class KivoPage { studio, library, presets, settings };

class AppModel : public QObject {
    Q_OBJECT

public:
    // Values in the waveform history.
    static constexpr int kWaveHistoryLength = 70;
    // The one timer of the model, for the waveform and the playback position.
    static constexpr int kTickMilliseconds = 150;

    // A level at or above this is full scale (−0.01 dBFS): the recording clips there.
    static constexpr float kFullScale = 0.999F;
    // How long a meter shows that its source reached full scale.
    static constexpr int kClipShowMilliseconds = 2000;

    // While another process holds the library's writer lock, it is asked for again this often.
    static constexpr int kLockRetryMilliseconds = 2000;
    // settle() waits at most this long.
    static constexpr int kSettleLimitMilliseconds = 30000;

    // Why nothing may be changed: another Kivo writes the library, or its lock could not be
    // taken at all ("\n" and the reason follow).
    static const QString kLockedMessage;
    static const QString kLockFailedMessage;

    // Runs the start-up: takes the library's writer lock, loads the library, lists the sources,
    // scans the sessions, installs the stop triggers and starts the timer. Without the writer
    // lock the library is only shown: every change is refused with the reason as the alert, and
    // the lock is asked for again until the other process lets it go; then the library is
    // loaded again and everything works.
    explicit AppModel(AppServices services, QObject* parent = nullptr);
    ~AppModel() override;

    // --- Fields ---
    KivoPage page() const { return m_page; }
    void setPage(KivoPage page);
    const RecordingConfiguration& configuration() const { return m_configuration; }
    void setConfiguration(RecordingConfiguration configuration);
    const RecordingConfiguration& defaultConfiguration() const { return m_defaultConfiguration; }
    void setDefaultConfiguration(RecordingConfiguration configuration);
    const KivoLibrary& library() const { return m_library; }
    const std::vector<RunningAudioApp>& applications() const { return m_applications; }
    const std::vector<AudioInputDevice>& devices() const { return m_devices; }
    const std::optional<QString>& alertMessage() const { return m_alertMessage; }
    void setAlertMessage(std::optional<QString> message);
    const std::optional<QString>& notice() const { return m_notice; }
    void setNotice(std::optional<QString> notice);
    const QString& search() const { return m_search; }
    void setSearch(QString search);
    // "all" or a recording mode's raw value.
    const QString& sourceFilter() const { return m_sourceFilter; }
    void setSourceFilter(QString filter);
    bool newestFirst() const { return m_newestFirst; }
    void setNewestFirst(bool newestFirst);
    const QList<RecoveryItem>& recoveries() const { return m_recoveries; }
    bool recovering() const { return m_recovering; }
    bool storageAvailable() const { return m_storageAvailable; }
    // The library is still being read (see AppServices::loadInBackground).
    bool loading() const { return m_loading; }
    const std::optional<QUuid>& playbackID() const { return m_playbackID; }
    bool playing() const { return m_playing; }
    // Seconds. Setting it seeks the player, when there is one.
    double playbackPosition() const { return m_playbackPosition; }
    void setPlaybackPosition(double seconds);
    double playbackDuration() const { return m_playbackDuration; }
    const QList<float>& waveHistory() const { return m_waveHistory; }
    // Which sources reached full scale: within the last kClipShowMilliseconds, and at any time
    // since the latest start (kept after the recording ends, until the next start).
    struct Clipping {
        bool system = false;
        bool microphone = false;
    };
    Clipping clippingNow() const;
    Clipping clippedSinceStart() const { return m_clippedSinceStart; }
    bool microphoneMuted() const { return m_microphoneMuted; }
    // Forces the microphone gain to 0 while true; call updateGains() to pass it on.
    void setMicrophoneMuted(bool muted);
    // The fraction (0…1) of the frames written by the export that a stop or a recovery is
    // running; absent when none runs.
    const std::optional<double>& exportProgress() const { return m_exportProgress; }

    RecordingCoordinator& coordinator() { return *m_coordinator; }
    const RecordingCoordinator& coordinator() const { return *m_coordinator; }

    // --- Recording ---
    // Idle, no recovery running and the library writable.
    bool canRecord() const;
    // Why a recording cannot start now, in the words the user is shown; empty when it can.
    std::optional<QString> recordRefusal() const;
    // The one-line status: "準備就緒", "正在啟動", "錄音中", ...
    QString status() const;
    // Seconds as "hh:mm:ss" (fraction dropped, negatives and non-finite values as 0).
    static QString clock(double seconds);
    // Takes the chosen application's current name and program into the configuration.
    void applicationSelected();
    // Passes the configured gains (the microphone's as 0 while muted) to the recording.
    void updateGains();
    void start(std::function<void()> done = {});
    // Stops and saves the running recording. When a stop that began earlier is still saving,
    // `done` waits for it; otherwise a stop with nothing to stop is done at once.
    void stop(std::function<void()> done = {});
    // A stop is saving (exporting, storing the record) and has not finished yet.
    bool stopInProgress() const { return m_stopsInProgress > 0; }
    // Before the program ends: stops and saves a running recording, lets a start in progress (and
    // then stops what it started) or a recovery finish, and starts nothing new. `done` runs once
    // all of that is over (true), or after kSettleLimitMilliseconds at the latest (false).
    void settle(std::function<void(bool settled)> done);

    // Playing a record is allowed: not while recording, saving or recovering.
    bool canPlay() const { return !busy(); }

    // --- Markers ---
    // Marks the present moment of the recording (recording or paused) with `label`, cleaned as
    // RecordingMarker::cleanLabel does; an empty one becomes "標記 N". The notice confirms it
    // once the marker is on disk with the session; a failure is the alert. Refused with a notice
    // past RecordingMarker::kMaximumCount markers.
    void addMarker(const QString& label = QString());
    // Gives the latest marker a new label (cleaned; empty: back to its default).
    void relabelLastMarker(const QString& label);
    // The running (or last) recording's markers, in the order added.
    const QList<RecordingMarker>& markers() const { return m_markers; }
    // Whether a marker can be added now: a recording is open.
    bool canMark() const;

    // --- Sources ---
    // Asks for the lists now, waiting for the answer (start-up, tests).
    void refreshSources();
    // Asks for the lists off the main thread; they are taken in when they arrive.
    void refreshSourcesInBackground();

    // --- Recovery ---
    void scanRecoveries();
    void recover(const RecoveryItem& item, std::function<void()> done = {});

    // --- Library, playback, presets, settings ---
    // The library's records that the search and the source filter let through, in the chosen
    // order. Kept until one of those changes.
    QList<RecordingRecord> filteredRecords() const;
    // Changes whenever filteredRecords() may have.
    quint64 listRevision() const { return m_listRevision; }
    bool persistLibrary();
    void saveDefaults();
    void savePreset(const QString& name);
    void applyPreset(const RecordingPreset& preset);
    void removePreset(const RecordingPreset& preset);
    void rename(const RecordingRecord& record, const QString& name);
    // A stored record's marker `index` (in time order) gets a new label (cleaned; empty: left as
    // it is), or is removed; saved like a rename. The library is the markers' truth from then
    // on: the kept files keep the chapters and cue points they were written with.
    void renameMarker(const RecordingRecord& record, qsizetype index, const QString& label);
    void removeMarker(const RecordingRecord& record, qsizetype index);
    void trash(const RecordingRecord& record);
    void play(const RecordingRecord& record);
    void stopPlayback();
    void audioPlayerDidFinishPlaying(bool successfully);
    // Asks the folder chooser (when the program has one) for the output folder.
    void selectFolder(bool forDefaults);

    // The sessions root: the library folder's "Captures".
    QString capturesRoot() const;

signals:
    void changed();
    // A stop has finished: with the exported record (stored in the library or not), or without
    // one when nothing could be exported.
    void recordingFinished(std::optional<kivo::RecordingRecord> record);

private:
    bool busy() const;
    // False, after showing why, when the library may be changed.
    bool refusedWhileReadOnly();
    void takeWriterLock();
    QString lockReason() const;
    void finishLoading(const Result<KivoLibrary>& loaded);
    void retryWriterLock();
    void tick();
    void followRecordingState();
    // The records, the search, the filter or the order changed.
    void listChanged();
    void checkSettled();
    void finishSettling(bool settled);
    void playbackFailed(const QString& why);
    // Finds the chosen application and microphone in the lists again; never while a recording
    // runs, whose configuration is fixed.
    void findChosenSources();
    void takeSources(SourceCatalog::Lists lists);
    void finishStop(const std::optional<RecordingRecord>& record);
    // Changes a stored record's markers when `change` says so, and saves the library.
    void changeMarkers(const RecordingRecord& record, qsizetype index,
                       const std::function<bool(QList<RecordingMarker>&)>& change);
    void finishRecovery(const RecoveryItem& item, const Result<RecordingRecord>& result);
    void storeRecord(const RecordingRecord& record);
    void setExportProgress(std::optional<double> progress);
    void onProcessExit(qint32 pid);
    void onWillSleep();
    void settleStops();
    static KivoLibrary withRecordFirst(KivoLibrary library, const RecordingRecord& record);

    AppServices m_services;
    std::unique_ptr<RecordingCoordinator> m_coordinator;

    KivoPage m_page = KivoPage::studio;
    RecordingConfiguration m_configuration;
    RecordingConfiguration m_defaultConfiguration;
    KivoLibrary m_library;
    std::vector<RunningAudioApp> m_applications;
    std::vector<AudioInputDevice> m_devices;
    std::optional<QString> m_alertMessage;
    std::optional<QString> m_notice;
    QString m_search;
    QString m_sourceFilter = QStringLiteral("all");
    bool m_newestFirst = true;
    QList<RecoveryItem> m_recoveries;
    bool m_recovering = false;
    bool m_storageAvailable = true;
    // notWanted: a view-only model. Only with `held` are the sessions ours to list.
    enum class WriterLock { notWanted, held, heldByAnother, failed };
    WriterLock m_writerLock = WriterLock::notWanted;
    // Shown when a change is refused while the library cannot be written.
    QString m_readOnlyReason;
    QString m_lockFailure; // why the lock could not be taken, when it could not
    bool m_loading = false;
    QThreadPool m_loader; // reads the library when it is read in the background
    QTimer m_lockRetry;
    // The process an application recording records, from its start to the end of its stop.
    std::optional<qint32> m_recordedProcess;
    std::unique_ptr<AudioPlayer> m_player;
    std::optional<QUuid> m_playbackID;
    bool m_playing = false;
    double m_playbackPosition = 0;
    double m_playbackDuration = 0;
    QList<float> m_waveHistory;
    Clipping m_clippedSinceStart;
    QElapsedTimer m_clock;
    std::optional<qint64> m_systemClippedAt; // m_clock's milliseconds
    std::optional<qint64> m_microphoneClippedAt;
    bool m_microphoneMuted = false;
    std::optional<double> m_exportProgress;
    QList<RecordingMarker> m_markers; // of the running recording, in the order added
    qsizetype m_markersAsked = 0;     // addMarker() calls of the running recording
    mutable std::optional<QList<RecordingRecord>> m_filtered; // filteredRecords(), once computed
    quint64 m_listRevision = 0;

    int m_stopsInProgress = 0;
    std::vector<std::function<void()>> m_afterStops;
    bool m_settling = false;
    std::vector<std::function<void(bool)>> m_whenSettled;
    bool m_listing = false;   // an answer to refreshSourcesInBackground is on its way
    bool m_listAgain = false; // and another was asked for meanwhile
    QTimer m_timer;
};

} // namespace kivo
