// Plays the application for the at-exit test: puts the image of the PNG file given as argument
// on the clipboard through the real writer, waits until its standard input closes, resolves the
// promise and exits, so that Qt hands the bytes to the clipboard manager on the way out.
#include "clipboard/ClipboardWriter.h"
#include "core/ImageCodec.h"
#include "platform/desktop/QtPasteboard.h"
#include "platform/x11/ClipboardOwner.h"

#include <QGuiApplication>
#include <QSocketNotifier>

#include <cstdio>
#include <unistd.h>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    if (argc < 2) return 2;
    const std::optional<QImage> image = quillet::ImageCodec::decodeFile(QString::fromLocal8Bit(argv[1]));
    if (!image) return 3;

    quillet::QtPasteboard pasteboard(QGuiApplication::clipboard(), &quillet::ClipboardOwner::heldByThisClient);
    quillet::ClipboardWriter writer(pasteboard);
    writer.put(quillet::CapturedImage{*image, 1, quillet::CaptureKind::fullScreen}, quillet::PNGFuture(*image));

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char buffer[64];
        if (::read(STDIN_FILENO, buffer, sizeof buffer) > 0) return;
        input.setEnabled(false);
        writer.resolvePendingPromises();
        QGuiApplication::quit();
    });
    return app.exec();
}
