// Quillet lives in the system tray: no main window, and closing a window never quits it.
#include "app/AppDelegate.h"

#include <QApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onTerminate(int) {
    // Only a byte through a pipe here; the quit path runs on the event loop.
    const char byte = 1;
    (void)!::write(signalPipe[1], &byte, 1);
}

}  // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fprintf(stderr, "quillet: no X display (DISPLAY is not set); start it inside an X11 session.\n");
        return EXIT_FAILURE;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Quillet"));
    QApplication::setApplicationName(QStringLiteral("Quillet"));
    QApplication::setDesktopFileName(QStringLiteral("org.quillet.Quillet"));
    QApplication::setQuitOnLastWindowClosed(false);

    quillet::AppDelegate delegate;
    delegate.launch();

    // SIGTERM and SIGINT (a session ending, Ctrl-C) take the same quit path as the menu item,
    // so history writes finish and the clipboard stays pasteable.
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) == 0) {
        auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &delegate, [&delegate, notifier] {
            char byte;
            (void)!::read(signalPipe[0], &byte, 1);
            notifier->setEnabled(false);
            delegate.quit();
        });
        std::signal(SIGTERM, onTerminate);
        std::signal(SIGINT, onTerminate);
    }
    return app.exec();
}
