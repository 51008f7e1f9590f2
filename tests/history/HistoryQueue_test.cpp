// The write queue the history runs its file work on: one thread of its own, jobs in the order
// they were submitted, and nobody waits for a job that is stuck.
#include "history/HistoryQueue.h"

#include "support/Gate.h"
#include "support/TestSupport.h"

#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

using namespace quillet;

TEST(SerialQueue, RunsEveryJobOnOneThreadOfItsOwnInSubmissionOrder) {
    SerialQueue queue("test-queue");
    test::Gate gate;
    std::mutex lock;
    std::vector<int> order;
    std::set<QThread*> threads;
    // The first job holds the rest back, so they all wait in the queue at once.
    auto first = queue.run([&] {
        gate.wait();
        return 0;
    });
    std::vector<QFuture<int>> futures;
    for (int i = 1; i <= 100; ++i) {
        futures.push_back(queue.run([&, i] {
            std::lock_guard guard(lock);
            order.push_back(i);
            threads.insert(QThread::currentThread());
            return i;
        }));
    }
    gate.open();
    ASSERT_TRUE(test::waitFor(futures.back()));
    EXPECT_EQ(first.result(), 0);
    EXPECT_EQ(futures[41].result(), 42);
    std::vector<int> expected(100);
    for (int i = 0; i < 100; ++i) expected[i] = i + 1;
    EXPECT_EQ(order, expected);
    ASSERT_EQ(threads.size(), 1u);
    EXPECT_NE(*threads.begin(), QThread::currentThread());
}

TEST(SerialQueue, DroppingTheQueueNeverWaitsForAStuckJobWhichStillFinishes) {
    auto gate = std::make_shared<test::Gate>();
    auto finished = std::make_shared<std::atomic_bool>(false);
    QFuture<void> after;
    {
        SerialQueue queue("test-queue");
        (void)queue.run([gate] { gate->wait(); });
        after = queue.run([finished] { *finished = true; });
    }  // returns although the first job is still blocked
    EXPECT_FALSE(after.isFinished());
    gate->open();
    ASSERT_TRUE(test::waitFor(after));
    EXPECT_TRUE(*finished);
}
