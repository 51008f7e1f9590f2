#include "ui/settings/SettingsWindow.h"

#include <QCloseEvent>

namespace quillet {

SettingsWindow::SettingsWindow(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint) {
    setWindowTitle(QStringLiteral("Настройки Quillet"));
}

void SettingsWindow::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    if (event->isAccepted()) Q_EMIT closed();
}

}  // namespace quillet
