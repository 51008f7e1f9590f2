// The store under pressure: a helper process killed at random moments while it adds or moves
// never loses or half-writes anything, and many threads at once lose nothing and never deadlock.
// A failing crash run prints its seed; QUILLET_CRASH_SEED=<seed> replays it.
#include "HistoryFixture.h"

#include <QHash>
#include <QProcess>
#include <QSet>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <chrono>
#include <mutex>
#include <thread>

using namespace quillet;
using namespace quillet::test;
using std::chrono::microseconds;

namespace {

QDateTime systemClock() { return QDateTime::currentDateTimeUtc(); }

quint32 crashSeed() {
    bool given = false;
    const quint32 seed = qEnvironmentVariableIntValue("QUILLET_CRASH_SEED", &given);
    return given ? seed : QRandomGenerator::global()->generate();
}

// Starts the crash helper, waits until it is ready, lets `untilKill` choose the moment and kills
// it then, unless it finished by itself. Returns all it said.
QByteArray runHelper(const QStringList& args, const std::function<void(QProcess&, QByteArray&)>& untilKill) {
    QProcess helper;
    helper.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    helper.start(QStringLiteral(HISTORY_CRASH_HELPER), args);
    QByteArray output;
    if (!helper.waitForStarted(20000)) {
        ADD_FAILURE() << "the helper did not start";
        return output;
    }
    while (!output.contains("ready\n") && helper.waitForReadyRead(20000)) output += helper.readAllStandardOutput();
    EXPECT_TRUE(output.contains("ready\n")) << "the helper did not load the history";
    untilKill(helper, output);
    if (helper.state() != QProcess::NotRunning) {
        helper.kill();
        EXPECT_TRUE(helper.waitForFinished(20000));
    }
    return output + helper.readAllStandardOutput();
}

class HistoryCrash : public HistoryFixture {
protected:
    void SetUp() override {
#ifdef __SANITIZE_THREAD__
        GTEST_SKIP() << "ThreadSanitizer does not support starting processes from a threaded one; the plain build runs this";
#endif
        HistoryFixture::SetUp();
        std::printf("crash seed %u (QUILLET_CRASH_SEED replays it)\n", seed);
        std::fflush(stdout);
    }
    const quint32 seed = crashSeed();
    QRandomGenerator random{seed};
};

}  // namespace

TEST_F(HistoryCrash, KilledWriterNeverLeavesAnIndexNamingAMissingOrBrokenPng) {
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    const QString folder = path(QStringLiteral("history"));
    QStringList samples;
    for (int side : {16, 300, 900}) {
        samples.append(path(QStringLiteral("sample-%1.png").arg(side)));
        writeFile(samples.last(), pngBytes(side, side * 3 / 4, side));
    }
    QSet<QString> listed;    // every name an index has listed so far
    QSet<QString> verified;  // names whose PNG was decoded in full once
    int adds = 0;
    microseconds perAdd(30000);  // learnt as the runs go
    for (int run = 0; run < 30; ++run) {
        SCOPED_TRACE(testing::Message() << "run " << run);
        // A random moment: after a few whole adds, somewhere inside the next one, however fast
        // this machine adds.
        const QStringList args = QStringList{QStringLiteral("add"), folder, thumbs()} + samples;
        const QByteArray output = runHelper(args, [&](QProcess& helper, QByteArray& said) {
            const int through = static_cast<int>(random.bounded(4));
            const auto start = std::chrono::steady_clock::now();
            while (said.count("added\n") < through && helper.waitForReadyRead(20000)) said += helper.readAllStandardOutput();
            EXPECT_GE(said.count("added\n"), through) << "the writer stopped adding";
            if (through > 0) perAdd = std::chrono::duration_cast<microseconds>(std::chrono::steady_clock::now() - start) / through;
            QThread::usleep(random.bounded(static_cast<quint32>(perAdd.count()) + 1));
        });
        ASSERT_FALSE(testing::Test::HasFailure());
        adds += static_cast<int>(output.count("added\n"));

        // As the kill left it: the index is whole, and every PNG it lists is there and readable.
        QSet<QString> indexed;
        if (QFile::exists(folder + QStringLiteral("/.history.json"))) {
            const auto index = indexIn(folder);
            ASSERT_TRUE(index) << "the index was left half written";
            for (const Screenshot& item : index->items) {
                indexed.insert(item.fileName);
                const QString file = folder + QLatin1Char('/') + item.fileName;
                if (!verified.contains(item.fileName)) {
                    ASSERT_TRUE(ImageCodec::decodeFile(file)) << qPrintable(item.fileName);
                    verified.insert(item.fileName);
                }
                ASSERT_TRUE(QFile::exists(file)) << qPrintable(item.fileName);
            }
        }
        for (const QString& name : listed) ASSERT_TRUE(indexed.contains(name)) << "lost " << qPrintable(name);

        // A fresh store loads it, keeps everything listed and clears the leftovers.
        HistoryStore store(folder, thumbs(), systemClock, QTimeZone::utc());
        ASSERT_TRUE(waitFor(store.load(), std::chrono::seconds(30)));
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
    EXPECT_GT(adds, 15) << "the writer was killed too early to test anything";
    EXPECT_GE(listed.size(), adds);
}

TEST_F(HistoryCrash, KilledMoveLeavesTheWholeHistoryInOneFolderAndLosesNoFile) {
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    const QString oldFolder = path(QStringLiteral("old"));
    const QString newFolder = path(QStringLiteral("new"));
    // Twelve screenshots of different sizes, so the copies take a while; the new folder holds
    // one of its own under the name of the newest.
    QList<Screenshot> history;
    QHash<QUuid, QByteArray> bytes;
    for (int i = 0; i < 12; ++i) {
        history.append(record(QStringLiteral("Quillet 2025-03-07 в 14.%1.09.png").arg(50 - i), 1741345509 - i * 60,
                              ScreenshotKind::region, PixelSize{120 + i * 40, 90 + i * 30}));
        bytes.insert(history.last().id, pngBytes(120 + i * 40, 90 + i * 30, i));
    }
    const Screenshot resident = record(history.first().fileName, 1741000000, ScreenshotKind::window, PixelSize{20, 10});
    bytes.insert(resident.id, pngBytes(20, 10, 99));
    auto bytesOf = [&](const Screenshot& item) { return bytes.value(item.id); };
    const auto whole = static_cast<int>(history.size());
    // How many of the history's screenshots a folder lists with the bytes they started with.
    auto intactIn = [&](const QString& folder) {
        const auto loaded = HistoryStore::loadItems(folder, HistoryFolderAccess::system(), &systemClock);
        if (!loaded) return 0;
        return static_cast<int>(std::count_if(loaded->items.begin(), loaded->items.end(), [&](const Screenshot& item) {
            return item.id != resident.id && bytes.contains(item.id) &&
                   readFile(folder + QLatin1Char('/') + item.fileName) == bytes.value(item.id);
        }));
    };

    microseconds moveTakes = microseconds::max();
    int beforeTheIndex = 0;
    for (int run = 0; run < 20; ++run) {
        SCOPED_TRACE(testing::Message() << "run " << run);
        QDir(oldFolder).removeRecursively();
        QDir(newFolder).removeRecursively();
        seedFolder(oldFolder, history, bytesOf);
        seedFolder(newFolder, {resident}, bytesOf);
        const QStringList args{QStringLiteral("move"), oldFolder, thumbs(), newFolder};
        const QByteArray output = runHelper(args, [&](QProcess& helper, QByteArray&) {
            const auto start = std::chrono::steady_clock::now();
            if (run < 2) {
                // The first moves run to the end: they tell how long a whole move takes here. The
                // shorter one counts, so a slow start still leaves kills during the copying.
                EXPECT_TRUE(helper.waitForFinished(60000));
                moveTakes = std::min(moveTakes, std::chrono::duration_cast<microseconds>(std::chrono::steady_clock::now() - start));
            } else {
                QThread::usleep(random.bounded(static_cast<quint32>(moveTakes.count() * 5 / 4) + 1));
            }
        });
        ASSERT_FALSE(testing::Test::HasFailure());
        if (run < 2) {
            ASSERT_TRUE(output.contains("moved\n")) << "the move failed";
        }

        // As the kill left it: the whole history, every file intact, is listed by the old folder
        // or by the new one (so no file is lost), and the new folder lists all of it or none of it.
        const int inOld = intactIn(oldFolder);
        const int inNew = intactIn(newFolder);
        ASSERT_TRUE(inOld == whole || inNew == whole) << "old folder holds " << inOld << ", new folder " << inNew << " of " << whole;
        const auto newIndex = indexIn(newFolder);
        ASSERT_TRUE(newIndex) << "the new folder's index was left half written";
        const auto indexed = std::count_if(newIndex->items.begin(), newIndex->items.end(),
                                           [&](const Screenshot& item) { return item.id != resident.id && bytes.contains(item.id); });
        ASSERT_TRUE(indexed == 0 || indexed == whole) << "the new index lists " << indexed << " of " << whole;
        if (indexed == 0) ++beforeTheIndex;

        // The next start still names the old folder; moving again completes the move with
        // every screenshot once, and both folders are clean.
        HistoryStore store(oldFolder, thumbs(), systemClock, QTimeZone::utc());
        ASSERT_TRUE(waitFor(store.load(), std::chrono::seconds(30)));
        const HistoryResult again = resultOf(store.relocate(newFolder));
        ASSERT_TRUE(again) << qPrintable(describe(again.error()));
        QHash<QUuid, int> seen;
        for (const Screenshot& item : store.all()) {
            // A copy with a visible name that no index lists would come back as a screenshot of
            // its own: the history would show it twice.
            ASSERT_TRUE(bytes.contains(item.id)) << "adopted as new: " << qPrintable(item.fileName);
            ASSERT_EQ(readFile(store.fileURL(item)), bytes.value(item.id)) << qPrintable(item.fileName);
            ++seen[item.id];
        }
        for (const Screenshot& item : history + QList<Screenshot>{resident}) {
            ASSERT_EQ(seen.value(item.id), 1) << qPrintable(item.fileName);
        }
        ASSERT_EQ(QDir(oldFolder).entryList(QDir::Files | QDir::Hidden), QStringList());
        ASSERT_EQ(leftovers(newFolder), QStringList());
    }
    std::printf("moves killed before the new index: %d of 18\n", beforeTheIndex);
    EXPECT_GE(beforeTheIndex, 3) << "the mover was killed too late to test the copying";
}

using HistoryConcurrency = HistoryFixture;

TEST_F(HistoryConcurrency, ManyThreadsAddDeleteAndReadWithoutLosingAnything) {
    const QString folder = path(QStringLiteral("history"));
    HistoryStore store(folder, thumbs(), systemClock, QTimeZone::utc());
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
    const auto index = indexIn(folder);
    ASSERT_TRUE(index);
    EXPECT_EQ(index->items, store.all());
    files.append(QStringLiteral(".history.json"));
    files.sort();
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name), files);
}
