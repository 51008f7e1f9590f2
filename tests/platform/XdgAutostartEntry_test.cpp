#include "platform/x11/XdgAutostartEntry.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace quillet;

namespace {

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

class XdgAutostartEntryTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(root.isValid()); }

    QString path(const QString& relative) const { return root.filePath(relative); }

    // A program that leaves a mark when it runs, at a path the Exec line has to quote. systemd
    // reads a backslash in Exec its own way, so only GLib is shown one.
    QString markingProgram(const QString& folderName = QStringLiteral(R"(My "Apps" $HOME `x`)")) {
        const QString folder = path(folderName);
        EXPECT_TRUE(QDir().mkpath(folder));
        const QString program = QDir(folder).filePath(QStringLiteral("quillet run"));
        writeFile(program, "#!/bin/sh\necho started > \"$(dirname \"$0\")/../marker\"\n");
        QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return program;
    }

    // The session's view: the user's config folder and one system folder.
    QProcessEnvironment session() const {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), path(QStringLiteral("config")));
        environment.insert(QStringLiteral("XDG_CONFIG_DIRS"), path(QStringLiteral("system")));
        return environment;
    }

    // The unit systemd's generator makes of the autostart entries (the way GNOME and KDE start
    // them), or nothing when it skips ours. It makes one only when the program in Exec exists.
    QByteArray generatedUnit() const {
        const QString output = path(QStringLiteral("units"));
        QDir(output).removeRecursively();
        EXPECT_TRUE(QDir().mkpath(output));
        QProcess generator;
        generator.setProcessEnvironment(session());
        generator.start(QStringLiteral("/usr/lib/systemd/user-generators/systemd-xdg-autostart-generator"),
                        {output, output, output});
        EXPECT_TRUE(generator.waitForFinished(20000));
        EXPECT_EQ(generator.exitCode(), 0) << generator.readAllStandardError().constData();
        return readFile(QDir(output).filePath(QStringLiteral("app-quillet@autostart.service")));
    }

    QTemporaryDir root;
    const QString userFolder = path(QStringLiteral("config/autostart"));
    const QString systemFolder = path(QStringLiteral("system/autostart"));
};

}  // namespace

TEST_F(XdgAutostartEntryTest, RegisteredEntryIsWhatSessionsStart) {
    const QString program = markingProgram();
    XdgAutostartEntry entry(userFolder, {systemFolder}, program);
    EXPECT_EQ(entry.status(), LoginItemStatus::notRegistered);
    EXPECT_TRUE(generatedUnit().isEmpty());

    ASSERT_TRUE(entry.registerItem().has_value());
    EXPECT_EQ(entry.filePath(), path(QStringLiteral("config/autostart/quillet.desktop")));
    EXPECT_EQ(entry.status(), LoginItemStatus::enabled);
    const QByteArray unit = generatedUnit();
    EXPECT_TRUE(unit.contains("\nExecStart=")) << readFile(entry.filePath()).constData();
}

TEST_F(XdgAutostartEntryTest, GLibStartsTheProgramTheEntryNames) {
    const QString program = markingProgram(QStringLiteral(R"(My "Apps" $HOME `x` a\b)"));
    XdgAutostartEntry entry(userFolder, {systemFolder}, program);
    ASSERT_TRUE(entry.registerItem().has_value());

    QProcess gio;
    gio.start(QStringLiteral("gio"), {QStringLiteral("launch"), entry.filePath()});
    ASSERT_TRUE(gio.waitForFinished(20000));
    EXPECT_EQ(gio.exitCode(), 0) << gio.readAllStandardError().constData();
    EXPECT_TRUE(test::waitUntil([&] { return QFile::exists(path(QStringLiteral("marker"))); }))
        << readFile(entry.filePath()).constData();
}

TEST(XdgAutostartEntry, ExecQuotesWhatTheFormatReserves) {
    EXPECT_EQ(XdgAutostartEntry::execValue(QStringLiteral("/usr/bin/quillet")), QStringLiteral(R"("/usr/bin/quillet")"));
    EXPECT_EQ(XdgAutostartEntry::execValue(QStringLiteral(R"(/opt/100% "ok" $x `y` a\b/quillet)")),
              QStringLiteral(R"("/opt/100%% \\"ok\\" \\$x \\`y\\` a\\\\b/quillet")"));
}

TEST_F(XdgAutostartEntryTest, UnregisterRemovesTheUsersEntry) {
    XdgAutostartEntry entry(userFolder, {systemFolder}, QStringLiteral("/usr/bin/quillet"));
    ASSERT_TRUE(entry.registerItem().has_value());
    ASSERT_TRUE(entry.unregisterItem().has_value());
    EXPECT_FALSE(QFile::exists(entry.filePath()));
    EXPECT_EQ(entry.status(), LoginItemStatus::notRegistered);
    EXPECT_TRUE(entry.unregisterItem().has_value());
}

TEST_F(XdgAutostartEntryTest, EntriesSwitchedOffInTheirOwnWaysCountAsOff) {
    const QString file = path(QStringLiteral("config/autostart/quillet.desktop"));
    XdgAutostartEntry entry(userFolder, {systemFolder}, QStringLiteral("/usr/bin/quillet"));
    for (const char* text : {"[Desktop Entry]\nType=Application\nExec=quillet\nHidden=true\n",
                             "[Desktop Entry]\nType=Application\nExec=quillet\nHidden = True\n",
                             "[Desktop Entry]\nType=Application\nExec=quillet\nX-GNOME-Autostart-enabled=false\n",
                             "[Desktop Entry]\nType=Application\n",
                             "not a desktop entry\nExec=quillet\n",
                             "[Other Group]\nExec=quillet\n"}) {
        writeFile(file, text);
        EXPECT_EQ(entry.status(), LoginItemStatus::notRegistered) << text;
    }
    writeFile(file, "[Desktop Entry]\nType=Application\nExec=quillet\nHidden=false\n");
    EXPECT_EQ(entry.status(), LoginItemStatus::enabled);
}

TEST_F(XdgAutostartEntryTest, SwitchingOnAgainKeepsTheUsersOwnLines) {
    const QString file = path(QStringLiteral("config/autostart/quillet.desktop"));
    writeFile(file,
              "# tuned by hand\n"
              "[Desktop Entry]\n"
              "Type=Application\n"
              "Name=Quillet\n"
              "Exec=/old/build/quillet\n"
              "Hidden=true\n"
              "X-GNOME-Autostart-Delay=5\n"
              "X-GNOME-Autostart-enabled=false\n"
              "\n"
              "[Desktop Action Extra]\n"
              "Exec=something else\n");
    XdgAutostartEntry entry(userFolder, {systemFolder}, QStringLiteral("/usr/bin/quillet"));
    ASSERT_TRUE(entry.registerItem().has_value());
    EXPECT_EQ(readFile(file),
              "# tuned by hand\n"
              "[Desktop Entry]\n"
              "Type=Application\n"
              "Name=Quillet\n"
              "Exec=\"/usr/bin/quillet\"\n"
              "X-GNOME-Autostart-Delay=5\n"
              "\n"
              "[Desktop Action Extra]\n"
              "Exec=something else\n");
    EXPECT_EQ(entry.status(), LoginItemStatus::enabled);
}

TEST_F(XdgAutostartEntryTest, SystemWideEntryIsHiddenByTheUsersEntry) {
    const QString program = markingProgram();
    writeFile(QDir(systemFolder).filePath(QStringLiteral("quillet.desktop")),
              QByteArray("[Desktop Entry]\nType=Application\nName=Quillet\nExec=") +
                  XdgAutostartEntry::execValue(program).toUtf8() + '\n');
    XdgAutostartEntry entry(userFolder, {systemFolder}, program);
    EXPECT_EQ(entry.status(), LoginItemStatus::enabled);

    EXPECT_FALSE(generatedUnit().isEmpty());

    ASSERT_TRUE(entry.unregisterItem().has_value());
    EXPECT_EQ(entry.status(), LoginItemStatus::notRegistered);
    EXPECT_TRUE(readFile(entry.filePath()).contains("\nHidden=true\n"));
    EXPECT_TRUE(generatedUnit().isEmpty());

    ASSERT_TRUE(entry.registerItem().has_value());
    EXPECT_EQ(entry.status(), LoginItemStatus::enabled);
    EXPECT_TRUE(generatedUnit().contains(QByteArray("SourcePath=" + QFile::encodeName(entry.filePath()) + "\n")));
}

TEST_F(XdgAutostartEntryTest, AnAutostartFolderThatCannotBeWrittenFails) {
    writeFile(path(QStringLiteral("config")), "a file where the config folder should be");
    writeFile(QDir(systemFolder).filePath(QStringLiteral("quillet.desktop")),
              "[Desktop Entry]\nType=Application\nExec=quillet\n");
    XdgAutostartEntry entry(userFolder, {systemFolder}, QStringLiteral("/usr/bin/quillet"));

    const auto switchedOff = entry.unregisterItem();
    ASSERT_FALSE(switchedOff.has_value());
    EXPECT_TRUE(switchedOff.error().description.startsWith(userFolder + QStringLiteral(": ")))
        << switchedOff.error().description.toStdString();
    EXPECT_EQ(entry.status(), LoginItemStatus::enabled);

    QFile::remove(QDir(systemFolder).filePath(QStringLiteral("quillet.desktop")));
    const auto switchedOn = entry.registerItem();
    ASSERT_FALSE(switchedOn.has_value());
    EXPECT_FALSE(switchedOn.error().description.isEmpty());
    EXPECT_EQ(entry.status(), LoginItemStatus::notRegistered);
}

TEST_F(XdgAutostartEntryTest, DefaultsFollowTheEnvironmentAndTheRunningExecutable) {
    const QByteArray savedHome = qgetenv("XDG_CONFIG_HOME");
    const QByteArray savedDirs = qgetenv("XDG_CONFIG_DIRS");
    qputenv("XDG_CONFIG_HOME", path(QStringLiteral("config")).toUtf8());
    qputenv("XDG_CONFIG_DIRS", path(QStringLiteral("system")).toUtf8());
    XdgAutostartEntry entry;
    writeFile(QDir(systemFolder).filePath(QStringLiteral("quillet.desktop")),
              "[Desktop Entry]\nType=Application\nExec=quillet\n");
    const LoginItemStatus status = entry.status();
    qputenv("XDG_CONFIG_HOME", savedHome);
    qputenv("XDG_CONFIG_DIRS", savedDirs);

    EXPECT_EQ(entry.filePath(), path(QStringLiteral("config/autostart/quillet.desktop")));
    EXPECT_EQ(status, LoginItemStatus::enabled);
    ASSERT_TRUE(entry.registerItem().has_value());
    const QByteArray exec = "Exec=" + XdgAutostartEntry::execValue(QCoreApplication::applicationFilePath()).toUtf8() + "\n";
    EXPECT_TRUE(readFile(entry.filePath()).contains(exec));
}
