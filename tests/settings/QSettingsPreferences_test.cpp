#include "settings/QSettingsPreferences.h"
#include "settings/SettingsStore.h"

#include "LogCapture.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace quillet;

namespace {

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

class QSettingsPreferencesTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(folder.isValid()); }
    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("Quillet.conf"));
};

}  // namespace

TEST_F(QSettingsPreferencesTest, EveryFieldSurvivesTheFileAndReadsBackEqual) {
    AppSettings chosen;
    chosen.regionTrigger = std::nullopt;
    chosen.fullScreenTrigger = Trigger{ModifierKey::shift, KeySide::right};
    chosen.showPreview = false;
    chosen.playShutterSound = false;
    chosen.launchAtLogin = false;
    chosen.historyFolder = QStringLiteral("/media/диск/Мои снимки, \"старые\" @2024");
    chosen.retention = RetentionPolicy::forever();
    {
        QSettingsPreferences preferences(file);
        SettingsStore store(preferences, std::nullopt);
        ASSERT_TRUE(store.update(chosen).has_value());
    }
    const QByteArray text = readFile(file);
    EXPECT_TRUE(text.contains("regionTrigger=off\n")) << text.constData();
    EXPECT_TRUE(text.contains("showPreview=false\n")) << text.constData();
    EXPECT_TRUE(text.contains(R"(retention=@ByteArray({\"forever\":{}}))")) << text.constData();

    QSettingsPreferences again(file);
    EXPECT_EQ(SettingsStore(again, std::nullopt).current(), chosen);
    EXPECT_EQ(again.data(QStringLiteral("fullScreenTrigger")), QByteArray(R"({"key":"shift","side":"right"})"));
    EXPECT_EQ(again.string(QStringLiteral("fullScreenTrigger")), std::nullopt);
    EXPECT_EQ(again.boolean(QStringLiteral("showPreview")), false);
    EXPECT_EQ(again.boolean(QStringLiteral("noSuchKey")), std::nullopt);
}

TEST_F(QSettingsPreferencesTest, HandEditedFileFallsBackPerKeyAndIsLeftAsItWas) {
    const QByteArray handEdited =
        "[General]\n"
        "regionTrigger={\"key\":\"shift\",\"side\":\"right\"}\n"  // typed as text, not bytes
        "fullScreenTrigger=@ByteArray({\"key\":\"hyper\",\"side\":\"any\"})\n"
        "showPreview=maybe\n"
        "playShutterSound=False\n"
        "launchAtLogin=0\n"
        "historyFolder=Pictures/Quillet\n"
        "retention=@ByteArray({\"days\":{\"_0\":7},\"forever\":{}})\n"
        "windowGeometry=kept by another version\n";
    writeFile(file, handEdited);

    QSettingsPreferences preferences(file);
    {
        SettingsStore store(preferences, std::nullopt);
        AppSettings expected = AppSettings::standard();
        expected.playShutterSound = false;
        expected.launchAtLogin = false;
        EXPECT_EQ(store.current(), expected);

        AppSettings next = expected;
        next.showPreview = false;
        ASSERT_TRUE(store.update(next).has_value());
    }
    QSettingsPreferences after(file);
    EXPECT_EQ(after.string(QStringLiteral("windowGeometry")), QStringLiteral("kept by another version"));
    EXPECT_EQ(after.boolean(QStringLiteral("showPreview")), false);
}

TEST_F(QSettingsPreferencesTest, LoadingNeverWritesTheFile) {
    const QByteArray handEdited =
        "[General]\n"
        "regionTrigger=@ByteArray(not json)\n"
        "showPreview=maybe\n"
        "historyFolder=\n";
    writeFile(file, handEdited);
    {
        QSettingsPreferences preferences(file);
        SettingsStore store(preferences, std::nullopt);
        EXPECT_EQ(store.current(), AppSettings::standard());
        EXPECT_TRUE(store.userChoseHistoryFolder());
    }
    EXPECT_EQ(readFile(file), handEdited);
    EXPECT_FALSE(QFile::exists(file + QStringLiteral(".bak")));
}

TEST_F(QSettingsPreferencesTest, AFileThatDoesNotParseIsCopiedAsideBeforeItIsRewritten) {
    const QByteArray broken = "[General]\nshowPreview=false\n\x01\x02 stray line without a key\n[unterminated\n";
    writeFile(file, broken);
    QSettingsPreferences preferences(file);
    SettingsStore store(preferences, std::nullopt);
    EXPECT_FALSE(QFile::exists(file + QStringLiteral(".bak")));

    test::LogCapture log;
    AppSettings next = store.current();
    next.playShutterSound = false;
    ASSERT_TRUE(store.update(next).has_value());
    EXPECT_EQ(readFile(file + QStringLiteral(".bak")), broken);
    EXPECT_TRUE(log.contains(QStringLiteral("quillet.app warning: Файл настроек прочитан не целиком, его копия сохранена в ") +
                             file + QStringLiteral(".bak")))
        << log.lines.join(u'\n').toStdString();
}

TEST_F(QSettingsPreferencesTest, AnUnwritableFileKeepsTheChangeForThisRunAndSaysSo) {
    writeFile(folder.filePath(QStringLiteral("not-a-folder")), "x");
    QSettingsPreferences preferences(folder.filePath(QStringLiteral("not-a-folder/Quillet.conf")));
    SettingsStore store(preferences, std::nullopt);

    test::LogCapture log;
    AppSettings next = store.current();
    next.showPreview = false;
    ASSERT_TRUE(store.update(next).has_value());
    EXPECT_FALSE(store.current().showPreview);
    EXPECT_TRUE(log.contains(QStringLiteral("quillet.app warning: Настройки не удалось сохранить")))
        << log.lines.join(u'\n').toStdString();
}

TEST_F(QSettingsPreferencesTest, TheApplicationsFileLivesInTheUsersConfigFolder) {
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", folder.path().toUtf8());
    const QString fileName = QSettingsPreferences().fileName();
    qputenv("XDG_CONFIG_HOME", saved);
    EXPECT_EQ(fileName, folder.filePath(QStringLiteral("Quillet/Quillet.conf")));
}
