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
        QImage image(400, 100, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        ASSERT_TRUE(ImageCodec::encodePNGToFile(image, source));
    }
    QString cacheFolder() const { return temp.path() + QStringLiteral("/cache/thumbs"); }
    // A cache over cacheFolder() that counts the thumbnails it makes.
    ThumbnailCache makeCache() {
        return ThumbnailCache(cacheFolder(), [this](const QString& path, int maxPixel) {
            ++made;
            return ImageCodec::thumbnail(path, maxPixel);
        });
    }
    std::optional<QImage> ask(const ThumbnailCache& cache, const QUuid& id, int size, const CancellationToken& cancel = {}) {
        auto future = cache.thumbnail(id, source, size, cancel);
        EXPECT_TRUE(test::waitFor(future));
        return future.result();
    }
    QStringList cacheFiles() const { return QDir(cacheFolder()).entryList(QDir::Files | QDir::Hidden, QDir::Name); }

    QTemporaryDir temp;
    QString source = temp.path() + QStringLiteral("/shot.png");
    std::atomic<int> made{0};
};

}  // namespace

TEST_F(ThumbnailCacheTest, MadeOnceThenAnsweredFromMemoryOrDiskUntilItsScreenshotIsRemoved) {
    const ThumbnailCache cache = makeCache();
    const QUuid id = QUuid::createUuid();
    const QUuid other = QUuid::createUuid();
    const auto first = ask(cache, id, 100);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->size(), QSize(100, 25));
    EXPECT_EQ(ask(cache, id, 100)->size(), QSize(100, 25));
    EXPECT_EQ(ask(cache, id, 40)->size(), QSize(40, 10));  // a second size is its own entry
    ask(cache, other, 100);
    EXPECT_EQ(made, 3);

    // After an emptied memory or a restart (a new cache over the same folder), the disk answers.
    cache.releaseMemory();
    EXPECT_EQ(ask(cache, id, 100)->pixel(10, 10), first->pixel(10, 10));
    EXPECT_TRUE(ask(makeCache(), id, 40));
    EXPECT_EQ(made, 3);

    // Removing a screenshot forgets its thumbnails in memory and on disk, and nothing else.
    test::writeFile(cacheFolder() + QStringLiteral("/notes.txt"), {});
    cache.remove(id);
    EXPECT_EQ(cacheFiles(), (QStringList{uuidString(other) + QStringLiteral("_100.png"), QStringLiteral("notes.txt")}));
    ask(cache, other, 100);
    EXPECT_EQ(made, 3);
    ask(cache, id, 100);
    EXPECT_EQ(made, 4);
}

TEST_F(ThumbnailCacheTest, ACancelledRequestMakesNothingButIsAnsweredFromWhatIsCached) {
    const ThumbnailCache cache = makeCache();
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

    // A source that is no image gives nothing and writes nothing.
    test::writeFile(source, "not a png at all");
    EXPECT_FALSE(ask(cache, QUuid::createUuid(), 100));
    EXPECT_EQ(cacheFiles().size(), 1);
}

TEST_F(ThumbnailCacheTest, CacheFolderThatCannotBeMadeOnlyLosesTheDiskLevel) {
    test::writeFile(temp.path() + QStringLiteral("/cache"), {});
    const ThumbnailCache cache = makeCache();
    const QUuid id = QUuid::createUuid();
    EXPECT_TRUE(ask(cache, id, 100));
    cache.releaseMemory();
    EXPECT_TRUE(ask(cache, id, 100));
    EXPECT_EQ(made, 2);
}
