#pragma once

#include "ui/previews/PreviewActions.h"
#include "ui/previews/WarningLabel.h"
#include "ui/widgets/CircleButton.h"
#include "ui/widgets/PillButton.h"

#include <QImage>
#include <QPixmap>
#include <QWidget>

#include <functional>
#include <optional>

namespace quillet {

class HoverOverlayView;

// The card: thumbnail, overlay with buttons, warning strip; hover, drag and double click.
class PreviewContentView : public QWidget {
    Q_OBJECT
public:
    PreviewContentView(const QImage& thumbnail, bool roundedCard, QWidget* parent);

    PreviewActions actions;
    // Runs after actions.onDragEnded: the panel finishes a close that waited for the drag.
    std::function<void()> afterDrag;

    void setThumbnail(const QImage& image);
    const QImage& thumbnail() const { return thumbnailImage; }
    // Enables the edit button and the double click.
    void setEditEnabled(bool enabled);
    bool editEnabled() const { return editEnabledValue; }
    void setPinned(bool pinned);
    bool isPinned() const { return pinned; }
    void showWarning(const QString& text);
    void setRoundedCard(bool rounded);

    bool isOverlayShown() const;
    bool isDragging() const { return dragging; }

    PillButton* copyButton = nullptr;
    CircleButton* closeButton = nullptr;
    CircleButton* pinButton = nullptr;
    CircleButton* editButton = nullptr;
    CircleButton* fileManagerButton = nullptr;
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

}  // namespace quillet
