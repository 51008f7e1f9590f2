// Moving the history to another folder over real folders and real PNG files, also by a process
// killed at random moments.
#include "HistoryFixture.h"
#include "history/HistoryTransfer.h"

#include <QSet>
#include <QSignalSpy>
#include <QThread>

#include <cerrno>
#include <chrono>

using namespace quillet;
using namespace quillet::test;
using std::chrono::microseconds;
using std::chrono::steady_clock;

namespace {

QString ownName(int n) { return QStringLiteral("Quillet 2025-03-07 в 10.00.%1.png").arg(n, 2, 10, QLatin1Char('0')); }

class HistoryTransferTest : public HistoryFixture {
protected:
    QString oldFolder() const { return path(QStringLiteral("old")); }
    QString newFolder() const { return path(QStringLiteral("new")); }

    // Seeds `folder` with a different PNG for each of `items` and remembers its bytes.
    void seed(const QString& folder, const QList<Screenshot>& items) {
        seedFolder(folder, items, [&](const Screenshot& s) { return original[s.id] = pngBytes(12, 9, nextSeed++); });
    }

    QList<Screenshot> seedOld(int count) {
        QList<Screenshot> items;
        for (int i = count - 1; i >= 0; --i) items.append(record(ownName(i), 1741330000 + i));
        seed(oldFolder(), items);
        return items;
    }

    std::unique_ptr<HistoryStore> makeStore(const QString& folder) {
        auto store = HistoryFixture::makeStore(
            folder, [] { return QDateTime::fromSecsSinceEpoch(1741345509, QTimeZone::utc()); }, QTimeZone::utc());
        resultOf(store->load());
        return store;
    }

    // Every screenshot of `expected` is in `store` once, as it was but for its name, with its
    // file's bytes, and the index lists what the store does.
    void expectMoved(const HistoryStore& store, const QList<Screenshot>& expected) {
        const QList<Screenshot> all = store.all();
        for (const Screenshot& item : expected) {
            ASSERT_EQ(std::ranges::count(all, item.id, &Screenshot::id), 1) << qPrintable(item.fileName);
            Screenshot moved = *std::ranges::find(all, item.id, &Screenshot::id);
            EXPECT_EQ(readFile(store.fileURL(moved)), original.value(item.id)) << qPrintable(moved.fileName);
            moved.fileName = item.fileName;
            EXPECT_EQ(moved, item);
        }
        EXPECT_EQ(indexOnDisk(store.folder()).items, all);
    }

    QHash<QUuid, QByteArray> original;  // the bytes each screenshot was seeded with
    quint32 nextSeed = 1;
};

}  // namespace

TEST_F(HistoryTransferTest, TheHistoryMovesIntoAFolderThatHoldsAScreenshotOfTheSameName) {
    // The newest old screenshot has the name already taken in the new folder, the next one the
    // name the first is renamed to, and one is an edit of another.
    const QString clashing = QStringLiteral("Quillet 2025-03-07 в 14.05.09.png");
    QList<Screenshot> old{record(clashing, 1741345509),
                          record(QStringLiteral("Quillet 2025-03-07 в 14.05.09 (2).png"), 1741345500)};
    for (int i = 7; i >= 0; --i) old.append(record(ownName(i), 1741330000 + i));
    old[5].kind = ScreenshotKind::edited;
    old[5].sourceID = old[6].id;
    seed(oldFolder(), old);
    // Not history: stays behind. A PNG the index does not list is history and moves.
    writeFile(oldFolder() + QStringLiteral("/notes.txt"), "keep me");
    writeFile(oldFolder() + QStringLiteral("/.hidden"), "keep me too");
    writeFile(oldFolder() + QStringLiteral("/by hand.png"), pngBytes(12, 9, 9999));
    const Screenshot resident = record(clashing, 1741345000, ScreenshotKind::window);
    seed(newFolder(), {resident});
    writeFile(newFolder() + QStringLiteral("/readme.txt"), "the new folder's own");

    auto store = makeStore(oldFolder());
    const QList<Screenshot> loaded = store->all();
    const Screenshot byHand = *std::ranges::find(loaded, QStringLiteral("by hand.png"), &Screenshot::fileName);
    original.insert(byHand.id, pngBytes(12, 9, 9999));
    QSignalSpy changed(store.get(), &HistoryStore::historyDidChange);

    const HistoryResult moved = resultOf(store->relocate(newFolder()));
    ASSERT_TRUE(moved) << qPrintable(describe(moved.error()));
    EXPECT_EQ(store->folder(), newFolder());
    EXPECT_EQ(store->all().size(), old.size() + 2);
    expectMoved(*store, old + QList<Screenshot>{byHand, resident});
    const QList<Screenshot> all = store->all();
    const auto nameOf = [&](const Screenshot& s) { return std::ranges::find(all, s.id, &Screenshot::id)->fileName; };
    EXPECT_EQ((QStringList{nameOf(resident), nameOf(old[0]), nameOf(old[1]), nameOf(old[2])}),
              (QStringList{clashing, "Quillet 2025-03-07 в 14.05.09 (2).png",
                           "Quillet 2025-03-07 в 14.05.09 (2) (2).png", old[2].fileName}));
    EXPECT_EQ(QDir(oldFolder()).entryList(QDir::Files | QDir::Hidden, QDir::Name), (QStringList{".hidden", "notes.txt"}));
    EXPECT_EQ(readFile(newFolder() + QStringLiteral("/readme.txt")), "the new folder's own");
    EXPECT_EQ(leftovers(newFolder()), QStringList());
    EXPECT_TRUE(test::waitUntil([&] { return changed.size() == 1; }));
}

TEST_F(HistoryTransferTest, AnyFailureBeforeTheSwitchLeavesBothFoldersAsTheyWere) {
    const QString intruder = newFolder() + QLatin1Char('/') + ownName(4);  // the newest one's name
    const struct {
        const char* name;
        HistoryStore::CopyFile copy;  // `copies` counts the calls, this one included
        HistoryError expected;
        int copiesMade;
    } cases[] = {
        {"the third copy differs from its original",
         [this](const QString& from, const QString& to) {
             QByteArray bytes = readFile(from);
             if (copies == 3) bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 0x20);
             return HistoryStore::systemWriteFile(bytes, to);
         },
         HistoryError::writeFailed(HistoryTransfer::copyMismatchText()), 3},
        {"the disk fills up during the fourth copy",
         [this](const QString& from, const QString& to) -> Expected<void, FileError> {
             if (copies < 4) return HistoryStore::systemCopyFile(from, to);
             (void)HistoryStore::systemWriteFile(readFile(from).left(10), to);
             return unexpected(FileError::fromErrno(ENOSPC, to));
         },
         HistoryError::notEnoughSpace(), 4},
        {"another program takes a copy's name before the copies are renamed",
         [this, &intruder](const QString& from, const QString& to) {
             if (copies == 5) writeFile(intruder, "intruder");
             return HistoryStore::systemCopyFile(from, to);
         },
         HistoryError::folded(FileError::fromErrno(EEXIST, intruder)), 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(temp.path()).removeRecursively();  // both folders
        copies = 0;
        copyFile = c.copy;
        seedOld(5);
        seed(newFolder(), {record(QStringLiteral("already here.png"), 1741000000)});
        auto store = makeStore(oldFolder());
        const QList<Screenshot> before = store->all();
        const auto oldBefore = contentsOf(oldFolder());
        const auto newBefore = contentsOf(newFolder());
        QSignalSpy changed(store.get(), &HistoryStore::historyDidChange);

        EXPECT_EQ(resultOf(store->relocate(newFolder())), HistoryResult(unexpected(c.expected)));
        EXPECT_EQ(copies, c.copiesMade);
        EXPECT_EQ(store->folder(), oldFolder());
        EXPECT_EQ(store->all(), before);
        EXPECT_EQ(contentsOf(oldFolder()), oldBefore);
        if (readFile(intruder) == "intruder") QFile::remove(intruder);
        EXPECT_EQ(contentsOf(newFolder()), newBefore);
        test::drainEvents();
        EXPECT_EQ(changed.size(), 0);
    }
}

// One folder under two names would be copied onto itself and then removed.
TEST_F(HistoryTransferTest, TheFolderInUseUnderAnotherNameIsSwitchedToWithoutCopying) {
    const QList<Screenshot> old = seedOld(3);
    auto store = makeStore(oldFolder());
    const auto before = contentsOf(oldFolder());
    const QString link = path(QStringLiteral("link"));
    ASSERT_TRUE(QFile::link(oldFolder(), link));
    ASSERT_TRUE(resultOf(store->relocate(link)));
    EXPECT_EQ(store->folder(), link);
    expectMoved(*store, old);
    EXPECT_EQ(contentsOf(oldFolder()), before);
    EXPECT_EQ(copies, 0);
}

TEST_F(HistoryTransferTest, AMoveInterruptedWhileRemovingTheOldFilesIsDoneAgainWithoutDuplicates) {
    // Copied and indexed; then stopped after removing two of the old files, or all but the index.
    for (const int removed : {2, 5}) {
        SCOPED_TRACE(removed);
        QDir(temp.path()).removeRecursively();  // both folders
        const QList<Screenshot> old = seedOld(5);
        const auto transfer = HistoryTransfer::perform(oldFolder(), newFolder(), HistoryFolderAccess::system());
        ASSERT_TRUE(transfer);
        ASSERT_EQ(transfer->oldFiles().size(), 6);
        EXPECT_EQ(transfer->oldFiles().last(), oldFolder() + QStringLiteral("/.history.json"));
        for (int i = 0; i < removed; ++i) QFile::remove(transfer->oldFiles()[i]);

        // Next start: the settings still name the old folder, and the user moves again.
        auto store = makeStore(oldFolder());
        EXPECT_EQ(store->all().size(), 5 - removed);
        ASSERT_TRUE(resultOf(store->relocate(newFolder())));
        EXPECT_EQ(copies, 0) << "what the new folder holds already is not copied again";
        EXPECT_EQ(store->all().size(), 5);
        expectMoved(*store, old);
        EXPECT_EQ(QDir(oldFolder()).entryList(QDir::Files | QDir::Hidden), QStringList());
    }
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
        QDir(temp.path()).removeRecursively();  // both folders
        seedFolder(oldFolder, history, bytesOf);
        seedFolder(newFolder, {resident}, bytesOf);
        // The first two moves run to the end and tell how long the move takes up to its report
        // (not the exit); the shorter counts, so kills fall mostly in the copying, loaded or not.
        const QStringList args{QStringLiteral("move"), oldFolder, thumbs(), newFolder};
        const QByteArray output = runCrashHelper(args, [&](QProcess& helper, QByteArray& out) {
            const auto start = steady_clock::now();
            if (run < 2) {
                while (!out.contains("moved\n") && helper.waitForReadyRead(60000)) out += helper.readAllStandardOutput();
                moveTakes = std::min(moveTakes, std::chrono::duration_cast<microseconds>(steady_clock::now() - start));
                EXPECT_TRUE(helper.waitForFinished(60000));
            } else {
                QThread::usleep(random.bounded(static_cast<quint32>(moveTakes.count() * 5 / 4) + 1));
            }
        });
        ASSERT_FALSE(testing::Test::HasFailure());
        ASSERT_TRUE(run >= 2 || output.contains("moved\n")) << "the move failed";

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
        HistoryStore store(oldFolder, thumbs(), [] { return QDateTime::currentDateTimeUtc(); }, QTimeZone::utc());
        ASSERT_TRUE(waitFor(store.load(), std::chrono::seconds(30)));
        const HistoryResult again = resultOf(store.relocate(newFolder));
        ASSERT_TRUE(again) << qPrintable(describe(again.error()));
        QSet<QUuid> seen;
        for (const Screenshot& item : store.all()) {
            ASSERT_TRUE(bytes.contains(item.id)) << "adopted as new: " << qPrintable(item.fileName);
            ASSERT_EQ(readFile(store.fileURL(item)), bytes.value(item.id)) << qPrintable(item.fileName);
            seen.insert(item.id);
        }
        ASSERT_EQ(seen.size(), whole + 1);
        ASSERT_EQ(QDir(oldFolder).entryList(QDir::Files | QDir::Hidden), QStringList());
        ASSERT_EQ(leftovers(newFolder), QStringList());
    }
    EXPECT_GE(beforeTheIndex, 2) << "the mover was killed too late to test the copying: " << beforeTheIndex << " of 12";
}
