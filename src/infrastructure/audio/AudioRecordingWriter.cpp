#include "infrastructure/audio/AudioRecordingWriter.h"

#include "domain/KivoError.h"
#include "domain/RecordingNames.h"
#include "domain/Text.h"
#include "infrastructure/AudioUnits.h"
#include "infrastructure/PlatformError.h"
#include "infrastructure/audio/AacFileWriter.h"
#include "infrastructure/audio/AudioTrack.h"
#include "infrastructure/audio/ExportFiles.h"
#include "infrastructure/audio/LiveExport.h"
#include "infrastructure/audio/SessionExport.h"
#include "infrastructure/audio/TrackMix.h"
#include "infrastructure/files/FileOperations.h"

#include <QDir>
#include <QFileInfo>
#include <QUuid>

#include <algorithm>
#include <atomic>
#include <cmath>

#include <sys/statvfs.h>

namespace kivo {

namespace {

constexpr std::uint64_t kMinimumFreeBytes = 100'000'000;

const QString kManifestFileName = QStringLiteral("session.json");

// 0 bytes free counts as full: statvfs always gives a figure.
bool tooFull(const std::optional<std::uint64_t>& available) {
    return available && *available < kMinimumFreeBytes;
}

std::size_t index(AudioSource source) {
    return static_cast<std::size_t>(source);
}

float clampedGain(float gain) {
    if (std::isnan(gain)) {
        return 0.0F;
    }
    return std::clamp(gain, 0.0F, 1.0F);
}

} // namespace

std::optional<std::uint64_t> AudioRecordingWriter::volumeAvailableCapacity(const QString& path) {
    struct statvfs info {};
    if (::statvfs(QFile::encodeName(path).constData(), &info) != 0) {
        throw PlatformError::fromErrno(QStringLiteral("無法讀取「%1」所在磁碟的剩餘空間").arg(path),
                                       errno);
    }
    return static_cast<std::uint64_t>(info.f_bavail) * static_cast<std::uint64_t>(info.f_frsize);
}

AudioRecordingWriter::AudioRecordingWriter(const RecordingConfiguration& configuration,
                                           const QString& root, AvailableCapacity availableCapacity)
    : m_configuration(configuration.validated())
    , m_manifest(QUuid::createUuid(), Date::now(), m_configuration)
    , m_directory(QDir::cleanPath(root + QLatin1Char('/') +
                                  m_manifest.id.toString(QUuid::WithoutBraces).toUpper()))
    , m_queue(std::make_unique<SerialQueue>(QStringLiteral("app.kivo.Kivo.audio"))) {
    m_gains[index(AudioSource::system)] = clampedGain(m_configuration.systemGain);
    m_gains[index(AudioSource::microphone)] = clampedGain(m_configuration.microphoneGain);

    const QString outputFolder = ExportFiles::outputFolder(m_configuration);
    FileOperations::makeFolder(outputFolder);
    // A folder that takes no files would otherwise be found only when the recording is saved.
    FileOperations::checkCanCreateFiles(outputFolder);
    if (tooFull(availableCapacity(outputFolder))) {
        throw KivoError(QStringLiteral("保存磁碟剩餘空間不足 100 MB，請更換資料夾。"));
    }

    // The tracks grow on the sessions volume, which may be another, smaller one.
    // The sessions hold raw recordings of meetings and calls: only the user may read them.
    const QString sessionsRoot = QDir::cleanPath(root);
    FileOperations::makePrivateFolder(sessionsRoot);
    if (tooFull(availableCapacity(sessionsRoot))) {
        throw KivoError(QStringLiteral("暫存磁碟剩餘空間不足 100 MB，請先清出空間。"));
    }

    FileOperations::makePrivateFolder(m_directory);
    writeManifest(m_manifest, m_directory);

    if (m_configuration.capturesSystem()) {
        m_tracks[index(AudioSource::system)] = std::make_unique<AudioTrack>(
            m_directory + QLatin1Char('/') + trackFileName(AudioSource::system));
    }
    if (m_configuration.capturesMicrophone()) {
        m_tracks[index(AudioSource::microphone)] = std::make_unique<AudioTrack>(
            m_directory + QLatin1Char('/') + trackFileName(AudioSource::microphone));
    }
    startFlusher();
}

AudioRecordingWriter::~AudioRecordingWriter() {
    stopFlusher();
    // Let queued work run before the tracks go; a track destroyed while open is closed by its
    // destructor.
    m_queue.reset();
}

void AudioRecordingWriter::activate(HostSeconds at) {
    m_queue->sync([this, at] {
        takeInboxes(); // delivered before the recording began: not written
        m_timeline.start(at);
        m_active = true;
        try {
            m_live = std::make_unique<LiveExport>(m_manifest, m_directory);
        } catch (const std::exception&) {
            // The stop exports from the tracks, as it would after a failure later on.
        }
        const bool oneSource =
            m_configuration.capturesSystem() != m_configuration.capturesMicrophone();
        if (oneSource && m_configuration.mode != RecordingMode::application) {
            m_startsAtFirstFrameFrom = at;
        }
    });
}

void AudioRecordingWriter::pause(HostSeconds at) {
    m_queue->sync([this, at] {
        takeInboxes();
        m_timeline.pause(at);
        m_startsAtFirstFrameFrom.reset();
    });
}

void AudioRecordingWriter::resume(HostSeconds at) {
    m_queue->sync([this, at] {
        takeInboxes();
        m_timeline.resume(at);
    });
}

void AudioRecordingWriter::setGains(float system, float microphone,
                                    std::optional<HostSeconds> from) {
    m_queue->async([this, system, microphone, from] {
        takeInboxes(); // received before: the old gains
        for (const auto& [source, gain] : {std::pair{AudioSource::system, system},
                                           std::pair{AudioSource::microphone, microphone}}) {
            auto& changes = m_gainChanges[index(source)];
            if (!from) {
                changes.clear();
                m_gains[index(source)] = clampedGain(gain);
                continue;
            }
            // A slider dragged for long while a source delivers nothing: the oldest are taken
            // up at once.
            constexpr std::size_t kMostPending = 64;
            while (changes.size() >= kMostPending) {
                m_gains[index(source)] = changes.front().gain;
                changes.pop_front();
            }
            changes.push_back({*from, clampedGain(gain)});
        }
    });
}

void AudioRecordingWriter::receive(AudioSource source, const AudioFragment& fragment) {
    if (m_inboxes[index(source)].put(fragment) ||
        !m_written[index(source)].load(std::memory_order_relaxed)) {
        m_queue->async([this, source] { takeInbox(source); });
    }
}

void AudioRecordingWriter::takeInbox(AudioSource source) {
    m_inboxes[index(source)].take([&](const AudioFragment& waiting) { write(waiting, source); });
}

void AudioRecordingWriter::takeInboxes() {
    takeInbox(AudioSource::system);
    takeInbox(AudioSource::microphone);
}

void AudioRecordingWriter::appendAsync(PcmBuffer buffer, AudioSource source, HostSeconds hostTime) {
    m_queue->async(
        [this, buffer = std::move(buffer), source, hostTime] { append(buffer, source, hostTime); });
}

void AudioRecordingWriter::append(const PcmBuffer& buffer, AudioSource source,
                                  HostSeconds hostTime) {
    Q_ASSERT(m_queue->isCurrent());
    Q_ASSERT(buffer.format() == kWorkingFormat);
    std::vector<float> interleaved;
    buffer.interleaveStereo(interleaved);
    write(AudioFragment{interleaved.data(), buffer.frameLength(), hostTime}, source);
}

void AudioRecordingWriter::write(const AudioFragment& fragment, AudioSource source) {
    const HostSeconds hostTime = fragment.time;
    if (!m_active || m_failure || !std::isfinite(hostTime)) {
        return;
    }
    if (const auto from = std::exchange(m_startsAtFirstFrameFrom, std::nullopt);
        from && std::abs(hostTime - *from) <= kMaxStartShift) {
        m_timeline.start(hostTime);
    }
    AudioTrack* track = m_tracks[index(source)].get();
    const auto runStart = m_timeline.runStartedAt();
    if (track == nullptr || !runStart) {
        return;
    }
    // Only what lies in the current run of recording: a fragment that began before it (the
    // first ones of a stream often do: they were held while its clock was measured) loses just
    // its beginning, and one captured before a pause but delivered during it, just its end.
    const auto frameAt = [&](HostSeconds moment) {
        return std::clamp<Frames>(std::llround((moment - hostTime) * kWorkingSampleRate), 0,
                                  fragment.frames);
    };
    Frames from = frameAt(*runStart);
    const Frames to = m_timeline.pausedAt() ? frameAt(*m_timeline.pausedAt()) : fragment.frames;
    const auto firstPosition = m_timeline.position(std::max(hostTime, *runStart));
    if (from >= to || !firstPosition) {
        return;
    }
    const TimelineSeconds position0 = *firstPosition - std::max(hostTime, *runStart) + hostTime;
    auto& changes = m_gainChanges[index(source)];
    while (from < to) {
        // Each stretch with the gain set for the moment it was captured.
        while (!changes.empty() && frameAt(changes.front().from) <= from) {
            m_gains[index(source)] = changes.front().gain;
            changes.pop_front();
        }
        const Frames until =
            changes.empty() ? to : std::clamp(frameAt(changes.front().from), from + 1, to);
        try {
            const float peak = track->append(fragment.slice(from, until - from),
                                             position0 + secondsOf(from), m_gains[index(source)]);
            m_written[index(source)].store(true, std::memory_order_relaxed);
            auto& held = m_peaks[index(source)];
            held = std::max(held.value_or(0.0F), peak);
            keepTracksTogether(source);
        } catch (...) {
            m_failure = std::current_exception();
            if (onFailure) {
                onFailure(QStringLiteral("錄音寫入中斷，將嘗試保存已錄製內容。\n") +
                          describe(m_failure));
            }
            return;
        }
        from = until;
    }

    if (hostTime - m_lastLevelTime > kLevelInterval) {
        m_lastLevelTime = hostTime;
        for (std::size_t i = 0; i < m_levels.size(); ++i) {
            m_levels[i] = std::exchange(m_peaks[i], std::nullopt).value_or(m_levels[i]);
        }
        if (onLevels) {
            onLevels(m_levels[index(AudioSource::system)],
                     m_levels[index(AudioSource::microphone)]);
        }
    }
}

void AudioRecordingWriter::keepTracksTogether(AudioSource source) {
    const qint64 lead = m_tracks[index(source)]->position() - framesForSeconds(kMaxTrackLead);
    for (const auto& track : m_tracks) {
        if (track && track->position() < lead) {
            track->pad(lead);
        }
    }
    if (m_live) {
        m_live->advance(trackEnds());
    }
}

std::optional<qint64> AudioRecordingWriter::framesSavedWhileRecording() const {
    if (!m_live || m_live->hasFailed()) {
        return std::nullopt;
    }
    return m_live->mixedFrames();
}

const std::vector<qint64>& AudioRecordingWriter::trackEnds() {
    // Filled in place: this runs after every append.
    m_trackEnds.clear();
    for (const auto source : kAllAudioSources) {
        if (const auto& track = m_tracks[index(source)]) {
            m_trackEnds.push_back(track->position());
        }
    }
    return m_trackEnds;
}

void AudioRecordingWriter::abandonEmptySession() {
    m_queue->sync([this] {
        takeInboxes();
        m_active = false;
        const bool receivedAudio = std::any_of(m_tracks.begin(), m_tracks.end(), [](const auto& t) {
            return t && t->receivedFrames() > 0;
        });
        closeTracks();
        // Abandoned, the session is either gone or left to recovery, which exports it whole.
        m_live.reset();
        if (!receivedAudio) {
            try {
                FileOperations::removeFolder(m_directory);
            } catch (const PlatformError&) {
                // A folder without audio is harmless: recovery finds nothing to export in it.
            }
        }
    });
}

void AudioRecordingWriter::finish(HostSeconds at,
                                  std::function<void(Result<RecordingRecord>)> completion) {
    m_queue->async([this, at, completion = std::move(completion)] {
        takeInboxes();
        auto result = Result<RecordingRecord>::capture([&] { return finishOnQueue(at); });
        if (completion) {
            completion(std::move(result));
        }
    });
}

qint64 AudioRecordingWriter::framesOfRecording(HostSeconds at) const {
    const qint64 frames = framesForSeconds(m_timeline.elapsed(at));
    if (m_configuration.format != AudioOutputFormat::aac) {
        return frames;
    }
    const qint64 size = AacFileWriter::kFrameSamples;
    return (frames + size - 1) / size * size;
}

HostSeconds AudioRecordingWriter::endOfRecording(HostSeconds at) {
    double end = at;
    m_queue->sync([&] {
        const qint64 extra = framesOfRecording(at) - framesForSeconds(m_timeline.elapsed(at));
        if (!m_timeline.isPaused()) {
            end += static_cast<double>(extra) / kWorkingSampleRate;
        }
    });
    return end;
}

RecordingRecord AudioRecordingWriter::finishOnQueue(HostSeconds at) {
    m_active = false;
    const qint64 frames = framesOfRecording(at);
    qint64 received = 0;
    for (const auto& track : m_tracks) {
        if (track) {
            received += track->receivedFrames();
        }
    }
    const auto ends = trackEnds();
    closeTracks();
    auto live = std::move(m_live);

    try {
        if (received < 1) {
            throw KivoError(QStringLiteral("沒有收到音訊。請確認來源與權限；暫存資料保留在 ") +
                            QDir::toNativeSeparators(m_directory) + QStringLiteral("。"));
        }
        std::optional<RecordingRecord> finished;
        if (live) {
            try {
                finished =
                    live->finish(frames, ends, m_manifest.markers, FileOperations::syncFolder);
                if (onExportProgress) {
                    onExportProgress(1.0);
                }
            } catch (const std::exception&) {
                // The tracks hold everything: they are exported as a whole below.
            }
            live.reset();
        }
        RecordingRecord record = finished ? std::move(*finished)
                                          : SessionExport::exportSession(m_manifest, m_directory,
                                                                         frames, onExportProgress);
        m_manifest.exported = record;
        try {
            writeManifest(m_manifest, m_directory);
        } catch (const PlatformError&) {
            // The files are saved: failing here would keep the record from the library and
            // have recovery save the recording a second time. The folder goes once the record
            // is stored, as after any finish.
        }
        return record;
    } catch (const std::exception& error) {
        throw KivoError(QStringLiteral("無法完成音檔保存，原始錄音保留在 ") +
                        QDir::toNativeSeparators(m_directory) + QStringLiteral("。\n") +
                        describe(error));
    }
}

void AudioRecordingWriter::acknowledgeSaved() {
    if (!m_manifest.exported) {
        return;
    }
    FileOperations::removeFolder(m_directory);
}

void AudioRecordingWriter::closeTracks() {
    stopFlusher();
    for (auto& track : m_tracks) {
        if (!track) {
            continue;
        }
        try {
            track->close();
        } catch (const PlatformError&) {
            // The data is on disk already: a track whose header was not finalised is read to the
            // end of its data, so the export and recovery lose nothing.
        }
    }
}

void AudioRecordingWriter::startFlusher() {
    std::vector<AudioTrack*> tracks;
    for (const auto& track : m_tracks) {
        if (track) {
            tracks.push_back(track.get());
        }
    }
    m_flusher = std::thread([this, tracks = std::move(tracks)] {
        std::unique_lock lock(m_flusherMutex);
        const auto interval = std::chrono::duration<double>(kDiskFlushInterval);
        while (!m_flusherWake.wait_for(lock, interval, [this] { return m_flusherStopping; })) {
            lock.unlock();
            for (AudioTrack* track : tracks) {
                try {
                    track->syncToDisk();
                } catch (const PlatformError&) {
                    // A failing disk also fails the next append, which reports it.
                }
            }
            lock.lock();
        }
    });
}

void AudioRecordingWriter::stopFlusher() {
    {
        std::lock_guard lock(m_flusherMutex);
        m_flusherStopping = true;
    }
    m_flusherWake.notify_all();
    if (m_flusher.joinable()) {
        m_flusher.join();
    }
}

void AudioRecordingWriter::addMarker(HostSeconds at, QString label,
                                     std::function<void(Result<RecordingMarker>)> completion) {
    m_queue->async([this, at, label = std::move(label), completion = std::move(completion)] {
        const RecordingMarker marker{m_timeline.elapsed(at), label};
        auto result = Result<RecordingMarker>::capture([&] {
            m_markersAdded.append(marker);
            writeMarkers();
            return marker;
        });
        if (!result) {
            m_markersAdded.removeLast();
        }
        completion(std::move(result));
    });
}

void AudioRecordingWriter::relabelMarker(qsizetype index, QString label,
                                         std::function<void(Result<>)> completion) {
    m_queue->async([this, index, label = std::move(label), completion = std::move(completion)] {
        completion(Result<>::capture([&] {
            if (index < 0 || index >= m_markersAdded.size()) {
                throw KivoError(QStringLiteral("找不到這個標記。"));
            }
            const QString before = std::exchange(m_markersAdded[index].label, label);
            try {
                writeMarkers();
            } catch (...) {
                m_markersAdded[index].label = before;
                throw;
            }
        }));
    });
}

void AudioRecordingWriter::writeMarkers() {
    RecoveryManifest manifest = m_manifest;
    manifest.markers = m_markersAdded;
    std::stable_sort(manifest.markers.begin(), manifest.markers.end(),
                     [](const auto& a, const auto& b) { return a.at < b.at; });
    writeManifest(manifest, m_directory);
    m_manifest = std::move(manifest);
}

void AudioRecordingWriter::writeManifest(const RecoveryManifest& manifest,
                                         const QString& directory) {
    FileOperations::writeAtomically(directory + QLatin1Char('/') + kManifestFileName,
                                    manifest.encoded());
}

} // namespace kivo
