#include "ui/tray/PermissionsNotice.h"

#include <QMessageBox>

namespace quillet {

PermissionsNotice::~PermissionsNotice() { delete window; }

void PermissionsNotice::showWindow() {
    if (!window) {
        window = new QMessageBox(QMessageBox::Information, QStringLiteral("Разрешения Quillet"), QString());
        window->setAttribute(Qt::WA_DeleteOnClose);
        window->setModal(false);
    }
    const bool input = inputMonitoringGranted();
    window->setText(QStringLiteral("<b>Запись экрана</b> — разрешено.<br>Чтобы делать снимки экрана.<br><br>"
                                   "<b>Мониторинг ввода</b> — %1.<br>Чтобы замечать двойное нажатие Control или Option. "
                                   "Приложение не читает, что вы печатаете.")
                        .arg(input ? QStringLiteral("разрешено")
                                   : QStringLiteral("недоступно: X-сервер не поддерживает расширение XInput 2")));
    window->show();
    window->raise();
    window->activateWindow();
}

}  // namespace quillet
