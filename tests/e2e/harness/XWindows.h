// What end-to-end tests ask of the desktop besides the session itself: where the X server puts
// a window, the pointer and keys, plain windows in one colour, what a paste gives, the history
// folder the application writes, and a started application.
#pragma once

#include "e2e/harness/XSession.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QRegularExpression>
#include <QWidget>

#include <cstdint>

namespace quillet::e2e {

// What the X server says about a window, not what Qt believes.
struct XWindowState {
    std::uint32_t id = 0;
    QRect rect;  // the contents, in root coordinates
    bool viewable = false;
    std::uint32_t parent = 0;  // the window manager's frame, for a managed window
};

inline XWindowState xWindow(std::uint64_t id) {
    const QString info = QString::fromUtf8(
        XSession::current().run(QStringLiteral("xwininfo"), words(QStringLiteral("-stats -tree -id %1").arg(id))).out);
    const auto number = [&](const QString& name) {
        return QRegularExpression(QRegularExpression::escape(name) + QStringLiteral(":\\s*(-?\\d+)")).match(info).captured(1).toInt();
    };
    const QString parent = QRegularExpression(QStringLiteral("Parent window id: (0x[0-9a-f]+)")).match(info).captured(1);
    return {std::uint32_t(id),
            QRect(number(QStringLiteral("Absolute upper-left X")), number(QStringLiteral("Absolute upper-left Y")),
                  number(QStringLiteral("Width")), number(QStringLiteral("Height"))),
            info.contains(QStringLiteral("IsViewable")), parent.toUInt(nullptr, 16)};
}

// The visible windows `xdotool search` finds with `how` (for example --class quillet).
inline QList<XWindowState> visibleWindows(const QStringList& how) {
    QList<XWindowState> windows;
    const auto found = XSession::current().xdotool(QStringList{QStringLiteral("search"), QStringLiteral("--onlyvisible")} + how);
    for (const QByteArray& id : found.out.split('\n')) {
        if (const std::uint32_t n = id.trimmed().toUInt()) windows << xWindow(n);
    }
    return windows;
}

inline QList<XWindowState> windowsTitled(const QString& title) {
    return visibleWindows({QStringLiteral("--name"), QStringLiteral("^%1$").arg(title)});
}

// Types `names` (xdotool key names) on the keyboard.
inline void keys(const QStringList& names) {
    XSession::current().xdotool(QStringList{QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("80")} + names);
}

// Does `act` again and again until `done` holds within a few seconds of it: a freshly started
// application listens only after a moment, and a capture's flash may take a click.
inline bool retryUntil(const std::function<void()>& act, const std::function<bool()>& done, std::chrono::milliseconds each = 3s) {
    return XSession::waitUntil([&] {
        act();
        return XSession::waitUntil(done, each);
    }, 40s);
}

// Moves the pointer, then runs the xdotool commands in `then` (a click, a button down...).
inline void pointerTo(QPoint at, const QStringList& then = {}) {
    XSession::current().xdotool(QStringList{QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y())} + then);
}

// A drag with the left button from where the pointer is to `to`.
inline void dragTo(QPoint to) {
    XSession::current().xdotool(words(QStringLiteral("mousedown 1 mousemove %1 %2 mouseup 1").arg(to.x()).arg(to.y())));
}

inline std::uint32_t activeWindow() { return XSession::current().xdotool({QStringLiteral("getactivewindow")}).out.trimmed().toUInt(); }

inline void activate(std::uint32_t id) {
    XSession::current().xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::number(id)});
}

inline QString defaultHistoryFolder() { return XSession::current().home() + QStringLiteral("/Pictures/Quillet"); }

// The entries of a history folder's index, newest first; empty when there is none.
inline QJsonArray indexItems(const QString& folder = defaultHistoryFolder()) {
    QFile index(folder + QStringLiteral("/.history.json"));
    if (!index.open(QIODevice::ReadOnly)) return {};
    return QJsonDocument::fromJson(index.readAll()).object().value(QStringLiteral("items")).toArray();
}

// A started program that is stopped when the case ends, however it ends: a failed assertion
// must not leave an instance behind for the next case to hand its command line to.
class StartedProcess {
public:
    explicit StartedProcess(const QString& program, const QStringList& arguments = {},
                            const QProcessEnvironment& environment = {})
        : process(XSession::current().startProcess(program, arguments, environment)) {}
    ~StartedProcess() { XSession::current().stopProcess(process); }  // nothing left to do once stopped
    StartedProcess(const StartedProcess&) = delete;
    StartedProcess& operator=(const StartedProcess&) = delete;
    QProcess* operator->() const { return process; }
    operator QProcess*() const { return process; }

private:
    QProcess* process;
};

// Waits until a program ends; its exit code, -1 for a crash or a hang.
inline int exitCodeOf(QProcess* program) {
    const bool ended = XSession::waitUntil([&] { return program->state() == QProcess::NotRunning; }, 20s);
    return ended && program->exitStatus() == QProcess::NormalExit ? program->exitCode() : -1;
}

// Asks the application to quit as the desktop does at log-out (SIGTERM); its exit code.
inline int terminateApp(QProcess* app) {
    app->terminate();
    return exitCodeOf(app);
}

// What a program pasting `target` gets, as an image; null when nobody answers.
inline QImage pastedImage(const QString& target = QStringLiteral("image/png")) {
    const RunResult pasted = XSession::current().xclipOut(target);
    return pasted.ok() ? QImage::fromData(pasted.out) : QImage();
}

// A frameless window in one flat colour.
class FlatWindow : public QWidget {
public:
    FlatWindow(QRect geometry, QColor colour, Qt::WindowFlags extra = {}) : colour(colour) {
        setWindowFlags(Qt::Window | Qt::FramelessWindowHint | extra);
        setGeometry(geometry);
    }

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), colour); }

private:
    QColor colour;
};

}  // namespace quillet::e2e
