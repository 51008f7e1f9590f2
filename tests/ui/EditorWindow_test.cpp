// The editor window's save and close rules, with the launcher's save function replaced by one
// the test answers by hand.
#include "ui/editor/EditorToolbarButton.h"
#include "ui/editor/EditorWindowController.h"

#include "support/TestSupport.h"
#include "UiInput.h"

#include <QAbstractButton>
#include <QMessageBox>

#include <gtest/gtest.h>

using namespace quillet;

namespace {

struct Fixture {
    struct PendingSave {
        QImage image;
        PNGFuture png;
        std::function<void(EditorWindowController::SaveOutcome)> completion;
    };
    std::vector<PendingSave> saves;
    int copies = 0;
    int beeps = 0;
    bool closed = false;
    EditorWindowController* controller;

    Fixture() {
        QImage image(200, 150, QImage::Format_RGB32);
        image.fill(QColor(30, 160, 90));
        controller = new EditorWindowController(
            Screenshot{QUuid::createUuid(), {}, ScreenshotKind::region, {200, 150}, QStringLiteral("a.png"), {}},
            std::make_unique<EditDocument>(image),
            [this](const QImage& edited, const PNGFuture& png, std::function<void(EditorWindowController::SaveOutcome)> done) {
                saves.push_back({edited, png, std::move(done)});
            },
            [this](const QImage&, const PNGFuture&) { ++copies; }, [this] { ++beeps; });
        controller->onClose = [this] { closed = true; };
        controller->show();
    }
    ~Fixture() { delete controller; }

    EditDocument& document() { return controller->document(); }
    void edit() { document().addArrow({10, 10}, {150, 100}); }
    bool windowShown() { return controller->window() && controller->window()->isVisible(); }
};

}  // namespace

TEST(EditorWindow, SavingNothingBeepsASecondPressDoesNothingAndAFailureKeepsWindowAndEdits) {
    Fixture f;
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
    EXPECT_EQ(f.saves[0].image.size(), QSize(200, 150));
    EXPECT_NE(f.saves[0].image.pixelColor(80, 55), QColor(30, 160, 90)) << "the arrow is in the saved picture";

    f.saves[0].completion(EditorWindowController::SaveOutcome::failed(QStringLiteral("нет места")));
    test::drainEvents();
    EXPECT_FALSE(f.closed);
    EXPECT_TRUE(f.windowShown());
    EXPECT_TRUE(f.document().isDirty());
    ASSERT_TRUE(f.controller->sheet());
    EXPECT_EQ(f.controller->sheet()->text(), QStringLiteral("Снимок не записан в историю"));
    EXPECT_TRUE(f.controller->sheet()->informativeText().contains(QStringLiteral("нет места")));
    f.controller->sheet()->done(0);
    f.controller->save();
    ASSERT_EQ(f.saves.size(), 2u);
    f.saves[1].completion(EditorWindowController::SaveOutcome::success());
    test::drainEvents();
    EXPECT_TRUE(f.closed);
    EXPECT_FALSE(f.document().isDirty());
}

TEST(EditorWindow, ClosingAsksOnlyWithChangesAndCancelKeepsTheWindow) {
    {
        Fixture f;
        f.controller->window()->close();
        test::drainEvents();
        EXPECT_TRUE(f.closed) << "an unchanged window closes at once";
    }
    Fixture f;
    f.edit();
    EXPECT_FALSE(f.controller->window()->close());
    QMessageBox* question = f.controller->sheet();
    ASSERT_TRUE(question);
    EXPECT_EQ(question->windowModality(), Qt::WindowModal);
    EXPECT_FALSE(f.controller->window()->close());
    EXPECT_EQ(f.controller->sheet(), question) << "a second close while the question is up asks nothing more";

    question->escapeButton()->click();  // "Отмена"
    test::drainEvents();
    EXPECT_TRUE(f.windowShown());
    EXPECT_TRUE(f.document().isDirty());

    EXPECT_FALSE(f.controller->window()->close());
    for (QAbstractButton* button : f.controller->sheet()->buttons())
        if (button->text() == QStringLiteral("Не сохранять")) button->click();
    test::drainEvents();
    EXPECT_TRUE(f.closed);
    EXPECT_TRUE(f.saves.empty()) << "nothing is written";
}

TEST(EditorWindow, AnUnappliedCropCountsAsAChange) {
    Fixture f;
    EditorCanvasView* canvas = f.controller->canvas();
    canvas->setTool(EditorCanvasView::Tool::crop);
    EXPECT_FALSE(f.controller->toolbar()->saveButton->isEnabledButton());
    test::drag(canvas, canvas->viewPoint({20, 20}), canvas->viewPoint({120, 100}));
    EXPECT_TRUE(f.controller->toolbar()->saveButton->isEnabledButton());
    f.controller->save();
    ASSERT_EQ(f.saves.size(), 1u);
    EXPECT_EQ(f.saves[0].image.size(), QSize(100, 80));
}
