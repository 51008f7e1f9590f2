// The one model of asynchronous work in Quillet.
//
// The main thread is the Qt event loop. Work that must not block it runs on the global
// QThreadPool through runInBackground() and comes back as a QFuture; the caller continues on
// the main thread with `future.then(context, ...)`, where `context` is a QObject living on the
// main thread. If `context` is destroyed first, the continuation never runs, so a result can
// never reach an owner that is gone. A "main-thread task" is runOnMainThread(context, fn).
//
//   runInBackground([image] { return encodePNG(image); })
//       .then(this, [this](std::optional<QByteArray> png) { ... on the main thread ... });
//
// Futures are completed with a value, never cancelled and never by an exception: a failure is
// part of the value (Expected, optional). Cancellable work takes a CancellationToken and
// checks it before each expensive step.
#pragma once

#include <QFuture>
#include <QMetaObject>
#include <QObject>
#include <QPromise>
#include <QtConcurrent/QtConcurrentRun>

#include <atomic>
#include <type_traits>
#include <memory>
#include <utility>

namespace quillet {

template <class F>
auto runInBackground(F&& work) {
    return QtConcurrent::run(std::forward<F>(work));
}

// Queues `work` onto `context`'s thread; it never runs if `context` is destroyed first.
template <class F>
void runOnMainThread(QObject* context, F&& work) {
    QMetaObject::invokeMethod(context, std::forward<F>(work), Qt::QueuedConnection);
}

template <class T>
QFuture<std::decay_t<T>> readyFuture(T&& value) {
    return QtFuture::makeReadyFuture(std::forward<T>(value));
}

inline QFuture<void> readyFuture() { return QtFuture::makeReadyFuture(); }

// A promise that a main-thread object keeps until it can answer; copies share one promise.
template <class T>
class SharedPromise {
public:
    SharedPromise() : promise(std::make_shared<QPromise<T>>()) { promise->start(); }
    QFuture<T> future() const { return promise->future(); }
    bool isFinished() const { return promise->future().isFinished(); }
    // The first answer wins; later ones are ignored.
    template <class U>
    bool finish(U&& value) {
        if (isFinished()) return false;
        promise->addResult(std::forward<U>(value));
        promise->finish();
        return true;
    }
    bool finish()
        requires std::is_void_v<T>
    {
        if (isFinished()) return false;
        promise->finish();
        return true;
    }

private:
    std::shared_ptr<QPromise<T>> promise;
};

// Shared flag for work that may be called off: the owner cancels, the worker checks.
class CancellationToken {
public:
    void cancel() const { flag->store(true, std::memory_order_relaxed); }
    bool isCancelled() const { return flag->load(std::memory_order_relaxed); }

private:
    std::shared_ptr<std::atomic_bool> flag = std::make_shared<std::atomic_bool>(false);
};

}  // namespace quillet
