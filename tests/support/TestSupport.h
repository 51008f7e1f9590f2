// Waiting in tests: spin the event loop until a condition holds, with a deadline, never a
// fixed sleep.
#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFuture>
#include <QThread>

#include <chrono>
#include <functional>

namespace quillet::test {

using namespace std::chrono_literals;

inline bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 10s) {
    QDeadlineTimer deadline(timeout);
    while (!condition()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QCoreApplication::sendPostedEvents();
        QThread::msleep(1);
    }
    return true;
}

// Spins the event loop until `future` finishes and its continuations on this thread ran.
template <class T>
bool waitFor(const QFuture<T>& future, std::chrono::milliseconds timeout = 10s) {
    const bool finished = waitUntil([&] { return future.isFinished(); }, timeout);
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    return finished;
}

// Lets queued main-thread tasks run.
inline void drainEvents() {
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
}

}  // namespace quillet::test
