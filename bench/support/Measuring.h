// What the window and latency benchmarks measure with: waiting in the event loop without adding
// to the process's CPU time, a watch for a window's first paint, and resident memory.
#pragma once

#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>

namespace quillet::bench {

// Sleeps in the event loop between events (a timer wakes it every millisecond), so waiting does
// not add to the process's CPU time.
inline bool spinUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    QTimer wake;
    wake.start(1);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// Notes a paint of any object `watched` accepts; installed on the application.
class PaintWatch : public QObject {
public:
    explicit PaintWatch(std::function<bool(QObject*)> watched) : watched(std::move(watched)) {}
    bool painted = false;

protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        if (event->type() == QEvent::Paint && watched(object)) painted = true;
        return false;
    }

private:
    std::function<bool(QObject*)> watched;
};

// One line of /proc/PID/status in MiB: "VmRSS" (resident now), "VmHWM" (the peak so far),
// "RssAnon", "RssShmem" (shared memory: grab segments, window buffers).
inline double statusMiB(qint64 pid, const char* field = "VmRSS") {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) return 0;
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(key)) return line.mid(key.size()).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return 0;
}

}  // namespace quillet::bench
