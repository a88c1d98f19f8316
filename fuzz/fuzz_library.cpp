// The library document decoder on arbitrary bytes. What it accepts is written again, as
// every save of the library does, and that text must read back and write to itself: a stored
// document does not change from one save to the next. (The first writing may normalise a
// hand-edited value, such as a URL read tolerantly.)

#include "FuzzCheck.h"

#include "domain/JsonValue.h"
#include "domain/KivoLibrary.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    try {
        const QByteArray written = kivo::KivoLibrary::decoded(bytes).encoded();
        kivo::fuzz::expect(kivo::KivoLibrary::decoded(written).encoded() == written,
                           "a written library reads back to the same text");
    } catch (const kivo::JsonDecodingError&) {
        // Refused as documented.
    }
    return 0;
}
