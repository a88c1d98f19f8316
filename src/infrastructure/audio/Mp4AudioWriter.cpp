#include "infrastructure/audio/Mp4AudioWriter.h"

#include "domain/Text.h"

#include "infrastructure/PlatformError.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

namespace kivo {

namespace {

constexpr std::size_t kBufferBytes = 64 * 1024;
// About one second of 1024-sample packets at 48 000 Hz in each chunk: few chunk offsets to
// store, and chunks small enough for any player's reading pattern.
constexpr std::uint32_t kPacketsPerChunk = 48;
// An AAC raw data block holds at most 6144 bits per channel.
constexpr qint64 kLargestAacBytesPerChannel = 6144 / 8;
constexpr qint64 kLargest32BitBox = std::numeric_limits<std::uint32_t>::max();
// The size of a box header with a 32-bit size, and with a 64-bit one.
constexpr qint64 kBoxHeader = 8;
constexpr qint64 kLargeBoxHeader = 16;
// Seconds from 1904-01-01, where MPEG-4 times start, to 1970-01-01.
constexpr std::uint64_t kSecondsFrom1904To1970 = 2082844800;
// ISO 639-2 "und", five bits a letter.
constexpr std::uint16_t kUndeterminedLanguage =
    ((('u' - 0x60) << 10) | (('n' - 0x60) << 5) | ('d' - 0x60));

constexpr std::uint8_t kEsDescriptorTag = 0x03;
constexpr std::uint8_t kDecoderConfigTag = 0x04;
constexpr std::uint8_t kDecoderSpecificInfoTag = 0x05;
constexpr std::uint8_t kSlConfigTag = 0x06;
constexpr std::uint8_t kAudioIso14496Part3 = 0x40; // objectTypeIndication
constexpr std::uint8_t kAudioStream = 0x05;        // streamType

bool fits32(qint64 value) {
    return value >= 0 && value <= kLargest32BitBox;
}

// Bytes the length of an object descriptor takes: seven bits a byte.
std::uint32_t descriptorLengthBytes(std::uint32_t length) {
    std::uint32_t bytes = 1;
    while (length >= 0x80) {
        length >>= 7;
        ++bytes;
    }
    return bytes;
}

std::uint32_t descriptorBytes(std::uint32_t payload) {
    return 1 + descriptorLengthBytes(payload) + payload;
}

} // namespace

Mp4AudioWriter::Mp4AudioWriter(const QString& path, Stream stream, qint64 expectedPackets)
    : m_path(path)
    , m_stream(std::move(stream)) {
    Q_ASSERT(m_stream.sampleRate > 0 && m_stream.sampleRate < 65536);
    Q_ASSERT(m_stream.channels >= 1 && m_stream.channels <= 8);
    m_buffer.reserve(kBufferBytes);
    // Reserved once, so the table never holds two copies of itself while it grows. An hour of
    // 1024-sample packets at 48 000 Hz is 168 750 of them; the cap is about a day's worth.
    const qint64 expected = std::clamp<qint64>(expectedPackets, 0, qint64{1} << 40);
    m_sizes.reserve(static_cast<std::size_t>(std::min<qint64>(expected, qint64{1} << 22)));
    const QByteArray name = QFile::encodeName(path);
    m_file.fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (m_file.fd < 0) {
        throw PlatformError::fromErrno(QStringLiteral("無法建立音檔 %1").arg(path), errno);
    }

    beginBox("ftyp");
    putType("M4A ");
    put32(0);
    putType("M4A ");
    putType("mp42");
    putType("isom");
    endBox();

    // A 32-bit size covers about 16 hours of AAC even at its largest packets; past that the
    // media data box gets a 64-bit size from the start.
    const qint64 mostBytes = expected * kLargestAacBytesPerChannel * m_stream.channels;
    m_largeMediaData = mostBytes > kLargest32BitBox - kLargeBoxHeader;
    m_mediaDataBox = position();
    if (m_largeMediaData) {
        put32(1);
        putType("mdat");
        put64(0);
    } else {
        put32(0);
        putType("mdat");
    }
    m_mediaDataStart = position();
}

Mp4AudioWriter::FileDescriptor::~FileDescriptor() {
    if (fd >= 0) {
        ::close(fd);
    }
}

void Mp4AudioWriter::failWriting(int errnum) const {
    throw PlatformError::fromErrno(QStringLiteral("無法寫入音檔 %1").arg(m_path), errnum);
}

void Mp4AudioWriter::failFinishing(int errnum) const {
    throw PlatformError::fromErrno(QStringLiteral("無法完成音檔 %1").arg(m_path), errnum);
}

void Mp4AudioWriter::writePacket(const std::uint8_t* data, int size, qint64 duration) {
    Q_ASSERT(!m_finished);
    Q_ASSERT(duration > 0 && duration <= std::numeric_limits<std::uint32_t>::max());
    if (size < 0 || size > std::numeric_limits<std::uint16_t>::max()) {
        // No AAC packet comes near this; the size table has two bytes a packet.
        failWriting(EOVERFLOW);
    }
    const qint64 header = m_largeMediaData ? kLargeBoxHeader : kBoxHeader;
    if (!m_largeMediaData && !fits32(header + m_mediaDataBytes + size)) {
        failWriting(EFBIG);
    }
    putBytes(data, static_cast<std::size_t>(size));
    m_mediaDataBytes += size;
    m_sizes.push_back(static_cast<std::uint16_t>(size));
    m_largestPacket = std::max(m_largestPacket, size);
    const auto samples = static_cast<std::uint32_t>(duration);
    if (m_durations.empty() || m_durations.back().samples != samples) {
        m_durations.push_back({0, samples});
    }
    ++m_durations.back().count;
    m_mediaDuration += duration;
}

void Mp4AudioWriter::finish(qint64 skippedSamples, qint64 presentedSamples,
                            const std::vector<Chapter>& chapters) {
    Q_ASSERT(!m_finished);
    Q_ASSERT(skippedSamples >= 0 && presentedSamples >= 0);
    m_finished = true;

    // More chapters than a chapter list holds, or a title longer than its 255 bytes (80
    // characters of emoji sequences can be), go into a chapter track, whose titles are samples
    // of a media data box of their own after the audio's.
    const bool longTitle = std::any_of(chapters.begin(), chapters.end(), [](const Chapter& c) {
        return c.title.toUtf8().size() > 255;
    });
    if (chapters.size() > kMostListedChapters || longTitle) {
        beginBox("mdat");
        m_chapterData = position();
        for (const Chapter& chapter : chapters) {
            const QByteArray title = firstCharactersWithinBytes(chapter.title, 0xFFFF).toUtf8();
            put16(static_cast<std::uint16_t>(title.size()));
            putBytes(title.constData(), static_cast<std::size_t>(title.size()));
            m_chapterSizes.push_back(static_cast<std::uint32_t>(2 + title.size()));
        }
        endBox();
    }
    writeMovie(skippedSamples, presentedSamples, chapters);
    flush();

    std::uint8_t size[8];
    const qint64 boxBytes = (m_largeMediaData ? kLargeBoxHeader : kBoxHeader) + m_mediaDataBytes;
    for (int i = 0; i < 8; ++i) {
        size[i] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(boxBytes) >> (56 - 8 * i));
    }
    if (m_largeMediaData) {
        patch(m_mediaDataBox + kBoxHeader, size, 8);
    } else {
        patch(m_mediaDataBox, size + 4, 4);
    }

    const int fd = m_file.fd;
    m_file.fd = -1;
    if (::close(fd) != 0 && errno != EINTR) {
        failFinishing(errno);
    }
}

void Mp4AudioWriter::reserve(std::size_t bytes) {
    if (m_buffer.size() + bytes > kBufferBytes) {
        flush();
    }
}

void Mp4AudioWriter::flush() {
    const std::uint8_t* data = m_buffer.data();
    std::size_t left = m_buffer.size();
    while (left > 0) {
        const ssize_t written = ::write(m_file.fd, data, left);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            failWriting(errno);
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    m_bufferOffset += static_cast<qint64>(m_buffer.size());
    m_buffer.clear();
}

void Mp4AudioWriter::patch(qint64 at, const std::uint8_t* bytes, std::size_t size) {
    if (at >= m_bufferOffset) {
        std::memcpy(m_buffer.data() + (at - m_bufferOffset), bytes, size);
        return;
    }
    while (size > 0) {
        const ssize_t written = ::pwrite(m_file.fd, bytes, size, static_cast<off_t>(at));
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            failFinishing(errno);
        }
        bytes += written;
        at += written;
        size -= static_cast<std::size_t>(written);
    }
}

void Mp4AudioWriter::put8(std::uint8_t value) {
    reserve(1);
    m_buffer.push_back(value);
}

void Mp4AudioWriter::put16(std::uint16_t value) {
    reserve(2);
    m_buffer.push_back(static_cast<std::uint8_t>(value >> 8));
    m_buffer.push_back(static_cast<std::uint8_t>(value));
}

void Mp4AudioWriter::put24(std::uint32_t value) {
    reserve(3);
    m_buffer.push_back(static_cast<std::uint8_t>(value >> 16));
    m_buffer.push_back(static_cast<std::uint8_t>(value >> 8));
    m_buffer.push_back(static_cast<std::uint8_t>(value));
}

void Mp4AudioWriter::put32(std::uint32_t value) {
    reserve(4);
    for (int shift = 24; shift >= 0; shift -= 8) {
        m_buffer.push_back(static_cast<std::uint8_t>(value >> shift));
    }
}

void Mp4AudioWriter::put64(std::uint64_t value) {
    reserve(8);
    for (int shift = 56; shift >= 0; shift -= 8) {
        m_buffer.push_back(static_cast<std::uint8_t>(value >> shift));
    }
}

void Mp4AudioWriter::putType(const char (&type)[5]) {
    putBytes(type, 4);
}

void Mp4AudioWriter::putBytes(const void* data, std::size_t size) {
    if (size > kBufferBytes) {
        flush();
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        m_buffer.assign(bytes, bytes + size);
        flush();
        return;
    }
    reserve(size);
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    m_buffer.insert(m_buffer.end(), bytes, bytes + size);
}

void Mp4AudioWriter::putZeros(std::size_t count) {
    reserve(count);
    m_buffer.insert(m_buffer.end(), count, 0);
}

void Mp4AudioWriter::putMatrix() {
    // The identity: 16.16 fixed point, and 2.30 in the last column.
    const std::uint32_t matrix[9] = {0x00010000, 0, 0, 0, 0x00010000, 0, 0, 0, 0x40000000};
    for (const std::uint32_t value : matrix) {
        put32(value);
    }
}

void Mp4AudioWriter::putDescriptorHeader(std::uint8_t tag, std::uint32_t length) {
    put8(tag);
    for (std::uint32_t bytes = descriptorLengthBytes(length); bytes > 1; --bytes) {
        put8(static_cast<std::uint8_t>(0x80 | ((length >> (7 * (bytes - 1))) & 0x7F)));
    }
    put8(static_cast<std::uint8_t>(length & 0x7F));
}

void Mp4AudioWriter::beginBox(const char (&type)[5]) {
    reserve(8);
    m_openBoxes.push_back(position());
    put32(0); // the size, once the box is complete
    putType(type);
}

void Mp4AudioWriter::beginFullBox(const char (&type)[5], std::uint8_t version,
                                  std::uint32_t flags) {
    beginBox(type);
    put32((std::uint32_t{version} << 24) | (flags & 0xFFFFFF));
}

void Mp4AudioWriter::endBox() {
    Q_ASSERT(!m_openBoxes.empty());
    const qint64 start = m_openBoxes.back();
    m_openBoxes.pop_back();
    const auto size = static_cast<std::uint32_t>(position() - start);
    const std::uint8_t bytes[4] = {
        static_cast<std::uint8_t>(size >> 24), static_cast<std::uint8_t>(size >> 16),
        static_cast<std::uint8_t>(size >> 8), static_cast<std::uint8_t>(size)};
    patch(start, bytes, 4);
}

void Mp4AudioWriter::writeMovie(qint64 skippedSamples, qint64 presentedSamples,
                                const std::vector<Chapter>& chapters) {
    const auto now =
        static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::seconds>(
                                       std::chrono::system_clock::now().time_since_epoch())
                                       .count());
    const std::uint64_t created = now + kSecondsFrom1904To1970;
    const bool edited = presentedSamples > 0;
    // The movie's time scale is the sample rate too, so its length is exact to the sample.
    const qint64 movieDuration = edited ? presentedSamples : m_mediaDuration;
    const auto rate = static_cast<std::uint32_t>(m_stream.sampleRate);
    const bool createdFits = created <= kLargest32BitBox;

    beginBox("moov");

    const std::uint8_t movieVersion = createdFits && fits32(movieDuration) ? 0 : 1;
    beginFullBox("mvhd", movieVersion, 0);
    if (movieVersion == 1) {
        put64(created);
        put64(created);
        put32(rate);
        put64(static_cast<std::uint64_t>(movieDuration));
    } else {
        put32(static_cast<std::uint32_t>(created));
        put32(static_cast<std::uint32_t>(created));
        put32(rate);
        put32(static_cast<std::uint32_t>(movieDuration));
    }
    put32(0x00010000); // rate 1.0
    put16(0x0100);     // volume 1.0
    putZeros(2 + 8);
    putMatrix();
    putZeros(6 * 4);
    const bool chapterTrack = !m_chapterSizes.empty();
    put32(chapterTrack ? 3 : 2); // next track ID
    endBox();

    beginBox("trak");

    // Enabled, in the movie, in the preview.
    beginFullBox("tkhd", movieVersion, 0x000007);
    if (movieVersion == 1) {
        put64(created);
        put64(created);
        put32(1); // track ID
        put32(0);
        put64(static_cast<std::uint64_t>(movieDuration));
    } else {
        put32(static_cast<std::uint32_t>(created));
        put32(static_cast<std::uint32_t>(created));
        put32(1); // track ID
        put32(0);
        put32(static_cast<std::uint32_t>(movieDuration));
    }
    putZeros(8);
    put16(0);      // layer
    put16(0);      // alternate group
    put16(0x0100); // volume 1.0
    put16(0);
    putMatrix();
    put32(0); // width
    put32(0); // height
    endBox();

    if (chapterTrack) {
        beginBox("tref");
        beginBox("chap");
        put32(2); // the chapter track
        endBox();
        endBox();
    }

    if (edited) {
        beginBox("edts");
        const bool editFits =
            fits32(presentedSamples) && skippedSamples <= std::numeric_limits<std::int32_t>::max();
        beginFullBox("elst", editFits ? 0 : 1, 0);
        put32(1); // one edit
        if (editFits) {
            put32(static_cast<std::uint32_t>(presentedSamples));
            put32(static_cast<std::uint32_t>(skippedSamples));
        } else {
            put64(static_cast<std::uint64_t>(presentedSamples));
            put64(static_cast<std::uint64_t>(skippedSamples));
        }
        put16(1); // rate 1.0
        put16(0);
        endBox();
        endBox();
    }

    beginBox("mdia");

    const std::uint8_t mediaVersion = createdFits && fits32(m_mediaDuration) ? 0 : 1;
    beginFullBox("mdhd", mediaVersion, 0);
    if (mediaVersion == 1) {
        put64(created);
        put64(created);
        put32(rate);
        put64(static_cast<std::uint64_t>(m_mediaDuration));
    } else {
        put32(static_cast<std::uint32_t>(created));
        put32(static_cast<std::uint32_t>(created));
        put32(rate);
        put32(static_cast<std::uint32_t>(m_mediaDuration));
    }
    put16(kUndeterminedLanguage);
    put16(0);
    endBox();

    beginFullBox("hdlr", 0, 0);
    put32(0);
    putType("soun");
    putZeros(3 * 4);
    putBytes("SoundHandler", 13); // with its terminating zero
    endBox();

    beginBox("minf");

    beginFullBox("smhd", 0, 0);
    put16(0); // balance: centre
    put16(0);
    endBox();

    beginBox("dinf");
    beginFullBox("dref", 0, 0);
    put32(1);
    beginFullBox("url ", 0, 0x000001); // the media data is in this file
    endBox();
    endBox();
    endBox();

    beginBox("stbl");
    writeSampleDescription();
    writeSampleTables();
    endBox();

    endBox(); // minf
    endBox(); // mdia
    endBox(); // trak
    if (chapterTrack) {
        writeChapterTrack(chapters, movieDuration, created);
    } else if (!chapters.empty()) {
        beginBox("udta");
        writeChapterList(chapters);
        endBox();
    }
    endBox(); // moov
    Q_ASSERT(m_openBoxes.empty());
}

// The chapter track (track 2, disabled, referred to by the sound track's 'chap'): a text sample
// per chapter, lasting until the next one begins, on the sample rate's time scale like the
// movie; an empty edit puts the first chapter at its start.
void Mp4AudioWriter::writeChapterTrack(const std::vector<Chapter>& chapters, qint64 movieDuration,
                                       std::uint64_t created) {
    const qint64 first = std::clamp<qint64>(chapters.front().start, 0, movieDuration);
    const auto rate = static_cast<std::uint32_t>(m_stream.sampleRate);
    beginBox("trak");
    beginFullBox("tkhd", 1, 0);
    put64(created);
    put64(created);
    put32(2); // track ID
    put32(0);
    put64(static_cast<std::uint64_t>(movieDuration));
    putZeros(8);
    putZeros(4 * 2); // layer, alternate group, volume, reserved
    putMatrix();
    putZeros(8); // width, height
    endBox();
    if (first > 0) {
        beginBox("edts");
        beginFullBox("elst", 1, 0);
        put32(2);
        put64(static_cast<std::uint64_t>(first)); // nothing until the first chapter
        put64(~std::uint64_t(0));                 // media time −1: empty
        put32(0x00010000);
        put64(static_cast<std::uint64_t>(movieDuration - first));
        put64(0);
        put32(0x00010000);
        endBox();
        endBox();
    }
    beginBox("mdia");
    beginFullBox("mdhd", 1, 0);
    put64(created);
    put64(created);
    put32(rate);
    put64(static_cast<std::uint64_t>(movieDuration - first));
    put16(kUndeterminedLanguage);
    put16(0);
    endBox();
    beginFullBox("hdlr", 0, 0);
    put32(0);
    putType("text");
    putZeros(3 * 4);
    putBytes("Chapters", 9);
    endBox();
    beginBox("minf");
    beginFullBox("nmhd", 0, 0);
    endBox();
    beginBox("dinf");
    beginFullBox("dref", 0, 0);
    put32(1);
    beginFullBox("url ", 0, 0x000001);
    endBox();
    endBox();
    endBox();
    beginBox("stbl");
    beginFullBox("stsd", 0, 0);
    put32(1);
    beginBox("text");
    putZeros(6);
    put16(1);        // data reference
    putZeros(4 + 4); // display flags, justification
    putZeros(6);     // background colour
    putZeros(8 + 8); // default text box, reserved
    putZeros(2 + 2); // font number, face
    putZeros(1 + 2); // reserved
    putZeros(6);     // foreground colour
    put8(0);         // no font name
    endBox();
    endBox();
    beginFullBox("stts", 0, 0);
    put32(static_cast<std::uint32_t>(chapters.size()));
    for (std::size_t i = 0; i < chapters.size(); ++i) {
        const qint64 start = std::clamp<qint64>(chapters[i].start, first, movieDuration);
        const qint64 end = i + 1 < chapters.size()
                               ? std::clamp<qint64>(chapters[i + 1].start, start, movieDuration)
                               : movieDuration;
        put32(1);
        put32(static_cast<std::uint32_t>(end - start));
    }
    endBox();
    beginFullBox("stsc", 0, 0);
    put32(1);
    put32(1); // from the first chunk on
    put32(static_cast<std::uint32_t>(chapters.size()));
    put32(1);
    endBox();
    beginFullBox("stsz", 0, 0);
    put32(0);
    put32(static_cast<std::uint32_t>(m_chapterSizes.size()));
    for (const std::uint32_t size : m_chapterSizes) {
        put32(size);
    }
    endBox();
    beginFullBox("co64", 0, 0);
    put32(1);
    put64(static_cast<std::uint64_t>(m_chapterData));
    endBox();
    endBox(); // stbl
    endBox(); // minf
    endBox(); // mdia
    endBox(); // trak
}

// The chapter list of the movie's user data ('chpl'): a count of one byte, then each chapter's
// start in units of 100 ns and its title as UTF-8 of at most 255 bytes. A list holds at most 255
// chapters.
void Mp4AudioWriter::writeChapterList(const std::vector<Chapter>& chapters) {
    const std::size_t count = std::min(chapters.size(), kMostListedChapters);
    beginFullBox("chpl", 1, 0);
    put32(0); // reserved
    put8(static_cast<std::uint8_t>(count));
    for (std::size_t i = 0; i < count; ++i) {
        const Chapter& chapter = chapters[i];
        const QByteArray title = firstCharactersWithinBytes(chapter.title, 255).toUtf8();
        put64(static_cast<std::uint64_t>(
            std::llround(static_cast<double>(chapter.start) * 1e7 / m_stream.sampleRate)));
        put8(static_cast<std::uint8_t>(title.size()));
        putBytes(title.constData(), static_cast<std::size_t>(title.size()));
    }
    endBox();
}

void Mp4AudioWriter::writeSampleDescription() {
    // The bit rates of the data actually written: its average, and its most in any second.
    const qint64 bits = m_mediaDataBytes * 8;
    const qint64 averageBitRate =
        m_mediaDuration > 0 ? (bits * m_stream.sampleRate + m_mediaDuration / 2) / m_mediaDuration
                            : 0;
    qint64 mostBitsInASecond = 0;
    if (!m_durations.empty()) {
        const qint64 packetSamples = m_durations.front().samples;
        const auto window = static_cast<std::size_t>(
            std::max<qint64>(1, (m_stream.sampleRate + packetSamples - 1) / packetSamples));
        qint64 windowBytes = 0;
        for (std::size_t i = 0; i < m_sizes.size(); ++i) {
            windowBytes += m_sizes[i];
            if (i >= window) {
                windowBytes -= m_sizes[i - window];
            }
            mostBitsInASecond = std::max(mostBitsInASecond, windowBytes * 8);
        }
    }
    const qint64 maximumBitRate = std::max(averageBitRate, mostBitsInASecond);
    const auto toField = [](qint64 value) {
        return static_cast<std::uint32_t>(std::min(value, kLargest32BitBox));
    };

    const auto config = static_cast<std::uint32_t>(m_stream.audioSpecificConfig.size());
    const std::uint32_t decoderConfig = 13 + descriptorBytes(config);
    const std::uint32_t esDescriptor = 3 + descriptorBytes(decoderConfig) + descriptorBytes(1);

    beginFullBox("stsd", 0, 0);
    put32(1);
    beginBox("mp4a");
    putZeros(6);
    put16(1); // data reference index
    putZeros(8);
    put16(static_cast<std::uint16_t>(m_stream.channels));
    put16(16); // sample size
    put16(0);
    put16(0);
    put32(static_cast<std::uint32_t>(m_stream.sampleRate) << 16);

    beginFullBox("esds", 0, 0);
    putDescriptorHeader(kEsDescriptorTag, esDescriptor);
    put16(0); // ES_ID, 0 in a file
    put8(0);  // no dependence, no URL, no OCR stream, priority 0
    putDescriptorHeader(kDecoderConfigTag, decoderConfig);
    put8(kAudioIso14496Part3);
    put8(static_cast<std::uint8_t>((kAudioStream << 2) | 0x01)); // not upstream, reserved bit
    put24(static_cast<std::uint32_t>(m_largestPacket));          // decoding buffer size
    put32(toField(maximumBitRate));
    put32(toField(averageBitRate));
    putDescriptorHeader(kDecoderSpecificInfoTag, config);
    putBytes(m_stream.audioSpecificConfig.constData(), config);
    putDescriptorHeader(kSlConfigTag, 1);
    put8(2); // the predefined configuration for MPEG-4 files
    endBox();

    endBox(); // mp4a
    endBox(); // stsd
}

void Mp4AudioWriter::writeSampleTables() {
    const auto packets = static_cast<std::uint32_t>(m_sizes.size());

    beginFullBox("stts", 0, 0);
    put32(static_cast<std::uint32_t>(m_durations.size()));
    for (const DurationRun& run : m_durations) {
        put32(run.count);
        put32(run.samples);
    }
    endBox();

    // Every chunk holds kPacketsPerChunk packets but the last, which may hold fewer.
    const std::uint32_t fullChunks = packets / kPacketsPerChunk;
    const std::uint32_t rest = packets % kPacketsPerChunk;
    beginFullBox("stsc", 0, 0);
    put32((fullChunks > 0 ? 1 : 0) + (rest > 0 ? 1 : 0));
    if (fullChunks > 0) {
        put32(1); // first chunk
        put32(kPacketsPerChunk);
        put32(1); // sample description index
    }
    if (rest > 0) {
        put32(fullChunks + 1);
        put32(rest);
        put32(1);
    }
    endBox();

    beginFullBox("stsz", 0, 0);
    put32(0); // sizes differ
    put32(packets);
    for (const std::uint16_t size : m_sizes) {
        put32(size);
    }
    endBox();

    const std::uint32_t chunks = fullChunks + (rest > 0 ? 1 : 0);
    // 64-bit chunk offsets only where the media data reaches past 4 GiB.
    const bool wide = !fits32(m_mediaDataStart + m_mediaDataBytes);
    if (wide) {
        beginFullBox("co64", 0, 0);
    } else {
        beginFullBox("stco", 0, 0);
    }
    put32(chunks);
    qint64 offset = m_mediaDataStart;
    for (std::uint32_t packet = 0; packet < packets; ++packet) {
        if (packet % kPacketsPerChunk == 0) {
            if (wide) {
                put64(static_cast<std::uint64_t>(offset));
            } else {
                put32(static_cast<std::uint32_t>(offset));
            }
        }
        offset += m_sizes[packet];
    }
    endBox();
}

} // namespace kivo
