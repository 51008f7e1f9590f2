#include "ui/history/HistoryCollectionView.h"
#include "ui/history/HistoryItem.h"
#include "ui/history/HistoryWindowController.h"
#include "fakes/CaptureFakes.h"
#include "fakes/FakeDesktopServices.h"
#include "fakes/FakeHistoryStore.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QLabel>
#include <QMessageBox>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

#include <gtest/gtest.h>

using namespace quillet;
using namespace std::chrono_literals;

namespace {

// Screenshot n was taken n minutes before the first: the list is newest first.
Screenshot shot(int n) {
    return {QUuid::createUuid(), QDateTime::fromSecsSinceEpoch(1741345509 - n * 60, QTimeZone::utc()), ScreenshotKind::region,
            {64, 48}, QStringLiteral("Quillet %1.png").arg(n), {}};
}

QList<Screenshot> shots(int count) {
    QList<Screenshot> list;
    for (int n = 0; n < count; ++n) list << shot(n);
    return list;
}

// A colour of its own for every screenshot, so an image shows whose thumbnail it is.
QColor colourOf(const QUuid& id) {
    const uint hash = qHash(id);
    return QColor(int(hash & 0xff), int((hash >> 8) & 0xff), int((hash >> 16) & 0xff));
}

class HistoryWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        store.makeThumbnail = [](const Screenshot& screenshot) {
            return std::optional<QImage>(test::filledImage(36, 27, colourOf(screenshot.id)));
        };
        history.onOpenInEditor = [this](const Screenshot& screenshot) { opened << screenshot; };
        history.onClose = [this] { ++closes; };
    }
    void TearDown() override { history.close(); test::drainEvents(); }

    // Opens the window afresh over `list` with the store already loaded.
    void open(const QList<Screenshot>& list) {
        history.close();
        test::drainEvents();
        store.items = list;
        store.loadAnswer.finish();
        history.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(history.windowWidget(), 5000));
        test::drainEvents();
    }

    HistoryCollectionView& grid() { return *history.collectionView(); }
    void press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(&grid(), Qt::Key(key), modifiers);
        test::drainEvents();
    }

    fakes::FakeHistoryStore store;
    fakes::Journal journal;
    fakes::FakeClipboard clipboard{journal};
    fakes::FakeSounds sounds{journal};
    fakes::FakeFileManager fileManager;
    fakes::FakeDesktop desktop;
    HistoryWindowController history{{store, clipboard, fileManager, sounds, desktop}};
    QList<Screenshot> opened;
    int closes = 0;
};

TEST_F(HistoryWindowTest, DeleteSelectsTheNeighbourThatTakesItsPlace) {
    struct Row {
        int count;
        int selected;
        std::optional<int> selectedAfter;  // position in the shorter list
    };
    const Row rows[] = {{3, 0, 0}, {3, 1, 1}, {3, 2, 1}, {1, 0, std::nullopt}};
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.count << " items, deleting " << row.selected);
        const QList<Screenshot> list = shots(row.count);
        open(list);
        grid().selectRow(row.selected);
        press(Qt::Key_Delete);

        ASSERT_FALSE(store.deletes.empty());
        EXPECT_EQ(store.deletes.back().id, list.at(row.selected).id);
        QList<Screenshot> expected = list;
        expected.removeAt(row.selected);
        EXPECT_EQ(history.items(), expected);
        EXPECT_EQ(grid().selectedRow(), row.selectedAfter);
        EXPECT_EQ(history.emptyLabel()->isVisibleTo(history.windowWidget()), expected.isEmpty());
    }
}

TEST_F(HistoryWindowTest, AFailedDeleteBringsTheScreenshotBackAndExplainsEvenAfterTheWindowClosed) {
    store.holdDeletes = true;
    for (const bool closeFirst : {false, true}) {
        SCOPED_TRACE(closeFirst ? "closed before the answer" : "open");
        test::LogCapture log;
        const QList<Screenshot> list = shots(3);
        open(list);
        closes = 0;
        grid().selectRow(1);
        press(Qt::Key_Backspace);
        // A capture lands while the delete is still running: the deleted one must not come back.
        const Screenshot newest = shot(-1);
        store.items.prepend(newest);
        Q_EMIT store.historyDidChange();
        test::drainEvents();
        EXPECT_EQ(history.items(), (QList<Screenshot>{newest, list.at(0), list.at(2)}));
        if (closeFirst) {
            press(Qt::Key_W, Qt::ControlModifier);
            EXPECT_EQ(closes, 0) << "the controller must outlive its delete";
        }

        // The file could not be removed, so the store kept it.
        store.answerDelete(store.deletes.size() - 1,
                           HistoryResult(unexpected(HistoryError::deleteFailed(QStringLiteral("Permission denied")))));
        test::drainEvents();
        if (!closeFirst) {
            EXPECT_EQ(history.items(), store.items);
        }
        QMessageBox* alert = history.failureAlert();
        ASSERT_NE(alert, nullptr);
        EXPECT_EQ(alert->parentWidget(), closeFirst ? nullptr : history.windowWidget());
        EXPECT_EQ(closes, closeFirst ? 1 : 0);
        EXPECT_EQ(log.texts("quillet.history-window", QtCriticalMsg).size(), 1);
        alert->close();
    }
}

TEST_F(HistoryWindowTest, AThumbnailNeverLandsInACellThatMovedOn) {
    store.holdThumbnails = true;
    open(shots(200));
    history.windowWidget()->resize(HistoryWindowController::minimumSize);
    test::drainEvents();
    const std::size_t firstScreen = store.thumbnailRequests.size();
    ASSERT_GT(firstScreen, 0u);

    // Scroll through the whole grid in steps, resting after each, before any answer comes.
    grid().setScrollRestDelay(0ms);
    QScrollBar* bar = grid().verticalScrollBar();
    while (bar->value() < bar->maximum()) {
        bar->setValue(bar->value() + 150);
        grid().viewport()->repaint();
        test::drainEvents();
    }
    ASSERT_GT(store.thumbnailRequests.size(), 4 * firstScreen);
    // Memory follows the window: cells are reused, not made for every screenshot.
    EXPECT_LE(grid().cells().size(), 3 * firstScreen);

    // The slow store answers last request first.
    for (std::size_t n = store.thumbnailRequests.size(); n-- > 0;) store.answerThumbnail(n);
    test::drainEvents();

    int shown = 0;
    for (const HistoryItem* cell : grid().cells()) {
        if (cell->thumbnailState() != HistoryItem::ThumbnailState::loaded) continue;
        ++shown;
        EXPECT_EQ(cell->thumbnail().pixelColor(0, 0), colourOf(cell->representedID())) << "another screenshot's";
    }
    EXPECT_GT(shown, 0);
    // The loads of cells that were handed on were called off.
    const auto cancelled = std::count_if(store.thumbnailRequests.begin(), store.thumbnailRequests.end(),
                                         [](const auto& request) { return request.cancel.isCancelled(); });
    EXPECT_GE(std::size_t(cancelled), store.thumbnailRequests.size() - grid().cells().size());
}

// Copying a stored PNG is covered end to end; here, a JPEG named .png: the bytes must really be PNG.
TEST_F(HistoryWindowTest, CopyBeepsForAFileThatIsNotAStoredPNG) {
    QTemporaryDir folder;
    store.folder = folder.path();
    const Screenshot screenshot = shot(0);
    ASSERT_TRUE(test::patternImage(QSize(64, 48)).save(store.fileURL(screenshot), "JPG"));
    open({screenshot});
    press(Qt::Key_C, Qt::ControlModifier);  // nothing selected: nothing happens
    grid().selectRow(0);
    press(Qt::Key_C, Qt::ControlModifier);
    // Copy reads the file in the background and answers with either the clipboard or a beep.
    EXPECT_TRUE(test::waitUntil([&] { return sounds.beeps > 0; }));
    test::drainEvents();
    EXPECT_EQ(sounds.beeps, 1);
    EXPECT_TRUE(clipboard.images.isEmpty());
}

TEST_F(HistoryWindowTest, RightClickSelectsTheCellUnderThePointerReturnOpensItAndOnlyARealChangeReloads) {
    const QList<Screenshot> list = shots(4);
    open(list);
    grid().selectRow(0);
    const auto rightClick = [&](QPoint at) {
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, grid().viewport()->mapToGlobal(at));
        QApplication::sendEvent(grid().viewport(), &event);
        test::drainEvents();
    };
    rightClick(grid().visualRect(grid().model()->index(1, 0)).center());
    EXPECT_EQ(grid().selectedRow(), 1);
    EXPECT_TRUE(grid().contextMenu().isVisible());
    // The menu acts on the cell that was clicked.
    grid().contextMenu().actions().at(1)->trigger();
    EXPECT_EQ(fileManager.revealed, QStringList{store.fileURL(list.at(1))});
    grid().contextMenu().hide();
    rightClick(grid().viewport()->rect().bottomRight() - QPoint(5, 5));  // empty space: no menu
    EXPECT_FALSE(grid().contextMenu().isVisible());
    EXPECT_EQ(grid().selectedRow(), 1);

    press(Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(opened, QList<Screenshot>{list.at(1)});

    // A change announcement with the same list (retention found nothing to remove) keeps all.
    QSignalSpy resets(grid().model(), &QAbstractItemModel::modelReset);
    Q_EMIT store.historyDidChange();
    test::drainEvents();
    EXPECT_EQ(resets.count(), 0);
    // Retention removed the selected one: nothing is selected, nothing else is lost.
    store.items.removeAt(1);
    Q_EMIT store.historyDidChange();
    test::drainEvents();
    EXPECT_EQ(resets.count(), 1);
    EXPECT_EQ(history.items(), store.items);
    EXPECT_EQ(grid().selectedRow(), std::nullopt);

    history.close();
    test::drainEvents();
    EXPECT_EQ(closes, 1);
    EXPECT_TRUE(store.calls.contains(QStringLiteral("releaseThumbnailMemory")));
}

}  // namespace
