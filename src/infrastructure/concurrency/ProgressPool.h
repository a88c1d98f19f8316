#pragma once

// Runs a number of tasks side by side on threads of its own, up to a limit, while the calling
// thread reports their summed progress. Each task says how far it has got (a count out of the
// same total for every task); the report is called with the fraction of all tasks' work done,
// each time it has grown by `step` or more, and with 1.0 at the end. With one thread (or one
// task) the tasks run one after the other on the calling thread, which reports as they go.

#include <QtGlobal>

#include <cstddef>
#include <functional>

namespace kivo {

class ProgressPool {
public:
    // A task: its index, and where it says how much of its `totalPerTask` it has done.
    using Task = std::function<void(std::size_t index, const std::function<void(qint64)>& done)>;

    // `threads` 0: one per core.
    ProgressPool(int threads, std::function<void(double fraction)> report, double step);

    // Runs `count` tasks, each of `totalPerTask`, and returns once all have ended. Rethrows the
    // exception of the first task (by index) that threw, after all have ended.
    void run(std::size_t count, qint64 totalPerTask, const Task& task);

private:
    std::size_t m_threads;
    std::function<void(double)> m_report;
    double m_step;
};

} // namespace kivo
