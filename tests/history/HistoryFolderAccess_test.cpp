// Volume and folder checks, over real folders in a temporary tree whose "media" folder plays
// the volume root; mount points and failures are chosen per test.
#include "history/HistoryFolderAccess.h"

#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <unistd.h>

using namespace quillet;

namespace {

class FolderAccessTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(temp.isValid());
        access = HistoryFolderAccess::system();
        access.volumesRoots = {media()};
        access.isMountPoint = [this](const QString& path) { return mountPoints.contains(path); };
        QDir().mkpath(media());
    }
    QString media() const { return temp.path() + QStringLiteral("/media/anna"); }
    QString disk() const { return media() + QStringLiteral("/Disk"); }
    static Expected<void, FileError> failWith(int code, const QString& path) {
        return unexpected(FileError::fromErrno(code, path));
    }

    QTemporaryDir temp;
    QSet<QString> mountPoints;
    HistoryFolderAccess access;
};

}  // namespace

TEST_F(FolderAccessTest, FolderOnTheSystemDiskIsMountedAndPreparedByCreatingIt) {
    const QString folder = temp.path() + QStringLiteral("/home/anna/Pictures/Quillet");
    EXPECT_FALSE(access.volume(folder));
    EXPECT_TRUE(access.isVolumeMounted(folder));
    EXPECT_EQ(access.removableVolumeAccess(folder), VolumeAccess::notExternal);
    EXPECT_TRUE(access.prepare(folder));
    EXPECT_TRUE(QFileInfo(folder).isDir());
    // The volume root itself is not on a volume.
    EXPECT_FALSE(access.volume(media()));
}

TEST_F(FolderAccessTest, MissingVolumeOrLeftoverFolderIsNotMountedAndNothingIsCreated) {
    const QString folder = disk() + QStringLiteral("/Pictures/Shots");
    EXPECT_EQ(access.volume(folder), disk());
    EXPECT_FALSE(access.isVolumeMounted(folder));
    EXPECT_EQ(access.prepare(folder).error(), HistoryError::volumeNotMounted());
    EXPECT_EQ(access.removableVolumeAccess(folder), VolumeAccess::notMounted);
    EXPECT_FALSE(QFileInfo::exists(disk()));

    // The folder an unplugged disk leaves behind does not count as the disk.
    QDir().mkpath(disk());
    EXPECT_FALSE(access.isVolumeMounted(folder));
    EXPECT_EQ(access.prepare(folder).error(), HistoryError::volumeNotMounted());

    mountPoints.insert(disk());
    EXPECT_TRUE(access.isVolumeMounted(folder));
    EXPECT_TRUE(access.prepare(folder));
    EXPECT_EQ(access.removableVolumeAccess(folder), VolumeAccess::granted);
}

TEST_F(FolderAccessTest, VolumeNameLinkingToTheSystemRootIsNotExternal) {
    ASSERT_EQ(::symlink("/", QFile::encodeName(media() + QStringLiteral("/Root")).constData()), 0);
    const QString folder = media() + QStringLiteral("/Root/tmp");
    EXPECT_FALSE(access.isExternal(folder));
    EXPECT_EQ(access.removableVolumeAccess(folder), VolumeAccess::notExternal);
    access.isMountPoint = &HistoryFolderAccess::isRealMountPoint;
    EXPECT_TRUE(access.isVolumeMounted(folder));
}

TEST_F(FolderAccessTest, CreationRefusedWithEpermIsAccessDeniedOnlyOnAnExternalVolume) {
    access.createDirectory = [](const QString& path) { return failWith(EPERM, path); };
    mountPoints.insert(disk());
    QDir().mkpath(disk());
    EXPECT_EQ(access.prepare(disk() + QStringLiteral("/Shots")).error(), HistoryError::volumeAccessDenied());

    const QString home = temp.path() + QStringLiteral("/home/Shots");
    const HistoryError onSystemDisk = access.prepare(home).error();
    EXPECT_EQ(onSystemDisk, HistoryError::writeFailed(FileError::fromErrno(EPERM, home).description));

    access.createDirectory = [](const QString& path) { return failWith(ENOSPC, path); };
    EXPECT_EQ(access.prepare(disk() + QStringLiteral("/Shots")).error(), HistoryError::notEnoughSpace());

    access.createDirectory = [](const QString&) { return Expected<void, FileError>(); };
    access.isWritable = [](const QString&) { return false; };
    EXPECT_EQ(access.prepare(home).error(), HistoryError::folderNotWritable());
}

TEST_F(FolderAccessTest, OnlyAPermissionRefusalListingTheVolumeMeansDenied) {
    mountPoints.insert(disk());
    QDir().mkpath(disk());
    const QString folder = disk() + QStringLiteral("/Shots");
    for (const auto& [code, expected] : {std::pair{EACCES, VolumeAccess::denied}, std::pair{EPERM, VolumeAccess::denied},
                                         std::pair{ENOENT, VolumeAccess::granted}, std::pair{EIO, VolumeAccess::granted}}) {
        access.listDirectory = [code = code](const QString& path) -> Expected<QStringList, FileError> {
            return unexpected(FileError::fromErrno(code, path));
        };
        EXPECT_EQ(access.removableVolumeAccess(folder), expected) << code;
    }
}

TEST_F(FolderAccessTest, PngNamesAreTheVisiblePngFilesInAnyLetterCase) {
    const QString folder = temp.path() + QStringLiteral("/shots");
    QDir().mkpath(folder);
    for (const char* name : {"a.PNG", "b.png", "c.jpg", ".tmp-x.png", "png", "d.png.txt"}) {
        test::writeFile(folder + QLatin1Char('/') + QLatin1String(name), {});
    }
    const auto names = access.pngNames(folder);
    ASSERT_TRUE(names);
    EXPECT_EQ(QSet<QString>(names->begin(), names->end()), (QSet<QString>{QStringLiteral("a.PNG"), QStringLiteral("b.png")}));

    const auto everything = access.listDirectory(folder);
    ASSERT_TRUE(everything);
    EXPECT_EQ(everything->size(), 6);
    EXPECT_EQ(access.pngNames(folder + QStringLiteral("/missing")).error().code, ENOENT);
}

TEST(FolderAccessSystem, VolumeRootsAndRealMountPoints) {
    const HistoryFolderAccess access = HistoryFolderAccess::system();
    EXPECT_EQ(access.volume(QStringLiteral("/mnt/usb/Shots")), QStringLiteral("/mnt/usb"));

    QTemporaryDir temp;
    EXPECT_TRUE(HistoryFolderAccess::isRealMountPoint(QStringLiteral("/")));
    EXPECT_TRUE(HistoryFolderAccess::isRealMountPoint(QStringLiteral("/proc")));
    EXPECT_FALSE(HistoryFolderAccess::isRealMountPoint(temp.path()));
    EXPECT_FALSE(HistoryFolderAccess::isRealMountPoint(temp.path() + QStringLiteral("/missing")));

    // The real folder creation reports the failure of the call that failed.
    test::writeFile(temp.path() + QStringLiteral("/file"), {});
    EXPECT_EQ(access.createDirectory(temp.path() + QStringLiteral("/file/sub")).error().code, ENOTDIR);
    EXPECT_TRUE(access.createDirectory(temp.path() + QStringLiteral("/a/b/c")));
    EXPECT_TRUE(access.createDirectory(temp.path() + QStringLiteral("/a/b/c")));
}
