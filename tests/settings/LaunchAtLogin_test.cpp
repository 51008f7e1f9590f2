#include "settings/LaunchAtLogin.h"

#include "support/LogCapture.h"
#include "fakes/FakeLoginItem.h"
#include "fakes/FakePreferences.h"

#include <gtest/gtest.h>

#include <memory>

using namespace quillet;

namespace {

const QString appliedOnce = QStringLiteral("launchAtLoginAppliedOnce");
const QString failureLine = QStringLiteral(
    "quillet.launch-at-login critical: Автозапуск не переключился: /home/u/.config/autostart: Read-only file system");

// The store and the launch-at-login handling wired as the application wires them: every
// accepted change goes through applyChange.
class LaunchAtLoginTest : public ::testing::Test {
protected:
    // Loads the settings from what the test put into `preferences`, as a launch does.
    SettingsStore& launch() {
        settings = std::make_unique<SettingsStore>(preferences, std::nullopt);
        AppSettings applied = settings->current();
        QObject::connect(settings.get(), &SettingsStore::changed, [this, applied](const AppSettings& now) mutable {
            announced << now.launchAtLogin;
            launchAtLogin.applyChange(std::exchange(applied, now), now, *settings);
        });
        return *settings;
    }
    void failEverySwitch() { loginItem.failure = LoginItemError{QStringLiteral("/home/u/.config/autostart: Read-only file system")}; }
    int switches() const { return loginItem.registrations + loginItem.unregistrations; }

    fakes::FakePreferences preferences;
    fakes::FakeLoginItem loginItem;
    LaunchAtLogin launchAtLogin{loginItem};
    std::unique_ptr<SettingsStore> settings;
    QList<bool> announced;
};

}  // namespace

TEST_F(LaunchAtLoginTest, ApplyAsksTheSystemOnlyWhenItDiffersAndReportsFailure) {
    EXPECT_TRUE(launchAtLogin.apply(false));
    loginItem.current = LoginItemStatus::requiresApproval;  // counts as on
    EXPECT_TRUE(launchAtLogin.apply(true));
    EXPECT_EQ(switches(), 0);

    failEverySwitch();
    test::LogCapture log;
    EXPECT_FALSE(launchAtLogin.apply(false));
    EXPECT_EQ(loginItem.unregistrations, 1);
    EXPECT_EQ(log.lines, QStringList{failureLine});
}

TEST_F(LaunchAtLoginTest, FirstLaunchAppliesTheSettingAndRemembersIt) {
    launchAtLogin.syncAtLaunch(launch());
    EXPECT_EQ(loginItem.current, LoginItemStatus::enabled);  // on by default
    EXPECT_EQ(preferences.boolean(appliedOnce), true);

    // A stored "off" wins over an item left from an earlier install, and only `true` means done.
    preferences.values = {{QStringLiteral("launchAtLogin"), false}, {appliedOnce, QStringLiteral("yes")}};
    launchAtLogin.syncAtLaunch(launch());
    EXPECT_EQ(loginItem.current, LoginItemStatus::notRegistered);
    EXPECT_EQ(preferences.boolean(appliedOnce), true);
    EXPECT_TRUE(announced.isEmpty());
}

TEST_F(LaunchAtLoginTest, FailedFirstLaunchKeepsTheChoiceAndRegistersNextTime) {
    failEverySwitch();
    test::LogCapture log;
    launchAtLogin.syncAtLaunch(launch());
    EXPECT_FALSE(preferences.contains(appliedOnce));
    EXPECT_TRUE(settings->current().launchAtLogin) << "the checkbox keeps what the user wants";
    EXPECT_TRUE(announced.isEmpty());
    EXPECT_EQ(log.lines, QStringList{failureLine});
    EXPECT_EQ(switches(), 1);

    loginItem.failure.reset();
    launchAtLogin.syncAtLaunch(launch());
    EXPECT_EQ(preferences.boolean(appliedOnce), true);
    EXPECT_EQ(loginItem.current, LoginItemStatus::enabled) << "the next launch registers after all";
}

TEST_F(LaunchAtLoginTest, LaterLaunchesTakeWhatTheSystemSays) {
    for (const bool stored : {true, false}) {
        preferences.values = {{QStringLiteral("launchAtLogin"), stored}, {appliedOnce, true}};
        loginItem.current = stored ? LoginItemStatus::notRegistered : LoginItemStatus::requiresApproval;
        announced.clear();
        launchAtLogin.syncAtLaunch(launch());
        EXPECT_EQ(settings->current().launchAtLogin, !stored);
        EXPECT_EQ(preferences.boolean(QStringLiteral("launchAtLogin")), !stored);
        EXPECT_EQ(announced, QList<bool>{!stored});
    }
    preferences.writes.clear();
    launchAtLogin.syncAtLaunch(launch());  // in step: nothing to do
    EXPECT_TRUE(preferences.writes.isEmpty());
    EXPECT_EQ(switches(), 0);
}

TEST_F(LaunchAtLoginTest, ChangedSettingSwitchesTheItemOrIsPutBackWhenThatFails) {
    SettingsStore& store = launch();
    loginItem.current = LoginItemStatus::enabled;
    AppSettings next = store.current();
    next.launchAtLogin = false;
    ASSERT_TRUE(store.update(next).has_value());
    EXPECT_EQ(loginItem.current, LoginItemStatus::notRegistered);
    next.showPreview = false;  // leaves the switch alone: the system is not asked
    ASSERT_TRUE(store.update(next).has_value());
    EXPECT_EQ(switches(), 1);

    failEverySwitch();
    test::LogCapture log;
    announced.clear();
    next.launchAtLogin = true;
    ASSERT_TRUE(store.update(next).has_value());
    EXPECT_FALSE(store.current().launchAtLogin);
    EXPECT_EQ(preferences.boolean(QStringLiteral("launchAtLogin")), false);
    EXPECT_EQ(announced, (QList<bool>{true, false}));
    EXPECT_EQ(log.lines, QStringList{failureLine});
}
