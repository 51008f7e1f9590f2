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

void record(QFuture<bool> future, QObject* context, Recorded& into, const QElapsedTimer& clock) {
    future.then(context, [&into, &clock](bool allDone) {
        into.value = allDone;
        ++into.resumptions;
        into.atMs = clock.elapsed();
    });
}

}  // namespace

TEST(PendingWork, NoJobsAnswersTrueAtOnce) {
    PendingWork pending;
    const QFuture<bool> wait = pending.waitUntilDone(3s);
    ASSERT_TRUE(wait.isFinished());
    EXPECT_TRUE(wait.result());
}

TEST(PendingWork, JobFinishingFirstReleasesTheWaiterOnceAndItsTimerDoesNothing) {
    PendingWork pending;
    QObject context;
    QElapsedTimer clock;
    clock.start();
    SharedPromise<void> job;
    pending.run([&] { return job.future(); });
    Recorded waiter;
    record(pending.waitUntilDone(300ms), &context, waiter, clock);

    QTimer::singleShot(50ms, [&] { job.finish(); });
    ASSERT_TRUE(test::waitUntil([&] { return waiter.value.has_value(); }));
    EXPECT_TRUE(*waiter.value);
    EXPECT_LT(waiter.atMs, 290);
    // Past the time-out nothing answers a second time.
    test::waitUntil([] { return false; }, 450ms);
    EXPECT_EQ(waiter.resumptions, 1);
    EXPECT_EQ(pending.runningCount(), 0);
}

TEST(PendingWork, TimeOutAnswersFalseAndTheJobStillCompletes) {
    PendingWork pending;
    QObject context;
    QElapsedTimer clock;
    clock.start();
    SharedPromise<void> job;
    pending.run([&] { return job.future(); });
    Recorded shortWait, longWait;
    record(pending.waitUntilDone(100ms), &context, shortWait, clock);
    record(pending.waitUntilDone(400ms), &context, longWait, clock);

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

TEST(PendingWork, JobStartedDuringTheWaitExtendsIt) {
    PendingWork pending;
    QObject context;
    QElapsedTimer clock;
    clock.start();
    SharedPromise<void> first, second;
    pending.run([&] { return first.future(); });
    Recorded waiter, other;
    record(pending.waitUntilDone(5s), &context, waiter, clock);
    record(pending.waitUntilDone(10s), &context, other, clock);
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

TEST(PendingWork, AJobThatIsAlreadyDoneIsTrackedUntilTheLoopRuns) {
    PendingWork pending;
    pending.run([] { return readyFuture(); });
    EXPECT_EQ(pending.runningCount(), 1);
    ASSERT_TRUE(test::waitUntil([&] { return pending.runningCount() == 0; }));
}
