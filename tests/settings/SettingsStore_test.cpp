// The settings record's rules (validation, the sides a trigger may take), the store over a
// preferences store (what loads, what falls back, what an update writes) and the launch at
// login kept in step with the desktop.
#include "settings/LaunchAtLogin.h"
#include "settings/SettingsStore.h"
#include "settings/TriggerRules.h"

#include "fakes/FakePreferences.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

using namespace quillet;
using fakes::FakePreferences;

namespace {

constexpr Trigger controlAny{ModifierKey::control, KeySide::any};
constexpr Trigger controlLeft{ModifierKey::control, KeySide::left};
constexpr Trigger controlRight{ModifierKey::control, KeySide::right};
constexpr Trigger shiftRight{ModifierKey::shift, KeySide::right};

std::optional<SettingsError> errorOf(std::optional<Trigger> region, std::optional<Trigger> fullScreen,
                                     RetentionPolicy retention = RetentionPolicy::days(30)) {
    AppSettings settings = AppSettings::standard();
    settings.regionTrigger = region;
    settings.fullScreenTrigger = fullScreen;
    settings.retention = retention;
    const auto valid = settings.validate();
    return valid ? std::nullopt : std::optional(valid.error());
}

QMap<QString, FakePreferences::Value> nonDefaultValues() {
    return {
        {QStringLiteral("regionTrigger"), QByteArray(R"({"key":"command","side":"left"})")},
        {QStringLiteral("fullScreenTrigger"), QByteArray(R"({"key":"shift","side":"right"})")},
        {QStringLiteral("playShutterSound"), false},  // "showPreview" missing: it stays on
        {QStringLiteral("launchAtLogin"), false},
        {QStringLiteral("historyFolder"), QStringLiteral("/media/disk/Снимки/")},
        {QStringLiteral("retention"), QByteArray(R"({"days":{"_0":90}})")},
    };
}

const AppSettings nonDefaultSettings{Trigger{ModifierKey::command, KeySide::left}, shiftRight, true, false, false,
                                     QStringLiteral("/media/disk/Снимки"), RetentionPolicy::days(90)};

// What loads from the non-default values with `changes` laid over them; loading writes nothing.
AppSettings loadedWith(const QMap<QString, FakePreferences::Value>& changes) {
    FakePreferences preferences;
    preferences.values = nonDefaultValues();
    preferences.values.insert(changes);
    const auto before = preferences.values;
    const AppSettings loaded = SettingsStore(preferences, std::nullopt).current();
    EXPECT_EQ(preferences.values, before);
    EXPECT_TRUE(preferences.writes.isEmpty());
    return loaded;
}

}  // namespace

TEST(SettingsStore, LoadsStoredValuesAndDefaultsForMissingOnesWithoutWriting) {
    FakePreferences empty;
    EXPECT_EQ(SettingsStore(empty, std::nullopt).current(), AppSettings::standard());
    EXPECT_TRUE(empty.writes.isEmpty());
    EXPECT_EQ(loadedWith({}), nonDefaultSettings);
}

TEST(SettingsStore, DamagedEntriesFallBackOneByOneAndOverlappingTriggersAsAPair) {
    struct Case {
        QString key;
        FakePreferences::Value value;
    };
    const QList<Case> cases{
        {QStringLiteral("regionTrigger"), QStringLiteral(R"({"key":"shift","side":"any"})")},  // text, not bytes
        {QStringLiteral("retention"), QByteArray(R"({"days":{"_0":7},"forever":{}})")},
        {QStringLiteral("retention"), QByteArray(R"({"days":{"_0":-5}})")},  // decodes, out of range
        {QStringLiteral("retention"), QByteArray(R"({"days":{"_0":1e20}})")},
        {QStringLiteral("launchAtLogin"), QStringLiteral("no")},
        {QStringLiteral("historyFolder"), QStringLiteral("")},
        {QStringLiteral("historyFolder"), QStringLiteral("Pictures/Elsewhere")},
    };
    for (const Case& damaged : cases) {
        AppSettings expected = nonDefaultSettings;
        const AppSettings standard = AppSettings::standard();
        if (damaged.key == u"regionTrigger") expected.regionTrigger = standard.regionTrigger;
        if (damaged.key == u"retention") expected.retention = standard.retention;
        if (damaged.key == u"launchAtLogin") expected.launchAtLogin = true;
        if (damaged.key == u"historyFolder") expected.historyFolder = standard.historyFolder;

        EXPECT_EQ(loadedWith({{damaged.key, damaged.value}}), expected) << damaged.key.toStdString();
    }
    // Stored overlapping, or overlapping once a damaged one fell back: the pair falls back.
    AppSettings expected = nonDefaultSettings;
    expected.regionTrigger = AppSettings::standard().regionTrigger;
    expected.fullScreenTrigger = AppSettings::standard().fullScreenTrigger;
    for (const auto& [region, fullScreen] :
         {std::pair{R"({"key":"command","side":"left"})", R"({"key":"command","side":"any"})"},
          std::pair{R"({"key":"hyper","side":"any"})", R"({"key":"control","side":"right"})"}}) {
        EXPECT_EQ(loadedWith({{QStringLiteral("regionTrigger"), QByteArray(region)},
                              {QStringLiteral("fullScreenTrigger"), QByteArray(fullScreen)}}),
                  expected)
            << region;
    }
}

TEST(SettingsStore, UpdateWritesOnlyWhatChangedThenAnnouncesAndARefusedOneNothing) {
    FakePreferences preferences;
    preferences.values = nonDefaultValues();
    preferences.values.insert(QStringLiteral("regionTrigger"), QStringLiteral("off"));
    preferences.values.insert(QStringLiteral("retention"), QByteArray(R"({"days":{"_0":-5}})"));
    SettingsStore store(preferences, std::nullopt);
    ASSERT_EQ(store.current().regionTrigger, std::nullopt);
    const auto before = preferences.values;

    QList<AppSettings> announced;
    QObject::connect(&store, &SettingsStore::changed, [&](const AppSettings& now) {
        EXPECT_EQ(store.current(), now);
        EXPECT_EQ(preferences.synchronizations, int(announced.size()) + 1) << "saved before the listener hears of it";
        announced << now;
    });
    // An unchanged or a refused update neither saves nor announces.
    ASSERT_TRUE(store.update(store.current()).has_value());
    AppSettings overlapping = store.current();
    overlapping.regionTrigger = Trigger{ModifierKey::shift, KeySide::any};
    overlapping.retention = RetentionPolicy::days(366);
    const auto refused = store.update(overlapping);
    ASSERT_FALSE(refused.has_value());
    EXPECT_EQ(refused.error(), SettingsError::overlappingTriggers);
    EXPECT_TRUE(preferences.writes.isEmpty() && announced.isEmpty());

    AppSettings next = store.current();
    next.showPreview = false;
    ASSERT_TRUE(store.update(next).has_value());
    EXPECT_EQ(preferences.writes, QStringList{QStringLiteral("set showPreview")});
    auto expected = before;
    expected.insert(QStringLiteral("showPreview"), false);
    EXPECT_EQ(preferences.values, expected) << "the folder and the unusable retention are left as they are";

    // One trigger changed: both are written, since they only load as a pair.
    preferences.writes.clear();
    next.fullScreenTrigger = Trigger{ModifierKey::option, KeySide::left};
    ASSERT_TRUE(store.update(next).has_value());
    EXPECT_EQ(preferences.writes, (QStringList{QStringLiteral("set regionTrigger"), QStringLiteral("set fullScreenTrigger")}));
    EXPECT_EQ(preferences.string(QStringLiteral("regionTrigger")), QStringLiteral("off"));
    EXPECT_EQ(preferences.data(QStringLiteral("fullScreenTrigger")), QByteArray(R"({"key":"option","side":"left"})"));
    EXPECT_EQ(announced.size(), 2);
    EXPECT_EQ(announced.last(), next);

    // The folder back to the default, under another spelling: the key goes.
    EXPECT_TRUE(store.userChoseHistoryFolder());
    next.historyFolder = AppSettings::defaultHistoryFolder() + QStringLiteral("/");
    ASSERT_TRUE(store.update(next).has_value());
    EXPECT_FALSE(preferences.contains(QStringLiteral("historyFolder")));
    EXPECT_FALSE(store.userChoseHistoryFolder());
}

TEST(SettingsStore, AdoptsAHistoryAtTheOlderLocationOnlyWhenNoFolderIsStored) {
    QTemporaryDir older;
    ASSERT_TRUE(older.isValid());
    FakePreferences withoutIndex;
    const SettingsStore notAdopting(withoutIndex, older.path());
    EXPECT_TRUE(withoutIndex.writes.isEmpty());

    test::writeFile(older.filePath(QStringLiteral(".history.json")), {});
    FakePreferences adopting;
    EXPECT_EQ(SettingsStore(adopting, older.path()).current().historyFolder, older.path());
    EXPECT_EQ(adopting.string(QStringLiteral("historyFolder")), older.path());

    FakePreferences alreadyChosen;  // any value wins, even one that does not read as a folder
    alreadyChosen.values.insert(QStringLiteral("historyFolder"), QStringLiteral(""));
    const SettingsStore keeping(alreadyChosen, older.path());
    EXPECT_TRUE(alreadyChosen.writes.isEmpty());
}

TEST(AppSettings, ValidationRefusesOverlapFirstThenRetention) {
    EXPECT_TRUE(AppSettings::standard().validate().has_value());
    EXPECT_EQ(errorOf(controlLeft, controlRight), std::nullopt);
    EXPECT_EQ(errorOf(std::nullopt, controlAny), std::nullopt);
    EXPECT_EQ(errorOf(controlLeft, controlAny), SettingsError::overlappingTriggers);
    EXPECT_EQ(errorOf(shiftRight, shiftRight), SettingsError::overlappingTriggers);

    for (const std::int64_t days : {1, 365}) {
        EXPECT_EQ(errorOf(controlAny, std::nullopt, RetentionPolicy::days(days)), std::nullopt);
    }
    EXPECT_EQ(errorOf(controlAny, std::nullopt, RetentionPolicy::forever()), std::nullopt);
    for (const std::int64_t days : {0, 366, -5}) {
        EXPECT_EQ(errorOf(controlAny, std::nullopt, RetentionPolicy::days(days)), SettingsError::retentionOutOfRange);
    }
    EXPECT_EQ(errorOf(controlAny, controlAny, RetentionPolicy::days(0)), SettingsError::overlappingTriggers);
}

TEST(TriggerRules, OfferOnlyWhatTheOtherTriggerLeavesFree) {
    using Sides = QList<KeySide>;
    EXPECT_EQ(TriggerRules::availableSides(ModifierKey::control, controlLeft), Sides{KeySide::right});
    EXPECT_EQ(TriggerRules::availableSides(ModifierKey::option, controlLeft), (Sides{KeySide::any, KeySide::left, KeySide::right}));
    EXPECT_TRUE(TriggerRules::availableSides(ModifierKey::control, controlAny).isEmpty());
    EXPECT_EQ(TriggerRules::availableKeys(controlAny),
              (QList<ModifierKey>{ModifierKey::option, ModifierKey::command, ModifierKey::shift}));
    EXPECT_EQ(TriggerRules::availableKeys(controlRight).size(), 4);  // Control still has its left key
}

// A trigger stays as it is unless another side of its key clears an overlap.
TEST(TriggerRules, AdjustedKeepsTheKeyAndClearsEveryAvoidableOverlap) {
    for (const ModifierKey key : allModifierKeys) {
        for (const KeySide side : allKeySides) {
            for (const ModifierKey otherKey : allModifierKeys) {
                for (const KeySide otherSide : allKeySides) {
                    const Trigger trigger{key, side};
                    const Trigger other{otherKey, otherSide};
                    const bool noSideFree = TriggerRules::availableSides(key, other).isEmpty();
                    const Trigger result = TriggerRules::adjusted(trigger, other);
                    EXPECT_EQ(result.key, key);
                    EXPECT_EQ(result.overlaps(other), noSideFree);
                    EXPECT_EQ(result == trigger, !trigger.overlaps(other) || noSideFree);
                }
            }
        }
    }
}

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

TEST_F(LaunchAtLoginTest, FirstLaunchAppliesTheSettingOnceItSucceededAndRemembersIt) {
    failEverySwitch();
    test::LogCapture log;
    launchAtLogin.syncAtLaunch(launch());
    EXPECT_FALSE(preferences.contains(appliedOnce));
    EXPECT_TRUE(settings->current().launchAtLogin) << "the checkbox keeps what the user wants";
    EXPECT_EQ(log.lines, QStringList{failureLine});
    EXPECT_EQ(switches(), 1);

    loginItem.failure.reset();
    launchAtLogin.syncAtLaunch(launch());
    EXPECT_EQ(loginItem.current, LoginItemStatus::enabled) << "the next launch registers after all (on by default)";
    EXPECT_EQ(preferences.boolean(appliedOnce), true);

    // A stored "off" wins over an item left from an earlier install, and only `true` means done.
    preferences.values = {{QStringLiteral("launchAtLogin"), false}, {appliedOnce, QStringLiteral("yes")}};
    launchAtLogin.syncAtLaunch(launch());
    EXPECT_EQ(loginItem.current, LoginItemStatus::notRegistered);
    EXPECT_EQ(preferences.boolean(appliedOnce), true);
    EXPECT_TRUE(announced.isEmpty());
}

TEST_F(LaunchAtLoginTest, LaterLaunchesTakeWhatTheSystemSaysAndApplyAsksItOnlyWhenItDiffers) {
    EXPECT_TRUE(launchAtLogin.apply(false));
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
    EXPECT_TRUE(launchAtLogin.apply(true));  // the system's "requires approval" counts as on
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
