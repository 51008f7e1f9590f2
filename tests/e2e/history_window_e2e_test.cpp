// The history window on a private X server over a real history folder of PNG files: the
// keyboard scrolls to the end, Ctrl+C puts that file's bytes on the real clipboard (read back
// with xclip), Delete removes the file and its index entry, and a screenshot stored while the
// window is open appears first.
#include "clipboard/ClipboardWriter.h"
#include "core/ImageCodec.h"
#include "e2e/harness/X11Parts.h"
#include "e2e/harness/XSession.h"
#include "e2e/harness/XTestInput.h"
#include "e2e/harness/XWindows.h"
#include "history/HistoryIndex.h"
#include "history/HistoryStore.h"
#include "platform/desktop/QtPasteboard.h"
#include "platform/desktop/ShutterSound.h"
#include "platform/x11/ClipboardOwner.h"
#include "support/TestImages.h"
#include "ui/history/HistoryCollectionView.h"
#include "ui/history/HistoryItem.h"
#include "ui/history/HistoryWindowController.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QScrollBar>
#include <QTest>
#include <QTimeZone>

#include <X11/keysym.h>
#include <gtest/gtest.h>

using namespace quillet;
using quillet::e2e::XSession;
using namespace std::chrono_literals;

QUILLET_E2E_SESSION({.monitors = {QRect(0, 0, 1280, 800)}, .trayHost = false});

namespace {

// 500 screenshots is what a year of light use leaves; each one different.
constexpr int screenshotCount = 500;

QByteArray screenshotPNG(int n) {
    QImage image = test::patternImage(QSize(320, 200));
    QPainter painter(&image);
    painter.fillRect(QRect(0, 0, 120, 40), QColor::fromHsv((n * 37) % 360, 200, 220));
    painter.setPen(Qt::black);
    painter.drawText(QRect(0, 0, 120, 40), Qt::AlignCenter, QString::number(n));
    painter.end();
    return *ImageCodec::encodePNG(image);
}

// A folder as the application leaves it: the PNG files and an index listing them, newest first.
QList<Screenshot> writeHistory(const QString& folder, int count) {
    QDir().mkpath(folder);
    const QDateTime newest = QDateTime::fromSecsSinceEpoch(1741345509, QTimeZone::utc());
    QList<Screenshot> items;
    for (int n = 0; n < count; ++n) {
        const QDateTime createdAt = newest.addSecs(-60 * n);
        Screenshot screenshot{QUuid::createUuid(), createdAt, ScreenshotKind::region, PixelSize{320, 200},
                              QStringLiteral("Quillet %1.png")
                                  .arg(createdAt.toString(QStringLiteral("yyyy-MM-dd 'в' HH.mm.ss"))),
                              std::nullopt};
        QFile file(folder + QLatin1Char('/') + screenshot.fileName);
        if (!file.open(QIODevice::WriteOnly)) return {};
        file.write(screenshotPNG(n));
        items << screenshot;
    }
    QFile index(folder + QStringLiteral("/.history.json"));
    if (!index.open(QIODevice::WriteOnly)) return {};
    index.write(HistoryIndex{HistoryIndex::currentVersion, items}.encoded());
    return items;
}

QStringList indexedFileNames(const QString& folder) {
    QStringList names;
    for (const QJsonValue& item : e2e::indexItems(folder)) names << item.toObject().value(QStringLiteral("fileName")).toString();
    return names;
}

QByteArray fileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

const HistoryItem* cellShowing(HistoryCollectionView& grid, const QUuid& id) {
    for (const HistoryItem* cell : grid.cells()) {
        if (cell->representedID() == id) return cell;
    }
    return nullptr;
}

bool isOnScreen(HistoryCollectionView& grid, int row) {
    return grid.visualRect(grid.model()->index(row, 0)).intersects(grid.viewport()->rect());
}

}  // namespace

TEST(HistoryWindowE2E, KeyboardCopyDeleteAndNewCapturesOverARealFolder) {
    auto& session = XSession::current();
    const QString folder = e2e::defaultHistoryFolder();
    const QList<Screenshot> written = writeHistory(folder, screenshotCount);
    ASSERT_EQ(written.size(), screenshotCount);

    HistoryStore store(folder, HistoryStore::defaultThumbnailsFolder(), [] { return QDateTime::currentDateTimeUtc(); },
                       QTimeZone::utc());
    QtPasteboard pasteboard{QGuiApplication::clipboard(), &ClipboardOwner::heldByThisClient};
    ClipboardWriter clipboard{pasteboard};
    test::X11Parts parts;
    ShutterSound sounds;
    HistoryWindowController history{{store, clipboard, parts.fileManager, sounds, parts.desktop}};
    int closes = 0;
    history.onClose = [&] { ++closes; };

    history.show();
    QWidget* window = history.windowWidget();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window, 10000));
    ASSERT_TRUE(XSession::waitUntil([&] { return history.items().size() == screenshotCount; }, 20s));
    EXPECT_EQ(history.items(), written);
    EXPECT_FALSE(history.emptyLabel()->isVisible());
    HistoryCollectionView& grid = *history.collectionView();
    ASSERT_TRUE(XSession::waitUntil([&] { return window->isActiveWindow() && grid.hasFocus(); }, 10s))
        << "the window did not get the keyboard";

    // The first screen's thumbnails come, each in the cell of its own screenshot.
    ASSERT_TRUE(XSession::waitUntil([&] {
        const HistoryItem* first = cellShowing(grid, written.first().id);
        return first && first->thumbnailState() == HistoryItem::ThumbnailState::loaded;
    }, 20s));

    // Down to the last screenshot with the keyboard, as a user would.
    e2e::XTestInput keys;
    ASSERT_TRUE(keys.isValid());
    keys.tap(XK_Right);
    keys.tap(XK_End);
    keys.sync();
    ASSERT_TRUE(XSession::waitUntil([&] { return grid.selectedRow() == screenshotCount - 1; }, 10s));
    ASSERT_TRUE(XSession::waitUntil([&] { return isOnScreen(grid, screenshotCount - 1); }, 10s));
    const Screenshot last = written.last();
    ASSERT_TRUE(XSession::waitUntil([&] {
        const HistoryItem* cell = cellShowing(grid, last.id);
        return cell && cell->thumbnailState() == HistoryItem::ThumbnailState::loaded;
    }, 20s)) << "the last screenshot's thumbnail did not come";
    EXPECT_LT(grid.cells().size(), 60u) << "cells follow the window's size, not the history's";

    // Ctrl+C: the clipboard holds exactly the bytes of that file.
    keys.press(XK_Control_L);
    keys.tap(XK_c);
    keys.release(XK_Control_L);
    keys.sync();
    const QByteArray stored = fileBytes(store.fileURL(last));
    QByteArray pasted;
    ASSERT_TRUE(XSession::waitUntil([&] {
        const auto result = session.xclipOut(QStringLiteral("image/png"), 2s);
        pasted = result.out;
        return result.ok() && !pasted.isEmpty();
    }, 20s)) << "nothing pasteable after Ctrl+C";
    EXPECT_EQ(pasted, stored);

    // Delete: the file and its index entry go; the new last one is selected.
    keys.tap(XK_Delete);
    keys.sync();
    const QString lastPath = store.fileURL(last);
    ASSERT_TRUE(XSession::waitUntil([&] {
        return !QFile::exists(lastPath) && !indexedFileNames(folder).contains(last.fileName) &&
               indexedFileNames(folder).size() == screenshotCount - 1;
    }, 20s)) << "the deleted screenshot is still in the folder or the index";
    EXPECT_EQ(history.items().size(), screenshotCount - 1);
    EXPECT_EQ(grid.selectedRow(), screenshotCount - 2);
    EXPECT_EQ(history.failureAlert(), nullptr);

    // A screenshot stored while the window is open comes first in the grid.
    QFuture<StoredScreenshot> added =
        store.add(screenshotPNG(9999), PixelSize{320, 200}, ScreenshotKind::region, std::nullopt);
    ASSERT_TRUE(XSession::waitUntil([&] { return added.isFinished(); }, 20s));
    ASSERT_TRUE(added.result().has_value());
    const Screenshot newest = added.result().value();
    ASSERT_TRUE(XSession::waitUntil([&] { return !history.items().isEmpty() && history.items().first() == newest; }, 20s));
    EXPECT_EQ(history.items().size(), screenshotCount);
    EXPECT_EQ(grid.selectedRow(), screenshotCount - 1) << "the selection stays on the same screenshot";
    grid.verticalScrollBar()->setValue(0);
    ASSERT_TRUE(XSession::waitUntil([&] {
        const HistoryItem* cell = cellShowing(grid, newest.id);
        return cell && cell->thumbnailState() == HistoryItem::ThumbnailState::loaded;
    }, 20s));

    // Ctrl+W closes; the window lets its cells go.
    keys.press(XK_Control_L);
    keys.tap(XK_w);
    keys.release(XK_Control_L);
    keys.sync();
    ASSERT_TRUE(XSession::waitUntil([&] { return closes == 1; }, 10s));
    EXPECT_FALSE(history.isOpen());
}
