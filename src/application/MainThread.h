#pragma once

// The one way work reaches the main thread: from any thread (the main thread included, for work
// that must wait for a later turn of its event loop), `work` runs on the main thread's event
// loop, unless `receiver` is gone by then.
//
// `receiver` lives on the main thread, and the QPointer to it is made there (once, before other
// threads get a copy): it is read only on the main thread, where the object is destroyed, so the
// check cannot race with the destruction. The call is posted to the application object, which
// outlives every receiver, so posting is safe while the receiver goes.

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>

#include <utility>

namespace kivo::MainThread {

template <typename Receiver, typename Work>
void post(QPointer<Receiver> receiver, Work work) {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [receiver = std::move(receiver), work = std::move(work)]() mutable {
            if (receiver) {
                work();
            }
        },
        Qt::QueuedConnection);
}

// Main thread only: the pointer is taken here.
template <typename Work>
void post(QObject* receiver, Work work) {
    post(QPointer<QObject>(receiver), std::move(work));
}

} // namespace kivo::MainThread
