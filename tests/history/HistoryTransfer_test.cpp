// Moving the history to another folder over real folders and real PNG files.
#include "HistoryFixture.h"
#include "history/HistoryTransfer.h"

#include <QSignalSpy>

#include <cerrno>
#include <cstring>
#include <sys/mount.h>
#include <sys/vfs.h>

using namespace quillet;
using namespace quillet::test;

namespace {

Screenshot shot(const QString& name, qint64 secondsSinceEpoch, ScreenshotKind kind = ScreenshotKind::region) {
    return record(name, secondsSinceEpoch, kind, PixelSize{12, 9});
}

QString ownName(int n) {
    return QStringLiteral("Quillet 2025-03-07 в %1.%2.%3.png")
        .arg(10 + n / 3600, 2, 10, QLatin1Char('0'))
        .arg(n / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(n % 60, 2, 10, QLatin1Char('0'));
}

const QString clashing = QStringLiteral("Quillet 2025-03-07 в 14.05.09.png");

class HistoryTransferTest : public HistoryFixture {
protected:
    QString oldFolder() const { return path(QStringLiteral("old")); }
    QString newFolder() const { return path(QStringLiteral("new")); }

    // Seeds `folder` with a different PNG for each of `items` and remembers its bytes.
    void seed(const QString& folder, const QList<Screenshot>& items, bool noisy = false, int side = 12) {
        seedFolder(folder, items, [&](const Screenshot& s) {
            return original[s.id] = pngBytes(side, side * 3 / 4, nextSeed++, noisy);
        });
    }

    QList<Screenshot> seedOld(int count, bool noisy = false, int side = 12) {
        QList<Screenshot> items;
        for (int i = count - 1; i >= 0; --i) items.append(shot(ownName(i), 1741330000 + i));
        seed(oldFolder(), items, noisy, side);
        return items;
    }

    std::unique_ptr<HistoryStore> makeStore(const QString& folder) {
        auto store = HistoryFixture::makeStore(
            folder, [] { return QDateTime::fromSecsSinceEpoch(1741345509, QTimeZone::utc()); }, QTimeZone::utc());
        resultOf(store->load());
        return store;
    }

    // Every screenshot of `expected` is in `store` once, as it was, with its file's bytes.
    void expectMoved(const HistoryStore& store, const QList<Screenshot>& expected) {
        const QList<Screenshot> all = store.all();
        for (const Screenshot& item : expected) {
            const auto count = std::count_if(all.begin(), all.end(), [&](const Screenshot& s) { return s.id == item.id; });
            ASSERT_EQ(count, 1) << qPrintable(item.fileName);
            Screenshot moved = *std::find_if(all.begin(), all.end(), [&](const Screenshot& s) { return s.id == item.id; });
            EXPECT_EQ(readFile(store.fileURL(moved)), original.value(item.id)) << qPrintable(moved.fileName);
            moved.fileName = item.fileName;  // the only field a move may change
            EXPECT_EQ(moved, item);
        }
        const auto index = indexIn(store.folder());
        ASSERT_TRUE(index);
        EXPECT_EQ(index->items, all);
    }

    QHash<QUuid, QByteArray> original;  // the bytes each screenshot was seeded with
    quint32 nextSeed = 1;
};

}  // namespace

TEST_F(HistoryTransferTest, TwoHundredScreenshotsMoveIntoAFolderThatHoldsOneOfTheSameName) {
    // The newest of the old screenshots has the name already taken in the new folder, the next
    // one has the name the first is renamed to, and one is an edit of another.
    QList<Screenshot> old;
    old.append(shot(clashing, 1741345509));
    old.append(shot(QStringLiteral("Quillet 2025-03-07 в 14.05.09 (2).png"), 1741345500));
    for (int i = 197; i >= 0; --i) old.append(shot(ownName(i), 1741330000 + i));
    old[5].kind = ScreenshotKind::edited;
    old[5].sourceID = old[6].id;
    seed(oldFolder(), old);
    // Not history: stays behind. A PNG the index does not list is history and moves.
    writeFile(oldFolder() + QStringLiteral("/notes.txt"), "keep me");
    writeFile(oldFolder() + QStringLiteral("/.hidden"), "keep me too");
    writeFile(oldFolder() + QStringLiteral("/by hand.png"), pngBytes(12, 9, 9999));

    const Screenshot resident = shot(clashing, 1741345000, ScreenshotKind::window);
    seed(newFolder(), {resident});
    writeFile(newFolder() + QStringLiteral("/readme.txt"), "the new folder's own");

    auto store = makeStore(oldFolder());
    ASSERT_EQ(store->all().size(), 201);
    const QList<Screenshot> loaded = store->all();
    const Screenshot byHand = *std::find_if(loaded.begin(), loaded.end(),
                                            [](const Screenshot& s) { return s.fileName == QStringLiteral("by hand.png"); });
    original.insert(byHand.id, pngBytes(12, 9, 9999));
    QSignalSpy changed(store.get(), &HistoryStore::historyDidChange);

    const HistoryResult moved = resultOf(store->relocate(newFolder()));
    ASSERT_TRUE(moved) << qPrintable(describe(moved.error()));
    EXPECT_EQ(store->folder(), newFolder());
    EXPECT_EQ(store->all().size(), 202);
    expectMoved(*store, old + QList<Screenshot>{byHand, resident});

    const QList<Screenshot> all = store->all();
    auto nameOf = [&](const QUuid& id) {
        return std::find_if(all.begin(), all.end(), [&](const Screenshot& s) { return s.id == id; })->fileName;
    };
    EXPECT_EQ(nameOf(resident.id), clashing);
    EXPECT_EQ(nameOf(old[0].id), QStringLiteral("Quillet 2025-03-07 в 14.05.09 (2).png"));
    EXPECT_EQ(nameOf(old[1].id), QStringLiteral("Quillet 2025-03-07 в 14.05.09 (2) (2).png"));
    EXPECT_EQ(nameOf(old[100].id), old[100].fileName);

    EXPECT_EQ(QDir(oldFolder()).entryList(QDir::Files | QDir::Hidden, QDir::Name),
              (QStringList{".hidden", "notes.txt"}));
    EXPECT_EQ(readFile(newFolder() + QStringLiteral("/readme.txt")), "the new folder's own");
    EXPECT_EQ(leftovers(newFolder()), QStringList());
    EXPECT_TRUE(test::waitUntil([&] { return changed.size() == 1; }));

    // A fresh store over the new folder reads the same history.
    auto reopened = makeStore(newFolder());
    EXPECT_EQ(reopened->all(), store->all());
}

TEST_F(HistoryTransferTest, AnyFailureBeforeTheSwitchLeavesBothFoldersAsTheyWere) {
    struct Case {
        const char* name;
        std::function<void()> arrange;
        HistoryError expected;
        int copiesMade;
    };
    const QList<Case> cases{
        {"the third copy differs from its original",
         [this] {
             copyFile = [this](const QString& from, const QString& to) -> Expected<void, FileError> {
                 QByteArray bytes = readFile(from);
                 if (copies == 3) bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 0x20);
                 return HistoryStore::systemWriteFile(bytes, to);
             };
         },
         HistoryError::writeFailed(QStringLiteral("копия снимка не совпала с оригиналом")), 3},
        {"the disk fills up during the fourth copy",
         [this] {
             copyFile = [this](const QString& from, const QString& to) -> Expected<void, FileError> {
                 if (copies == 4) {
                     (void)HistoryStore::systemWriteFile(readFile(from).left(10), to);
                     return unexpected(FileError::fromErrno(ENOSPC, to));
                 }
                 return HistoryStore::systemCopyFile(from, to);
             };
         },
         HistoryError::notEnoughSpace(), 4},
        {"the new folder's index cannot be written",
         [this] {
             const QString prefix = newFolder() + QStringLiteral("/.history.json.tmp-");
             failWrite = [prefix](const QString& file) { return file.startsWith(prefix) ? EIO : 0; };
         },
         HistoryError::writeFailed(QString()), 5},
        {"another program takes a copy's name before the copies are renamed",
         [this] {
             copyFile = [this](const QString& from, const QString& to) -> Expected<void, FileError> {
                 if (copies == 5) writeFile(newFolder() + QLatin1Char('/') + ownName(4), "intruder");
                 return HistoryStore::systemCopyFile(from, to);
             };
         },
         HistoryError::writeFailed(QString()), 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(oldFolder()).removeRecursively();
        QDir(newFolder()).removeRecursively();
        copies = 0;
        copyFile = nullptr;
        failWrite = nullptr;
        seedOld(5);
        seed(newFolder(), {shot(QStringLiteral("already here.png"), 1741000000)});
        c.arrange();
        auto store = makeStore(oldFolder());
        const QList<Screenshot> before = store->all();
        const auto oldBefore = contentsOf(oldFolder());
        const auto newBefore = contentsOf(newFolder());
        QSignalSpy changed(store.get(), &HistoryStore::historyDidChange);

        const HistoryResult moved = resultOf(store->relocate(newFolder()));
        ASSERT_FALSE(moved);
        if (c.expected.kind == HistoryError::Case::writeFailed && c.expected.description.isEmpty()) {
            EXPECT_EQ(moved.error().kind, HistoryError::Case::writeFailed);
            EXPECT_TRUE(moved.error().description.contains(newFolder())) << qPrintable(moved.error().description);
        } else {
            EXPECT_EQ(moved.error(), c.expected);
        }
        EXPECT_EQ(copies, c.copiesMade);
        EXPECT_EQ(store->folder(), oldFolder());
        EXPECT_EQ(store->all(), before);
        EXPECT_EQ(contentsOf(oldFolder()), oldBefore);
        auto newAfter = contentsOf(newFolder());
        if (newAfter.value(ownName(4)) == "intruder") newAfter.remove(ownName(4));
        EXPECT_EQ(newAfter, newBefore);
        test::drainEvents();
        EXPECT_EQ(changed.size(), 0);
    }
}

TEST_F(HistoryTransferTest, FoldersWithNothingToMoveOnlySwitch) {
    const QList<Screenshot> old = seedOld(3);
    auto store = makeStore(oldFolder());
    const auto before = contentsOf(oldFolder());
    QSignalSpy changed(store.get(), &HistoryStore::historyDidChange);

    // The folder in use, written differently: nothing at all.
    for (const QString& same : QStringList{oldFolder() + QStringLiteral("/"), path(QStringLiteral("./new/../old/."))}) {
        ASSERT_TRUE(resultOf(store->relocate(same)));
        EXPECT_EQ(store->folder(), oldFolder());
    }
    test::drainEvents();
    EXPECT_EQ(changed.size(), 0);

    // The folder in use under another name: switched to, and not copied onto itself and then
    // removed.
    const QString link = path(QStringLiteral("link"));
    ASSERT_TRUE(QFile::link(oldFolder(), link));
    ASSERT_TRUE(resultOf(store->relocate(link)));
    EXPECT_EQ(store->folder(), link);
    EXPECT_EQ(copies, 0);
    EXPECT_EQ(contentsOf(oldFolder()), before);
    expectMoved(*store, old);

    // From a folder that does not exist (or holds nothing) to one that holds a history: the
    // store switches and reads it.
    auto fromNowhere = makeStore(path(QStringLiteral("nowhere")));
    ASSERT_TRUE(resultOf(fromNowhere->relocate(oldFolder())));
    EXPECT_EQ(fromNowhere->folder(), oldFolder());
    expectMoved(*fromNowhere, old);
    EXPECT_EQ(contentsOf(oldFolder()), before);
    EXPECT_EQ(copies, 0);
}

TEST_F(HistoryTransferTest, PngFilesBesideADamagedIndexAreAdoptedAndMoved) {
    seedOld(4);
    writeFile(oldFolder() + QStringLiteral("/.history.json"), "{\"items\":[{\"id\":");
    auto store = makeStore(oldFolder());
    ASSERT_EQ(store->all().size(), 4);
    for (const Screenshot& item : store->all()) original.insert(item.id, readFile(store->fileURL(item)));

    const QList<Screenshot> adopted = store->all();
    ASSERT_TRUE(resultOf(store->relocate(newFolder())));
    expectMoved(*store, adopted);
    // Only the copy of the damaged index that loading kept aside stays behind, as it was.
    const QStringList left = QDir(oldFolder()).entryList(QDir::Files | QDir::Hidden);
    ASSERT_EQ(left.size(), 1);
    EXPECT_TRUE(left[0].startsWith(QLatin1String(".history.json.damaged-")));
    EXPECT_EQ(readFile(oldFolder() + QLatin1Char('/') + left[0]), QByteArray("{\"items\":[{\"id\":"));
}

TEST_F(HistoryTransferTest, AMoveInterruptedWhileRemovingTheOldFilesIsDoneAgainWithoutDuplicates) {
    const QList<Screenshot> old = seedOld(5);
    // Copied and indexed; then stopped after removing two of the old files.
    const auto transfer = HistoryTransfer::perform(oldFolder(), newFolder(), HistoryFolderAccess::system());
    ASSERT_TRUE(transfer);
    EXPECT_EQ(transfer->movedCount(), 5);
    ASSERT_EQ(transfer->oldFiles().size(), 6);
    EXPECT_EQ(transfer->oldFiles().last(), oldFolder() + QStringLiteral("/.history.json"));
    QFile::remove(transfer->oldFiles()[0]);
    QFile::remove(transfer->oldFiles()[1]);

    // Next start: the settings still name the old folder, and the user moves again.
    auto store = makeStore(oldFolder());
    EXPECT_EQ(store->all().size(), 3);
    ASSERT_TRUE(resultOf(store->relocate(newFolder())));
    EXPECT_EQ(copies, 0) << "what the new folder holds already is not copied again";
    EXPECT_EQ(store->all().size(), 5);
    expectMoved(*store, old);
    EXPECT_EQ(QDir(oldFolder()).entryList(QDir::Files | QDir::Hidden), QStringList());
}

namespace {

// A tmpfs mounted for one test, so a move crosses from the disk the temporary folder is on to
// another file system. Mounting needs privileges; without them the test is skipped.
class ScopedTmpfs {
public:
    ScopedTmpfs(const QString& where, const char* options) : path(where) {
        QDir().mkpath(path);
        if (::mount("quillet-test", QFile::encodeName(path).constData(), "tmpfs", MS_NOSUID | MS_NODEV, options) == 0) {
            mounted = true;
        } else {
            failure = QString::fromLocal8Bit(std::strerror(errno));
        }
    }
    ~ScopedTmpfs() {
        if (mounted) ::umount2(QFile::encodeName(path).constData(), MNT_DETACH);
    }
    ScopedTmpfs(const ScopedTmpfs&) = delete;
    ScopedTmpfs& operator=(const ScopedTmpfs&) = delete;

    QString path;
    bool mounted = false;
    QString failure;
};

bool onOneFileSystem(const QString& a, const QString& b) {
    struct statfs first{};
    struct statfs second{};
    if (::statfs(QFile::encodeName(a).constData(), &first) != 0) return false;
    if (::statfs(QFile::encodeName(b).constData(), &second) != 0) return false;
    return first.f_type == second.f_type && std::memcmp(&first.f_fsid, &second.f_fsid, sizeof first.f_fsid) == 0;
}

}  // namespace

TEST_F(HistoryTransferTest, MovesToAnotherFileSystemAndBackAndFailsCleanlyWhenItIsFull) {
    ScopedTmpfs roomy(path(QStringLiteral("roomy")), "size=4m");
    if (!roomy.mounted) GTEST_SKIP() << "cannot mount a tmpfs here: " << qPrintable(roomy.failure);
    ScopedTmpfs small(path(QStringLiteral("small")), "size=64k");
    ASSERT_TRUE(small.mounted) << qPrintable(small.failure);
    ASSERT_FALSE(onOneFileSystem(temp.path(), roomy.path));

    // Out to the tmpfs and back to the disk.
    const QList<Screenshot> old = seedOld(6);
    auto store = makeStore(oldFolder());
    const QString away = roomy.path + QStringLiteral("/Снимки");
    ASSERT_TRUE(resultOf(store->relocate(away)));
    expectMoved(*store, old);
    EXPECT_EQ(QDir(oldFolder()).entryList(QDir::Files | QDir::Hidden), QStringList());
    ASSERT_TRUE(resultOf(store->relocate(newFolder())));
    expectMoved(*store, old);
    EXPECT_EQ(QDir(away).entryList(QDir::Files | QDir::Hidden), QStringList());

    // Into a tmpfs too small for it: the disk's own "no space" ends the move, nothing of it
    // stays there, and the history stays where it was.
    QDir(oldFolder()).removeRecursively();
    original.clear();
    const QList<Screenshot> big = seedOld(5, true, 128);  // about 37 KB each
    auto full = makeStore(oldFolder());
    const auto oldBefore = contentsOf(oldFolder());
    const QString cramped = small.path + QStringLiteral("/history");
    const HistoryResult moved = resultOf(full->relocate(cramped));
    ASSERT_FALSE(moved);
    EXPECT_EQ(moved.error(), HistoryError::notEnoughSpace());
    EXPECT_EQ(full->folder(), oldFolder());
    EXPECT_EQ(contentsOf(oldFolder()), oldBefore);
    EXPECT_EQ(contentsOf(cramped), (QMap<QString, QByteArray>()));
    expectMoved(*full, big);
}
