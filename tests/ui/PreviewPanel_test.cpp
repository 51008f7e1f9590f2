#include "ui/previews/PreviewPanel.h"

#include <QApplication>
#include <QEnterEvent>
#include <QMouseEvent>

#include <gtest/gtest.h>

using namespace quillet;

namespace {

void sendMouse(QWidget* widget, QEvent::Type type, QPointF position, Qt::MouseButtons buttons,
               Qt::MouseButton button = Qt::LeftButton) {
    const QPointF global = widget->mapToGlobal(position);
    QMouseEvent event(type, position, position, global, type == QEvent::MouseMove ? Qt::NoButton : button, buttons,
                      Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

void press(QWidget* widget, QPointF at) { sendMouse(widget, QEvent::MouseButtonPress, at, Qt::LeftButton); }
void moveHeld(QWidget* widget, QPointF to) { sendMouse(widget, QEvent::MouseMove, to, Qt::LeftButton); }
void release(QWidget* widget, QPointF at) { sendMouse(widget, QEvent::MouseButtonRelease, at, Qt::NoButton); }
void doubleClick(QWidget* widget, QPointF at) {
    press(widget, at);
    release(widget, at);
    sendMouse(widget, QEvent::MouseButtonDblClick, at, Qt::LeftButton);
    release(widget, at);
}

void enter(QWidget* widget) {
    QEnterEvent event(QPointF(5, 5), QPointF(5, 5), widget->mapToGlobal(QPointF(5, 5)));
    QApplication::sendEvent(widget, &event);
}

void leave(QWidget* widget) {
    QEvent event(QEvent::Leave);
    QApplication::sendEvent(widget, &event);
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
    sendMouse(content, QEvent::MouseMove, QPointF(150, 100), Qt::NoButton);
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
    enter(content);
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
    enter(content);  // no question to ask: the file-manager button stays disabled
    EXPECT_TRUE(content->isOverlayShown());
    EXPECT_FALSE(content->fileManagerButton->isEnabled());
    leave(content);
    EXPECT_FALSE(content->isOverlayShown());

    bool exists = true;
    panel->actions().historyFileExists = [&] { return exists; };
    enter(content);
    EXPECT_TRUE(content->fileManagerButton->isEnabled());
    leave(content);
    exists = false;
    enter(content);
    EXPECT_FALSE(content->fileManagerButton->isEnabled());
    EXPECT_EQ(hovers, (QList<bool>{true, false, true, false, true}));
}
