// The edit document: the input it takes, undo by whole snapshots, dirty tracking and hit tests.
#include "editor/EditDocument.h"
#include "support/TestSupport.h"

#include <QSignalSpy>
#include <QUndoStack>

#include <gtest/gtest.h>

namespace quillet {
namespace {

TEST(EditDocumentTest, DegenerateInputLeavesNoTraceAndShapesAreStandardisedAndClippedToTheImage) {
    EditDocument document(test::filledImage(200, 100));
    QSignalSpy changes(&document, &EditDocument::changed);

    EXPECT_EQ(document.addArrow({0, 0}, {5, 6}), std::nullopt);  // about 7.8 long
    EXPECT_EQ(document.addFrame(QRectF(-20, -20, 25, 50)), std::nullopt);  // 5 wide after clipping
    EXPECT_EQ(document.addPixelation(QRectF(300, 10, 50, 50)), std::nullopt);  // off the image
    EXPECT_EQ(document.addHighlight({{10, 10}, {13, 10}, {13, 14.9}}), std::nullopt);  // 7.9 long
    EXPECT_EQ(document.addHighlight({{10, 10}}), std::nullopt);
    EXPECT_EQ(document.addArrow({0, 0}, {qInf(), 0}), std::nullopt);
    document.setCrop(QRectF(10, 10, 6.5, 50));  // 7 pixels wide even when extended outward
    document.setCrop(std::nullopt);             // there is no crop to clear
    document.move({EditKind::arrow, QUuid::createUuid()}, {5, 5});
    document.remove({EditKind::frame, QUuid::createUuid()});

    EXPECT_EQ(changes.count(), 0);
    EXPECT_EQ(document.undoManager()->count(), 0);
    EXPECT_FALSE(document.isDirty());

    ASSERT_TRUE(document.addArrow({0, 0}, {8, 0}));
    ASSERT_TRUE(document.addArrow({-50, -50}, {500, 50}));  // arrows are not clipped
    EXPECT_DOUBLE_EQ(document.arrows()[1].start.x(), -50);

    ASSERT_TRUE(document.addFrame(QRectF(-20, -20, 30, 50)));
    EXPECT_EQ(document.frames()[0].rect, QRectF(0, 0, 10, 30));
    ASSERT_TRUE(document.addFrame(QRectF(60, 50, -40, -20)));  // negative sizes turn positive first
    EXPECT_EQ(document.frames()[1].rect, QRectF(20, 30, 40, 20));
    ASSERT_TRUE(document.addPixelation(QRectF(180.5, 90, 50, -30)));
    EXPECT_EQ(document.pixelations()[0].rect, QRectF(180.5, 60, 19.5, 30));

    const QList<QPointF> points{{10, 10}, {14, 10}, {14, 14}};
    ASSERT_TRUE(document.addHighlight(points));
    EXPECT_EQ(document.highlights()[0].points, points);
}

TEST(EditDocumentTest, CropIsWholePixelsInsideTheImageAndOnlyRealChangesCount) {
    EditDocument document(test::filledImage(50, 40));
    QSignalSpy changes(&document, &EditDocument::changed);

    document.setCrop(QRectF(10.2, 10.7, 50.1, 50.1));  // (10, 10, 51, 51), then cut to the image
    EXPECT_EQ(document.crop(), QRectF(10, 10, 40, 30));
    document.setCrop(QRectF(10, 10, 40, 30));  // the same crop again
    EXPECT_EQ(document.undoManager()->count(), 1);

    document.setCrop(std::nullopt);
    EXPECT_FALSE(document.crop());
    EXPECT_EQ(document.undoManager()->count(), 2);
    EXPECT_EQ(changes.count(), 2);
}

TEST(EditDocumentTest, UndoAndRedoSwapWholeSnapshotsKeepingIdsAndNames) {
    EditDocument document(test::filledImage(300, 200));
    QSignalSpy changes(&document, &EditDocument::changed);
    QUndoStack& undo = *document.undoManager();

    const auto arrow = document.addArrow({10, 10}, {100, 50});
    const auto frame = document.addFrame(QRectF(20, 20, 50, 50));
    ASSERT_TRUE(arrow && frame);
    document.move({EditKind::arrow, *arrow}, {5, -5});
    document.remove({EditKind::frame, *frame});
    EXPECT_EQ(changes.count(), 4);
    EXPECT_EQ(undo.count(), 4);  // one step per change

    undo.undo();
    ASSERT_EQ(document.frames().size(), 1);
    EXPECT_EQ(document.frames()[0].id, *frame);
    undo.undo();
    EXPECT_EQ(document.arrows()[0].start, QPointF(10, 10));
    undo.undo();
    undo.undo();
    EXPECT_FALSE(document.isDirty()) << "back to no annotations";
    EXPECT_EQ(changes.count(), 8);  // undo notifies as well

    undo.redo();
    ASSERT_EQ(document.arrows().size(), 1);
    EXPECT_EQ(document.arrows()[0].id, *arrow);
    undo.redo();
    undo.redo();
    EXPECT_EQ(document.arrows()[0].start, QPointF(15, 5));
    EXPECT_EQ(document.frames()[0].id, *frame);
    EXPECT_EQ(changes.count(), 11);
}

TEST(EditDocumentTest, DirtyComparesAnnotationsWithTheLastSave) {
    EditDocument document(test::filledImage(300, 200));
    QUndoStack& undo = *document.undoManager();

    const auto first = document.addArrow({10, 10}, {100, 50});
    EXPECT_TRUE(document.isDirty());
    undo.undo();
    EXPECT_FALSE(document.isDirty());
    undo.redo();
    document.markSaved();
    EXPECT_FALSE(document.isDirty());
    EXPECT_EQ(undo.count(), 1);  // saving registers nothing, history survives

    document.addArrow({10, 100}, {100, 150});
    EXPECT_TRUE(document.isDirty());
    undo.undo();
    EXPECT_FALSE(document.isDirty());
    undo.undo();  // before the save
    EXPECT_TRUE(document.isDirty());
    undo.redo();
    EXPECT_FALSE(document.isDirty());

    // Moving away and back by hand is two steps but the same annotations: clean.
    document.move({EditKind::arrow, *first}, {3, 0});
    document.move({EditKind::arrow, *first}, {-3, 0});
    EXPECT_FALSE(document.isDirty());
}

TEST(EditDocumentTest, MovesStayInPlaceAndIgnoreZeroOrVanishedItems) {
    EditDocument document(test::filledImage(300, 200));
    const auto a = document.addFrame(QRectF(10, 10, 20, 20));
    const auto b = document.addFrame(QRectF(40, 10, 20, 20));
    const auto c = document.addFrame(QRectF(70, 10, 20, 20));
    ASSERT_TRUE(a && b && c);
    const int steps = document.undoManager()->count();

    document.move({EditKind::frame, *b}, {0, 0});
    document.move({EditKind::arrow, *b}, {5, 5});  // right id, wrong kind
    EXPECT_EQ(document.undoManager()->count(), steps);

    document.move({EditKind::frame, *b}, {-500, 300});  // not limited to the image
    ASSERT_EQ(document.frames().size(), 3);
    EXPECT_EQ(document.frames()[1].id, *b);  // drawing order kept
    EXPECT_EQ(document.frames()[1].rect, QRectF(-460, 310, 20, 20));

    document.remove({EditKind::frame, *b});
    EXPECT_FALSE(document.contains({EditKind::frame, *b}));
    const int afterRemove = document.undoManager()->count();
    document.move({EditKind::frame, *b}, {1, 1});
    document.remove({EditKind::frame, *b});
    EXPECT_EQ(document.undoManager()->count(), afterRemove);
}

TEST(EditDocumentTest, ListenerMayChangeTheDocumentFromInsideOnChange) {
    EditDocument document(test::filledImage(300, 200));
    document.addArrow({10, 10}, {100, 10});
    bool reacted = false;
    QObject::connect(&document, &EditDocument::changed, [&] {
        if (reacted) return;
        reacted = true;
        document.addFrame(QRectF(10, 10, 50, 50));  // while the stack is undoing
    });
    document.undoManager()->undo();
    EXPECT_TRUE(reacted);
    EXPECT_TRUE(document.arrows().isEmpty());
    ASSERT_EQ(document.frames().size(), 1);
    EXPECT_EQ(document.undoManager()->count(), 1);
    document.undoManager()->undo();
    EXPECT_TRUE(document.frames().isEmpty());
}

TEST(EditDocumentTest, HitTestsFindTheTopmostOnItsBand) {
    EditDocument document(test::filledImage(1000, 800));  // frame thickness 6, marker 22

    const auto lower = document.addArrow({100, 100}, {300, 100});
    const auto upper = document.addArrow({200, 50}, {200, 150});
    EXPECT_EQ(document.arrowID({200, 102}, 3), upper);
    EXPECT_EQ(document.arrowID({120, 102}, 3), lower);
    EXPECT_EQ(document.arrowID({120, 104}, 3), std::nullopt);

    const auto big = document.addFrame(QRectF(100, 300, 400, 300));
    EXPECT_EQ(document.frameID({300, 450}, 0), std::nullopt);  // interior
    EXPECT_EQ(document.frameID({100, 450}, 0), big);           // on the border
    EXPECT_EQ(document.frameID({96.5, 450}, 0), std::nullopt);
    EXPECT_EQ(document.frameID({103.1, 450}, 0), std::nullopt);
    EXPECT_EQ(document.frameID({96.5, 450}, 2), big);  // tolerance widens the band
    const auto small = document.addFrame(QRectF(600, 300, 10, 10));
    EXPECT_EQ(document.frameID({605, 305}, 0), std::nullopt);  // a 4 × 4 interior is left
    EXPECT_EQ(document.frameID({605, 305}, 3), small);  // no interior left: hit anywhere inside

    const auto stroke = document.addHighlight({{100, 700}, {300, 700}, {300, 750}});
    EXPECT_EQ(document.highlightID({200, 710.9}, 0), stroke);
    EXPECT_EQ(document.highlightID({200, 711.1}, 0), std::nullopt);
    EXPECT_EQ(document.highlightID({305, 740}, 0), stroke);  // second segment

    const auto below = document.addPixelation(QRectF(700, 100, 100, 100));
    const auto above = document.addPixelation(QRectF(750, 150, 100, 100));
    EXPECT_EQ(document.pixelationID({760, 160}), above);
    EXPECT_EQ(document.pixelationID({710, 110}), below);
    EXPECT_EQ(document.pixelationID({699, 110}), std::nullopt);
}

}  // namespace
}  // namespace quillet
