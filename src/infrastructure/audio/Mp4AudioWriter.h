#pragma once

// An MPEG-4 audio file (.m4a) holding one AAC track, written as the encoder hands out its
// packets: they go straight into the media data box at the front of the file, and the movie box
// that indexes them follows once the audio is complete. Of each packet only its size (two bytes)
// stays in memory: an hour of 48 000 Hz AAC costs about a third of a megabyte.
//
// The file: 'ftyp' (M4A ), 'mdat', then 'moov' with one sound track whose edit list presents
// the decoded samples that belong to the audio, skipping the encoder's delay.

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <cstdint>
#include <vector>

namespace kivo {

class Mp4AudioWriter {
public:
    // The most chapters a chapter list holds.
    static constexpr std::size_t kMostListedChapters = 255;

    // What the sample description says about the AAC stream.
    struct Stream {
        int sampleRate = 0;             // Hz, below 65 536; also the movie's and media's time scale
        int channels = 0;               // 1…8
        QByteArray audioSpecificConfig; // the encoder's AudioSpecificConfig (its extradata)
    };

    // Creates (or truncates) the file at `path` and writes the file type and the start of the
    // media data. `expectedPackets` sizes the packet table up front and, when that many AAC
    // packets could pass 4 GiB, gives the media data box a 64-bit size. Throws PlatformError.
    Mp4AudioWriter(const QString& path, Stream stream, qint64 expectedPackets);
    // Closes the file. One that was not finished stays incomplete, for the caller to remove.
    ~Mp4AudioWriter() = default;

    Mp4AudioWriter(const Mp4AudioWriter&) = delete;
    Mp4AudioWriter& operator=(const Mp4AudioWriter&) = delete;

    // Appends one AAC packet of `size` bytes (below 65 536) that decodes to `duration` samples.
    // Throws PlatformError, also when the media data would outgrow its 32-bit size.
    void writePacket(const std::uint8_t* data, int size, qint64 duration);

    // A chapter: where it begins in the presented audio, in samples, and its title.
    struct Chapter {
        qint64 start = 0;
        QString title;
    };

    // Writes the movie box and closes the file. The edit list presents `presentedSamples`
    // samples from `skippedSamples` into the decoded packets on; with no presented samples the
    // track has no edit list. `chapters` (in time order) go into a chapter list of the movie's
    // user data ('chpl', at most kMostListedChapters), or beyond that into a chapter track;
    // players and FFmpeg read either as the file's chapters. Nothing may be written afterwards.
    // Throws PlatformError.
    void finish(qint64 skippedSamples, qint64 presentedSamples,
                const std::vector<Chapter>& chapters = {});

    // Packets appended so far.
    qint64 packetCount() const { return static_cast<qint64>(m_sizes.size()); }

private:
    // A run of consecutive packets that decode to the same number of samples.
    struct DurationRun {
        std::uint32_t count = 0;
        std::uint32_t samples = 0;
    };

    [[noreturn]] void failWriting(int errnum) const;
    [[noreturn]] void failFinishing(int errnum) const;

    // Buffered output. Each put() keeps its bytes together in the buffer, so a size written at
    // a box's start can be patched in place later.
    void reserve(std::size_t bytes);
    void flush();
    void put8(std::uint8_t value);
    void put16(std::uint16_t value);
    void put24(std::uint32_t value);
    void put32(std::uint32_t value);
    void put64(std::uint64_t value);
    void putType(const char (&type)[5]);
    void putBytes(const void* data, std::size_t size);
    void putZeros(std::size_t count);
    void putMatrix();
    void putDescriptorHeader(std::uint8_t tag, std::uint32_t length);
    // The position the next byte goes to, from the start of the file.
    qint64 position() const { return m_bufferOffset + static_cast<qint64>(m_buffer.size()); }
    void patch(qint64 at, const std::uint8_t* bytes, std::size_t size);

    void beginBox(const char (&type)[5]);
    void beginFullBox(const char (&type)[5], std::uint8_t version, std::uint32_t flags);
    void endBox();

    void writeMovie(qint64 skippedSamples, qint64 presentedSamples,
                    const std::vector<Chapter>& chapters);
    void writeChapterList(const std::vector<Chapter>& chapters);
    void writeChapterTrack(const std::vector<Chapter>& chapters, qint64 movieDuration,
                           std::uint64_t created);
    void writeSampleDescription();
    void writeSampleTables();

    // Closes the file it holds when it goes, also when the constructor throws.
    struct FileDescriptor {
        int fd = -1;
        FileDescriptor() = default;
        FileDescriptor(const FileDescriptor&) = delete;
        FileDescriptor& operator=(const FileDescriptor&) = delete;
        ~FileDescriptor();
    };

    QString m_path;
    Stream m_stream;
    FileDescriptor m_file;
    std::vector<std::uint8_t> m_buffer; // bytes not yet written, from m_bufferOffset on
    qint64 m_bufferOffset = 0;
    std::vector<qint64> m_openBoxes; // file positions of the boxes being written

    qint64 m_mediaDataBox = 0; // position of the 'mdat' header
    bool m_largeMediaData = false;
    qint64 m_mediaDataStart = 0; // position of the first packet
    qint64 m_mediaDataBytes = 0;
    std::vector<std::uint16_t> m_sizes; // bytes of each packet, in file order
    std::vector<DurationRun> m_durations;
    qint64 m_mediaDuration = 0; // samples in all packets
    int m_largestPacket = 0;    // bytes
    bool m_finished = false;
    // A chapter track's titles: where they begin in the file and the size of each.
    qint64 m_chapterData = 0;
    std::vector<std::uint32_t> m_chapterSizes;
};

} // namespace kivo
