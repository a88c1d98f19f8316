#pragma once

// Writes track files (see CafFormat.h).

#include "infrastructure/audio/PcmBuffer.h"

#include <QString>
#include <QtGlobal>

#include <atomic>
#include <vector>

namespace kivo {

// Appends working-format buffers to a new track file. Every append goes straight to the file
// with pwrite(), without buffering in this process, so whatever was appended survives the
// program being killed. Owned and used by one thread, except syncToDisk().
class CafWriter {
public:
    // Creates the file and writes its header; the path must not exist yet. Throws
    // PlatformError.
    explicit CafWriter(const QString& path);
    // Closes the file if still open; errors are swallowed (call close() to see them).
    ~CafWriter();
    CafWriter(const CafWriter&) = delete;
    CafWriter& operator=(const CafWriter&) = delete;

    // Appends the frameLength() frames of a buffer of kWorkingFormat. Throws PlatformError;
    // after a failure frames() is unchanged and the next write lands where this one should
    // have. Throws std::invalid_argument for a buffer of another format.
    void write(const PcmBuffer& workingFormatBuffer);
    // The same for `frames` stereo frames already interleaved as the file holds them.
    void writeInterleaved(const float* samples, qint64 frames);

    // Flushes what was appended to the disk (fdatasync). Safe to call from any thread while the
    // owner appends. It must not overlap close() or the destruction: whoever calls it from
    // another thread stops doing so before the owner closes the file. Does nothing once the
    // file is closed. Throws PlatformError.
    void syncToDisk();

    // Writes the data chunk's size, flushes to the disk and closes. Idempotent. Throws
    // PlatformError; the file is closed even then.
    void close();

    bool isOpen() const { return m_fd.load(std::memory_order_relaxed) >= 0; }
    // Frames appended so far.
    qint64 frames() const { return m_frames; }
    const QString& path() const { return m_path; }

private:
    QString m_path;
    std::atomic<int> m_fd{-1};
    qint64 m_frames = 0;
    std::vector<float> m_interleaved; // reused for every write
};

} // namespace kivo
