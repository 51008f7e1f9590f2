// The store under pressure: a helper process killed at random moments while it adds or moves
// never loses or half-writes anything.
// A failing crash run prints its seed; QUILLET_CRASH_SEED=<seed> replays it.
#include "HistoryFixture.h"

#include <QHash>
#include <QProcess>
#include <QRandomGenerator>
#include <QSet>
#include <QThread>

#include <chrono>
#include <cstdio>

using namespace quillet;
using namespace quillet::test;
using std::chrono::microseconds;

namespace {

QDateTime systemClock() { return QDateTime::currentDateTimeUtc(); }

// Starts the crash helper, waits until it is ready, lets `untilKill` choose the moment and kills
// it then, unless it finished by itself. Returns all it said.
QByteArray runHelper(const QStringList& args, const std::function<void(QProcess&, QByteArray&)>& untilKill) {
    QProcess helper;
    helper.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    helper.start(QStringLiteral(HISTORY_CRASH_HELPER), args);
    QByteArray output;
    while (!output.contains("ready\n") && helper.waitForReadyRead(20000)) output += helper.readAllStandardOutput();
    EXPECT_TRUE(output.contains("ready\n")) << "the helper did not start or did not load the history";
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
        bool given = false;
        seed = qgetenv("QUILLET_CRASH_SEED").toUInt(&given);
        if (!given) seed = QRandomGenerator::global()->generate();
        random.seed(seed);
        std::printf("crash seed %u (QUILLET_CRASH_SEED replays it)\n", seed);
        std::fflush(stdout);
    }
    quint32 seed = 0;
    QRandomGenerator random;
};

}  // namespace

TEST_F(HistoryCrash, KilledWriterNeverLeavesAnIndexNamingAMissingOrBrokenPng) {
    const QString folder = path(QStringLiteral("history"));
    QStringList args{QStringLiteral("add"), folder, thumbs()};
    for (int side : {16, 300, 900}) {
        args.append(path(QStringLiteral("sample-%1.png").arg(side)));
        writeFile(args.last(), pngBytes(side, side * 3 / 4, side));
    }
    QStringList listed;      // every name the history has listed so far
    QSet<QString> verified;  // names whose PNG was decoded in full once
    int adds = 0;
    microseconds perAdd(30000);  // learnt as the runs go
    for (int run = 0; run < 20; ++run) {
        SCOPED_TRACE(testing::Message() << "run " << run);
        // A random moment: after a few whole adds, somewhere inside the next one, however fast
        // this machine adds.
        const QByteArray output = runHelper(args, [&](QProcess& helper, QByteArray& said) {
            const int through = static_cast<int>(random.bounded(4));
            const auto start = std::chrono::steady_clock::now();
            while (said.count("added\n") < through && helper.waitForReadyRead(20000)) said += helper.readAllStandardOutput();
            EXPECT_GE(said.count("added\n"), through) << "the writer stopped adding";
            if (through > 0)
                perAdd = std::chrono::duration_cast<microseconds>(std::chrono::steady_clock::now() - start) / through;
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
        HistoryStore store(folder, thumbs(), systemClock, QTimeZone::utc());
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

TEST_F(HistoryCrash, KilledMoveIndexesAllOrNothingAndMovingAgainLosesNoFile) {
    const QString oldFolder = path(QStringLiteral("old"));
    const QString newFolder = path(QStringLiteral("new"));
    // Twelve screenshots of different sizes, so the copies take a while; the new folder holds
    // one of its own under the name of the newest.
    QList<Screenshot> history;
    QHash<QUuid, QByteArray> bytes;
    for (int i = 0; i < 12; ++i) {
        const PixelSize size{120 + i * 40, 90 + i * 30};
        history.append(record(QStringLiteral("Quillet 2025-03-07 в 14.%1.09.png").arg(50 - i), 1741345509 - i * 60,
                              ScreenshotKind::region, size));
        bytes.insert(history.last().id, pngBytes(size.width, size.height, i));
    }
    const Screenshot resident = record(history.first().fileName, 1741000000, ScreenshotKind::window, PixelSize{20, 10});
    bytes.insert(resident.id, pngBytes(20, 10, 99));
    const auto bytesOf = [&](const Screenshot& item) { return bytes.value(item.id); };
    const qsizetype whole = history.size();

    microseconds moveTakes = microseconds::max();
    int beforeTheIndex = 0;
    for (int run = 0; run < 14; ++run) {
        SCOPED_TRACE(testing::Message() << "run " << run);
        QDir(oldFolder).removeRecursively();
        QDir(newFolder).removeRecursively();
        seedFolder(oldFolder, history, bytesOf);
        seedFolder(newFolder, {resident}, bytesOf);
        // The first two moves run to the end and tell how long a whole move takes here; the
        // shorter one counts, so a slow start still leaves kills during the copying.
        const QStringList args{QStringLiteral("move"), oldFolder, thumbs(), newFolder};
        const QByteArray output = runHelper(args, [&](QProcess& helper, QByteArray&) {
            const auto start = std::chrono::steady_clock::now();
            if (run < 2) {
                EXPECT_TRUE(helper.waitForFinished(60000));
                moveTakes =
                    std::min(moveTakes, std::chrono::duration_cast<microseconds>(std::chrono::steady_clock::now() - start));
            } else {
                QThread::usleep(random.bounded(static_cast<quint32>(moveTakes.count() * 5 / 4) + 1));
            }
        });
        ASSERT_FALSE(testing::Test::HasFailure());
        if (run < 2) {
            ASSERT_TRUE(output.contains("moved\n")) << "the move failed";
        }

        // As the kill left it, the new folder's index is whole and lists all of the history or
        // none of it.
        const auto newIndex = indexIn(newFolder);
        ASSERT_TRUE(newIndex) << "the new folder's index was left half written";
        const auto indexed = std::count_if(newIndex->items.begin(), newIndex->items.end(), [&](const Screenshot& item) {
            return item.id != resident.id && bytes.contains(item.id);
        });
        ASSERT_TRUE(indexed == 0 || indexed == whole) << "the new index lists " << indexed << " of " << whole;
        if (indexed == 0) ++beforeTheIndex;

        // The next start still names the old folder; moving again completes the move with every
        // screenshot once and intact (so no file was lost), and both folders are clean. A copy
        // with a visible name that no index lists would come back as a screenshot of its own.
        HistoryStore store(oldFolder, thumbs(), systemClock, QTimeZone::utc());
        ASSERT_TRUE(waitFor(store.load(), std::chrono::seconds(30)));
        const HistoryResult again = resultOf(store.relocate(newFolder));
        ASSERT_TRUE(again) << qPrintable(describe(again.error()));
        QSet<QUuid> seen;
        for (const Screenshot& item : store.all()) {
            ASSERT_TRUE(bytes.contains(item.id)) << "adopted as new: " << qPrintable(item.fileName);
            ASSERT_EQ(readFile(store.fileURL(item)), bytes.value(item.id)) << qPrintable(item.fileName);
            seen.insert(item.id);
        }
        ASSERT_EQ(store.all().size(), whole + 1);
        ASSERT_EQ(seen.size(), whole + 1);
        ASSERT_EQ(QDir(oldFolder).entryList(QDir::Files | QDir::Hidden), QStringList());
        ASSERT_EQ(leftovers(newFolder), QStringList());
    }
    EXPECT_GE(beforeTheIndex, 2) << "the mover was killed too late to test the copying: " << beforeTheIndex << " of 12";
}
