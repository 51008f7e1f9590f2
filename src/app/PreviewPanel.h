// The small floating window that shows one capture's thumbnail at the corner of its display.
// It never takes the keyboard focus and never activates Quillet, so the user can copy, drag or
// close a preview without leaving the program they are working in. While the pointer is over
// it, a dark overlay offers five buttons; the card itself can be dragged out as a file, and a
// double click opens the editor once the capture is stored. The panel only reports what the
// user does; the preview stack decides what happens.
//
//   auto* panel = new PreviewPanel(thumbnail);
//   panel->onCopy = [] { ... };
//   panel->content()->dragFile = [] { return std::optional<QString>(path); };
//   panel->show();
//
// Main thread only.
#pragma once

#include <QAbstractButton>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QPointer>
#include <QWidget>

#include <chrono>
#include <functional>
#include <optional>

class QPropertyAnimation;

namespace quillet {

// Calls a callback through a copy, so the callback may replace or clear itself while it runs.
template <class F, class... Args>
void invokeCallback(const F& callback, Args&&... args) {
    if (F copy = callback) copy(std::forward<Args>(args)...);
}

// A round 21 × 21 button with a glyph, drawn in the shared button colours; disabled, it is
// drawn at 40 % opacity and does not react.
class CircleButton : public QAbstractButton {
    Q_OBJECT
public:
    CircleButton(const QString& symbol, const QString& label, QWidget* parent = nullptr);

    // The glyph and the text of its tooltip and accessible name. A glyph that does not exist
    // leaves the plain circle.
    void setSymbol(const QString& symbol, const QString& label);
    QString symbol() const { return symbolName; }
    QString label() const { return labelText; }

    QSize sizeHint() const override { return {21, 21}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString symbolName;
    QString labelText;
};

// An 86 × 24 pill with a centred title ("Копировать"); its title can change after a click
// while its accessible name stays the first title.
class PillButton : public QAbstractButton {
    Q_OBJECT
public:
    PillButton(const QString& title, QWidget* parent = nullptr);

    void setTitle(const QString& title);
    QString title() const { return titleText; }

    QSize sizeHint() const override { return {86, 24}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString titleText;
};

// The dark veil over the card that holds the buttons. Clicks on the veil itself fall through
// to the card, so the whole card stays draggable.
class HoverOverlayView : public QWidget {
    Q_OBJECT
public:
    HoverOverlayView(bool roundedCard, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool roundedCard;
};

// The red strip along the card's bottom edge that says why a capture was not stored.
class WarningLabel : public QLabel {
    Q_OBJECT
public:
    WarningLabel(bool roundedCard, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool roundedCard;
};

// The card: thumbnail, overlay with buttons, warning strip; hover, drag and double click.
class PreviewContentView : public QWidget {
    Q_OBJECT
public:
    PreviewContentView(const QImage& thumbnail, bool roundedCard, QWidget* parent);

    std::function<void(bool)> onHover;
    std::function<void()> onCopy;
    std::function<void()> onEdit;
    std::function<void()> onClose;
    std::function<void()> onTogglePin;
    std::function<void()> onShowInFinder;
    std::function<void(bool)> onDragEnded;  // true: the destination took the file
    std::function<std::optional<QString>()> dragFile;
    std::function<bool()> historyFileExists;

    void setThumbnail(const QImage& image);
    const QImage& thumbnail() const { return thumbnailImage; }
    // Enables the edit button and the double click.
    void setEditEnabled(bool enabled);
    bool editEnabled() const { return editEnabledValue; }
    void setPinned(bool pinned);
    bool isPinned() const { return pinned; }
    void showWarning(const QString& text);

    bool isOverlayShown() const;
    bool isDragging() const { return dragging; }

    PillButton* copyButton = nullptr;
    CircleButton* closeButton = nullptr;
    CircleButton* pinButton = nullptr;
    CircleButton* editButton = nullptr;
    CircleButton* finderButton = nullptr;
    WarningLabel* warningLabel = nullptr;

    // How far the pointer must move with the button down before the card is dragged.
    static constexpr qreal dragThreshold = 4.0;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    void setOverlayShown(bool shown);
    void layoutWarning();
    void beginDrag(QPointF pressPoint);
    void dragFinished(bool accepted);
    QPixmap dragImage() const;
    const QPixmap& fittedThumbnail();

    bool roundedCard;
    QImage thumbnailImage;
    QPixmap fitted;  // the thumbnail scaled for the card at the current pixel ratio
    bool editEnabledValue = false;
    bool pinned = false;
    HoverOverlayView* overlay = nullptr;
    std::optional<QPointF> mouseDownPoint;
    bool dragging = false;
};

class PreviewPanel : public QWidget {
    Q_OBJECT
public:
    static constexpr QSize cardSize{210, 150};

    explicit PreviewPanel(const QImage& thumbnail, QWidget* parent = nullptr);

    std::function<void(bool)> onHover;
    std::function<void()> onCopy;
    std::function<void()> onEdit;
    std::function<void()> onClose;
    std::function<void()> onTogglePin;
    std::function<void()> onShowInFinder;
    std::function<void(bool)> onDragEnded;

    PreviewContentView* content() const { return contentView; }

    void setThumbnail(const QImage& image) { contentView->setThumbnail(image); }
    void setEditEnabled(bool enabled) { contentView->setEditEnabled(enabled); }
    // Pinned shows "pin.fill" with "Открепить", else "pin" with "Закрепить".
    void setPinned(bool pinned) { contentView->setPinned(pinned); }
    void setCopyTitle(const QString& title) { contentView->copyButton->setTitle(title); }
    void showWarning(const QString& text) { contentView->showWarning(text); }
    // Drops every callback, so a panel on its way out reports nothing more.
    void clearCallbacks();

    // Whether the card is drawn rounded and translucent (a compositing manager runs).
    bool hasRoundedCard() const { return roundedCard; }

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
