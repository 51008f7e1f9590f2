#include "settings/SettingsStore.h"

#include "fakes/FakePreferences.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace quillet;
using fakes::FakePreferences;

namespace {

constexpr Trigger controlAny{ModifierKey::control, KeySide::any};
constexpr Trigger controlLeft{ModifierKey::control, KeySide::left};
constexpr Trigger optionAny{ModifierKey::option, KeySide::any};
constexpr Trigger shiftRight{ModifierKey::shift, KeySide::right};

QByteArray bytes(const char* text) { return QByteArray(text); }

// A record that differs from the defaults in every field.
AppSettings everythingChanged(const QString& folder) {
    AppSettings settings;
    settings.regionTrigger = std::nullopt;
    settings.fullScreenTrigger = shiftRight;
    settings.showPreview = false;
    settings.playShutterSound = false;
    settings.launchAtLogin = false;
    settings.historyFolder = folder;
    settings.retention = RetentionPolicy::forever();
    return settings;
}

}  // namespace

TEST(SettingsStore, EmptyStoreLoadsTheDefaultsAndWritesNothing) {
    FakePreferences preferences;
    SettingsStore store(preferences, std::nullopt);
    EXPECT_EQ(store.current(), AppSettings::standard());
    EXPECT_FALSE(store.userChoseHistoryFolder());
    EXPECT_TRUE(preferences.writes.isEmpty());
    EXPECT_EQ(preferences.synchronizations, 0);
}

TEST(SettingsStore, LoadsEveryStoredKind) {
    FakePreferences preferences;
    preferences.values = {
        {QStringLiteral("regionTrigger"), QStringLiteral("off")},
        {QStringLiteral("fullScreenTrigger"), bytes(R"({"key":"shift","side":"right"})")},
        {QStringLiteral("playShutterSound"), false},  // "showPreview" missing: stays on
        {QStringLiteral("launchAtLogin"), true},
        {QStringLiteral("historyFolder"), QStringLiteral("/media/disk/Снимки/")},
        {QStringLiteral("retention"), bytes(R"({"days":{"_0":7}})")},
    };
    SettingsStore store(preferences, std::nullopt);
    const AppSettings loaded = store.current();
    EXPECT_EQ(loaded.regionTrigger, std::nullopt);
    EXPECT_EQ(loaded.fullScreenTrigger, shiftRight);
    EXPECT_TRUE(loaded.showPreview);
    EXPECT_FALSE(loaded.playShutterSound);
    EXPECT_TRUE(loaded.launchAtLogin);
    EXPECT_EQ(loaded.historyFolder, QStringLiteral("/media/disk/Снимки"));
    EXPECT_EQ(loaded.retention, RetentionPolicy::days(7));
    EXPECT_TRUE(store.userChoseHistoryFolder());
    EXPECT_TRUE(preferences.writes.isEmpty());
}

TEST(SettingsStore, DamagedEntriesFallBackOneByOne) {
    struct Case {
        const char* what;
        QString key;
        FakePreferences::Value value;
    };
    const QList<Case> cases{
        {"unknown modifier key", QStringLiteral("regionTrigger"), bytes(R"({"key":"hyper","side":"any"})")},
        {"unknown side", QStringLiteral("regionTrigger"), bytes(R"({"key":"shift","side":"middle"})")},
        {"not JSON", QStringLiteral("regionTrigger"), bytes("{\"key\":")},
        {"JSON but not an object", QStringLiteral("regionTrigger"), bytes(R"(["shift","right"])")},
        {"missing side", QStringLiteral("regionTrigger"), bytes(R"({"key":"shift"})")},
        {"text other than off", QStringLiteral("regionTrigger"), QStringLiteral(R"({"key":"shift","side":"any"})")},
        {"trigger stored as boolean", QStringLiteral("regionTrigger"), false},
        {"retention with two keys", QStringLiteral("retention"), bytes(R"({"days":{"_0":7},"forever":{}})")},
        {"retention with no key", QStringLiteral("retention"), bytes("{}")},
        {"fractional days", QStringLiteral("retention"), bytes(R"({"days":{"_0":7.5}})")},
        {"retention as text", QStringLiteral("retention"), QStringLiteral(R"({"forever":{}})")},
        {"boolean stored as text", QStringLiteral("showPreview"), QStringLiteral("no")},
        {"empty folder", QStringLiteral("historyFolder"), QStringLiteral("")},
        {"relative folder", QStringLiteral("historyFolder"), QStringLiteral("Pictures/Elsewhere")},
        {"folder as bytes", QStringLiteral("historyFolder"), bytes("/media/disk")},
    };
    for (const Case& damaged : cases) {
        // Every other key holds a valid non-default value that must survive the damaged one.
        FakePreferences preferences;
        preferences.values = {
            {QStringLiteral("regionTrigger"), bytes(R"({"key":"command","side":"left"})")},
            {QStringLiteral("fullScreenTrigger"), bytes(R"({"key":"shift","side":"right"})")},
            {QStringLiteral("showPreview"), false},
            {QStringLiteral("playShutterSound"), false},
            {QStringLiteral("launchAtLogin"), false},
            {QStringLiteral("historyFolder"), QStringLiteral("/media/disk/history")},
            {QStringLiteral("retention"), bytes(R"({"days":{"_0":90}})")},
        };
        preferences.values.insert(damaged.key, damaged.value);
        const auto before = preferences.values;

        SettingsStore store(preferences, std::nullopt);
        const AppSettings loaded = store.current();
        const AppSettings standard = AppSettings::standard();
        AppSettings expected = {Trigger{ModifierKey::command, KeySide::left}, shiftRight, false, false, false,
                                QStringLiteral("/media/disk/history"), RetentionPolicy::days(90)};
        if (damaged.key == u"regionTrigger") expected.regionTrigger = standard.regionTrigger;
        if (damaged.key == u"retention") expected.retention = standard.retention;
        if (damaged.key == u"showPreview") expected.showPreview = true;
        if (damaged.key == u"historyFolder") expected.historyFolder = standard.historyFolder;
        EXPECT_EQ(loaded, expected) << damaged.what;
        EXPECT_TRUE(preferences.writes.isEmpty()) << damaged.what;
        EXPECT_EQ(preferences.values, before) << damaged.what;
    }
}

TEST(SettingsStore, InvalidCombinationLoadsTheCompleteDefaults) {
    struct Case {
        const char* what;
        const char* fullScreenTrigger;
        const char* retention;
    };
    for (const Case& invalid : {Case{"overlapping triggers", R"({"key":"control","side":"any"})", R"({"days":{"_0":30}})"},
                                Case{"retention out of range", R"({"key":"shift","side":"any"})", R"({"days":{"_0":0}})"}}) {
        FakePreferences preferences;
        preferences.values = {
            {QStringLiteral("regionTrigger"), bytes(R"({"key":"control","side":"left"})")},
            {QStringLiteral("fullScreenTrigger"), bytes(invalid.fullScreenTrigger)},
            {QStringLiteral("showPreview"), false},
            {QStringLiteral("historyFolder"), QStringLiteral("/media/disk/history")},
            {QStringLiteral("retention"), bytes(invalid.retention)},
        };
        SettingsStore store(preferences, std::nullopt);
        EXPECT_EQ(store.current(), AppSettings::standard()) << invalid.what;
        EXPECT_TRUE(preferences.writes.isEmpty()) << invalid.what;
    }
}

TEST(SettingsStore, UpdateSavesEveryKeyInOrderThenAnnounces) {
    FakePreferences preferences;
    preferences.values.insert(QStringLiteral("regionTrigger"), QStringLiteral("off"));
    SettingsStore store(preferences, std::nullopt);

    QList<AppSettings> announced;
    QStringList writesSeenByListener;
    store.onChange = [&](const AppSettings& now) {
        announced << now;
        EXPECT_EQ(store.current(), now);  // already in force when the listener runs
        writesSeenByListener = preferences.writes;
    };
    AppSettings next = store.current();
    next.showPreview = false;
    ASSERT_TRUE(store.update(next).has_value());

    ASSERT_EQ(announced.size(), 1);
    EXPECT_EQ(announced.front(), next);
    const QStringList everyKey{
        QStringLiteral("set regionTrigger"),    QStringLiteral("set fullScreenTrigger"),
        QStringLiteral("set showPreview"),      QStringLiteral("set playShutterSound"),
        QStringLiteral("set launchAtLogin"),    QStringLiteral("remove historyFolder"),
        QStringLiteral("set retention"),
    };
    EXPECT_EQ(preferences.writes, everyKey);
    EXPECT_EQ(writesSeenByListener, everyKey);
    EXPECT_EQ(preferences.synchronizations, 1);
    // "off" is written back as text, triggers and retention as their JSON bytes.
    EXPECT_EQ(preferences.string(QStringLiteral("regionTrigger")), QStringLiteral("off"));
    EXPECT_EQ(preferences.data(QStringLiteral("fullScreenTrigger")), bytes(R"({"key":"option","side":"any"})"));
    EXPECT_EQ(preferences.boolean(QStringLiteral("showPreview")), false);
    EXPECT_EQ(preferences.boolean(QStringLiteral("playShutterSound")), true);
    EXPECT_EQ(preferences.data(QStringLiteral("retention")), bytes(R"({"days":{"_0":30}})"));
}

TEST(SettingsStore, UnchangedOrRefusedUpdatesNeitherSaveNorAnnounce) {
    FakePreferences preferences;
    SettingsStore store(preferences, std::nullopt);
    int announcements = 0;
    store.onChange = [&](const AppSettings&) { ++announcements; };

    EXPECT_TRUE(store.update(AppSettings::standard()).has_value());

    AppSettings overlapping = AppSettings::standard();
    overlapping.fullScreenTrigger = controlLeft;
    overlapping.showPreview = false;
    const auto refused = store.update(overlapping);
    ASSERT_FALSE(refused.has_value());
    EXPECT_EQ(refused.error(), SettingsError::overlappingTriggers);

    AppSettings tooLong = AppSettings::standard();
    tooLong.retention = RetentionPolicy::days(366);
    const auto alsoRefused = store.update(tooLong);
    ASSERT_FALSE(alsoRefused.has_value());
    EXPECT_EQ(alsoRefused.error(), SettingsError::retentionOutOfRange);

    EXPECT_EQ(announcements, 0);
    EXPECT_TRUE(preferences.writes.isEmpty());
    EXPECT_EQ(store.current(), AppSettings::standard());
}

TEST(SettingsStore, FolderBackToTheDefaultRemovesTheKey) {
    FakePreferences preferences;
    SettingsStore store(preferences, std::nullopt);
    AppSettings next = store.current();
    next.historyFolder = QStringLiteral("/media/disk/history");
    ASSERT_TRUE(store.update(next).has_value());
    EXPECT_EQ(preferences.string(QStringLiteral("historyFolder")), QStringLiteral("/media/disk/history"));
    EXPECT_TRUE(store.userChoseHistoryFolder());

    next.historyFolder = AppSettings::defaultHistoryFolder() + QStringLiteral("/");  // same folder, other spelling
    ASSERT_TRUE(store.update(next).has_value());
    EXPECT_FALSE(preferences.contains(QStringLiteral("historyFolder")));
    EXPECT_FALSE(store.userChoseHistoryFolder());
}

TEST(SettingsStore, AdoptsAHistoryLeftAtTheOlderLocationOnlyOnce) {
    QTemporaryDir older;
    ASSERT_TRUE(older.isValid());
    const QString olderFolder = older.filePath(QStringLiteral("Quillet"));
    ASSERT_TRUE(QDir().mkpath(olderFolder));

    {  // No index there yet: nothing to adopt.
        FakePreferences preferences;
        SettingsStore store(preferences, olderFolder);
        EXPECT_TRUE(preferences.writes.isEmpty());
        EXPECT_EQ(store.current().historyFolder, AppSettings::defaultHistoryFolder());
    }

    QFile index(QDir(olderFolder).filePath(QStringLiteral(".history.json")));
    ASSERT_TRUE(index.open(QIODevice::WriteOnly));
    index.write("[]");
    index.close();

    {
        FakePreferences preferences;
        SettingsStore store(preferences, olderFolder);
        EXPECT_EQ(preferences.string(QStringLiteral("historyFolder")), olderFolder);
        EXPECT_EQ(store.current().historyFolder, olderFolder);
        EXPECT_TRUE(store.userChoseHistoryFolder());
    }
    {  // Any value already there wins, even one that does not read as a folder.
        FakePreferences preferences;
        preferences.values.insert(QStringLiteral("historyFolder"), QStringLiteral(""));
        SettingsStore store(preferences, olderFolder);
        EXPECT_TRUE(preferences.writes.isEmpty());
        EXPECT_EQ(store.current().historyFolder, AppSettings::defaultHistoryFolder());
    }
}

TEST(SettingsStore, UpdateReplacesTheRecordEvenFromTheListener) {
    // The launch-at-login handling corrects the record from inside onChange; the inner update
    // must win and be announced too.
    FakePreferences preferences;
    SettingsStore store(preferences, std::nullopt);
    QList<bool> announced;
    store.onChange = [&](const AppSettings& now) {
        announced << now.launchAtLogin;
        if (!now.launchAtLogin) return;
        AppSettings corrected = now;
        corrected.launchAtLogin = false;
        EXPECT_TRUE(store.update(corrected).has_value());
    };
    AppSettings next = store.current();
    next.fullScreenTrigger = optionAny;
    next.regionTrigger = controlAny;
    next.launchAtLogin = true;
    next.showPreview = false;
    ASSERT_TRUE(store.update(next).has_value());
    EXPECT_EQ(announced, (QList<bool>{true, false}));
    EXPECT_FALSE(store.current().launchAtLogin);
    EXPECT_EQ(preferences.boolean(QStringLiteral("launchAtLogin")), false);
}

TEST(SettingsStore, EverythingChangedSurvivesAReload) {
    FakePreferences preferences;
    {
        SettingsStore store(preferences, std::nullopt);
        ASSERT_TRUE(store.update(everythingChanged(QStringLiteral("/media/disk/history"))).has_value());
    }
    SettingsStore reloaded(preferences, std::nullopt);
    EXPECT_EQ(reloaded.current(), everythingChanged(QStringLiteral("/media/disk/history")));
}
