#include "infrastructure/audio/CafFile.h"

#include "infrastructure/PlatformError.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <stdexcept>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kivo {

static_assert(std::endian::native == std::endian::little,
              "track samples are written in the machine's byte order, which must be little-endian");

namespace {

// Header of a track file: the file header, the audio description, the channel layout and the
// head of the data chunk with its edit count. Header fields are big-endian; samples follow in
// the byte order that the description names (little-endian).
constexpr qint64 kDescChunk = 8;
constexpr qint64 kDescSize = 32;
constexpr qint64 kChanChunk = kDescChunk + 12 + kDescSize;
constexpr qint64 kChanSize = 12;
constexpr qint64 kDataChunk = kChanChunk + 12 + kChanSize;
constexpr qint64 kDataSizeField = kDataChunk + 4;
constexpr qint64 kAudioOffset = kDataChunk + 12 + 4;
constexpr qint64 kBytesPerFrame = 2 * static_cast<qint64>(sizeof(float));

constexpr std::uint32_t kFormatLinearPcm = 0x6C70636D; // 'lpcm'
constexpr std::uint32_t kFlagIsFloat = 1;
constexpr std::uint32_t kFlagIsLittleEndian = 2;
constexpr std::uint32_t kChannelLayoutStereo = (101u << 16) | 2u;
constexpr std::int64_t kUnknownSize = -1;

std::uint32_t fourCc(const char (&code)[5]) {
    return (static_cast<std::uint32_t>(static_cast<unsigned char>(code[0])) << 24) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(code[1])) << 16) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(code[2])) << 8) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(code[3]));
}

void putBig(unsigned char* out, std::uint64_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) {
        out[i] = static_cast<unsigned char>(value & 0xFF);
        value >>= 8;
    }
}

std::uint64_t getBig(const unsigned char* in, int bytes) {
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) {
        value = (value << 8) | in[i];
    }
    return value;
}

std::array<unsigned char, kAudioOffset> headerBytes() {
    std::array<unsigned char, kAudioOffset> header{};
    unsigned char* p = header.data();
    putBig(p, fourCc("caff"), 4);
    putBig(p + 4, 1, 2); // version
    putBig(p + 6, 0, 2); // flags

    p = header.data() + kDescChunk;
    putBig(p, fourCc("desc"), 4);
    putBig(p + 4, kDescSize, 8);
    putBig(p + 12, std::bit_cast<std::uint64_t>(kWorkingSampleRate), 8);
    putBig(p + 20, kFormatLinearPcm, 4);
    putBig(p + 24, kFlagIsFloat | kFlagIsLittleEndian, 4);
    putBig(p + 28, kBytesPerFrame, 4); // bytes per packet
    putBig(p + 32, 1, 4);              // frames per packet
    putBig(p + 36, 2, 4);              // channels per frame
    putBig(p + 40, 32, 4);             // bits per channel

    p = header.data() + kChanChunk;
    putBig(p, fourCc("chan"), 4);
    putBig(p + 4, kChanSize, 8);
    putBig(p + 12, kChannelLayoutStereo, 4);
    putBig(p + 16, 0, 4); // channel bitmap
    putBig(p + 20, 0, 4); // no channel descriptions

    p = header.data() + kDataChunk;
    putBig(p, fourCc("data"), 4);
    putBig(p + 4, static_cast<std::uint64_t>(kUnknownSize), 8);
    putBig(p + 12, 0, 4); // edit count
    return header;
}

// Writes all `size` bytes at `offset`; returns 0 or the errno of the failure.
int writeAll(int fd, const void* data, std::size_t size, qint64 offset) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const ssize_t written = ::pwrite(fd, bytes, size, static_cast<off_t>(offset));
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        if (written == 0) {
            return ENOSPC;
        }
        bytes += written;
        size -= static_cast<std::size_t>(written);
        offset += written;
    }
    return 0;
}

// Reads up to `size` bytes at `offset`, stopping early only at the end of the file; returns
// the bytes read, or -errno on failure.
qint64 readAll(int fd, void* data, std::size_t size, qint64 offset) {
    auto* bytes = static_cast<unsigned char*>(data);
    qint64 total = 0;
    while (size > 0) {
        const ssize_t got = ::pread(fd, bytes, size, static_cast<off_t>(offset));
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -errno;
        }
        if (got == 0) {
            break;
        }
        bytes += got;
        size -= static_cast<std::size_t>(got);
        offset += got;
        total += got;
    }
    return total;
}

int syncData(int fd) {
    while (::fdatasync(fd) != 0) {
        if (errno != EINTR) {
            return errno;
        }
    }
    return 0;
}

// Makes the new file's directory entry durable; a file system that cannot sync a directory
// is left as it is.
void syncDirectoryOf(const QString& path) {
    const QByteArray directory = QFile::encodeName(QFileInfo(path).absolutePath());
    const int fd = ::open(directory.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

QString writeFailure(const QString& path) {
    return QStringLiteral("無法寫入音軌檔 ") + path;
}

QString readFailure(const QString& path) {
    return QStringLiteral("無法讀取音軌檔 ") + path;
}

PlatformError notATrackFile(const QString& path, const QString& why) {
    return PlatformError(readFailure(path) + QStringLiteral("：") + why);
}

} // namespace

// --- CafWriter ---

CafWriter::CafWriter(const QString& path)
    : m_path(path) {
    const QByteArray name = QFile::encodeName(path);
    // A track is a raw recording: readable by its owner only, whatever the umask.
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        throw PlatformError::fromErrno(QStringLiteral("無法建立音軌檔 ") + path, errno);
    }
    const auto header = headerBytes();
    int error = ::fchmod(fd, 0600) != 0 ? errno : 0;
    if (error == 0) {
        error = writeAll(fd, header.data(), header.size(), 0);
    }
    if (error != 0) {
        ::close(fd);
        ::unlink(name.constData());
        throw PlatformError::fromErrno(QStringLiteral("無法建立音軌檔 ") + path, error);
    }
    syncDirectoryOf(path);
    m_fd.store(fd);
}

CafWriter::~CafWriter() {
    try {
        close();
    } catch (const PlatformError&) {
        // A destructor cannot report; the owner calls close() to learn of failures.
    }
}

void CafWriter::write(const PcmBuffer& workingFormatBuffer) {
    if (workingFormatBuffer.format() != kWorkingFormat) {
        throw std::invalid_argument("CafWriter::write takes buffers of the working format");
    }
    const qint64 frames = workingFormatBuffer.frameLength();
    if (frames <= 0) {
        return;
    }
    const auto samples = static_cast<std::size_t>(frames) * 2;
    if (m_interleaved.size() < samples) {
        m_interleaved.resize(samples);
    }
    const float* left = workingFormatBuffer.channel(0).data();
    const float* right = workingFormatBuffer.channel(1).data();
    float* out = m_interleaved.data();
    for (qint64 i = 0; i < frames; ++i) {
        *out++ = left[i];
        *out++ = right[i];
    }
    writeInterleaved(m_interleaved.data(), frames);
}

void CafWriter::writeInterleaved(const float* samples, qint64 frames) {
    const int fd = m_fd.load(std::memory_order_relaxed);
    if (fd < 0) {
        throw PlatformError::fromErrno(writeFailure(m_path), EBADF);
    }
    if (frames <= 0) {
        return;
    }
    const qint64 end = kAudioOffset + m_frames * kBytesPerFrame;
    if (const int error =
            writeAll(fd, samples, static_cast<std::size_t>(frames) * kBytesPerFrame, end);
        error != 0) {
        // Drop a partly written buffer so the file keeps whole frames only; the next write
        // starts at the same place in any case.
        [[maybe_unused]] const int ignored = ::ftruncate(fd, static_cast<off_t>(end));
        throw PlatformError::fromErrno(writeFailure(m_path), error);
    }
    m_frames += frames;
}

void CafWriter::syncToDisk() {
    const int fd = m_fd.load(std::memory_order_relaxed);
    if (fd < 0) {
        return;
    }
    if (const int error = syncData(fd); error != 0) {
        throw PlatformError::fromErrno(QStringLiteral("無法將音軌檔寫入磁碟 ") + m_path, error);
    }
}

void CafWriter::close() {
    const int fd = m_fd.exchange(-1);
    if (fd < 0) {
        return;
    }
    const qint64 dataBytes = m_frames * kBytesPerFrame;
    std::array<unsigned char, 8> size{};
    putBig(size.data(), static_cast<std::uint64_t>(dataBytes + 4), 8); // edit count included

    int error = writeAll(fd, size.data(), size.size(), kDataSizeField);
    if (error == 0 && ::ftruncate(fd, static_cast<off_t>(kAudioOffset + dataBytes)) != 0) {
        error = errno;
    }
    if (error == 0) {
        error = syncData(fd);
    }
    if (::close(fd) != 0 && error == 0 && errno != EINTR) {
        error = errno;
    }
    if (error != 0) {
        throw PlatformError::fromErrno(QStringLiteral("無法完成音軌檔 ") + m_path, error);
    }
}

// --- CafReader ---

CafReader::CafReader(const QString& path)
    : m_path(path) {
    const QByteArray name = QFile::encodeName(path);
    m_fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    if (m_fd < 0) {
        throw PlatformError::fromErrno(QStringLiteral("無法開啟音軌檔 ") + path, errno);
    }
    try {
        struct stat status {};
        if (::fstat(m_fd, &status) != 0) {
            throw PlatformError::fromErrno(readFailure(path), errno);
        }
        const qint64 fileSize = status.st_size;
        const QString notCaf = QStringLiteral("不是 CAF 音訊檔。");
        const QString wrongFormat = QStringLiteral("不是 48 kHz 雙聲道 32 位元浮點音訊。");

        std::array<unsigned char, 12> head{};
        const auto readHead = [&](qint64 offset, std::size_t bytes) {
            const qint64 got = readAll(m_fd, head.data(), bytes, offset);
            if (got < 0) {
                throw PlatformError::fromErrno(readFailure(path), static_cast<int>(-got));
            }
            return got == static_cast<qint64>(bytes);
        };

        if (!readHead(0, 8) || getBig(head.data(), 4) != fourCc("caff") ||
            getBig(head.data() + 4, 2) != 1) {
            throw notATrackFile(path, notCaf);
        }
        // Chunks may come in any order and with others between them; only a data chunk of
        // unknown size must be the last, as it runs to the end of the file.
        bool described = false;
        bool foundData = false;
        qint64 dataBytes = 0;
        qint64 offset = 8;
        while (readHead(offset, 12)) {
            const std::uint32_t type = static_cast<std::uint32_t>(getBig(head.data(), 4));
            const auto size = static_cast<std::int64_t>(getBig(head.data() + 4, 8));
            const qint64 body = offset + 12;
            if (type == fourCc("desc")) {
                std::array<unsigned char, kDescSize> desc{};
                if (described || size < kDescSize ||
                    readAll(m_fd, desc.data(), desc.size(), body) != kDescSize) {
                    throw notATrackFile(path, notCaf);
                }
                const double rate = std::bit_cast<double>(getBig(desc.data(), 8));
                const auto flags = static_cast<std::uint32_t>(getBig(desc.data() + 12, 4));
                if (rate != kWorkingSampleRate || getBig(desc.data() + 8, 4) != kFormatLinearPcm ||
                    (flags & kFlagIsFloat) == 0 ||
                    getBig(desc.data() + 16, 4) != static_cast<std::uint64_t>(kBytesPerFrame) ||
                    getBig(desc.data() + 20, 4) != 1 || getBig(desc.data() + 24, 4) != 2 ||
                    getBig(desc.data() + 28, 4) != 32) {
                    throw notATrackFile(path, wrongFormat);
                }
                m_bigEndian = (flags & kFlagIsLittleEndian) == 0;
                described = true;
            } else if (type == fourCc("data")) {
                if (foundData || (size != kUnknownSize && size < 4)) {
                    throw notATrackFile(path, notCaf);
                }
                foundData = true;
                m_dataOffset = body + 4; // after the edit count
                if (size == kUnknownSize) {
                    dataBytes = std::max<qint64>(fileSize - m_dataOffset, 0);
                    break;
                }
                m_complete = true;
                dataBytes = size - 4;
                if (size >= fileSize - body) {
                    break; // nothing follows; a chunk cut short by the file's end holds what is
                           // there
                }
                offset = body + size;
                continue;
            }
            if (size < 0 || size > fileSize) {
                throw notATrackFile(path, notCaf);
            }
            offset = body + size;
        }
        if (!described || !foundData) {
            throw notATrackFile(path, notCaf);
        }
        const qint64 present = std::max<qint64>(fileSize - m_dataOffset, 0);
        m_length = std::min(dataBytes, present) / kBytesPerFrame;
    } catch (...) {
        ::close(m_fd);
        throw;
    }
}

CafReader::~CafReader() {
    ::close(m_fd);
}

void CafReader::extendTo(qint64 frames) {
    if (!m_complete) {
        m_length = std::max(m_length, frames);
    }
}

qint64 CafReader::read(float* left, float* right, qint64 maxFrames) {
    constexpr qint64 kChunkFrames = 4096;
    qint64 done = 0;
    while (done < maxFrames && m_position < m_length) {
        const qint64 frames = std::min({maxFrames - done, m_length - m_position, kChunkFrames});
        const auto samples = static_cast<std::size_t>(frames) * 2;
        if (m_interleaved.size() < samples) {
            m_interleaved.resize(samples);
        }
        const qint64 got = readAll(m_fd, m_interleaved.data(), samples * sizeof(float),
                                   m_dataOffset + m_position * kBytesPerFrame);
        if (got < 0) {
            throw PlatformError::fromErrno(readFailure(m_path), static_cast<int>(-got));
        }
        const qint64 whole = got / kBytesPerFrame;
        const float* in = m_interleaved.data();
        for (qint64 i = 0; i < whole; ++i) {
            float l = *in++;
            float r = *in++;
            if (m_bigEndian) {
                l = std::bit_cast<float>(__builtin_bswap32(std::bit_cast<std::uint32_t>(l)));
                r = std::bit_cast<float>(__builtin_bswap32(std::bit_cast<std::uint32_t>(r)));
            }
            left[done + i] = l;
            right[done + i] = r;
        }
        done += whole;
        m_position += whole;
        if (whole < frames) {
            // The file became shorter since it was opened: what is there has been read.
            m_length = m_position;
            break;
        }
    }
    return done;
}

} // namespace kivo
