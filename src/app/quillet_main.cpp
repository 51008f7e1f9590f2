// Quillet lives in the system tray: no main window, and closing a window never quits it.
#include "core/Logging.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QPainter>
#include <QSystemTrayIcon>

#include <cstdio>
#include <cstdlib>

namespace {

QIcon trayIcon() {
    QPixmap pixmap(64, 64);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::white, 5));
    painter.setBrush(QColor(40, 120, 220));
    painter.drawRoundedRect(QRectF(6, 14, 52, 38), 8, 8);
    painter.drawEllipse(QPointF(32, 33), 10, 10);
    return QIcon(pixmap);
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

    QMenu menu;
    QObject::connect(menu.addAction(QStringLiteral("Выйти")), &QAction::triggered, &app, &QApplication::quit);
    QSystemTrayIcon tray(trayIcon());
    tray.setToolTip(QStringLiteral("Quillet"));
    tray.setContextMenu(&menu);
    tray.show();
    qCInfo(lcApp) << "Quillet started";
    return app.exec();
}
