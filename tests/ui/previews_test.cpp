#include "ui/previews/DragFileResolver.h"
#include "ui/previews/PreviewPanel.h"
#include "ui/previews/PreviewStack.h"
#include "ui/previews/PreviewStackModel.h"
#include "core/ImageCodec.h"
#include "fakes/CaptureFakes.h"
#include "fakes/FakeDesktopServices.h"
#include "support/TestSupport.h"
#include "UiInput.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace quillet;
using namespace std::chrono_literals;

namespace {

class PreviewStackTest : public ::testing::Test {
protected:
    void SetUp() override {
        screen = QGuiApplication::primaryScreen();
        ASSERT_TRUE(screen);
        area = screen->availableGeometry();
        stack.revealInFileManager = [this](const QString& path) { revealed << path; };
    }

    CapturedImage capture(QColor colour = Qt::darkGreen, QSize size = QSize(64, 48)) {
        return CapturedImage{test::filledImage(size.width(), size.height(), colour), desktop.displays.displayID(screen),
                             CaptureKind::region};
    }

    QUuid showOne(QColor colour = Qt::darkGreen) {
        const CapturedImage image = capture(colour);
        return stack.show(image, PNGFuture(image.image));
    }

    Screenshot stored(const QString& fileName) {
        return {QUuid::createUuid(), QDateTime::currentDateTimeUtc(), ScreenshotKind::region, {64, 48}, fileName, {}};
    }

    // The place of the preview that has `below` previews under it.
    QPoint expectedPlace(int below) const {
        return {area.x() + 20, area.y() + area.height() - 20 - 150 - below * 160};
    }

    QTemporaryDir temp;
    QString dragRoot = temp.path() + QStringLiteral("/org.quillet.Quillet-drag");
    fakes::Journal journal;
    fakes::FakeClipboard clipboard{journal};
    fakes::FakePreviewDesktop desktop;
    PreviewStack::Desktop services{desktop.displays, desktop.displays, desktop.styling, desktop.compositor,
                                   desktop.fileManager};
    PreviewStack stack{clipboard, services, dragRoot};
    QScreen* screen = nullptr;
    QRect area;
    QStringList revealed;
};

}  // namespace

TEST_F(PreviewStackTest, OldestGivesWayWhenTheColumnIsFullPinnedOrNotAndClosingOneMovesTheNewerDownAnimated) {
    // How many 150-point panels fit: 40 + 150 + (n - 1) × 160 <= height.
    const int fit = 1 + (area.height() - 190) / 160;
    ASSERT_GE(fit, 2);
    QList<QUuid> ids;
    for (int i = 0; i < fit; ++i) ids << showOne();
    stack.panel(ids[0])->actions().onTogglePin();
    ASSERT_TRUE(stack.stackModel().isPinned(ids[0]));

    const QUuid newest = showOne();
    EXPECT_EQ(stack.panel(ids[0]), nullptr);
    EXPECT_EQ(stack.stackModel().previews(desktop.displays.displayID(screen)).size(), fit);
    PreviewPanel* top = stack.panel(newest);
    EXPECT_EQ(top->pos(), expectedPlace(fit - 1));
    // The survivors slide down into the freed place.
    EXPECT_EQ(stack.panel(ids[1])->targetPosition(), expectedPlace(0));
    // The thumbnail is made in the background and arrives shortly.
    EXPECT_TRUE(test::waitUntil([&] { return !top->content()->thumbnail().isNull(); }));

    QPointer<PreviewPanel> closed = stack.panel(ids[1]);
    closed->content()->closeButton->click();
    EXPECT_EQ(stack.panel(ids[1]), nullptr);
    EXPECT_TRUE(closed->isClosing());
    EXPECT_EQ(top->targetPosition(), expectedPlace(fit - 2));
    EXPECT_EQ(top->pos(), expectedPlace(fit - 1));  // it glides, it does not jump
    EXPECT_TRUE(test::waitUntil([&] { return top->pos() == expectedPlace(fit - 2); }));
    EXPECT_TRUE(test::waitUntil([&] { return closed.isNull(); }));  // faded out and gone
}

TEST_F(PreviewStackTest, CopyAgainAndTheNotSavedWarningActOnTheirOwnPreview) {
    const CapturedImage image = capture(Qt::red);
    const PNGFuture png(image.image);
    const QUuid id = stack.show(image, png);
    stack.panel(id)->content()->copyButton->click();
    ASSERT_EQ(clipboard.images.size(), 1);
    EXPECT_TRUE(clipboard.futures[0].isSameAs(png));

    stack.showNotSaved(QStringLiteral("Снимок не сохранён"), QUuid::createUuid());
    EXPECT_FALSE(stack.panel(id)->content()->warningLabel->isVisible());
    stack.showNotSaved(QStringLiteral("Снимок не сохранён"), id);
    EXPECT_TRUE(stack.panel(id)->content()->warningLabel->isVisible());
}

TEST_F(PreviewStackTest, RevealAndDragUseTheStoredFileWhileItExistsOtherwiseACopyThatGoesWithThePreview) {
    stack.draggedFileLifetime = 300ms;
    const QUuid id = showOne();
    const QUuid taken = showOne();
    PreviewContentView* content = stack.panel(id)->content();
    // Not stored yet: a copy of the preview's picture.
    const auto unstored = stack.panel(taken)->actions().dragFile();
    ASSERT_TRUE(unstored);
    EXPECT_EQ(ImageCodec::decode(test::readFile(*unstored)).value_or(QImage()).pixelColor(3, 3), QColor(Qt::darkGreen));

    const Screenshot screenshot = stored(QStringLiteral("Quillet 2026-01-02 в 03.04.05.png"));
    const QString path = test::writeFile(temp.filePath(screenshot.fileName), "stored");
    stack.attach(screenshot, path, id);
    test::enter(content);
    content->fileManagerButton->click();
    EXPECT_EQ(revealed, QStringList{path});
    EXPECT_EQ(content->actions.dragFile(), path);
    // The history lookup, when set, wins over the path given to attach.
    const QString moved = test::writeFile(temp.filePath(QStringLiteral("moved.png")), "moved");
    stack.historyFileURL = [&](const Screenshot&) { return moved; };
    EXPECT_EQ(content->actions.dragFile(), moved);
    stack.historyFileURL = nullptr;

    // Deleted afterwards: no reveal, and the drag writes a copy under the stored name.
    ASSERT_TRUE(QFile::remove(path));
    content->fileManagerButton->click();
    EXPECT_EQ(revealed.size(), 1);
    const auto copy = content->actions.dragFile();
    ASSERT_TRUE(copy);
    EXPECT_EQ(QFileInfo(*copy).fileName(), screenshot.fileName);
    // Closing the preview removes its copy at once.
    content->closeButton->click();
    EXPECT_FALSE(QFileInfo::exists(*copy));

    // An accepted drag uses the preview up but keeps its file for the receiver a while.
    stack.panel(taken)->actions().onDragEnded(true);
    EXPECT_EQ(stack.panel(taken), nullptr);
    EXPECT_TRUE(QFileInfo::exists(*unstored));
    EXPECT_TRUE(test::waitUntil([&] { return !QFileInfo::exists(*unstored); }, 5s));
}

TEST_F(PreviewStackTest, EditWorksOnceStoredWithAnEditorAndItsResultKeepsThePlaceAndPin) {
    const QUuid below = showOne();
    const QUuid id = showOne(Qt::blue);
    const Screenshot other = stored(QStringLiteral("Quillet a.png"));
    stack.attach(other, test::writeFile(temp.filePath(other.fileName), "png"), below);
    EXPECT_FALSE(stack.panel(below)->content()->editButton->isEnabled());  // nobody to open the editor

    QList<Screenshot> opened;
    stack.onEdit = [&](const Screenshot& s) { opened << s; };
    PreviewPanel* before = stack.panel(id);
    before->content()->editButton->click();  // not stored yet: nothing
    const Screenshot screenshot = stored(QStringLiteral("Quillet b.png"));
    stack.attach(screenshot, test::writeFile(temp.filePath(screenshot.fileName), "png"), id);
    stack.attach(screenshot, temp.filePath(screenshot.fileName), QUuid::createUuid());  // unknown: ignored
    before->content()->editButton->click();
    EXPECT_EQ(opened, QList<Screenshot>{screenshot});
    before->actions().onTogglePin();
    const QPoint place = before->pos();

    const CapturedImage edited = capture(Qt::yellow, QSize(30, 20));
    EXPECT_EQ(stack.showEdited(edited, PNGFuture(edited.image), screenshot.id), id);
    PreviewPanel* after = stack.panel(id);
    ASSERT_NE(after, before);
    EXPECT_EQ(after->pos(), place);
    EXPECT_TRUE(stack.stackModel().isPinned(id));
    // The new image is not stored yet: no edit, and a drag offers the new pixels.
    EXPECT_FALSE(after->content()->editButton->isEnabled());
    const auto file = after->actions().dragFile();
    ASSERT_TRUE(file);
    EXPECT_EQ(quillet::ImageCodec::decode(test::readFile(*file))->size(), QSize(30, 20));
    EXPECT_EQ(stack.stackModel().previews(desktop.displays.displayID(screen)), (QList<QUuid>{below, id}));

    // The source's preview is gone: the edit shows as a new preview.
    const QUuid fresh = stack.showEdited(edited, PNGFuture(edited.image), QUuid::createUuid());
    EXPECT_NE(fresh, id);
    EXPECT_EQ(stack.panel(fresh)->pos(), expectedPlace(2));
}

TEST_F(PreviewStackTest, LeftoverDragFilesOfAnEarlierRunAreRemovedAtStart) {
    const QString leftover = dragRoot + QStringLiteral("/5F0B2C7E-0000-4000-8000-000000000000/old.png");
    ASSERT_TRUE(QDir().mkpath(QFileInfo(leftover).path()));
    test::writeFile(temp.filePath(QStringLiteral("unrelated.png")), "keep");
    QFile(leftover).open(QIODevice::WriteOnly);
    PreviewStack another(clipboard, services, dragRoot);
    EXPECT_FALSE(QFileInfo::exists(dragRoot));
    EXPECT_TRUE(QFileInfo::exists(temp.filePath(QStringLiteral("unrelated.png"))));
}

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

    QString folderOf(const QUuid& id) const { return root + QLatin1Char('/') + uuidString(id); }

    QTemporaryDir temp;
    QString root = temp.path() + QStringLiteral("/org.quillet.Quillet-drag");
    DragFileResolver resolver{root};
    const QByteArray png = QByteArrayLiteral("\x89PNG bytes");
    int supplied = 0;
};

}  // namespace

TEST_F(DragFileResolverTest, AStoredFileIsDraggedAsIsAndAMissingOneFallsBackToOneCopyPerPreview) {
    const QString stored = temp.filePath(QStringLiteral("Quillet stored.png"));
    test::writeFile(stored, png);
    const QUuid id = QUuid::createUuid();
    EXPECT_EQ(resolver.file(id, stored, QStringLiteral("other.png"), supplier(png)), stored);
    EXPECT_EQ(supplied, 0);
    EXPECT_FALSE(QFileInfo::exists(root));

    ASSERT_TRUE(QFile::remove(stored));
    const QString name = QStringLiteral("Quillet 2024-03-09 в 14.05.07.png");
    const auto first = resolver.file(id, stored, name, supplier(png));
    ASSERT_TRUE(first);
    EXPECT_EQ(*first, folderOf(id) + QLatin1Char('/') + name);
    EXPECT_EQ(test::readFile(*first), png);
    EXPECT_EQ(resolver.file(id, std::nullopt, name, supplier(png)), first);
    EXPECT_EQ(supplied, 1);

    // Removed behind the resolver's back: written again.
    ASSERT_TRUE(QFile::remove(*first));
    EXPECT_EQ(resolver.file(id, std::nullopt, name, supplier(png)), first);
    EXPECT_EQ(supplied, 2);
    EXPECT_EQ(test::readFile(*first), png);
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
    EXPECT_EQ(test::readFile(*fileA), png);

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
    test::writeFile(theirs, "not ours");
    for (const QString& path : {QFileInfo(theirs).path(), root}) {
        if (::chown(QFile::encodeName(path).constData(), 65534, 65534) != 0) GTEST_SKIP() << "cannot give the folder away";
    }

    resolver.discardAll();
    EXPECT_EQ(resolver.file(QUuid::createUuid(), std::nullopt, QStringLiteral("a.png"), supplier(png)), std::nullopt);
    EXPECT_EQ(test::readFile(theirs), "not ours");
    EXPECT_EQ(QDir(root).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).size(), 1);
}

TEST_F(DragFileResolverTest, LinksAreRemovedAsLinksAndNeverFollowed) {
    const QString outside = temp.filePath(QStringLiteral("precious"));
    ASSERT_TRUE(QDir().mkpath(outside + QStringLiteral("/inner")));
    test::writeFile(outside + QStringLiteral("/keep.txt"), "keep");
    test::writeFile(outside + QStringLiteral("/inner/keep.txt"), "keep");
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

namespace {

void press(QWidget* widget, QPointF at) { test::mouse(widget, QEvent::MouseButtonPress, at); }
void moveHeld(QWidget* widget, QPointF to) { test::mouse(widget, QEvent::MouseMove, to); }
void release(QWidget* widget, QPointF at) { test::mouse(widget, QEvent::MouseButtonRelease, at); }
void doubleClick(QWidget* widget, QPointF at) {
    test::drag(widget, at, at, 0);
    test::mouse(widget, QEvent::MouseButtonDblClick, at);
    release(widget, at);
}

class PreviewPanelTest : public ::testing::Test {
protected:
    void SetUp() override {
        panel = std::make_unique<PreviewPanel>(test::patternImage(QSize(400, 300)), false);
        content = panel->content();
        panel->actions().dragFile = [this]() -> std::optional<QString> {
            ++dragFileRequests;
            return std::nullopt;  // no drag actually starts
        };
        panel->actions().onHover = [this](bool hovering) { hovers << hovering; };
        panel->actions().onEdit = [this] { ++edits; };
        panel->actions().onClose = [this] { ++closes; };
        panel->show();
    }

    std::unique_ptr<PreviewPanel> panel;
    PreviewContentView* content = nullptr;
    int dragFileRequests = 0;
    QList<bool> hovers;
    int edits = 0;
    int closes = 0;
};

}  // namespace

TEST_F(PreviewPanelTest, DragsOncePerPressAfterFourPointsDoubleClickEditsHoverShowsButtonsThatActOnRelease) {
    press(content, QPointF(100, 70));
    moveHeld(content, QPointF(103.9, 70));
    moveHeld(content, QPointF(100, 73.9));
    EXPECT_EQ(dragFileRequests, 0);
    moveHeld(content, QPointF(102.4, 73.2));  // 4 points along the diagonal
    EXPECT_EQ(dragFileRequests, 1);
    // Without a file nothing started, and nothing is retried before the next press.
    moveHeld(content, QPointF(130, 90));
    EXPECT_EQ(dragFileRequests, 1);
    EXPECT_FALSE(content->isDragging());
    release(content, QPointF(130, 90));

    // Moving without a press never drags.
    test::mouse(content, QEvent::MouseMove, QPointF(150, 100), Qt::NoButton);
    EXPECT_EQ(dragFileRequests, 1);

    doubleClick(content, QPointF(60, 40));
    EXPECT_EQ(edits, 0);
    panel->setEditEnabled(true);
    doubleClick(content, QPointF(60, 40));
    EXPECT_EQ(edits, 1) << "edits only once stored";

    // Hovering shows the buttons and asks whether the stored file is still there.
    test::enter(content);  // no question to ask: the file-manager button stays disabled
    EXPECT_TRUE(content->isOverlayShown());
    EXPECT_FALSE(content->fileManagerButton->isEnabled());
    test::leave(content);
    EXPECT_FALSE(content->isOverlayShown());

    bool exists = true;
    panel->actions().historyFileExists = [&] { return exists; };
    test::enter(content);
    EXPECT_TRUE(content->fileManagerButton->isEnabled());
    test::leave(content);
    exists = false;
    test::enter(content);
    EXPECT_FALSE(content->fileManagerButton->isEnabled());
    EXPECT_EQ(hovers, (QList<bool>{true, false, true, false, true}));

    // A button acts only on a release inside it.
    CircleButton* close = content->closeButton;
    press(close, QPointF(10, 10));
    moveHeld(close, QPointF(40, 40));
    EXPECT_FALSE(close->isDown());
    release(close, QPointF(40, 40));
    EXPECT_EQ(closes, 0);
    press(close, QPointF(10, 10));
    release(close, QPointF(11, 11));
    EXPECT_EQ(closes, 1);

    // On the overlay but off every button: no button fires, and the card drags from there.
    QWidget* overlay = content->copyButton->parentWidget();
    press(overlay, QPointF(40, 40));
    release(overlay, QPointF(40, 40));
    EXPECT_EQ(closes, 1);
    press(overlay, QPointF(40, 40));
    moveHeld(overlay, QPointF(50, 40));
    EXPECT_EQ(dragFileRequests, 2);
    release(overlay, QPointF(50, 40));
}

namespace {

class PreviewStackModelTest : public ::testing::Test {
protected:
    PreviewStackModel::Instant now = PreviewStackModel::Instant{} + 1000s;  // moves only when the test says so
    PreviewStackModel model{PreviewStackModel::defaultLifetime, [this] { return now; }};
    const std::uint32_t screenA = 11;
    const std::uint32_t screenB = 22;
};

}  // namespace

TEST_F(PreviewStackModelTest, ExpiryAtExactlySixSecondsReportsDueOnesOldestFirstAndKeepsTheRestInOrder) {
    const QUuid first = model.push(screenA);
    const auto firstDue = now + 6s;
    now += 1s;
    const QUuid second = model.push(screenA);
    const QUuid held = model.push(screenA);
    model.pin(held);
    now += 1s;
    const QUuid last = model.push(screenA);
    EXPECT_EQ(model.nextDeadline(), firstDue);  // the earliest of several

    now += 4s - 1ns;
    EXPECT_TRUE(model.expireDue().isEmpty());
    now += 1s + 1ns;  // first is overdue, second due this very moment, last not yet
    EXPECT_EQ(model.expireDue(), (QList<QUuid>{first, second}));
    EXPECT_EQ(model.previews(screenA), (QList<QUuid>{held, last}));
    EXPECT_EQ(model.nextDeadline(), now + 1s);
    model.close(last);
    EXPECT_EQ(model.nextDeadline(), std::nullopt);
    model.close(held);
    EXPECT_TRUE(model.isEmpty());
    EXPECT_TRUE(model.expireDue().isEmpty());
}

TEST_F(PreviewStackModelTest, HoverAndPinHoldAPreviewEveryReturnStartsAFullLifetimeAndRenewForgetsTheHover) {
    const QUuid id = model.push(screenA);
    now += 3s;
    model.hover(id, true);
    EXPECT_EQ(model.nextDeadline(), std::nullopt);
    now += 5s;
    EXPECT_TRUE(model.expireDue().isEmpty());
    model.hover(id, false);
    EXPECT_EQ(model.nextDeadline(), now + 6s);

    // Pinned: hovering in and out leaves it held; unpinned under the pointer, it waits for a leave.
    model.pin(id);
    model.hover(id, true);
    model.hover(id, false);
    EXPECT_EQ(model.nextDeadline(), std::nullopt);
    now += 60s;
    EXPECT_TRUE(model.expireDue().isEmpty());
    model.hover(id, true);
    model.unpin(id);
    EXPECT_FALSE(model.isPinned(id));
    EXPECT_EQ(model.nextDeadline(), std::nullopt);
    now += 2s;
    model.hover(id, false);
    EXPECT_EQ(model.nextDeadline(), now + 6s);

    // A renew keeps the pin but forgets the hover: unpinned afterwards, it counts down at once.
    model.hover(id, true);
    model.pin(id);
    now += 10s;
    model.renew(id);
    EXPECT_TRUE(model.isPinned(id));
    EXPECT_EQ(model.nextDeadline(), std::nullopt);
    model.unpin(id);
    EXPECT_EQ(model.nextDeadline(), now + 6s);
}

TEST_F(PreviewStackModelTest, DisplaysKeepSeparateSlotsAndOnlyAnAcceptedDragOfAnUnpinnedPreviewUsesItUp) {
    const QUuid a0 = model.push(screenA);
    const QUuid b0 = model.push(screenB);
    const QUuid a1 = model.push(screenA);
    const QUuid b1 = model.push(screenB);
    EXPECT_EQ(model.slot(a1), 1);
    EXPECT_EQ(model.screen(b0), screenB);
    model.pin(b1);
    EXPECT_FALSE(model.dragEnded(b0, false));
    EXPECT_FALSE(model.dragEnded(b1, true));
    EXPECT_EQ(model.previews(screenB), (QList<QUuid>{b0, b1}));
    EXPECT_TRUE(model.dragEnded(a0, true));
    EXPECT_FALSE(model.dragEnded(a0, true));  // gone already
    EXPECT_EQ(model.slot(a1), 0);
    EXPECT_EQ(model.slot(a0), std::nullopt);

    // Unknown ids are ignored.
    model.close(b0);
    model.close(b1);
    const QUuid stranger = QUuid::createUuid();
    model.hover(stranger, true);
    model.pin(stranger);
    model.unpin(stranger);
    model.renew(stranger);
    model.close(stranger);
    EXPECT_FALSE(model.isPinned(stranger));
    EXPECT_EQ(model.slot(stranger), std::nullopt);
    EXPECT_EQ(model.previews(screenA), QList<QUuid>{a1});
    EXPECT_EQ(model.nextDeadline(), now + 6s);
}

// With margins of 20 and 10 between them, n panels of 150 need 40 + 150 n + 10 (n − 1).
TEST(PreviewStackModelLayout, OldestGiveWayUntilTheColumnFits) {
    EXPECT_EQ(PreviewStackModel::overflowCount(670, {150, 150, 150}, 150, 20, 10), 0);  // exactly fits
    EXPECT_EQ(PreviewStackModel::overflowCount(669, {150, 150, 150}, 150, 20, 10), 1);
    EXPECT_EQ(PreviewStackModel::overflowCount(100, {150, 150}, 150, 20, 10), 2);  // the newest stays alone
}
