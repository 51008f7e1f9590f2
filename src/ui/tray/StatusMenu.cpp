#include "ui/tray/StatusMenu.h"

#include "core/Logging.h"
#include "platform/PanelThemeQuerying.h"
#include "ui/tray/TrayIconArt.h"
#include "ui/widgets/InvokeCallback.h"
#include "ui/widgets/KeyNames.h"

#include <QCoreApplication>

namespace quillet {

namespace {

QString titled(const QString& text, const std::optional<Trigger>& trigger) {
    // Qt's menus draw what follows a tab right-aligned in the shortcut column.
    return trigger ? text + QLatin1Char('\t') + StatusMenu::menuSymbol(*trigger) : text;
}

}  // namespace

QString StatusMenu::menuSymbol(const Trigger& trigger) {
    QString symbol = KeyNames::title(trigger.key) + QStringLiteral(" ×2");
    if (trigger.side == KeySide::left) symbol += QStringLiteral(" слева");
    if (trigger.side == KeySide::right) symbol += QStringLiteral(" справа");
    return symbol;
}

StatusMenu::StatusMenu(const SettingsReading& settings, const PermissionsChecking& permissions,
                       PanelThemeQuerying* panelTheme, QObject* parent)
    : QObject(parent), settings(settings), permissions(permissions), panelTheme(panelTheme) {
    historyWarningItem = contextMenu.addAction(QString());
    historyWarningItem->setEnabled(false);
    historyWarningSeparator = contextMenu.addSeparator();
    permissionsItem = contextMenu.addAction(QStringLiteral("Выдать разрешения…"));
    permissionsSeparator = contextMenu.addSeparator();
    regionItem = contextMenu.addAction(QStringLiteral("Снимок области"));
    fullScreenItem = contextMenu.addAction(QStringLiteral("Снимок экрана"));
    contextMenu.addSeparator();
    historyItem = contextMenu.addAction(QStringLiteral("История…"));
    historyItem->setShortcut(QKeySequence(QStringLiteral("Ctrl+Y")));
    settingsItem = contextMenu.addAction(QStringLiteral("Настройки…"));
    settingsItem->setShortcut(QKeySequence(QStringLiteral("Ctrl+,")));
    contextMenu.addSeparator();
    quitItem = contextMenu.addAction(QStringLiteral("Выйти Quillet"));
    quitItem->setShortcut(QKeySequence(QStringLiteral("Ctrl+Q")));

    connect(permissionsItem, &QAction::triggered, this, [this] { call(onGrantPermissions); });
    connect(regionItem, &QAction::triggered, this, [this] { call(onCaptureRegion); });
    connect(fullScreenItem, &QAction::triggered, this, [this] { call(onCaptureFullScreen); });
    connect(historyItem, &QAction::triggered, this, [this] { call(onShowHistory); });
    connect(settingsItem, &QAction::triggered, this, [this] { call(onShowSettings); });
    connect(quitItem, &QAction::triggered, this, [this] {
        if (onQuit) {
            call(onQuit);
        } else {
            QCoreApplication::quit();
        }
    });
    connect(&contextMenu, &QMenu::aboutToShow, this, [this] {
        invokeCallback(onOpen);
        refresh();
    });

    statusItem.setToolTip(QStringLiteral("Quillet"));
    statusItem.setContextMenu(&contextMenu);
    // A left click opens the same menu: the icon has nothing else to offer.
    connect(&statusItem, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger) contextMenu.popup(QCursor::pos());
    });
    showHistoryWarning(std::nullopt);
    refresh();
}

StatusMenu::~StatusMenu() { statusItem.hide(); }

void StatusMenu::show() {
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        qCInfo(lcApp).noquote() << QStringLiteral(
            "Области уведомлений нет: значок Quillet не показан, снимки делаются двойным нажатием");
    }
    statusItem.show();
}

void StatusMenu::call(const std::function<void()>& callback) const {
    // Menu actions run once the menu has closed, on the main thread.
    invokeCallback(callback);
}

void StatusMenu::refresh() {
    const bool allGranted = permissions.allGranted();
    permissionsItem->setVisible(!allGranted);
    permissionsSeparator->setVisible(!allGranted);

    const AppSettings current = settings.current();
    regionItem->setText(titled(QStringLiteral("Снимок области"), current.regionTrigger));
    fullScreenItem->setText(titled(QStringLiteral("Снимок экрана"), current.fullScreenTrigger));

    permissionsItem->setEnabled(static_cast<bool>(onGrantPermissions));
    regionItem->setEnabled(static_cast<bool>(onCaptureRegion));
    fullScreenItem->setEnabled(static_cast<bool>(onCaptureFullScreen));
    historyItem->setEnabled(static_cast<bool>(onShowHistory));
    settingsItem->setEnabled(static_cast<bool>(onShowSettings));

    // The panel may have switched between light and dark since the icon was drawn.
    const QColor ink = (panelTheme ? panelTheme->trayForeground() : std::nullopt).value_or(TrayIconArt::neutralInk);
    if (ink != drawnInk) redrawIcon();
}

void StatusMenu::showHistoryWarning(const std::optional<QString>& message) {
    warningShown = message.has_value();
    historyWarningItem->setText(message.value_or(QString()));
    historyWarningItem->setVisible(warningShown);
    historyWarningSeparator->setVisible(warningShown);
    statusItem.setToolTip(warningShown ? QStringLiteral("Quillet — ") + *message : QStringLiteral("Quillet"));
    redrawIcon();
}

void StatusMenu::redrawIcon() {
    drawnInk = (panelTheme ? panelTheme->trayForeground() : std::nullopt).value_or(TrayIconArt::neutralInk);
    statusItem.setIcon(TrayIconArt::icon(drawnInk, warningShown));
}

}  // namespace quillet
