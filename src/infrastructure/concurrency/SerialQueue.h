#pragma once

// A serial executor: one worker thread that runs its tasks one at a time, in the order they were
// queued. The session writer keeps all of its state on one, so that state needs no lock.

#include <QString>
#include <QtGlobal>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <type_traits>
#include <utility>

namespace kivo {

class SerialQueue {
public:
    // `label` names the worker thread (as seen by a debugger).
    explicit SerialQueue(QString label);
    // Runs every task already queued, then stops the worker. On the worker itself (the last
    // owner let go inside a task) the queued tasks run right here and the worker ends on its own
    // once the current task returns, instead of waiting for itself.
    ~SerialQueue();

    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    // Queues `task` and returns at once. Any thread, the worker included. A task must not throw.
    template <typename F>
    void async(F&& task) {
        enqueue(std::make_unique<Task<std::decay_t<F>>>(std::forward<F>(task)));
    }

    // Queues `task` and waits until it has run, so every task queued before it has run too.
    // Returns what the task returns; an exception it throws is rethrown here.
    // Never from the worker itself: that would wait forever.
    template <typename F>
    auto sync(F&& task) -> std::invoke_result_t<F>;

    // True on the worker thread.
    bool isCurrent() const noexcept { return std::this_thread::get_id() == m_workerId; }

    const QString& label() const noexcept { return m_label; }

private:
    struct TaskBase {
        virtual ~TaskBase() = default;
        virtual void run() = 0;
    };
    template <typename F>
    struct Task final : TaskBase {
        explicit Task(F f)
            : function(std::move(f)) {}
        void run() override { function(); }
        F function;
    };

    // Shared with the worker thread, which may outlive the queue by the end of one task.
    struct State {
        std::mutex mutex;
        std::condition_variable wake;
        std::deque<std::unique_ptr<TaskBase>> tasks; // guarded by mutex
        bool stopping = false;                       // guarded by mutex
    };

    void enqueue(std::unique_ptr<TaskBase> task);
    static void work(const std::shared_ptr<State>& state);

    QString m_label;
    std::shared_ptr<State> m_state = std::make_shared<State>();
    std::thread::id m_workerId;
    std::thread m_worker;
};

template <typename F>
auto SerialQueue::sync(F&& task) -> std::invoke_result_t<F> {
    using R = std::invoke_result_t<F>;
    Q_ASSERT_X(!isCurrent(), "SerialQueue::sync", "called from the queue's own worker");

    std::mutex doneMutex;
    std::condition_variable doneSignal;
    bool done = false;
    std::exception_ptr error;
    std::conditional_t<std::is_void_v<R>, int, std::optional<R>> result{};

    async([&] {
        try {
            if constexpr (std::is_void_v<R>) {
                task();
            } else {
                result.emplace(task());
            }
        } catch (...) {
            error = std::current_exception();
        }
        std::lock_guard lock(doneMutex);
        done = true;
        doneSignal.notify_one();
    });

    std::unique_lock lock(doneMutex);
    doneSignal.wait(lock, [&] { return done; });
    if (error) {
        std::rethrow_exception(error);
    }
    if constexpr (!std::is_void_v<R>) {
        return std::move(*result);
    }
}

} // namespace kivo
