#include "core/PNGFuture.h"

#include "core/Async.h"
#include "core/ImageCodec.h"

#include <QPromise>

#include <mutex>
#include <vector>

namespace quillet {

struct PNGFuture::State {
    std::mutex mutex;
    bool done = false;
    std::optional<QByteArray> result;  // absent until done, and after a failed encoding
    // One promise per value() call made before the encoding finished. A QFuture takes a single
    // continuation, so consumers must never share one.
    std::vector<std::shared_ptr<QPromise<QByteArray>>> waiting;
    // The encoding task. Waiting on it runs the encoding on the waiting thread when no pool
    // thread has picked it up yet, so a blocked pool can never wait for itself.
    QFuture<void> work;

    QByteArray bytesLocked() const { return result.value_or(QByteArray()); }

    void finish(std::optional<QByteArray> bytes) {
        std::vector<std::shared_ptr<QPromise<QByteArray>>> waiters;
        QByteArray value;
        {
            std::lock_guard lock(mutex);
            result = std::move(bytes);
            done = true;
            waiters.swap(waiting);
            value = bytesLocked();
        }
        // Outside the lock: finishing a promise may run a continuation right here.
        for (const auto& promise : waiters) {
            promise->addResult(value);
            promise->finish();
        }
    }
};

PNGFuture::PNGFuture(const QImage& image) : PNGFuture(image, &ImageCodec::encodePNG) {}

PNGFuture::PNGFuture(const QImage& image, Encoder encoder) : state(std::make_shared<State>()) {
    state->work = runInBackground([state = state, image, encoder = std::move(encoder)] {
        std::optional<QByteArray> bytes;
        try {
            bytes = encoder(image);
        } catch (...) {
            // Out of memory for a huge image: the readers get empty bytes instead of waiting forever.
            bytes.reset();
        }
        state->finish(std::move(bytes));
    });
}

PNGFuture PNGFuture::fromEncodedPNG(const QByteArray& png) {
    PNGFuture future;
    future.state = std::make_shared<State>();
    future.state->done = true;
    future.state->result = png;
    future.state->work = readyFuture();
    return future;
}

QFuture<QByteArray> PNGFuture::value() const {
    std::lock_guard lock(state->mutex);
    if (state->done) return readyFuture(state->bytesLocked());
    auto promise = std::make_shared<QPromise<QByteArray>>();
    promise->start();
    state->waiting.push_back(promise);
    return promise->future();
}

QByteArray PNGFuture::waitForValue() const {
    {
        std::lock_guard lock(state->mutex);
        if (state->done) return state->bytesLocked();
    }
    QFuture<void>(state->work).waitForFinished();
    std::lock_guard lock(state->mutex);
    return state->bytesLocked();
}

bool PNGFuture::isReady() const {
    std::lock_guard lock(state->mutex);
    return state->done;
}

}  // namespace quillet
