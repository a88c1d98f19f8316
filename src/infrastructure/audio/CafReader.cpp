#include "infrastructure/audio/CafReader.h"

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

QString readFailure(const QString& path) {
    return QStringLiteral("無法讀取音軌檔 ") + path;
}

PlatformError notATrackFile(const QString& path, const QString& why) {
    return PlatformError(readFailure(path) + QStringLiteral("：") + why);
}

} // namespace

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
