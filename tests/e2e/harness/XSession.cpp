#include "e2e/harness/XSession.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QThread>

#include <xcb/xcb.h>

#include <cstring>
#include <cstdio>
#include <cstdlib>

namespace quillet::e2e {

SessionOptions& registeredSessionOptions() {
    static SessionOptions options;
    return options;
}

bool& sessionRegistered() {
    static bool registered = false;
    return registered;
}

XSession& XSession::current() {
    static XSession session;
    return session;
}

bool XSession::waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    QDeadlineTimer deadline(timeout);
    while (!condition()) {
        if (deadline.hasExpired()) return false;
        if (QCoreApplication::instance()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(2);
    }
    return true;
}

bool XSession::start(const SessionOptions& options) {
    homeDir = std::make_unique<QTemporaryDir>();
    if (!homeDir->isValid()) return false;
    for (const char* sub : {"config", "cache", "data", "runtime", "Pictures"}) QDir(home()).mkpath(QLatin1String(sub));
    QFile::setPermissions(home() + QStringLiteral("/runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    QRect bounds;
    for (const QRect& monitor : options.monitors) bounds = bounds.united(monitor);
    xvfb = std::make_unique<Xvfb>();
    if (!xvfb->start(QSize(bounds.right() + 1, bounds.bottom() + 1),
                     words(QStringLiteral("+extension RANDR +extension RECORD +extension Composite")))) {
        return false;
    }
    displayName = xvfb->display();
    // Everything from here on, this process included, talks to the private server only.
    qputenv("DISPLAY", displayName.toUtf8());
    qputenv("HOME", home().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home() + QStringLiteral("/config")).toUtf8());
    qputenv("XDG_CACHE_HOME", (home() + QStringLiteral("/cache")).toUtf8());
    qputenv("XDG_DATA_HOME", (home() + QStringLiteral("/data")).toUtf8());
    qputenv("XDG_RUNTIME_DIR", (home() + QStringLiteral("/runtime")).toUtf8());
    qputenv("TMPDIR", home().toUtf8());
    qunsetenv("WAYLAND_DISPLAY");
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");

    if (options.monitors.size() > 1 && !setMonitors(options.monitors)) return false;
    // The compositor comes before the tray host: tint2 restarts itself when one appears later,
    // and its task bar would be missing for a moment.
    const struct {
        bool wanted;
        QString program;
        QStringList arguments;
        const char* selection;
    } helpers[] = {
        {options.windowManager, QStringLiteral("openbox"), {QStringLiteral("--sm-disable")}, "WM_S0"},
        {options.compositor, QStringLiteral("picom"), {QStringLiteral("--backend"), QStringLiteral("xrender")}, "_NET_WM_CM_S0"},
        {options.trayHost, QStringLiteral("tint2"), words(QStringLiteral("-c /etc/xdg/tint2/tint2rc")), "_NET_SYSTEM_TRAY_S0"},
    };
    for (const auto& helper : helpers) {
        if (!helper.wanted) continue;
        startProcess(helper.program, helper.arguments);
        if (!waitUntil([&] { return hasSelectionOwner(helper.selection); })) {
            std::fprintf(stderr, "e2e: %s did not take %s\n", qPrintable(helper.program), helper.selection);
            return false;
        }
    }
    return true;
}

bool XSession::setMonitors(const QList<QRect>& monitors) {
    // The first monitor is bound to the output; otherwise RandR keeps its automatic full-screen
    // monitor and Qt sees it as one more screen.
    int index = 0;
    for (const QRect& monitor : monitors) {
        const QString geometry = QStringLiteral("%1/%2x%3/%4+%5+%6")
                                     .arg(monitor.width())
                                     .arg(monitor.width() * 254 / 960)
                                     .arg(monitor.height())
                                     .arg(monitor.height() * 254 / 960)
                                     .arg(monitor.x())
                                     .arg(monitor.y());
        const QString name = QStringLiteral("E2E-%1").arg(index);
        const QString output = index == 0 ? QStringLiteral("screen") : QStringLiteral("none");
        if (!run(QStringLiteral("xrandr"), {QStringLiteral("--setmonitor"), name, geometry, output}).ok()) return false;
        ++index;
    }
    const RunResult list = run(QStringLiteral("xrandr"), {QStringLiteral("--listmonitors")});
    return list.ok() && list.out.startsWith(QStringLiteral("Monitors: %1").arg(index).toLatin1());
}

bool XSession::hasSelectionOwner(const char* selection) const {
    xcb_connection_t* connection = xcb_connect(displayName.toLatin1().constData(), nullptr);
    const auto atom = std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)>(
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, std::strlen(selection), selection), nullptr), &std::free);
    const auto owner = std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&std::free)>(
        atom ? xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, atom->atom), nullptr) : nullptr,
        &std::free);
    const bool owned = owner && owner->owner != XCB_NONE;
    xcb_disconnect(connection);
    return owned;
}

QProcessEnvironment XSession::environment() const {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), displayName);
    return environment;
}

RunResult XSession::run(const QString& program, const QStringList& arguments, std::chrono::milliseconds timeout) {
    QProcess process;
    dieWithParent(process);
    process.setProcessEnvironment(environment());
    process.start(program, arguments);
    RunResult result;
    if (!process.waitForStarted(10000)) {
        result.err = program.toUtf8() + " did not start";
        return result;
    }
    process.closeWriteChannel();
    // Waits in small steps so that this process can keep answering X requests (a paste asked
    // of this very process needs its event loop).
    const bool finished = waitUntil([&] {
        process.waitForFinished(5);  // lets QProcess see the exit even without an event loop
        result.out += process.readAllStandardOutput();
        return process.state() == QProcess::NotRunning;
    }, timeout);
    if (!finished) {
        result.timedOut = true;
        process.kill();
        process.waitForFinished(2000);
    }
    result.out += process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return result;
}

QProcess* XSession::startProcess(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment) {
    auto* process = new QProcess;
    dieWithParent(*process);
    process->setProcessEnvironment(environment.isEmpty() ? this->environment() : environment);
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->setStandardOutputFile(QProcess::nullDevice());
    process->start(program, arguments);
    process->waitForStarted(10000);
    processes << process;
    return process;
}

void XSession::stopProcess(QProcess* process) {
    if (!processes.removeOne(process)) return;
    if (process->state() != QProcess::NotRunning) {
        process->terminate();
        if (!process->waitForFinished(3000)) {
            process->kill();
            process->waitForFinished(3000);
        }
    }
    delete process;
}

RunResult XSession::xclipOut(const QString& target, std::chrono::milliseconds timeout) {
    return run(QStringLiteral("xclip"), words(QStringLiteral("-selection clipboard -o -t")) << target, timeout);
}

bool XSession::xclipCopyText(const QString& text) {
    // xclip stays behind as the selection owner; it is tracked so the session stops it.
    QProcess* process = startProcess(QStringLiteral("xclip"), words(QStringLiteral("-selection clipboard -i")));
    process->write(text.toUtf8());
    process->waitForBytesWritten(10000);  // without an event loop the text would stay in our buffer
    process->closeWriteChannel();
    return process->state() != QProcess::NotRunning || process->exitCode() == 0;
}

QImage XSession::importRoot() {
    const RunResult result = run(QStringLiteral("/usr/bin/import"), words(QStringLiteral("-silent -window root png:-")));
    if (!result.ok()) return {};
    return QImage::fromData(result.out, "PNG");
}

void XSession::stop() {
    while (!processes.isEmpty()) stopProcess(processes.back());
    xvfb.reset();
    homeDir.reset();
}

}  // namespace quillet::e2e
