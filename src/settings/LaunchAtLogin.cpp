#include "settings/LaunchAtLogin.h"

#include "core/Logging.h"

namespace quillet {

namespace {

const QString appliedOnceKey = QStringLiteral("launchAtLoginAppliedOnce");

}  // namespace

bool LaunchAtLogin::isEnabled() const {
    const LoginItemStatus status = loginItem.status();
    return status == LoginItemStatus::enabled || status == LoginItemStatus::requiresApproval;
}

bool LaunchAtLogin::apply(bool enabled) {
    if (isEnabled() == enabled) return true;
    const Expected<void, LoginItemError> switched = enabled ? loginItem.registerItem() : loginItem.unregisterItem();
    if (!switched) {
        qCCritical(lcLaunchAtLogin).noquote()
            << QStringLiteral("Автозапуск не переключился: %1").arg(switched.error().description);
        return false;
    }
    return true;
}

void LaunchAtLogin::syncAtLaunch(SettingsStore& settings) {
    PreferencesStoring& defaults = settings.defaults();
    const AppSettings current = settings.current();
    if (defaults.boolean(appliedOnceKey) != true) {
        // A failure leaves the setting as the user wants it, so the next launch tries again;
        // turning it off here would make that retry apply "off" and never register.
        if (apply(current.launchAtLogin)) {
            defaults.setBoolean(appliedOnceKey, true);
            if (!defaults.synchronize()) qCWarning(lcApp) << "Настройки не удалось сохранить";
        }
        return;
    }
    // The user may have switched the item off (or on) in the desktop's own settings meanwhile.
    settleOnTheRealState(current, settings);
}

void LaunchAtLogin::applyChange(const AppSettings& old, const AppSettings& updated, SettingsStore& settings) {
    if (old.launchAtLogin == updated.launchAtLogin) return;
    if (!apply(updated.launchAtLogin)) settleOnTheRealState(updated, settings);
}

void LaunchAtLogin::settleOnTheRealState(const AppSettings& from, SettingsStore& settings) const {
    const bool real = isEnabled();
    if (from.launchAtLogin == real) return;
    AppSettings corrected = from;
    corrected.launchAtLogin = real;
    // Only the switch differs from a record the store already accepted; it cannot be refused.
    (void)settings.update(corrected);
}

}  // namespace quillet
