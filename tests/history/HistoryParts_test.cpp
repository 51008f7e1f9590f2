// The history's smaller parts: the index file form, volume and folder checks over a temporary
// tree whose "media" folder plays the volume root, and thumbnails in memory and on disk.
#include "HistoryFixture.h"
#include "history/ThumbnailCache.h"

#include <QSet>

#include <cerrno>

using namespace quillet;
using namespace quillet::test;

namespace {

class FolderAccessTest : public HistoryFixture {
protected:
    void SetUp() override {
        HistoryFixture::SetUp();
        access.volumesRoots = {media()};
        access.isMountPoint = [this](const QString& path) { return mountPoints.contains(path); };
        QDir().mkpath(media());
    }
    QString media() const { return path(QStringLiteral("media/anna")); }
    QString disk() const { return media() + QStringLiteral("/Disk"); }

    QSet<QString> mountPoints;
};

class ThumbnailCacheTest : public HistoryFixture {
protected:
    void SetUp() override {
        HistoryFixture::SetUp();
        ASSERT_TRUE(ImageCodec::encodePNGToFile(test::patternImage(QSize(400, 100)), source));
    }
    QString cacheFolder() const { return path(QStringLiteral("cache/thumbs")); }
    // A cache over cacheFolder() that counts the thumbnails it makes.
    ThumbnailCache makeCache() {
        return ThumbnailCache(cacheFolder(), [this](const QString& file, int maxPixel) {
            ++made;
            return ImageCodec::thumbnail(file, maxPixel);
        });
    }
    std::optional<QImage> ask(const ThumbnailCache& cache, const QUuid& id, int size, const CancellationToken& cancel = {}) {
        return resultOf(cache.thumbnail(id, source, size, cancel));
    }
    QStringList cacheFiles() const { return QDir(cacheFolder()).entryList(QDir::Files | QDir::Hidden, QDir::Name); }

    QString source = path(QStringLiteral("shot.png"));
    std::atomic<int> made{0};
};

}  // namespace

TEST(HistoryIndex, SalvageKeepsEveryWellFormedEntryOfADamagedOrCutOffFile) {
    const QString name = QStringLiteral("Quillet 2025-03-07 в 14.05.09.png");
    QList<Screenshot> three{record(name, 1741345509, ScreenshotKind::edited, {1920, 1080}),
                            record(name, 1741345509, ScreenshotKind::window), record(name, 1741345509)};
    three[1].sourceID = QUuid::createUuid();
    // Brackets, quotes and backslashes inside a name must not confuse the walk over the text.
    three[2].fileName = QStringLiteral(R"(a}"],{\[.png)");
    const QByteArray whole = HistoryIndex{1, three}.encoded();
    const QByteArray second = HistoryIndex{1, {three[1]}}.encoded();
    const QByteArray entry1 = second.mid(10, second.size() - 24);  // the object inside "items":[…]
    const struct {
        const char* what;
        QByteArray bytes;
        qsizetype kept;
        bool damaged;
    } rows[] = {
        {"other key order, spaces", "{ \"version\" : 1 ,\n \"items\" : [ " + entry1 + " ] }", 1, false},
        {"one bad entry", R"({"items":[{"id":"x"},)" + entry1 + R"(,{"kind":7}],"version":1})", 1, true},
        {"cut inside the last entry", whole.left(whole.size() - 30), 2, true},
        {"cut after an entry", whole.left(whole.indexOf("},{") + 1), 1, true},
        {"trailing bytes", whole + "xx", 3, true},
        {"another version", HistoryIndex{2, three}.encoded(), 0, true},
        {"no version", R"({"items":[)" + entry1 + "]}", 0, true},
        {"not json", "hello", 0, true},
    };
    for (const auto& row : rows) {
        const auto salvaged = HistoryIndex::salvage(row.bytes);
        EXPECT_EQ(salvaged.items.size(), row.kept) << row.what;
        EXPECT_EQ(salvaged.damaged, row.damaged) << row.what;
    }
    EXPECT_EQ(HistoryIndex::salvage(whole).items, three);
    EXPECT_EQ(HistoryIndex::salvage(whole.left(whole.size() - 30)).items, three.mid(0, 2));
}

TEST_F(FolderAccessTest, AnUnpluggedVolumeIsNeverCreatedAndOnlyPermissionRefusalsMeanAccessDenied) {
    // The system disk is no volume: always there, and prepared by creating the folder.
    const QString home = path(QStringLiteral("home/anna/Pictures/Quillet"));
    EXPECT_EQ(access.removableVolumeAccess(home), VolumeAccess::notExternal);
    EXPECT_TRUE(access.prepare(home));
    EXPECT_TRUE(QFileInfo(home).isDir());

    const QString folder = disk() + QStringLiteral("/Pictures/Shots");
    EXPECT_EQ(access.removableVolumeAccess(folder), VolumeAccess::notMounted);
    EXPECT_EQ(access.prepare(folder).error(), HistoryError::volumeNotMounted());
    EXPECT_FALSE(QFileInfo::exists(disk()));
    // The folder an unplugged disk leaves behind does not count as the disk.
    QDir().mkpath(disk());
    EXPECT_EQ(access.prepare(folder).error(), HistoryError::volumeNotMounted());
    mountPoints.insert(disk());
    EXPECT_TRUE(access.prepare(folder));
    EXPECT_EQ(access.removableVolumeAccess(folder), VolumeAccess::granted);
    EXPECT_TRUE(HistoryFolderAccess::isRealMountPoint(QStringLiteral("/proc")));
    EXPECT_FALSE(HistoryFolderAccess::isRealMountPoint(disk()));
    EXPECT_FALSE(HistoryFolderAccess::isRealMountPoint(disk() + QStringLiteral("/missing")));

    access.createDirectory = [](const QString& path) -> Expected<void, FileError> {
        return unexpected(FileError::fromErrno(EPERM, path));
    };
    EXPECT_EQ(access.prepare(disk() + QStringLiteral("/Shots")).error(), HistoryError::volumeAccessDenied());
    const QString local = path(QStringLiteral("home/Shots"));
    EXPECT_EQ(access.prepare(local).error(), HistoryError::writeFailed(FileError::fromErrno(EPERM, local).description));

    access.createDirectory = [](const QString&) { return Expected<void, FileError>(); };
    access.isWritable = [](const QString&) { return false; };
    EXPECT_EQ(access.prepare(local).error(), HistoryError::folderNotWritable());

    // Only a refusal to list the volume means the program has no access to it.
    for (const auto& [code, expected] : {std::pair{EACCES, VolumeAccess::denied}, std::pair{EPERM, VolumeAccess::denied},
                                         std::pair{ENOENT, VolumeAccess::granted}, std::pair{EIO, VolumeAccess::granted}}) {
        access.listDirectory = [code = code](const QString& path) -> Expected<QStringList, FileError> {
            return unexpected(FileError::fromErrno(code, path));
        };
        EXPECT_EQ(access.removableVolumeAccess(disk() + QStringLiteral("/Shots")), expected) << code;
    }
}

TEST_F(ThumbnailCacheTest, MadeOnceThenAnsweredFromMemoryOrDiskUntilItsScreenshotIsRemoved) {
    const ThumbnailCache cache = makeCache();
    const QUuid id = QUuid::createUuid();
    const QUuid other = QUuid::createUuid();
    // A cancelled request makes nothing but is answered from what is cached.
    CancellationToken cancelled;
    cancelled.cancel();
    EXPECT_FALSE(ask(cache, id, 100, cancelled));
    const auto first = ask(cache, id, 100);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->size(), QSize(100, 25));
    EXPECT_TRUE(ask(cache, id, 100, cancelled));
    EXPECT_EQ(ask(cache, id, 40)->size(), QSize(40, 10));  // a second size is its own entry
    ask(cache, other, 100);
    EXPECT_EQ(made, 3);

    // After an emptied memory or a restart (a new cache over the same folder), the disk answers.
    cache.releaseMemory();
    EXPECT_TRUE(ask(cache, id, 100, cancelled));
    EXPECT_EQ(ask(cache, id, 100)->pixel(10, 10), first->pixel(10, 10));
    EXPECT_TRUE(ask(makeCache(), id, 40));
    EXPECT_EQ(made, 3);

    // Removing a screenshot forgets its thumbnails in memory and on disk, and nothing else.
    writeFile(cacheFolder() + QStringLiteral("/notes.txt"), {});
    cache.remove(id);
    EXPECT_EQ(cacheFiles(), (QStringList{uuidString(other) + QStringLiteral("_100.png"), QStringLiteral("notes.txt")}));
    ask(cache, other, 100);
    EXPECT_EQ(made, 3);
    ask(cache, id, 100);
    EXPECT_EQ(made, 4);

    // A source that is no image gives nothing and writes nothing.
    writeFile(source, "not a png at all");
    EXPECT_FALSE(ask(cache, QUuid::createUuid(), 100));
    EXPECT_EQ(cacheFiles().size(), 3);
}
