// The history store over a real folder with real PNG files, the write queue it runs on, and a
// writer process killed at random moments.
#include "HistoryFixture.h"
#include "history/HistoryFileName.h"
#include "history/HistoryQueue.h"

#include <QScopeGuard>
#include <QSignalSpy>
#include <QThread>
#include <QThreadPool>
#include <QSet>
#include <QtConcurrent/QtConcurrentRun>

#include <cerrno>
#include <chrono>
#include <sys/stat.h>

using namespace quillet;
using namespace quillet::test;
using std::chrono::microseconds;
using std::chrono::steady_clock;

namespace {

class HistoryStoreTest : public HistoryFixture {
protected:
    QString folder() const { return path(QStringLiteral("history")); }
    QString inFolder(const QString& name) const { return folder() + QLatin1Char('/') + name; }
    QString indexFile() const { return inFolder(QStringLiteral(".history.json")); }

    std::unique_ptr<HistoryStore> makeStore() {
        QDir().mkpath(folder());
        return HistoryFixture::makeStore(
            folder(), [this] { return QDateTime::fromSecsSinceEpoch(clockSeconds, QTimeZone::utc()); }, QTimeZone(3 * 3600));
    }

    static StoredScreenshot tryAdd(HistoryStore& store) {
        return resultOf(store.add(pngBytes(8, 6), PixelSize{8, 6}, ScreenshotKind::region, std::nullopt));
    }
    Screenshot addPNG(HistoryStore& store) {
        auto stored = tryAdd(store);
        EXPECT_TRUE(stored) << qPrintable(stored ? QString() : describe(stored.error()));
        return stored ? *stored : Screenshot{};
    }

    QStringList filesInFolder() const { return QDir(folder()).entryList(QDir::Files | QDir::Hidden, QDir::Name); }

    // 2025-03-07 11:05:09 UTC, 14:05:09 in the store's zone (UTC+3).
    std::atomic<qint64> clockSeconds{1741345509};
};

const QString base = QStringLiteral("Quillet 2025-03-07 в 14.05.09");

// One of the history's own names, "Quillet <stamp>.png".
Screenshot own(const char* stamp, qint64 secondsSinceEpoch, ScreenshotKind kind = ScreenshotKind::fullScreen) {
    return record(QStringLiteral("Quillet %1.png").arg(QString::fromUtf8(stamp)), secondsSinceEpoch, kind);
}

}  // namespace

TEST_F(HistoryStoreTest, AddsInOneSecondTakeTheNextFreeNameNewestFirstAndAreAnnouncedOnTheMainThread) {
    auto store = makeStore();
    // A file that is present but not listed still takes its name.
    writeFile(inFolder(base + QStringLiteral(" (2).png")), "not listed");
    QList<qsizetype> seen;  // the list's length as each change is announced
    QObject::connect(store.get(), &HistoryStore::historyDidChange, store.get(), [&] {
        EXPECT_EQ(QThread::currentThread(), QCoreApplication::instance()->thread());
        seen.append(store->all().size());
    });

    QList<Screenshot> added;  // newest first
    for (int i = 0; i < 3; ++i) added.prepend(addPNG(*store));
    EXPECT_EQ(namesOf(added), (QStringList{base + " (4).png", base + " (3).png", base + ".png"}));
    EXPECT_EQ(store->all(), added);
    EXPECT_EQ(indexOnDisk(folder()).items, store->all());
    EXPECT_TRUE(test::waitUntil([&] { return seen.size() == 3; }));
    EXPECT_EQ(seen, (QList<qsizetype>{1, 2, 3}));
}

// Named pipes that look like screenshots are never opened, and captures after them are stored.
// A nonsense size and a date in the future (it would stay first and never expire) are repaired
// from the file.
TEST_F(HistoryStoreTest, LoadingDropsStaleHostileAndPipedEntriesRepairsNonsenseAdoptsForeignPngsAndRemovesLeftovers) {
    clockSeconds = QDateTime::currentSecsSinceEpoch() + 3600;  // the files are not from the future
    const Screenshot kept = own("2025-01-01 в 10.00.00", 1735714800);
    const Screenshot stale = own("2025-01-02 в 10.00.00", 1735801200);  // its file is gone
    const Screenshot piped = own("2025-01-03 в 10.00.00", 1735887600);
    const Screenshot future =
        record(QStringLiteral("shot.png"), clockSeconds + 3 * 365 * 86400, ScreenshotKind::region, {-5, 0});
    QList<Screenshot> hostile;  // names outside the folder, below it, hidden, or no file name at all
    for (const char* name : {"../outside.png", "sub/inner.png", ".hidden.png", "", ".", "..", "/etc/passwd"})
        hostile.append(record(QString::fromUtf8(name), 1735714800));
    // A foreign name the index must escape and encode right.
    const QString foreign = QString::fromUtf8("a \"b\" \\ \t\x01 日本 😀.PNG");
    seedFolder(folder(), {future, kept});
    writeFile(indexFile(), HistoryIndex{1, QList<Screenshot>{future, piped, stale, kept} + hostile}.encoded());
    QDir().mkpath(inFolder(QStringLiteral("sub")));
    for (const QString& name :
         {QStringLiteral("../outside.png"), QStringLiteral("sub/inner.png"), QStringLiteral(".hidden.png"), foreign})
        writeFile(inFolder(name), pngBytes(40, 30));
    writeFile(inFolder(QStringLiteral("broken.png")), "no image");
    writeFile(inFolder(QStringLiteral(".tmp-0C6B1F4E-9A59-4F6E-9E53-2D7F5E3C1A00.png")), "half");
    writeFile(inFolder(QStringLiteral(".history.json.tmp-0C6B1F4E-9A59-4F6E-9E53-2D7F5E3C1A00")), "half");
    writeFile(inFolder(QStringLiteral(".keep")), "mine");
    // Somebody's pipes: one where the index lists a screenshot, and a stray one.
    for (const QString& pipe : {inFolder(piped.fileName), inFolder(QStringLiteral("stray.png"))})
        ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);

    auto store = makeStore();
    QSignalSpy changed(store.get(), &HistoryStore::historyDidChange);
    resultOf(store->load());
    ASSERT_TRUE(test::waitUntil([&] { return changed.size() == 1; }));
    const QList<Screenshot> items = store->all();
    ASSERT_EQ(items.size(), 3);
    EXPECT_EQ(items[2], kept);  // the other two are dated by their files
    const auto named = [&](const QString& name) { return *std::ranges::find(items, name, &Screenshot::fileName); };
    const Screenshot adopted = named(foreign);
    EXPECT_EQ(adopted, (Screenshot{adopted.id, adopted.createdAt, ScreenshotKind::region, {40, 30}, foreign, std::nullopt}));
    EXPECT_LE(qAbs(adopted.createdAt.secsTo(QDateTime::currentDateTimeUtc())), 60);
    const Screenshot repaired = named(future.fileName);
    EXPECT_EQ(repaired.pixelSize, (PixelSize{8, 6}));
    EXPECT_LE(qAbs(repaired.createdAt.secsTo(QFileInfo(inFolder(future.fileName)).lastModified())), 1);
    EXPECT_EQ(indexOnDisk(folder()).items, items);
    EXPECT_EQ(filesInFolder(),
              (QStringList{".hidden.png", ".history.json", ".keep", kept.fileName, foreign, "broken.png", "shot.png"}));

    resultOf(store->load());  // loading happens once
    EXPECT_EQ(changed.size(), 1);
    ASSERT_TRUE(tryAdd(*store));
    EXPECT_FALSE(resultOf(store->thumbnail(piped, 4)));
}

TEST_F(HistoryStoreTest, ADamagedOrForeignIndexLosesNoPngAndIsKeptAsideWithAWarning) {
    QList<Screenshot> items{own("2025-01-03 в 10.00.00", 1735887600, ScreenshotKind::window),
                            own("2025-01-02 в 10.00.00", 1735801200, ScreenshotKind::edited),
                            own("2025-01-01 в 10.00.00", 1735714800)};
    items[1].sourceID = QUuid::createUuid();
    const QByteArray whole = HistoryIndex{1, items}.encoded();
    const struct {
        const char* what;
        QByteArray index;        // empty: a sparse file larger than any real history, never read
        QList<Screenshot> kept;  // as they were; the others are adopted from their files
    } rows[] = {
        {"cut off", whole.left(whole.size() - 40), items.mid(0, 2)},
        {"another version", R"({"items":[],"version":2})", {}},
        {"huge", {}, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        QDir(folder()).removeRecursively();
        seedFolder(folder(), items);
        writeFile(indexFile(), row.index);
        const qint64 size = row.index.isEmpty() ? HistoryStore::maxIndexBytes + 1 : row.index.size();
        ASSERT_TRUE(QFile::resize(indexFile(), size));
        test::LogCapture log;
        auto store = makeStore();
        resultOf(store->load());

        const QList<Screenshot> all = store->all();
        ASSERT_EQ(all.size(), 3);
        for (const Screenshot& kept : row.kept) EXPECT_TRUE(all.contains(kept));
        EXPECT_EQ(indexOnDisk(folder()).items, all);
        const QStringList copies =
            QDir(folder()).entryList({QStringLiteral(".history.json.damaged-*")}, QDir::Files | QDir::Hidden);
        ASSERT_EQ(copies.size(), 1);
        EXPECT_EQ(QFileInfo(inFolder(copies[0])).size(), size);
        if (!row.index.isEmpty()) {
            EXPECT_EQ(readFile(inFolder(copies[0])), row.index);
        }
        const QStringList warnings = log.texts("quillet.history", QtWarningMsg);
        ASSERT_EQ(warnings.size(), 1);
        EXPECT_TRUE(warnings[0].contains(copies[0]));
    }
}

TEST_F(HistoryStoreTest, FailedAddsLeaveTheFilesTheListAndTheIndexAsTheyWere) {
    seedFolder(folder(), {own("2025-01-01 в 10.00.00", 1735714800)});
    const QStringList filesBefore = filesInFolder();
    const QByteArray indexBefore = readFile(indexFile());
    // An add that cannot read the folder would write an index that forgets the history.
    std::atomic<bool> unreadable{true};
    access.listFolder = [&unreadable, list = access.listFolder](const QString& path) -> Expected<QStringList, FileError> {
        if (unreadable) return unexpected(FileError::fromErrno(EIO, path));
        return list(path);
    };
    auto store = makeStore();
    EXPECT_EQ(tryAdd(*store).error().kind, HistoryError::Case::writeFailed);
    EXPECT_TRUE(store->all().isEmpty());
    unreadable = false;

    failWrite = [](const QString& path) { return path.contains(QLatin1String(".history.json.tmp-")) ? EDQUOT : 0; };
    EXPECT_EQ(tryAdd(*store).error(), HistoryError::notEnoughSpace());
    failWrite = [](const QString& path) { return path.endsWith(QLatin1String(".png")) ? EIO : 0; };
    EXPECT_EQ(tryAdd(*store).error().kind, HistoryError::Case::writeFailed);
    failWrite = {};
    // A PNG that cannot be flushed is not stored.
    onSync = [](const QString& path) { return QFileInfo(path).fileName().startsWith(QLatin1String(".tmp-")) ? EIO : 0; };
    EXPECT_EQ(tryAdd(*store).error().kind, HistoryError::Case::writeFailed);
    EXPECT_EQ(resultOf(store->add(QImage(), ScreenshotKind::region, std::nullopt)).error(), HistoryError::unreadableImage());
    EXPECT_EQ(resultOf(store->add(QByteArray(), PixelSize{1, 1}, ScreenshotKind::region, std::nullopt)).error(),
              HistoryError::unreadableImage());
    EXPECT_EQ(store->all().size(), 1);
    EXPECT_EQ(filesInFolder(), filesBefore);
    EXPECT_EQ(readFile(indexFile()), indexBefore);
}

TEST_F(HistoryStoreTest, RetentionAndDeleteRemoveWhatTheyCanAndKeepWhatTheyCannot) {
    // A few hours after Berlin's spring change: the cut-off lies seven times 86 400 seconds back,
    // not seven calendar days.
    const QDateTime now(QDate(2025, 3, 30), QTime(9, 30, 0), QTimeZone("Europe/Berlin"));
    clockSeconds = now.toSecsSinceEpoch();  // the store's clock agrees: its items are not from the future
    const qint64 cutoff = clockSeconds - 7 * 86400;
    // Only own names expire; the third and the fifth are busy.
    const QList<Screenshot> items{own("2025-03-23 в 09.30.00", cutoff),
                                  own("2025-03-23 в 09.29.59", cutoff - 1),
                                  own("2025-03-20 в 10.00.00 (2)", cutoff - 3 * 86400),
                                  own("2025-03-19 в 10.00.00", cutoff - 4 * 86400),
                                  own("2025-03-18 в 10.00.00", cutoff - 5 * 86400),
                                  record(QStringLiteral("Quillet 2025-03-17 10.00.00.png"), cutoff - 6 * 86400),
                                  record(QStringLiteral("holiday.png"), cutoff - 300 * 86400)};
    seedFolder(folder(), items);
    auto store = makeStore();
    resultOf(store->load());
    EXPECT_EQ(store->expiredCount(RetentionPolicy::days(7), now), 4);
    EXPECT_EQ(store->expiredCount(RetentionPolicy::days(0), now), 0);
    EXPECT_EQ(store->expiredCount(RetentionPolicy::forever(), now), 0);
    EXPECT_EQ(resultOf(store->applyRetention(RetentionPolicy::days(0), now)).error(), HistoryError::invalidRetention());
    ASSERT_TRUE(resultOf(store->applyRetention(RetentionPolicy::forever(), now)));

    QSignalSpy changed(store.get(), &HistoryStore::historyDidChange);
    failRemove = [&](const QString& path) {
        return path.endsWith(items[2].fileName) || path.endsWith(items[4].fileName) ? EBUSY : 0;
    };
    const auto busy = [&](qsizetype i) {
        return HistoryResult(
            unexpected(HistoryError::deleteFailed(FileError::fromErrno(EBUSY, inFolder(items[i].fileName)).description)));
    };
    EXPECT_EQ(resultOf(store->applyRetention(RetentionPolicy::days(7), now)), busy(2));
    EXPECT_EQ(store->all(), (QList<Screenshot>{items[0], items[2], items[4], items[5], items[6]}));
    EXPECT_FALSE(QFile::exists(inFolder(items[1].fileName)));
    EXPECT_FALSE(QFile::exists(inFolder(items[3].fileName)));

    // A delete takes the thumbnails along; an unknown id changes nothing, a file already gone
    // counts as deleted, and one that cannot be removed stays listed.
    ASSERT_TRUE(resultOf(store->thumbnail(items[0], 4)));
    ASSERT_TRUE(resultOf(store->deleteScreenshot(items[0].id)));
    EXPECT_FALSE(QFile::exists(inFolder(items[0].fileName)));
    EXPECT_TRUE(QDir(thumbs()).entryList(QDir::Files).isEmpty());
    ASSERT_TRUE(resultOf(store->deleteScreenshot(QUuid::createUuid())));
    QFile::remove(inFolder(items[5].fileName));
    ASSERT_TRUE(resultOf(store->deleteScreenshot(items[5].id)));
    EXPECT_EQ(resultOf(store->deleteScreenshot(items[4].id)), busy(4));
    EXPECT_EQ(store->all(), (QList<Screenshot>{items[2], items[4], items[6]}));
    EXPECT_EQ(indexOnDisk(folder()).items, store->all());
    test::drainEvents();
    EXPECT_EQ(changed.size(), 3);
}

TEST_F(HistoryStoreTest, NewFilesReachTheDiskBeforeTheyAreRenamedAndTheFolderAfter) {
    auto store = makeStore();
    addPNG(*store);
    clockSeconds += 1;
    struct Step {
        QString synced;
        QStringList files;
        qsizetype indexedItems;  // in ".history.json" at that moment
        QByteArray content;      // of the flushed file
    };
    QList<Step> steps;  // the hook runs on the store's one write thread
    onSync = [&](const QString& path) {
        const auto index = indexIn(folder());
        steps.append({QFileInfo(path).fileName(), filesInFolder(), index ? index->items.size() : -1, readFile(path)});
        return 0;
    };
    const Screenshot added = addPNG(*store);
    onSync = {};

    ASSERT_EQ(steps.size(), 4);
    const QString folderName = QFileInfo(folder()).fileName();
    // The PNG, complete under its temporary name, then the folder once it has its final name.
    EXPECT_TRUE(steps[0].synced.startsWith(QLatin1String(".tmp-")));
    EXPECT_TRUE(steps[0].files.contains(steps[0].synced) && !steps[0].files.contains(added.fileName));
    EXPECT_EQ(steps[0].content, pngBytes(8, 6));
    EXPECT_EQ(steps[1].synced, folderName);
    EXPECT_TRUE(steps[1].files.contains(added.fileName) && !steps[1].files.contains(steps[0].synced));
    // Then the index, the same way; the old index is still in place while the new one is flushed.
    EXPECT_TRUE(steps[2].synced.startsWith(QLatin1String(".history.json.tmp-")));
    EXPECT_EQ(HistoryIndex::decode(steps[2].content).value().items.size(), 2);
    EXPECT_EQ(steps[2].indexedItems, 1);
    EXPECT_EQ(steps[3].synced, folderName);
    EXPECT_FALSE(steps[3].files.contains(steps[2].synced));
    EXPECT_EQ(steps[3].indexedItems, 2);
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
    clockSeconds += 1;
    adds.append(store->add(pngBytes(8, 6), PixelSize{8, 6}, ScreenshotKind::window, std::nullopt));
    ASSERT_TRUE(test::waitUntil([&] { return stuck.load(); }));
    clockSeconds += 1;
    for (int i = 1; i < count; ++i) {
        adds.append(i == 1 ? store->add(test::patternImage(QSize(8, 6)), ScreenshotKind::edited, QUuid::createUuid())
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
        EXPECT_EQ(ImageCodec::decodeFile(store->fileURL(*stored))->size(), QSize(8, 6));
    }
    EXPECT_EQ(resultOf(adds[1])->kind, ScreenshotKind::edited);
    EXPECT_TRUE(resultOf(adds[1])->sourceID);
    onSync = {};  // nothing runs on the queue any more
}

TEST_F(HistoryStoreTest, ChangesMadeOutsideAreNoticedAndAVanishedFolderIsAnnouncedNotSilentlyRecreated) {
    auto store = makeStore();
    QSignalSpy lost(store.get(), &HistoryStore::folderUnavailable);
    const Screenshot first = addPNG(*store);
    clockSeconds += 1;
    const Screenshot second = addPNG(*store);

    // Noticed through the folder watch: a file deleted by hand leaves the list and the index,
    // a PNG put in by hand joins them. The list is replaced a moment before the index is.
    QFile::remove(store->fileURL(second));
    writeFile(inFolder(QStringLiteral("by hand.png")), pngBytes(8, 6));
    EXPECT_TRUE(test::waitUntil([&] {
        return namesOf(store->all()) == QStringList{QStringLiteral("by hand.png"), first.fileName} &&
               indexOnDisk(folder()).items == store->all();
    }));

    // The whole folder deleted: the list empties and the loss is announced with its cause. The
    // next capture makes a new folder whose index lists only what is really there.
    QDir(folder()).removeRecursively();
    ASSERT_TRUE(test::waitUntil([&] { return lost.size() == 1; }));
    EXPECT_EQ(lost[0][0].value<HistoryError>(), HistoryError::folderMissing());
    EXPECT_TRUE(store->all().isEmpty());
    const Screenshot fresh = addPNG(*store);
    EXPECT_EQ(indexOnDisk(folder()).items, QList<Screenshot>{fresh});

    // Checked before each change too, before any watch could tell.
    QDir(folder()).removeRecursively();
    clockSeconds += 1;
    const Screenshot afterDelete = addPNG(*store);
    EXPECT_EQ(indexOnDisk(folder()).items, QList<Screenshot>{afterDelete});

    // A file put where the folder was is named as such.
    QDir(folder()).removeRecursively();
    writeFile(folder(), "a file");
    EXPECT_EQ(tryAdd(*store).error(), HistoryError::notADirectory());
    EXPECT_TRUE(store->all().isEmpty());
}

// Nobody waits for a job that is stuck, not even the owner dropping the queue at quit.
TEST(SerialQueue, DroppingTheQueueNeverWaitsForAStuckJobWhichStillFinishes) {
    auto gate = std::make_shared<test::Gate>();
    auto finished = std::make_shared<std::atomic_bool>(false);
    QFuture<void> after;
    {
        SerialQueue queue("test-queue");
        (void)queue.run([gate] { gate->wait(); });
        after = queue.run([finished] { *finished = true; });
    }  // returns although the first job is still blocked
    EXPECT_FALSE(after.isFinished());
    gate->open();
    ASSERT_TRUE(test::waitFor(after));
    EXPECT_TRUE(*finished);
}

TEST_F(HistoryCrash, KilledWriterNeverLeavesAnIndexNamingAMissingOrBrokenPng) {
    const QString folder = path(QStringLiteral("history"));
    const QStringList args{QStringLiteral("add"), folder, thumbs(), path(QStringLiteral("sample.png"))};
    writeFile(args.last(), pngBytes(900, 675));
    QStringList listed;      // every name the history has listed so far
    QSet<QString> verified;  // names whose PNG was decoded in full once
    int adds = 0;
    microseconds perAdd(30000);  // learnt as the runs go
    for (int run = 0; run < 20; ++run) {
        SCOPED_TRACE(testing::Message() << "run " << run);
        // A random moment: after a few whole adds, somewhere inside the next one, however fast
        // this machine adds.
        const QByteArray output = runCrashHelper(args, [&](QProcess& helper, QByteArray& said) {
            const int through = static_cast<int>(random.bounded(4));
            const auto start = steady_clock::now();
            while (said.count("added\n") < through && helper.waitForReadyRead(20000)) said += helper.readAllStandardOutput();
            EXPECT_GE(said.count("added\n"), through) << "the writer stopped adding";
            if (through > 0) perAdd = std::chrono::duration_cast<microseconds>(steady_clock::now() - start) / through;
            QThread::usleep(random.bounded(static_cast<quint32>(perAdd.count()) + 1));
        });
        ASSERT_FALSE(testing::Test::HasFailure());
        adds += static_cast<int>(output.count("added\n"));

        // As the kill left it, the index is whole and still lists everything listed before; a
        // fresh store loads all of it, every PNG whole, and clears the leftovers.
        const auto index = indexIn(folder);
        ASSERT_TRUE(index || !QFile::exists(folder + QStringLiteral("/.history.json"))) << "the index was left half written";
        const QStringList indexed = index ? namesOf(index->items) : QStringList();
        for (const QString& name : listed) ASSERT_TRUE(indexed.contains(name)) << "lost " << qPrintable(name);
        HistoryStore store(folder, thumbs(), [] { return QDateTime::currentDateTimeUtc(); }, QTimeZone::utc());
        ASSERT_TRUE(waitFor(store.load(), std::chrono::seconds(30)));
        const QStringList loaded = namesOf(store.all());
        for (const QString& name : indexed) ASSERT_TRUE(loaded.contains(name)) << "lost " << qPrintable(name);
        for (const QString& name : loaded) {
            if (verified.contains(name)) continue;
            ASSERT_TRUE(ImageCodec::decodeFile(folder + QLatin1Char('/') + name)) << qPrintable(name);
            verified.insert(name);
        }
        ASSERT_EQ(leftovers(folder), QStringList());
        listed = loaded;
    }
    EXPECT_GT(adds, 10) << "the writer was killed too early to test anything";
    EXPECT_GE(listed.size(), adds);
}
