// The store under pressure: a writer process killed at random moments never leaves a history
// that lost or half-wrote anything, a move to another folder killed at random moments leaves
// the whole history in one of the two folders, and many threads adding, deleting and reading at
// once lose nothing and never deadlock.
#include "history/HistoryStore.h"

#include "core/ImageCodec.h"
#include "history/HistoryIndex.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QHash>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <chrono>
#include <mutex>
#include <thread>

using namespace quillet;

namespace {

QByteArray pngBytes(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) image.setPixel(x, y, qRgb(x * 7 % 256, y * 5 % 256, (x ^ y) % 256));
    }
    return *ImageCodec::encodePNG(image);
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList leftovers(const QString& folder) {
    return QDir(folder).entryList({QStringLiteral(".tmp-*"), QStringLiteral(".history.json.tmp-*")},
                                  QDir::Files | QDir::Hidden);
}

QDateTime systemClock() { return QDateTime::currentDateTimeUtc(); }

}  // namespace

TEST(HistoryStoreCrash, KilledWriterNeverLeavesAnIndexNamingAMissingOrBrokenPng) {
#ifdef __SANITIZE_THREAD__
    GTEST_SKIP() << "ThreadSanitizer does not support starting processes from a threaded one; the plain build runs this";
#endif
    QTemporaryDir temp;
    ASSERT_TRUE(temp.isValid());
    const QString folder = temp.path() + QStringLiteral("/history");
    const QString thumbs = temp.path() + QStringLiteral("/thumbs");
    QStringList samples;
    for (int side : {16, 300, 900}) {
        samples.append(temp.path() + QStringLiteral("/sample-%1.png").arg(side));
        QFile file(samples.last());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(pngBytes(side, side * 3 / 4));
    }

    const quint32 seed = QRandomGenerator::global()->generate();
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    QRandomGenerator random(seed);
    QSet<QString> listed;    // every name an index has listed so far
    QSet<QString> verified;  // names whose PNG was decoded in full once
    int adds = 0;
    std::chrono::microseconds perAdd(30000);  // learnt as the runs go
    for (int run = 0; run < 100; ++run) {
        SCOPED_TRACE(testing::Message() << "run " << run);
        QProcess writer;
        writer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        writer.start(QStringLiteral(HISTORY_CRASH_WRITER), QStringList{folder, thumbs} + samples);
        ASSERT_TRUE(writer.waitForStarted(20000));
        QByteArray output;
        while (!output.contains("ready\n")) {
            ASSERT_TRUE(writer.waitForReadyRead(20000)) << "the writer did not start";
            output += writer.readAllStandardOutput();
        }
        // A random moment: after a few whole adds, somewhere inside the next one, however fast
        // this machine adds.
        const int through = static_cast<int>(random.bounded(4));
        const auto start = std::chrono::steady_clock::now();
        while (output.count("added\n") < through) {
            ASSERT_TRUE(writer.waitForReadyRead(20000)) << "the writer stopped adding";
            output += writer.readAllStandardOutput();
        }
        if (through > 0) {
            perAdd = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start) / through;
        }
        QThread::usleep(random.bounded(static_cast<quint32>(perAdd.count()) + 1));
        writer.kill();
        ASSERT_TRUE(writer.waitForFinished(20000));
        output += writer.readAllStandardOutput();
        adds += static_cast<int>(output.count("added\n"));

        // As the kill left it: the index is whole, and every PNG it lists is there and readable.
        QSet<QString> indexed;
        if (QFile::exists(folder + QStringLiteral("/.history.json"))) {
            const auto index = HistoryIndex::decode(readFile(folder + QStringLiteral("/.history.json")));
            ASSERT_TRUE(index) << "the index was left half written";
            for (const Screenshot& item : index->items) {
                indexed.insert(item.fileName);
                const QString path = folder + QLatin1Char('/') + item.fileName;
                if (!verified.contains(item.fileName)) {
                    ASSERT_TRUE(ImageCodec::decodeFile(path)) << qPrintable(item.fileName);
                    verified.insert(item.fileName);
                } else {
                    ASSERT_TRUE(QFile::exists(path)) << qPrintable(item.fileName);
                }
            }
        }
        for (const QString& name : listed) ASSERT_TRUE(indexed.contains(name)) << "lost " << qPrintable(name);

        // A fresh store loads it, keeps everything listed and clears the leftovers.
        HistoryStore store(folder, thumbs, systemClock, QTimeZone::utc());
        ASSERT_TRUE(test::waitFor(store.load(), std::chrono::seconds(30)));
        QSet<QString> loaded;
        for (const Screenshot& item : store.all()) {
            loaded.insert(item.fileName);
            if (!verified.contains(item.fileName)) {
                ASSERT_TRUE(ImageCodec::decodeFile(store.fileURL(item))) << qPrintable(item.fileName);
                verified.insert(item.fileName);
            }
        }
        for (const QString& name : indexed) ASSERT_TRUE(loaded.contains(name)) << "lost " << qPrintable(name);
        ASSERT_EQ(leftovers(folder), QStringList());
        listed = loaded;
    }
    EXPECT_GT(adds, 50) << "the writer was killed too early to test anything";
    EXPECT_GE(listed.size(), adds);
}

TEST(HistoryTransferCrash, KilledMoveLeavesTheWholeHistoryInOneFolderAndLosesNoFile) {
#ifdef __SANITIZE_THREAD__
    GTEST_SKIP() << "ThreadSanitizer does not support starting processes from a threaded one; the plain build runs this";
#endif
    QTemporaryDir temp;
    ASSERT_TRUE(temp.isValid());
    const QString oldFolder = temp.path() + QStringLiteral("/old");
    const QString newFolder = temp.path() + QStringLiteral("/new");
    const QString thumbs = temp.path() + QStringLiteral("/thumbs");

    // Twelve screenshots of different sizes, so the copies take a while; the new folder holds
    // one of its own under the name of the newest.
    QList<Screenshot> history;
    QHash<QUuid, QByteArray> bytes;
    for (int i = 0; i < 12; ++i) {
        const Screenshot item{QUuid::createUuid(), QDateTime::fromSecsSinceEpoch(1741345509 - i * 60, QTimeZone::utc()),
                              ScreenshotKind::region, PixelSize{120 + i * 40, 90 + i * 30},
                              QStringLiteral("Quillet 2025-03-07 в 14.%1.09.png").arg(50 - i), std::nullopt};
        history.append(item);
        bytes.insert(item.id, pngBytes(item.pixelSize.width, item.pixelSize.height));
    }
    const Screenshot resident{QUuid::createUuid(), QDateTime::fromSecsSinceEpoch(1741000000, QTimeZone::utc()),
                              ScreenshotKind::window, PixelSize{20, 10}, history.first().fileName, std::nullopt};
    const QByteArray residentBytes = pngBytes(20, 10);
    auto reset = [&] {
        QDir(oldFolder).removeRecursively();
        QDir(newFolder).removeRecursively();
        QDir().mkpath(oldFolder);
        QDir().mkpath(newFolder);
        for (const Screenshot& item : history) {
            QFile file(oldFolder + QLatin1Char('/') + item.fileName);
            if (!file.open(QIODevice::WriteOnly)) return false;
            file.write(bytes.value(item.id));
        }
        QFile oldIndex(oldFolder + QStringLiteral("/.history.json"));
        QFile residentFile(newFolder + QLatin1Char('/') + resident.fileName);
        QFile newIndex(newFolder + QStringLiteral("/.history.json"));
        if (!oldIndex.open(QIODevice::WriteOnly) || !residentFile.open(QIODevice::WriteOnly) ||
            !newIndex.open(QIODevice::WriteOnly)) {
            return false;
        }
        oldIndex.write(HistoryIndex{1, history}.encoded());
        residentFile.write(residentBytes);
        newIndex.write(HistoryIndex{1, {resident}}.encoded());
        return true;
    };
    // How many of the history's screenshots a folder's list holds, and how many of those with
    // the very bytes they started with.
    struct Held {
        int listed = 0;
        int intact = 0;
    };
    auto heldIn = [&](const QString& folder) {
        const auto loaded = HistoryStore::loadItems(folder, HistoryFolderAccess::system(), &systemClock);
        Held held;
        if (!loaded) return held;
        for (const Screenshot& item : loaded->items) {
            if (!bytes.contains(item.id)) continue;
            ++held.listed;
            if (readFile(folder + QLatin1Char('/') + item.fileName) == bytes.value(item.id)) ++held.intact;
        }
        return held;
    };
    auto visibleFileBytes = [](const QString& folder) {
        QSet<QByteArray> found;
        for (const QString& name : QDir(folder).entryList(QDir::Files)) found.insert(readFile(folder + QLatin1Char('/') + name));
        return found;
    };

    const quint32 seed = QRandomGenerator::global()->generate();
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    QRandomGenerator random(seed);
    std::chrono::microseconds moveTakes(0);
    int beforeTheIndex = 0;
    int whileRemoving = 0;
    for (int run = 0; run < 50; ++run) {
        SCOPED_TRACE(testing::Message() << "run " << run);
        ASSERT_TRUE(reset());
        QProcess mover;
        mover.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        mover.start(QStringLiteral(HISTORY_CRASH_MOVER), QStringList{oldFolder, newFolder, thumbs});
        ASSERT_TRUE(mover.waitForStarted(20000));
        QByteArray output;
        while (!output.contains("ready\n")) {
            ASSERT_TRUE(mover.waitForReadyRead(20000)) << "the mover did not start";
            output += mover.readAllStandardOutput();
        }
        const auto start = std::chrono::steady_clock::now();
        if (run < 2) {
            // The first moves run to the end: they tell how long a whole move takes here.
            ASSERT_TRUE(mover.waitForFinished(60000));
            output += mover.readAllStandardOutput();
            ASSERT_TRUE(output.contains("moved\n")) << "the move failed";
            moveTakes = std::max(moveTakes, std::chrono::duration_cast<std::chrono::microseconds>(
                                                std::chrono::steady_clock::now() - start));
        } else {
            QThread::usleep(random.bounded(static_cast<quint32>(moveTakes.count() * 5 / 4) + 1));
            mover.kill();
            ASSERT_TRUE(mover.waitForFinished(20000));
        }

        // As the kill left it: the whole history, every file intact, is listed by the old folder
        // or by the new one, and the new folder lists all of it or none of it.
        const Held inOld = heldIn(oldFolder);
        const Held inNew = heldIn(newFolder);
        const int whole = static_cast<int>(history.size());
        ASSERT_TRUE(inOld.intact == whole || inNew.intact == whole)
            << "old folder holds " << inOld.intact << ", new folder " << inNew.intact << " of " << whole;
        const auto newIndex = HistoryIndex::decode(readFile(newFolder + QStringLiteral("/.history.json")));
        ASSERT_TRUE(newIndex) << "the new folder's index was left half written";
        const auto indexed = std::count_if(newIndex->items.begin(), newIndex->items.end(),
                                           [&](const Screenshot& item) { return bytes.contains(item.id); });
        ASSERT_TRUE(indexed == 0 || indexed == whole) << "the new index lists " << indexed << " of " << whole;
        // No file lost: each screenshot's bytes are in a file of one folder or the other.
        const QSet<QByteArray> found = visibleFileBytes(oldFolder) + visibleFileBytes(newFolder);
        for (const Screenshot& item : history) ASSERT_TRUE(found.contains(bytes.value(item.id))) << "lost " << qPrintable(item.fileName);
        if (indexed == 0) ++beforeTheIndex;
        else if (inOld.listed > 0) ++whileRemoving;

        // The next start still names the old folder; moving again completes the move with
        // every screenshot once, and both folders are clean.
        HistoryStore store(oldFolder, thumbs, systemClock, QTimeZone::utc());
        ASSERT_TRUE(test::waitFor(store.load(), std::chrono::seconds(30)));
        const auto again = store.relocate(newFolder);
        ASSERT_TRUE(test::waitFor(again, std::chrono::seconds(30)));
        ASSERT_TRUE(again.result()) << qPrintable(describe(again.result().error()));
        QHash<QUuid, int> seen;
        for (const Screenshot& item : store.all()) {
            const QByteArray content = readFile(store.fileURL(item));
            if (item.id == resident.id) {
                ASSERT_EQ(content, residentBytes);
            } else if (bytes.contains(item.id)) {
                ASSERT_EQ(content, bytes.value(item.id)) << qPrintable(item.fileName);
            } else {
                // A copy with a visible name that no index lists would come back as a
                // screenshot of its own: the history would show it twice.
                ADD_FAILURE() << "adopted as new: " << qPrintable(item.fileName)
                              << (found.contains(content) ? " (a copy left by the move)" : " (unknown)");
            }
            ++seen[item.id];
        }
        for (const Screenshot& item : history) ASSERT_EQ(seen.value(item.id), 1) << qPrintable(item.fileName);
        ASSERT_EQ(seen.value(resident.id), 1);
        ASSERT_EQ(QDir(oldFolder).entryList(QDir::Files | QDir::Hidden), QStringList());
        ASSERT_EQ(leftovers(newFolder), QStringList());
    }
    std::printf("killed before the new index: %d, while removing the old files: %d\n", beforeTheIndex, whileRemoving);
    EXPECT_GE(beforeTheIndex, 5) << "the mover was killed too late to test the copying";
}

TEST(HistoryStoreConcurrency, ManyThreadsAddDeleteAndReadWithoutLosingAnything) {
    QTemporaryDir temp;
    ASSERT_TRUE(temp.isValid());
    const QString folder = temp.path() + QStringLiteral("/history");
    HistoryStore store(folder, temp.path() + QStringLiteral("/thumbs"), systemClock, QTimeZone::utc());
    ASSERT_TRUE(test::waitFor(store.load()));
    const QByteArray png = pngBytes(12, 9);

    constexpr int threadCount = 4;
    constexpr int addsPerThread = 24;
    std::mutex lock;
    QSet<QUuid> added;
    QSet<QUuid> deleted;
    std::atomic<int> failures{0};
    std::atomic<int> finished{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t) {
        threads.emplace_back([&, t] {
            QList<Screenshot> mine;
            for (int i = 0; i < addsPerThread; ++i) {
                const auto stored = store.add(png, PixelSize{12, 9}, ScreenshotKind::region, std::nullopt).result();
                if (!stored) { ++failures; continue; }
                mine.append(*stored);
                {
                    std::lock_guard guard(lock);
                    added.insert(stored->id);
                }
                if (i % 3 == 2) {
                    const Screenshot victim = mine.takeFirst();
                    if (!store.deleteScreenshot(victim.id).result()) { ++failures; continue; }
                    std::lock_guard guard(lock);
                    deleted.insert(victim.id);
                }
                if (i % 4 == t % 4) {
                    // Nothing is old enough to expire; this only contends for the gate.
                    if (!store.applyRetention(RetentionPolicy::days(1), systemClock()).result()) ++failures;
                }
                const QList<Screenshot> snapshot = store.all();
                (void)store.expiredCount(RetentionPolicy::days(1), systemClock());
                if (!snapshot.isEmpty()) (void)store.thumbnail(snapshot.first(), 8).result();
            }
            ++finished;
        });
    }
    const bool done = test::waitUntil([&] { return finished == threadCount; }, std::chrono::seconds(60));
    for (auto& thread : threads) thread.join();
    ASSERT_TRUE(done) << "the store deadlocked";
    EXPECT_EQ(failures, 0);

    const QSet<QUuid> expected = added - deleted;
    EXPECT_EQ(added.size(), threadCount * addsPerThread);
    QSet<QUuid> present;
    QStringList files;
    for (const Screenshot& item : store.all()) {
        present.insert(item.id);
        files.append(item.fileName);
    }
    EXPECT_EQ(present, expected);
    const auto index = HistoryIndex::decode(readFile(folder + QStringLiteral("/.history.json")));
    ASSERT_TRUE(index);
    EXPECT_EQ(index->items, store.all());
    files.append(QStringLiteral(".history.json"));
    files.sort();
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name), files);
}
