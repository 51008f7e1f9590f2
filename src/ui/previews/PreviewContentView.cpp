#include "ui/previews/PreviewContentView.h"

#include "ui/previews/CardShape.h"
#include "ui/previews/HoverOverlayView.h"
#include "ui/widgets/InvokeCallback.h"

#include <QCursor>
#include <QDrag>
#include <QEnterEvent>
#include <QLineF>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QUrl>

namespace quillet {

namespace {

constexpr int buttonMargin = 6;  // 5.5 points, on whole pixels

}  // namespace

PreviewContentView::PreviewContentView(const QImage& thumbnail, bool roundedCard, QWidget* parent)
    : QWidget(parent), roundedCard(roundedCard), thumbnailImage(thumbnail) {
    setFocusPolicy(Qt::NoFocus);

    overlay = new HoverOverlayView(roundedCard, this);
    overlay->hide();
    copyButton = new PillButton(QStringLiteral("Копировать"), overlay);
    closeButton = new CircleButton(QStringLiteral("xmark"), QStringLiteral("Закрыть"), overlay);
    pinButton = new CircleButton(QStringLiteral("pin"), QStringLiteral("Закрепить"), overlay);
    editButton = new CircleButton(QStringLiteral("pencil"), QStringLiteral("Редактировать"), overlay);
    fileManagerButton = new CircleButton(QStringLiteral("folder"), QStringLiteral("Показать в файловом менеджере"), overlay);
    editButton->setEnabled(false);
    fileManagerButton->setEnabled(false);

    connect(copyButton, &QAbstractButton::clicked, this, [this] { invokeCallback(actions.onCopy); });
    connect(closeButton, &QAbstractButton::clicked, this, [this] { invokeCallback(actions.onClose); });
    connect(pinButton, &QAbstractButton::clicked, this, [this] { invokeCallback(actions.onTogglePin); });
    connect(editButton, &QAbstractButton::clicked, this, [this] { invokeCallback(actions.onEdit); });
    connect(fileManagerButton, &QAbstractButton::clicked, this, [this] { invokeCallback(actions.onShowInFileManager); });

    warningLabel = new WarningLabel(roundedCard, this);
    warningLabel->hide();
}

void PreviewContentView::setRoundedCard(bool rounded) {
    if (roundedCard == rounded) return;
    roundedCard = rounded;
    overlay->setRoundedCard(rounded);
    warningLabel->setRoundedCard(rounded);
    update();
}

void PreviewContentView::setThumbnail(const QImage& image) {
    thumbnailImage = image;
    fitted = QPixmap();
    update();
}

void PreviewContentView::setEditEnabled(bool enabled) {
    editEnabledValue = enabled;
    editButton->setEnabled(enabled);
}

void PreviewContentView::setPinned(bool isPinnedNow) {
    pinned = isPinnedNow;
    if (pinned) {
        pinButton->setSymbol(QStringLiteral("pin.fill"), QStringLiteral("Открепить"));
    } else {
        pinButton->setSymbol(QStringLiteral("pin"), QStringLiteral("Закрепить"));
    }
}

void PreviewContentView::showWarning(const QString& text) {
    warningLabel->setText(text);
    warningLabel->show();
    layoutWarning();
}

bool PreviewContentView::isOverlayShown() const { return overlay->isVisibleTo(this); }

void PreviewContentView::setOverlayShown(bool shown) {
    overlay->setVisible(shown);
    if (warningLabel->isVisibleTo(this)) warningLabel->raise();
}

void PreviewContentView::layoutWarning() {
    if (!warningLabel->isVisibleTo(this)) return;
    const int height = std::min(this->height(), warningLabel->heightForWidth(width()));
    warningLabel->setGeometry(0, this->height() - height, width(), height);
    warningLabel->raise();
}

void PreviewContentView::resizeEvent(QResizeEvent*) {
    overlay->setGeometry(rect());
    const int w = width();
    const int h = height();
    const int circle = closeButton->width();
    copyButton->move((w - copyButton->width()) / 2, (h - copyButton->height()) / 2);
    closeButton->move(buttonMargin, buttonMargin);
    pinButton->move(w - buttonMargin - circle, buttonMargin);
    editButton->move(buttonMargin, h - buttonMargin - circle);
    fileManagerButton->move(w - buttonMargin - circle, h - buttonMargin - circle);
    fitted = QPixmap();
    layoutWarning();
}

const QPixmap& PreviewContentView::fittedThumbnail() {
    const qreal ratio = devicePixelRatioF();
    if (thumbnailImage.isNull()) {
        fitted = QPixmap();
    } else if (fitted.isNull() || !qFuzzyCompare(fitted.devicePixelRatio(), ratio)) {
        const QSize pixels = thumbnailImage.size().scaled((QSizeF(size()) * ratio).toSize(), Qt::KeepAspectRatio);
        fitted = QPixmap::fromImage(thumbnailImage.scaled(pixels.expandedTo(QSize(1, 1)), Qt::KeepAspectRatio,
                                                          Qt::SmoothTransformation));
        fitted.setDevicePixelRatio(ratio);
    }
    return fitted;
}

void PreviewContentView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    const QRectF card(rect());
    const QPainterPath shape = CardShape::path(card, roundedCard);
    if (roundedCard) {
        // The window is translucent: start from nothing so the corners stay clear.
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillRect(rect(), Qt::transparent);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter.setClipPath(shape);
    }
    painter.fillRect(card, CardShape::background(roundedCard));
    const QPixmap& image = fittedThumbnail();
    if (!image.isNull()) {
        const QSizeF logical = image.deviceIndependentSize();
        painter.drawPixmap(QPointF((card.width() - logical.width()) / 2, (card.height() - logical.height()) / 2), image);
    }
    painter.setClipping(false);
    QColor border(Qt::white);
    border.setAlphaF(0.25f);
    painter.setPen(QPen(border, 0.5));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(CardShape::path(card.adjusted(0.25, 0.25, -0.25, -0.25), roundedCard));
}

void PreviewContentView::enterEvent(QEnterEvent*) {
    const auto exists = actions.historyFileExists;
    fileManagerButton->setEnabled(exists && exists());
    setOverlayShown(true);
    invokeCallback(actions.onHover, true);
}

void PreviewContentView::leaveEvent(QEvent*) {
    if (dragging) return;  // the overlay stays with the card being dragged
    setOverlayShown(false);
    invokeCallback(actions.onHover, false);
}

void PreviewContentView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) mouseDownPoint = event->position();
    event->accept();
}

void PreviewContentView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        mouseDownPoint = event->position();
        // An unsaved capture has nothing the editor could open yet.
        if (editEnabledValue) invokeCallback(actions.onEdit);
    }
    event->accept();
}

void PreviewContentView::mouseReleaseEvent(QMouseEvent* event) {
    mouseDownPoint.reset();
    event->accept();
}

void PreviewContentView::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
    if (!mouseDownPoint || dragging || !(event->buttons() & Qt::LeftButton)) return;
    if (QLineF(*mouseDownPoint, event->position()).length() < dragThreshold) return;
    beginDrag(*mouseDownPoint);
}

void PreviewContentView::beginDrag(QPointF pressPoint) {
    // One attempt per press: without a file nothing starts until the next press.
    mouseDownPoint.reset();
    const auto supplier = actions.dragFile;
    const std::optional<QString> file = supplier ? supplier() : std::nullopt;
    if (!file) return;

    dragging = true;
    auto* mime = new QMimeData;
    mime->setUrls({QUrl::fromLocalFile(*file)});
    auto* drag = new QDrag(this);
    drag->setMimeData(mime);
    drag->setPixmap(dragImage());
    drag->setHotSpot(pressPoint.toPoint());
    // The platform runs the drag in its own event loop until the drop; the panel may be asked
    // to close meanwhile and waits for the drag (PreviewPanel::finishClosing).
    const QPointer<PreviewContentView> alive(this);
    const Qt::DropAction action = drag->exec(Qt::CopyAction, Qt::CopyAction);
    if (!alive) return;
    dragFinished(action != Qt::IgnoreAction);
}

void PreviewContentView::dragFinished(bool accepted) {
    dragging = false;
    const QWidget* panel = window();
    if (!panel || !panel->frameGeometry().contains(QCursor::pos())) {
        setOverlayShown(false);
        invokeCallback(actions.onHover, false);
    }
    invokeCallback(actions.onDragEnded, accepted);
    invokeCallback(afterDrag);
}

QPixmap PreviewContentView::dragImage() const {
    const qreal ratio = devicePixelRatioF();
    QPixmap image((QSizeF(size()) * ratio).toSize());
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    if (!thumbnailImage.isNull()) {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        const QSizeF fit = QSizeF(thumbnailImage.size()).scaled(QSizeF(size()), Qt::KeepAspectRatio);
        painter.drawImage(QRectF(QPointF((width() - fit.width()) / 2, (height() - fit.height()) / 2), fit), thumbnailImage);
    }
    return image;
}

}  // namespace quillet
