// Thumbnails in memory and on disk, over real PNG files.
#include "history/ThumbnailCache.h"

#include "core/ImageCodec.h"
#include "support/TestFiles.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>

using namespace quillet;

namespace {

class ThumbnailCacheTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(temp.isValid());
        source = temp.path() + QStringLiteral("/shot.png");
        QImage image(400, 100, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        ASSERT_TRUE(ImageCodec::encodePNGToFile(image, source));
    }
    QString cacheFolder() const { return temp.path() + QStringLiteral("/cache/thumbs"); }
    ThumbnailCache::ThumbnailMaker countingMaker() {
        return [this](const QString& path, int maxPixel) {
            ++made;
            return ImageCodec::thumbnail(path, maxPixel);
        };
    }
    std::optional<QImage> ask(const ThumbnailCache& cache, const QUuid& id, int size, const CancellationToken& cancel = {}) {
        auto future = cache.thumbnail(id, source, size, cancel);
        EXPECT_TRUE(test::waitFor(future));
        return future.result();
    }
    QStringList cacheFiles() const { return QDir(cacheFolder()).entryList(QDir::Files | QDir::Hidden, QDir::Name); }

    QTemporaryDir temp;
    QString source;
    std::atomic<int> made{0};
};

}  // namespace

TEST_F(ThumbnailCacheTest, MadeOnceThenAnsweredFromMemoryThenFromDisk) {
    const ThumbnailCache cache(cacheFolder(), countingMaker());
    const QUuid id = QUuid::createUuid();

    const auto first = ask(cache, id, 100);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->size(), QSize(100, 25));
    EXPECT_EQ(ask(cache, id, 100)->size(), QSize(100, 25));
    EXPECT_EQ(made, 1);
    EXPECT_EQ(cacheFiles(), QStringList{uuidString(id) + QStringLiteral("_100.png")});

    // A second size of the same screenshot is its own entry.
    EXPECT_EQ(ask(cache, id, 40)->size(), QSize(40, 10));
    EXPECT_EQ(made, 2);

    // After a restart (a new cache over the same folder) or an emptied memory, the disk answers.
    cache.releaseMemory();
    const ThumbnailCache restarted(cacheFolder(), countingMaker());
    EXPECT_EQ(ask(cache, id, 100)->pixel(10, 10), first->pixel(10, 10));
    EXPECT_TRUE(ask(restarted, id, 40));
    EXPECT_EQ(made, 2);
}

TEST_F(ThumbnailCacheTest, RemoveForgetsOneScreenshotOnly) {
    const ThumbnailCache cache(cacheFolder(), countingMaker());
    const QUuid gone = QUuid::createUuid();
    const QUuid kept = QUuid::createUuid();
    ask(cache, gone, 100);
    ask(cache, gone, 40);
    ask(cache, kept, 100);
    test::writeFile(cacheFolder() + QStringLiteral("/notes.txt"), {});
    EXPECT_EQ(made, 3);

    cache.remove(gone);
    EXPECT_EQ(cacheFiles(), (QStringList{uuidString(kept) + QStringLiteral("_100.png"), QStringLiteral("notes.txt")}));
    ask(cache, kept, 100);
    EXPECT_EQ(made, 3);
    ask(cache, gone, 100);
    EXPECT_EQ(made, 4);
}

TEST_F(ThumbnailCacheTest, SourceThatIsNoImageGivesNothingAndWritesNothing) {
    const ThumbnailCache cache(cacheFolder());
    const QString broken = temp.path() + QStringLiteral("/broken.png");
    test::writeFile(broken, "not a png at all");
    auto future = cache.thumbnail(QUuid::createUuid(), broken, 100);
    ASSERT_TRUE(test::waitFor(future));
    EXPECT_FALSE(future.result());
    EXPECT_TRUE(cacheFiles().isEmpty());
}

TEST_F(ThumbnailCacheTest, CacheFolderThatCannotBeMadeOnlyLosesTheDiskLevel) {
    test::writeFile(temp.path() + QStringLiteral("/cache"), {});
    const ThumbnailCache cache(cacheFolder(), countingMaker());
    const QUuid id = QUuid::createUuid();
    EXPECT_TRUE(ask(cache, id, 100));
    cache.releaseMemory();
    EXPECT_TRUE(ask(cache, id, 100));
    EXPECT_EQ(made, 2);
    EXPECT_TRUE(QDir(temp.path()).entryList(QDir::Files | QDir::Hidden).contains(QStringLiteral("cache")));
}

TEST_F(ThumbnailCacheTest, CancelledRequestStopsBeforeMakingButStillUsesWhatIsCached) {
    const ThumbnailCache cache(cacheFolder(), countingMaker());
    const QUuid id = QUuid::createUuid();
    CancellationToken cancelled;
    cancelled.cancel();
    EXPECT_FALSE(ask(cache, id, 100, cancelled));
    EXPECT_EQ(made, 0);
    EXPECT_TRUE(cacheFiles().isEmpty());

    ask(cache, id, 100);
    EXPECT_TRUE(ask(cache, id, 100, cancelled));
    cache.releaseMemory();
    EXPECT_TRUE(ask(cache, id, 100, cancelled));
    EXPECT_EQ(made, 1);
}
