// Waiting in tests: spin the event loop until a condition holds, with a deadline, never a
// fixed sleep; a gate that holds background work back; whole files read and written; what is
// logged; a painted test image.
#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QFont>
#include <QFuture>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QStringList>
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

// Writes `bytes` to `path` and returns the path.
inline QString writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size()) << qPrintable(path);
    return path;
}

// Collects what is logged while it lives, as "<category> <level>: <text>", so a test can check
// that a failure was reported where and how it should be.
class LogCapture {
public:
    LogCapture() : previous(qInstallMessageHandler(&LogCapture::handle)) { active = this; }
    ~LogCapture() {
        qInstallMessageHandler(previous);
        active = nullptr;
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    QStringList lines;

    // The texts logged in one category at one level, in order.
    QStringList texts(const char* category, QtMsgType type) const {
        const QString prefix = QStringLiteral("%1 %2: ").arg(QLatin1String(category), QLatin1String(levels[type]));
        QStringList found;
        for (const QString& line : lines) {
            if (line.startsWith(prefix)) found << line.mid(prefix.size());
        }
        return found;
    }

private:
    static constexpr const char* levels[] = {"debug", "warning", "critical", "fatal", "info"};
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& text) {
        active->lines << QStringLiteral("%1 %2: %3").arg(QLatin1String(context.category), QLatin1String(levels[type]), text);
    }
    static inline LogCapture* active = nullptr;
    QtMessageHandler previous;
};

// A picture of one colour, where only its size or a plain background matters.
inline QImage filledImage(int width, int height, QColor colour = QColor(90, 120, 150)) {
    QImage picture(width, height, QImage::Format_RGB32);
    picture.fill(colour);
    return picture;
}

// Images for codec and clipboard tests: a painted pattern with text, gradients and hard edges,
// opaque or with translucent areas, in any QImage format.
inline QImage patternImage(QSize size, QImage::Format format = QImage::Format_RGB32, bool translucent = false) {
    QImage canvas(size, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(translucent ? Qt::transparent : QColor(250, 250, 250));
    QPainter painter(&canvas);
    QLinearGradient gradient(0, 0, size.width(), size.height());
    gradient.setColorAt(0, QColor(20, 90, 200, translucent ? 90 : 255));
    gradient.setColorAt(1, QColor(230, 120, 30, translucent ? 200 : 255));
    painter.fillRect(QRect(0, 0, size.width(), size.height() / 2 + 1), gradient);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(200, 30, 60, translucent ? 128 : 255));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QRectF(size.width() * 0.4, size.height() * 0.3, size.width() * 0.5, size.height() * 0.6));
    painter.setPen(QColor(10, 10, 10));
    painter.setFont(QFont(QStringLiteral("DejaVu Sans"), 9));
    painter.drawText(QRect(QPoint(2, size.height() / 2), size), QStringLiteral("Снимок экрана 0123 Quillet"));
    painter.end();
    return canvas.convertToFormat(format);
}

}  // namespace quillet::test
