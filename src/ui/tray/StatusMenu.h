// The application's only permanent interface: the tray icon and its menu. The menu starts
// captures, opens the history and settings windows, offers the permissions guide while
// something is missing, carries the history warning, and quits. It knows nothing of the rest
// of the program and calls back through the on... callbacks; an item whose callback is not set
// is disabled.
//
//   StatusMenu menu(settings, permissions, panelTheme);
//   menu.onCaptureRegion = [&] { coordinator.captureRegion(); };
//   menu.refresh();
//
// Items, top to bottom: the warning and its separator (while there is one), "Выдать
// разрешения…" and its separator (while a permission is missing), the two captures with their
// double press in the shortcut column, history, settings, quit. Main thread only.
#pragma once

#include "core/Types.h"
#include "settings/AppSettings.h"
#include "ui/tray/PermissionsChecking.h"

#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>

#include <functional>
#include <optional>

namespace quillet {

class PanelThemeQuerying;

class StatusMenu : public QObject {
    Q_OBJECT
public:
    // `panelTheme` may be null: the icon is then drawn in a neutral grey.
    StatusMenu(const SettingsReading& settings, const PermissionsChecking& permissions, PanelThemeQuerying* panelTheme,
               QObject* parent = nullptr);
    ~StatusMenu() override;

    std::function<void()> onCaptureRegion;
    std::function<void()> onCaptureFullScreen;
    std::function<void()> onGrantPermissions;
    std::function<void()> onShowHistory;
    std::function<void()> onShowSettings;
    // Quitting must wait for history writes, so the owner takes it; unset, the application quits.
    std::function<void()> onQuit;
    // Told each time the menu is about to open, before it refreshes: a tray application is
    // rarely the active one, so opening its menu is the user's sign of attention.
    std::function<void()> onOpen;

    // Puts the icon into the tray. Without a tray host it says so once in the log; the icon
    // appears by itself should a host start later.
    void show();

    // Visibility, titles and enabled states from the settings, the permissions and the
    // callbacks. Also runs every time the menu opens.
    void refresh();
    // A message shows "!" on the icon and the message as the menu's first, disabled item; no
    // message removes both.
    void showHistoryWarning(const std::optional<QString>& message);

    // The double press as the shortcut column shows it: "Ctrl ×2", "Alt ×2 слева".
    static QString menuSymbol(const Trigger& trigger);

    QMenu& menu() { return contextMenu; }
    bool hasBadge() const { return warningShown; }
    QIcon icon() const { return statusItem.icon(); }

private:
    void redrawIcon();
    void call(const std::function<void()>& callback) const;

    const SettingsReading& settings;
    const PermissionsChecking& permissions;
    PanelThemeQuerying* panelTheme;

    QSystemTrayIcon statusItem;
    QMenu contextMenu;
    QAction* historyWarningItem = nullptr;
    QAction* historyWarningSeparator = nullptr;
    QAction* permissionsItem = nullptr;
    QAction* permissionsSeparator = nullptr;
    QAction* regionItem = nullptr;
    QAction* fullScreenItem = nullptr;
    QAction* historyItem = nullptr;
    QAction* settingsItem = nullptr;
    QAction* quitItem = nullptr;
    bool warningShown = false;
    QColor drawnInk;
};

}  // namespace quillet
