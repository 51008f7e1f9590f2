#include "ui/previews/DragFileResolver.h"
#include "core/Types.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

using quillet::DragFileResolver;
using quillet::test::readFile;
using quillet::test::writeFile;

namespace {

class DragFileResolverTest : public ::testing::Test {
protected:
    // Counts how often the bytes are asked for.
    std::function<QByteArray()> supplier(QByteArray bytes) {
        return [this, bytes] {
            ++supplied;
            return bytes;
        };
    }

    QString folderOf(const QUuid& id) const { return root + QLatin1Char('/') + quillet::uuidString(id); }

    QTemporaryDir temp;
    QString root = temp.path() + QStringLiteral("/org.quillet.Quillet-drag");
    DragFileResolver resolver{root};
    const QByteArray png = QByteArrayLiteral("\x89PNG bytes");
    int supplied = 0;
};

}  // namespace

TEST_F(DragFileResolverTest, AStoredFileIsDraggedAsIsAndAMissingOneFallsBackToOneCopyPerPreview) {
    const QString stored = temp.filePath(QStringLiteral("Quillet stored.png"));
    writeFile(stored, png);
    const QUuid id = QUuid::createUuid();
    EXPECT_EQ(resolver.file(id, stored, QStringLiteral("other.png"), supplier(png)), stored);
    EXPECT_EQ(supplied, 0);
    EXPECT_FALSE(QFileInfo::exists(root));

    ASSERT_TRUE(QFile::remove(stored));
    const QString name = QStringLiteral("Quillet 2024-03-09 в 14.05.07.png");
    const auto first = resolver.file(id, stored, name, supplier(png));
    ASSERT_TRUE(first);
    EXPECT_EQ(*first, folderOf(id) + QLatin1Char('/') + name);
    EXPECT_EQ(readFile(*first), png);
    EXPECT_EQ(resolver.file(id, std::nullopt, name, supplier(png)), first);
    EXPECT_EQ(supplied, 1);

    // Removed behind the resolver's back: written again.
    ASSERT_TRUE(QFile::remove(*first));
    EXPECT_EQ(resolver.file(id, std::nullopt, name, supplier(png)), first);
    EXPECT_EQ(supplied, 2);
    EXPECT_EQ(readFile(*first), png);
    // Only the copy is in the folder: the write went through a temporary name and a rename.
    EXPECT_EQ(QDir(folderOf(id)).entryList(QDir::Files | QDir::Hidden), QStringList{name});
}

TEST_F(DragFileResolverTest, PreviewsWithTheSameNameDoNotCollideAndAreDiscardedSeparately) {
    const QUuid a = QUuid::createUuid();
    const QUuid b = QUuid::createUuid();
    const QString name = QStringLiteral("same.png");
    const auto fileA = resolver.file(a, std::nullopt, name, supplier(png));
    const auto fileB = resolver.file(b, std::nullopt, name, supplier(QByteArray("other bytes")));
    ASSERT_TRUE(fileA && fileB);
    EXPECT_NE(*fileA, *fileB);
    EXPECT_EQ(readFile(*fileA), png);

    resolver.discard(QUuid::createUuid());  // no copy: nothing happens
    resolver.discard(a);
    EXPECT_FALSE(QFileInfo::exists(folderOf(a)));
    EXPECT_TRUE(QFileInfo::exists(*fileB));

    resolver.discardAll();
    EXPECT_FALSE(QFileInfo::exists(root));
    resolver.discardAll();  // a missing root is fine
}

TEST_F(DragFileResolverTest, NoBytesOrANameThatLeavesThePreviewFolderWriteNothingThere) {
    const QUuid id = QUuid::createUuid();
    EXPECT_EQ(resolver.file(id, std::nullopt, QStringLiteral("a.png"), supplier({})), std::nullopt);
    EXPECT_FALSE(QFileInfo::exists(root));
    // A failed attempt is not remembered.
    EXPECT_TRUE(resolver.file(id, std::nullopt, QStringLiteral("a.png"), supplier(png)));

    const QUuid other = QUuid::createUuid();
    const auto file = resolver.file(other, std::nullopt, QStringLiteral("../../escape.png"), supplier(png));
    ASSERT_TRUE(file);
    EXPECT_EQ(QFileInfo(*file).absolutePath(), folderOf(other));
    EXPECT_FALSE(QFileInfo::exists(temp.filePath(QStringLiteral("escape.png"))));
    EXPECT_EQ(resolver.file(QUuid::createUuid(), std::nullopt, QStringLiteral(".."), supplier(png)), std::nullopt);
}

TEST_F(DragFileResolverTest, FolderOfAnotherUserIsNeitherEmptiedNorWrittenInto) {
    const QString theirs = root + QStringLiteral("/0E0D1C1A-0000-4000-8000-000000000000/theirs.png");
    ASSERT_TRUE(QDir().mkpath(QFileInfo(theirs).path()));
    writeFile(theirs, "not ours");
    for (const QString& path : {QFileInfo(theirs).path(), root}) {
        if (::chown(QFile::encodeName(path).constData(), 65534, 65534) != 0) GTEST_SKIP() << "cannot give the folder away";
    }

    resolver.discardAll();
    EXPECT_EQ(resolver.file(QUuid::createUuid(), std::nullopt, QStringLiteral("a.png"), supplier(png)), std::nullopt);
    EXPECT_EQ(readFile(theirs), "not ours");
    EXPECT_EQ(QDir(root).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).size(), 1);
}

TEST_F(DragFileResolverTest, LinksAreRemovedAsLinksAndNeverFollowed) {
    const QString outside = temp.filePath(QStringLiteral("precious"));
    ASSERT_TRUE(QDir().mkpath(outside + QStringLiteral("/inner")));
    writeFile(outside + QStringLiteral("/keep.txt"), "keep");
    writeFile(outside + QStringLiteral("/inner/keep.txt"), "keep");
    const auto survives = [&] {
        return QFileInfo::exists(outside + QStringLiteral("/keep.txt")) &&
               QFileInfo::exists(outside + QStringLiteral("/inner/keep.txt"));
    };

    // A preview's folder swapped for a link to the outside folder.
    const QUuid id = QUuid::createUuid();
    ASSERT_TRUE(resolver.file(id, std::nullopt, QStringLiteral("a.png"), supplier(png)));
    ASSERT_TRUE(QDir(folderOf(id)).removeRecursively());
    ASSERT_TRUE(QFile::link(outside, folderOf(id)));
    resolver.discard(id);
    EXPECT_FALSE(QFileInfo(folderOf(id)).isSymLink());
    EXPECT_TRUE(survives());

    // Links at both levels when everything is cleaned up.
    const QUuid other = QUuid::createUuid();
    ASSERT_TRUE(resolver.file(other, std::nullopt, QStringLiteral("a.png"), supplier(png)));
    ASSERT_TRUE(QFile::link(outside, folderOf(other) + QStringLiteral("/link")));
    ASSERT_TRUE(QFile::link(outside, root + QStringLiteral("/link")));
    resolver.discardAll();
    EXPECT_FALSE(QFileInfo::exists(root));
    EXPECT_TRUE(survives());

    // The root itself a link: neither written through nor emptied.
    ASSERT_TRUE(QFile::link(outside, root));
    EXPECT_EQ(resolver.file(QUuid::createUuid(), std::nullopt, QStringLiteral("a.png"), supplier(png)), std::nullopt);
    resolver.discardAll();
    EXPECT_FALSE(QFileInfo(root).isSymLink());
    EXPECT_TRUE(survives());
}
