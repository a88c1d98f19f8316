#pragma once

// Turns the signals that ask a program to end (SIGINT, SIGTERM, SIGHUP) into a call on the event
// loop, so that a recording can be stopped and saved first.

#include <QSocketNotifier>

#include <functional>
#include <memory>

namespace kivo {

// While it lives, SIGINT, SIGTERM and SIGHUP call `handler` from the event loop instead of
// ending the program.
class StopSignals {
public:
    explicit StopSignals(std::function<void()> handler);
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // Ends the program now with `code`, after flushing its output but without running any
    // destructor: for when work that cannot be stopped (an export) still runs on a thread.
    [[noreturn]] static void endNow(int code);

private:
    std::unique_ptr<QSocketNotifier> m_notifier;
    std::function<void()> m_handler;
};

} // namespace kivo
