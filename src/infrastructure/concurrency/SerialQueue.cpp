#include "infrastructure/concurrency/SerialQueue.h"

#include <pthread.h>

namespace kivo {

SerialQueue::SerialQueue(QString label)
    : m_label(std::move(label)) {
    m_worker = std::thread([this] { work(); });
    m_workerId = m_worker.get_id();
    // Thread names are limited to 15 bytes; the tail of a reverse-domain label is the telling part.
    const QByteArray name = m_label.toUtf8().right(15);
    pthread_setname_np(m_worker.native_handle(), name.constData());
}

SerialQueue::~SerialQueue() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    m_worker.join();
}

void SerialQueue::enqueue(std::unique_ptr<TaskBase> task) {
    {
        std::lock_guard lock(m_mutex);
        m_tasks.push_back(std::move(task));
    }
    m_wake.notify_one();
}

void SerialQueue::work() {
    for (;;) {
        std::unique_ptr<TaskBase> task;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_tasks.empty(); });
            if (m_tasks.empty()) {
                return; // stopping, and everything queued has run
            }
            task = std::move(m_tasks.front());
            m_tasks.pop_front();
        }
        task->run();
    }
}

} // namespace kivo
