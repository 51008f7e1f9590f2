// Quillet lives in the system tray: no main window, and closing a window never quits it.
#include "app/AppDelegate.h"
#include "app/ProcessMemory.h"
#include "core/Logging.h"
#include "platform/loader/PlatformLoader.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
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
    quillet::returnLargeBuffersToTheSystem();
    // The back-end is chosen once, before Qt picks a platform of its own.
    const quillet::PlatformChoice choice =
        quillet::choosePlatform([](const char* name) { return qEnvironmentVariable(name); });
    if (choice.backend == quillet::PlatformBackend::none) {
        std::fprintf(stderr, "quillet: %s\n", qUtf8Printable(choice.message));
        return EXIT_FAILURE;
    }
    qputenv("QT_QPA_PLATFORM", choice.qtPlatform);
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Quillet"));
    QApplication::setApplicationName(QStringLiteral("Quillet"));
    // Every text of Quillet's own is Russian, so Qt's dialogs and standard buttons are too.
    QTranslator qtTexts;
    if (qtTexts.load(QLocale(QLocale::Russian), QStringLiteral("qtbase"), QStringLiteral("_"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QApplication::installTranslator(&qtTexts);
    }
    QApplication::setDesktopFileName(QStringLiteral("org.quillet.Quillet"));
    QApplication::setQuitOnLastWindowClosed(false);

    if (!choice.message.isEmpty()) qCWarning(lcApp).noquote() << choice.message;
    const std::unique_ptr<quillet::PlatformServices> platform = quillet::loadPlatform(choice);
    quillet::AppDelegate delegate(*platform);
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
