#pragma once

// What the fuzz targets share: a failed expectation about a decoded value aborts, which
// libFuzzer reports as a crash with the input that caused it.

#include <cstdio>
#include <cstdlib>

namespace kivo::fuzz {

// Aborts with `what` when `condition` is false.
inline void expect(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "fuzz expectation failed: %s\n", what);
        std::abort();
    }
}

} // namespace kivo::fuzz
