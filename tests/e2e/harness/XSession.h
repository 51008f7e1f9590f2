// A private X session for end-to-end tests: its own Xvfb on a display number of its own, a
// window manager (openbox), a tray host (tint2), optionally a compositing manager (picom), and
// the screen optionally split into several displays with RandR monitors. HOME and the XDG
// folders point into a temporary folder. Everything started is stopped again, also when a test
// fails or the test process dies (children get SIGKILL when their parent goes).
//
// A test file chooses its session once, before QApplication exists:
//
//   QUILLET_E2E_SESSION({.monitors = {{0, 0, 1920, 1080}, {1920, 0, 1920, 1080}}});
//   TEST(Overlay, ShowsOnBothDisplays) { auto& x = XSession::current(); ... }
//
// A benchmark that needs a display uses the same macro; bench_main starts the session then.
#pragma once

#include "e2e/harness/Xvfb.h"

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QProcess>
#include <QRect>
#include <QStringList>
#include <QTemporaryDir>

#include <chrono>
#include <functional>
#include <memory>

namespace quillet::e2e {

using namespace std::chrono_literals;

struct SessionOptions {
    // The displays, in global coordinates; the X screen is their bounding box. One entry means
    // one display covering the whole screen.
    QList<QRect> monitors = {QRect(0, 0, 1920, 1080)};
    bool compositor = false;  // run picom (xrender backend)
    bool trayHost = true;
    bool windowManager = true;
};

struct RunResult {
    int exitCode = -1;
    bool timedOut = false;
    QByteArray out;
    QByteArray err;
    bool ok() const { return !timedOut && exitCode == 0; }
};

class XSession {
public:
    static XSession& current();

    bool start(const SessionOptions& options);
    void stop();

    // The temporary folder HOME points to; XDG folders are inside it.
    QString home() const { return homeDir ? homeDir->path() : QString(); }
    QProcessEnvironment environment() const;

    // Runs a program to completion on this display.
    RunResult run(const QString& program, const QStringList& arguments, std::chrono::milliseconds timeout = 20s);
    // Starts a program in the background (in `environment`, when one is given); it is stopped
    // with the session or by stopProcess().
    QProcess* startProcess(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment = {});
    void stopProcess(QProcess* process);

    RunResult xdotool(const QStringList& arguments) { return run(QStringLiteral("xdotool"), arguments); }
    // The clipboard's contents for `target` as pasted by xclip; empty with a failed result when
    // nobody answers.
    RunResult xclipOut(const QString& target, std::chrono::milliseconds timeout = 20s);
    // Another program's copy: xclip takes CLIPBOARD with `text` and stays behind as its owner.
    bool xclipCopyText(const QString& text);
    // A grab of the whole root window, through ImageMagick's import.
    QImage importRoot();

    bool hasSelectionOwner(const char* selection) const;

    // Spins the Qt event loop (when there is one) until `condition` holds or the deadline ends.
    static bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 20s);

private:
    bool setMonitors(const QList<QRect>& monitors);
    QString displayName;
    std::unique_ptr<QTemporaryDir> homeDir;
    QList<QProcess*> processes;  // newest last; stopped in reverse order
    std::unique_ptr<Xvfb> xvfb;
};

// Set by QUILLET_E2E_SESSION before main runs.
SessionOptions& registeredSessionOptions();
bool& sessionRegistered();

struct SessionRegistration {
    explicit SessionRegistration(SessionOptions options) {
        registeredSessionOptions() = std::move(options);
        sessionRegistered() = true;
    }
};

}  // namespace quillet::e2e

#define QUILLET_E2E_SESSION(...) \
    static const ::quillet::e2e::SessionRegistration quilletE2ESessionRegistration(::quillet::e2e::SessionOptions __VA_ARGS__)
