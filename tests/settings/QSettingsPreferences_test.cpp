// The settings over the real QSettings file: every field survives it, a hand-edited or broken
// file loads with fallbacks and is never lost, and an unwritable one keeps the change in memory.
#include "settings/QSettingsPreferences.h"
#include "settings/SettingsStore.h"

#include "support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace quillet;
using test::readFile;

namespace {

class QSettingsPreferencesTest : public ::testing::Test {
protected:
    void writeFile(const QByteArray& bytes) { test::writeFile(file, bytes); }
    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("Quillet.conf"));
};

}  // namespace

TEST_F(QSettingsPreferencesTest, EveryFieldSurvivesTheFile) {
    const AppSettings chosen{std::nullopt, Trigger{ModifierKey::shift, KeySide::right}, false, false, false,
                             QStringLiteral("/media/диск/Мои снимки, \"старые\" @2024"), RetentionPolicy::forever()};
    {
        QSettingsPreferences preferences(file);
        ASSERT_TRUE(SettingsStore(preferences, std::nullopt).update(chosen).has_value());
    }
    const QByteArray text = readFile(file);
    EXPECT_TRUE(text.contains("regionTrigger=off\n") && text.contains("showPreview=false\n")) << text.constData();

    QSettingsPreferences again(file);
    EXPECT_EQ(SettingsStore(again, std::nullopt).current(), chosen);
}

TEST_F(QSettingsPreferencesTest, HandEditedFileLoadsWithFallbacksAndKeepsWhatItDoesNotKnow) {
    const QByteArray handEdited =
        "[General]\n"
        "regionTrigger={\"key\":\"shift\",\"side\":\"right\"}\n"  // typed as text: not a trigger
        "showPreview=maybe\n"
        "playShutterSound=False\n"
        "launchAtLogin=0\n"
        "windowGeometry=kept by another version\n";
    writeFile(handEdited);
    QSettingsPreferences preferences(file);
    SettingsStore store(preferences, std::nullopt);
    AppSettings expected = AppSettings::standard();
    expected.playShutterSound = false;
    expected.launchAtLogin = false;
    EXPECT_EQ(store.current(), expected);
    preferences.synchronize();
    EXPECT_EQ(readFile(file), handEdited);

    expected.showPreview = false;
    ASSERT_TRUE(store.update(expected).has_value());
    EXPECT_EQ(QSettingsPreferences(file).string(QStringLiteral("windowGeometry")), QStringLiteral("kept by another version"));
    EXPECT_FALSE(QFile::exists(file + QStringLiteral(".bak")));
}

// A file that does not parse is copied aside before it is rewritten; an unwritable one keeps the
// change for this run. Either way one warning says so.
TEST_F(QSettingsPreferencesTest, ABrokenOrUnwritableFileLosesNothingAndSaysSo) {
    const QByteArray broken = "[General]\nshowPreview=false\n\x01\x02 stray line\n[unterminated\n";
    writeFile(broken);
    const QString bad = folder.filePath(QStringLiteral("blocked"));
    test::writeFile(bad, "a file where a folder should be");
    for (const QString& path : QStringList{file, bad + QStringLiteral("/Quillet.conf")}) {
        QSettingsPreferences preferences(path);
        SettingsStore store(preferences, std::nullopt);
        AppSettings next = store.current();
        next.playShutterSound = false;
        test::LogCapture log;
        ASSERT_TRUE(store.update(next).has_value());
        EXPECT_FALSE(store.current().playShutterSound);
        const QStringList warnings = log.texts("quillet.app", QtWarningMsg);
        ASSERT_EQ(warnings.size(), 1) << path.toStdString();
        EXPECT_EQ(warnings[0].endsWith(file + QStringLiteral(".bak")), path == file) << "the warning names the copy";
    }
    EXPECT_EQ(readFile(file + QStringLiteral(".bak")), broken);
}

TEST_F(QSettingsPreferencesTest, TheApplicationsFileLivesInTheUsersConfigFolder) {
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", folder.path().toUtf8());
    const QString fileName = QSettingsPreferences().fileName();
    qputenv("XDG_CONFIG_HOME", saved);
    EXPECT_EQ(fileName, folder.filePath(QStringLiteral("Quillet/Quillet.conf")));
}
