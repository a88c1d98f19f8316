#include "infrastructure/audio/WavFileWriter.h"

#include "infrastructure/PlatformError.h"
#include "infrastructure/audio/PcmBuffer.h"

#include <QFile>

#include <sndfile.h>

#include <algorithm>

namespace kivo {

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
    info.format = (fitsRiff ? SF_FORMAT_WAV : SF_FORMAT_RF64) | SF_ENDIAN_LITTLE |
                  (bitDepth == kHighBitDepth ? SF_FORMAT_PCM_24 : SF_FORMAT_PCM_16);
    m_file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (m_file == nullptr) {
        throw PlatformError(QStringLiteral("無法建立音檔 %1：%2").arg(path, sndfileText(nullptr)));
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
        throw PlatformError(QStringLiteral("無法寫入音檔 %1：%2").arg(m_path, sndfileText(m_file)));
    }
}

void WavFileWriter::finish() {
    Q_ASSERT(m_file != nullptr);
    SNDFILE* file = m_file;
    m_file = nullptr;
    const int result = sf_close(file);
    if (result != SF_ERR_NO_ERROR) {
        throw PlatformError(QStringLiteral("無法完成音檔 %1：%2")
                                .arg(m_path, QString::fromLocal8Bit(sf_error_number(result))));
    }
}

} // namespace kivo
