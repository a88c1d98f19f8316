#pragma once

// Track files: Core Audio Format (CAF) files of 48 000 Hz, 2-channel, 32-bit float audio,
// interleaved and little-endian, written and read by Kivo itself.
//
// While a file is written its data chunk has the size "unknown" (-1), which CAF allows for the
// last chunk, so the file is valid after every append; close() writes the real size. A program
// that is killed leaves a file with an unknown-size data chunk holding every frame appended, and
// CafReader takes its length from the file size. Other programs (libsndfile 1.2 in particular)
// read closed files only.
//
// The layout that CafWriter writes and CafReader reads, shared by the two.

#include "infrastructure/AudioUnits.h"

#include <QtGlobal>

#include <array>
#include <bit>
#include <cstdint>

namespace kivo::CafFormat {

static_assert(std::endian::native == std::endian::little,
              "track samples are written in the machine's byte order, which must be little-endian");

// Header of a track file: the file header, the audio description, the channel layout and the
// head of the data chunk with its edit count. Header fields are big-endian; samples follow in
// the byte order that the description names (little-endian).
inline constexpr qint64 kDescChunk = 8;
inline constexpr qint64 kDescSize = 32;
inline constexpr qint64 kChanChunk = kDescChunk + 12 + kDescSize;
inline constexpr qint64 kChanSize = 12;
inline constexpr qint64 kDataChunk = kChanChunk + 12 + kChanSize;
inline constexpr qint64 kDataSizeField = kDataChunk + 4;
inline constexpr qint64 kAudioOffset = kDataChunk + 12 + 4;
inline constexpr qint64 kBytesPerFrame = 2 * static_cast<qint64>(sizeof(float));

inline constexpr std::uint32_t kFormatLinearPcm = 0x6C70636D; // 'lpcm'
inline constexpr std::uint32_t kFlagIsFloat = 1;
inline constexpr std::uint32_t kFlagIsLittleEndian = 2;
inline constexpr std::uint32_t kChannelLayoutStereo = (101u << 16) | 2u;
inline constexpr std::int64_t kUnknownSize = -1;

inline std::uint32_t fourCc(const char (&code)[5]) {
    return (static_cast<std::uint32_t>(static_cast<unsigned char>(code[0])) << 24) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(code[1])) << 16) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(code[2])) << 8) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(code[3]));
}

inline void putBig(unsigned char* out, std::uint64_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) {
        out[i] = static_cast<unsigned char>(value & 0xFF);
        value >>= 8;
    }
}

inline std::uint64_t getBig(const unsigned char* in, int bytes) {
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) {
        value = (value << 8) | in[i];
    }
    return value;
}

} // namespace kivo::CafFormat
