#include "settings/LaunchAtLogin.h"

#include "LogCapture.h"
#include "fakes/FakeLoginItem.h"
#include "fakes/FakePreferences.h"

#include <gtest/gtest.h>

#include <memory>

using namespace quillet;
using fakes::FakeLoginItem;
using fakes::FakePreferences;

namespace {

const QString appliedOnce = QStringLiteral("launchAtLoginAppliedOnce");
const LoginItemError readOnlyFolder{QStringLiteral("/home/u/.config/autostart: Read-only file system")};
const QString failureLine =
    QStringLiteral("quillet.launch-at-login critical: Автозапуск не переключился: /home/u/.config/autostart: Read-only file system");

// The store and the launch-at-login handling wired the way the application wires them: every
// accepted change goes through applyChange.
struct Wiring {
    FakePreferences preferences;
    FakeLoginItem loginItem;
    LaunchAtLogin launchAtLogin{loginItem};
    std::unique_ptr<SettingsStore> settings;
    AppSettings applied;
    QList<bool> announced;

    // Loads the settings from what the test put into `preferences`, as a launch does.
    SettingsStore& launch() {
        settings = std::make_unique<SettingsStore>(preferences, std::nullopt);
        applied = settings->current();
        settings->onChange = [this](const AppSettings& now) {
            announced << now.launchAtLogin;
            const AppSettings old = applied;
            applied = now;
            launchAtLogin.applyChange(old, now, *settings);
        };
        return *settings;
    }
    void storeLaunchAtLogin(bool value) { preferences.values.insert(QStringLiteral("launchAtLogin"), value); }
};

}  // namespace

TEST(LaunchAtLogin, ApplyCallsTheSystemOnlyWhenTheStateDiffers) {
    FakeLoginItem loginItem;
    LaunchAtLogin launchAtLogin(loginItem);
    EXPECT_TRUE(launchAtLogin.apply(false));
    EXPECT_EQ(loginItem.unregistrations, 0);

    EXPECT_TRUE(launchAtLogin.apply(true));
    EXPECT_EQ(loginItem.registrations, 1);
    EXPECT_TRUE(launchAtLogin.apply(true));
    EXPECT_EQ(loginItem.registrations, 1);

    loginItem.current = LoginItemStatus::requiresApproval;  // counts as on
    EXPECT_TRUE(launchAtLogin.isEnabled());
    EXPECT_TRUE(launchAtLogin.apply(true));
    EXPECT_EQ(loginItem.registrations, 1);
    EXPECT_TRUE(launchAtLogin.apply(false));
    EXPECT_EQ(loginItem.unregistrations, 1);
    EXPECT_FALSE(launchAtLogin.isEnabled());
}

TEST(LaunchAtLogin, ApplyFailureIsLoggedAndReported) {
    FakeLoginItem loginItem;
    loginItem.failure = readOnlyFolder;
    LaunchAtLogin launchAtLogin(loginItem);
    test::LogCapture log;
    EXPECT_FALSE(launchAtLogin.apply(true));
    EXPECT_EQ(log.lines, QStringList{failureLine});
}

TEST(LaunchAtLogin, FirstLaunchRegistersAndRemembersIt) {
    Wiring wiring;
    SettingsStore& settings = wiring.launch();
    wiring.launchAtLogin.syncAtLaunch(settings);
    EXPECT_EQ(wiring.loginItem.current, LoginItemStatus::enabled);
    EXPECT_EQ(wiring.preferences.boolean(appliedOnce), true);
    EXPECT_TRUE(settings.current().launchAtLogin);
    EXPECT_TRUE(wiring.announced.isEmpty());
}

TEST(LaunchAtLogin, FirstLaunchAppliesTheStoredChoiceEvenOverTheSystem) {
    Wiring wiring;
    wiring.storeLaunchAtLogin(false);
    wiring.preferences.values.insert(appliedOnce, QStringLiteral("yes please"));  // not a true boolean
    wiring.loginItem.current = LoginItemStatus::enabled;  // left over from an earlier install
    SettingsStore& settings = wiring.launch();
    wiring.launchAtLogin.syncAtLaunch(settings);
    EXPECT_EQ(wiring.loginItem.current, LoginItemStatus::notRegistered);
    EXPECT_EQ(wiring.preferences.boolean(appliedOnce), true);
    EXPECT_FALSE(settings.current().launchAtLogin);
}

TEST(LaunchAtLogin, FailedFirstLaunchCorrectsTheSettingAndTriesAgainNextTime) {
    Wiring wiring;
    wiring.loginItem.failure = readOnlyFolder;
    SettingsStore& settings = wiring.launch();
    test::LogCapture log;
    wiring.launchAtLogin.syncAtLaunch(settings);

    EXPECT_FALSE(wiring.preferences.contains(appliedOnce));
    EXPECT_FALSE(settings.current().launchAtLogin);
    EXPECT_EQ(wiring.preferences.boolean(QStringLiteral("launchAtLogin")), false);
    EXPECT_EQ(wiring.announced, QList<bool>{false});
    EXPECT_EQ(log.lines, QStringList{failureLine});  // the correction itself switches nothing
    EXPECT_EQ(wiring.loginItem.registrations, 1);
    EXPECT_EQ(wiring.loginItem.unregistrations, 0);

    // Next launch: still the first run as far as the login item is concerned.
    wiring.loginItem.failure.reset();
    wiring.launchAtLogin.syncAtLaunch(wiring.launch());
    EXPECT_EQ(wiring.preferences.boolean(appliedOnce), true);
}

TEST(LaunchAtLogin, LaterLaunchesTakeTheSystemsState) {
    for (const bool stored : {true, false}) {
        Wiring wiring;
        wiring.preferences.values.insert(appliedOnce, true);
        wiring.storeLaunchAtLogin(stored);
        wiring.loginItem.current = stored ? LoginItemStatus::notRegistered : LoginItemStatus::requiresApproval;
        SettingsStore& settings = wiring.launch();
        wiring.launchAtLogin.syncAtLaunch(settings);

        EXPECT_EQ(settings.current().launchAtLogin, !stored);
        EXPECT_EQ(wiring.preferences.boolean(QStringLiteral("launchAtLogin")), !stored);
        EXPECT_EQ(wiring.announced, QList<bool>{!stored});
        EXPECT_EQ(wiring.loginItem.registrations + wiring.loginItem.unregistrations, 0) << "the system is not touched";
    }
}

TEST(LaunchAtLogin, LaterLaunchInStepChangesNothing) {
    Wiring wiring;
    wiring.preferences.values.insert(appliedOnce, true);
    wiring.loginItem.current = LoginItemStatus::enabled;
    wiring.launchAtLogin.syncAtLaunch(wiring.launch());
    EXPECT_TRUE(wiring.announced.isEmpty());
    EXPECT_TRUE(wiring.preferences.writes.isEmpty());
}

TEST(LaunchAtLogin, ChangedSettingSwitchesTheItem) {
    Wiring wiring;
    wiring.loginItem.current = LoginItemStatus::enabled;
    SettingsStore& settings = wiring.launch();
    AppSettings next = settings.current();
    next.launchAtLogin = false;
    ASSERT_TRUE(settings.update(next).has_value());
    EXPECT_EQ(wiring.loginItem.current, LoginItemStatus::notRegistered);

    next.showPreview = false;  // a change that leaves the switch alone does not touch the system
    ASSERT_TRUE(settings.update(next).has_value());
    EXPECT_EQ(wiring.loginItem.registrations + wiring.loginItem.unregistrations, 1);
}

TEST(LaunchAtLogin, FailedSwitchPutsTheRealStateBackIntoTheSettings) {
    Wiring wiring;
    wiring.storeLaunchAtLogin(false);
    wiring.loginItem.failure = readOnlyFolder;
    SettingsStore& settings = wiring.launch();
    test::LogCapture log;

    AppSettings next = settings.current();
    next.launchAtLogin = true;
    ASSERT_TRUE(settings.update(next).has_value());

    EXPECT_FALSE(settings.current().launchAtLogin);
    EXPECT_EQ(wiring.preferences.boolean(QStringLiteral("launchAtLogin")), false);
    EXPECT_EQ(wiring.announced, (QList<bool>{true, false}));
    EXPECT_EQ(wiring.loginItem.registrations, 1);
    EXPECT_EQ(log.lines, QStringList{failureLine});
}
