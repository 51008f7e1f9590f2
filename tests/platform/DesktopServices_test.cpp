// The services every desktop offers alike. The Qt side of the real pasteboard, in-process: the
// promised item offers exactly PNG and TIFF, asks its provider only when something reads it,
// and the change count tells our writes from anyone else's (the X11 selection itself is covered
// by tests/e2e/clipboard_e2e_test.cpp). The sounds, which stay quiet and never crash without a
// sound device or an X server. The XDG autostart entry, as GLib and systemd read it.
#include "platform/desktop/QtPasteboard.h"
#include "platform/desktop/ShutterSound.h"
#include "platform/desktop/XdgAutostartEntry.h"

#include "core/ImageCodec.h"
#include "support/TestSupport.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace quillet;

TEST(QtPasteboard, PromiseIsProducedOnlyWhenReadAndTheChangeCountTellsWritesApart) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    QtPasteboard pasteboard(clipboard);
    const PNGFuture png(test::patternImage(QSize(40, 30)));
    int requests = 0;
    pasteboard.writePromised(PasteboardType::promised(),
                             std::make_shared<PromisedImageProvider>(png, [&requests] { ++requests; }));

    const QMimeData* data = clipboard->mimeData();
    ASSERT_TRUE(data);
    EXPECT_EQ(data->formats(), PasteboardType::promised());
    EXPECT_FALSE(data->hasImage());  // Qt must not add image types of its own
    EXPECT_EQ(requests, 0);
    EXPECT_EQ(data->data(PasteboardType::png), png.waitForValue());
    EXPECT_EQ(requests, 1);
    EXPECT_TRUE(data->data(QStringLiteral("text/plain")).isEmpty());
    EXPECT_EQ(requests, 1);

    const QByteArray tiff = data->data(PasteboardType::tiff);
    EXPECT_TRUE(tiff.startsWith(QByteArray("II*\0", 4)) || tiff.startsWith(QByteArray("MM\0*", 4)));

    // The change count moves for every write of anyone.
    const QByteArray bytes = ImageCodec::encodePNG(test::patternImage(QSize(8, 8))).value();

    pasteboard.writeData({{PasteboardType::png, bytes}});
    const qint64 afterOurWrite = pasteboard.changeCount();
    EXPECT_EQ(clipboard->mimeData()->data(PasteboardType::png), bytes);
    EXPECT_EQ(pasteboard.changeCount(), afterOurWrite);

    clipboard->setText(QStringLiteral("чужой текст"));
    EXPECT_NE(pasteboard.changeCount(), afterOurWrite);
    const qint64 afterOther = pasteboard.changeCount();
    pasteboard.writeData({{PasteboardType::png, bytes}});
    EXPECT_EQ(pasteboard.changeCount(), afterOther + 1);
}

TEST(ShutterSound, ChoosesItsSoundOnceAndNeverFails) {
    ShutterSound sound;
    EXPECT_FALSE(sound.isLoaded());
    sound.playShutter();
    EXPECT_TRUE(sound.isLoaded());
    const QByteArray chosen = sound.shutterEvent();
    sound.playShutter();  // a quick second capture restarts the same sound
    EXPECT_EQ(sound.shutterEvent(), chosen);
    sound.beep();
}

namespace {

using test::readFile;

void writeFile(const QString& path, const QByteArray& bytes) {
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
    test::writeFile(path, bytes);
}

// A user's config folder and one system config folder, both inside a temporary folder.
class XdgAutostartEntryTest : public ::testing::Test {
protected:
    QString path(const QString& relative) const { return root.filePath(relative); }

    // A program that leaves root/marker when it runs, in a folder the Exec line has to quote.
    QString markingProgram(const QString& folderName) {
        const QString program = QDir(path(folderName)).filePath(QStringLiteral("quillet run"));
        writeFile(program, "#!/bin/sh\necho started > \"$(dirname \"$0\")/../marker\"\n");
        QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return program;
    }

    // The unit systemd's generator makes of the autostart entries (so GNOME and KDE start
    // them), or nothing when it skips ours. It makes one only when the program in Exec exists.
    QByteArray generatedUnit() const {
        const QString output = path(QStringLiteral("units"));
        QDir(output).removeRecursively();
        QDir().mkpath(output);
        QProcess generator;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), path(QStringLiteral("config")));
        environment.insert(QStringLiteral("XDG_CONFIG_DIRS"), path(QStringLiteral("system")));
        generator.setProcessEnvironment(environment);
        generator.start(QStringLiteral("/usr/lib/systemd/user-generators/systemd-xdg-autostart-generator"),
                        {output, output, output});
        EXPECT_TRUE(generator.waitForFinished(20000) && generator.exitCode() == 0)
            << generator.readAllStandardError().constData();
        return readFile(QDir(output).filePath(QStringLiteral("app-quillet@autostart.service")));
    }

    QTemporaryDir root;
    const QString userFolder = path(QStringLiteral("config/autostart"));
    const QString userEntry = path(QStringLiteral("config/autostart/quillet.desktop"));
    const QString systemEntry = path(QStringLiteral("system/autostart/quillet.desktop"));
};

}  // namespace

// The program of an Exec value is what execValue wrote.
TEST(XdgAutostartEntry, ExecQuotesWhatTheFormatReservesAndReadsBackTheProgram) {
    EXPECT_EQ(XdgAutostartEntry::execValue(QStringLiteral("/usr/bin/quillet")), QStringLiteral(R"("/usr/bin/quillet")"));
    EXPECT_EQ(XdgAutostartEntry::execValue(QStringLiteral(R"(/opt/100% "ok" $x `y` a\b/quillet)")),
              QStringLiteral(R"("/opt/100%% \\"ok\\" \\$x \\`y\\` a\\\\b/quillet")"));
    for (const char* path : {"/usr/bin/quillet", "/home/anna/my apps/quillet", "/opt/q\"uote`s$and\\slash/quillet",
                             "/tmp/100%/quillet", "/tmp/tab\there/quillet"}) {
        const QString program = QString::fromUtf8(path);
        EXPECT_EQ(XdgAutostartEntry::programOf(XdgAutostartEntry::execValue(program)), program) << path;
    }
    EXPECT_EQ(XdgAutostartEntry::programOf(QStringLiteral("/usr/bin/quillet --region")), QStringLiteral("/usr/bin/quillet"));
    EXPECT_EQ(XdgAutostartEntry::programOf(QStringLiteral("\"/usr/bin/quillet")), QString()) << "no closing quote";
}

TEST_F(XdgAutostartEntryTest, RegisteredEntryIsWhatSessionsStartAndAHiddenUserEntrySwitchesOffASystemOne) {
    // systemd reads a backslash in Exec its own way, so only GLib is shown one (below).
    const QString program = markingProgram(QStringLiteral(R"(My "Apps" $HOME `x`)"));
    XdgAutostartEntry entry(userFolder, {path(QStringLiteral("system/autostart"))}, program);
    EXPECT_EQ(entry.status(), LoginItemStatus::notRegistered);
    ASSERT_TRUE(entry.registerItem().has_value());
    EXPECT_EQ(entry.filePath(), userEntry);
    EXPECT_EQ(entry.status(), LoginItemStatus::enabled);
    EXPECT_TRUE(generatedUnit().contains("\nExecStart=")) << readFile(userEntry).constData();

    ASSERT_TRUE(entry.unregisterItem().has_value());
    EXPECT_FALSE(QFile::exists(userEntry));
    EXPECT_EQ(entry.status(), LoginItemStatus::notRegistered);
    EXPECT_TRUE(generatedUnit().isEmpty());
    EXPECT_TRUE(entry.unregisterItem().has_value());

    writeFile(systemEntry, "[Desktop Entry]\nType=Application\nName=Quillet\nExec=" +
                               XdgAutostartEntry::execValue(program).toUtf8() + '\n');
    EXPECT_EQ(entry.status(), LoginItemStatus::enabled);
    ASSERT_TRUE(entry.unregisterItem().has_value());
    EXPECT_EQ(entry.status(), LoginItemStatus::notRegistered);
    EXPECT_TRUE(readFile(userEntry).contains("\nHidden=true\n"));
    EXPECT_TRUE(generatedUnit().isEmpty());

    ASSERT_TRUE(entry.registerItem().has_value());
    EXPECT_EQ(entry.status(), LoginItemStatus::enabled);
    EXPECT_TRUE(generatedUnit().contains(QByteArray("SourcePath=" + QFile::encodeName(userEntry) + '\n')));
}

TEST_F(XdgAutostartEntryTest, GLibStartsTheProgramTheEntryNames) {
    XdgAutostartEntry entry(userFolder, {}, markingProgram(QStringLiteral(R"(My "Apps" $HOME `x` a\b)")));
    ASSERT_TRUE(entry.registerItem().has_value());
    QProcess gio;
    gio.start(QStringLiteral("gio"), {QStringLiteral("launch"), userEntry});
    ASSERT_TRUE(gio.waitForFinished(20000));
    EXPECT_EQ(gio.exitCode(), 0) << gio.readAllStandardError().constData();
    EXPECT_TRUE(test::waitUntil([&] { return QFile::exists(path(QStringLiteral("marker"))); }))
        << readFile(userEntry).constData();
}

TEST_F(XdgAutostartEntryTest, SwitchingOnAgainKeepsTheUsersOwnLines) {
    writeFile(userEntry,
              "# tuned by hand\n[Desktop Entry]\nType=Application\nName=Quillet\nExec=/old/build/quillet\nHidden=true\n"
              "X-GNOME-Autostart-Delay=5\nX-GNOME-Autostart-enabled=false\n\n[Desktop Action Extra]\nExec=other\n");
    XdgAutostartEntry entry(userFolder, {}, QStringLiteral("/usr/bin/quillet"));
    ASSERT_TRUE(entry.registerItem().has_value());
    EXPECT_EQ(readFile(userEntry),
              "# tuned by hand\n[Desktop Entry]\nType=Application\nName=Quillet\nExec=\"/usr/bin/quillet\"\n"
              "X-GNOME-Autostart-Delay=5\n\n[Desktop Action Extra]\nExec=other\n");
}

TEST_F(XdgAutostartEntryTest, AnAutostartFolderThatCannotBeWrittenFailsAndChangesNothing) {
    writeFile(path(QStringLiteral("config")), "a file where the config folder should be");
    writeFile(systemEntry, "[Desktop Entry]\nExec=quillet\n");
    XdgAutostartEntry entry(userFolder, {path(QStringLiteral("system/autostart"))}, QStringLiteral("/usr/bin/quillet"));
    const auto off = entry.unregisterItem();
    ASSERT_FALSE(off.has_value());
    EXPECT_TRUE(off.error().description.startsWith(userFolder + QStringLiteral(": "))) << off.error().description.toStdString();
    EXPECT_EQ(entry.status(), LoginItemStatus::enabled);

    QFile::remove(systemEntry);
    EXPECT_FALSE(entry.registerItem().has_value());
    EXPECT_EQ(entry.status(), LoginItemStatus::notRegistered);
}

TEST_F(XdgAutostartEntryTest, DefaultsFollowTheEnvironmentAndTheRunningExecutable) {
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", path(QStringLiteral("config")).toUtf8());
    XdgAutostartEntry entry;
    qputenv("XDG_CONFIG_HOME", saved);
    ASSERT_TRUE(entry.registerItem().has_value());
    EXPECT_TRUE(readFile(userEntry).contains(
        QByteArray("\nExec=" + XdgAutostartEntry::execValue(QCoreApplication::applicationFilePath()).toUtf8() + '\n')));
}

// Only an entry that starts this program and is not switched off in one of the ways the desktops
// know counts as on; a stale one of an earlier build is rewritten.
TEST_F(XdgAutostartEntryTest, OnlyAnEntryThatStartsThisProgramIsOursAndAStaleOneIsRewritten) {
    const QString program = markingProgram(QStringLiteral("installed"));
    const QByteArray exec = "Exec=" + XdgAutostartEntry::execValue(program).toUtf8() + "\n";
    XdgAutostartEntry entry(userFolder, {}, program);
    struct Row {
        QByteArray text;
        LoginItemStatus status;
        bool rewritten;
    };
    const Row rows[] = {
        {exec, LoginItemStatus::enabled, false},
        {exec + "Hidden=false\n", LoginItemStatus::enabled, false},
        {exec + "Hidden = True\n", LoginItemStatus::notRegistered, false},
        {exec + "X-GNOME-Autostart-enabled=false\n", LoginItemStatus::notRegistered, false},
        {"Type=Application\n", LoginItemStatus::notRegistered, false},
        // An earlier build of the same program: the user still wants it at login.
        {"Exec=\"/old/build/src/app/quillet run\"\n", LoginItemStatus::enabled, true},
        // Another program under our entry's name is not ours.
        {"Exec=/usr/bin/flameshot\n", LoginItemStatus::notRegistered, false},
        {"Exec=\"unterminated\n", LoginItemStatus::notRegistered, false},
    };
    for (const Row& row : rows) {
        const QByteArray text = "[Desktop Entry]\nName=Quillet\n" + row.text + "X-Mine=kept\n";
        writeFile(userEntry, text);
        EXPECT_EQ(entry.status(), row.status) << row.text.constData();
        const QByteArray now = readFile(userEntry);
        if (row.rewritten) {
            EXPECT_TRUE(now.contains(QByteArray("\n" + exec))) << now.constData();
            EXPECT_TRUE(now.contains("\nX-Mine=kept\n"));
            EXPECT_EQ(entry.status(), LoginItemStatus::enabled);
        } else {
            EXPECT_EQ(now, text);
        }
    }
    writeFile(userEntry, "[Other Group]\n" + exec);
    EXPECT_EQ(entry.status(), LoginItemStatus::notRegistered);
}
