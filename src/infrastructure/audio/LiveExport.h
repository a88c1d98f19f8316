#pragma once

// The output files of a recording written while it runs, so that the stop only has to finish
// them. A thread of its own mixes the track files into every output of the configuration (the
// merged file and, when asked, one per source) under temporary names in the output folder, a
// stretch at a time: a stretch is mixed once every track file holds it and more, at most about
// kHeldBackFrames + kStepFrames behind the slowest track. It mixes what the track files hold,
// exactly as the export from the tracks does, so both give the same files.
//
// The track files stay the recording's source of truth. When an output cannot be written (a
// full or removed output folder, a permission taken away), the live export gives up: it removes
// its temporary files and the stop exports from the tracks instead. A crash leaves the temporary
// files behind under names holding the session's id; the export from the tracks removes them.

#include "domain/RecordingRecord.h"
#include "domain/RecoveryManifest.h"
#include "infrastructure/AudioUnits.h"
#include "infrastructure/audio/ExportFiles.h"

#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace kivo {

namespace AudioFiles {
class TrackMix;
}

class LiveExport {
public:
    // Frames mixed in one go.
    static constexpr qint64 kStepFrames = 12000; // 0.25 s
    // How far the mix stays behind the slowest track: the tracks may hold audio from after the
    // moment the recording is stopped (what arrives while the sources close), which must not
    // be in the files.
    static constexpr qint64 kHeldBackFrames = kSampleRateHz; // 1 s

    // Starts writing the outputs of the session in `directory`, whose track files exist, with
    // no frames yet. Throws PlatformError when an output cannot be created.
    LiveExport(const RecoveryManifest& manifest, const QString& directory);
    // Stops the thread and removes the temporary files unless finish() placed them.
    ~LiveExport();

    LiveExport(const LiveExport&) = delete;
    LiveExport& operator=(const LiveExport&) = delete;

    // Any thread, never waits for the mixing: every track file now holds `trackEnds[i]` frames
    // (in the order of ExportFiles::outputs()' merged file).
    void advance(const std::vector<qint64>& trackEnds);

    // Whether an output failed; the temporary files are then gone or going.
    bool hasFailed() const;
    // Frames of every output written so far.
    qint64 mixedFrames() const { return m_mixed.load(std::memory_order_relaxed); }

    // After the tracks are closed: mixes what is left up to `frames` (the tracks holding
    // `trackEnds`), completes the files with `markers` and renames them to their final names.
    // Throws (the first failure of the live export, or of completing and placing its files) and
    // then leaves no temporary file behind; the caller exports from the tracks instead.
    RecordingRecord finish(qint64 frames, const std::vector<qint64>& trackEnds,
                           const QList<RecordingMarker>& markers,
                           const ExportFiles::FolderSync& syncFolder);

private:
    void run();
    void discard();

    RecoveryManifest m_manifest;
    std::vector<ExportFiles::Output> m_outputs;
    QStringList m_temporaryPaths;
    std::vector<std::unique_ptr<AudioFiles::TrackMix>> m_mixes; // the thread's, once it runs

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::vector<qint64> m_trackEnds;     // guarded by m_mutex
    qint64 m_target = 0;                 // frames every output may be mixed up to; m_mutex
    std::optional<qint64> m_finalFrames; // set by finish(); m_mutex
    bool m_stopping = false;             // m_mutex
    bool m_done = false;                 // the thread has nothing more to do; m_mutex
    std::exception_ptr m_failure;        // m_mutex
    std::atomic<qint64> m_mixed{0};
    bool m_placed = false;
    std::thread m_thread;
};

} // namespace kivo
