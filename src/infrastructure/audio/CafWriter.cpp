#include "infrastructure/audio/CafWriter.h"

#include "infrastructure/PlatformError.h"
#include "infrastructure/audio/CafFormat.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kivo {

using namespace CafFormat;

namespace {

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

} // namespace

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

} // namespace kivo
