// The shared PNG encoding, and waiting for the history writes at quit.
#include "core/Async.h"
#include "core/ImageCodec.h"
#include "core/PNGFuture.h"
#include "core/PendingWork.h"

#include "support/TestSupport.h"

#include <QThreadPool>
#include <QTimer>

#include <gtest/gtest.h>

#include <thread>

using namespace quillet;
using namespace std::chrono_literals;

using test::Gate;

TEST(PNGFuture, EveryReaderGetsTheSameBytesBeforeAndAfterCompletion) {
    const QImage image = test::patternImage(QSize(64, 48));
    auto gate = std::make_shared<Gate>();
    const PNGFuture png(image, [gate](const QImage& source) {
        gate->wait();
        return ImageCodec::encodePNG(source);
    });
    EXPECT_FALSE(png.isReady());

    // Two asynchronous readers on the main thread: both continuations must run.
    QObject context;
    QList<QByteArray> continued;
    png.value().then(&context, [&](const QByteArray& bytes) { continued << bytes; });
    png.value().then(&context, [&](const QByteArray& bytes) { continued << bytes; });
    // Blocking readers at once, on a thread of its own and on the pool.
    QByteArray waited;
    std::thread reader([&] { waited = png.waitForValue(); });
    const QFuture<QByteArray> pooled = runInBackground([png] { return png.waitForValue(); });

    gate->open();
    reader.join();
    ASSERT_TRUE(test::waitFor(pooled));
    ASSERT_TRUE(test::waitUntil([&] { return continued.size() == 2; }));

    const QByteArray expected = ImageCodec::encodePNG(image).value();
    const QFuture<QByteArray> late = png.value();
    EXPECT_TRUE(late.isFinished());
    for (const QByteArray& bytes : continued + QList<QByteArray>{waited, pooled.result(), late.result()})
        EXPECT_EQ(bytes, expected);
}

TEST(PNGFuture, FailedEncodingReadsAsEmptyBytesEveryTime) {
    const QImage image = test::patternImage(QSize(8, 8));
    const PNGFuture absent(image, [](const QImage&) { return std::optional<QByteArray>(); });
    const PNGFuture throwing(image, [](const QImage&) -> std::optional<QByteArray> { throw std::bad_alloc(); });
    for (const PNGFuture& png : {absent, throwing, PNGFuture(QImage())}) {
        EXPECT_TRUE(png.waitForValue().isEmpty());
        EXPECT_TRUE(png.waitForValue().isEmpty());
        const QFuture<QByteArray> value = png.value();
        ASSERT_TRUE(test::waitFor(value));
        EXPECT_TRUE(value.result().isEmpty());
    }
}

// History writes wait for the PNG on pool threads. When they hold every pool thread, the
// encoding they wait for must still run instead of queueing behind them forever.
TEST(PNGFuture, WaitOnAFullPoolRunsTheEncodingItself) {
    QThreadPool* pool = QThreadPool::globalInstance();
    const int threads = pool->maxThreadCount();
    pool->setMaxThreadCount(1);
    const QImage image = test::patternImage(QSize(32, 32));

    std::optional<PNGFuture> png;
    Gate created;
    std::atomic_bool started = false;
    const QFuture<QByteArray> waiter = runInBackground([&] {
        started = true;
        created.wait();
        return png->waitForValue();
    });
    ASSERT_TRUE(test::waitUntil([&] { return started.load(); }));
    png.emplace(image);  // queued: the only pool thread is the waiter's
    created.open();
    const bool finished = test::waitFor(waiter, 10s);
    pool->setMaxThreadCount(threads);  // lets a stuck encoding run, so a failure cannot hang the run
    ASSERT_TRUE(finished);
    EXPECT_EQ(waiter.result(), ImageCodec::encodePNG(image).value());
}

// No jobs: true at once. A done job is tracked until the loop runs. Each waiter is answered once:
// false at its own time-out, or true when the last job ends, even one started during the wait.
TEST(PendingWork, EachWaiterIsAnsweredOnceByTheLastJobOrItsOwnTimeOut) {
    QList<bool> waiter, shortWait, other;  // every answer each waiter got, in order
    SharedPromise<void> first, second;
    PendingWork pending;
    QObject context;
    const auto wait = [&](std::chrono::milliseconds timeout, QList<bool>& into) {
        pending.waitUntilDone(timeout).then(&context, [&into](bool allDone) { into << allDone; });
    };
    const QFuture<bool> none = pending.waitUntilDone(3s);
    ASSERT_TRUE(none.isFinished());
    EXPECT_TRUE(none.result());

    pending.run([] { return readyFuture(); });
    EXPECT_EQ(pending.runningCount(), 1);
    pending.run([&] { return first.future(); });
    wait(300ms, waiter);
    wait(20ms, shortWait);
    wait(10s, other);
    pending.run([&] { return second.future(); });
    first.finish();
    ASSERT_TRUE(test::waitUntil([&] { return !shortWait.isEmpty(); }));
    EXPECT_TRUE(waiter.isEmpty()) << "released while a job was still running";
    QTimer::singleShot(50ms, &context, [&] { second.finish(); });
    test::waitUntil([] { return false; }, 400ms);  // past the longer time-out
    EXPECT_EQ(shortWait, QList<bool>{false});
    EXPECT_EQ(waiter, QList<bool>{true});
    EXPECT_EQ(other, QList<bool>{true});
    EXPECT_EQ(pending.runningCount(), 0);
}
