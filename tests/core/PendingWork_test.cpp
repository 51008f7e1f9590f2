// Waiting for history writes at quit: every waiter is answered exactly once, with true when
// the last job ends and false at its own time-out.
#include "core/PendingWork.h"

#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

using namespace quillet;
using namespace std::chrono_literals;

namespace {

struct Recorded {
    std::optional<bool> value;
    int resumptions = 0;
    qint64 atMs = -1;
};

class PendingWorkTest : public ::testing::Test {
protected:
    void SetUp() override { clock.start(); }
    void record(QFuture<bool> future, Recorded& into) {
        future.then(&context, [&into, this](bool allDone) {
            into.value = allDone;
            ++into.resumptions;
            into.atMs = clock.elapsed();
        });
    }
    PendingWork pending;
    QObject context;
    QElapsedTimer clock;
};

}  // namespace

TEST_F(PendingWorkTest, NoJobsAnswersTrueAtOnce) {
    const QFuture<bool> wait = pending.waitUntilDone(3s);
    ASSERT_TRUE(wait.isFinished());
    EXPECT_TRUE(wait.result());
}

TEST_F(PendingWorkTest, JobFinishingFirstReleasesTheWaiterOnceAndItsTimerDoesNothing) {
    SharedPromise<void> job;
    pending.run([&] { return job.future(); });
    Recorded waiter;
    record(pending.waitUntilDone(300ms), waiter);

    QTimer::singleShot(50ms, [&] { job.finish(); });
    ASSERT_TRUE(test::waitUntil([&] { return waiter.value.has_value(); }));
    EXPECT_TRUE(*waiter.value);
    // Past the time-out nothing answers a second time.
    test::waitUntil([] { return false; }, 450ms);
    EXPECT_EQ(waiter.resumptions, 1);
    EXPECT_EQ(pending.runningCount(), 0);
}

TEST_F(PendingWorkTest, TimeOutAnswersFalseAndTheJobStillCompletes) {
    SharedPromise<void> job;
    pending.run([&] { return job.future(); });
    Recorded shortWait, longWait;
    record(pending.waitUntilDone(100ms), shortWait);
    record(pending.waitUntilDone(400ms), longWait);

    ASSERT_TRUE(test::waitUntil([&] { return longWait.value.has_value(); }));
    EXPECT_EQ(shortWait.value, false);
    EXPECT_EQ(longWait.value, false);
    EXPECT_GE(shortWait.atMs, 100);
    EXPECT_GE(longWait.atMs, 400);
    EXPECT_LT(shortWait.atMs, longWait.atMs);

    job.finish();
    ASSERT_TRUE(test::waitUntil([&] { return pending.runningCount() == 0; }));
    EXPECT_EQ(shortWait.resumptions, 1);
    EXPECT_EQ(longWait.resumptions, 1);
}

TEST_F(PendingWorkTest, JobStartedDuringTheWaitExtendsIt) {
    SharedPromise<void> first, second;
    pending.run([&] { return first.future(); });
    Recorded waiter, other;
    record(pending.waitUntilDone(5s), waiter);
    record(pending.waitUntilDone(10s), other);
    pending.run([&] { return second.future(); });

    first.finish();
    test::waitUntil([] { return false; }, 100ms);
    EXPECT_FALSE(waiter.value.has_value()) << "released while a job was still running";

    second.finish();
    ASSERT_TRUE(test::waitUntil([&] { return waiter.value.has_value() && other.value.has_value(); }));
    EXPECT_TRUE(*waiter.value);
    EXPECT_TRUE(*other.value);
    EXPECT_EQ(waiter.resumptions + other.resumptions, 2);
}

TEST_F(PendingWorkTest, AJobThatIsAlreadyDoneIsTrackedUntilTheLoopRuns) {
    pending.run([] { return readyFuture(); });
    EXPECT_EQ(pending.runningCount(), 1);
    ASSERT_TRUE(test::waitUntil([&] { return pending.runningCount() == 0; }));
}
