#pragma once

// Track files: Core Audio Format (CAF) files of 48 000 Hz, 2-channel, 32-bit float audio,
// interleaved and little-endian, written and read by Kivo itself.
//
// While a file is written its data chunk has the size "unknown" (-1), which CAF allows for the
// last chunk, so the file is valid after every append; close() writes the real size. A program
// that is killed leaves a file with an unknown-size data chunk holding every frame appended, and
// CafReader takes its length from the file size. Other programs (libsndfile 1.2 in particular)
// read closed files only.

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

// Reads a track file written by CafWriter (closed or not) or any CAF file of 48 000 Hz,
// 2-channel, 32-bit float linear PCM, in either byte order, its chunks in any order and with
// chunks of other kinds among them (a data chunk of unknown size runs to the file's end, so it
// must come last). Not thread-safe.
class CafReader {
public:
    // Throws PlatformError when the file cannot be opened or is not such a CAF file.
    explicit CafReader(const QString& path);
    ~CafReader();
    CafReader(const CafReader&) = delete;
    CafReader& operator=(const CafReader&) = delete;

    // Frames in the file. For a data chunk of unknown size (a file that was never closed) the
    // frames that the file size holds; a partial last frame does not count.
    qint64 length() const { return m_length; }
    // Frames read so far.
    qint64 position() const { return m_position; }
    // True when the data chunk carries its size, as a closed track file does.
    bool isComplete() const { return m_complete; }
    const QString& path() const { return m_path; }

    // For a file still being written (its data chunk of unknown size): the writer has put
    // `frames` frames in place, so they may be read although the file held fewer when it was
    // opened. Does nothing for a closed file or a smaller count.
    void extendTo(qint64 frames);

    // Reads up to maxFrames frames at the read position into two channel arrays and returns the
    // frames read, 0 at the end. Throws PlatformError on a read error.
    qint64 read(float* left, float* right, qint64 maxFrames);

private:
    QString m_path;
    int m_fd = -1;
    qint64 m_dataOffset = 0; // bytes from the start of the file to the first frame
    qint64 m_length = 0;
    qint64 m_position = 0;
    bool m_complete = false;
    bool m_bigEndian = false;
    std::vector<float> m_interleaved; // reused for every read
};

} // namespace kivo
