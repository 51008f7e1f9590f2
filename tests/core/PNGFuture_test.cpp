// The shared PNG encoding: every reader, on any thread, before or after the encoding finished,
// gets the same bytes, and a failure reads as empty bytes instead of a wait that never ends.
#include "core/Async.h"
#include "core/ImageCodec.h"
#include "core/PNGFuture.h"

#include "support/Gate.h"
#include "support/TestImages.h"
#include "support/TestSupport.h"

#include <QThreadPool>

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
    // Blocking readers on threads of their own, and one on the pool.
    QList<QByteArray> waited(3);
    std::vector<std::thread> threads;
    for (int i = 0; i < 2; ++i) threads.emplace_back([&, i] { waited[i] = png.waitForValue(); });
    const QFuture<QByteArray> pooled = runInBackground([png] { return png.waitForValue(); });

    gate->open();
    for (std::thread& thread : threads) thread.join();
    ASSERT_TRUE(test::waitFor(pooled));
    waited[2] = pooled.result();
    ASSERT_TRUE(test::waitUntil([&] { return continued.size() == 2; }));

    const QByteArray expected = ImageCodec::encodePNG(image).value();
    const QFuture<QByteArray> late = png.value();
    EXPECT_TRUE(late.isFinished());
    for (const QByteArray& bytes : continued + waited + QList<QByteArray>{late.result()}) EXPECT_EQ(bytes, expected);
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
