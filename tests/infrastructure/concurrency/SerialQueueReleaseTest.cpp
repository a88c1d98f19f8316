#include "TestMain.h"

#include "infrastructure/concurrency/SerialQueue.h"

#include <QSemaphore>
#include <QTest>

#include <atomic>

using namespace kivo;

class SerialQueueReleaseTest : public QObject {
    Q_OBJECT

private slots:
    // The last owner of a queue can be let go on the queue's own worker (a finished task held
    // it): the tasks still queued run and nothing waits for itself.
    void theLastOwnerMayGoOnTheWorker() {
        struct Owner {
            SerialQueue queue{QStringLiteral("test.release")};
        };
        auto owner = std::make_shared<Owner>();
        QSemaphore holding;
        std::atomic<bool> laterRan = false;
        owner->queue.async([kept = owner, &holding] { holding.acquire(); });
        owner->queue.async([&laterRan] { laterRan = true; });
        owner.reset();
        holding.release();
        QTRY_VERIFY(laterRan.load());
    }
};

KIVO_TEST_CLASS(SerialQueueReleaseTest)
#include "SerialQueueReleaseTest.moc"
