#pragma once

// One test executable per layer holds several QtTest classes. Each class registers itself with
// KIVO_TEST_CLASS; the executable runs the class named by its first argument (as CTest does),
// or every class when none is named.

#include "domain/KivoError.h"

#include <QObject>

#include <functional>
#include <memory>

namespace kivo::test {

using Factory = std::function<std::unique_ptr<QObject>()>;

bool registerTestClass(const char* name, Factory factory);

// The user-visible description of the `Error` that `task` throws, or "(nothing thrown)".
template <typename Error = KivoError>
QString thrownText(const auto& task) {
    try {
        task();
    } catch (const Error& error) {
        return describe(error);
    }
    return QStringLiteral("(nothing thrown)");
}

} // namespace kivo::test

#define KIVO_TEST_CLASS(Class)                                                                     \
    namespace {                                                                                    \
    const bool kRegistered##Class =                                                                \
        ::kivo::test::registerTestClass(#Class, [] { return std::make_unique<Class>(); });         \
    }
