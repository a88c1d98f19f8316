#pragma once

// The session writer of one recording. It owns what the recording leaves on disk while it runs:
// the session folder, its recovery manifest and one track file per source. Buffers of both sources
// reach it on its own serial queue, stamped with host-clock seconds (CLOCK_MONOTONIC); it places
// them on its pause-aware timeline, applies each source's gain, reports levels and turns the first
// write failure into a stopped-writing state with a message for the user.

#include "domain/RecordingConfiguration.h"
#include "domain/RecordingRecord.h"
#include "domain/RecordingTimeline.h"
#include "domain/RecoveryManifest.h"
#include "domain/Result.h"
#include "infrastructure/audio/AudioFragment.h"
#include "infrastructure/audio/AudioSource.h"
#include "infrastructure/audio/FragmentInbox.h"
#include "infrastructure/audio/PcmBuffer.h"
#include "infrastructure/concurrency/SerialQueue.h"
#include "infrastructure/files/FileOperations.h"

#include <QString>

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace kivo {

class AudioTrack;
class LiveExport;

class AudioRecordingWriter {
public:
    // Bytes available to an unprivileged user on the volume holding `path`; absent when the
    // volume does not say. Throws PlatformError when the volume cannot be queried.
    using AvailableCapacity = std::function<std::optional<std::uint64_t>(const QString& path)>;
    static std::optional<std::uint64_t> volumeAvailableCapacity(const QString& path);
    // Forces a folder's entries to disk; throws PlatformError.
    using FolderSync = std::function<void(const QString& path)>;

    // Validates the configuration, creates the output folder, checks that a file can be created
    // in it and the free space of its volume and of `root`'s, creates the session folder
    // `root`/<ID> with its manifest and opens one track per captured source. Less than
    // 100 000 000 bytes free, 0 included, refuses the start.
    // Throws KivoError or PlatformError; what was made on disk before a failure stays.
    AudioRecordingWriter(const RecordingConfiguration& configuration, const QString& root,
                         AvailableCapacity availableCapacity = volumeAvailableCapacity);
    // Stops the disk flusher and runs what is still queued; open tracks are closed.
    ~AudioRecordingWriter();

    AudioRecordingWriter(const AudioRecordingWriter&) = delete;
    AudioRecordingWriter& operator=(const AudioRecordingWriter&) = delete;

    SerialQueue& queue() { return *m_queue; }
    // The session folder (absolute path, no trailing slash).
    const QString& directory() const { return m_directory; }
    // The validated configuration.
    const RecordingConfiguration& configuration() const { return m_configuration; }
    // Main thread, while nothing runs on the queue (before activation or after finish).
    const RecoveryManifest& manifest() const { return m_manifest; }

    // Set before activation and not changed afterwards. Called on the writer queue (and the
    // failure callback also by the capture side): each must hand its work to the main thread.
    // Each level is the largest magnitude written since the last report (a source that
    // delivered nothing meanwhile keeps its last level), so a peak between two reports is seen.
    std::function<void(float system, float microphone)> onLevels;
    std::function<void(const QString& message)> onFailure;
    // The export of finish() advancing: the fraction (0…1) of the frames it writes, as
    // SessionExport::exportSession() reports it.
    std::function<void(double fraction)> onExportProgress;

    // Host-clock seconds throughout. Each of these waits for the queue; never call them from it.
    void activate(HostSeconds at);
    void pause(HostSeconds at);
    void resume(HostSeconds at);
    // Closes every track and removes the session folder if no track received audio.
    void abandonEmptySession();

    // How far the files written while recording have got, in frames of the recording; none
    // when they are not written (they failed, or could not be started). Writer queue.
    std::optional<qint64> framesSavedWhileRecording() const;

    // Any thread, never waits: the way captured audio comes in. The fragment is copied into the
    // source's inbox, which the queue takes about every FragmentInbox::kBatchFrames, and before
    // every other operation (a pause, a gain change, the finish) that concerns what came before.
    void receive(AudioSource source, const AudioFragment& fragment);
    // Writer queue only: writes a buffer of the working format (planar) at once.
    void append(const PcmBuffer& buffer, AudioSource source, HostSeconds hostTime);
    // Any thread, never waits: hands the buffer to the queue on its own.
    void appendAsync(PcmBuffer buffer, AudioSource source, HostSeconds hostTime);
    // Any thread, never waits. Gains are limited to 0…1; buffers queued before keep the old gains.
    // With `from` (host time), the new gains apply to the audio captured from then on, however
    // late it arrives: a source's buffers reach the writer some time after they were captured,
    // and a gain moved at second 10 must not change what was heard at second 9.8.
    void setGains(float system, float microphone, std::optional<HostSeconds> from = std::nullopt);

    // Adds a marker at host time `at`, placed on the recording's timeline (a pause's moment while
    // paused), and rewrites the manifest with it, forced to disk, before `completion` runs on
    // the writer queue with the marker or the error. Any thread, never waits.
    void addMarker(HostSeconds at, QString label,
                   std::function<void(Result<RecordingMarker>)> completion);
    // Relabels marker `index` (in the order added) likewise.
    void relabelMarker(qsizetype index, QString label, std::function<void(Result<>)> completion);

    // The end of a recording stopped at host time `at`: `at`, or for AAC the end of the encoder
    // frame it falls in, so that the files need no padding after the audio (an AAC recording's
    // length is a whole number of encoder frames, at most 21 ms more than was asked for). Waits
    // for the queue; never call it from the queue.
    HostSeconds endOfRecording(HostSeconds at);

    // Ends the recording at host time `at` once every buffer queued before has been written,
    // closes the tracks and exports. The files written while recording are completed and put in
    // place; when they failed, the tracks are exported as a whole. `completion` runs on the writer
    // queue with the record, or with a KivoError naming the session folder, which then stays on
    // disk. Once the files are saved, a manifest that cannot be rewritten no longer fails the
    // finish.
    void finish(HostSeconds at, std::function<void(Result<RecordingRecord>)> completion);

    // Caller's thread, after a finish has completed: removes the session folder when the export
    // completed; throws PlatformError when it cannot be removed.
    void acknowledgeSaved();

    // Writes "session.json" into `directory` atomically (temporary file, fsync, rename).
    static void writeManifest(const RecoveryManifest& manifest, const QString& directory);

    // How far one track may run ahead of the other, seconds: the one behind is filled with
    // silence up to there, and audio that arrives later for that stretch is dropped. This bounds
    // how far the files written while recording stay behind (they mix what both tracks hold)
    // when one source has nothing to deliver, as an application that plays nothing.
    static constexpr double kMaxTrackLead = 5.0;

    // The furthest a one-source recording's start moves to its first captured frame, seconds.
    static constexpr double kMaxStartShift = 2.5;

    // How often track data is forced to disk while recording, in seconds.
    static constexpr double kDiskFlushInterval = 2.0;
    // Minimum host time between two level reports, in seconds.
    static constexpr double kLevelInterval = 0.08;

private:
    // Writes a fragment on the timeline, with its source's gain; the first failure stops writing.
    void write(const AudioFragment& fragment, AudioSource source);
    // Writes what waits in a source's inbox, or in both.
    void takeInbox(AudioSource source);
    void takeInboxes();
    void closeTracks();
    // Rewrites the manifest with the markers added so far, in time order. Throws.
    void writeMarkers();
    void startFlusher();
    void stopFlusher();
    RecordingRecord finishOnQueue(HostSeconds at);
    qint64 framesOfRecording(HostSeconds at) const;
    // The frames in each open track file, system first.
    const std::vector<qint64>& trackEnds();
    void keepTracksTogether(AudioSource source);

    RecordingConfiguration m_configuration;
    RecoveryManifest m_manifest;
    QString m_directory;
    std::array<FragmentInbox, 2> m_inboxes; // by AudioSource
    // By AudioSource: its track holds audio. Until then every fragment is taken at once, so that
    // a recording's first audio is written within a fragment's time of its capture.
    std::array<std::atomic<bool>, 2> m_written{};

    // Writer queue only, after construction.
    std::array<std::unique_ptr<AudioTrack>, 2> m_tracks; // by AudioSource
    RecordingTimeline m_timeline;
    QList<RecordingMarker> m_markersAdded; // in the order added; the manifest's are sorted
    std::array<float, 2> m_gains{};
    // Gains set with a moment, by AudioSource, oldest first: taken up by the first buffer of the
    // source captured at or after it.
    struct GainChange {
        HostSeconds from = 0;
        float gain = 1;
    };
    std::array<std::deque<GainChange>, 2> m_gainChanges;
    std::array<float, 2> m_levels{};               // reported last
    std::array<std::optional<float>, 2> m_peaks{}; // since the last report, by AudioSource
    double m_lastLevelTime = 0.0;
    std::exception_ptr m_failure;
    bool m_active = false;
    // The activation moment while a recording of one source that delivers continuously (the
    // whole output, or the microphone) has had no audio and no pause yet: such a recording has
    // nothing to line up with, so it begins at the first captured frame of its first buffer
    // instead (a little later, or, for a buffer that began before the activation, a little
    // earlier), unless that lies more than kMaxStartShift away.
    std::optional<double> m_startsAtFirstFrameFrom;
    // The output files written while recording; none when they could not be started or once
    // finished.
    std::unique_ptr<LiveExport> m_live;
    std::vector<qint64> m_trackEnds; // what trackEnds() returns, reused

    // The flusher thread forces track data to disk every kDiskFlushInterval seconds, off the
    // queue so that appends never wait for the disk. It is stopped before any track closes.
    std::thread m_flusher;
    std::mutex m_flusherMutex;
    std::condition_variable m_flusherWake;
    bool m_flusherStopping = false; // guarded by m_flusherMutex

    // Declared last so that it is destroyed first: its destructor runs what is still queued while
    // everything those tasks touch is alive.
    std::unique_ptr<SerialQueue> m_queue;
};

} // namespace kivo
