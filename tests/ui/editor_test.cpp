// The editor canvas driven by mouse gestures and keys; the window's save and close rules, with a
// save function the test answers by hand.
#include "ui/editor/EditorCanvasView.h"
#include "ui/editor/EditorToolbarButton.h"
#include "ui/editor/EditorWindowController.h"

#include "support/TestSupport.h"
#include "UiInput.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QUndoStack>

#include <gtest/gtest.h>

using namespace quillet;
using Tool = EditorCanvasView::Tool;

namespace {

QImage checkerImage() {
    QImage image(400, 300, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, ((x / 10 + y / 10) % 2) ? qRgb(240, 240, 240) : qRgb(20, 40, 200));
    return image;
}

// A 400 × 300 image on a canvas that shows it at scale 1 from (16, 16).
struct Fixture {
    EditDocument document{checkerImage()};
    EditorCanvasView canvas{document, 1.0};

    Fixture() {
        canvas.resize(432, 332);
        canvas.show();
    }

    // A drag between two points of the image.
    void drag(QPointF from, QPointF to, int steps = 5) {
        test::drag(&canvas, canvas.viewPoint(from), canvas.viewPoint(to), steps);
    }
    void click(QPointF at) { drag(at, at, 0); }
    bool key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier, quint32 nativeModifiers = 0) {
        return test::key(&canvas, key, modifiers, nativeModifiers);
    }
    int undoSteps() const { return document.undoManager()->count(); }
};

}  // namespace

TEST(EditorCanvas, EachGestureAddsOneSelectedAnnotationAsOneUndoStep) {
    struct Row {
        Tool tool;
        QPointF from, to;
        EditKind kind;
    };
    const Row rows[] = {
        {Tool::arrow, {50, 50}, {200, 120}, EditKind::arrow},
        {Tool::frame, {60, 60}, {20, 20}, EditKind::frame},  // dragged up and left
        {Tool::highlight, {30, 200}, {300, 210}, EditKind::highlight},
        {Tool::pixelation, {100, 100}, {900, 900}, EditKind::pixelation},  // ends past the image's edge
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.tool));
        Fixture f;
        f.canvas.setTool(row.tool);
        f.drag(row.from, row.to, 20);
        EXPECT_EQ(f.undoSteps(), 1);
        ASSERT_TRUE(f.canvas.hasSelectedItem());
        EXPECT_EQ(f.canvas.selectedItem()->kind, row.kind);
    }
    // A gesture too small to be meant leaves no trace.
    Fixture f;
    f.drag({50, 50}, {54, 54});
    EXPECT_EQ(f.undoSteps(), 0);
}

TEST(EditorCanvas, AMoveIsOneUndoStepAndDeletingOrUndoingTheSelectedItemsCreationClearTheSelection) {
    Fixture f;
    f.drag({50, 50}, {200, 50});
    ASSERT_EQ(f.document.arrows().size(), 1);
    const QUuid id = f.document.arrows()[0].id;
    f.drag({120, 50}, {120, -30}, 30);  // from the shaft, past the image's top edge: not held to it
    EXPECT_EQ(f.document.arrows()[0].start, QPointF(50, -30));
    EXPECT_EQ(f.undoSteps(), 2);
    EXPECT_EQ(f.canvas.selectedItem(), (EditItem{EditKind::arrow, id}));
    EXPECT_TRUE(f.key(Qt::Key_Z, Qt::ControlModifier));
    EXPECT_EQ(f.document.arrows()[0].start, QPointF(50, 50));

    EXPECT_TRUE(f.key(Qt::Key_Z, Qt::ControlModifier));
    EXPECT_TRUE(f.document.arrows().isEmpty());
    EXPECT_FALSE(f.canvas.hasSelectedItem());
    EXPECT_TRUE(f.key(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier));
    EXPECT_EQ(f.document.arrows().size(), 1);
    f.click({120, 50});
    ASSERT_TRUE(f.canvas.hasSelectedItem());
    EXPECT_TRUE(f.key(Qt::Key_Delete));
    EXPECT_TRUE(f.document.arrows().isEmpty());
    EXPECT_FALSE(f.canvas.hasSelectedItem());
}

TEST(EditorCanvas, OnlyTheCurrentToolsKindIsHitAndFramesOnlyOnTheirBorder) {
    Fixture f;
    f.canvas.setTool(Tool::frame);
    f.drag({50, 50}, {250, 250});
    ASSERT_EQ(f.document.frames().size(), 1);
    f.click({150, 150});  // the interior starts a new frame (a click: too small, rejected)
    EXPECT_FALSE(f.canvas.hasSelectedItem());
    f.drag({150, 150}, {200, 200});
    EXPECT_EQ(f.document.frames().size(), 2);
    f.click({50, 120});  // the first frame's left border
    ASSERT_TRUE(f.canvas.selectedItem());
    EXPECT_EQ(f.canvas.selectedItem()->id, f.document.frames()[0].id);

    f.canvas.setTool(Tool::arrow);
    f.drag({50, 120}, {50, 10});  // a border, but the arrow tool draws
    EXPECT_EQ(f.document.arrows().size(), 1);
    EXPECT_EQ(f.document.frames()[0].rect, QRectF(50, 50, 200, 200));
}

TEST(EditorCanvas, ToolKeysWorkWithoutModifiersAndCtrlShortcutsAreSwallowedEvenWithNothingToDo) {
    struct Row {
        int key;
        Qt::KeyboardModifiers modifiers;
        quint32 native;
        bool accepted;
        Tool tool;
    };
    const Row rows[] = {
        {Qt::Key_R, Qt::NoModifier, 0, true, Tool::frame},     {Qt::Key_C, Qt::NoModifier, 0, true, Tool::crop},
        {Qt::Key_R, Qt::ShiftModifier, 0, false, Tool::arrow},
        {Qt::Key_R, Qt::NoModifier, 0x2, false, Tool::arrow},  // Caps Lock on
        {Qt::Key_R, Qt::NoModifier, 0x10, true, Tool::frame},  // Num Lock is no modifier
        {Qt::Key_Z, Qt::ControlModifier, 0, true, Tool::arrow}, {Qt::Key_S, Qt::ControlModifier, 0, true, Tool::arrow},
        {Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier, 0, true, Tool::arrow},
        {Qt::Key_C, Qt::ControlModifier, 0, true, Tool::arrow},  // not the crop key
        {Qt::Key_S, Qt::ControlModifier | Qt::AltModifier, 0, false, Tool::arrow},
        {Qt::Key_S, Qt::ControlModifier, 0x2, false, Tool::arrow},
    };
    Fixture f;
    int saves = 0, copies = 0;
    f.canvas.onSave = [&] { ++saves; };
    f.canvas.onCopy = [&] { ++copies; };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.key << " " << row.modifiers.toInt() << " " << row.native);
        f.canvas.setTool(Tool::arrow);
        EXPECT_EQ(f.key(row.key, row.modifiers, row.native), row.accepted);
        EXPECT_EQ(f.canvas.tool(), row.tool);
    }
    EXPECT_EQ(saves, 1);
    EXPECT_EQ(copies, 1);
}

TEST(EditorCanvas, TheImageIsFittedNeverEnlargedAndACropIsProposedUntilReturnAndShownAlone) {
    Fixture f;
    f.canvas.resize(1000, 1000);
    EXPECT_DOUBLE_EQ(f.canvas.scale(), 1.0) << "a large canvas does not enlarge the image";
    f.canvas.resize(232, 332);
    EXPECT_EQ(f.canvas.displayRect(), QRectF(16, 91, 200, 150));
    EXPECT_EQ(f.canvas.imagePoint(QPointF(116, 166)), QPointF(200, 150));
    f.canvas.resize(432, 332);

    // Escape forgets a proposed crop.
    f.canvas.setTool(Tool::crop);
    f.drag({40, 30}, {240, 180});
    EXPECT_EQ(f.canvas.pendingCrop(), QRectF(40, 30, 200, 150));
    EXPECT_FALSE(f.document.crop());

    f.key(Qt::Key_Escape);
    EXPECT_EQ(f.canvas.tool(), Tool::arrow);
    EXPECT_FALSE(f.document.crop());

    f.key(Qt::Key_C);
    f.drag({40, 30}, {240, 180});
    f.drag({240, 180}, {300, 250});  // the bottom-right handle
    f.drag({100, 100}, {80, 90});    // inside: moves the whole rectangle
    f.click({350, 280});             // a click outside keeps the crop
    EXPECT_EQ(f.canvas.pendingCrop(), QRectF(20, 20, 260, 220));
    f.key(Qt::Key_Return);
    EXPECT_EQ(f.document.crop(), QRectF(20, 20, 260, 220));
    EXPECT_EQ(f.undoSteps(), 1);
    // Only the cropped part shows now, as large as it may be.
    EXPECT_EQ(f.canvas.visibleRect(), QRectF(20, 20, 260, 220));
    EXPECT_DOUBLE_EQ(f.canvas.scale(), 1.0);
}

TEST(EditorCanvas, TheScreenShowsWhatTheSavedImageHolds) {
    Fixture f;
    f.canvas.setTool(Tool::pixelation);
    f.drag({0, 0}, {120, 120});
    f.canvas.setTool(Tool::arrow);
    f.drag({150, 150}, {350, 250});
    const QImage shown = f.canvas.grab(f.canvas.displayRect().toRect()).toImage().convertToFormat(QImage::Format_RGB32);
    const QImage saved = f.document.render().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shown.size(), saved.size());
    int differing = 0;
    for (int y = 0; y < saved.height(); ++y)
        for (int x = 0; x < saved.width(); ++x) {
            const QColor a = shown.pixelColor(x, y), b = saved.pixelColor(x, y);
            if (std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue()) > 24)
                ++differing;
        }
    EXPECT_LT(differing, saved.width() * saved.height() / 200) << "more than 0.5 % of the pixels differ";
    // The mosaic really is there: the checkerboard's cells are averaged away.
    EXPECT_NE(shown.pixelColor(5, 5), QColor(20, 40, 200));
}

namespace {

struct WindowFixture {
    struct PendingSave {
        QImage image;
        std::function<void(EditorWindowController::SaveOutcome)> completion;
    };
    std::vector<PendingSave> saves;
    int beeps = 0;
    bool closed = false;
    EditorWindowController* controller;

    WindowFixture() {
        controller = new EditorWindowController(
            Screenshot{QUuid::createUuid(), {}, ScreenshotKind::region, {200, 150}, QStringLiteral("a.png"), {}},
            std::make_unique<EditDocument>(test::filledImage(200, 150)),
            [this](const QImage& edited, const PNGFuture&, std::function<void(EditorWindowController::SaveOutcome)> done) {
                saves.push_back({edited, std::move(done)});
            },
            [](const QImage&, const PNGFuture&) {}, [this] { ++beeps; });
        controller->onClose = [this] { closed = true; };
        controller->show();
    }
    ~WindowFixture() { delete controller; }

    EditDocument& document() { return controller->document(); }
    void edit() { document().addArrow({10, 10}, {150, 100}); }
    bool windowShown() { return controller->window() && controller->window()->isVisible(); }
};

}  // namespace

TEST(EditorWindow, SavingNothingBeepsASecondPressDoesNothingAndAFailureKeepsWindowAndEdits) {
    WindowFixture f;
    f.controller->save();
    EXPECT_EQ(f.beeps, 1);
    EXPECT_TRUE(f.saves.empty());

    f.edit();
    EXPECT_TRUE(f.controller->toolbar()->saveButton->isEnabledButton());
    f.controller->save();
    f.controller->save();
    ASSERT_EQ(f.saves.size(), 1u);
    EXPECT_FALSE(f.controller->toolbar()->saveButton->isEnabledButton()) << "buttons are off while saving";
    EXPECT_FALSE(f.controller->toolbar()->undoButton->isEnabledButton());

    f.saves[0].completion(EditorWindowController::SaveOutcome::failed(QStringLiteral("нет места")));
    test::drainEvents();
    EXPECT_FALSE(f.closed);
    EXPECT_TRUE(f.windowShown());
    EXPECT_TRUE(f.document().isDirty());
    ASSERT_TRUE(f.controller->sheet());
    EXPECT_TRUE(f.controller->sheet()->informativeText().contains(QStringLiteral("нет места")));
    f.controller->sheet()->done(0);
    f.controller->save();
    ASSERT_EQ(f.saves.size(), 2u);
    f.saves[1].completion(EditorWindowController::SaveOutcome::success());
    test::drainEvents();
    EXPECT_TRUE(f.closed);
    EXPECT_FALSE(f.document().isDirty());
}

TEST(EditorWindow, ClosingAsksOnlyWithChangesAndOnceAndDiscardingWritesNothing) {
    {
        WindowFixture f;
        f.controller->window()->close();
        test::drainEvents();
        EXPECT_TRUE(f.closed) << "an unchanged window closes at once";
    }
    WindowFixture f;
    f.edit();
    EXPECT_FALSE(f.controller->window()->close());
    QMessageBox* question = f.controller->sheet();
    ASSERT_TRUE(question);
    EXPECT_FALSE(f.controller->window()->close());
    EXPECT_EQ(f.controller->sheet(), question) << "a second close while the question is up asks nothing more";
    // "Отмена" keeping the window is the application test's.
    for (QAbstractButton* button : question->buttons())
        if (button->text() == QStringLiteral("Не сохранять")) button->click();
    test::drainEvents();
    EXPECT_TRUE(f.closed);
    EXPECT_TRUE(f.saves.empty()) << "nothing is written";
}

TEST(EditorWindow, AnUnappliedCropCountsAsAChange) {
    WindowFixture f;
    EditorCanvasView* canvas = f.controller->canvas();
    canvas->setTool(EditorCanvasView::Tool::crop);
    EXPECT_FALSE(f.controller->toolbar()->saveButton->isEnabledButton());
    test::drag(canvas, canvas->viewPoint({20, 20}), canvas->viewPoint({120, 100}));
    EXPECT_TRUE(f.controller->toolbar()->saveButton->isEnabledButton());
    f.controller->save();
    ASSERT_EQ(f.saves.size(), 1u);
    EXPECT_EQ(f.saves[0].image.size(), QSize(100, 80));
}
