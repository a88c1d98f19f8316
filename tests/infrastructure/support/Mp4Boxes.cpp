#include "Mp4Boxes.h"

#include <QFile>

namespace kivo::test {

namespace {

// Bytes before the first child box: full box fields and entry counts.
int childrenStart(const QByteArray& type) {
    static const QByteArray plain[] = {"moov", "trak", "edts", "mdia",
                                       "minf", "dinf", "stbl", "udta"};
    for (const QByteArray& container : plain) {
        if (type == container) {
            return 0;
        }
    }
    if (type == "stsd" || type == "dref") {
        return 8;
    }
    if (type == "mp4a") {
        return 28; // the audio sample entry's fields
    }
    return -1;
}

quint64 bigEndian(const QByteArray& bytes, qint64 at, int count) {
    quint64 value = 0;
    for (int i = 0; i < count; ++i) {
        value = (value << 8) | static_cast<quint8>(bytes[static_cast<qsizetype>(at + i)]);
    }
    return value;
}

QString readBoxes(const QByteArray& bytes, qint64 from, qint64 to, std::vector<Mp4Box>& boxes) {
    qint64 at = from;
    while (at < to) {
        if (to - at < 8) {
            return QStringLiteral("%1 stray bytes at %2").arg(to - at).arg(at);
        }
        Mp4Box box;
        box.offset = at;
        box.type = bytes.mid(static_cast<qsizetype>(at + 4), 4);
        box.size = static_cast<qint64>(bigEndian(bytes, at, 4));
        box.headerSize = 8;
        if (box.size == 1) {
            if (to - at < 16) {
                return QStringLiteral("a cut 64-bit size at %1").arg(at);
            }
            box.size = static_cast<qint64>(bigEndian(bytes, at + 8, 8));
            box.headerSize = 16;
        }
        if (box.size < box.headerSize || box.size > to - at) {
            return QStringLiteral("box %1 at %2 has size %3 with %4 bytes left")
                .arg(QString::fromLatin1(box.type))
                .arg(at)
                .arg(box.size)
                .arg(to - at);
        }
        box.payload = bytes.mid(static_cast<qsizetype>(at + box.headerSize),
                                static_cast<qsizetype>(box.size - box.headerSize));
        const int start = childrenStart(box.type);
        if (start >= 0) {
            const QString error =
                readBoxes(bytes, at + box.headerSize + start, at + box.size, box.children);
            if (!error.isEmpty()) {
                return error;
            }
        }
        boxes.push_back(std::move(box));
        at += boxes.back().size;
    }
    return {};
}

const Mp4Box* findIn(const std::vector<Mp4Box>& boxes, const QByteArray& path) {
    const qsizetype slash = path.indexOf('/');
    const QByteArray first = slash < 0 ? path : path.left(slash);
    for (const Mp4Box& box : boxes) {
        if (box.type == first) {
            return slash < 0 ? &box : box.find(path.mid(slash + 1));
        }
    }
    return nullptr;
}

} // namespace

const Mp4Box* Mp4Box::find(const QByteArray& path) const {
    return findIn(children, path);
}

const Mp4Box* Mp4File::find(const QByteArray& path) const {
    return findIn(boxes, path);
}

Mp4File readMp4Boxes(const QString& path) {
    Mp4File file;
    QFile input(path);
    if (!input.open(QIODevice::ReadOnly)) {
        file.error = input.errorString();
        return file;
    }
    const QByteArray bytes = input.readAll();
    file.size = bytes.size();
    file.error = readBoxes(bytes, 0, file.size, file.boxes);
    return file;
}

quint8 Mp4FieldReader::u8() {
    const QByteArray field = bytes(1);
    return field.size() == 1 ? static_cast<quint8>(field[0]) : 0;
}

quint16 Mp4FieldReader::u16() {
    const QByteArray field = bytes(2);
    return field.size() == 2 ? static_cast<quint16>(bigEndian(field, 0, 2)) : 0;
}

quint32 Mp4FieldReader::u24() {
    const QByteArray field = bytes(3);
    return field.size() == 3 ? static_cast<quint32>(bigEndian(field, 0, 3)) : 0;
}

quint32 Mp4FieldReader::u32() {
    const QByteArray field = bytes(4);
    return field.size() == 4 ? static_cast<quint32>(bigEndian(field, 0, 4)) : 0;
}

quint64 Mp4FieldReader::u64() {
    const QByteArray field = bytes(8);
    return field.size() == 8 ? bigEndian(field, 0, 8) : 0;
}

QByteArray Mp4FieldReader::bytes(qsizetype count) {
    if (count < 0 || count > left()) {
        m_ok = false;
        m_at = m_bytes.size();
        return {};
    }
    const QByteArray field = m_bytes.mid(m_at, count);
    m_at += count;
    return field;
}

void Mp4FieldReader::skip(qsizetype count) {
    bytes(count);
}

quint32 Mp4FieldReader::descriptor(quint8& tag) {
    tag = u8();
    quint32 length = 0;
    for (int i = 0; i < 4; ++i) {
        const quint8 byte = u8();
        length = (length << 7) | (byte & 0x7F);
        if ((byte & 0x80) == 0) {
            break;
        }
    }
    return length;
}

} // namespace kivo::test
