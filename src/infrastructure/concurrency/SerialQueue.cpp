#include "infrastructure/concurrency/SerialQueue.h"

#include <pthread.h>

namespace kivo {

SerialQueue::SerialQueue(QString label)
    : m_label(std::move(label)) {
    m_worker = std::thread([state = m_state] { work(state); });
    m_workerId = m_worker.get_id();
    // Thread names are limited to 15 bytes; the tail of a reverse-domain label is the telling part.
    const QByteArray name = m_label.toUtf8().right(15);
    pthread_setname_np(m_worker.native_handle(), name.constData());
}

SerialQueue::~SerialQueue() {
    if (isCurrent()) {
        std::deque<std::unique_ptr<TaskBase>> remaining;
        {
            std::lock_guard lock(m_state->mutex);
            m_state->stopping = true;
            remaining.swap(m_state->tasks);
        }
        for (auto& task : remaining) {
            task->run();
        }
        m_worker.detach();
        return;
    }
    {
        std::lock_guard lock(m_state->mutex);
        m_state->stopping = true;
    }
    m_state->wake.notify_one();
    m_worker.join();
}

void SerialQueue::enqueue(std::unique_ptr<TaskBase> task) {
    {
        std::lock_guard lock(m_state->mutex);
        m_state->tasks.push_back(std::move(task));
    }
    m_state->wake.notify_one();
}

void SerialQueue::work(const std::shared_ptr<State>& state) {
    for (;;) {
        std::unique_ptr<TaskBase> task;
        {
            std::unique_lock lock(state->mutex);
            state->wake.wait(lock, [&] { return state->stopping || !state->tasks.empty(); });
            if (state->tasks.empty()) {
                return; // stopping, and everything queued has run
            }
            task = std::move(state->tasks.front());
            state->tasks.pop_front();
        }
        task->run();
    }
}

} // namespace kivo
