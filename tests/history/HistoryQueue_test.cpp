// The write queue the history runs its file work on: nobody waits for a job that is stuck, not
// even the owner dropping it at quit. (Order and threads are checked through the store.)
#include "history/HistoryQueue.h"

#include "support/Gate.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

using namespace quillet;

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
