#pragma once

// Work that may block (a stat on a slow or unmounted folder, a sound server that does not answer)
// runs on a pool thread; its result comes back to the main thread's event loop, to `done`, unless
// `context` is gone by then. The main thread never waits for it.
//
// Call from the main thread. A pool's threads are waited for when the application ends.

#include "application/MainThread.h"

#include <QThreadPool>

#include <utility>

namespace kivo::Background {

template <typename Work, typename Done>
void run(QObject* context, Work work, Done done,
         QThreadPool* pool = QThreadPool::globalInstance()) {
    // Made here, read only on the main thread: it tells whether `context` still exists.
    QPointer<QObject> alive(context);
    pool->start([alive, work = std::move(work), done = std::move(done)]() mutable {
        MainThread::post(alive, [done = std::move(done), result = work()]() mutable {
            done(std::move(result));
        });
    });
}

} // namespace kivo::Background
