#include "ui/tray/PermissionsWindow.h"

#include <QLabel>
#include <QVBoxLayout>

namespace quillet {

namespace {

struct RowTexts {
    Permission permission;
    QString title;
    QString explanation;
    QString hint;  // what the user can do, since no system pane exists
};

QList<RowTexts> rowTexts() {
    return {
        {Permission::screenRecording, QStringLiteral("Запись экрана"), QStringLiteral("Чтобы делать снимки экрана."),
         QStringLiteral("Система не даёт читать изображение экрана. Разрешите Quillet запись экрана в настройках "
                        "системы и запустите приложение заново.")},
        {Permission::inputMonitoring, QStringLiteral("Мониторинг ввода"),
         QStringLiteral("Чтобы замечать двойное нажатие Ctrl или Alt. Приложение не читает, что вы печатаете."),
         QStringLiteral("X-сервер не предлагает расширение XInput 2, без него двойное нажатие не слышно. Снимки "
                        "можно делать из меню Quillet в области уведомлений или назначить команды "
                        "«quillet --region» и «quillet --full-screen» клавишам в настройках системы.")},
        {Permission::removableVolumes, QStringLiteral("Съёмные тома"),
         QStringLiteral("Чтобы хранить историю снимков на внешнем диске."),
         QStringLiteral("Папка истории на внешнем диске недоступна. Проверьте, что диск подключён и у вас есть "
                        "права на запись в папку, или выберите другую папку в настройках Quillet.")},
    };
}

}  // namespace

PermissionsWindow::PermissionsWindow(QWidget* parent) : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Разрешения Quillet"));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(16);
    // Not resizable: the width is fixed and the height follows the content.
    layout->setSizeConstraint(QLayout::SetFixedSize);

    auto* intro = new QLabel(
        QStringLiteral("Чтобы снимать экран по двойному нажатию и хранить историю, приложению нужны разрешения системы."),
        this);
    intro->setWordWrap(true);
    QFont medium = intro->font();
    medium.setWeight(QFont::Medium);
    intro->setFont(medium);
    intro->setFixedWidth(420);
    layout->addWidget(intro);

    for (const RowTexts& texts : rowTexts()) {
        auto* row = new PermissionRow(texts.title, texts.explanation, texts.hint, this);
        row->setFixedWidth(420);
        rows.emplace(texts.permission, row);
        layout->addWidget(row);
    }

    auto* note = new QLabel(
        QStringLiteral("После выдачи «Записи экрана» система может предложить перезапустить приложение — согласитесь."),
        this);
    note->setWordWrap(true);
    note->setFixedWidth(420);
    QFont small = note->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    note->setFont(small);
    QPalette secondary = note->palette();
    secondary.setColor(QPalette::WindowText, secondary.color(QPalette::PlaceholderText));
    note->setPalette(secondary);
    layout->addWidget(note);
}

}  // namespace quillet
