// The editor's top-level window. It asks its controller before it closes (the close button,
// Ctrl+W and the window manager all come here) and tells it once it did close.
#pragma once

#include <QWidget>

#include <functional>

namespace quillet {

class EditorWindow : public QWidget {
    Q_OBJECT
public:
    explicit EditorWindow(QWidget* parent = nullptr);

    // Answers whether the window may close now; without it, it always may.
    std::function<bool()> shouldClose;
    // After the window was closed.
    std::function<void()> onClosed;

protected:
    void closeEvent(QCloseEvent* event) override;
};

}  // namespace quillet
