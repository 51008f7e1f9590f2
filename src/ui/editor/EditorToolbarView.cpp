#include "ui/editor/EditorToolbarView.h"

#include "ui/editor/EditorToolbarButton.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QPainter>
#include <QPointer>

namespace quillet {

namespace {

struct ToolEntry {
    EditorCanvasView::Tool tool;
    const char16_t* title;
    const char* symbol;
    const char* shortcut;
};

const ToolEntry toolEntries[] = {
    {EditorCanvasView::Tool::arrow, u"Стрелка", "arrow.up.right", "A"},
    {EditorCanvasView::Tool::frame, u"Рамка", "rectangle", "R"},
    {EditorCanvasView::Tool::highlight, u"Маркер", "highlighter", "H"},
    {EditorCanvasView::Tool::pixelation, u"Скрыть", "checkerboard.rectangle", "P"},
    {EditorCanvasView::Tool::crop, u"Кадрировать", "crop", "C"},
};

QWidget* group(QWidget* parent, std::initializer_list<QWidget*> buttons) {
    auto* box = new QWidget(parent);
    auto* layout = new QHBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    for (QWidget* button : buttons) layout->addWidget(button);
    return box;
}

}  // namespace

EditorToolbarView::EditorToolbarView(QWidget* parent) : QWidget(parent) {
    setFixedHeight(height);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    const QPointer<EditorToolbarView> self(this);
    auto make = [&](const QString& title, const char* symbol, const QString& shortcut,
                    std::function<void()> EditorToolbarView::*callback) {
        auto* button = new EditorToolbarButton(title, QString::fromLatin1(symbol), shortcut, this);
        button->onPress = [self, callback] {
            if (!self) return;
            if (auto call = (*self).*callback) call();
        };
        return button;
    };

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(12, 6, 12, 6);
    layout->setSpacing(0);
    for (const ToolEntry& entry : toolEntries) {
        auto* button = new EditorToolbarButton(QString::fromUtf16(entry.title), QString::fromLatin1(entry.symbol),
                                               QString::fromLatin1(entry.shortcut), this);
        const Tool tool = entry.tool;
        button->onPress = [self, tool] {
            if (!self) return;
            if (auto call = self->onTool) call(tool);
        };
        if (!toolButtons.isEmpty()) layout->addSpacing(6);
        layout->addWidget(button);
        toolButtons.append({tool, button});
    }
    layout->addSpacing(12);
    auto* separator = new QFrame(this);
    separator->setFrameShape(QFrame::NoFrame);
    separator->setFixedSize(1, 20);
    separator->setAutoFillBackground(true);
    QPalette lines = separator->palette();
    lines.setColor(QPalette::Window, palette().color(QPalette::Mid));
    separator->setPalette(lines);
    layout->addWidget(separator);
    layout->addSpacing(12);

    undoButton = make(QStringLiteral("Отменить"), "arrow.uturn.backward", QStringLiteral("Ctrl+Z"), &EditorToolbarView::onUndo);
    redoButton = make(QStringLiteral("Повторить"), "arrow.uturn.forward", QStringLiteral("Ctrl+Shift+Z"),
                      &EditorToolbarView::onRedo);
    deleteButton = make(QStringLiteral("Удалить"), "trash", QStringLiteral("Delete"), &EditorToolbarView::onDelete);
    applyButton = make(QStringLiteral("Применить"), "checkmark", QStringLiteral("Enter"), &EditorToolbarView::onApplyCrop);
    cancelButton = make(QStringLiteral("Отмена"), "xmark", QStringLiteral("Esc"), &EditorToolbarView::onCancelCrop);
    copyButton = make(QStringLiteral("Копировать"), "doc.on.doc", QStringLiteral("Ctrl+C"), &EditorToolbarView::onCopy);
    saveButton = make(QStringLiteral("Сохранить"), "square.and.arrow.down", QStringLiteral("Ctrl+S"),
                      &EditorToolbarView::onSave);

    editingGroup = group(this, {undoButton, redoButton, deleteButton});
    croppingGroup = group(this, {applyButton, cancelButton});
    layout->addWidget(editingGroup);
    layout->addWidget(croppingGroup);
    layout->addStretch(1);
    layout->addWidget(copyButton);
    layout->addSpacing(6);
    layout->addWidget(saveButton);

    update(State{});
}

EditorToolbarButton* EditorToolbarView::toolButton(Tool tool) const {
    for (const auto& [buttonTool, button] : toolButtons)
        if (buttonTool == tool) return button;
    return nullptr;
}

void EditorToolbarView::update(const State& state) {
    for (const auto& [tool, button] : toolButtons) {
        const bool active = tool == state.tool;
        if (button->isActive() != active) {
            button->setActive(active);
            button->setAccessibleDescription(active ? QStringLiteral("включено") : button->toolTip());
        }
    }
    undoButton->setEnabledButton(state.canUndo);
    redoButton->setEnabledButton(state.canRedo);
    deleteButton->setEnabledButton(state.canDelete);
    saveButton->setEnabledButton(state.canSave);
    // The two groups take turns in the same place.
    const bool cropping = state.tool == Tool::crop;
    editingGroup->setVisible(!cropping);
    croppingGroup->setVisible(cropping);
}

void EditorToolbarView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
    painter.fillRect(QRect(0, height - 1, width(), 1), palette().color(QPalette::Mid));
}

}  // namespace quillet
