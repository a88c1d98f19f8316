#include "infrastructure/audio/WavFileWriter.h"

#include "infrastructure/PlatformError.h"
#include "infrastructure/audio/PcmBuffer.h"

#include <QFile>

#include <sndfile.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>

namespace kivo {

struct WavFileWriter::Output {
    int fd = -1;
    int error = 0; // errno of the first failed call, 0 while all went well

    ~Output() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    void failed() {
        if (error == 0) {
            error = errno;
        }
    }

    static Output& of(void* data) { return *static_cast<Output*>(data); }
    static sf_count_t length(void* data) {
        Output& output = of(data);
        const off_t here = ::lseek(output.fd, 0, SEEK_CUR);
        const off_t end = ::lseek(output.fd, 0, SEEK_END);
        if (here < 0 || end < 0 || ::lseek(output.fd, here, SEEK_SET) < 0) {
            output.failed();
            return -1;
        }
        return end;
    }
    static sf_count_t seek(sf_count_t offset, int whence, void* data) {
        Output& output = of(data);
        const off_t at = ::lseek(output.fd, offset, whence);
        if (at < 0) {
            output.failed();
        }
        return at;
    }
    static sf_count_t read(void* buffer, sf_count_t count, void* data) {
        Output& output = of(data);
        ssize_t done;
        do {
            done = ::read(output.fd, buffer, static_cast<size_t>(count));
        } while (done < 0 && errno == EINTR);
        if (done < 0) {
            output.failed();
            return 0;
        }
        return done;
    }
    static sf_count_t write(const void* buffer, sf_count_t count, void* data) {
        Output& output = of(data);
        const auto* bytes = static_cast<const char*>(buffer);
        sf_count_t written = 0;
        while (written < count) {
            const ssize_t done =
                ::write(output.fd, bytes + written, static_cast<size_t>(count - written));
            if (done < 0 && errno == EINTR) {
                continue;
            }
            if (done <= 0) {
                if (done == 0) {
                    errno = ENOSPC;
                }
                output.failed();
                break;
            }
            written += done;
        }
        return written;
    }
    static sf_count_t tell(void* data) { return seek(0, SEEK_CUR, data); }
};

namespace {

// The most audio data a RIFF WAVE file can describe, leaving room for its header chunks.
constexpr qint64 kLargestRiffData = 0xFFFFFFFFLL - 4096;

QString sndfileText(SNDFILE* file) {
    return QString::fromLocal8Bit(sf_strerror(file));
}

} // namespace

WavFileWriter::WavFileWriter(const QString& path, int bitDepth, qint64 expectedFrames)
    : m_path(path) {
    Q_ASSERT(bitDepth == kStandardBitDepth || bitDepth == kHighBitDepth);
    SF_INFO info{};
    info.samplerate = static_cast<int>(kWorkingSampleRate);
    info.channels = kWorkingFormat.channels;
    // RIFF states sizes in 32 bits. Audio that does not fit (about four hours at 24 bits) goes
    // into RF64, the WAV variant with 64-bit sizes, instead of a file whose header lies about
    // its length.
    const qint64 dataBytes = std::max<qint64>(expectedFrames, 0) * info.channels * (bitDepth / 8);
    const bool fitsRiff = dataBytes <= kLargestRiffData;
    m_rf64 = !fitsRiff;
    info.format = (fitsRiff ? SF_FORMAT_WAV : SF_FORMAT_RF64) | SF_ENDIAN_LITTLE |
                  (bitDepth == kHighBitDepth ? SF_FORMAT_PCM_24 : SF_FORMAT_PCM_16);
    m_output = std::make_unique<Output>();
    do {
        m_output->fd = ::open(QFile::encodeName(path).constData(),
                              O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    } while (m_output->fd < 0 && errno == EINTR);
    if (m_output->fd < 0) {
        throw PlatformError::fromErrno(QStringLiteral("無法建立音檔 ") + path, errno);
    }
    SF_VIRTUAL_IO io{&Output::length, &Output::seek, &Output::read, &Output::write, &Output::tell};
    m_file = sf_open_virtual(&io, SFM_WRITE, &info, m_output.get());
    if (m_file == nullptr) {
        throw PlatformError(failure(QStringLiteral("無法建立音檔"), sndfileText(nullptr)));
    }
    // With clipping on, libsndfile scales by 2^15 (2^31 before dropping to 24 bits) and clips,
    // so −1.0 reaches the lowest integer and 1.0 the highest.
    sf_command(m_file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
}

WavFileWriter::~WavFileWriter() {
    if (m_file != nullptr) {
        sf_close(m_file);
    }
}

void WavFileWriter::write(const float* left, const float* right, qint64 frames) {
    Q_ASSERT(m_file != nullptr);
    if (frames < 1) {
        return;
    }
    const auto count = static_cast<std::size_t>(frames);
    if (m_interleaved.size() < count * 2) {
        m_interleaved.resize(count * 2);
    }
    float* out = m_interleaved.data();
    for (std::size_t i = 0; i < count; ++i) {
        out[2 * i] = left[i];
        out[2 * i + 1] = right[i];
    }
    if (sf_writef_float(m_file, out, frames) != frames) {
        throw PlatformError(failure(QStringLiteral("無法寫入音檔"), sndfileText(m_file)));
    }
    m_frames += frames;
}

void WavFileWriter::finish() {
    Q_ASSERT(m_file != nullptr);
    SNDFILE* file = m_file;
    m_file = nullptr;
    const int result = sf_close(file);
    if (result == SF_ERR_NO_ERROR && m_output->error == 0 && !m_markers.isEmpty()) {
        appendMarkers();
    }
    if (::close(m_output->fd) != 0 && errno != EINTR) {
        m_output->failed(); // a delayed write error, such as a full network share
    }
    m_output->fd = -1;
    if (result != SF_ERR_NO_ERROR || m_output->error != 0) {
        throw PlatformError(failure(QStringLiteral("無法完成音檔"),
                                    QString::fromLocal8Bit(sf_error_number(result))));
    }
}

namespace {

void putLittle(QByteArray& bytes, quint64 value, int size) {
    for (int i = 0; i < size; ++i) {
        bytes.append(static_cast<char>((value >> (8 * i)) & 0xFF));
    }
}

void putChunk(QByteArray& bytes, const char* type, const QByteArray& payload) {
    bytes.append(type, 4);
    putLittle(bytes, static_cast<quint64>(payload.size()), 4);
    bytes.append(payload);
    if (payload.size() % 2 != 0) {
        bytes.append('\0'); // chunks are padded to an even length
    }
}

} // namespace

void WavFileWriter::appendMarkers() {
    // Cue point n (from 1) at its frame of the data chunk, and its label.
    QByteArray cues;
    QByteArray labels("adtl", 4);
    putLittle(cues, static_cast<quint64>(m_markers.size()), 4);
    quint32 id = 0;
    for (const RecordingMarker& marker : m_markers) {
        ++id;
        const auto frame = static_cast<quint64>(
            std::clamp<qint64>(std::llround(marker.at * kWorkingSampleRate), 0, m_frames));
        putLittle(cues, id, 4);
        putLittle(cues, 0, 4); // position in a playlist: none
        cues.append("data", 4);
        putLittle(cues, 0, 4); // chunk start and block start: the one data chunk
        putLittle(cues, 0, 4);
        putLittle(cues, frame, 4);
        QByteArray label;
        putLittle(label, id, 4);
        label.append(marker.label.toUtf8());
        label.append('\0');
        putChunk(labels, "labl", label);
    }
    QByteArray chunks;
    putChunk(chunks, "cue ", cues);
    putChunk(chunks, "LIST", labels);

    const off_t end = ::lseek(m_output->fd, 0, SEEK_END);
    if (end < 0 ||
        Output::write(chunks.constData(), chunks.size(), m_output.get()) != chunks.size()) {
        m_output->failed();
        return;
    }
    // The RIFF size counts everything after its own field; RF64 keeps it in the 'ds64' chunk.
    QByteArray size;
    const auto riffSize = static_cast<quint64>(end + chunks.size() - 8);
    putLittle(size, riffSize, m_rf64 ? 8 : 4);
    if (::pwrite(m_output->fd, size.constData(), static_cast<size_t>(size.size()),
                 m_rf64 ? 20 : 4) != size.size()) {
        m_output->failed();
    }
}

QString WavFileWriter::failure(const QString& what, const QString& libraryText) const {
    return what + u' ' + m_path + QStringLiteral("：") +
           (m_output->error != 0 ? PlatformError::describeErrno(m_output->error) : libraryText);
}

} // namespace kivo
