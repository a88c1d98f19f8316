#pragma once

// The boxes of an MPEG-4 file read byte by byte, trusting no media library, for tests that check
// the layout of the files Kivo writes, and a big-endian reader for the fields inside a box.

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <vector>

namespace kivo::test {

struct Mp4Box {
    QByteArray type;    // four characters
    qint64 offset = 0;  // of the box's first byte, from the start of the file
    qint64 size = 0;    // of the whole box, header included
    int headerSize = 0; // 8, or 16 for a box with a 64-bit size
    QByteArray payload; // everything after the header
    // The boxes inside, for the containers of an audio file (moov, trak, edts, mdia, minf,
    // dinf, stbl, udta, and the entries of stsd, dref and mp4a).
    std::vector<Mp4Box> children;

    // The first box down a path of types such as "mdia/minf/stbl/stsd/mp4a", or null.
    const Mp4Box* find(const QByteArray& path) const;
};

struct Mp4File {
    QString error; // empty when every box lies within its parent and the file
    qint64 size = 0;
    std::vector<Mp4Box> boxes; // the top level, in file order

    const Mp4Box* find(const QByteArray& path) const;
};

Mp4File readMp4Boxes(const QString& path);

// Reads big-endian fields one after another; reading past the end gives zeros and clears ok.
class Mp4FieldReader {
public:
    explicit Mp4FieldReader(const QByteArray& bytes)
        : m_bytes(bytes) {}

    quint8 u8();
    quint16 u16();
    quint32 u24();
    quint32 u32();
    quint64 u64();
    QByteArray bytes(qsizetype count);
    void skip(qsizetype count);
    // An object descriptor's header: its tag and its payload length (seven bits a byte).
    quint32 descriptor(quint8& tag);

    bool ok() const { return m_ok; }
    qsizetype left() const { return m_bytes.size() - m_at; }

private:
    QByteArray m_bytes;
    qsizetype m_at = 0;
    bool m_ok = true;
};

} // namespace kivo::test
