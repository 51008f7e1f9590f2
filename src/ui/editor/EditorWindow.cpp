#include "ui/editor/EditorWindow.h"

#include <QCloseEvent>

namespace quillet {

EditorWindow::EditorWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setWindowTitle(QStringLiteral("Редактор"));
}

void EditorWindow::closeEvent(QCloseEvent* event) {
    if (auto ask = shouldClose; ask && !ask()) {
        event->ignore();
        return;
    }
    event->accept();
    if (auto closed = onClosed) closed();
}

}  // namespace quillet
