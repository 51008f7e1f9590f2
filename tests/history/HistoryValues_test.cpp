// The small history vocabulary: folding file-system failures and the index file form.
#include "history/HistoryError.h"
#include "history/HistoryIndex.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <cerrno>

using namespace quillet;

namespace {

Screenshot sample(std::optional<QUuid> source = std::nullopt) {
    return Screenshot{QUuid::createUuid(),
                      QDateTime(QDate(2025, 3, 7), QTime(11, 5, 9), QTimeZone::utc()),
                      ScreenshotKind::edited,
                      PixelSize{1920, 1080},
                      QStringLiteral("Quillet 2025-03-07 в 14.05.09.png"),
                      source};
}

}  // namespace

TEST(HistoryError, FullDiskAndQuotaFoldToNotEnoughSpaceEverythingElseToWriteFailed) {
    // Causes the user can act on keep their own case, so the warning can name them.
    for (const auto& [code, expected] : {std::pair{ENOSPC, HistoryError::notEnoughSpace()},
                                         {EDQUOT, HistoryError::notEnoughSpace()},
                                         {ENOTDIR, HistoryError::notADirectory()},
                                         {EACCES, HistoryError::folderNotWritable()},
                                         {EROFS, HistoryError::folderNotWritable()}}) {
        EXPECT_EQ(HistoryError::folded(FileError::fromErrno(code, QStringLiteral("/h"))), expected) << code;
    }
    const FileError io = FileError::fromErrno(EIO, QStringLiteral("/h/a.png"));
    EXPECT_EQ(HistoryError::folded(io), HistoryError::writeFailed(io.description));
}

TEST(HistoryIndex, WrittenBytesAreThoseOfTheStandardJsonWriterForAnyNameAndDate) {
    QList<Screenshot> items;
    const QList<QString> names{
        QStringLiteral("quote \" back \\ slash / solidus"),
        QString::fromUtf16(u"controls \x01\x1f\n\t\b\f\r\x7f end"),
        QStringLiteral("Снимок 2025 — 日本語 😀.png"),
        QString::fromUtf16(u"lone \xd83d high"),
        QString::fromUtf16(u"lone \xde00 low"),
        QString::fromUtf16(u"pair at end \xd83d"),
        QString(),
    };
    const QList<qint64> seconds{0, -1, 951782400, 4107542400, 253402300799, 1741345509};
    for (qsizetype i = 0; i < qMax(names.size(), seconds.size()); ++i) {
        Screenshot item = sample(i % 2 ? std::optional<QUuid>(QUuid::createUuid()) : std::nullopt);
        item.fileName = names[i % names.size()];
        item.createdAt = QDateTime::fromSecsSinceEpoch(seconds[i % seconds.size()], QTimeZone::utc());
        item.pixelSize = PixelSize{i * 1000003, -i};
        item.kind = static_cast<ScreenshotKind>(i % 4);
        items.append(item);
    }
    QJsonArray array;
    for (const Screenshot& item : items) array.append(toJson(item));
    const QByteArray reference = QJsonDocument(QJsonObject{{QStringLiteral("items"), array}, {QStringLiteral("version"), 1}})
                                     .toJson(QJsonDocument::Compact);
    EXPECT_EQ((HistoryIndex{1, items}.encoded()), reference);
}

TEST(HistoryIndex, SalvageKeepsEveryWellFormedEntryOfADamagedOrCutOffFile) {
    QList<Screenshot> three{sample(), sample(QUuid::createUuid()), sample()};
    three[1].kind = ScreenshotKind::window;
    // Brackets, quotes and backslashes inside a name must not confuse the walk over the text.
    three[2].fileName = QStringLiteral(R"(a}"],{\[.png)");
    const QByteArray whole = HistoryIndex{1, three}.encoded();
    const QByteArray second = HistoryIndex{1, {three[1]}}.encoded();
    const QByteArray entry1 = second.mid(10, second.size() - 24);  // the object inside "items":[…]
    struct Row {
        const char* what;
        QByteArray bytes;
        qsizetype kept;
        bool damaged;
    };
    const Row rows[] = {
        {"whole", whole, 3, false},
        {"other key order, spaces", "{ \"version\" : 1 ,\n \"items\" : [ " + entry1 + " ] }", 1, false},
        {"one bad entry", R"({"items":[{"id":"x"},)" + entry1 + R"(,{"kind":7}],"version":1})", 1, true},
        {"cut inside the last entry", whole.left(whole.size() - 30), 2, true},
        {"cut after an entry", whole.left(whole.indexOf("},{") + 1), 1, true},
        {"trailing bytes", whole + "xx", 3, true},
        {"another version", HistoryIndex{2, three}.encoded(), 0, true},
        {"no version", R"({"items":[)" + entry1 + "]}", 0, true},
        {"not json", "hello", 0, true},
        {"empty", QByteArray(), 0, true},
    };
    for (const Row& row : rows) {
        const auto salvaged = HistoryIndex::salvage(row.bytes);
        EXPECT_EQ(salvaged.items.size(), row.kept) << row.what;
        EXPECT_EQ(salvaged.damaged, row.damaged) << row.what;
    }
    EXPECT_EQ(HistoryIndex::salvage(whole).items, three);
    EXPECT_EQ(HistoryIndex::salvage(whole.left(whole.size() - 30)).items, three.mid(0, 2));
}
