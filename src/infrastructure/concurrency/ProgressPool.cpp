#include "infrastructure/concurrency/ProgressPool.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace kivo {

ProgressPool::ProgressPool(int threads, std::function<void(double fraction)> report, double step)
    : m_threads(static_cast<std::size_t>(std::max(
          1, threads > 0 ? threads : static_cast<int>(std::thread::hardware_concurrency()))))
    , m_report(std::move(report))
    , m_step(step) {}

void ProgressPool::run(std::size_t count, qint64 totalPerTask, const Task& task) {
    std::vector<std::atomic<qint64>> done(count);
    std::vector<std::exception_ptr> failures(count);
    std::mutex mutex;
    std::condition_variable wake;
    std::size_t next = 0;
    std::size_t finished = 0;
    const bool inline_ = std::min(m_threads, count) <= 1;

    double reported = 0.0;
    const double total = static_cast<double>(totalPerTask) * static_cast<double>(count);
    const auto report = [&] {
        qint64 sum = 0;
        for (const auto& value : done) {
            sum += value.load(std::memory_order_relaxed);
        }
        const double fraction = total > 0.0 ? std::min(1.0, static_cast<double>(sum) / total) : 1.0;
        if (m_report && (fraction >= reported + m_step || (fraction == 1.0 && reported < 1.0))) {
            reported = fraction;
            m_report(fraction);
        }
    };
    // Each task wakes the reporter at every hundredth of its work.
    const qint64 wakeStep = std::max<qint64>(1, totalPerTask / 100);
    const auto work = [&] {
        for (;;) {
            std::size_t i = 0;
            {
                std::lock_guard lock(mutex);
                if (next == count) {
                    return;
                }
                i = next++;
            }
            try {
                task(i, [&, i](qint64 value) {
                    const auto before = done[i].exchange(value, std::memory_order_relaxed);
                    if (inline_) {
                        report();
                    } else if (value / wakeStep != before / wakeStep) {
                        wake.notify_one();
                    }
                });
            } catch (...) {
                failures[i] = std::current_exception();
            }
            {
                std::lock_guard lock(mutex);
                ++finished;
            }
            wake.notify_all();
        }
    };

    std::vector<std::thread> workers;
    if (inline_) {
        work();
    } else {
        for (std::size_t t = 0; t < std::min(m_threads, count); ++t) {
            workers.emplace_back(work);
        }
        std::unique_lock lock(mutex);
        while (finished < count) {
            wake.wait_for(lock, std::chrono::milliseconds(50));
            lock.unlock();
            report();
            lock.lock();
        }
    }
    for (auto& worker : workers) {
        worker.join();
    }
    for (const auto& failure : failures) {
        if (failure) {
            std::rethrow_exception(failure);
        }
    }
    report();
}

} // namespace kivo
