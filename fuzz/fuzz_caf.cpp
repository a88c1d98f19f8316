// The track file reader on arbitrary bytes, handed over as a file in memory (memfd) that the
// reader opens by its /proc path like any other file. A file it accepts is read to its end; the
// frames read must be the length it announced.

#include "FuzzCheck.h"

#include "infrastructure/PlatformError.h"
#include "infrastructure/audio/CafReader.h"

#include <QString>

#include <array>
#include <cstddef>
#include <cstdint>

#include <sys/mman.h>
#include <unistd.h>

namespace {

int memoryFile() {
    static const int fd = ::memfd_create("fuzz.caf", MFD_CLOEXEC);
    kivo::fuzz::expect(fd >= 0, "a memory file can be made");
    return fd;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const int fd = memoryFile();
    kivo::fuzz::expect(::ftruncate(fd, 0) == 0 &&
                           ::pwrite(fd, data, size, 0) == static_cast<ssize_t>(size),
                       "the input is written to the memory file");
    static const QString path = QStringLiteral("/proc/self/fd/%1").arg(fd);
    try {
        kivo::CafReader reader(path);
        constexpr qint64 kFrames = 1000;
        std::array<float, kFrames> left{};
        std::array<float, kFrames> right{};
        qint64 total = 0;
        while (const qint64 got = reader.read(left.data(), right.data(), kFrames)) {
            kivo::fuzz::expect(got > 0 && got <= kFrames, "a read returns up to the frames asked");
            total += got;
        }
        kivo::fuzz::expect(total == reader.length() && reader.position() == total,
                           "the frames read are the announced length");
    } catch (const kivo::PlatformError&) {
        // Refused as documented.
    }
    return 0;
}
