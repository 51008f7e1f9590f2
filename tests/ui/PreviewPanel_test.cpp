#include "ui/previews/PreviewPanel.h"

#include "UiInput.h"

#include <gtest/gtest.h>

using namespace quillet;

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
        QImage image(400, 300, QImage::Format_ARGB32);
        image.fill(Qt::darkCyan);
        panel = std::make_unique<PreviewPanel>(image, false);
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

TEST_F(PreviewPanelTest, DragStartsAfterFourPointsOfMovementOncePerPress) {
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
}

TEST_F(PreviewPanelTest, DoubleClickEditsOnlyOnceTheCaptureIsStored) {
    doubleClick(content, QPointF(60, 40));
    EXPECT_EQ(edits, 0);
    panel->setEditEnabled(true);
    EXPECT_TRUE(content->editButton->isEnabled());
    doubleClick(content, QPointF(60, 40));
    EXPECT_EQ(edits, 1);
}

TEST_F(PreviewPanelTest, AButtonActsOnlyOnReleaseInsideAndTheCardAroundItDrags) {
    test::enter(content);
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
    EXPECT_EQ(dragFileRequests, 1);
    release(overlay, QPointF(50, 40));
}

TEST_F(PreviewPanelTest, HoverShowsTheOverlayAndChecksTheStoredFile) {
    EXPECT_FALSE(content->isOverlayShown());
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
}
