#pragma once

// Reads track files (see CafFormat.h).

#include <QString>
#include <QtGlobal>

#include <vector>

namespace kivo {

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
