// One icon button of the editor's toolbar: 32 × 32 points, a glyph centred by its visible ink,
// a soft background while hovered or pressed, an accent outline while its tool is active, a
// dimmed glyph when disabled, and for a moment a checkmark after a copy. It fires on release
// inside the button only, so dragging out of a pressed button and letting go does nothing.
//
//   auto* copy = new EditorToolbarButton(QStringLiteral("Копировать"), QStringLiteral("doc.on.doc"),
//                                        QStringLiteral("Ctrl+C"));
//   copy->onPress = [&] { copyImage(); copy->showConfirmation(); };
//
// Main thread only.
#pragma once

#include <QString>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <functional>

namespace quillet {

class EditorToolbarButton : public QWidget {
    Q_OBJECT
public:
    static constexpr int side = 32;
    static constexpr double glyphSize = 17;
    static constexpr std::chrono::milliseconds confirmationDuration{1200};

    // The tooltip is "title — shortcut".
    EditorToolbarButton(const QString& title, const QString& symbolName, const QString& shortcut,
                        QWidget* parent = nullptr);

    std::function<void()> onPress;

    bool isEnabledButton() const { return enabled; }
    void setEnabledButton(bool enabled);
    bool isActive() const { return active; }
    void setActive(bool active);
    bool isHovered() const { return hovered; }
    bool isPressed() const { return pressed; }
    bool isConfirming() const { return confirming; }
    QString title() const { return titleText; }
    QString symbolName() const { return symbol; }

    // Shows a checkmark instead of the glyph for 1.2 seconds; a repeat starts the time anew.
    void showConfirmation();

    QSize sizeHint() const override { return {side, side}; }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    QString titleText;
    QString symbol;
    bool enabled = true;
    bool active = false;
    bool hovered = false;
    bool pressed = false;
    bool confirming = false;
    QTimer confirmationTimer;
};

}  // namespace quillet
