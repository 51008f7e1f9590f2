// The strip of icon buttons above the editor canvas: the five tools, then undo, redo and delete
// (or, in crop mode, apply and cancel in their place), and copy and save at the right end. It
// holds no editing logic: presses go out through the callbacks and the window pushes the
// enabled and active states in with update().
//
//   EditorToolbarView toolbar;
//   toolbar.onTool = [&](EditorCanvasView::Tool tool) { canvas.setTool(tool); };
//   toolbar.update({canvas.tool(), canUndo, canRedo, canvas.hasSelectedItem(), document.isDirty()});
//
// Main thread only.
#pragma once

#include "ui/editor/EditorCanvasView.h"

#include <QList>
#include <QWidget>

#include <functional>
#include <utility>

namespace quillet {

class EditorToolbarButton;

class EditorToolbarView : public QWidget {
    Q_OBJECT
public:
    using Tool = EditorCanvasView::Tool;
    static constexpr int height = 44;

    struct State {
        Tool tool = Tool::arrow;
        bool canUndo = false;
        bool canRedo = false;
        bool canDelete = false;
        bool canSave = false;
    };

    explicit EditorToolbarView(QWidget* parent = nullptr);

    std::function<void(Tool)> onTool;
    std::function<void()> onUndo;
    std::function<void()> onRedo;
    std::function<void()> onDelete;
    std::function<void()> onApplyCrop;
    std::function<void()> onCancelCrop;
    std::function<void()> onCopy;
    std::function<void()> onSave;

    using QWidget::update;
    void update(const State& state);

    EditorToolbarButton* toolButton(Tool tool) const;
    EditorToolbarButton* undoButton = nullptr;
    EditorToolbarButton* redoButton = nullptr;
    EditorToolbarButton* deleteButton = nullptr;
    EditorToolbarButton* applyButton = nullptr;
    EditorToolbarButton* cancelButton = nullptr;
    EditorToolbarButton* copyButton = nullptr;
    EditorToolbarButton* saveButton = nullptr;
    QWidget* editingGroup = nullptr;
    QWidget* croppingGroup = nullptr;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QList<std::pair<Tool, EditorToolbarButton*>> toolButtons;
};

}  // namespace quillet
