// Keeps the "launch at login" setting and the desktop's login item in step. The first launch
// registers the item as the settings say (on by default); on later launches a change made in
// the system wins over the stored setting. A switch that fails is logged and the setting is
// set back to what the system really does.
//
//   LaunchAtLogin launchAtLogin(loginItem);
//   launchAtLogin.syncAtLaunch(settings);                     // once, after start-up
//   launchAtLogin.applyChange(old, updated, settings);       // from the settings listener
//
// Main thread only.
#pragma once

#include "settings/LoginItemRegistering.h"
#include "settings/SettingsStore.h"

namespace quillet {

class LaunchAtLogin {
public:
    explicit LaunchAtLogin(LoginItemRegistering& loginItem) : loginItem(loginItem) {}

    // An item awaiting the user's approval counts as enabled: the user has nothing to switch.
    bool isEnabled() const;

    // Registers or unregisters the item unless it is already as asked. A failure is logged in
    // "quillet.launch-at-login" and returns false.
    [[nodiscard]] bool apply(bool enabled);

    // At start-up, with the settings loaded. The first launch that manages to apply the setting
    // remembers so under "launchAtLoginAppliedOnce"; until then each launch applies it again,
    // and the setting keeps the user's choice meanwhile.
    void syncAtLaunch(SettingsStore& settings);

    // After an accepted settings change: switches the item when the setting changed, and when
    // that fails writes the real state back through `settings` (which announces it again and
    // lands here once more, with nothing left to switch).
    void applyChange(const AppSettings& old, const AppSettings& updated, SettingsStore& settings);

private:
    void settleOnTheRealState(const AppSettings& from, SettingsStore& settings) const;

    LoginItemRegistering& loginItem;
};

}  // namespace quillet
