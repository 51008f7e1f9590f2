#include "core/PendingWork.h"

#include <QFutureWatcher>
#include <QTimer>

namespace quillet {

PendingWork::PendingWork(QObject* parent) : QObject(parent) {}

PendingWork::~PendingWork() {
    // Whoever still waits learns that not everything finished.
    for (const QUuid& id : waiters.keys()) finishWaiting(id, false);
}

void PendingWork::run(Job work) {
    const QUuid id = QUuid::createUuid();
    auto* watcher = new QFutureWatcher<void>(this);
    // The watcher reports completion through the event loop, also for a job that is already
    // done, so the entry below always exists when jobFinished() looks for it.
    connect(watcher, &QFutureWatcher<void>::finished, this, [this, id] { jobFinished(id); });
    tasks.insert(id, watcher);
    watcher->setFuture(work());
}

void PendingWork::jobFinished(const QUuid& id) {
    if (QObject* watcher = tasks.take(id)) watcher->deleteLater();
    if (!tasks.isEmpty()) return;
    for (const QUuid& waiter : waiters.keys()) finishWaiting(waiter, true);
}

QFuture<bool> PendingWork::waitUntilDone(std::chrono::milliseconds timeout) {
    if (tasks.isEmpty()) return readyFuture(true);
    const QUuid id = QUuid::createUuid();
    Waiter waiter;
    waiter.timer = new QTimer(this);
    waiter.timer->setSingleShot(true);
    waiter.timer->setTimerType(Qt::PreciseTimer);
    connect(waiter.timer, &QTimer::timeout, this, [this, id] { finishWaiting(id, false); });
    waiter.timer->start(timeout);
    waiters.insert(id, waiter);
    return waiter.continuation.future();
}

void PendingWork::finishWaiting(const QUuid& id, bool allDone) {
    // Whichever comes first, the last job or the time-out, finds the entry; the other finds
    // nothing, so each waiter is resumed exactly once.
    const auto entry = waiters.constFind(id);
    if (entry == waiters.constEnd()) return;
    Waiter waiter = *entry;
    waiters.erase(entry);
    waiter.timer->stop();
    waiter.timer->deleteLater();
    waiter.continuation.finish(allDone);
}

}  // namespace quillet
