// Waiting for history writes at quit: every waiter is answered exactly once, with true when
// the last job ends and false at its own time-out.
#include "core/PendingWork.h"

#include "support/TestSupport.h"

#include <QTimer>

#include <gtest/gtest.h>

using namespace quillet;
using namespace std::chrono_literals;

namespace {

// Every answer a waiter got, in order.
class PendingWorkTest : public ::testing::Test {
protected:
    QList<bool>& wait(std::chrono::milliseconds timeout) {
        answers.push_back(std::make_unique<QList<bool>>());
        QList<bool>* into = answers.back().get();
        pending.waitUntilDone(timeout).then(&context, [into](bool allDone) { *into << allDone; });
        return *into;
    }
    PendingWork pending;
    QObject context;
    std::vector<std::unique_ptr<QList<bool>>> answers;
};

}  // namespace

TEST_F(PendingWorkTest, NoJobsAnswersTrueAtOnceAndADoneJobIsTrackedUntilTheLoopRuns) {
    const QFuture<bool> wait = pending.waitUntilDone(3s);
    ASSERT_TRUE(wait.isFinished());
    EXPECT_TRUE(wait.result());

    pending.run([] { return readyFuture(); });
    EXPECT_EQ(pending.runningCount(), 1);
    ASSERT_TRUE(test::waitUntil([&] { return pending.runningCount() == 0; }));
}

TEST_F(PendingWorkTest, JobFinishingFirstReleasesTheWaiterOnceAndItsTimerDoesNothing) {
    SharedPromise<void> job;
    pending.run([&] { return job.future(); });
    const QList<bool>& waiter = wait(300ms);
    QTimer::singleShot(50ms, [&] { job.finish(); });
    // Past the time-out nothing answers a second time.
    test::waitUntil([] { return false; }, 450ms);
    EXPECT_EQ(waiter, QList<bool>{true});
    EXPECT_EQ(pending.runningCount(), 0);
}

TEST_F(PendingWorkTest, TimeOutAnswersFalseInTurnAndTheJobStillCompletes) {
    SharedPromise<void> job;
    pending.run([&] { return job.future(); });
    const QList<bool>& longWait = wait(400ms);
    const QList<bool>& shortWait = wait(100ms);
    ASSERT_TRUE(test::waitUntil([&] { return !shortWait.isEmpty(); }));
    EXPECT_TRUE(longWait.isEmpty()) << "each waiter has its own time-out";
    ASSERT_TRUE(test::waitUntil([&] { return !longWait.isEmpty(); }));

    job.finish();
    ASSERT_TRUE(test::waitUntil([&] { return pending.runningCount() == 0; }));
    EXPECT_EQ(shortWait, QList<bool>{false});
    EXPECT_EQ(longWait, QList<bool>{false});
}

TEST_F(PendingWorkTest, JobStartedDuringTheWaitExtendsIt) {
    SharedPromise<void> first, second;
    pending.run([&] { return first.future(); });
    const QList<bool>& waiter = wait(5s);
    const QList<bool>& other = wait(10s);
    pending.run([&] { return second.future(); });

    first.finish();
    test::waitUntil([] { return false; }, 100ms);
    EXPECT_TRUE(waiter.isEmpty()) << "released while a job was still running";

    second.finish();
    ASSERT_TRUE(test::waitUntil([&] { return !waiter.isEmpty() && !other.isEmpty(); }));
    EXPECT_EQ(waiter, QList<bool>{true});
    EXPECT_EQ(other, QList<bool>{true});
}
