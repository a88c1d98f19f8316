#include "infrastructure/audio/LiveExport.h"

#include "domain/KivoError.h"
#include "infrastructure/audio/TrackMix.h"

#include <QFile>

#include <algorithm>

namespace kivo {

LiveExport::LiveExport(const RecoveryManifest& manifest, const QString& directory)
    : m_manifest(manifest)
    , m_outputs(ExportFiles::outputs(manifest.configuration, directory)) {
    if (m_outputs.empty()) {
        throw KivoError::message(QStringLiteral("沒有收到可保存的音訊。請確認來源與錄音權限。"));
    }
    const RecordingConfiguration& configuration = manifest.configuration;
    try {
        for (std::size_t i = 0; i < m_outputs.size(); ++i) {
            m_temporaryPaths.append(ExportFiles::liveTemporaryPath(manifest, i));
            // The length is not known yet: nothing is placed before the audio.
            m_mixes.push_back(std::make_unique<AudioFiles::TrackMix>(
                m_outputs[i].tracks, m_temporaryPaths.back(), configuration.format,
                configuration.highQuality, 0));
        }
    } catch (...) {
        discard();
        throw;
    }
    m_trackEnds.assign(static_cast<std::size_t>(m_outputs.front().tracks.size()), 0);
    m_thread = std::thread([this] { run(); });
}

LiveExport::~LiveExport() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
    if (!m_placed) {
        discard();
    }
}

void LiveExport::advance(const std::vector<qint64>& trackEnds) {
    bool wake = false;
    {
        std::lock_guard lock(m_mutex);
        if (m_finalFrames || trackEnds.size() != m_trackEnds.size()) {
            return;
        }
        m_trackEnds = trackEnds;
        const qint64 slowest =
            *std::min_element(trackEnds.begin(), trackEnds.end()) - kHeldBackFrames;
        wake = slowest / kStepFrames != m_target / kStepFrames;
        m_target = std::max(m_target, slowest);
    }
    if (wake) {
        m_wake.notify_one();
    }
}

bool LiveExport::hasFailed() const {
    std::lock_guard lock(m_mutex);
    return m_failure != nullptr;
}

void LiveExport::run() {
    const auto& merged = m_outputs.front().sources;
    qint64 mixed = 0;
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock,
                    [&] { return m_stopping || m_finalFrames || m_target >= mixed + kStepFrames; });
        if (m_stopping) {
            return;
        }
        const bool last = m_finalFrames.has_value();
        const QList<RecordingMarker> markers = m_manifest.markers; // final once `last`
        const qint64 target = last ? *m_finalFrames : m_target;
        const std::vector<qint64> ends = m_trackEnds;
        lock.unlock();
        try {
            if (target < mixed) {
                // Stopped within what was held back: the files already hold more than the
                // recording.
                throw KivoError::message(QStringLiteral("錄音比已寫入的音檔短。"));
            }
            for (std::size_t i = 0; i < m_mixes.size(); ++i) {
                std::vector<qint64> own;
                for (const auto source : m_outputs[i].sources) {
                    const auto at =
                        std::find(merged.begin(), merged.end(), source) - merged.begin();
                    own.push_back(ends[static_cast<std::size_t>(at)]);
                }
                m_mixes[i]->mixUpTo(target, own);
                if (last) {
                    m_mixes[i]->finish(markers);
                }
            }
        } catch (...) {
            discard();
            lock.lock();
            m_failure = std::current_exception();
            m_done = true;
            m_wake.notify_all();
            return;
        }
        mixed = target;
        m_mixed.store(mixed, std::memory_order_relaxed);
        lock.lock();
        if (last) {
            m_done = true;
            m_wake.notify_all();
            return;
        }
    }
}

void LiveExport::discard() {
    m_mixes.clear();
    for (const auto& path : m_temporaryPaths) {
        QFile::remove(path);
    }
}

RecordingRecord LiveExport::finish(qint64 frames, const std::vector<qint64>& trackEnds,
                                   const QList<RecordingMarker>& markers,
                                   const ExportFiles::FolderSync& syncFolder) {
    {
        std::unique_lock lock(m_mutex);
        m_manifest.markers = markers;
        if (trackEnds.size() == m_trackEnds.size()) {
            m_trackEnds = trackEnds;
        }
        m_finalFrames = frames;
        m_wake.notify_all();
        m_wake.wait(lock, [this] { return m_done; });
    }
    m_thread.join();
    if (m_failure) {
        std::rethrow_exception(m_failure);
    }
    m_mixes.clear();
    const QList<QUrl> files =
        ExportFiles::place(m_temporaryPaths, ExportFiles::finalPaths(m_manifest, m_outputs),
                           ExportFiles::outputFolder(m_manifest.configuration), syncFolder);
    m_placed = true;
    return ExportFiles::record(m_manifest, frames, files);
}

} // namespace kivo
