// The history store over a real folder with real PNG files.
#include "HistoryFixture.h"
#include "history/HistoryFileName.h"
#include "support/Gate.h"
#include "support/LogCapture.h"

#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QThread>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

using namespace quillet;
using namespace quillet::test;

namespace {

// Sets the process's local time zone for one test.
class LocalZone {
public:
    explicit LocalZone(const char* zone) : previous(qgetenv("TZ")), hadPrevious(qEnvironmentVariableIsSet("TZ")) {
        qputenv("TZ", zone);
        tzset();
    }
    ~LocalZone() {
        if (hadPrevious) qputenv("TZ", previous); else qunsetenv("TZ");
        tzset();
    }

private:
    QByteArray previous;
    bool hadPrevious;
};

// A named pipe in the history folder, opened for writing on the way out so that a store that
// wrongly opened it for reading cannot hang the run.
class Pipe {
public:
    explicit Pipe(const QString& path) : path(QFile::encodeName(path)) { EXPECT_EQ(::mkfifo(this->path.constData(), 0600), 0); }
    ~Pipe() {
        const int fd = ::open(path.constData(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) ::close(fd);
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;

private:
    QByteArray path;
};

class HistoryStoreTest : public HistoryFixture {
protected:
    QString folder() const { return path(QStringLiteral("history")); }
    QString inFolder(const QString& name) const { return folder() + QLatin1Char('/') + name; }

    std::unique_ptr<HistoryStore> makeStore() {
        QDir().mkpath(folder());
        return HistoryFixture::makeStore(
            folder(), [this] { return QDateTime::fromSecsSinceEpoch(clockSeconds, QTimeZone::utc()); }, QTimeZone(3 * 3600));
    }

    static StoredScreenshot tryAdd(HistoryStore& store, ScreenshotKind kind = ScreenshotKind::region) {
        return resultOf(store.add(pngBytes(8, 6), PixelSize{8, 6}, kind, std::nullopt));
    }
    Screenshot addPNG(HistoryStore& store, ScreenshotKind kind = ScreenshotKind::region) {
        auto stored = tryAdd(store, kind);
        EXPECT_TRUE(stored) << qPrintable(stored ? QString() : describe(stored.error()));
        return stored ? *stored : Screenshot{};
    }

    HistoryIndex indexOnDisk() const {
        auto index = indexIn(folder());
        EXPECT_TRUE(index);
        return index ? *index : HistoryIndex{};
    }

    QStringList filesInFolder() const { return QDir(folder()).entryList(QDir::Files | QDir::Hidden, QDir::Name); }
    void seed(const QList<Screenshot>& items) { seedFolder(folder(), items); }

    // 2025-03-07 11:05:09 UTC, 14:05:09 in the store's zone (UTC+3).
    std::atomic<qint64> clockSeconds{1741345509};
};

const QString base = QStringLiteral("Quillet 2025-03-07 в 14.05.09");

}  // namespace

TEST_F(HistoryStoreTest, AddsInOneSecondTakeTheNextFreeNameNewestFirst) {
    auto store = makeStore();
    // A file that is present but not listed still takes its name.
    writeFile(inFolder(base + QStringLiteral(" (2).png")), "not listed");
    QSignalSpy changed(store.get(), &HistoryStore::historyDidChange);

    const Screenshot first = addPNG(*store);
    const Screenshot second = addPNG(*store, ScreenshotKind::window);
    const Screenshot third = addPNG(*store);
    EXPECT_EQ(first.fileName, base + QStringLiteral(".png"));
    EXPECT_EQ(second.fileName, base + QStringLiteral(" (3).png"));
    EXPECT_EQ(third.fileName, base + QStringLiteral(" (4).png"));
    EXPECT_EQ(first.createdAt, QDateTime::fromSecsSinceEpoch(clockSeconds, QTimeZone::utc()));

    EXPECT_EQ(store->all(), (QList<Screenshot>{third, second, first}));
    EXPECT_EQ(indexOnDisk().items, store->all());
    EXPECT_EQ(readFile(store->fileURL(second)), pngBytes(8, 6));
    EXPECT_TRUE(test::waitUntil([&] { return changed.size() == 3; }));

    // A later second sorts before them.
    clockSeconds += 1;
    const Screenshot later = addPNG(*store);
    EXPECT_EQ(later.fileName, QStringLiteral("Quillet 2025-03-07 в 14.05.10.png"));
    EXPECT_EQ(store->all().first(), later);
}

TEST_F(HistoryStoreTest, ImagesAreEncodedAndEmptyOrUnencodableInputIsRefused) {
    auto store = makeStore();
    QImage image(30, 20, QImage::Format_ARGB32);
    image.fill(Qt::red);
    const auto stored = resultOf(store->add(image, ScreenshotKind::edited, QUuid::createUuid()));
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->pixelSize, (PixelSize{30, 20}));
    EXPECT_TRUE(stored->sourceID);
    EXPECT_EQ(ImageCodec::decodeFile(store->fileURL(*stored))->size(), QSize(30, 20));

    EXPECT_EQ(resultOf(store->add(QImage(), ScreenshotKind::region, std::nullopt)).error(), HistoryError::unreadableImage());
    EXPECT_EQ(resultOf(store->add(QByteArray(), PixelSize{1, 1}, ScreenshotKind::region, std::nullopt)).error(),
              HistoryError::unreadableImage());
    EXPECT_EQ(store->all().size(), 1);
}

TEST_F(HistoryStoreTest, LoadingDropsStaleEntriesAdoptsForeignPngsAndRemovesLeftovers) {
    const Screenshot kept = record(QStringLiteral("Quillet 2025-01-01 в 10.00.00.png"), 1735714800);
    const Screenshot stale = record(QStringLiteral("Quillet 2025-01-02 в 10.00.00.png"), 1735801200);
    seed({stale, kept});
    QFile::remove(inFolder(stale.fileName));
    QImage handImage(40, 30, QImage::Format_RGB32);
    handImage.fill(Qt::blue);
    ASSERT_TRUE(ImageCodec::encodePNGToFile(handImage, inFolder(QStringLiteral("a.PNG"))));
    writeFile(inFolder(QStringLiteral("broken.png")), "no image");
    writeFile(inFolder(QStringLiteral(".tmp-0C6B1F4E-9A59-4F6E-9E53-2D7F5E3C1A00.png")), "half");
    writeFile(inFolder(QStringLiteral(".history.json.tmp-0C6B1F4E-9A59-4F6E-9E53-2D7F5E3C1A00")), "half");
    writeFile(inFolder(QStringLiteral(".hidden.png")), pngBytes(8, 6));
    writeFile(inFolder(QStringLiteral(".keep")), "mine");
    clockSeconds = QDateTime::currentSecsSinceEpoch() + 3600;  // the files are not from the future

    auto store = makeStore();
    QSignalSpy changed(store.get(), &HistoryStore::historyDidChange);
    resultOf(store->load());
    ASSERT_TRUE(test::waitUntil([&] { return changed.size() == 1; }));

    const QList<Screenshot> items = store->all();
    ASSERT_EQ(items.size(), 2);
    const Screenshot& adopted = items[0];  // its date is the file's, newer than `kept`
    EXPECT_EQ(adopted.fileName, QStringLiteral("a.PNG"));
    EXPECT_EQ(adopted.kind, ScreenshotKind::region);
    EXPECT_EQ(adopted.pixelSize, (PixelSize{40, 30}));
    EXPECT_FALSE(adopted.sourceID);
    EXPECT_LE(qAbs(adopted.createdAt.secsTo(QDateTime::currentDateTimeUtc())), 60);
    EXPECT_EQ(adopted.createdAt.time().msec(), 0);
    EXPECT_EQ(items[1], kept);
    EXPECT_EQ(indexOnDisk().items, items);
    EXPECT_EQ(filesInFolder(), (QStringList{QStringLiteral(".hidden.png"), QStringLiteral(".history.json"),
                                            QStringLiteral(".keep"), kept.fileName, QStringLiteral("a.PNG"),
                                            QStringLiteral("broken.png")}));

    // Loading happens once; the hand-copied file is only ever removed by an explicit delete.
    resultOf(store->load());
    EXPECT_EQ(changed.size(), 1);
    ASSERT_TRUE(resultOf(store->applyRetention(RetentionPolicy::days(1), QDateTime::currentDateTimeUtc().addDays(30))));
    EXPECT_EQ(namesOf(store->all()), QStringList{QStringLiteral("a.PNG")});
    ASSERT_TRUE(resultOf(store->deleteScreenshot(adopted.id)));
    EXPECT_TRUE(store->all().isEmpty());
    EXPECT_FALSE(QFile::exists(inFolder(QStringLiteral("a.PNG"))));
}

TEST_F(HistoryStoreTest, DamagedOrForeignIndexIsRebuiltFromThePngFiles) {
    for (const QByteArray& damaged : {QByteArray(R"({"items":[],"version":2})"), QByteArray("{\"items\":[{"),
                                      QByteArray(R"({"items":[]})")}) {
        QDir(folder()).removeRecursively();
        QDir().mkpath(folder());
        writeFile(inFolder(QStringLiteral("Quillet 2025-01-01 в 10.00.00.png")), pngBytes(8, 6));
        writeFile(inFolder(QStringLiteral(".history.json")), damaged);
        auto store = makeStore();
        resultOf(store->load());
        EXPECT_EQ(namesOf(store->all()), QStringList{QStringLiteral("Quillet 2025-01-01 в 10.00.00.png")});
        EXPECT_EQ(indexOnDisk().items, store->all()) << damaged.constData();
    }

    // With no PNG files: a damaged index becomes an empty one, a missing one stays missing and
    // a readable empty one is left alone.
    QDir(folder()).removeRecursively();
    QDir().mkpath(folder());
    writeFile(inFolder(QStringLiteral(".history.json")), "garbage");
    resultOf(makeStore()->load());
    EXPECT_EQ(readFile(inFolder(QStringLiteral(".history.json"))), QByteArray(R"({"items":[],"version":1})"));

    QFile::remove(inFolder(QStringLiteral(".history.json")));
    writes = 0;
    resultOf(makeStore()->load());
    EXPECT_FALSE(QFile::exists(inFolder(QStringLiteral(".history.json"))));
    writeFile(inFolder(QStringLiteral(".history.json")), R"({"version":1,"items":[]})");
    resultOf(makeStore()->load());
    EXPECT_EQ(writes, 0);
}

TEST_F(HistoryStoreTest, AnIndexCannotNameFilesOutsideTheHistory) {
    QDir().mkpath(folder() + QStringLiteral("/sub"));
    const QString outside = temp.path() + QStringLiteral("/outside.png");
    writeFile(outside, pngBytes(8, 6));
    writeFile(inFolder(QStringLiteral("sub/inner.png")), pngBytes(8, 6));
    writeFile(inFolder(QStringLiteral(".hidden.png")), pngBytes(8, 6));
    const Screenshot good = record(QStringLiteral("Quillet 2020-01-01 в 10.00.00.png"), 1577862000);
    QList<Screenshot> hostile;
    for (const char* name : {"../outside.png", "sub/inner.png", ".hidden.png", "", ".", "..", "/etc/passwd"}) {
        hostile.append(record(QString::fromUtf8(name), 1577862000));
    }
    writeFile(inFolder(good.fileName), pngBytes(8, 6));
    writeFile(inFolder(QStringLiteral(".history.json")), HistoryIndex{1, hostile + QList<Screenshot>{good}}.encoded());

    auto store = makeStore();
    resultOf(store->load());
    EXPECT_EQ(store->all(), QList<Screenshot>{good});
    EXPECT_EQ(indexOnDisk().items, QList<Screenshot>{good});

    for (const Screenshot& item : hostile) ASSERT_TRUE(resultOf(store->deleteScreenshot(item.id)));
    ASSERT_TRUE(resultOf(store->applyRetention(RetentionPolicy::days(1), QDateTime::currentDateTimeUtc())));
    EXPECT_TRUE(store->all().isEmpty());
    EXPECT_TRUE(QFile::exists(outside));
    EXPECT_TRUE(QFile::exists(inFolder(QStringLiteral("sub/inner.png"))));
    EXPECT_TRUE(QFile::exists(inFolder(QStringLiteral(".hidden.png"))));
}

TEST_F(HistoryStoreTest, FailedIndexWriteRemovesTheNewPngAndKeepsTheList) {
    auto store = makeStore();
    const Screenshot first = addPNG(*store);
    const QByteArray indexBefore = readFile(inFolder(QStringLiteral(".history.json")));
    clockSeconds += 60;

    failWrite = [](const QString& path) { return path.contains(QLatin1String(".history.json.tmp-")) ? EIO : 0; };
    const auto failed = tryAdd(*store);
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().kind, HistoryError::Case::writeFailed);
    EXPECT_TRUE(failed.error().description.contains(qt_error_string(EIO)));
    EXPECT_EQ(store->all(), QList<Screenshot>{first});
    EXPECT_EQ(filesInFolder(), (QStringList{QStringLiteral(".history.json"), first.fileName}));
    EXPECT_EQ(readFile(inFolder(QStringLiteral(".history.json"))), indexBefore);

    // A full disk or quota, on the PNG or on the index, is "not enough space".
    for (int code : {ENOSPC, EDQUOT}) {
        failWrite = [code](const QString& path) { return path.endsWith(QLatin1String(".png")) ? code : 0; };
        EXPECT_EQ(tryAdd(*store).error(), HistoryError::notEnoughSpace());
        failWrite = [code](const QString& path) { return path.contains(QLatin1String(".history.json.tmp-")) ? code : 0; };
        EXPECT_EQ(tryAdd(*store).error(), HistoryError::notEnoughSpace());
    }
    EXPECT_EQ(filesInFolder(), (QStringList{QStringLiteral(".history.json"), first.fileName}));
    EXPECT_EQ(store->all(), QList<Screenshot>{first});
}

TEST_F(HistoryStoreTest, AnAddThatCannotReadTheFolderWritesNoIndexThatForgetsTheHistory) {
    const Screenshot old = record(QStringLiteral("Quillet 2025-01-01 в 10.00.00.png"), 1735714800);
    seed({old});
    const QByteArray indexBefore = readFile(inFolder(QStringLiteral(".history.json")));
    access.listFolder = [](const QString& path) -> Expected<QStringList, FileError> {
        return unexpected(FileError::fromErrno(EIO, path));
    };
    auto store = makeStore();
    const auto stored = tryAdd(*store);
    ASSERT_FALSE(stored);
    EXPECT_EQ(stored.error().kind, HistoryError::Case::writeFailed);
    EXPECT_EQ(readFile(inFolder(QStringLiteral(".history.json"))), indexBefore);
    EXPECT_TRUE(store->all().isEmpty());
}

TEST_F(HistoryStoreTest, UnmountedVolumeLeavesTheStoreUnloadedUntilItComesBack) {
    const QString media = temp.path() + QStringLiteral("/media/anna");
    const QString shots = media + QStringLiteral("/Disk/Shots");
    QDir().mkpath(media);
    std::atomic<bool> mounted{false};
    access.volumesRoots = {media};
    access.isMountPoint = [&mounted](const QString&) { return mounted.load(); };
    auto store = HistoryFixture::makeStore(shots, [] { return QDateTime::currentDateTimeUtc(); }, QTimeZone::utc());
    QSignalSpy changed(store.get(), &HistoryStore::historyDidChange);

    resultOf(store->load());
    EXPECT_EQ(tryAdd(*store).error(), HistoryError::volumeNotMounted());
    EXPECT_FALSE(QFileInfo::exists(media + QStringLiteral("/Disk")));
    test::drainEvents();
    EXPECT_EQ(changed.size(), 0);

    QDir().mkpath(shots);
    writeFile(shots + QStringLiteral("/Quillet 2025-01-01 в 10.00.00.png"), pngBytes(8, 6));
    mounted = true;
    resultOf(store->load());
    EXPECT_EQ(store->all().size(), 1);
    EXPECT_TRUE(test::waitUntil([&] { return changed.size() == 1; }));
}

TEST_F(HistoryStoreTest, DeleteRemovesFileAndThumbnailsAndToleratesAMissingFile) {
    auto store = makeStore();
    const Screenshot first = addPNG(*store);
    const Screenshot second = addPNG(*store);
    ASSERT_TRUE(resultOf(store->thumbnail(first, 4)));
    ASSERT_EQ(QDir(thumbs()).entryList(QDir::Files).size(), 1);
    QSignalSpy changed(store.get(), &HistoryStore::historyDidChange);

    ASSERT_TRUE(resultOf(store->deleteScreenshot(first.id)));
    EXPECT_FALSE(QFile::exists(store->fileURL(first)));
    EXPECT_TRUE(QDir(thumbs()).entryList(QDir::Files).isEmpty());
    EXPECT_EQ(store->all(), QList<Screenshot>{second});

    // Unknown ids change nothing and say nothing.
    writes = 0;
    ASSERT_TRUE(resultOf(store->deleteScreenshot(QUuid::createUuid())));
    EXPECT_EQ(writes, 0);

    QFile::remove(store->fileURL(second));
    ASSERT_TRUE(resultOf(store->deleteScreenshot(second.id)));
    EXPECT_TRUE(indexOnDisk().items.isEmpty());
    EXPECT_TRUE(test::waitUntil([&] { return changed.size() == 2; }));
    test::drainEvents();
    EXPECT_EQ(changed.size(), 2);

    // A removal that fails keeps the screenshot.
    const Screenshot third = addPNG(*store);
    failRemove = [](const QString&) { return EACCES; };
    const auto refused = resultOf(store->deleteScreenshot(third.id));
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(), HistoryError::deleteFailed(FileError::fromErrno(EACCES, store->fileURL(third)).description));
    EXPECT_EQ(store->all(), QList<Screenshot>{third});
}

TEST_F(HistoryStoreTest, RetentionRemovesWhatItCanAndReportsTheFirstFailure) {
    const qint64 now = 1741345509;
    const QList<Screenshot> items{
        record(QStringLiteral("Quillet 2025-03-06 в 10.00.00.png"), now - 86400),
        record(QStringLiteral("Quillet 2025-02-01 в 10.00.00.png"), now - 40 * 86400),
        record(QStringLiteral("Quillet 2025-01-31 в 10.00.00 (2).png"), now - 41 * 86400),
        record(QStringLiteral("Quillet 2025-01-30 в 10.00.00.png"), now - 42 * 86400),
        record(QStringLiteral("Quillet 2025-01-29 в 10.00.00.png"), now - 43 * 86400),
        record(QStringLiteral("holiday.png"), now - 300 * 86400),
    };
    seed(items);
    auto store = makeStore();
    resultOf(store->load());
    const QDateTime nowDate = QDateTime::fromSecsSinceEpoch(now, QTimeZone::utc());
    EXPECT_EQ(store->expiredCount(RetentionPolicy::days(30), nowDate), 4);
    EXPECT_EQ(store->expiredCount(RetentionPolicy::days(0), nowDate), 0);
    EXPECT_EQ(store->expiredCount(RetentionPolicy::forever(), nowDate), 0);
    EXPECT_EQ(resultOf(store->applyRetention(RetentionPolicy::days(0), nowDate)).error(), HistoryError::invalidRetention());
    EXPECT_EQ(resultOf(store->applyRetention(RetentionPolicy::days(366), nowDate)).error(), HistoryError::invalidRetention());
    ASSERT_TRUE(resultOf(store->applyRetention(RetentionPolicy::forever(), nowDate)));
    EXPECT_EQ(store->all().size(), 6);

    QSignalSpy changed(store.get(), &HistoryStore::historyDidChange);
    failRemove = [&](const QString& path) {
        return path.endsWith(items[2].fileName) || path.endsWith(items[4].fileName) ? EBUSY : 0;
    };
    const auto result = resultOf(store->applyRetention(RetentionPolicy::days(30), nowDate));
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), HistoryError::deleteFailed(FileError::fromErrno(EBUSY, inFolder(items[2].fileName)).description));
    const QList<Screenshot> remaining{items[0], items[2], items[4], items[5]};
    EXPECT_EQ(store->all(), remaining);
    EXPECT_EQ(indexOnDisk().items, remaining);
    EXPECT_FALSE(QFile::exists(inFolder(items[1].fileName)));
    EXPECT_FALSE(QFile::exists(inFolder(items[3].fileName)));
    EXPECT_TRUE(test::waitUntil([&] { return changed.size() == 1; }));
}

TEST_F(HistoryStoreTest, TheSevenDayBoundaryIsExactToTheSecondInEveryTimeZone) {
    for (const char* zone : {"UTC", "Europe/Berlin", "America/New_York", "Asia/Kolkata"}) {
        LocalZone local(zone);
        // A local time a few hours after the spring daylight-saving change in Berlin.
        const QDateTime now(QDate(2025, 3, 30), QTime(9, 30, 0));
        const qint64 seconds = now.toSecsSinceEpoch();
        clockSeconds = seconds;  // the store's clock agrees: its items are not from the future
        const Screenshot atCutoff = record(QStringLiteral("Quillet 2025-03-23 в 09.30.00.png"), seconds - 604800);
        const Screenshot beyond = record(QStringLiteral("Quillet 2025-03-23 в 09.29.59.png"), seconds - 604801);
        QDir(folder()).removeRecursively();
        seed({atCutoff, beyond});
        auto store = makeStore();
        resultOf(store->load());
        EXPECT_EQ(store->expiredCount(RetentionPolicy::days(7), now), 1) << zone;
        ASSERT_TRUE(resultOf(store->applyRetention(RetentionPolicy::days(7), now)));
        EXPECT_EQ(store->all(), QList<Screenshot>{atCutoff}) << zone;
    }
}

TEST_F(HistoryStoreTest, NewFilesReachTheDiskBeforeTheyAreRenamedAndTheFolderAfter) {
    auto store = makeStore();
    addPNG(*store);
    clockSeconds += 1;

    struct Step {
        QString synced;
        QStringList files;
        qsizetype indexedItems = -1;  // in ".history.json" at that moment
        QByteArray content;           // of the flushed file
    };
    std::mutex lock;
    QList<Step> steps;
    onSync = [&](const QString& path) {
        const auto index = HistoryIndex::decode(readFile(inFolder(QStringLiteral(".history.json"))));
        std::lock_guard guard(lock);
        steps.append({QFileInfo(path).fileName(), filesInFolder(), index ? index->items.size() : -1, readFile(path)});
        return 0;
    };
    const Screenshot added = addPNG(*store);
    onSync = {};

    ASSERT_EQ(steps.size(), 4);
    const QString folderName = QFileInfo(folder()).fileName();
    // The PNG, complete under its temporary name, then the folder once it has its final name.
    EXPECT_TRUE(steps[0].synced.startsWith(QLatin1String(".tmp-")));
    EXPECT_TRUE(steps[0].files.contains(steps[0].synced));
    EXPECT_FALSE(steps[0].files.contains(added.fileName));
    EXPECT_EQ(steps[0].content, pngBytes(8, 6));
    EXPECT_EQ(steps[1].synced, folderName);
    EXPECT_TRUE(steps[1].files.contains(added.fileName));
    EXPECT_FALSE(steps[1].files.contains(steps[0].synced));
    // Then the index, the same way; the old index is still in place while the new one is flushed.
    EXPECT_TRUE(steps[2].synced.startsWith(QLatin1String(".history.json.tmp-")));
    EXPECT_EQ(HistoryIndex::decode(steps[2].content).value().items.size(), 2);
    EXPECT_EQ(steps[2].indexedItems, 1);
    EXPECT_EQ(steps[3].synced, folderName);
    EXPECT_FALSE(steps[3].files.contains(steps[2].synced));
    EXPECT_EQ(steps[3].indexedItems, 2);

    // A PNG that cannot be flushed is not stored.
    clockSeconds += 1;
    const QStringList before = filesInFolder();
    onSync = [](const QString& path) { return QFileInfo(path).fileName().startsWith(QLatin1String(".tmp-")) ? EIO : 0; };
    const auto refused = tryAdd(*store);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().kind, HistoryError::Case::writeFailed);
    EXPECT_EQ(filesInFolder(), before);
}

TEST_F(HistoryStoreTest, ChangeSignalArrivesOnTheMainThreadWithTheListAlreadyUpdated) {
    auto store = makeStore();
    resultOf(store->load());
    QThread* signalThread = nullptr;
    qsizetype seenCount = -1;
    QObject::connect(store.get(), &HistoryStore::historyDidChange, store.get(), [&] {
        signalThread = QThread::currentThread();
        seenCount = store->all().size();
    });
    auto future = store->add(pngBytes(8, 6), PixelSize{8, 6}, ScreenshotKind::region, std::nullopt);
    ASSERT_TRUE(test::waitUntil([&] { return signalThread != nullptr; }));
    EXPECT_EQ(signalThread, QThread::currentThread());
    EXPECT_EQ(seenCount, 1);
    EXPECT_TRUE(resultOf(future));
}

// Only own names expire; naming itself is checked through the store.
TEST(HistoryFileNames, OwnNamesFollowThePattern) {
    const QRegularExpression pattern(QRegularExpression::anchoredPattern(HistoryFileName::pattern.toString()));
    for (const char* name :
         {"Quillet 2025-03-07 в 14.05.09.png", "Quillet 2025-03-07 в 14.05.09 (2).png", "Quillet 2025-03-07 в 14.05.09 (123).png",
          "Quillet 2025-03-07 в 14.05.09 ().png", "Quillet 2025-03-07 в 14.05.09 (2)png", "Quillet 2025-03-07 в 14.05.09.PNG",
          "Quillet 2025-03-07 в 14.05.9.png", "Quillet 2025-03-07 14.05.09.png", "Quillet 2025-03-07 в 14.05.09 (2).png.png",
          "quillet 2025-03-07 в 14.05.09.png", "Quillet 2025-03-07 в 14.05.09(2).png", "Quillet 2025-03-07 в 14.05.09 (x).png",
          "Quillet 2025-03-07 в 14.05.09 (2) .png", "Quillet 2025-03-07 в 14:05:09.png", "a.png", ""}) {
        const QString text = QString::fromUtf8(name);
        EXPECT_EQ(HistoryFileName::isOwn(text), pattern.match(text).hasMatch()) << name;
    }
}

TEST_F(HistoryStoreTest, NamedPipesThatLookLikeScreenshotsAreNeverOpenedAndCapturesAfterThemAreStored) {
    const Screenshot kept = record(QStringLiteral("Quillet 2025-01-01 в 10.00.00.png"), 1735714800);
    const Screenshot piped = record(QStringLiteral("Quillet 2025-01-02 в 10.00.00.png"), 1735801200);
    seed({kept});
    writeFile(inFolder(QStringLiteral(".history.json")), HistoryIndex{1, {piped, kept}}.encoded());
    Pipe listed(inFolder(piped.fileName));
    Pipe stray(inFolder(QStringLiteral("stray.png")));

    auto store = makeStore();
    resultOf(store->load());
    EXPECT_EQ(store->all(), QList<Screenshot>{kept});
    const auto stored = tryAdd(*store);
    ASSERT_TRUE(stored);
    EXPECT_EQ(store->all().size(), 2);
    EXPECT_FALSE(resultOf(store->thumbnail(piped, 4)));
    // The pipes are somebody's; they stay.
    EXPECT_TRUE(QFileInfo(inFolder(QStringLiteral("stray.png"))).exists());

    // A pipe in place of the index is no index: the PNG files are listed and a real index written.
    QDir(folder()).removeRecursively();
    seed({kept});
    QFile::remove(inFolder(QStringLiteral(".history.json")));
    Pipe index(inFolder(QStringLiteral(".history.json")));
    auto second = makeStore();
    resultOf(second->load());
    EXPECT_EQ(namesOf(second->all()), QStringList{kept.fileName});
    EXPECT_EQ(namesOf(indexOnDisk().items), QStringList{kept.fileName});
}

TEST_F(HistoryStoreTest, AWriteStuckInFsyncHoldsNoThreadThatPaintingNeedsAndLaterWritesKeepOrderAndTime) {
    auto store = makeStore();
    const Screenshot first = addPNG(*store);
    test::Gate disk;
    std::atomic<bool> stuck{false};
    onSync = [&](const QString&) {
        stuck = true;
        disk.wait();
        return 0;
    };
    const auto release = qScopeGuard([&] { disk.open(); });

    // More writes than the global pool has threads (on that pool they would all be held): one
    // that gets stuck, then the rest within one later second, one of them an image to encode.
    const int count = QThreadPool::globalInstance()->maxThreadCount() + 2;
    QList<QFuture<StoredScreenshot>> adds;
    QImage image(8, 6, QImage::Format_RGB32);
    image.fill(Qt::red);
    clockSeconds += 1;
    adds.append(store->add(pngBytes(8, 6), PixelSize{8, 6}, ScreenshotKind::window, std::nullopt));
    ASSERT_TRUE(test::waitUntil([&] { return stuck.load(); }));
    clockSeconds += 1;
    for (int i = 1; i < count; ++i) {
        adds.append(i == 1 ? store->add(image, ScreenshotKind::edited, QUuid::createUuid())
                           : store->add(pngBytes(8, 6), PixelSize{8, 6}, ScreenshotKind::window, std::nullopt));
    }

    // Qt's raster engine draws images on the global pool; it must stay free, and the main
    // thread keeps answering from memory and serving thumbnails.
    EXPECT_TRUE(test::waitFor(QtConcurrent::run([] { return 1; }), std::chrono::seconds(3)));
    EXPECT_EQ(store->all(), QList<Screenshot>{first});
    EXPECT_TRUE(test::waitFor(store->thumbnail(first, 4), std::chrono::seconds(3)));
    EXPECT_FALSE(adds.last().isFinished());

    clockSeconds += 60;  // the disk lets them through much later
    disk.open();
    for (int i = 0; i < count; ++i) {
        const auto stored = resultOf(adds[i]);
        ASSERT_TRUE(stored);
        // Dated and named when handed in; within one second the " (n)" follow the calls.
        const QDateTime handedIn = first.createdAt.addSecs(i == 0 ? 1 : 2);
        EXPECT_EQ(stored->createdAt, handedIn);
        const QString name = HistoryFileName::make(handedIn, QTimeZone(3 * 3600));
        EXPECT_EQ(stored->fileName, i <= 1 ? name : name.chopped(4) + QStringLiteral(" (%1).png").arg(i));
    }
    onSync = {};  // nothing runs on the queue any more
}

TEST_F(HistoryStoreTest, ADamagedIndexLosesOnlyItsBadEntriesAndIsKeptAsideWithAWarning) {
    const QUuid source = QUuid::createUuid();
    QList<Screenshot> items{record(QStringLiteral("Quillet 2025-01-03 в 10.00.00.png"), 1735887600),
                            record(QStringLiteral("Quillet 2025-01-02 в 10.00.00.png"), 1735801200),
                            record(QStringLiteral("Quillet 2025-01-01 в 10.00.00.png"), 1735714800)};
    items[0].kind = ScreenshotKind::window;
    items[1].kind = ScreenshotKind::edited;
    items[1].sourceID = source;
    const QByteArray whole = HistoryIndex{1, items}.encoded();
    struct Row {
        const char* what;
        QByteArray index;
        QList<Screenshot> kept;  // as they were; the others are adopted from their files
    };
    QByteArray badMiddle = whole;
    badMiddle.replace("\"kind\":\"edited\"", "\"kind\":\"painted\"");
    const Row rows[] = {
        {"cut off", whole.left(whole.size() - 40), items.mid(0, 2)},
        {"one bad entry", badMiddle, {items[0], items[2]}},
    };
    for (const Row& row : rows) {
        QDir(folder()).removeRecursively();
        seed(items);
        writeFile(inFolder(QStringLiteral(".history.json")), row.index);
        test::LogCapture log;
        auto store = makeStore();
        resultOf(store->load());

        const QList<Screenshot> all = store->all();
        ASSERT_EQ(all.size(), 3) << row.what;
        for (const Screenshot& kept : row.kept) EXPECT_TRUE(all.contains(kept)) << row.what;
        EXPECT_EQ(indexOnDisk().items, all) << row.what;
        const QStringList copies = QDir(folder()).entryList({QStringLiteral(".history.json.damaged-*")}, QDir::Files | QDir::Hidden);
        ASSERT_EQ(copies.size(), 1) << row.what;
        EXPECT_EQ(readFile(inFolder(copies[0])), row.index) << row.what;
        const QStringList warnings = log.texts("quillet.history", QtWarningMsg);
        ASSERT_EQ(warnings.size(), 1) << row.what;
        EXPECT_TRUE(warnings[0].contains(copies[0])) << row.what;
    }

    // An index larger than any real history is damaged; it is kept aside without being read.
    QDir(folder()).removeRecursively();
    seed(items);
    QFile huge(inFolder(QStringLiteral(".history.json")));
    ASSERT_TRUE(huge.open(QIODevice::WriteOnly));
    ASSERT_TRUE(huge.resize(HistoryStore::maxIndexBytes + 1));  // sparse: no disk used
    huge.close();
    auto store = makeStore();
    resultOf(store->load());
    EXPECT_EQ(store->all().size(), 3);
    const QStringList copies = QDir(folder()).entryList({QStringLiteral(".history.json.damaged-*")}, QDir::Files | QDir::Hidden);
    ASSERT_EQ(copies.size(), 1);
    EXPECT_EQ(QFileInfo(inFolder(copies[0])).size(), HistoryStore::maxIndexBytes + 1);
    EXPECT_LT(QFileInfo(inFolder(QStringLiteral(".history.json"))).size(), 4096);
}

TEST_F(HistoryStoreTest, NonsenseSizesAndFutureDatesAreRepairedFromTheFiles) {
    clockSeconds = QDateTime::currentSecsSinceEpoch() + 3600;
    const QDateTime now = QDateTime::fromSecsSinceEpoch(clockSeconds, QTimeZone::utc());
    const QList<std::pair<PixelSize, QDateTime>> stored{
        {PixelSize{-5, 6}, now.addDays(-1)},
        {PixelSize{8, 5000000000}, now.addDays(-2)},
        {PixelSize{0, 0}, now.addDays(-3)},
        {PixelSize{8, 6}, now.addYears(3)},
    };
    QList<Screenshot> items;
    for (qsizetype i = 0; i < stored.size(); ++i) {
        items.append(record(QStringLiteral("shot %1.png").arg(i), stored[i].second.toSecsSinceEpoch()));
        items.last().pixelSize = stored[i].first;
    }
    items.append(record(QStringLiteral("not an image.png"), now.addDays(-4).toSecsSinceEpoch()));
    items.last().pixelSize = PixelSize{-1, -1};
    seed(items);
    writeFile(inFolder(QStringLiteral("not an image.png")), "text");

    auto store = makeStore();
    resultOf(store->load());
    const QList<Screenshot> all = store->all();
    ASSERT_EQ(all.size(), 4);  // the entry whose file is no image is dropped
    for (const Screenshot& item : all) {
        EXPECT_EQ(item.pixelSize, (PixelSize{8, 6})) << qPrintable(item.fileName);
        EXPECT_LE(item.createdAt, now) << qPrintable(item.fileName);
    }
    // The one from the future takes its file's date, which is earlier than now.
    const Screenshot repaired = *std::find_if(all.begin(), all.end(), [](const Screenshot& s) {
        return s.fileName == QStringLiteral("shot 3.png");
    });
    EXPECT_EQ(repaired.id, items[3].id);
    EXPECT_LE(qAbs(repaired.createdAt.secsTo(QFileInfo(inFolder(repaired.fileName)).lastModified())), 1);
    EXPECT_EQ(all.first().fileName, QStringLiteral("shot 3.png"));
    EXPECT_EQ(indexOnDisk().items, all);
}

TEST_F(HistoryStoreTest, ChangesMadeOutsideAreNoticedAndAVanishedFolderIsAnnouncedNotSilentlyRecreated) {
    auto store = makeStore();
    QSignalSpy lost(store.get(), &HistoryStore::folderUnavailable);
    const Screenshot first = addPNG(*store);
    clockSeconds += 1;
    const Screenshot second = addPNG(*store);

    // Noticed through the folder watch: a file deleted by hand leaves the list and the index,
    // a PNG put in by hand joins them.
    QFile::remove(store->fileURL(second));
    writeFile(inFolder(QStringLiteral("by hand.png")), pngBytes(8, 6));
    // The list is replaced a moment before the index is, so wait for both.
    EXPECT_TRUE(test::waitUntil([&] {
        return namesOf(store->all()) == QStringList{QStringLiteral("by hand.png"), first.fileName} &&
               indexOnDisk().items == store->all();
    }));

    // The whole folder deleted: the list empties and the loss is announced with its cause.
    QDir(folder()).removeRecursively();
    ASSERT_TRUE(test::waitUntil([&] { return lost.size() == 1; }));
    EXPECT_EQ(lost[0][0].value<HistoryError>(), HistoryError::folderMissing());
    EXPECT_TRUE(store->all().isEmpty());
    // The next capture makes a new folder whose index lists only what is really there.
    const Screenshot fresh = addPNG(*store);
    EXPECT_EQ(store->all(), QList<Screenshot>{fresh});
    EXPECT_EQ(indexOnDisk().items, QList<Screenshot>{fresh});

    // Checked before each change too, before any watch could tell.
    QDir(folder()).removeRecursively();
    clockSeconds += 1;
    const Screenshot afterDelete = addPNG(*store);
    EXPECT_EQ(indexOnDisk().items, QList<Screenshot>{afterDelete});

    // A file put where the folder was is named as such.
    QDir(folder()).removeRecursively();
    writeFile(folder(), "a file");
    const auto refused = tryAdd(*store);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(), HistoryError::notADirectory());
    EXPECT_TRUE(store->all().isEmpty());
}
