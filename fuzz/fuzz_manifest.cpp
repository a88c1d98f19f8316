// The recovery manifest decoder on arbitrary bytes. What it accepts is written again, as
// the finish's rewrite with the export does, and that text must read back and write to itself: a
// stored document does not change from one save to the next. (The first writing may normalise a
// hand-edited value, such as a URL read tolerantly.)

#include "FuzzCheck.h"

#include "domain/JsonValue.h"
#include "domain/RecoveryManifest.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    try {
        const QByteArray written = kivo::RecoveryManifest::decoded(bytes).encoded();
        kivo::fuzz::expect(kivo::RecoveryManifest::decoded(written).encoded() == written,
                           "a written manifest reads back to the same text");
    } catch (const kivo::JsonDecodingError&) {
        // Refused as documented.
    }
    return 0;
}
