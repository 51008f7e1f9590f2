// Where history file work runs: never on Qt's global pool, which the raster paint engine also
// draws with, so a file that blocks (a slow disk, a network folder) can never stall painting.
//
// `SerialQueue` is one dedicated thread that runs its jobs one at a time in the order they were
// submitted; the history store puts every change of the folder on one, so writes never
// interleave and never overtake each other. `thumbnailPool()` is a small pool of its own for
// thumbnails read from disk.
//
//   SerialQueue queue("quillet-history");
//   queue.run([] { return writeSomething(); }).then(context, [](Result r) { ... });
#pragma once

#include <QFuture>
#include <QPromise>
#include <QThreadPool>

#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

namespace quillet {

class SerialQueue {
public:
    explicit SerialQueue(const char* threadName);
    // Jobs still queued run to the end on the queue's thread; the caller never waits for them.
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    // Runs `work` after every job submitted before it; the future finishes with its result.
    template <class F>
    auto run(F&& work) -> QFuture<std::invoke_result_t<std::decay_t<F>&>> {
        using R = std::invoke_result_t<std::decay_t<F>&>;
        auto promise = std::make_shared<QPromise<R>>();
        promise->start();
        QFuture<R> future = promise->future();
        post([promise, work = std::forward<F>(work)]() mutable {
            if constexpr (std::is_void_v<R>) {
                work();
            } else {
                promise->addResult(work());
            }
            promise->finish();
        });
        return future;
    }

private:
    void post(std::function<void()> job);

    struct State;
    std::shared_ptr<State> state;
};

// Two threads for thumbnails read from or written to disk; never the global pool.
QThreadPool* thumbnailPool();

}  // namespace quillet
