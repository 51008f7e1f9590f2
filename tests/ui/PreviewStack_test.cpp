#include "ui/previews/PreviewPanel.h"
#include "ui/previews/PreviewStack.h"
#include "core/ImageCodec.h"
#include "fakes/CaptureFakes.h"
#include "fakes/FakeDesktopServices.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QEnterEvent>
#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace quillet;
using namespace std::chrono_literals;

namespace {

void hoverOver(PreviewPanel* panel) {
    QEnterEvent event(QPointF(5, 5), QPointF(5, 5), panel->mapToGlobal(QPointF(5, 5)));
    QApplication::sendEvent(panel->content(), &event);
}

class PreviewStackTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(temp.isValid());
        screen = QGuiApplication::primaryScreen();
        ASSERT_TRUE(screen);
        area = screen->availableGeometry();
        stack.revealInFileManager = [this](const QString& path) { revealed << path; };
    }

    CapturedImage capture(QColor colour = Qt::darkGreen, QSize size = QSize(64, 48)) {
        QImage image(size, QImage::Format_ARGB32);
        image.fill(colour);
        return CapturedImage{image, desktop.displays.displayID(screen), CaptureKind::region};
    }

    QUuid showOne(QColor colour = Qt::darkGreen) {
        const CapturedImage image = capture(colour);
        return stack.show(image, PNGFuture(image.image));
    }

    Screenshot stored(const QString& fileName) {
        return {QUuid::createUuid(), QDateTime::currentDateTimeUtc(), ScreenshotKind::region, {64, 48}, fileName, {}};
    }

    QString writeFile(const QString& name, const QByteArray& bytes) {
        test::writeFile(temp.filePath(name), bytes);
        return temp.filePath(name);
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

TEST_F(PreviewStackTest, OldestGivesWayWhenTheColumnDoesNotFitPinnedOrNot) {
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
    EXPECT_EQ(stack.panel(newest)->pos(), expectedPlace(fit - 1));
    // The survivors slide down into the freed place.
    EXPECT_EQ(stack.panel(ids[1])->targetPosition(), expectedPlace(0));
    // The thumbnail is made in the background and arrives shortly.
    EXPECT_TRUE(test::waitUntil([&] { return !stack.panel(newest)->content()->thumbnail().isNull(); }));
}

TEST_F(PreviewStackTest, ClosingTheMiddleOneMovesTheNewestDownAnimated) {
    const QUuid oldest = showOne();
    const QUuid middle = showOne();
    const QUuid newest = showOne();
    QPointer<PreviewPanel> closed = stack.panel(middle);
    closed->content()->closeButton->click();

    EXPECT_EQ(stack.panel(middle), nullptr);
    EXPECT_TRUE(closed->isClosing());
    PreviewPanel* top = stack.panel(newest);
    EXPECT_EQ(top->targetPosition(), expectedPlace(1));
    EXPECT_EQ(top->pos(), expectedPlace(2));  // it glides, it does not jump
    EXPECT_TRUE(test::waitUntil([&] { return top->pos() == expectedPlace(1); }));
    EXPECT_EQ(stack.panel(oldest)->pos(), expectedPlace(0));
    EXPECT_TRUE(test::waitUntil([&] { return closed.isNull(); }));  // faded out and gone
}

TEST_F(PreviewStackTest, CopyAgainPutsTheSameCaptureOnTheClipboard) {
    const CapturedImage image = capture(Qt::red);
    const PNGFuture png(image.image);
    const QUuid id = stack.show(image, png);
    stack.panel(id)->content()->copyButton->click();
    ASSERT_EQ(clipboard.images.size(), 1);
    EXPECT_EQ(clipboard.images[0].image, image.image);
    EXPECT_TRUE(clipboard.futures[0].isSameAs(png));
}

TEST_F(PreviewStackTest, EditWorksOnceStoredAndOnlyWithAnEditor) {
    const QUuid id = showOne();
    PreviewContentView* content = stack.panel(id)->content();
    const Screenshot screenshot = stored(QStringLiteral("Quillet a.png"));
    const QString path = writeFile(screenshot.fileName, "png");

    content->editButton->click();  // disabled: nothing
    stack.attach(screenshot, path, id);
    EXPECT_FALSE(content->editButton->isEnabled());  // nobody to open the editor

    QList<Screenshot> opened;
    stack.onEdit = [&](const Screenshot& s) { opened << s; };
    const QUuid other = showOne();
    stack.attach(screenshot, path, other);
    stack.attach(screenshot, path, QUuid::createUuid());  // unknown: ignored
    stack.panel(other)->content()->editButton->click();
    EXPECT_EQ(opened, QList<Screenshot>{screenshot});
}

TEST_F(PreviewStackTest, RevealAndDragUseTheStoredFileWhileItExists) {
    const QUuid id = showOne();
    PreviewContentView* content = stack.panel(id)->content();
    const Screenshot screenshot = stored(QStringLiteral("Quillet 2026-01-02 в 03.04.05.png"));
    const QString path = writeFile(screenshot.fileName, "stored");
    stack.attach(screenshot, path, id);

    hoverOver(stack.panel(id));
    content->fileManagerButton->click();
    EXPECT_EQ(revealed, QStringList{path});
    EXPECT_EQ(content->actions.dragFile(), path);

    // The history lookup, when set, wins over the path given to attach.
    const QString moved = writeFile(QStringLiteral("moved.png"), "moved");
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
    EXPECT_EQ(quillet::ImageCodec::decode(test::readFile(*copy))->size(), QSize(64, 48));
}

TEST_F(PreviewStackTest, UnstoredCaptureDragsACopyWithAGeneratedName) {
    const QUuid id = showOne();
    const auto file = stack.panel(id)->actions().dragFile();
    ASSERT_TRUE(file);
    const QString name = QFileInfo(*file).fileName();
    EXPECT_TRUE(name.startsWith(PreviewStack::fileName(QDateTime::currentDateTime()).left(19))) << name.toStdString();
    const auto image = quillet::ImageCodec::decode(test::readFile(*file));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->pixelColor(3, 3), QColor(Qt::darkGreen));

    // Closing the preview removes its copy at once.
    stack.panel(id)->content()->closeButton->click();
    EXPECT_FALSE(QFileInfo::exists(*file));
}

TEST_F(PreviewStackTest, AcceptedDragUsesThePreviewUpButKeepsItsFileForAWhile) {
    stack.draggedFileLifetime = 300ms;
    const QUuid taken = showOne();
    const auto file = stack.panel(taken)->actions().dragFile();
    ASSERT_TRUE(file);
    stack.panel(taken)->actions().onDragEnded(true);
    EXPECT_EQ(stack.panel(taken), nullptr);
    EXPECT_TRUE(QFileInfo::exists(*file));
    EXPECT_TRUE(test::waitUntil([&] { return !QFileInfo::exists(*file); }, 5s));
}

TEST_F(PreviewStackTest, EditedImageReplacesThePreviewInPlaceKeepingItsPin) {
    const QUuid below = showOne();
    const QUuid id = showOne(Qt::blue);
    const Screenshot screenshot = stored(QStringLiteral("Quillet b.png"));
    stack.onEdit = [](const Screenshot&) {};
    stack.attach(screenshot, writeFile(screenshot.fileName, "png"), id);
    PreviewPanel* before = stack.panel(id);
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

TEST_F(PreviewStackTest, NotSavedShowsTheWarning) {
    const QUuid id = showOne();
    stack.showNotSaved(QStringLiteral("Снимок не сохранён"), QUuid::createUuid());
    EXPECT_FALSE(stack.panel(id)->content()->warningLabel->isVisible());
    stack.showNotSaved(QStringLiteral("Снимок не сохранён"), id);
    EXPECT_TRUE(stack.panel(id)->content()->warningLabel->isVisible());
}

TEST_F(PreviewStackTest, LeftoverDragFilesOfAnEarlierRunAreRemovedAtStart) {
    const QString leftover = dragRoot + QStringLiteral("/5F0B2C7E-0000-4000-8000-000000000000/old.png");
    ASSERT_TRUE(QDir().mkpath(QFileInfo(leftover).path()));
    writeFile(QStringLiteral("unrelated.png"), "keep");
    QFile(leftover).open(QIODevice::WriteOnly);
    PreviewStack another(clipboard, services, dragRoot);
    EXPECT_FALSE(QFileInfo::exists(dragRoot));
    EXPECT_TRUE(QFileInfo::exists(temp.filePath(QStringLiteral("unrelated.png"))));
}
