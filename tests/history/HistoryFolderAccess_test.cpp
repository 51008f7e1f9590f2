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
        access.volumesRoots = {media()};
        access.isMountPoint = [this](const QString& path) { return mountPoints.contains(path); };
        QDir().mkpath(media());
    }
    QString media() const { return temp.path() + QStringLiteral("/media/anna"); }
    QString disk() const { return media() + QStringLiteral("/Disk"); }
    void failCreating(int code) {
        access.createDirectory = [code](const QString& path) -> Expected<void, FileError> {
            return unexpected(FileError::fromErrno(code, path));
        };
    }

    QTemporaryDir temp;
    QSet<QString> mountPoints;
    HistoryFolderAccess access = HistoryFolderAccess::system();
};

}  // namespace

TEST_F(FolderAccessTest, AFolderOnAnUnpluggedVolumeIsNotMountedAndNeverCreated) {
    // The system disk is no volume: always there, and prepared by creating the folder.
    const QString home = temp.path() + QStringLiteral("/home/anna/Pictures/Quillet");
    EXPECT_TRUE(access.isVolumeMounted(home));
    EXPECT_EQ(access.removableVolumeAccess(home), VolumeAccess::notExternal);
    EXPECT_TRUE(access.prepare(home));
    EXPECT_TRUE(QFileInfo(home).isDir());
    EXPECT_FALSE(access.volume(media()));  // the volume root itself is on no volume

    const QString folder = disk() + QStringLiteral("/Pictures/Shots");
    EXPECT_EQ(access.volume(folder), disk());
    EXPECT_EQ(access.removableVolumeAccess(folder), VolumeAccess::notMounted);
    EXPECT_EQ(access.prepare(folder).error(), HistoryError::volumeNotMounted());
    EXPECT_FALSE(QFileInfo::exists(disk()));
    // The folder an unplugged disk leaves behind does not count as the disk.
    QDir().mkpath(disk());
    EXPECT_EQ(access.prepare(folder).error(), HistoryError::volumeNotMounted());
    mountPoints.insert(disk());
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

TEST_F(FolderAccessTest, OnlyPermissionRefusalsOnAnExternalVolumeMeanAccessDenied) {
    mountPoints.insert(disk());
    QDir().mkpath(disk());
    failCreating(EPERM);
    EXPECT_EQ(access.prepare(disk() + QStringLiteral("/Shots")).error(), HistoryError::volumeAccessDenied());
    const QString home = temp.path() + QStringLiteral("/home/Shots");
    EXPECT_EQ(access.prepare(home).error(), HistoryError::writeFailed(FileError::fromErrno(EPERM, home).description));
    failCreating(ENOSPC);
    EXPECT_EQ(access.prepare(disk() + QStringLiteral("/Shots")).error(), HistoryError::notEnoughSpace());

    access.createDirectory = [](const QString&) { return Expected<void, FileError>(); };
    access.isWritable = [](const QString&) { return false; };
    EXPECT_EQ(access.prepare(home).error(), HistoryError::folderNotWritable());

    // Only a refusal to list the volume means the program has no access to it.
    for (const auto& [code, expected] : {std::pair{EACCES, VolumeAccess::denied}, std::pair{EPERM, VolumeAccess::denied},
                                         std::pair{ENOENT, VolumeAccess::granted}, std::pair{EIO, VolumeAccess::granted}}) {
        access.listDirectory = [code = code](const QString& path) -> Expected<QStringList, FileError> {
            return unexpected(FileError::fromErrno(code, path));
        };
        EXPECT_EQ(access.removableVolumeAccess(disk() + QStringLiteral("/Shots")), expected) << code;
    }
}

TEST(FolderAccessSystem, RealMountPointsAndFolderCreation) {
    QTemporaryDir temp;
    EXPECT_TRUE(HistoryFolderAccess::isRealMountPoint(QStringLiteral("/proc")));
    EXPECT_FALSE(HistoryFolderAccess::isRealMountPoint(temp.path()));
    EXPECT_FALSE(HistoryFolderAccess::isRealMountPoint(temp.path() + QStringLiteral("/missing")));

    // The real folder creation reports the failure of the call that failed; a folder that is
    // already there is fine.
    const HistoryFolderAccess access = HistoryFolderAccess::system();
    test::writeFile(temp.path() + QStringLiteral("/file"), {});
    EXPECT_EQ(access.createDirectory(temp.path() + QStringLiteral("/file/sub")).error().code, ENOTDIR);
    EXPECT_TRUE(access.createDirectory(temp.path() + QStringLiteral("/a/b/c")));
    EXPECT_TRUE(access.createDirectory(temp.path() + QStringLiteral("/a/b/c")));
}
