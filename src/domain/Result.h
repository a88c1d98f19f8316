#pragma once

// The outcome of work done on another thread, handed back as a value: either a value or the
// error it failed with. No exception crosses a thread; a Result carries it instead.

#include "domain/KivoError.h"

#include <exception>
#include <optional>
#include <utility>
#include <variant>

namespace kivo {

template <typename T = std::monostate>
class Result {
public:
    static Result success(T value = T{}) { return Result(std::move(value)); }
    static Result failure(std::exception_ptr error) { return Result(std::move(error)); }
    template <typename E>
    static Result failure(E error) {
        return Result(std::make_exception_ptr(std::move(error)));
    }

    // Runs `work` and captures its value or the exception it throws.
    template <typename F>
    static Result capture(F&& work) {
        try {
            if constexpr (std::is_same_v<T, std::monostate>) {
                std::forward<F>(work)();
                return success();
            } else {
                return success(std::forward<F>(work)());
            }
        } catch (...) {
            return failure(std::current_exception());
        }
    }

    bool ok() const noexcept { return std::holds_alternative<T>(m_value); }
    explicit operator bool() const noexcept { return ok(); }

    // Precondition: ok().
    const T& value() const& { return std::get<T>(m_value); }
    T&& value() && { return std::get<T>(std::move(m_value)); }

    // Null when ok().
    std::exception_ptr error() const {
        return ok() ? nullptr : std::get<std::exception_ptr>(m_value);
    }
    QString errorDescription() const { return describe(error()); }

    // Returns the value or rethrows the error.
    T get() const {
        if (!ok()) {
            std::rethrow_exception(error());
        }
        return value();
    }

private:
    explicit Result(T value)
        : m_value(std::move(value)) {}
    explicit Result(std::exception_ptr error)
        : m_value(std::move(error)) {}

    std::variant<T, std::exception_ptr> m_value;
};

} // namespace kivo
