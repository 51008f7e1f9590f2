// The store under pressure: a writer process killed at random moments never leaves a history
// that lost or half-wrote anything, and many threads adding, deleting and reading at once lose
// nothing and never deadlock.
#include "history/HistoryStore.h"

#include "core/ImageCodec.h"
#include "history/HistoryIndex.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
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
