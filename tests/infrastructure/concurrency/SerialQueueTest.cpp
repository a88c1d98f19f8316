#include "TestMain.h"

#include "infrastructure/concurrency/SerialQueue.h"

#include <QTest>

#include <stdexcept>
#include <thread>
#include <vector>

using namespace kivo;

class SerialQueueTest : public QObject {
    Q_OBJECT

private slots:
    void tasksRunOneAtATimeInQueueOrder() {
        SerialQueue queue(QStringLiteral("test.queue"));
        std::vector<int> order; // touched only on the queue
        bool overlapped = false;
        bool running = false;

        std::vector<std::thread> producers;
        for (int producer = 0; producer < 4; ++producer) {
            producers.emplace_back([&, producer] {
                for (int i = 0; i < 250; ++i) {
                    queue.async([&, producer, i] {
                        overlapped = overlapped || running;
                        running = true;
                        order.push_back(producer * 1000 + i);
                        running = false;
                    });
                }
            });
        }
        for (auto& producer : producers) {
            producer.join();
        }
        const std::size_t count = queue.sync([&] { return order.size(); });
        QCOMPARE(count, std::size_t(1000));
        QVERIFY(!overlapped);
        // Each producer's own tasks keep their order.
        std::vector<int> last(4, -1);
        for (const int value : order) {
            QVERIFY(value % 1000 > last[static_cast<std::size_t>(value / 1000)]);
            last[static_cast<std::size_t>(value / 1000)] = value % 1000;
        }
    }

    void syncRethrowsWhatTheTaskThrows() {
        SerialQueue queue(QStringLiteral("test.queue"));
        QVERIFY(!queue.isCurrent());
        QVERIFY(queue.sync([&] { return queue.isCurrent(); }));
        QVERIFY_THROWS_EXCEPTION(std::runtime_error,
                                 queue.sync([] { throw std::runtime_error("disk full"); }));
        QCOMPARE(queue.sync([] { return 42; }), 42);
    }

    void destructionRunsWhatIsStillQueued() {
        int ran = 0;
        {
            SerialQueue queue(QStringLiteral("test.queue"));
            queue.async([] { std::this_thread::sleep_for(std::chrono::milliseconds(20)); });
            for (int i = 0; i < 10; ++i) {
                queue.async([&ran] { ++ran; });
            }
        }
        QCOMPARE(ran, 10);
    }
};

KIVO_TEST_CLASS(SerialQueueTest)
#include "SerialQueueTest.moc"
