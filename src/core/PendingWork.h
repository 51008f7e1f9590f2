// Keeps track of asynchronous jobs that must not be lost at quit (the history writes) and lets
// the quit path wait for them with an upper bound:
//
//   pending.run([=] { return store->add(png); });              // QFuture<void>
//   pending.waitUntilDone(3s).then(this, [](bool allDone) { ... quit ... });
//
// Main thread only. Every waiter is answered exactly once: true when the last job ends (a job
// started during the wait extends it), false when its own time-out comes first.
#pragma once

#include "core/Async.h"

#include <QHash>
#include <QObject>
#include <QUuid>

#include <chrono>
#include <functional>

class QTimer;

namespace quillet {

class PendingWork : public QObject {
    Q_OBJECT
public:
    using Job = std::function<QFuture<void>()>;

    explicit PendingWork(QObject* parent = nullptr);
    ~PendingWork() override;

    // Starts `work` at once and tracks it until its future finishes.
    void run(Job work);
    QFuture<bool> waitUntilDone(std::chrono::milliseconds timeout);

    qsizetype runningCount() const { return tasks.size(); }

private:
    void jobFinished(const QUuid& id);
    void finishWaiting(const QUuid& id, bool allDone);

    struct Waiter {
        SharedPromise<bool> continuation;
        QTimer* timer = nullptr;
    };
    QHash<QUuid, QObject*> tasks;  // the watcher of each running job
    QHash<QUuid, Waiter> waiters;
};

}  // namespace quillet
