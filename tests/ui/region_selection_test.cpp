// What gestures on the overlay mean, how the controller ends a selection once, and the flash.
#include "ui/overlay/CaptureFlash.h"
#include "ui/overlay/RegionSelectionController.h"
#include "ui/overlay/RegionSelectionPanels.h"
#include "ui/overlay/RegionSelectionView.h"
#include "fakes/FakeContentSource.h"
#include "fakes/FakeDesktopServices.h"
#include "support/TestSupport.h"
#include "UiInput.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

using namespace quillet;

constexpr std::uint32_t displayID = 31;

TEST(RegionSelectionView, HoverAndClicksPickTheFrontMostWindowDragsWholeRectanglesEscapeCancels) {
    // A 1440 × 900-point display with two overlapping windows, the smaller one in front.
    RegionSelectionView view(displayID, QRectF(0, 0, 1440, 900), 1.0, QImage(),
                             {{1, QRectF(100, 100, 300, 200)}, {2, QRectF(50, 50, 600, 400)}});
    QList<std::optional<RegionSelection>> outcomes;
    view.onFinish = [&](std::optional<RegionSelection> result) { outcomes << result; };
    test::key(&view, Qt::Key_A);  // other keys do nothing
    test::key(&view, Qt::Key_Return);
    test::drag(&view, QPointF(150, 150), QPointF(152, 152));  // 2 × 2 points is still a click
    test::drag(&view, QPointF(500, 400), QPointF(500, 400));
    test::drag(&view, QPointF(1000, 800), QPointF(1001, 801));  // bare desktop
    test::drag(&view, QPointF(300.2, 849.9), QPointF(100.4, 699.4));
    test::drag(&view, QPointF(10, 10), QPointF(14, 14));
    test::drag(&view, QPointF(10, 10), QPointF(13.5, 60));  // too thin to be meant
    test::drag(&view, QPointF(1400, 880), QPointF(1600, 1000));  // past the display's corner
    test::key(&view, Qt::Key_Escape);
    test::mouse(&view, QEvent::MouseButtonPress, QPointF(200, 200), Qt::RightButton);
    const auto rectangle = [](QRectF rect) { return RegionSelection::rectangle(rect, displayID); };
    const QList<std::optional<RegionSelection>> expected = {
        RegionSelection::window(1), RegionSelection::window(2), std::nullopt,  // the clicks
        rectangle(QRectF(100, 699, 201, 151)), rectangle(QRectF(10, 10, 4, 4)), std::nullopt,  // the drags
        rectangle(QRectF(1400, 880, 40, 20)), std::nullopt, std::nullopt,  // the corner, Escape, right click
    };
    EXPECT_EQ(outcomes, expected);

    // The hover follows the front-most window and gives way to a drag.
    test::mouse(&view, QEvent::MouseMove, QPointF(150, 150));
    ASSERT_TRUE(view.hoveredWindow());
    EXPECT_EQ(view.hoveredWindow()->id, 1u);
    test::mouse(&view, QEvent::MouseMove, QPointF(600, 420));
    EXPECT_EQ(view.hoveredWindow()->id, 2u);
    test::mouse(&view, QEvent::MouseMove, QPointF(1200, 800));
    EXPECT_FALSE(view.hoveredWindow());

    // While dragging, the selection is the hole and no window is highlighted through it.
    test::mouse(&view, QEvent::MouseMove, QPointF(150, 150));
    test::mouse(&view, QEvent::MouseButtonPress, QPointF(150, 150));
    test::mouse(&view, QEvent::MouseMove, QPointF(170, 190));
    EXPECT_EQ(view.selection(), QRectF(150, 150, 20, 40));
    EXPECT_EQ(view.hoveredWindow()->id, 1u);  // kept for when the drag ends
}

TEST(RegionSelectionView, WindowAcrossTwoDisplaysIsOfferedOnBothClippedToEach) {
    const QList<CapturableWindow> windows = {{5, QRectF(1300, 100, 400, 300)}, {6, QRectF(4000, 0, 100, 100)}};
    EXPECT_EQ(RegionSelectionView::framesOnDisplay(windows, QRectF(0, 0, 1440, 900)),
              (QList<RegionSelectionView::WindowFrame>{{5, QRectF(1300, 100, 140, 300)}}));
    EXPECT_EQ(RegionSelectionView::framesOnDisplay(windows, QRectF(1440, 0, 1920, 1080)),
              (QList<RegionSelectionView::WindowFrame>{{5, QRectF(0, 100, 260, 300)}}));
}

struct RegionSelectionControllerTest : ::testing::Test {
    fakes::FakeScreenFreezer freezer;
    fakes::FakeDisplays displays;
    QScreen* screen = QGuiApplication::primaryScreen();
};

TEST_F(RegionSelectionControllerTest, EachEndAnswersOnceAndOnlyASelectionKeepsTheFrozenFrame) {
    freezer.frames = {FrozenDisplay{{0, QRectF(screen->geometry()), 1.0}, QImage()}};
    const auto selection = RegionSelection::rectangle(QRectF(1, 2, 30, 40), displayID);
    auto controller = std::make_unique<RegionSelectionController>(freezer, displays);
    controller->show({});
    ASSERT_EQ(controller->panels().size(), QGuiApplication::screens().size());
    const QFuture<std::optional<RegionSelection>> answer = controller->selection();
    controller->finish(selection);
    ASSERT_TRUE(test::waitFor(answer));
    EXPECT_EQ(answer.result(), selection);
    EXPECT_EQ(freezer.thaws, 0) << "the frame is kept for the capture";

    // Escape on a panel; the outcome arrives before anybody asked for it and is kept.
    controller = std::make_unique<RegionSelectionController>(freezer, displays);
    controller->show({});
    QTest::keyClick(controller->panels().front(), Qt::Key_Escape);
    EXPECT_FALSE(controller->isOpen());
    EXPECT_EQ(freezer.thaws, 1);
    controller->finish(RegionSelection::window(3));  // too late: ignored
    const QFuture<std::optional<RegionSelection>> cancelled = controller->selection();
    ASSERT_TRUE(cancelled.isFinished());
    EXPECT_EQ(cancelled.result(), std::nullopt);
    EXPECT_EQ(freezer.thaws, 1);

    // Dropped while open: the panels go, the frame is let go, the waiter hears "nothing".
    controller = std::make_unique<RegionSelectionController>(freezer, displays);
    controller->show({});
    const QFuture<std::optional<RegionSelection>> pending = controller->selection();
    controller.reset();
    ASSERT_TRUE(pending.isFinished());
    EXPECT_EQ(pending.result(), std::nullopt);
    EXPECT_EQ(freezer.thaws, 2);
}

TEST_F(RegionSelectionControllerTest, PanelsAreKeptForTheNextSelectionWithoutTheLastOnesState) {
    const QImage frozen = test::filledImage(screen->geometry().width(), screen->geometry().height());
    freezer.frames = {FrozenDisplay{{displays.displayID(screen), QRectF(screen->geometry()), 1.0}, frozen}};
    auto panels = std::make_shared<RegionSelectionPanels>();

    RegionSelectionView* first = nullptr;
    {
        RegionSelectionController controller(freezer, displays, panels);
        controller.show({{8, QRectF(10, 10, 100, 100)}});
        freezer.frames.clear();
        first = controller.panels().front();
        first->hoverAt(QPointF(50, 50));
        ASSERT_TRUE(first->hoveredWindow());
        controller.finish(std::nullopt);
        EXPECT_FALSE(first->isVisible());
        EXPECT_TRUE(frozen.isDetached());  // the put-away panel holds no frame
    }
    RegionSelectionController again(freezer, displays, panels);
    again.show({});
    ASSERT_EQ(again.panels().front(), first);
    EXPECT_TRUE(first->isVisible());
    EXPECT_FALSE(first->hoveredWindow());
    EXPECT_TRUE(first->windowFrames().isEmpty());
}

TEST(CaptureFlash, FadesOverExactlyTheAreaAndGoesAway) {
    fakes::FakeWindowStyling styling;
    CaptureFlash flash(styling, [] { return true; });
    flash.show(QRectF(10, 20, 300, 200));
    QCoreApplication::processEvents();  // the window comes on the next turn of the event loop
    ASSERT_EQ(flash.windows().size(), 1);
    QWindow* window = flash.windows().front();
    EXPECT_EQ(window->geometry(), QRect(10, 20, 300, 200));
    EXPECT_TRUE(window->flags().testFlag(Qt::WindowTransparentForInput));

    // Overlapping flashes are separate windows; an empty area shows none.
    flash.show(QRectF(0, 0, 3000, 100));
    flash.show(QRectF(5, 5, 0, 10));
    QCoreApplication::processEvents();
    EXPECT_EQ(flash.windows().size(), 2);
    EXPECT_TRUE(test::waitUntil([&] { return flash.windows().isEmpty(); }, std::chrono::seconds(2)));
}
