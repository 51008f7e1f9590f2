// Waiting in tests: spin the event loop until a condition holds, with a deadline, never a
// fixed sleep; a gate that holds background work back; whole files read and written.
#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QFuture>
#include <QString>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <latch>

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

// Holds a background job (an encoder, a write) back until the test opens the gate.
class Gate {
public:
    void open() {
        if (!opened.exchange(true)) latch.count_down();
    }
    void wait() { latch.wait(); }

private:
    std::latch latch{1};
    std::atomic_bool opened = false;
};

inline QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << qPrintable(path);
    ASSERT_EQ(file.write(bytes), bytes.size()) << qPrintable(path);
}

}  // namespace quillet::test
