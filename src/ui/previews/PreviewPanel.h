// The small floating window that shows one capture's thumbnail at the corner of its display.
// It never takes the keyboard focus and never activates Quillet, so the user can copy, drag or
// close a preview without leaving the program they are working in. While the pointer is over
// it, a dark overlay offers five buttons; the card itself can be dragged out as a file, and a
// double click opens the editor once the capture is stored. The panel only reports what the
// user does (its actions); the preview stack decides what happens.
//
//   auto* panel = new PreviewPanel(thumbnail, compositor.compositingManagerRunning());
//   styling.preparePanel(panel->windowHandle());
//   panel->actions().onCopy = [] { ... };
//   panel->actions().dragFile = [] { return std::optional<QString>(path); };
//   panel->show();
//
// Main thread only.
#pragma once

#include "ui/previews/PreviewContentView.h"

#include <QPoint>
#include <QPointer>
#include <QWidget>

#include <chrono>

class QPropertyAnimation;

namespace quillet {

class PreviewPanel : public QWidget {
    Q_OBJECT
public:
    static constexpr QSize cardSize{210, 150};

    // `roundedCard`: a compositing manager runs, so the card may be translucent.
    PreviewPanel(const QImage& thumbnail, bool roundedCard, QWidget* parent = nullptr);

    PreviewActions& actions() { return contentView->actions; }
    PreviewContentView* content() const { return contentView; }

    void setThumbnail(const QImage& image) { contentView->setThumbnail(image); }
    void setEditEnabled(bool enabled) { contentView->setEditEnabled(enabled); }
    // Pinned shows "pin.fill" with "Открепить", else "pin" with "Закрепить".
    void setPinned(bool pinned) { contentView->setPinned(pinned); }
    void setCopyTitle(const QString& title) { contentView->copyButton->setTitle(title); }
    void showWarning(const QString& text) { contentView->showWarning(text); }
    // Drops every callback, so a panel on its way out reports nothing more.
    void clearCallbacks();

    // Whether the card is drawn rounded and translucent; follows the compositing manager.
    bool hasRoundedCard() const { return roundedCard; }
    void setRoundedCard(bool rounded);

    void fadeIn(std::chrono::milliseconds duration);
    // Moves the window's top-left corner there, animated unless `duration` is zero.
    void moveTo(QPoint topLeft, std::chrono::milliseconds duration);
    QPoint targetPosition() const { return target; }
    // Fades out, then hides and deletes the panel; a drag in progress is allowed to finish.
    void fadeOutAndClose(std::chrono::milliseconds duration);
    void closeNow();
    bool isClosing() const { return closing; }

private:
    void finishClosing();

    bool roundedCard;
    PreviewContentView* contentView = nullptr;
    QPointer<QPropertyAnimation> moveAnimation;
    QPointer<QPropertyAnimation> fadeAnimation;
    QPoint target;
    bool closing = false;
    bool deleteAfterDrag = false;
};

}  // namespace quillet
