#pragma once

// The small interfaces through which the application model reaches the computer: the library
// document, session folders, the running applications and microphones, the recorded process,
// sleep, the trash, playback and the two questions only a window can ask. The Linux
// implementations live in the infrastructure layer; tests may replace any of them.
//
// Main thread only, unless a member says otherwise. Callbacks are called on the main thread.

#include "application/AudioInputDevice.h"
#include "application/RecordingBackend.h"
#include "application/RecoveryItem.h"
#include "application/RunningAudioApp.h"
#include "domain/KivoLibrary.h"
#include "domain/RecordingRecord.h"
#include "domain/Result.h"

#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace kivo {

// "library.json" and its backup in one folder, and the lock that makes one process at a time
// the library's writer.
class LibraryStorage {
public:
    virtual ~LibraryStorage() = default;
    // The folder holding the documents; the sessions live in its "Captures" folder.
    virtual QString directory() const = 0;
    // The stored library, or the defaults when there is none. Throws KivoError naming the file.
    virtual KivoLibrary load() = 0;
    // Replaces the document atomically, keeping the previous one as the backup. Throws the
    // platform's error.
    virtual void save(const KivoLibrary& library) = 0;
    // Takes the exclusive writer lock on the folder for the life of this object, without
    // waiting; true at once when held already. False when another process holds it. Throws
    // PlatformError when it cannot be taken for another reason (the folder cannot be made or
    // opened, or its file system has no locks).
    virtual bool lockForWriting() = 0;
};

// The session folders of the sessions root: reading them is the model's; exporting and removing
// go through here.
class SessionFolders {
public:
    virtual ~SessionFolders() = default;
    // Exports the session off the main thread. `progress` (0…1, fraction of the frames written)
    // and `completion` are called on the main thread; completion exactly once.
    virtual void exportSession(const RecoveryItem& item, std::function<void(double)> progress,
                               std::function<void(Result<RecordingRecord>)> completion) = 0;
    // Removes the folder with everything in it. Throws PlatformError.
    virtual void remove(const QString& directory) = 0;
};

// What can be recorded: the running applications and the microphones. Never fails; an
// unreachable sound server gives empty lists.
class SourceCatalog {
public:
    struct Lists {
        std::vector<RunningAudioApp> applications;
        std::vector<AudioInputDevice> inputs;
    };

    virtual ~SourceCatalog() = default;
    // Blocks for the server's answer.
    virtual std::vector<RunningAudioApp> applications() = 0;
    virtual std::vector<AudioInputDevice> inputs() = 0;
    // Both lists, asked for off the main thread, so that a server that does not answer never
    // stalls the window; `done` runs on the main thread unless `context` is gone by then. This
    // one asks on the calling thread.
    virtual void listInBackground(QObject* context, std::function<void(Lists)> done) {
        Q_UNUSED(context);
        done(Lists{applications(), inputs()});
    }
    // A client of the sound server went away; bursts are reported once.
    std::function<void()> onClientRemoved;
};

// Tells when one process exits.
class ProcessExitWatcher {
public:
    virtual ~ProcessExitWatcher() = default;
    // Watches `pid` instead of any process watched before; absent stops watching.
    virtual void watch(std::optional<qint32> pid) = 0;
    // A client of the sound server went away, which may have been the watched process ending:
    // a watcher that cannot be told of the exit itself looks now whether the process is there.
    virtual void soundServerClientRemoved() {}
    // The watched process has exited; called once per watch.
    std::function<void(qint32 pid)> onExit;
};

// The computer going to sleep, and a hold on it while a recording is being saved.
class SleepMonitor {
public:
    virtual ~SleepMonitor() = default;
    // Takes the hold; the computer waits (within the system's limit) until released. Idempotent.
    virtual void holdSleep() = 0;
    virtual void releaseSleep() = 0;
    // The computer is about to sleep.
    std::function<void()> onWillSleep;
};

// Keeps the desktop from suspending or blanking the screen for idleness, as a video player
// does while it plays. Without a desktop service to ask, nothing happens and nothing fails.
class IdleInhibitor {
public:
    virtual ~IdleInhibitor() = default;
    // Idempotent; the answer may come later.
    virtual void inhibitIdle() = 0;
    virtual void releaseIdle() = 0;
};

class Trash {
public:
    virtual ~Trash() = default;
    // Moves a file to the user's trash. Throws PlatformError with a description for the user.
    virtual void moveToTrash(const QString& path) = 0;
};

// Plays one audio file.
class AudioPlayer {
public:
    virtual ~AudioPlayer() = default;
    virtual void play() = 0;
    virtual void pause() = 0;
    virtual void stop() = 0;
    virtual bool isPlaying() const = 0;
    // Seconds.
    virtual double currentTime() const = 0;
    virtual void setCurrentTime(double seconds) = 0;
    virtual double duration() const = 0;
    // Playback reached the end (no argument) or broke off (why, for the user).
    std::function<void(std::optional<QString> failure)> onFinished;
};

class AudioPlayerFactory {
public:
    virtual ~AudioPlayerFactory() = default;
    // Opens a file for playback, paused at its start. Throws PlatformError for a missing or
    // unreadable file.
    virtual std::unique_ptr<AudioPlayer> open(const QString& path) = 0;
};

// The modal questions of the window; a program without one (kivo-cli) leaves them out.
class FolderChooser {
public:
    virtual ~FolderChooser() = default;
    // Absent when the user cancels.
    virtual std::optional<QUrl> chooseFolder(const QUrl& initialFolder) = 0;
};

class QuitQuestion {
public:
    virtual ~QuitQuestion() = default;
    // "錄音尚未完成" / "停止並保存後退出 Kivo？": true for "停止並退出".
    virtual bool confirmStopAndQuit() = 0;
};

// Everything the model is built from. Any member but `backend` and `storage` may be absent.
struct AppServices {
    std::shared_ptr<RecordingBackend> backend;
    std::unique_ptr<LibraryStorage> storage;
    std::unique_ptr<SessionFolders> sessions;
    std::unique_ptr<SourceCatalog> sources;
    std::unique_ptr<ProcessExitWatcher> processes;
    std::unique_ptr<SleepMonitor> sleep;
    std::unique_ptr<IdleInhibitor> idle;
    std::unique_ptr<Trash> trash;
    std::unique_ptr<AudioPlayerFactory> players;
    std::shared_ptr<FolderChooser> folderChooser;
    // Where recordings go by default (the XDG music folder + "Kivo"), a folder URL.
    QUrl defaultOutputFolder;
    // Seconds of a monotonic clock, for the coordinator.
    std::function<double()> clock;
    // Reads the library on a thread of its own: the window shows at once and fills in when the
    // library has arrived (AppModel::loading() until then; nothing can be changed meanwhile).
    bool loadInBackground = false;
    // Only looks: takes no writer lock, so it never keeps another Kivo from writing; the library
    // is loaded for viewing, every change is refused and no session is listed.
    bool viewOnly = false;
};

} // namespace kivo
