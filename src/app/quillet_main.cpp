// Quillet lives in the system tray: no main window, and closing a window never quits it. One
// copy runs per session; a later start hands its command line to it and exits.
#include "app/AppDelegate.h"
#include "app/ProcessMemory.h"
#include "app/CommandLine.h"
#include "app/SingleInstance.h"
#include "core/Async.h"
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

    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    const quillet::CommandLine line = quillet::CommandLine::parse(arguments);
    switch (line.action) {
    case quillet::CommandLine::Action::help:
    case quillet::CommandLine::Action::version:
        std::fputs(qUtf8Printable(line.text + QLatin1Char('\n')), stdout);
        return EXIT_SUCCESS;
    case quillet::CommandLine::Action::error:
        std::fprintf(stderr, "quillet: %s\n", qUtf8Printable(line.text));
        return 2;
    case quillet::CommandLine::Action::run: break;
    }

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

    quillet::SingleInstance instance(quillet::SingleInstance::defaultFolder());
    switch (instance.claim(arguments)) {
    case quillet::SingleInstance::Role::handedOver: return EXIT_SUCCESS;
    case quillet::SingleInstance::Role::failed:
        std::fprintf(stderr, "quillet: %s\n", qUtf8Printable(instance.errorText()));
        return EXIT_FAILURE;
    case quillet::SingleInstance::Role::primary: break;
    }

    if (!choice.message.isEmpty()) qCWarning(lcApp).noquote() << choice.message;
    const std::unique_ptr<quillet::PlatformServices> platform = quillet::loadPlatform(choice);
    quillet::AppDelegate delegate(*platform);
    QObject::connect(&instance, &quillet::SingleInstance::received, &delegate,
                     [&delegate](const QStringList& handed) { delegate.perform(quillet::CommandLine::parse(handed)); });
    delegate.launch();
    quillet::runOnMainThread(&delegate, [&delegate, line] { delegate.perform(line); });

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
